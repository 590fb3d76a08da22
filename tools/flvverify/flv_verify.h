// Structural check of the filter's output, independent of its code: the FLV
// header, PreviousTagSize0, one onMetaData tag, then whole audio and video
// tags only, each PreviousTagSize equal to 11 + the previous DataSize, and the
// trailing PreviousTagSize of the last tag. Video tags are walked block by
// block: key or inter frames, any block side, every block present either
// empty or as a zlib stream of exactly its pixels; the first is a key frame.
// Empty output is accepted: it is what a refused capture header leaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FlvTag {
  std::uint8_t type = 0;
  std::uint32_t dataSize = 0;
  std::uint32_t time = 0;
  std::size_t dataOffset = 0;  // where Data starts in the checked bytes
};

struct FlvReport {
  bool ok = false;
  bool empty = false;
  std::string error;  // why not ok
  double width = 0, height = 0;
  std::vector<FlvTag> tags;  // after the metadata tag
};

FlvReport verifyFlv(const std::uint8_t* data, std::size_t size);
