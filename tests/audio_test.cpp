// Audio records become audio tags: PCM passed through, nothing lost.
#include <gtest/gtest.h>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/flv_expect.h"
#include "support/run.h"

namespace {

constexpr std::uint32_t kPiece = 16777212;  // largest whole-sample payload of one tag

TEST(AudioTags, MatchTheExampleByteForByte) {
  RunResult r = runFilter(Capture(10, 10).audio(1000, {0xAA, 0xBB, 0xCC, 0xDD}).end().bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, startLine(10, 10) + "Audio - time:1000 - count:0 - tam:4\n");
  EXPECT_EQ(r.out, cat({flvStart(10, 10), hexBytes("00 00 00 84 08 00 00 05 00 03 E8 00 00 00 00 3F AA BB CC DD"),
                        hexBytes("00 00 00 10")}));
}

struct AudioCase {
  const char* name;
  std::uint32_t time;
  Bytes payload;
};

TEST(AudioTags, ChainPayloadsAndTimesUnchanged) {
  const AudioCase cases[] = {
      {"empty payload", 5, {}},
      {"odd length", 40, {1, 2, 3}},
      {"same time again", 40, randomBytes(7056, 1)},
      {"time 2^24", 1u << 24, {9, 9, 9, 9}},
      {"time 2^24 + 1", (1u << 24) + 1, {8}},
      {"largest time", 0xFFFFFFFF, randomBytes(4, 2)},
  };
  Capture capture(16, 16);
  Bytes expected = flvStart(16, 16);
  std::string err = startLine(16, 16);
  std::uint32_t previous = 132, count = 0;
  for (const auto& c : cases) {
    capture.audio(c.time, c.payload);
    const auto dataSize = static_cast<std::uint32_t>(c.payload.size() + 1);
    expected = cat({expected, tagHeader(previous, 8, dataSize, c.time), Bytes{0x3F}, c.payload});
    err += "Audio - time:" + std::to_string(c.time) + " - count:" + std::to_string(count++) +
           " - tam:" + std::to_string(c.payload.size()) + "\n";
    previous = dataSize + 11;
  }
  RunResult r = runFilter(capture.end().bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.out, cat({expected, be(previous, 4)}));
  EXPECT_TRUE(verifyFlv(r.out.data(), r.out.size()).ok);
}

TEST(AudioTags, AnEmptyPayloadIsATagOfTheHeaderByteAlone) {
  RunResult r = runFilter(Capture(10, 10).audio(0, {}).bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, cat({flvStart(10, 10), hexBytes("00 00 00 84 08 00 00 01 00 00 00 00 00 00 00 3F 00 00 00 0C")}));
}

TEST(AudioTags, ARecordTooBigForOneTagIsSplitNotLost) {
  const Bytes payload = randomBytes(kPiece + 12, 5);
  RunResult r = runFilter(Capture(10, 10).audio(1000, payload).end().bytes());
  ASSERT_EQ(r.status, 0) << r.err;
  // The second piece starts kPiece bytes in: 16,777,212 / 176,400 s later.
  const std::uint32_t secondTime = 1000 + static_cast<std::uint32_t>(std::uint64_t{kPiece} * 1000 / 176400);
  EXPECT_EQ(secondTime, 96108u);
  EXPECT_EQ(r.err, startLine(10, 10) + "Audio - time:1000 - count:0 - tam:16777212\nAudio - time:96108 - count:1 - tam:12\n");
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_EQ(report.tags.size(), 2u);
  EXPECT_EQ(report.tags[0].dataSize, 0xFFFFFDu);
  EXPECT_EQ(report.tags[0].time, 1000u);
  EXPECT_EQ(report.tags[1].dataSize, 13u);
  EXPECT_EQ(report.tags[1].time, secondTime);
  Bytes joined = slice(r.out, report.tags[0].dataOffset + 1, kPiece);
  const Bytes second = slice(r.out, report.tags[1].dataOffset + 1, 12);
  joined.insert(joined.end(), second.begin(), second.end());
  EXPECT_TRUE(joined == payload);
}

TEST(AudioTags, TheSplitTimeWrapsTo32Bits) {
  const Bytes payload(kPiece + 3, 0);  // the smallest record that does not fit one tag
  RunResult r = runFilter(Capture(0, 0).audio(0xFFFFFFF0, payload).bytes());
  ASSERT_EQ(r.status, 0);
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_EQ(report.tags.size(), 2u);
  EXPECT_EQ(report.tags[1].time, 0xFFFFFFF0u + 95108u);  // wrapped: 95092
}

struct CutCase {
  const char* name;
  std::uint32_t declared;
  std::size_t sent;
  std::size_t tagsKept;
};

TEST(AudioTags, ARecordCutShortKeepsItsWholePiecesOnly) {
  const CutCase cases[] = {
      {"nothing of the payload", 4, 0, 0},
      {"half a small record", 400, 200, 0},
      {"a claim of 4 GiB holding 100 bytes", 0xFFFFFFFF, 100, 0},
      {"a claim of 2 GiB holding 100 bytes", 0x7FFFFFFF, 100, 0},
      {"first piece whole, second cut", kPiece + 12, kPiece + 5, 1},
  };
  for (const auto& c : cases) {
    const Bytes payload = randomBytes(c.sent, 9);
    RunOptions options;
    // Memory is bounded by what arrives, never by what a record claims.
    if (!underAddressSanitizer()) options.addressSpaceKiB = 160 * 1024;
    RunResult r = runFilter(Capture(10, 10).audio(0, {1, 2, 3, 4}).record(2, 77, c.declared, payload).bytes(), options);
    EXPECT_EQ(r.status, 1) << c.name;
    const std::string last = "ERRO incompleto - tipo:2 - time:77 - tam:" + std::to_string(c.declared) +
                             " - lidos:" + std::to_string(c.sent) + "\n";
    ASSERT_GE(r.err.size(), last.size()) << c.name;
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << c.name;
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    ASSERT_TRUE(report.ok) << c.name << ": " << report.error;
    ASSERT_EQ(report.tags.size(), 1 + c.tagsKept) << c.name;
    if (c.tagsKept == 1) {
      EXPECT_TRUE(slice(r.out, report.tags[1].dataOffset + 1, kPiece) == slice(payload, 0, kPiece));
    }
  }
}

}  // namespace
