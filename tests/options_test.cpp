// The command line: what each option sets, the preset and its overrides, and
// how the binary answers help, version and mistakes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "cli/options.h"
#include "support/capture.h"
#include "support/run.h"

namespace {

cli::Parsed parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"cap2flv"};
  argv.insert(argv.end(), args);
  return cli::parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, EachOptionAndThePreset) {
  struct Case {
    std::initializer_list<const char*> args;
    int level;
    std::uint32_t keyint, block;
    unsigned threads;
    bool quiet;
  };
  const Case cases[] = {
      {{}, 0, 1, 32, 0, false},
      {{"--level", "9"}, 9, 1, 32, 0, false},
      {{"--level=1", "--keyint=3", "--block=256", "--threads=2"}, 1, 3, 256, 2, false},
      {{"--block", "16", "-q"}, 0, 1, 16, 0, true},
      {{"--quiet", "--keyint", "1000000"}, 0, 1000000, 32, 0, true},
      {{"--compact"}, 8, 100, 96, 0, false},
      // Explicit options win over the preset, before or after it.
      {{"--level", "1", "--compact", "--block", "64"}, 1, 100, 64, 0, false},
      {{"--compact", "--keyint", "12"}, 8, 12, 96, 0, false},
      {{"--level", "0", "--compact"}, 0, 100, 96, 0, false},
  };
  const cli::Parsed mp3 = parse({"--audio-bitrate", "64", "--audio-codec", "mp3", "--compact"});
  ASSERT_EQ(mp3.action, cli::Parsed::Action::Run) << mp3.message;
  EXPECT_TRUE(mp3.options.mp3);
  EXPECT_EQ(mp3.options.audioBitrate, 64u);
  EXPECT_FALSE(parse({"--compact"}).options.mp3) << "the preset leaves the sound as it is";
  EXPECT_EQ(parse({"--audio-codec=mp3"}).options.audioBitrate, 128u);
  for (const auto& c : cases) {
    const cli::Parsed p = parse(c.args);
    std::string what;
    for (const char* a : c.args) what += std::string(a) + " ";
    ASSERT_EQ(p.action, cli::Parsed::Action::Run) << what << p.message;
    EXPECT_EQ(p.options.level, c.level) << what;
    EXPECT_EQ(p.options.keyint, c.keyint) << what;
    EXPECT_EQ(p.options.block, c.block) << what;
    EXPECT_EQ(p.options.threads, c.threads) << what;
    EXPECT_EQ(p.options.quiet, c.quiet) << what;
  }
  EXPECT_TRUE(parse({}).options.classic());
  EXPECT_TRUE(parse({"--level", "0", "--keyint", "1", "--block", "32", "--threads", "4"}).options.classic());
  EXPECT_FALSE(parse({"--block", "48"}).options.classic());
}

TEST(Options, MistakesAreOneLineWithStatus2AndNoOutput) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--level", "10"}, "cap2flv: --level needs a level from 0 to 9, not '10'\n"},
      {{"--level", "-1"}, "cap2flv: --level needs a level from 0 to 9, not '-1'\n"},
      {{"--level=x"}, "cap2flv: --level needs a level from 0 to 9, not 'x'\n"},
      {{"--level", ""}, "cap2flv: --level needs a level from 0 to 9, not ''\n"},
      {{"--keyint", "0"}, "cap2flv: --keyint needs a number of frames from 1 to 1000000, not '0'\n"},
      {{"--block", "40"}, "cap2flv: --block needs a side from 16 to 256 in steps of 16, not '40'\n"},
      {{"--block", "272"}, "cap2flv: --block needs a side from 16 to 256 in steps of 16, not '272'\n"},
      {{"--block", "0"}, "cap2flv: --block needs a side from 16 to 256 in steps of 16, not '0'\n"},
      {{"--threads", "0"}, "cap2flv: --threads needs a number of workers from 1 to 256, not '0'\n"},
      {{"--threads", "4294967297"}, "cap2flv: --threads needs a number of workers from 1 to 256, not '4294967297'\n"},
      {{"--level"}, "cap2flv: --level needs a value\n"},
      {{"--compact=1"}, "cap2flv: --compact takes no value\n"},
      {{"--quiet=yes"}, "cap2flv: --quiet takes no value\n"},
      {{"--bogus"}, "cap2flv: unknown option '--bogus'\n"},
      {{"-x"}, "cap2flv: unknown option '-x'\n"},
      {{"capture.raw"}, "cap2flv: unexpected argument 'capture.raw'\n"},
      {{"-q", "--level", "3", "extra"}, "cap2flv: unexpected argument 'extra'\n"},
      {{"--audio-codec", "aac"}, "cap2flv: --audio-codec needs pcm or mp3, not 'aac'\n"},
      {{"--audio-codec"}, "cap2flv: --audio-codec needs a value\n"},
      {{"--audio-codec=mp3", "--audio-bitrate", "100"},
       "cap2flv: --audio-bitrate needs an MP3 bit rate (32 40 48 56 64 80 96 112 128 160 192 224 256 320), not '100'\n"},
      {{"--audio-codec=mp3", "--audio-bitrate", "512"},
       "cap2flv: --audio-bitrate needs an MP3 bit rate (32 40 48 56 64 80 96 112 128 160 192 224 256 320), not '512'\n"},
      {{"--audio-bitrate", "128"}, "cap2flv: --audio-bitrate applies to --audio-codec mp3 only\n"},
  };
  const Bytes input = Capture(8, 8).end().bytes();
  for (const auto& [args, line] : cases) {
    RunOptions o;
    o.args = args;
    const RunResult r = runFilter(input, o);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(r.err, line);
    EXPECT_TRUE(r.out.empty()) << line;
  }
}

TEST(Options, HelpAndVersionGoToStandardOutput) {
  RunOptions help;
  help.args = {"--help"};
  const RunResult h = runFilter({}, help);
  EXPECT_EQ(h.status, 0);
  EXPECT_TRUE(h.err.empty());
  const std::string text(h.out.begin(), h.out.end());
  for (const char* option : {"--compact", "--level", "--keyint", "--block", "--threads", "--audio-codec", "--audio-bitrate",
                             "--quiet", "--help", "--version"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
  RunOptions version;
  version.args = {"--version"};
  const RunResult v = runFilter({}, version);
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(std::string(v.out.begin(), v.out.end()), std::string("cap2flv ") + CAP2FLV_VERSION + "\n");
}

TEST(Options, QuietKeepsTheStreamAndTheErrorLine) {
  const Bytes good = Capture(8, 8).video(0, randomBytes(256, 1)).audio(0, Bytes(40)).end().bytes();
  const Bytes bad = Capture(8, 8).video(0, Bytes(12)).bytes();
  for (const char* mode : {"", "--level=1"}) {
    RunOptions loud, quiet;
    if (*mode) loud.args = {mode};
    quiet.args = loud.args;
    quiet.args.push_back("-q");
    const RunResult a = runFilter(good, loud), b = runFilter(good, quiet);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(a.out, b.out) << mode;
    EXPECT_FALSE(a.err.empty());
    EXPECT_EQ(b.err, "") << mode;
    const RunResult c = runFilter(bad, quiet);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err, "ERRO tam:256 != 12\n") << mode;
  }
}

}  // namespace
