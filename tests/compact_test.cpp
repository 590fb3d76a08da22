// Compressed and inter-frame Screen Video, end to end: FFmpeg decodes every
// frame bit-exactly, flvmeta finds no error, unchanged blocks cost nothing
// and frames that cannot fit one tag still arrive whole.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "flv_verify.h"
#include "screenvideo/compact_encoder.h"
#include "support/capture.h"
#include "support/clients.h"
#include "support/run.h"

namespace {

// Windows with lines of glyph-like dots on a plain background: compresses
// like a desktop, unlike noise.
Bytes desktopFrame(std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
  std::mt19937 engine(seed);
  auto rng = [&] { return static_cast<std::uint32_t>(engine()); };
  Bytes px(std::size_t{4} * w * h);
  auto put = [&](std::uint32_t x, std::uint32_t y, std::uint32_t rgb) {
    std::uint8_t* p = px.data() + 4 * (std::size_t{y} * w + x);
    p[0] = 0;
    p[1] = static_cast<std::uint8_t>(rgb >> 16);
    p[2] = static_cast<std::uint8_t>(rgb >> 8);
    p[3] = static_cast<std::uint8_t>(rgb);
  };
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) put(x, y, 0x204060);
  }
  for (int win = 0; win < 4 && w > 0 && h > 0; ++win) {
    const std::uint32_t x0 = rng() % w, y0 = rng() % h;
    const std::uint32_t x1 = std::min(w, x0 + 1 + rng() % (w / 2 + 1)), y1 = std::min(h, y0 + 1 + rng() % (h / 2 + 1));
    const std::uint32_t paper = rng() & 0xFFFFFF, ink = rng() & 0xFFFFFF;
    for (std::uint32_t y = y0; y < y1; ++y) {
      for (std::uint32_t x = x0; x < x1; ++x) {
        const bool dot = (y - y0) % 12 < 8 && ((x * 7 + y * 3 + seed) % 11 < 4);
        put(x, y, dot ? ink : paper);
      }
    }
  }
  return px;
}

struct Case {
  std::uint32_t w, h;
  std::vector<std::string> args;
  std::uint32_t keyint;
};

std::string describe(const Case& c) {
  std::string s = std::to_string(c.w) + "x" + std::to_string(c.h);
  for (const auto& a : c.args) s += " " + a;
  return s;
}

// The frames every case sends, chosen for what they make the encoder do.
std::vector<Bytes> framesFor(std::uint32_t w, std::uint32_t h) {
  const std::size_t n = std::size_t{4} * w * h;
  std::vector<Bytes> f;
  f.push_back(desktopFrame(w, h, 1));
  f.push_back(f.back());  // nothing changed
  Bytes some = f.back();  // one window moved: a few blocks change
  const Bytes other = desktopFrame(w, h, 2);
  for (std::size_t y = h / 3; y < h / 2; ++y) {
    for (std::size_t x = w / 4; x < w / 3; ++x) std::memcpy(some.data() + 4 * (y * w + x), other.data() + 4 * (y * w + x), 4);
  }
  f.push_back(some);
  f.push_back(randomBytes(n, 3));  // every block changes, none compresses
  Bytes ignored = f.back();        // only the byte decoders ignore differs
  for (std::size_t i = 0; i < n; i += 4) ignored[i] ^= 0x5A;
  f.push_back(ignored);
  f.push_back(desktopFrame(w, h, 4));
  Bytes corners = f.back();  // the first and the last pixel: top-left and bottom-right blocks
  if (n > 0) {
    corners[1] ^= 0xFF;
    corners[n - 1] ^= 0xFF;
  }
  f.push_back(corners);
  return f;
}

void checkCase(const Case& c) {
  SCOPED_TRACE(describe(c));
  const std::vector<Bytes> frames = framesFor(c.w, c.h);
  Capture capture(c.w, c.h);
  Bytes samples;
  for (std::uint32_t i = 0; i < frames.size(); ++i) {
    const Bytes pcm = randomBytes(7056, 100 + i);
    capture.audio(40 * i, pcm).video(40 * i, frames[i]);
    samples.insert(samples.end(), pcm.begin(), pcm.end());
  }
  RunOptions o;
  o.args = c.args;
  const RunResult r = runFilter(capture.end().bytes(), o);
  ASSERT_EQ(r.status, 0) << r.err;
  const FlvReport report = verifyFlv(r.out.data(), r.out.size());
  ASSERT_TRUE(report.ok) << report.error;

  // Frame types follow the key frame interval (a frame that leaves as
  // several tags starts with its key frame); a frame where nothing changed is
  // one tag: the header and an empty entry per 256-pixel block.
  std::vector<std::vector<const FlvTag*>> groups;
  for (const auto& t : report.tags) {
    if (t.type != 9) continue;
    if (groups.empty() || t.time != groups.back().front()->time) groups.emplace_back();
    groups.back().push_back(&t);
  }
  ASSERT_EQ(groups.size(), frames.size());
  const std::uint32_t bigBlocks = ((c.w + 255) / 256) * ((c.h + 255) / 256);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const bool key = i % c.keyint == 0;
    for (std::size_t k = 0; k < groups[i].size(); ++k) {
      EXPECT_EQ(r.out[groups[i][k]->dataOffset], key && k == 0 ? 0x13 : 0x23) << "frame " << i << " tag " << k;
    }
    if (!key && (i == 1 || i == 4)) {  // nothing changed; then only the ignored bytes
      ASSERT_EQ(groups[i].size(), 1u);
      EXPECT_EQ(groups[i][0]->dataSize, 5 + 2 * bigBlocks) << "frame " << i;
    }
  }

  const std::string dir = tempDir(), flv = dir + "/out.flv";
  writeFile(flv, r.out);
  const std::vector<Bytes> decoded = wholeFrames(r.out, decodeFrames(flv, c.w, c.h));
  if (c.w > 0 && c.h > 0) {
    ASSERT_EQ(decoded.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_TRUE(decoded[i] == bgr24(frames[i])) << "frame " << i << " decodes to other pixels";
    }
  }
  const auto [status, pcm] = shell("ffmpeg -v error -i '" + flv + "' -map 0:a -f s16le -c:a pcm_s16le -");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Bytes(pcm.begin(), pcm.end()) == samples) << "sound differs";
  EXPECT_EQ(flvmetaErrors(flv), "");
}

class CompactInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "flvmeta"}) ASSERT_TRUE(haveTool(tool)) << tool << " is missing";
  }
};

TEST_F(CompactInterop, OddSizesLevelsAndKeyIntervals) {
  const Case cases[] = {
      {1, 1, {"--level", "1", "--keyint", "3", "--block", "16", "--threads", "1"}, 3},
      {33, 65, {"--level", "6", "--keyint", "3", "--block", "48"}, 3},
      {1000, 17, {"--level", "9", "--keyint", "100000", "--block", "256"}, 100000},
      {1000, 17, {"--level", "0", "--keyint", "2", "--threads", "3"}, 2},
      {640, 480, {"--compact"}, 100},
      {640, 480, {"--compact", "--keyint", "1"}, 1},
      {0, 7, {"--level", "1", "--keyint", "2"}, 2},
  };
  for (const auto& c : cases) checkCase(c);
}

TEST_F(CompactInterop, EveryBlockSide) {
  // Sides above 144 cannot carry an incompressible block in 16 bits: those
  // frames go out as smaller blocks (the noise frame at level 0 forces it).
  const int levels[] = {0, 1, 6, 9};
  const std::uint32_t keyints[] = {1, 3, 1000};
  for (std::uint32_t side = 16, k = 0; side <= 256; side += 16, ++k) {
    const int level = levels[k % 4];
    const std::uint32_t keyint = keyints[k % 3];
    checkCase({300, 200,
               {"--block", std::to_string(side), "--level", std::to_string(level), "--keyint", std::to_string(keyint)},
               keyint});
  }
}

// 3840x2160 is accepted once blocks may be compressed; a frame of noise codes
// to more than one tag holds, so it leaves as a key frame with the blocks that
// fit and inter frames with the same time carrying the rest.
TEST_F(CompactInterop, FourKDesktopAndNoise) {
  const std::uint32_t w = 3840, h = 2160;
  const std::size_t n = std::size_t{4} * w * h;
  std::vector<Bytes> frames{desktopFrame(w, h, 9), randomBytes(n, 10), {}, randomBytes(n, 11)};
  frames[2] = frames[1];
  Capture capture(w, h);
  for (std::uint32_t i = 0; i < frames.size(); ++i) capture.video(40 * i, frames[i]);
  const std::string dir = tempDir(), capPath = dir + "/in.cap", flv = dir + "/out.flv";
  writeFile(capPath, capture.end().bytes());

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--level", "1"}, {"--level", "0", "--block", "256", "--keyint", "2"}}) {
    SCOPED_TRACE(args[1]);
    RunOptions o;
    o.args = args;
    o.stdinPath = capPath;
    o.args.push_back("-q");
    const RunResult r = runFilter({}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    ASSERT_TRUE(report.ok) << report.error;
    std::size_t tags = 0;
    for (const auto& t : report.tags) {
      EXPECT_LE(t.dataSize, 0xFFFFFFu);
      tags += t.type == 9;
    }
    EXPECT_GT(tags, frames.size()) << "noise frames must have been split";
    writeFile(flv, r.out);
    const std::vector<Bytes> whole = wholeFrames(r.out, decodeFrames(flv, w, h));
    ASSERT_EQ(whole.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(whole[i] == bgr24(frames[i])) << "frame " << i;
    EXPECT_EQ(flvmetaErrors(flv), "");
  }
  // Beyond what the format's 12-bit sides hold, still refused.
  RunOptions o;
  o.args = {"--level", "1"};
  const RunResult r = runFilter(Capture(4096, 16).end().bytes(), o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERRO dimensao: 4096x16\n");
  EXPECT_TRUE(r.out.empty());
}

// Key frames carry every block, but only blocks that changed are compressed
// again; and the number of workers never changes a byte.
TEST(Compact, KeyFramesReuseCodedBlocksAndThreadsDoNotChangeBytes) {
  const std::uint32_t w = 200, h = 100;  // 4 x 2 blocks of 64
  const Bytes a = desktopFrame(w, h, 5);
  Bytes b = a;
  b[4 * (50 * w + 20) + 2] ^= 0x10;  // one block changes
  screenvideo::CompactSettings s;
  s.level = 9;
  s.keyint = 1;
  s.blockSide = 64;
  s.threads = 2;
  screenvideo::CompactEncoder encoder(w, h, s);
  auto code = [&](const Bytes& frame) {
    std::memcpy(encoder.frameBuffer(), frame.data(), frame.size());
    encoder.encode();
    Bytes tag;
    for (auto body = encoder.nextPacket(); !body.empty(); body = encoder.nextPacket()) tag.assign(body.begin(), body.end());
    return tag;
  };
  const Bytes first = code(a);
  EXPECT_EQ(encoder.blocksCompressed(), 8u);
  const Bytes again = code(a);
  EXPECT_EQ(encoder.blocksCompressed(), 8u) << "an unchanged key frame compresses nothing";
  EXPECT_EQ(first, again);
  const Bytes changed = code(b);
  EXPECT_EQ(encoder.blocksCompressed(), 9u);
  EXPECT_NE(changed, first);
  EXPECT_EQ(changed[0], 0x13);

  const Bytes input = Capture(w, h).video(0, a).video(40, b).video(80, b).video(120, a).end().bytes();
  RunOptions o;
  o.args = {"--level", "9", "--keyint", "3", "--block", "64", "--threads", "1"};
  const RunResult one = runFilter(input, o);
  ASSERT_EQ(one.status, 0);
  o.args.back() = "7";
  const RunResult seven = runFilter(input, o);
  EXPECT_EQ(one.out, seven.out);
}

}  // namespace
