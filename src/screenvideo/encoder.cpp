#include "screenvideo/encoder.h"

#include "flv/fields.h"
#include "screenvideo/simd.h"

namespace {

using screenvideo::kBlockSide;

constexpr std::uint16_t kBlockSizeCode32 = 1 << 12;  // (32 / 16 - 1) in bits 15-12

// zlib wrapper for level 0: CMF 0x78 (deflate, 32K window), FLG 0x01
// (FLEVEL 0, FCHECK making 0x7801 a multiple of 31). This is what
// compress2(..., 0) writes, and decoders only care that it is valid.
constexpr std::uint8_t kZlibCmf = 0x78;
constexpr std::uint8_t kZlibFlgLevel0 = 0x01;
constexpr std::uint8_t kStoredFinalBlock = 0x01;  // BFINAL 1, BTYPE 00

// Rounds up without overflowing for the largest 32-bit sides.
std::uint32_t blockCount(std::uint32_t pixels) { return pixels / kBlockSide + (pixels % kBlockSide != 0 ? 1 : 0); }

// Writes one block entry (DataSize, then a stored zlib stream of the block's
// pixels, image rows bottom-up) at out and returns its length.
std::size_t writeBlock(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t x0,
                       std::uint32_t yBottom, std::uint32_t bw, std::uint32_t bh,
                       std::uint8_t* out) {
  const auto n = static_cast<std::uint32_t>(screenvideo::kBytesPerCodedPixel * bw * bh);  // at most 3072
  const auto packed = static_cast<std::uint32_t>(n + screenvideo::kBlockOverhead - 2);  // the zlib stream
  putBE(out, packed, 2);
  out[2] = kZlibCmf;
  out[3] = kZlibFlgLevel0;
  out[4] = kStoredFinalBlock;
  // The stored block's LEN and NLEN are little-endian, unlike everything
  // else around them.
  out[5] = static_cast<std::uint8_t>(n);
  out[6] = static_cast<std::uint8_t>(n >> 8);
  out[7] = static_cast<std::uint8_t>(~n);
  out[8] = static_cast<std::uint8_t>(~n >> 8);
  std::uint8_t* data = out + 9;
  const std::size_t rowBytes = screenvideo::kBytesPerCodedPixel * bw;
  for (std::uint32_t k = 0; k < bh; ++k) {
    const std::size_t y = yBottom - k;
    gatherRow(pixelData + screenvideo::kBytesPerInputPixel * (y * w + x0), data + k * rowBytes, bw);
  }
  // Rows spill a few bytes past their end (see gatherRow); the next row, or
  // the checksum here, covers them.
  putBE(data + n, blockAdler32(data, n), 4);
  return 2 + packed;
}

}  // namespace

std::uint64_t codedFrameSize(std::uint32_t w, std::uint32_t h) {
  const std::uint64_t blocks = std::uint64_t{blockCount(w)} * blockCount(h);
  return screenvideo::kFrameHeaderSize + screenvideo::kBlockOverhead * blocks +
         screenvideo::kBytesPerCodedPixel * std::uint64_t{w} * h;
}

std::uint32_t bandCount(std::uint32_t h) { return blockCount(h); }

std::uint32_t bandRows(std::uint32_t h, std::uint32_t k) {
  return k == 0 ? h - kBlockSide * (bandCount(h) - 1) : kBlockSide;
}

void writeFrameHeader(std::uint32_t w, std::uint32_t h, std::uint8_t* frameData) {
  frameData[0] = screenvideo::kKeyFrameScreenVideo;
  putBE(frameData + 1, kBlockSizeCode32 | (w & screenvideo::kMaxImageSide), 2);
  putBE(frameData + 3, kBlockSizeCode32 | (h & screenvideo::kMaxImageSide), 2);
}

void codeBands(const std::uint8_t* pixels, std::uint32_t w, std::uint32_t h, std::uint32_t first, std::uint32_t last,
               std::uint8_t* frameData) {
  const std::size_t fullRowBytes =
      screenvideo::kBlockOverhead * blockCount(w) + screenvideo::kBytesPerCodedPixel * std::size_t{w} * kBlockSide;
  const std::size_t inputRowBytes = screenvideo::kBytesPerInputPixel * std::size_t{w};
  for (std::uint32_t k = first; k < last; ++k) {
    // Block row r counts from the bottom; every row below it is a full one.
    const std::uint32_t r = bandCount(h) - 1 - k;
    const std::uint32_t bh = bandRows(h, k);
    std::size_t pos = screenvideo::kFrameHeaderSize + r * fullRowBytes;
    for (std::uint32_t x0 = 0; x0 < w; x0 += kBlockSide) {
      const std::uint32_t bw = w - x0 < kBlockSide ? w - x0 : kBlockSide;
      pos += writeBlock(pixels, w, x0, bh - 1, bw, bh, frameData + pos);
    }
    pixels += bh * inputRowBytes;
  }
}

std::int64_t createFrameData(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t h,
                             std::uint8_t* frameData, std::size_t frameDataSize) {
  const std::uint64_t total = codedFrameSize(w, h);
  if (total > frameDataSize) return -1;
  writeFrameHeader(w, h, frameData);
  codeBands(pixelData, w, h, 0, bandCount(h), frameData);
  return static_cast<std::int64_t>(total);
}
