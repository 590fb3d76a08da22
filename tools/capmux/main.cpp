// capmux: writes a capture stream for cap2flv on standard output.
//
//   capmux --size WxH [--fps N] [--seconds S] [--video FILE|-] [--audio FILE]
//
// Without --video it draws S seconds of a synthetic screen; with it, it packs
// raw frames (4 bytes a pixel: ignored, red, green, blue, as FFmpeg's 0rgb).
// Audio is 16-bit little-endian stereo PCM at 44.1 kHz, from --audio or a
// 440 Hz tone for the synthetic screen, cut into one record per frame
// interval. Errors: one line on standard error, exit status 2.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture.h"

namespace {

constexpr std::uint8_t kVideoRecord = 1, kAudioRecord = 2, kEndRecord = 255;
constexpr std::uint64_t kSampleRate = 44100;
constexpr std::size_t kSampleFrameBytes = 4;  // 16-bit stereo
constexpr std::uint32_t kMaxSide = 4095;

const char kUsage[] = "usage: capmux --size WxH [--fps N] [--seconds S] [--video FILE|-] [--audio FILE]\n";

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
    if (i + 1 >= argc) die("%s needs a value\n%s", arg.c_str(), kUsage);
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
    } else if (arg == "--audio") {
      o.audio = value;
    } else {
      die("unknown argument '%s'\n%s", arg.c_str(), kUsage);
    }
  }
  if (!sized) die("--size WxH is required\n%s", kUsage);
  return o;
}

void putLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void emit(const void* data, std::size_t n) {
  if (n > 0 && std::fwrite(data, 1, n, stdout) != n) die("cannot write the capture stream: %s", std::strerror(errno));
}

std::uint32_t lastTime = 0;

void emitRecord(std::uint8_t type, std::uint32_t time, const std::uint8_t* payload, std::size_t size) {
  lastTime = time;
  std::uint8_t header[9];
  header[0] = type;
  putLE32(header + 1, time);
  putLE32(header + 5, static_cast<std::uint32_t>(size));
  emit(header, sizeof header);
  emit(payload, size);
}

// Reads up to n bytes; fewer only at the end of the file.
std::size_t readUpTo(std::FILE* f, std::uint8_t* dst, std::size_t n, const std::string& name) {
  const std::size_t got = std::fread(dst, 1, n, f);
  if (got < n && std::ferror(f)) die("cannot read %s: %s", name.c_str(), std::strerror(errno));
  return got;
}

// The audio side: a file, a tone, or nothing.
struct AudioSource {
  std::FILE* file = nullptr;
  bool tone = false;
  std::uint64_t nextSample = 0;  // index of the next sample frame to go out
  std::vector<std::uint8_t> buf;

  // Emits the samples from nextSample up to (not including) sample frame
  // end as one record timed by its first sample. Returns false once a file
  // has nothing more to give.
  bool emitUntil(std::uint64_t end, const std::string& name) {
    if ((file == nullptr && !tone) || end <= nextSample) return file != nullptr;
    const std::uint64_t count = end - nextSample;
    const auto time = static_cast<std::uint32_t>(nextSample * 1000 / kSampleRate);
    if (tone) {
      toneSamples(nextSample, count, buf);
    } else {
      buf.resize(count * kSampleFrameBytes);
      buf.resize(readUpTo(file, buf.data(), buf.size(), name));
      if (buf.empty()) return false;
    }
    emitRecord(kAudioRecord, time, buf.data(), buf.size());
    nextSample = end;
    return true;
  }
};

std::FILE* openInput(const std::string& name) {
  if (name == "-") return stdin;
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) die("cannot open %s: %s", name.c_str(), std::strerror(errno));
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parseArgs(argc, argv);
  static char outBuf[1 << 20];
  std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);

  AudioSource audio;
  if (!o.audio.empty()) {
    if (o.audio == "-" && o.video == "-") die("--video and --audio cannot both read standard input");
    audio.file = openInput(o.audio);
  } else {
    audio.tone = o.video.empty();
  }
  std::FILE* video = o.video.empty() ? nullptr : openInput(o.video);
  const bool live = video == stdin;

  std::uint8_t header[8];
  putLE32(header, o.w);
  putLE32(header + 4, o.h);
  emit(header, sizeof header);

  const std::size_t frameBytes = std::size_t{4} * o.w * o.h;
  const auto frameLimit = video == nullptr || o.secondsGiven
                              ? static_cast<std::uint64_t>(o.seconds * o.fps + 0.5)
                              : UINT64_MAX;
  SyntheticScreen* screen = video == nullptr ? new SyntheticScreen(o.w, o.h) : nullptr;
  std::vector<std::uint8_t> pixels(video != nullptr ? frameBytes : 0);

  std::uint64_t i = 0;
  for (; i < frameLimit; ++i) {
    const std::uint8_t* frame;
    if (video != nullptr) {
      const std::size_t got = readUpTo(video, pixels.data(), frameBytes, o.video);
      if (got == 0) break;
      if (got < frameBytes) {
        std::fflush(stdout);
        die("%s ends inside frame %llu (%zu of %zu bytes); the stream stops before it, without an end record",
            o.video == "-" ? "standard input" : o.video.c_str(), static_cast<unsigned long long>(i), got, frameBytes);
      }
      frame = pixels.data();
    } else {
      frame = screen->frame(i).data();
    }
    // Frame i is shown at round(i * 1000 / fps) ms; its interval's audio
    // starts no later, so it goes first.
    audio.emitUntil((i + 1) * kSampleRate / o.fps, o.audio);
    emitRecord(kVideoRecord, static_cast<std::uint32_t>((i * 1000 + o.fps / 2) / o.fps), frame, frameBytes);
    if (live) std::fflush(stdout);
  }
  // Sound that outlasts the pictures still goes out, an interval at a time.
  if (audio.file != nullptr) {
    for (std::uint64_t k = i + 1; audio.emitUntil(k * kSampleRate / o.fps, o.audio); ++k) {
    }
  }
  // The end record's time means nothing; keeping the last one keeps the
  // whole stream in time order.
  emitRecord(kEndRecord, lastTime, nullptr, 0);
  delete screen;
  if (std::fflush(stdout) != 0) die("cannot write the capture stream: %s", std::strerror(errno));
  return 0;
}
