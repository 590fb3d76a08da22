// Screen Video (FLV video codec 3) key frame encoder.
//
// Every frame is a key frame in which every 32x32 block is present, each
// packed as a complete zlib stream at compression level 0 (stored, not
// compressed). The cost per frame is a gather of pixels and an Adler-32.
#pragma once

#include <cstddef>
#include <cstdint>

namespace screenvideo {

constexpr std::uint32_t kBlockSide = 32;
constexpr std::uint32_t kMaxImageSide = 0xFFF;  // the frame header holds 12 bits
constexpr std::size_t kFrameHeaderSize = 5;
// Per block: a 2-byte DataSize, then zlib's 2-byte header, the 5-byte header
// of one stored deflate block and the 4-byte Adler-32 around the data.
constexpr std::size_t kBlockOverhead = 2 + 2 + 5 + 4;
constexpr std::size_t kBytesPerInputPixel = 4;
constexpr std::size_t kBytesPerCodedPixel = 3;

}  // namespace screenvideo

// Exact length of a coded frame of w x h pixels, computed in 64 bits:
// 5 + 13 * ceil(w/32) * ceil(h/32) + 3 * w * h.
std::uint64_t codedFrameSize(std::uint32_t w, std::uint32_t h);

// Codes the w x h frame in pixelData (4 bytes a pixel, top row first: an
// ignored byte, red, green, blue) into frameData as one Screen Video key frame.
// Returns the number of bytes written, or -1 when frameDataSize cannot hold
// the frame (nothing is written then).
std::int64_t createFrameData(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t h,
                             std::uint8_t* frameData, std::size_t frameDataSize);
