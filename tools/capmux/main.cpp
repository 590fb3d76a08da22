// capmux: writes a capture stream for cap2flv on standard output.
//
//   capmux --size WxH [--fps N] [--seconds S] [--realtime] [--video FILE|-] [--audio FILE]
//
// Without --video it draws S seconds of a synthetic screen; with it, it packs
// raw frames (4 bytes a pixel: ignored, red, green, blue, as FFmpeg's 0rgb).
// Audio is 16-bit little-endian stereo PCM at 44.1 kHz, from --audio or a
// 440 Hz tone for the synthetic screen, cut into one record per frame
// interval. --realtime sends each record at its own time, paced by the clock
// (like FFmpeg's -re), as a live producer would. Errors: one line on standard
// error, exit status 2.
//
// SIGINT, SIGTERM and SIGHUP end the stream cleanly: the frame in progress
// is finished while its bytes keep coming (dropped if its input stalls or
// ends), the end record follows, and capmux exits with status 0, so the
// filter behind it ends its file as usual.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "picture.h"
#include "pipes.h"
#include "signals.h"

namespace {

constexpr std::uint8_t kVideoRecord = 1, kAudioRecord = 2, kEndRecord = 255;
constexpr std::uint64_t kSampleRate = 44100;
constexpr std::size_t kSampleFrameBytes = 4;  // 16-bit stereo
constexpr std::uint32_t kMaxSide = 4095;

const char kUsage[] =
    "usage: capmux --size WxH [--fps N] [--seconds S] [--realtime] [--video FILE|-] [--audio FILE]\n"
    "       capmux --help | --version\n";
const char kUsageHint[] = " (capmux --help for usage)";

[[noreturn]] __attribute__((format(printf, 1, 2))) void die(const char* format, ...) {
  std::fputs("capmux: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::exit(2);
}

struct Options {
  std::uint32_t w = 0, h = 0;
  std::uint32_t fps = 25;
  double seconds = 5;
  bool secondsGiven = false;
  bool realtime = false;
  std::string video, audio;
};

bool parseUnsigned(const char* s, std::uint32_t max, std::uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || s[0] == '-' || v > max) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

Options parseArgs(int argc, char** argv) {
  Options o;
  bool sized = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--version") {
      std::printf("capmux %s\n", CAP2FLV_VERSION);
      std::exit(0);
    }
    if (arg == "--realtime") {
      o.realtime = true;
      continue;
    }
    const bool known = arg == "--size" || arg == "--fps" || arg == "--seconds" || arg == "--video" || arg == "--audio";
    if (!known) {
      if (arg.size() > 1 && arg[0] == '-') die("unknown option '%s'%s", arg.c_str(), kUsageHint);
      die("unexpected argument '%s'%s", arg.c_str(), kUsageHint);
    }
    if (i + 1 >= argc) die("%s needs a value%s", arg.c_str(), kUsageHint);
    const char* value = argv[++i];
    if (arg == "--size") {
      const char* x = std::strchr(value, 'x');
      if (x == nullptr) die("--size wants WxH, not '%s'", value);
      const std::string ws(value, x);
      if (!parseUnsigned(ws.c_str(), kMaxSide, o.w) || !parseUnsigned(x + 1, kMaxSide, o.h) || o.w == 0 || o.h == 0) {
        die("--size wants WxH with sides from 1 to %u, not '%s'", kMaxSide, value);
      }
      sized = true;
    } else if (arg == "--fps") {
      if (!parseUnsigned(value, 1000, o.fps) || o.fps == 0) die("--fps wants a whole number from 1 to 1000, not '%s'", value);
    } else if (arg == "--seconds") {
      char* end = nullptr;
      o.seconds = std::strtod(value, &end);
      if (end == value || *end != '\0' || !(o.seconds >= 0 && o.seconds <= 86400)) {
        die("--seconds wants a number from 0 to 86400, not '%s'", value);
      }
      o.secondsGiven = true;
    } else if (arg == "--video") {
      o.video = value;
    } else {
      o.audio = value;
    }
  }
  if (!sized) die("--size WxH is required%s", kUsageHint);
  return o;
}

void putLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The capture stream on standard output, through a buffer of our own:
// writes complete across partial writes, signals and a descriptor in
// non-blocking mode.
class Writer {
 public:
  void emit(const void* data, std::size_t n) {
    if (n == 0) return;
    if (n > buf_.size() - len_) flush();
    if (n > buf_.size()) {
      writeAll(static_cast<const std::uint8_t*>(data), n);
      return;
    }
    std::memcpy(buf_.data() + len_, data, n);
    len_ += n;
  }

  void emitRecord(std::uint8_t type, std::uint32_t time, const std::uint8_t* payload, std::size_t size) {
    lastTime_ = time;
    std::uint8_t header[9];
    header[0] = type;
    putLE32(header + 1, time);
    putLE32(header + 5, static_cast<std::uint32_t>(size));
    emit(header, sizeof header);
    emit(payload, size);
  }

  void flush() {
    writeAll(buf_.data(), len_);
    len_ = 0;
  }

  // The end record's time means nothing; keeping the last one keeps the
  // whole stream in time order.
  void end() {
    emitRecord(kEndRecord, lastTime_, nullptr, 0);
    flush();
  }

 private:
  static void writeAll(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      const ssize_t put = ::write(1, p, n);
      if (put < 0) {
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(1, POLLOUT)) continue;
        if (errno == EPIPE) {
          // Asked to stop, the consumer may well have stopped first: that is
          // the end we were heading for. Otherwise end as any filter does.
          if (stopRequests() > 0) std::exit(0);
          dieOfSignal(SIGPIPE);
        }
        die("cannot write the capture stream: %s", std::strerror(errno));
      }
      p += put;
      n -= static_cast<std::size_t>(put);
    }
  }

  std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(1 << 20);
  std::size_t len_ = 0;
  std::uint32_t lastTime_ = 0;
};

// Reads up to n bytes; fewer only at the end of the file or when a stop
// signal ends the reading (stopped is set then).
std::size_t readUpTo(int fd, std::uint8_t* dst, std::size_t n, const std::string& name, bool& stopped) {
  std::size_t got = 0;
  while (got < n) {
    const InputWait wait = waitForInput(fd);
    if (wait == InputWait::Stop) {
      stopped = true;
      break;
    }
    const ssize_t r = wait == InputWait::Error ? -1 : ::read(fd, dst + got, n - got);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      die("cannot read %s: %s", name.c_str(), std::strerror(errno));
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

// The audio side: a file, a tone, or nothing.
struct AudioSource {
  int file = -1;
  bool tone = false;
  std::uint64_t nextSample = 0;  // index of the next sample frame to go out
  std::vector<std::uint8_t> buf;

  // Emits the samples from nextSample up to (not including) sample frame
  // end as one record timed by its first sample. Returns false once a file
  // has nothing more to give.
  bool emitUntil(Writer& out, std::uint64_t end, const std::string& name, bool& stopped) {
    if ((file < 0 && !tone) || end <= nextSample) return file >= 0;
    const std::uint64_t count = end - nextSample;
    const auto time = static_cast<std::uint32_t>(nextSample * 1000 / kSampleRate);
    if (tone) {
      toneSamples(nextSample, count, buf);
    } else {
      buf.resize(count * kSampleFrameBytes);
      buf.resize(readUpTo(file, buf.data(), buf.size(), name, stopped));
      if (buf.empty()) return false;
    }
    out.emitRecord(kAudioRecord, time, buf.data(), buf.size());
    nextSample = end;
    return true;
  }
};

// Sleeps until ms after start on the monotonic clock, or until a stop signal.
void waitUntil(const timespec& start, std::uint64_t ms) {
  for (;;) {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    const std::int64_t left = static_cast<std::int64_t>(ms) - elapsed;
    if (left <= 0 || stopRequests() > 0) return;
    pollfd p{stopFd(), POLLIN, 0};
    ::poll(&p, stopFd() >= 0 ? 1 : 0, static_cast<int>(left));
  }
}

int openInput(const std::string& name) {
  if (name == "-") return 0;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) die("cannot open %s: %s", name.c_str(), std::strerror(errno));
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  setupSignals();
  const Options o = parseArgs(argc, argv);

  AudioSource audio;
  if (!o.audio.empty()) {
    if (o.audio == "-" && o.video == "-") die("--video and --audio cannot both read standard input");
    audio.file = openInput(o.audio);
  } else {
    audio.tone = o.video.empty();
  }
  const int video = o.video.empty() ? -1 : openInput(o.video);
  const bool live = video == 0;

  Writer out;
  std::uint8_t header[8];
  putLE32(header, o.w);
  putLE32(header + 4, o.h);
  out.emit(header, sizeof header);

  const std::size_t frameBytes = std::size_t{4} * o.w * o.h;
  const auto frameLimit = video < 0 || o.secondsGiven ? static_cast<std::uint64_t>(o.seconds * o.fps + 0.5) : UINT64_MAX;
  std::unique_ptr<SyntheticScreen> screen = video < 0 ? std::make_unique<SyntheticScreen>(o.w, o.h) : nullptr;
  std::vector<std::uint8_t> pixels(video >= 0 ? frameBytes : 0);

  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  bool stopped = false;
  std::uint64_t i = 0;
  for (; i < frameLimit && !stopped && stopRequests() == 0; ++i) {
    const auto frameTime = static_cast<std::uint32_t>((i * 1000 + o.fps / 2) / o.fps);
    if (o.realtime) {
      waitUntil(start, frameTime);
      if (stopRequests() > 0) break;
    }
    const std::uint8_t* frame;
    if (video >= 0) {
      const std::size_t got = readUpTo(video, pixels.data(), frameBytes, o.video, stopped);
      if (got == 0 || stopped) break;  // a frame cut short by a stop is dropped whole
      if (got < frameBytes) {
        if (stopRequests() > 0) break;  // its producer ended too: the same
        out.flush();
        die("%s ends inside frame %llu (%zu of %zu bytes); the stream stops before it, without an end record",
            o.video == "-" ? "standard input" : o.video.c_str(), static_cast<unsigned long long>(i), got, frameBytes);
      }
      frame = pixels.data();
    } else {
      frame = screen->frame(i).data();
    }
    // Frame i is shown at round(i * 1000 / fps) ms; its interval's audio
    // starts no later, so it goes first.
    audio.emitUntil(out, (i + 1) * kSampleRate / o.fps, o.audio, stopped);
    out.emitRecord(kVideoRecord, frameTime, frame, frameBytes);
    if (live || o.realtime) out.flush();
  }
  // Sound that outlasts the pictures still goes out, an interval at a time.
  if (audio.file >= 0) {
    for (std::uint64_t k = i + 1; !stopped && stopRequests() == 0 && audio.emitUntil(out, k * kSampleRate / o.fps, o.audio, stopped);
         ++k) {
    }
  }
  out.end();
  return 0;
}
