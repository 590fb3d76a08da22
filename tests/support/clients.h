// Real clients of the filter's output, driven through the shell: FFmpeg to
// decode, flvmeta to check.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/run.h"

// Runs a shell command; returns its exit status and standard output.
std::pair<int, std::string> shell(const std::string& command);
bool haveTool(const char* tool);

// What a decoder must give back for a frame of 0rgb pixels: bgr24, rows top to bottom.
Bytes bgr24(const Bytes& pixels);

// Every video frame FFmpeg decodes from the FLV file, in bgr24, one per tag.
// A frame that leaves as several tags with the same time is whole after its
// last one: whole(...) keeps just those. Empty on a decoding failure.
std::vector<Bytes> decodeFrames(const std::string& flvPath, std::uint32_t w, std::uint32_t h);
std::vector<Bytes> wholeFrames(const Bytes& flv, const std::vector<Bytes>& perTag);

// flvmeta --check at level error: empty when it finds nothing, else its report.
std::string flvmetaErrors(const std::string& flvPath);
