// Stopping a live recording with a signal, with real processes, pipes and
// signals: the file is always valid, every frame written decodes, and the
// processes end the way their callers expect.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/clients.h"
#include "support/flv_expect.h"
#include "support/process.h"
#include "support/run.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kW = 320, kH = 240;

int devNull() { return ::open("/dev/null", O_RDWR | O_CLOEXEC); }

// A live recording: capmux drawing in real time into cap2flv, both in one
// process group as a shell's pipeline is.
struct Recording {
  std::string flv;
  pid_t producer = -1, filter = -1;

  explicit Recording(const std::vector<std::string>& filterArgs) {
    flv = tempDir() + "/rec.flv";
    int p[2];
    EXPECT_EQ(::pipe2(p, O_CLOEXEC), 0);
    const int out = ::open(flv.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null = devNull();
    producer = spawn({capmuxPath(), "--size", std::to_string(kW) + "x" + std::to_string(kH), "--seconds", "60",
                      "--realtime"},
                     null, p[1], null, 0);
    std::vector<std::string> argv{filterPath()};
    argv.insert(argv.end(), filterArgs.begin(), filterArgs.end());
    filter = spawn(argv, p[0], out, null, producer);
    for (int fd : {p[0], p[1], out, null}) ::close(fd);
  }
};

// What the file must be after any stop: whole tags, and every frame in it
// decoding to the frame capmux drew.
void checkFile(const std::string& flv, std::size_t minFrames) {
  const Bytes out = readFile(flv);
  const FlvReport report = verifyFlv(out.data(), out.size());
  ASSERT_TRUE(report.ok) << report.error;
  std::uint32_t lastVideo = 0;
  std::size_t frames = 0;
  for (const auto& t : report.tags) {
    if (t.type == 9) {
      lastVideo = t.time;
      ++frames;
    }
  }
  ASSERT_GE(frames, minFrames);
  // The same frames, drawn without the clock.
  const RunResult drawn = runProgram(capmuxPath(), {}, [&] {
    RunOptions o;
    o.args = {"--size", std::to_string(kW) + "x" + std::to_string(kH), "--seconds", std::to_string(frames / 25 + 1)};
    return o;
  }());
  bool whole = false;
  std::vector<Bytes> expected;
  for (const auto& r : captureRecords(drawn.out, whole)) {
    if (r.type == 1 && expected.size() < frames) expected.push_back(bgr24(r.payload));
  }
  const std::vector<Bytes> decoded = wholeFrames(out, decodeFrames(flv, kW, kH));
  ASSERT_EQ(decoded.size(), frames);
  for (std::size_t i = 0; i < frames; ++i) EXPECT_TRUE(decoded[i] == expected[i]) << "frame " << i;
  // The duration players see ends with the last frame, not at some garbage time.
  const auto [status, duration] =
      shell("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + flv + "'");
  ASSERT_EQ(status, 0);
  EXPECT_NEAR(std::atof(duration.c_str()), lastVideo / 1000.0, 0.041) << duration;
  EXPECT_EQ(flvmetaErrors(flv), "");
}

class Stop : public ::testing::TestWithParam<const char*> {};

TEST_P(Stop, SigintToTheWholePipelineWhileFramesFlow) {
  std::vector<std::string> args;
  if (*GetParam()) args.push_back(GetParam());
  Recording rec(args);
  std::this_thread::sleep_for(1500ms);
  ASSERT_EQ(::kill(-rec.producer, SIGINT), 0);
  EXPECT_EQ(waitExit(rec.producer), 0) << "capmux ends its stream and succeeds";
  EXPECT_EQ(waitExit(rec.filter), 128 + SIGINT) << "cap2flv ends by the signal, as careful tools do";
  checkFile(rec.flv, 10);
}

TEST_P(Stop, SigintToTheProducerAloneEndsTheFilterWithSuccess) {
  std::vector<std::string> args;
  if (*GetParam()) args.push_back(GetParam());
  Recording rec(args);
  std::this_thread::sleep_for(1000ms);
  ASSERT_EQ(::kill(rec.producer, SIGINT), 0);
  EXPECT_EQ(waitExit(rec.producer), 0);
  EXPECT_EQ(waitExit(rec.filter), 0) << "the end record ends the filter as usual";
  checkFile(rec.flv, 5);
}

INSTANTIATE_TEST_SUITE_P(Options, Stop, ::testing::Values("", "--compact"),
                         [](const auto& p) { return *p.param ? std::string("compact") : std::string("default"); });

// The producer is alive but sends nothing more, half way through a record:
// the stop comes at once and the half record is dropped.
TEST(StopStalled, SigtermWhileTheInputStallsMidRecord) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--compact"}}) {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    const std::string flv = tempDir() + "/stalled.flv";
    const int out = ::open(flv.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    std::vector<std::string> argv{filterPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = spawn(argv, p[0], out, err[1]);
    ::close(p[0]);
    ::close(out);
    ::close(err[1]);
    const Bytes frame = randomBytes(4 * 64 * 48, 3);
    const Bytes stream = Capture(64, 48).video(0, frame).video(40, frame).bytes();
    const std::size_t cut = stream.size() - frame.size() / 2;
    ASSERT_EQ(::write(p[1], stream.data(), cut), static_cast<ssize_t>(cut));
    std::this_thread::sleep_for(300ms);  // everything sent has been read by now
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(waitExit(pid), 128 + SIGTERM);
    ::close(p[1]);
    std::string lines;
    char buf[4096];
    for (ssize_t r; (r = ::read(err[0], buf, sizeof buf)) > 0;) lines.append(buf, static_cast<std::size_t>(r));
    ::close(err[0]);
    EXPECT_EQ(lines.find("ERRO"), std::string::npos) << lines;
    const Bytes got = readFile(flv);
    const FlvReport report = verifyFlv(got.data(), got.size());
    ASSERT_TRUE(report.ok) << report.error;
    ASSERT_EQ(report.tags.size(), 1u) << "the first frame stays, the half record is dropped";
  }
}

// A consumer that does not read: the filter is blocked writing a tag when
// two signals come. It finishes that tag once the consumer reads again,
// then stops at once: no cut tag, and the trailing size.
TEST(StopStalled, ASecondSignalWhileTheConsumerIsSlow) {
  const std::uint32_t w = 640, h = 480;
  Capture capture(w, h);
  for (std::uint32_t i = 0; i < 40; ++i) capture.video(40 * i, randomBytes(std::size_t{4} * w * h, i));
  const std::string dir = tempDir(), capPath = dir + "/in.cap";
  writeFile(capPath, capture.end().bytes());
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  const int in = ::open(capPath.c_str(), O_RDONLY | O_CLOEXEC), null = devNull();
  const pid_t pid = spawn({filterPath()}, in, p[1], null);
  for (int fd : {in, p[1], null}) ::close(fd);
  std::this_thread::sleep_for(300ms);  // the pipe is full: the filter waits inside a tag
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  Bytes got;
  std::uint8_t buf[65536];
  for (ssize_t r; (r = ::read(p[0], buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + r);
  ::close(p[0]);
  EXPECT_EQ(waitExit(pid), 128 + SIGTERM);
  const FlvReport report = verifyFlv(got.data(), got.size());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_GE(report.tags.size(), 1u);
  EXPECT_LT(report.tags.size(), 40u) << "it stopped instead of converting everything";
}

}  // namespace
