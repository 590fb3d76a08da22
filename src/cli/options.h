// The filter's command line.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

struct Options {
  int level = 0;               // zlib level of every block; 0 stores them
  std::uint32_t keyint = 1;    // a key frame every keyint video frames
  std::uint32_t block = 32;    // block side in pixels
  unsigned threads = 0;        // coding workers; 0: one per available core
  bool quiet = false;          // no start or progress lines
  bool mp3 = false;            // sound as MP3 rather than PCM passed through
  unsigned audioBitrate = 128; // kbit/s, for MP3

  // Today's video, byte for byte: stored 32x32 blocks, every frame a key frame.
  bool classic() const { return level == 0 && keyint == 1 && block == 32; }
};

// What the command line asks for.
struct Parsed {
  enum class Action { Run, Help, Version, Error } action = Action::Run;
  Options options;
  std::string message;  // the error line, without the program name
};

Parsed parseOptions(int argc, const char* const* argv);

// Options chosen by two bytes, so that a fuzzer drives them too (the fuzzing
// build takes them from the front of its input). 0, 0 is the default.
Options optionsFromBytes(std::uint8_t a, std::uint8_t b);

// The usage text --help prints.
const char* usage();

}  // namespace cli
