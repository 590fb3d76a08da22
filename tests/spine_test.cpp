// The run control end to end: capture header, FLV start, record checks,
// every way a run can end.
#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/flv_expect.h"
#include "support/run.h"

namespace {

const Bytes kTrailer132 = hexBytes("00 00 00 84");  // the metadata tag's size, after it

TEST(FlvStart, MatchesThe640x480Example) {
  RunResult r = runFilter(Capture(640, 480).end().bytes());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "PROCESSANDO VIDEO: 640x480\n");
  ASSERT_EQ(r.out.size(), 149u);
  EXPECT_EQ(slice(r.out, 0, 24), hexBytes("46 4C 56 01 05 00 00 00 09 00 00 00 00 12 00 00 79 00 00 00 00 00 00 00"));
  EXPECT_EQ(slice(r.out, 24 + 3 + 10 + 1 + 4 + 2 + 5 + 1, 8), hexBytes("40 84 00 00 00 00 00 00"));
  EXPECT_EQ(slice(r.out, 24 + 3 + 10 + 1 + 4 + 16 + 2 + 6 + 1, 8), hexBytes("40 7E 00 00 00 00 00 00"));
  EXPECT_EQ(slice(r.out, 24 + 3 + 10 + 1 + 4 + 16 + 17 + 2 + 12 + 1, 8), hexBytes("40 08 00 00 00 00 00 00"));
  EXPECT_EQ(r.out, cat({flvStart(640, 480), kTrailer132}));
}

struct EndCase {
  const char* name;
  Bytes input;
  int status;
  std::string err;  // the whole of standard error
  Bytes out;        // the whole of standard output
};

TEST(RunEnds, EveryWayARunEndsWithoutTags) {
  const Bytes start10 = cat({flvStart(10, 10), kTrailer132});
  const EndCase cases[] = {
      {"end record", Capture(10, 10).end().bytes(), 0, startLine(10, 10), start10},
      {"input ends after the header", Capture(10, 10).bytes(), 0, startLine(10, 10), start10},
      {"input ends inside a record header", Capture(10, 10).raw({1, 0, 0, 0, 0}).bytes(), 0, startLine(10, 10), start10},
      {"end record with any time and size, bytes after it ignored",
       Capture(10, 10).end(0xFFFFFFFF, 0xFFFFFFFF).raw({7, 7, 7}).video(0, Bytes(400)).bytes(), 0, startLine(10, 10), start10},
      {"empty input gives a 0x0 stream", {}, 0, startLine(0, 0), cat({flvStart(0, 0), kTrailer132})},
      {"short header fills in zeros", {0x80, 0x02, 0x00}, 0, startLine(640, 0), cat({flvStart(640, 0), kTrailer132})},
      {"width and height 0 are accepted", Capture(0, 0).end().bytes(), 0, startLine(0, 0), cat({flvStart(0, 0), kTrailer132})},
      {"largest sides", Capture(4095, 1).end().bytes(), 0, startLine(4095, 1), cat({flvStart(4095, 1), kTrailer132})},
      {"largest frame in a tag", Capture(2560, 2160).end().bytes(), 0, startLine(2560, 2160),
       cat({flvStart(2560, 2160), kTrailer132})},
      {"unknown type", Capture(10, 10).record(7, 40, 0).bytes(), 1, startLine(10, 10) + "ERRO tipo:7 - time:40 - tam:0\n", start10},
      {"type 0 is not an end marker", Capture(10, 10).record(0, 0, 0).end().bytes(), 1,
       startLine(10, 10) + "ERRO tipo:0 - time:0 - tam:0\n", start10},
      {"video record too short", Capture(10, 10).video(0, Bytes(300)).bytes(), 1, startLine(10, 10) + "ERRO tam:400 != 300\n",
       start10},
      {"video record one byte too long, whole frame present", Capture(10, 10).video(0, Bytes(401)).end().bytes(), 1,
       startLine(10, 10) + "ERRO tam:400 != 401\n", start10},
      {"video record cut short", Capture(10, 10).record(1, 0, 400, Bytes(100)).bytes(), 1,
       startLine(10, 10) + "ERRO incompleto - tipo:1 - time:0 - tam:400 - lidos:100\n", start10},
      {"video record with no payload", Capture(10, 10).record(1, 7, 400).bytes(), 1,
       startLine(10, 10) + "ERRO incompleto - tipo:1 - time:7 - tam:400 - lidos:0\n", start10},
  };
  for (const auto& c : cases) {
    RunResult r = runFilter(c.input);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

TEST(CaptureHeader, SizesTheFormatCannotCarryAreRefusedBeforeAnyOutput) {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
      {4096, 16}, {16, 4096}, {3840, 2160}, {4095, 4095}, {0xFFFFFFFF, 0xFFFFFFFF}, {0x10000, 0x10000}, {4096, 0},
  };
  for (auto [w, h] : sizes) {
    RunResult r = runFilter(Capture(w, h).video(0, Bytes(64)).end().bytes());
    const std::string what = std::to_string(w) + "x" + std::to_string(h);
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.err, "ERRO dimensao: " + what + "\n");
    EXPECT_TRUE(r.out.empty()) << what;
  }
}

TEST(Failures, AWriteErrorIsReportedNotHidden) {
  RunOptions options;
  options.stdoutPath = "/dev/full";
  RunResult r = runFilter(Capture(10, 10).end().bytes(), options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, startLine(10, 10) + "ERRO escrita: No space left on device\n");
}

TEST(Failures, AReadErrorIsReportedNotTakenForTheEnd) {
  RunOptions options;
  options.stdinPath = tempDir();  // a directory: read() fails with EISDIR
  RunResult r = runFilter({}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERRO leitura: Is a directory\n");
  EXPECT_TRUE(r.out.empty());
}

TEST(Failures, AnUnallocatableWorkingBufferIsReported) {
  if (underAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  // A 2560x2160 frame codes to 16 MB: more than
  // the few MiB the filter itself needs to start.
  RunOptions options;
  options.addressSpaceKiB = 16 * 1024;
  RunResult r = runFilter(Capture(2560, 2160).end().bytes(), options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, startLine(2560, 2160) + "ERRO memoria: 16659525\n");
  EXPECT_EQ(r.out, cat({flvStart(2560, 2160), kTrailer132}));
}

}  // namespace
