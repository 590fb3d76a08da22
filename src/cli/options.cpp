#include "cli/options.h"

#include <charconv>
#include <string_view>

#include "mp3/encoder.h"

namespace cli {

namespace {

// --compact, chosen by measuring recordings of a real desktop (bench/desktop.sh):
// level 8 on 96-pixel blocks was the smallest output short of level 9, which
// costs 40 % more CPU for 1 % less; a key frame every 100 frames (4 s at
// 25 fps) adds under a tenth to the size and lets a late viewer start soon.
constexpr int kCompactLevel = 8;
constexpr std::uint32_t kCompactKeyint = 100;
constexpr std::uint32_t kCompactBlock = 96;

constexpr unsigned kMaxThreads = 256;
constexpr std::uint32_t kMaxKeyint = 1'000'000;

struct Explicit {
  bool level = false, keyint = false, block = false;
};

bool parseNumber(std::string_view text, std::uint32_t min, std::uint32_t max, std::uint32_t& value) {
  std::uint32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) return false;
  value = v;
  return true;
}

Parsed error(std::string message) {
  Parsed p;
  p.action = Parsed::Action::Error;
  p.message = std::move(message);
  return p;
}

}  // namespace

const char* usage() {
  return "usage: cap2flv [options] < capture > output.flv\n"
         "\n"
         "Reads a capture stream on standard input and writes FLV (Screen Video,\n"
         "PCM sound) to standard output. With no option every frame is a key frame\n"
         "of stored 32x32 blocks, exactly as always.\n"
         "\n"
         "  --compact      preset for recording a desktop: --level 8 --keyint 100\n"
         "                 --block 96 (options given explicitly win)\n"
         "  --level N      zlib level of the blocks, 0 (stored, default) to 9\n"
         "  --keyint N     a key frame every N video frames (default 1); the frames\n"
         "                 between send only the blocks that changed\n"
         "  --block N      block side in pixels, 16 to 256 in steps of 16 (default 32)\n"
         "  --threads N    coding workers, 1 to 256 (default: one per core); applies\n"
         "                 whenever an option above departs from its default\n"
         "  --audio-codec pcm|mp3\n"
         "                 sound as it comes (pcm, default) or as MP3 (LAME, constant\n"
         "                 bit rate); --compact leaves the sound as it is\n"
         "  --audio-bitrate KBPS\n"
         "                 MP3 bit rate: 32 40 48 56 64 80 96 112 128 (default) 160 192\n"
         "                 224 256 320\n"
         "  -q, --quiet    no start or progress lines; errors are still reported\n"
         "  --help         this text\n"
         "  --version      the version\n";
}

Options optionsFromBytes(std::uint8_t a, std::uint8_t b) {
  static constexpr std::uint32_t keyints[] = {1, 2, 3, 100};
  Options o;
  o.level = a % 10;
  o.keyint = keyints[(a / 10) % 4];
  o.block = 16 * (1 + (b + 1u) % 16);
  o.threads = 1 + (b >> 4) % 3u;
  o.mp3 = (a / 40) % 2 == 1;
  return o;
}

Parsed parseOptions(int argc, const char* const* argv) {
  Parsed parsed;
  Options& o = parsed.options;
  Explicit given;
  bool compact = false, bitrateGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg, value;
    bool hasValue = false;
    if (arg.starts_with("--")) {
      if (const auto eq = arg.find('='); eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        hasValue = true;
      }
    }
    if (name == "--help" || name == "-h") {
      if (hasValue) return error(std::string(name) + " takes no value");
      parsed.action = Parsed::Action::Help;
      return parsed;
    }
    if (name == "--version") {
      if (hasValue) return error("--version takes no value");
      parsed.action = Parsed::Action::Version;
      return parsed;
    }
    if (name == "-q" || name == "--quiet") {
      if (hasValue) return error(std::string(name) + " takes no value");
      o.quiet = true;
      continue;
    }
    if (name == "--compact") {
      if (hasValue) return error("--compact takes no value");
      compact = true;
      continue;
    }
    if (name == "--audio-codec") {
      if (!hasValue) {
        if (i + 1 >= argc) return error("--audio-codec needs a value");
        value = argv[++i];
      }
      if (value != "pcm" && value != "mp3") {
        return error("--audio-codec needs pcm or mp3, not '" + std::string(value) + "'");
      }
      o.mp3 = value == "mp3";
      continue;
    }
    struct Numeric {
      std::string_view name;
      std::uint32_t min, max;
      const char* what;
    };
    static constexpr Numeric numerics[] = {
        {"--level", 0, 9, "a level from 0 to 9"},
        {"--keyint", 1, kMaxKeyint, "a number of frames from 1 to 1000000"},
        {"--block", 16, 256, "a side from 16 to 256 in steps of 16"},
        {"--threads", 1, kMaxThreads, "a number of workers from 1 to 256"},
        {"--audio-bitrate", 32, 320, "an MP3 bit rate (32 40 48 56 64 80 96 112 128 160 192 224 256 320)"},
    };
    const Numeric* n = nullptr;
    for (const auto& candidate : numerics) {
      if (candidate.name == name) n = &candidate;
    }
    if (n == nullptr) {
      if (arg.starts_with("-") && arg.size() > 1) return error("unknown option '" + std::string(arg) + "'");
      return error("unexpected argument '" + std::string(arg) + "'");
    }
    if (!hasValue) {
      if (i + 1 >= argc) return error(std::string(name) + " needs a value");
      value = argv[++i];
    }
    std::uint32_t v = 0;
    if (!parseNumber(value, n->min, n->max, v) || (name == "--block" && v % 16 != 0) ||
        (name == "--audio-bitrate" && !mp3::validBitrate(v))) {
      return error(std::string(name) + " needs " + n->what + ", not '" + std::string(value) + "'");
    }
    if (name == "--level") {
      o.level = static_cast<int>(v);
      given.level = true;
    } else if (name == "--keyint") {
      o.keyint = v;
      given.keyint = true;
    } else if (name == "--block") {
      o.block = v;
      given.block = true;
    } else if (name == "--threads") {
      o.threads = v;
    } else {
      o.audioBitrate = v;
      bitrateGiven = true;
    }
  }
  if (bitrateGiven && !o.mp3) return error("--audio-bitrate applies to --audio-codec mp3 only");
  if (compact) {
    if (!given.level) o.level = kCompactLevel;
    if (!given.keyint) o.keyint = kCompactKeyint;
    if (!given.block) o.block = kCompactBlock;
  }
  return parsed;
}

}  // namespace cli
