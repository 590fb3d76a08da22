// The inner loops of the encoders, with x86 SIMD versions picked at run
// time and portable fallbacks for every other machine.
#pragma once

#include <cstddef>
#include <cstdint>

// Appends one image row of a block: each pixel's blue, green, red (stream
// bytes 3, 2, 1). May write up to 4 bytes past dst + 3 * width: the caller
// keeps that room and fills it afterwards.
void gatherRow(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width);

// The plain loop every machine can run; gatherRow uses it where no SIMD
// version applies and for the tail of each row.
void gatherRowPortable(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width);

// True when the rows of pixels at a and b show the same picture: red, green
// and blue match; the first byte of each pixel is ignored, as decoders do.
bool samePixels(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t pixels);
bool samePixelsPortable(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t pixels);

// Adler-32 of a block of at most 3,072 bytes, as zlib's adler32(1, ...) gives it.
std::uint32_t blockAdler32(const std::uint8_t* data, std::size_t n);

constexpr std::size_t kGatherOverrun = 4;
constexpr std::size_t kMaxAdlerBlock = 5552;  // zlib's NMAX: no reduction needed below it
