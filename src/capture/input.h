// The capture stream on standard input: its layout and the one way to read it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture {

constexpr std::size_t kHeaderSize = 8;        // width, height: 4 bytes each
constexpr std::size_t kRecordHeaderSize = 9;  // type, time, size
constexpr std::uint8_t kVideoRecord = 1;
constexpr std::uint8_t kAudioRecord = 2;
constexpr std::uint8_t kEndRecord = 255;

// Everything in the capture stream is little-endian.
inline std::uint32_t readLE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace capture

// Reads up to n bytes into dst, stopping early only at the end of the input,
// on an error, or when a stop signal ends the reading (see waitForInput;
// stopRequests() then tells). Standard output is flushed first, so every tag
// has left before the filter waits for the producer. Input in non-blocking
// mode is waited for, never an error. Returns the number of bytes read.
std::size_t readInput(std::uint8_t* dst, std::size_t n);

// errno of the first failed read, 0 if none.
int inputErrno();

// Where the stream comes from (standard input unless a test says otherwise).
void resetInput(int fd);

// Asks the kernel for a larger pipe when standard input is one.
void enlargeInputPipe();
