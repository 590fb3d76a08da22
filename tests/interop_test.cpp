// Real clients read the output: FFmpeg decodes every frame and sample
// bit-exactly, ffprobe sees the streams, flvmeta's check finds no error.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/capture.h"
#include "support/clients.h"
#include "support/run.h"

namespace {

std::map<std::string, std::string> probe(const std::string& what, const std::string& file) {
  auto [status, text] = shell("ffprobe -v error -select_streams " + what +
                              " -show_entries stream=codec_name,width,height,sample_rate,channels:format=duration"
                              " -of default=noprint_wrappers=1 '" + file + "'");
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

class Interop : public ::testing::TestWithParam<std::pair<std::uint32_t, std::uint32_t>> {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "ffprobe", "flvmeta"}) {
      ASSERT_TRUE(haveTool(tool)) << tool << " is missing: scripts/setup.sh installs it";
    }
  }
};

TEST_P(Interop, FFmpegAndFlvmetaReadEveryFrameAndSample) {
  const auto [w, h] = GetParam();
  const std::string dir = tempDir();
  Capture capture(w, h);
  Bytes frames, samples;
  std::uint32_t seed = w * 7919 + h;
  for (std::uint32_t i = 0; i < 4; ++i) {
    const Bytes pixels = randomBytes(std::size_t{4} * w * h, seed++);
    const Bytes pcm = randomBytes(7056, seed++);  // 40 ms of stereo 16-bit at 44.1 kHz
    capture.audio(40 * i, pcm).video(40 * i, pixels);
    const Bytes bgr = bgr24(pixels);
    frames.insert(frames.end(), bgr.begin(), bgr.end());
    samples.insert(samples.end(), pcm.begin(), pcm.end());
  }
  capture.end();
  const std::string capPath = dir + "/in.cap", flvPath = dir + "/out.flv";
  writeFile(capPath, capture.bytes());
  RunResult r = runFilter(capture.bytes());
  ASSERT_EQ(r.status, 0) << r.err;
  writeFile(flvPath, r.out);

  ASSERT_EQ(shell("ffmpeg -v error -i '" + flvPath + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -y '" +
                  dir + "/v.raw'").first, 0);
  EXPECT_TRUE(readFile(dir + "/v.raw") == frames) << "decoded frames differ from the input pixels";
  ASSERT_EQ(shell("ffmpeg -v error -i '" + flvPath + "' -map 0:a -f s16le -c:a pcm_s16le -y '" + dir + "/a.raw'").first, 0);
  EXPECT_TRUE(readFile(dir + "/a.raw") == samples) << "decoded samples differ from the input";

  auto video = probe("v", flvPath);
  EXPECT_EQ(video["codec_name"], "flashsv");
  EXPECT_EQ(video["width"], std::to_string(w));
  EXPECT_EQ(video["height"], std::to_string(h));
  EXPECT_NE(video["duration"], "N/A");
  EXPECT_FALSE(video["duration"].empty());
  auto audio = probe("a", flvPath);
  EXPECT_EQ(audio["codec_name"], "pcm_s16le");
  EXPECT_EQ(audio["sample_rate"], "44100");
  EXPECT_EQ(audio["channels"], "2");

  auto [checkStatus, report] = shell("flvmeta --check --level error '" + flvPath + "' 2>&1");
  EXPECT_EQ(checkStatus, 0) << report;
  EXPECT_NE(report.find("0 error(s)"), std::string::npos) << report;

  // Through pipes on both sides, byte for byte the same stream.
  auto [pipeStatus, piped] = shell("cat '" + capPath + "' | '" + filterPath() + "' 2>/dev/null | cat");
  EXPECT_EQ(pipeStatus, 0);
  EXPECT_TRUE(Bytes(piped.begin(), piped.end()) == r.out) << "piped output differs from file output";
}

INSTANTIATE_TEST_SUITE_P(BlockShapes, Interop,
                         ::testing::Values(std::pair{1u, 1u}, std::pair{32u, 32u}, std::pair{40u, 35u},
                                           std::pair{33u, 65u}, std::pair{640u, 480u}),
                         [](const auto& p) {
                           return std::to_string(p.param.first) + "x" + std::to_string(p.param.second);
                         });

}  // namespace
