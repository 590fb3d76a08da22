// Screen Video (FLV video codec 3) key frame encoder.
//
// Every frame is a key frame in which every 32x32 block is present, each
// packed as a complete zlib stream at compression level 0 (stored, not
// compressed). The cost per frame is a gather of pixels and an Adler-32.
//
// A frame arrives top row first but Screen Video lists its block rows bottom
// first. Every block's place in the coded frame follows from w and h alone,
// so a band of 32 image rows (one block row) can be coded the moment it has
// arrived, while its pixels are still in cache; the run control does exactly
// that. createFrameData codes a whole frame held in memory the same way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace screenvideo {

constexpr std::uint32_t kBlockSide = 32;
// The VIDEODATA byte: FrameType in bits 7-4 (1 key, 2 inter), CodecID 3.
constexpr std::uint8_t kKeyFrameScreenVideo = 0x13;
constexpr std::uint8_t kInterFrameScreenVideo = 0x23;
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

// Number of bands (block rows) of a frame h pixels high.
std::uint32_t bandCount(std::uint32_t h);

// Image rows in band k, counted from the top: the top band holds what is left
// over once the bands below it have 32 rows each.
std::uint32_t bandRows(std::uint32_t h, std::uint32_t k);

// Writes the 5-byte frame header at frameData.
void writeFrameHeader(std::uint32_t w, std::uint32_t h, std::uint8_t* frameData);

// Codes bands first to last - 1 (counted from the top) of a w x h frame, whose
// pixels start at pixels (the top row of band first, 4 bytes a pixel), each
// into its place in frameData, which must hold codedFrameSize(w, h) bytes.
void codeBands(const std::uint8_t* pixels, std::uint32_t w, std::uint32_t h, std::uint32_t first, std::uint32_t last,
               std::uint8_t* frameData);

// Codes the whole w x h frame in pixelData (4 bytes a pixel, top row first:
// an ignored byte, red, green, blue) into frameData as one Screen Video key
// frame. Returns the number of bytes written, or -1 when frameDataSize cannot
// hold the frame (nothing is written then).
std::int64_t createFrameData(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t h,
                             std::uint8_t* frameData, std::size_t frameDataSize);
