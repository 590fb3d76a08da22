// capmux, the companion producer: synthetic screens, packed frames and
// sound, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/run.h"

namespace {

RunResult capmux(const std::vector<std::string>& args, const Bytes& input = {}) {
  RunOptions options;
  options.args = args;
  return runProgram(CAPMUX_PATH, input, options);
}

// Splits a capture stream into its records, checking its framing on the way.
std::vector<CaptureRecord> records(const Bytes& stream) {
  bool whole = false;
  auto out = captureRecords(stream, whole);
  EXPECT_TRUE(whole) << "the capture stream ends inside a record";
  return out;
}

TEST(Capmux, SyntheticScreenConvertsToFramesWithSound) {
  RunResult produced = capmux({"--size", "64x48", "--fps", "10", "--seconds", "2"});
  ASSERT_EQ(produced.status, 0) << produced.err;
  RunResult r = runFilter(produced.out);
  ASSERT_EQ(r.status, 0) << r.err;
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_TRUE(report.ok) << report.error;
  std::size_t frames = 0, soundBytes = 0;
  std::uint32_t lastTime = 0;
  for (const auto& tag : report.tags) {
    EXPECT_GE(tag.time, lastTime) << "records go out in time order";
    lastTime = tag.time;
    if (tag.type == 9) ++frames;
    if (tag.type == 8) soundBytes += tag.dataSize - 1;
  }
  EXPECT_EQ(frames, 20u);
  EXPECT_EQ(soundBytes, 2u * 44100 * 4);
  EXPECT_EQ(lastTime, 1900u);
  // Frames differ from one another: something moves.
  const auto& a = report.tags[1];
  const auto& b = report.tags[3];
  ASSERT_EQ(a.type, 9);
  ASSERT_EQ(b.type, 9);
  EXPECT_FALSE(slice(r.out, a.dataOffset, a.dataSize) == slice(r.out, b.dataOffset, b.dataSize));
}

TEST(Capmux, PacksFramesAndSamplesUnchangedInTimeOrder) {
  const std::string dir = tempDir();
  const Bytes frames = randomBytes(3 * 4 * 40 * 35, 1);
  const Bytes samples = randomBytes(4 * 6000, 2);  // more sound than the 3 frames last
  writeFile(dir + "/v.raw", frames);
  writeFile(dir + "/a.raw", samples);
  for (const bool live : {false, true}) {
    RunResult produced = live ? capmux({"--size", "40x35", "--video", "-", "--audio", dir + "/a.raw"}, frames)
                              : capmux({"--size", "40x35", "--video", dir + "/v.raw", "--audio", dir + "/a.raw"});
    ASSERT_EQ(produced.status, 0) << produced.err;
    Bytes video, audio;
    std::vector<std::uint32_t> videoTimes, audioTimes;
    std::uint32_t lastTime = 0;
    const auto recs = records(produced.out);
    for (const auto& rec : recs) {
      EXPECT_GE(rec.time, lastTime);
      lastTime = rec.time;
      Bytes& into = rec.type == 1 ? video : audio;
      into.insert(into.end(), rec.payload.begin(), rec.payload.end());
      if (rec.type == 1) videoTimes.push_back(rec.time);
      if (rec.type == 2) audioTimes.push_back(rec.time);
    }
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.back().type, 255);
    EXPECT_TRUE(video == frames);
    EXPECT_TRUE(audio == samples);
    EXPECT_EQ(videoTimes, (std::vector<std::uint32_t>{0, 40, 80}));
    // 1,764 sample frames an interval at 25 fps; the last 708 still go out.
    EXPECT_EQ(audioTimes, (std::vector<std::uint32_t>{0, 40, 80, 120}));

    // And back out of the FLV through FFmpeg, bit for bit.
    RunResult r = runFilter(produced.out);
    ASSERT_EQ(r.status, 0);
    writeFile(dir + "/out.flv", r.out);
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + dir + "/out.flv -map 0:a -f s16le -y " + dir + "/a2.raw").c_str()), 0);
    EXPECT_TRUE(readFile(dir + "/a2.raw") == samples);
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + dir + "/out.flv -map 0:v -fps_mode passthrough -f rawvideo "
                           "-pix_fmt 0rgb -y " + dir + "/v2.raw").c_str()), 0);
    Bytes decoded = readFile(dir + "/v2.raw");
    Bytes expected = frames;
    for (std::size_t i = 0; i < expected.size(); i += 4) expected[i] = decoded.size() > i ? decoded[i] : 0;
    EXPECT_TRUE(decoded == expected) << "frames differ after the round trip";
  }
}

TEST(Capmux, RefusesBadArgumentsAndFilesWithOneLine) {
  const std::string dir = tempDir();
  writeFile(dir + "/short.raw", Bytes(4 * 10 * 10 + 7));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--size", "0x10"},
      {"--size", "5000x10"},
      {"--size", "abc"},
      {"--size", "10x10", "--fps", "0"},
      {"--size", "10x10", "--seconds", "-1"},
      {"--size", "10x10", "--bogus", "1"},
      {"--size"},
      {"--size", "10x10", "--video", dir + "/missing.raw"},
      {"--size", "10x10", "--audio", dir + "/missing.raw"},
      {"--size", "10x10", "--video", dir + "/short.raw"},
  };
  for (const auto& args : cases) {
    std::string what;
    for (const auto& a : args) what += a + " ";
    RunResult r = capmux(args);
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.err.rfind("capmux: ", 0), 0u) << what << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << r.err;
  }
  // Each mistake is named for what it is.
  const std::pair<std::vector<std::string>, std::string> named[] = {
      {{"--size", "10x10", "--bogus", "1"}, "capmux: unknown option '--bogus' (capmux --help for usage)\n"},
      {{"--size", "10x10", "frames.raw"}, "capmux: unexpected argument 'frames.raw' (capmux --help for usage)\n"},
      {{"--size", "10x10", "--fps"}, "capmux: --fps needs a value (capmux --help for usage)\n"},
      {{}, "capmux: --size WxH is required (capmux --help for usage)\n"},
  };
  for (const auto& [args, line] : named) EXPECT_EQ(capmux(args).err, line);
  // A file ending inside a frame: the whole frame before it went out, then
  // the stream stops, and the message says where.
  RunResult r = capmux({"--size", "10x10", "--video", dir + "/short.raw"});
  EXPECT_NE(r.err.find("ends inside frame 1 (7 of 400 bytes)"), std::string::npos) << r.err;
  const auto recs = records(r.out);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].type, 1);
}

}  // namespace
