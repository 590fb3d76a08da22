// Live through a real RTMP server: capmux drawing in real time into cap2flv,
// FFmpeg publishing the FLV to nginx, and FFmpeg playing it back from nginx.
// Every frame and every block of sound the player decodes equals, bit for
// bit, what was sent with the same time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/capture.h"
#include "support/clients.h"
#include "support/process.h"
#include "support/rtmp_server.h"
#include "support/run.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kSize = "160x120";
constexpr const char* kSeconds = "8";

// What FFmpeg's framecrc prints for a packet: Adler-32 started at 0.
std::uint32_t frameCrc(const Bytes& b) {
  return static_cast<std::uint32_t>(adler32(0, b.data(), static_cast<uInt>(b.size())));
}

// time -> checksum, for the video (decoded to bgr24) and the sound capmux sends.
struct Sent {
  std::map<std::uint32_t, std::uint32_t> video, audio;
};

Sent whatCapmuxSends() {
  RunOptions o;
  o.args = {"--size", kSize, "--seconds", kSeconds};
  const RunResult r = runProgram(capmuxPath(), {}, o);
  bool whole = false;
  Sent sent;
  for (const auto& rec : captureRecords(r.out, whole)) {
    if (rec.type == 1) sent.video[rec.time] = frameCrc(bgr24(rec.payload));
    if (rec.type == 2) sent.audio[rec.time] = frameCrc(rec.payload);
  }
  return sent;
}

struct Played {
  std::size_t video = 0, audio = 0;
  std::uint32_t firstVideo = 0;
  std::vector<std::string> wrong;
};

// Reads the player's framecrc lines: stream, pts (ms), dts, duration, size, crc.
Played compare(const std::string& path, const Sent& sent) {
  Played p;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream f(line);
    unsigned stream = 0, size = 0;
    long long pts = 0, dts = 0, duration = 0;
    std::string crc;
    f >> stream >> pts >> dts >> duration >> size >> crc;
    const auto& table = stream == 0 ? sent.video : sent.audio;
    const auto it = table.find(static_cast<std::uint32_t>(pts));
    const std::uint32_t got = static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16));
    if (it == table.end() || it->second != got) p.wrong.push_back(line);
    if (stream == 0 && p.video++ == 0) p.firstVideo = static_cast<std::uint32_t>(pts);
    if (stream == 1) ++p.audio;
  }
  return p;
}

pid_t startPlayer(const RtmpServer& server, const std::string& out) {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const int err = ::open((out + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = spawn({"/usr/bin/ffmpeg", "-nostdin", "-y", "-v", "error", "-copyts", "-i", server.url("screen"),
                           "-map", "0:v", "-map", "0:a", "-fps_mode", "passthrough", "-enc_time_base:v", "1:1000",
                           "-enc_time_base:a", "1:1000", "-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le",
                           "-f", "framecrc", out},
                          null, null, err);
  ::close(null);
  ::close(err);
  return pid;
}

// capmux --realtime | cap2flv ARGS | ffmpeg publishing to the server.
struct Publisher {
  pid_t producer = -1, filter = -1, publisher = -1;
  Publisher(const RtmpServer& server, const std::vector<std::string>& filterArgs) {
    int a[2], b[2];
    EXPECT_EQ(::pipe2(a, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(b, O_CLOEXEC), 0);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    producer = spawn({capmuxPath(), "--size", kSize, "--seconds", kSeconds, "--realtime"}, null, a[1], null);
    std::vector<std::string> argv{filterPath(), "-q"};
    argv.insert(argv.end(), filterArgs.begin(), filterArgs.end());
    filter = spawn(argv, a[0], b[1], null);
    publisher = spawn({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-i", "-", "-c", "copy", "-f", "flv",
                       server.url("screen")},
                      b[0], null, null);
    for (int fd : {a[0], a[1], b[0], b[1], null}) ::close(fd);
  }
  void wait() {
    EXPECT_EQ(waitExit(producer), 0);
    EXPECT_EQ(waitExit(filter), 0);
    EXPECT_EQ(waitExit(publisher), 0);
  }
};

std::string readText(const std::string& path) {
  const Bytes b = readFile(path);
  return std::string(b.begin(), b.end());
}

// Waits for the player to see the end of the stream; a hang fails the test.
int waitPlayer(pid_t pid) {
  for (int i = 0; i < 300; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(100ms);
  }
  ::kill(pid, SIGKILL);
  waitExit(pid);
  return -1;
}

class Rtmp : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(haveTool("ffmpeg")); }
};

TEST_F(Rtmp, ThePlayerDecodesEveryFrameAndSampleAsSent) {
  RtmpServer server;
  ASSERT_TRUE(server.ok()) << server.why();
  const Sent sent = whatCapmuxSends();
  const std::string out = tempDir() + "/played.crc";
  const pid_t player = startPlayer(server, out);
  ASSERT_TRUE(server.waitForLog("play: name='screen'", 10000));
  Publisher pub(server, {});
  pub.wait();
  ASSERT_EQ(waitPlayer(player), 0) << "the player did not end with the stream: " << readText(out + ".log");
  const Played p = compare(out, sent);
  EXPECT_TRUE(p.wrong.empty()) << p.wrong.size() << " frames differ, the first: " << p.wrong.front();
  EXPECT_EQ(p.video, sent.video.size()) << "a player there from the start sees every frame";
  EXPECT_EQ(p.audio, sent.audio.size());
}

TEST_F(Rtmp, ALateViewerOfTheCompactStreamStartsAtAKeyFrame) {
  RtmpServer server;
  ASSERT_TRUE(server.ok()) << server.why();
  const Sent sent = whatCapmuxSends();
  const std::string out = tempDir() + "/played.crc";
  Publisher pub(server, {"--compact", "--keyint", "25"});
  ASSERT_TRUE(server.waitForLog("publish: name='screen'", 10000));
  std::this_thread::sleep_for(1000ms);  // the stream has been going for a while
  const pid_t player = startPlayer(server, out);
  pub.wait();
  ASSERT_EQ(waitPlayer(player), 0) << "the player did not end with the stream: " << readText(out + ".log");
  const Played p = compare(out, sent);
  EXPECT_TRUE(p.wrong.empty()) << p.wrong.size() << " frames differ, the first: " << p.wrong.front();
  EXPECT_GE(p.video, 10u);
  EXPECT_LT(p.video, sent.video.size()) << "the viewer joined late";
  EXPECT_EQ(p.firstVideo % 1000, 0u) << "the first frame a late viewer sees is a key frame (one a second)";
  EXPECT_GE(p.audio, 10u);
}

}  // namespace
