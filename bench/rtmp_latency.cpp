// rtmp_latency: how long a frame takes from the producer to a player's
// decoded picture through the whole live chain:
//
//   producer (this program, capmux's synthetic desktop, paced at 25 fps)
//     -> cap2flv --compact -> ffmpeg publishing -> nginx RTMP -> ffmpeg playing
//     -> decoded bgr24 frames back to this program
//
// The producer sends 40 ms of silence before each frame, as capmux does.
// For each frame: sent (the producer starts writing it) to decoded (the
// player's picture of it has arrived, found by its checksum: decoding is
// bit-exact), and cap2flv's own share (the record's last byte written to
// its tag's last byte read back from cap2flv). Prints median, 95th
// percentile and maximum over the frames after the start-up ones.
//
//   rtmp_latency [frames (300)] [warm-up frames (25)] [cap2flv options... (--compact)]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../tools/capmux/picture.h"
#include "support/clients.h"
#include "support/process.h"
#include "support/rtmp_server.h"
#include "support/run.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kW = 1920, kH = 1080, kFps = 25;
// FFmpeg options that lowered the delay here (see the README).
constexpr const char* kPlayerFlags = "";
constexpr const char* kPublisherFlags = "-analyzeduration 500000";
constexpr const char* kPublisherOutFlags = "";

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

std::size_t readSome(int fd, std::uint8_t* p, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    return r < 0 ? 0 : static_cast<std::size_t>(r);
  }
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void report(const char* what, std::vector<double> v) {
  if (v.empty()) {
    std::printf("  %-48s no frames\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  const auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))]; };
  std::printf("  %-48s median %7.1f ms   p95 %7.1f ms   max %7.1f ms   (%zu frames)\n", what, at(0.5), at(0.95),
              v.back(), v.size());
}

void le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t frames = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 300;
  const std::size_t warmup = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 25;
  std::vector<std::string> filterArgs;
  for (int i = 3; i < argc; ++i) filterArgs.push_back(argv[i]);
  if (filterArgs.empty()) filterArgs = {"--compact"};
  std::signal(SIGPIPE, SIG_IGN);

  RtmpServer server;
  if (!server.ok()) {
    std::fprintf(stderr, "rtmp_latency: %s\n", server.why().c_str());
    return 1;
  }
  const std::string url = server.url("latency");
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);

  int fromPlayer[2];
  if (::pipe2(fromPlayer, O_CLOEXEC) != 0) return 1;
  const std::string playerLog = tempDir() + "/player.log";
  const int playerErr = ::open(playerLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // Extra FFmpeg input options for the player and the publisher, to try
  // what lowers the delay (RTMP_LATENCY_PLAYER, RTMP_LATENCY_PUBLISHER).
  auto words = [](const char* env, const char* fallback) {
    std::vector<std::string> w;
    const char* text = std::getenv(env);
    std::string all = text != nullptr ? text : fallback;
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t end = std::min(all.find(' ', at), all.size());
      if (end > at) w.push_back(all.substr(at, end - at));
      at = end + 1;
    }
    return w;
  };
  const std::vector<std::string> playerFlags = words("RTMP_LATENCY_PLAYER", kPlayerFlags);
  const std::vector<std::string> publisherFlags = words("RTMP_LATENCY_PUBLISHER", kPublisherFlags);
  const std::vector<std::string> publisherOutFlags = words("RTMP_LATENCY_PUBLISHER_OUT", kPublisherOutFlags);
  // RTMP_LATENCY_DIRECT: the player reads cap2flv's output from a pipe, with
  // no publisher and no server, to tell their share from the player's.
  const bool direct = std::getenv("RTMP_LATENCY_DIRECT") != nullptr;
  int toPlayer[2] = {-1, -1};
  if (direct && ::pipe2(toPlayer, O_CLOEXEC) != 0) return 1;
  const std::string input = direct ? std::string("-") : url;
  std::vector<std::string> playerArgv{"/usr/bin/ffmpeg", "-nostdin", "-v", "error"};
  playerArgv.insert(playerArgv.end(), playerFlags.begin(), playerFlags.end());
  for (const char* f : {"-i", input.c_str(), "-map", "0:v", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24",
                        "pipe:1"}) {
    playerArgv.push_back(f);
  }
  const pid_t player = spawn(playerArgv, direct ? toPlayer[0] : null, fromPlayer[1], playerErr);
  ::close(fromPlayer[1]);
  ::close(playerErr);
  if (direct) {
    ::close(toPlayer[0]);
  } else if (!server.waitForLog("play: name='latency'", 10000)) {
    return 1;
  }

  int toFilter[2], fromFilter[2], toPublisher[2];
  if (::pipe2(toFilter, O_CLOEXEC) != 0 || ::pipe2(fromFilter, O_CLOEXEC) != 0 || ::pipe2(toPublisher, O_CLOEXEC) != 0) {
    return 1;
  }
  std::vector<std::string> filterArgv{filterPath(), "-q"};
  filterArgv.insert(filterArgv.end(), filterArgs.begin(), filterArgs.end());
  const pid_t filter = spawn(filterArgv, toFilter[0], fromFilter[1], null);
  std::vector<std::string> publisherArgv{"/usr/bin/ffmpeg", "-nostdin", "-v", "error"};
  publisherArgv.insert(publisherArgv.end(), publisherFlags.begin(), publisherFlags.end());
  for (const char* f : {"-f", "flv", "-i", "-", "-c", "copy"}) publisherArgv.push_back(f);
  publisherArgv.insert(publisherArgv.end(), publisherOutFlags.begin(), publisherOutFlags.end());
  for (const char* f : {"-f", "flv", url.c_str()}) publisherArgv.push_back(f);
  const pid_t publisher = spawn(direct ? std::vector<std::string>{"/bin/cat"} : publisherArgv, toPublisher[0],
                                direct ? toPlayer[1] : null, null);
  if (direct) ::close(toPlayer[1]);
  for (int fd : {toFilter[0], fromFilter[1], toPublisher[0], null}) ::close(fd);

  std::vector<Clock::time_point> sendStart(frames), sendDone(frames), tagDone(frames), decoded(frames);
  std::vector<bool> seen(frames, false);
  std::map<std::uint32_t, std::size_t> byCrc;

  // Checksums of what the player must show, computed before the clock starts.
  {
    SyntheticScreen screen(kW, kH);
    for (std::size_t i = 0; i < frames; ++i) {
      const Bytes bgr = bgr24(screen.frame(i));
      byCrc[static_cast<std::uint32_t>(crc32(0, bgr.data(), static_cast<uInt>(bgr.size())))] = i;
    }
  }

  std::thread producer([&] {
    SyntheticScreen screen(kW, kH);
    std::vector<std::uint8_t> sound;
    std::uint8_t header[9];
    le32(header, kW);
    le32(header + 4, kH);
    writeAll(toFilter[1], header, 8);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < frames; ++i) {
      const auto& px = screen.frame(i);
      const auto time = static_cast<std::uint32_t>(i * 1000 / kFps);
      std::this_thread::sleep_until(start + std::chrono::milliseconds(time));
      // The interval's sound first (silence), as capmux sends it.
      const std::size_t firstSample = i * 44100 / kFps, endSample = (i + 1) * 44100 / kFps;
      sound.assign(4 * (endSample - firstSample), 0);
      header[0] = 2;
      le32(header + 1, static_cast<std::uint32_t>(firstSample * 1000 / 44100));
      le32(header + 5, static_cast<std::uint32_t>(sound.size()));
      sendStart[i] = Clock::now();
      writeAll(toFilter[1], header, 9);
      writeAll(toFilter[1], sound.data(), sound.size());
      header[0] = 1;
      le32(header + 1, time);
      le32(header + 5, static_cast<std::uint32_t>(px.size()));
      writeAll(toFilter[1], header, 9);
      writeAll(toFilter[1], px.data(), px.size());
      sendDone[i] = Clock::now();
    }
    ::close(toFilter[1]);
  });

  // Passes cap2flv's output on to the publisher, noting when each video tag
  // has come out whole.
  std::thread forwarder([&] {
    std::vector<std::uint8_t> buf(1 << 20);
    std::uint64_t pos = 0, tagEnd = 0, nextTag = 13;  // header and PreviousTagSize0
    std::size_t videoTags = 0;
    bool video = false;
    std::uint8_t head[11];
    std::size_t headGot = 0;
    for (std::size_t n; (n = readSome(fromFilter[0], buf.data(), buf.size())) > 0;) {
      const auto now = Clock::now();
      for (std::size_t k = 0; k < n; ++k, ++pos) {
        if (pos >= nextTag && pos < nextTag + 11) {
          head[headGot++] = buf[k];
          if (headGot == 11) {
            const std::uint64_t size = std::uint64_t{head[1]} << 16 | std::uint64_t{head[2]} << 8 | head[3];
            video = head[0] == 9;
            tagEnd = nextTag + 11 + size;
            nextTag = tagEnd + 4;
            headGot = 0;
          }
        }
        if (pos + 1 == tagEnd && video) {
          if (videoTags < frames) tagDone[videoTags] = now;
          ++videoTags;
        }
      }
      writeAll(toPublisher[1], buf.data(), n);
    }
    ::close(toPublisher[1]);
  });

  std::size_t playerFrames = 0;
  std::thread reader([&] {
    std::vector<std::uint8_t> frame(std::size_t{3} * kW * kH);
    for (;;) {
      std::size_t got = 0;
      while (got < frame.size()) {
        const std::size_t r = readSome(fromPlayer[0], frame.data() + got, frame.size() - got);
        if (r == 0) return;
        got += r;
      }
      const auto now = Clock::now();
      ++playerFrames;
      const auto it = byCrc.find(static_cast<std::uint32_t>(crc32(0, frame.data(), static_cast<uInt>(frame.size()))));
      if (it != byCrc.end() && !seen[it->second]) {
        seen[it->second] = true;
        decoded[it->second] = now;
      }
    }
  });

  producer.join();
  forwarder.join();
  waitExit(filter);
  waitExit(publisher);
  // The player ends with the stream; give it a generous while.
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(player, nullptr, WNOHANG) == player) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (i == 99) ::kill(player, SIGKILL);
  }
  reader.join();
  ::close(fromPlayer[0]);
  ::close(fromFilter[0]);

  std::vector<double> total, writing, ours, beyond;
  std::size_t missing = 0;
  for (std::size_t i = warmup; i < frames; ++i) {
    writing.push_back(ms(sendDone[i] - sendStart[i]));
    ours.push_back(ms(tagDone[i] - sendDone[i]));
    if (seen[i]) {
      total.push_back(ms(decoded[i] - sendStart[i]));
      beyond.push_back(ms(decoded[i] - tagDone[i]));
    } else {
      ++missing;
    }
  }
  std::string opts;
  for (const auto& a : filterArgs) opts += " " + a;
  std::string pf, uf;
  for (const auto& f : playerFlags) pf += " " + f;
  for (const auto& f : publisherFlags) uf += " " + f;
  for (const auto& f : publisherOutFlags) uf += " " + f;
  std::printf("player options:%s; publisher options:%s\n", pf.c_str(), uf.c_str());
  std::printf("chain: producer -> cap2flv%s -> ffmpeg publishing -> nginx RTMP -> ffmpeg playing; %ux%u at %u fps\n",
              opts.c_str(), kW, kH, kFps);
  if (std::getenv("RTMP_LATENCY_DEBUG") != nullptr) {
    for (std::size_t i = 0; i < frames; ++i) std::fputc(seen[i] ? '+' : '.', stderr);
    std::fputc('\n', stderr);
    const Bytes log = readFile(playerLog);
    std::fwrite(log.data(), 1, log.size(), stderr);
  }
  std::printf("frames %zu, the first %zu left out as start-up; %zu of the rest not decoded (the player gave %zu pictures)\n",
              frames, warmup, missing, playerFrames);
  report("sent -> decoded by the player", total);
  report("  the producer writing the record", writing);
  report("  cap2flv: record written -> tag out", ours);
  report("  tag out -> decoded (publisher, server, player)", beyond);
  return 0;
}
