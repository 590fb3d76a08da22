// MP3 sound end to end: FFmpeg decodes it, its length is the input's within
// one MP3 frame, a tone burst is heard at its capture time when the sound is
// placed by its time stamps, gaps resynchronise, and nothing is lost however
// the run ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/clients.h"
#include "support/process.h"
#include "support/run.h"
#include "support/run_rules.h"

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kFrameBytes = 4;  // one stereo sample

// Silence with 20 ms bursts of a 1 kHz tone starting at the given sample indexes.
Bytes pcmWithBursts(std::size_t samples, std::initializer_list<std::size_t> bursts) {
  Bytes pcm(samples * kFrameBytes, 0);
  for (std::size_t start : bursts) {
    for (std::size_t i = 0; i < kRate / 50 && start + i < samples; ++i) {
      const auto v = static_cast<std::int16_t>(20000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
      for (std::size_t c = 0; c < 2; ++c) {
        pcm[(start + i) * kFrameBytes + 2 * c] = static_cast<std::uint8_t>(v);
        pcm[(start + i) * kFrameBytes + 2 * c + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
      }
    }
  }
  return pcm;
}

// Appends pcm as records of one 40 ms frame interval each, stamped by their
// first sample from time0, with a small video frame at each interval.
void addSound(Capture& c, const Bytes& pcm, std::uint32_t time0) {
  const std::size_t samples = pcm.size() / kFrameBytes;
  const Bytes pixels(4 * 16 * 16, 0);
  for (std::size_t i = 0, first = 0; first < samples; ++i) {
    const std::size_t next = std::min(samples, (i + 1) * kRate / 25);
    const auto time = static_cast<std::uint32_t>(time0 + first * 1000 / kRate);
    c.audio(time, slice(pcm, first * kFrameBytes, (next - first) * kFrameBytes)).video(time, pixels);
    first = next;
  }
}

RunResult runMp3(const Bytes& capture, std::vector<std::string> more = {}) {
  RunOptions o;
  o.args = {"--audio-codec", "mp3", "-q"};
  o.args.insert(o.args.end(), more.begin(), more.end());
  return runFilter(capture, o);
}

// The sound FFmpeg decodes, mono, placed by its time stamps through filter.
std::vector<std::int16_t> decodeSound(const Bytes& flv, const std::string& filter) {
  const std::string dir = tempDir(), path = dir + "/s.flv";
  writeFile(path, flv);
  const auto [status, raw] = shell("ffmpeg -v error -i '" + path + "' -map 0:a -af '" + filter + "' -ac 1 -f s16le -");
  EXPECT_EQ(status, 0);
  std::vector<std::int16_t> s(raw.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(raw[2 * i]) | static_cast<std::uint8_t>(raw[2 * i + 1]) << 8);
  }
  return s;
}

// Milliseconds from `expected` to where the first loud sample after
// expected - 0.5 s is heard.
double onsetError(const std::vector<std::int16_t>& s, double expected) {
  const auto from = static_cast<std::size_t>((expected - 0.5) * kRate);
  for (std::size_t i = from; i < s.size(); ++i) {
    if (std::abs(s[i]) > 2000) return (static_cast<double>(i) / kRate - expected) * 1000;
  }
  return 1e9;
}

const char* kPlacedByTime = "aresample=async=1:first_pts=0";

class Mp3 : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "flvmeta"}) ASSERT_TRUE(haveTool(tool)) << tool << " is missing";
  }
};

TEST_F(Mp3, ABurstIsHeardOnTimeAtTheStartAndAfterAMinute) {
  // Sound from time 0 (the first frame then leaves out the encoder's delay)
  // and sound that starts late, at 1 s. The sound is placed by its time
  // stamps as a player syncing it to video does.
  for (std::uint32_t time0 : {0u, 1000u}) {
    SCOPED_TRACE(time0);
    const Bytes pcm = pcmWithBursts(62 * kRate, {kRate, 61 * kRate});
    Capture c(16, 16);
    c.video(0, Bytes(4 * 16 * 16));  // the pictures start at 0 whenever the sound does
    addSound(c, pcm, time0);
    const RunResult r = runMp3(c.end().bytes());
    ASSERT_EQ(r.status, 0) << r.err;
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    ASSERT_TRUE(report.ok) << report.error;
    const std::string path = tempDir() + "/b.flv";
    writeFile(path, r.out);
    EXPECT_EQ(flvmetaErrors(path), "");

    const std::vector<std::int16_t> placed = decodeSound(r.out, kPlacedByTime);
    const double t = time0 / 1000.0;
    const double early = onsetError(placed, t + 1), late = onsetError(placed, t + 61);
    EXPECT_LE(std::abs(early), 5.0) << "burst at the start heard " << early << " ms off";
    EXPECT_LE(std::abs(late), 5.0) << "burst after a minute heard " << late << " ms off";
    // All of the sound, placed from its start time: it ends within one MP3
    // frame of where the input ends (the encoder pads the last frame).
    const double end = static_cast<double>(time0) * kRate / 1000 + static_cast<double>(pcm.size() / kFrameBytes);
    EXPECT_NEAR(static_cast<double>(placed.size()), end, 1152.0);
  }
}

TEST_F(Mp3, AGapInTheCaptureResynchronises) {
  // One second of sound, then the capture pauses for two seconds: the burst
  // that opens the sound after the gap is heard at 3 s, not at 1 s.
  Capture c(16, 16);
  addSound(c, pcmWithBursts(kRate, {kRate / 2}), 0);
  addSound(c, pcmWithBursts(kRate, {0}), 3000);
  // A producer that restarted its sound: times start over.
  addSound(c, pcmWithBursts(kRate / 2, {}), 500);
  const RunResult r = runMp3(c.end().bytes());
  ASSERT_EQ(r.status, 0) << r.err;
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_TRUE(report.ok) << report.error;
  std::vector<std::uint32_t> times;
  for (const auto& t : report.tags) {
    if (t.type == 8) times.push_back(t.time);
  }
  // The segment after the gap starts at 3000 ms, less the encoder's delay.
  EXPECT_NE(std::find_if(times.begin(), times.end(), [](std::uint32_t t) { return t >= 2970 && t <= 3001; }),
            times.end());
  Capture first(16, 16);
  addSound(first, pcmWithBursts(kRate, {kRate / 2}), 0);
  addSound(first, pcmWithBursts(kRate, {0}), 3000);
  const std::vector<std::int16_t> placed = decodeSound(runMp3(first.end().bytes()).out, kPlacedByTime);
  EXPECT_LE(std::abs(onsetError(placed, 0.5)), 5.0);
  EXPECT_LE(std::abs(onsetError(placed, 3.0)), 5.0) << "the sound after the gap is out of place";
}

TEST_F(Mp3, BitRatesFrameSizesAndEveryEndFlushesTheEncoder) {
  const Bytes pcm = pcmWithBursts(3 * kRate, {kRate});
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Bytes tail;  // what ends the capture after the sound
    int status;
    std::uint32_t frameBytes;  // the smaller of the two sizes a CBR frame has
  };
  const Case cases[] = {
      {"128 kbit/s, end record", {}, Capture(16, 16).end().bytes(), 0, 417},
      {"64 kbit/s, input ends", {"--audio-bitrate", "64"}, {}, 0, 208},
      {"320 kbit/s, a bad record", {"--audio-bitrate=320"}, Capture(16, 16).record(9, 0, 0).bytes(), 1, 1044},
      {"compact video, a record cut short", {"--compact"}, Capture(16, 16).record(2, 9000, 400, Bytes(7)).bytes(), 1, 417},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Capture capture(16, 16);
    addSound(capture, pcm, 0);
    Bytes input = capture.bytes();
    if (!c.tail.empty()) input.insert(input.end(), c.tail.begin() + 8, c.tail.end());  // without its capture header
    RunOptions o;
    o.args = {"--audio-codec", "mp3"};  // progress lines on: the error line must still come last
    o.args.insert(o.args.end(), c.args.begin(), c.args.end());
    const RunResult r = runFilter(input, o);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(brokenRunRule(r), "");
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    ASSERT_TRUE(report.ok) << report.error;
    for (const auto& t : report.tags) {
      if (t.type == 8) {
        EXPECT_EQ(r.out[t.dataOffset], 0x2F);
        EXPECT_TRUE(t.dataSize - 1 == c.frameBytes || t.dataSize - 1 == c.frameBytes + 1) << t.dataSize;
      }
    }
    const std::vector<std::int16_t> all = decodeSound(r.out, "anull");
    EXPECT_GE(all.size() + 1152, pcm.size() / kFrameBytes) << "sound was lost at the end";
  }
}

// Stopped by a signal while the producer is idle: the encoder's last frames
// still come out before the trailing size.
TEST_F(Mp3, AStopFlushesTheEncoder) {
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  const std::string path = tempDir() + "/stop.flv";
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = spawn({filterPath(), "--audio-codec", "mp3"}, p[0], out, null);
  for (int fd : {p[0], out, null}) ::close(fd);
  Capture c(16, 16);
  const Bytes pcm = pcmWithBursts(kRate, {});
  addSound(c, pcm, 0);
  const Bytes bytes = c.bytes();
  ASSERT_EQ(::write(p[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(waitExit(pid), 128 + SIGTERM);
  ::close(p[1]);
  const Bytes flv = readFile(path);
  const FlvReport report = verifyFlv(flv.data(), flv.size());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_GE(decodeSound(flv, "anull").size() + 1152, pcm.size() / kFrameBytes);
}

// A record of any size is encoded as it arrives: one too big for a PCM tag
// becomes MP3 frames like any other, and memory never follows what a record
// merely claims.
TEST_F(Mp3, RecordsOfAnySizeInBoundedMemory) {
  const std::size_t samples = 16777216 / kFrameBytes + 1000;  // over one tag's worth of PCM
  const Bytes pcm = pcmWithBursts(samples, {});
  RunOptions o;
  o.args = {"--audio-codec", "mp3", "-q"};
  if (!underAddressSanitizer()) o.addressSpaceKiB = 160 * 1024;
  const RunResult big = runFilter(Capture(0, 0).audio(0, pcm).end().bytes(), o);
  ASSERT_EQ(big.status, 0) << big.err;
  EXPECT_NEAR(static_cast<double>(decodeSound(big.out, "anull").size()), static_cast<double>(samples), 1152.0);
  const RunResult claim = runFilter(Capture(0, 0).record(2, 0, 0xFFFFFFFF, Bytes(100)).bytes(), o);
  EXPECT_EQ(claim.status, 1);
  EXPECT_EQ(claim.err, "ERRO incompleto - tipo:2 - time:0 - tam:4294967295 - lidos:100\n");
}

}  // namespace
