// Video records become Screen Video key frame tags, in input order with audio.
#include <gtest/gtest.h>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/flv_expect.h"
#include "support/run.h"

namespace {

TEST(VideoTags, A32x32FrameIsOneTagOfDataSize0C12) {
  RunResult r = runFilter(Capture(32, 32).video(0, randomBytes(4 * 32 * 32, 1)).end().bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, startLine(32, 32) + "Video - time:0 - count:0\n");
  ASSERT_EQ(r.out.size(), 145u + 15 + 0xC12 + 4);
  EXPECT_EQ(slice(r.out, 145, 15), hexBytes("00 00 00 84 09 00 0C 12 00 00 00 00 00 00 00"));
  EXPECT_EQ(slice(r.out, 160, 5), hexBytes("13 10 20 10 20"));
  EXPECT_EQ(slice(r.out, r.out.size() - 4, 4), be(0xC12 + 11, 4));
}

TEST(VideoTags, EmptyFramesAreTheScreenVideoHeaderAlone) {
  RunResult r = runFilter(Capture(0, 16).video(40, {}).video(80, {}).end().bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, cat({flvStart(0, 16), hexBytes("00 00 00 84 09 00 00 05 00 00 28 00 00 00 00 13 10 00 10 10"),
                        hexBytes("00 00 00 10 09 00 00 05 00 00 50 00 00 00 00 13 10 00 10 10 00 00 00 10")}));
}

TEST(VideoTags, InterleaveWithAudioInInputOrder) {
  const Bytes frame = randomBytes(4 * 40 * 35, 2);
  RunResult r = runFilter(Capture(40, 35)
                              .audio(0, {1, 2, 3, 4})
                              .video(0, frame)
                              .video(1u << 24, frame)
                              .audio(30, {5, 6, 7, 8})
                              .video(0xFFFFFFFF, frame)
                              .end()
                              .bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, startLine(40, 35) +
                       "Audio - time:0 - count:0 - tam:4\nVideo - time:0 - count:0\nVideo - time:16777216 - count:1\n"
                       "Audio - time:30 - count:1 - tam:4\nVideo - time:4294967295 - count:2\n");
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_EQ(report.tags.size(), 5u);
  const std::uint8_t types[] = {8, 9, 9, 8, 9};
  const std::uint32_t times[] = {0, 0, 1u << 24, 30, 0xFFFFFFFF};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(report.tags[i].type, types[i]) << i;
    EXPECT_EQ(report.tags[i].time, times[i]) << i;
  }
  EXPECT_EQ(slice(r.out, report.tags[2].dataOffset - 7, 4), hexBytes("00 00 00 01")) << "TimestampExtended";
  // Identical frames are still full key frames each.
  EXPECT_EQ(report.tags[1].dataSize, 5u + 4 * 13 + 3 * 40 * 35);
  EXPECT_EQ(slice(r.out, report.tags[1].dataOffset, report.tags[1].dataSize),
            slice(r.out, report.tags[2].dataOffset, report.tags[2].dataSize));
}

TEST(VideoTags, AWrongSizeRecordAfterGoodFramesKeepsThemAndEndsTheStream) {
  const Bytes frame = randomBytes(4 * 10 * 10, 3);
  const Bytes good = runFilter(Capture(10, 10).video(0, frame).video(40, frame).bytes()).out;
  const std::pair<const char*, Bytes> cases[] = {
      {"ERRO tam:400 != 399\n", Capture(10, 10).video(0, frame).video(40, frame).video(80, Bytes(399)).bytes()},
      {"ERRO incompleto - tipo:1 - time:80 - tam:400 - lidos:399\n",
       Capture(10, 10).video(0, frame).video(40, frame).record(1, 80, 400, Bytes(399)).bytes()},
  };
  for (const auto& [line, input] : cases) {
    RunResult r = runFilter(input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, startLine(10, 10) + "Video - time:0 - count:0\nVideo - time:40 - count:1\n" + line);
    EXPECT_EQ(r.out, good) << "the two good tags and the trailing PreviousTagSize, nothing of the bad record";
  }
}

}  // namespace
