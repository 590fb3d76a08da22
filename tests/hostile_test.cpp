// Hostile captures: lying sizes, wrapping products, garbage headers, streams
// cut at every byte. Nothing may crash the filter, corrupt its output or make
// it ask for memory the capture header does not justify.
#include <gtest/gtest.h>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/run.h"
#include "support/run_rules.h"

namespace {

// Every case runs in 400 MiB of address space: far more than any capture
// header we accept justifies, far less than a lying size would ask for.
RunResult runBounded(const Bytes& input) {
  RunOptions options;
  if (!underAddressSanitizer()) options.addressSpaceKiB = 400 * 1024;
  return runFilter(input, options);
}

struct HostileCase {
  const char* name;
  Bytes input;
  int status;
  std::string lastLine;  // the last line on standard error
};

std::string lastLine(const std::string& err) {
  const std::size_t end = err.size() > 0 && err.back() == '\n' ? err.size() - 1 : err.size();
  const std::size_t start = err.rfind('\n', end == 0 ? 0 : end - 1);
  return err.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

TEST(Hostile, LyingSizesWrappingProductsAndGarbageHeaders) {
  const Bytes ten(10, 0x5A);
  const HostileCase cases[] = {
      {"video size 0xFFFFFFFF", Capture(10, 10).record(1, 0, 0xFFFFFFFF, ten).bytes(), 1, "ERRO tam:400 != 4294967295"},
      {"video size 0x7FFFFFFF", Capture(10, 10).record(1, 0, 0x7FFFFFFF, ten).bytes(), 1, "ERRO tam:400 != 2147483647"},
      {"audio size 0xFFFFFFFF", Capture(10, 10).record(2, 3, 0xFFFFFFFF, ten).bytes(), 1,
       "ERRO incompleto - tipo:2 - time:3 - tam:4294967295 - lidos:10"},
      {"audio size 0x7FFFFFFF", Capture(10, 10).record(2, 3, 0x7FFFFFFF, ten).bytes(), 1,
       "ERRO incompleto - tipo:2 - time:3 - tam:2147483647 - lidos:10"},
      {"width 4095, height 1", Capture(4095, 1).video(0, randomBytes(4 * 4095, 1)).end().bytes(), 0,
       "Video - time:0 - count:0"},
      {"width 4095, height 1, frame cut", Capture(4095, 1).record(1, 0, 4 * 4095, ten).bytes(), 1,
       "ERRO incompleto - tipo:1 - time:0 - tam:16380 - lidos:10"},
      {"width 4095, height 0", Capture(4095, 0).video(0, {}).end().bytes(), 0, "Video - time:0 - count:0"},
      {"4 x w x h wraps to 0", Capture(65536, 16384).video(0, {}).bytes(), 1, "ERRO dimensao: 65536x16384"},
      {"w x h wraps to 0", Capture(65536, 65536).video(0, {}).bytes(), 1, "ERRO dimensao: 65536x65536"},
      {"4 x w x h wraps to one small frame", Capture(0x40000001, 1).video(0, randomBytes(4, 2)).bytes(), 1,
       "ERRO dimensao: 1073741825x1"},
      {"header of all 0xFF", Bytes(64, 0xFF), 1, "ERRO dimensao: 4294967295x4294967295"},
      {"thin and tall", Capture(1, 4096).bytes(), 1, "ERRO dimensao: 1x4096"},
      {"many empty audio records", [] {
         Capture c(2, 2);
         for (std::uint32_t i = 0; i < 5000; ++i) c.audio(i, {});
         return c.end().bytes();
       }(),
       0, "Audio - time:4999 - count:4999 - tam:0"},
  };
  for (const auto& c : cases) {
    RunResult r = runBounded(c.input);
    EXPECT_EQ(brokenRunRule(r), "") << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(lastLine(r.err), c.lastLine) << c.name;
  }
}

TEST(Hostile, AStreamCutAtEveryByteEndsCleanlyOrReportsTheCut) {
  Capture full(5, 3);
  std::vector<std::pair<std::size_t, std::size_t>> payloads;  // [start, end) of each payload
  auto mark = [&](std::size_t payloadSize) {
    payloads.emplace_back(full.bytes().size() - payloadSize, full.bytes().size());
  };
  full.video(0, randomBytes(60, 1));
  mark(60);
  full.audio(20, randomBytes(9, 2));
  mark(9);
  full.video(40, randomBytes(60, 3));
  mark(60);
  full.end();
  const Bytes& bytes = full.bytes();
  const RunResult whole = runBounded(bytes);
  ASSERT_EQ(whole.status, 0);
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    RunResult r = runBounded(slice(bytes, 0, cut));
    ASSERT_EQ(brokenRunRule(r), "") << "cut at " << cut;
    bool insidePayload = false;
    for (auto [start, end] : payloads) insidePayload |= cut > start && cut < end;
    // A payload holding the first byte but not the last is cut short; the
    // stream may also stop before a payload of which nothing was sent.
    for (auto [start, end] : payloads) insidePayload |= cut == start && start != end;
    EXPECT_EQ(r.status, insidePayload ? 1 : 0) << "cut at " << cut << ": " << r.err;
    // Whatever was whole before the cut is there, byte for byte.
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    const FlvReport wholeReport = verifyFlv(whole.out.data(), whole.out.size());
    ASSERT_LE(report.tags.size(), wholeReport.tags.size());
    if (!report.tags.empty()) {
      const auto& last = report.tags.back();
      EXPECT_TRUE(slice(r.out, 0, last.dataOffset + last.dataSize) ==
                  slice(whole.out, 0, last.dataOffset + last.dataSize))
          << "cut at " << cut;
    }
  }
}

}  // namespace
