#include "screenvideo/encoder.h"

#include "flv/fields.h"
#include "screenvideo/simd.h"

namespace {

using screenvideo::kBlockSide;

constexpr std::uint8_t kKeyFrameScreenVideo = 0x13;  // FrameType 1 (key), CodecID 3
constexpr std::uint16_t kBlockSizeCode32 = 1 << 12;  // (32 / 16 - 1) in bits 15-12

// zlib wrapper for level 0: CMF 0x78 (deflate, 32K window), FLG 0x01
// (FLEVEL 0, FCHECK making 0x7801 a multiple of 31). This is what
// compress2(..., 0) writes, and decoders only care that it is valid.
constexpr std::uint8_t kZlibCmf = 0x78;
constexpr std::uint8_t kZlibFlgLevel0 = 0x01;
constexpr std::uint8_t kStoredFinalBlock = 0x01;  // BFINAL 1, BTYPE 00

std::uint32_t blockCount(std::uint32_t pixels) { return (pixels + kBlockSide - 1) / kBlockSide; }

// Writes one block entry (DataSize, then a stored zlib stream of the block's
// pixels, image rows bottom-up) at out and returns its length.
std::size_t writeBlock(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t x0,
                       std::uint32_t yBottom, std::uint32_t bw, std::uint32_t bh,
                       std::uint8_t* out) {
  const auto n = static_cast<std::uint32_t>(screenvideo::kBytesPerCodedPixel * bw * bh);  // at most 3072
  const std::uint32_t packed = n + 11;
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

std::int64_t createFrameData(const std::uint8_t* pixelData, std::uint32_t w, std::uint32_t h,
                             std::uint8_t* frameData, std::size_t frameDataSize) {
  const std::uint64_t total = codedFrameSize(w, h);
  if (total > frameDataSize) return -1;

  frameData[0] = kKeyFrameScreenVideo;
  putBE(frameData + 1, kBlockSizeCode32 | (w & screenvideo::kMaxImageSide), 2);
  putBE(frameData + 3, kBlockSizeCode32 | (h & screenvideo::kMaxImageSide), 2);
  std::size_t pos = screenvideo::kFrameHeaderSize;

  // Block rows from the bottom of the image up, blocks left to right; the
  // short row, if any, is the top one.
  const std::uint32_t rows = blockCount(h);
  const std::uint32_t cols = blockCount(w);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint32_t yBottom = h - 1 - kBlockSide * r;
    const std::uint32_t bh = yBottom + 1 < kBlockSide ? yBottom + 1 : kBlockSide;
    for (std::uint32_t c = 0; c < cols; ++c) {
      const std::uint32_t x0 = kBlockSide * c;
      const std::uint32_t bw = w - x0 < kBlockSide ? w - x0 : kBlockSide;
      pos += writeBlock(pixelData, w, x0, yBottom, bw, bh, frameData + pos);
    }
  }
  return static_cast<std::int64_t>(pos);
}
