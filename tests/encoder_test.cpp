// The Screen Video encoder against zlib itself and a plain reference gather.
#include <gtest/gtest.h>
#include <zlib.h>

#include "flv/fields.h"
#include "screenvideo/encoder.h"
#include "screenvideo/simd.h"
#include "support/capture.h"

namespace {

// The block at block row r (0 = bottom) and column c, gathered the slow,
// obvious way: image rows bottom-up, pixels left to right, blue green red.
Bytes referenceBlock(const Bytes& pixels, std::uint32_t w, std::uint32_t h, std::uint32_t r, std::uint32_t c) {
  Bytes block;
  const int yTop = std::max(0, static_cast<int>(h) - 32 * (static_cast<int>(r) + 1));
  for (int y = static_cast<int>(h) - 1 - 32 * static_cast<int>(r); y >= yTop; --y) {
    for (std::uint32_t x = 32 * c; x < std::min(w, 32 * (c + 1)); ++x) {
      const std::size_t p = 4 * (static_cast<std::size_t>(y) * w + x);
      block.push_back(pixels[p + 3]);
      block.push_back(pixels[p + 2]);
      block.push_back(pixels[p + 1]);
    }
  }
  return block;
}

Bytes encode(const Bytes& pixels, std::uint32_t w, std::uint32_t h) {
  Bytes frame(codedFrameSize(w, h));
  std::int64_t n = createFrameData(pixels.data(), w, h, frame.data(), frame.size());
  EXPECT_EQ(n, static_cast<std::int64_t>(frame.size()));
  return frame;
}

// Walks the coded frame's blocks in order and checks each one against
// compress2 at level 0 of the reference block, and that it inflates back.
void expectBlocksMatchZlib(const Bytes& pixels, std::uint32_t w, std::uint32_t h) {
  const Bytes frame = encode(pixels, w, h);
  std::size_t pos = 5;
  for (std::uint32_t r = 0; r < (h + 31) / 32; ++r) {
    for (std::uint32_t c = 0; c < (w + 31) / 32; ++c) {
      const Bytes block = referenceBlock(pixels, w, h, r, c);
      Bytes zlibOut(compressBound(block.size()));
      uLongf zlibLen = zlibOut.size();
      ASSERT_EQ(compress2(zlibOut.data(), &zlibLen, block.data(), block.size(), 0), Z_OK);
      zlibOut.resize(zlibLen);

      ASSERT_LE(pos + 2, frame.size());
      const std::size_t len = std::size_t{frame[pos]} << 8 | frame[pos + 1];
      ASSERT_LE(pos + 2 + len, frame.size());
      const Bytes ours = slice(frame, pos + 2, len);
      EXPECT_EQ(ours, zlibOut) << w << "x" << h << " block row " << r << " column " << c;

      Bytes back(block.size());
      uLongf backLen = back.size();
      ASSERT_EQ(uncompress(back.data(), &backLen, ours.data(), ours.size()), Z_OK);
      back.resize(backLen);
      EXPECT_EQ(back, block) << w << "x" << h << " block row " << r << " column " << c;
      pos += 2 + len;
    }
  }
  EXPECT_EQ(pos, frame.size());
}

TEST(Encoder, BlocksAreByteIdenticalToCompress2AtLevel0) {
  // 65x40: full 32x32 blocks, a 1-pixel right column, an 8-line top row and
  // their corner; 1x1; sizes that are exact multiples of the block.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{65, 40}, {1, 1}, {32, 32}, {64, 96}, {33, 65}, {31, 1}};
  std::uint32_t seed = 1;
  for (auto [w, h] : sizes) expectBlocksMatchZlib(randomBytes(std::size_t{4} * w * h, seed++), w, h);
  // Every block width, through the vector gather and its scalar tail.
  for (std::uint32_t w = 1; w <= 33; ++w) expectBlocksMatchZlib(randomBytes(std::size_t{4} * w * 3, seed++), w, 3);
}

TEST(Encoder, VectorAndPortableGatherAgreeAtEveryWidth) {
  const Bytes row = randomBytes(4 * 32, 12);
  for (std::uint32_t width = 0; width <= 32; ++width) {
    // Both may spill a few bytes past the row; compare only the row.
    Bytes fast(3 * 32 + kGatherOverrun, 0), plain(3 * 32 + kGatherOverrun, 0);
    gatherRow(row.data(), fast.data(), width);
    gatherRowPortable(row.data(), plain.data(), width);
    EXPECT_TRUE(slice(fast, 0, 3 * width) == slice(plain, 0, 3 * width)) << width;
  }
}

TEST(Encoder, BlockChecksumEqualsZlibsAdler32AtEveryLength) {
  // All 0xFF drives every partial sum to its largest value.
  const Bytes ones(3072, 0xFF);
  const Bytes noise = randomBytes(3072, 11);
  for (std::size_t n = 0; n <= 3072; ++n) {
    for (const Bytes* data : {&ones, &noise}) {
      ASSERT_EQ(blockAdler32(data->data(), n), adler32(1, data->data(), static_cast<uInt>(n))) << n;
    }
  }
}

TEST(Encoder, A32x32FrameIsOneFullBlock) {
  const Bytes frame = encode(randomBytes(4 * 32 * 32, 7), 32, 32);
  ASSERT_EQ(frame.size(), 3090u);
  EXPECT_EQ(slice(frame, 0, 14), hexBytes("13 10 20 10 20  0C 0B  78 01 01 00 0C FF F3"));
}

TEST(Encoder, A1x1FrameKeepsBlueGreenRed) {
  const Bytes frame = encode({0x11, 0x22, 0x33, 0x44}, 1, 1);
  ASSERT_EQ(frame.size(), 21u);
  EXPECT_EQ(slice(frame, 0, 17), hexBytes("13 10 01 10 01  00 0E  78 01 01 03 00 FC FF  44 33 22"));
}

TEST(Encoder, The40x35ExampleCodesBottomRowFirst) {
  const Bytes pixels = randomBytes(4 * 40 * 35, 3);
  const Bytes frame = encode(pixels, 40, 35);
  EXPECT_EQ(frame.size(), 5u + 4 * 13 + 3 * 40 * 35);
  EXPECT_EQ(slice(frame, 0, 5), hexBytes("13 10 28 10 23"));
  std::size_t pos = 5;
  const std::size_t dataSizes[] = {3072, 768, 288, 72};
  for (std::size_t n : dataSizes) {
    EXPECT_EQ((std::size_t{frame[pos]} << 8 | frame[pos + 1]), n + 11);
    pos += 2 + n + 11;
  }
  // The third block is the short top row: image rows 2 down to 0.
  EXPECT_EQ(slice(frame, 5 + 2 * 13 + 3072 + 768 + 2 + 7, 288), referenceBlock(pixels, 40, 35, 1, 0));
}

TEST(Encoder, EmptyFramesAreTheHeaderAlone) {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{0, 0}, {0, 35}, {40, 0}};
  for (auto [w, h] : sizes) {
    Bytes frame(16, 0xEE);
    EXPECT_EQ(createFrameData(nullptr, w, h, frame.data(), frame.size()), 5);
    EXPECT_EQ(frame[0], 0x13);
    EXPECT_EQ(frame[5], 0xEE) << "nothing past the header";
  }
}

TEST(Encoder, CodedFrameSizeHoldsForTheLargestSides) {
  EXPECT_EQ(codedFrameSize(0xFFFFFFFF, 1), 5 + 13 * std::uint64_t{0x8000000} + 3 * std::uint64_t{0xFFFFFFFF});
  EXPECT_EQ(codedFrameSize(40, 35), 5u + 4 * 13 + 3 * 40 * 35);
}

TEST(Encoder, RefusesABufferTooSmallAndWritesNothing) {
  const Bytes pixels = randomBytes(4 * 40 * 35, 4);
  Bytes frame(codedFrameSize(40, 35) - 1, 0xEE);
  EXPECT_EQ(createFrameData(pixels.data(), 40, 35, frame.data(), frame.size()), -1);
  EXPECT_EQ(frame, Bytes(frame.size(), 0xEE));
}

TEST(Encoder, HeaderCarriesTheLow12BitsOfEachSide) {
  // The filter refuses wider captures, but the encoder itself must still
  // follow the format: 12 bits a side, block size code 1.
  const Bytes pixels(4 * 4095, 0);
  const Bytes frame = encode(pixels, 4095, 1);
  EXPECT_EQ(slice(frame, 0, 5), hexBytes("13 1F FF 10 01"));
}

}  // namespace
