// The edges of I/O with real descriptors: standard error that goes away,
// pipes in non-blocking mode on either side, pipes already larger than we
// would make them, and the audio record sizes around one tag's limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "flv_verify.h"
#include "support/capture.h"
#include "support/process.h"
#include "support/run.h"

namespace {

using namespace std::chrono_literals;

// A capture with many tags (and so many progress lines), and its output
// from an ordinary run.
struct Sample {
  std::string path;
  Bytes capture, flv;
};

Sample makeSample(std::uint32_t w, std::uint32_t h, int frames) {
  Capture c(w, h);
  for (int i = 0; i < frames; ++i) {
    const auto t = static_cast<std::uint32_t>(40 * i);
    const auto seed = static_cast<std::uint32_t>(i);
    c.audio(t, randomBytes(7056, seed)).video(t, randomBytes(std::size_t{4} * w * h, 50 + seed));
  }
  Sample s;
  s.capture = c.end().bytes();
  s.path = tempDir() + "/in.cap";
  writeFile(s.path, s.capture);
  const RunResult r = runFilter(s.capture);
  EXPECT_EQ(r.status, 0);
  s.flv = r.out;
  return s;
}

RunOptions withArgs(std::vector<std::string> args) {
  RunOptions o;
  o.args = std::move(args);
  return o;
}

int openRead(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
int openWrite(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); }

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads everything from fd, pausing now and then like a consumer that is
// momentarily slower than the producer.
Bytes drainSlowly(int fd) {
  Bytes all;
  std::uint8_t buf[65536];
  std::this_thread::sleep_for(300ms);  // let the pipe fill first
  for (ssize_t r; (r = ::read(fd, buf, sizeof buf)) != 0;) {
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    all.insert(all.end(), buf, buf + r);
    if (all.size() % (1 << 20) < static_cast<std::size_t>(r)) std::this_thread::sleep_for(20ms);
  }
  return all;
}

// Writes bytes to fd in a few pieces with pauses between, like a producer
// that is momentarily slower than the filter.
void feedSlowly(int fd, const Bytes& bytes) {
  const std::size_t piece = bytes.size() / 5 + 1;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    for (std::size_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, bytes.data() + at + done, n - done);
      if (w <= 0) return;
      done += static_cast<std::size_t>(w);
    }
    std::this_thread::sleep_for(60ms);
  }
}

TEST(IoEdges, StandardErrorThatGoesAwayLeavesTheStreamWhole) {
  const Sample s = makeSample(64, 48, 30);
  const std::string dir = tempDir();
  enum class Err { Closed, ReaderLeavesAfterOneByte, ReaderGoneBeforeStart };
  for (Err how : {Err::Closed, Err::ReaderLeavesAfterOneByte, Err::ReaderGoneBeforeStart}) {
    SCOPED_TRACE(static_cast<int>(how));
    int errPipe[2] = {-1, -1};
    if (how != Err::Closed) {
      ASSERT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
    }
    if (how == Err::ReaderGoneBeforeStart) ::close(errPipe[0]);
    const int in = openRead(s.path), out = openWrite(dir + "/out.flv");
    const pid_t pid = spawn({filterPath()}, in, out, errPipe[1]);
    ::close(in);
    ::close(out);
    if (errPipe[1] >= 0) ::close(errPipe[1]);
    if (how == Err::ReaderLeavesAfterOneByte) {
      std::uint8_t b;
      EXPECT_EQ(::read(errPipe[0], &b, 1), 1);
      ::close(errPipe[0]);
    }
    EXPECT_EQ(waitExit(pid), 0);
    EXPECT_TRUE(readFile(dir + "/out.flv") == s.flv) << "the FLV must not depend on standard error";
  }
}

TEST(IoEdges, NonBlockingOutputPipeWithASlowConsumer) {
  // Larger than the pipe can grow to, so the filter meets a full pipe.
  const Sample s = makeSample(640, 480, 12);
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  setNonBlocking(p[1]);
  const int in = openRead(s.path), devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = spawn({filterPath()}, in, p[1], devnull);
  ::close(in);
  ::close(p[1]);
  const Bytes got = drainSlowly(p[0]);
  ::close(p[0]);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_TRUE(got == s.flv) << "output differs from a blocking run (" << got.size() << " of " << s.flv.size() << " bytes)";

  // capmux's output the same way.
  const std::vector<std::string> args{capmuxPath(), "--size", "640x480", "--seconds", "1"};
  const RunResult blocking = runProgram(capmuxPath(), {}, withArgs({args.begin() + 1, args.end()}));
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  setNonBlocking(p[1]);
  const pid_t mux = spawn(args, devnull, p[1], devnull);
  ::close(p[1]);
  const Bytes muxed = drainSlowly(p[0]);
  ::close(p[0]);
  ::close(devnull);
  EXPECT_EQ(waitExit(mux), 0);
  EXPECT_TRUE(muxed == blocking.out) << "capmux output differs from a blocking run";
}

TEST(IoEdges, NonBlockingInputPipeWithASlowProducer) {
  const Sample s = makeSample(320, 240, 8);
  const std::string dir = tempDir();
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  setNonBlocking(p[0]);
  const int out = openWrite(dir + "/out.flv"), devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = spawn({filterPath()}, p[0], out, devnull);
  ::close(p[0]);
  ::close(out);
  feedSlowly(p[1], s.capture);
  ::close(p[1]);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_TRUE(readFile(dir + "/out.flv") == s.flv);

  // capmux reading frames from a non-blocking standard input.
  const Bytes frames = randomBytes(4 * 32 * 32 * 6, 77);
  writeFile(dir + "/frames.raw", frames);
  const RunResult blocking =
      runProgram(capmuxPath(), {}, withArgs({"--size", "32x32", "--video", dir + "/frames.raw"}));
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  setNonBlocking(p[0]);
  const int muxOut = openWrite(dir + "/mux.cap");
  const pid_t mux = spawn({capmuxPath(), "--size", "32x32", "--video", "-"}, p[0], muxOut, devnull);
  ::close(p[0]);
  ::close(muxOut);
  ::close(devnull);
  feedSlowly(p[1], frames);
  ::close(p[1]);
  EXPECT_EQ(waitExit(mux), 0);
  EXPECT_TRUE(readFile(dir + "/mux.cap") == blocking.out);
}

// The system's pipe-max-size for the length of a test, raised when this user
// may (a pipe can only be made larger than our target when the limit is above
// it), and put back afterwards.
class PipeMaxSize {
 public:
  explicit PipeMaxSize(long wanted) : old_(read()) {
    if (old_ > 0 && old_ < wanted) raised_ = write(wanted);
  }
  ~PipeMaxSize() {
    if (raised_) write(old_);
  }

 private:
  static long read() {
    long v = 0;
    std::FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "r");
    if (f == nullptr) return 0;
    if (std::fscanf(f, "%ld", &v) != 1) v = 0;
    std::fclose(f);
    return v;
  }
  static bool write(long v) {
    std::FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "w");
    if (f == nullptr) return false;
    const bool ok = std::fprintf(f, "%ld\n", v) > 0;
    return std::fclose(f) == 0 && ok;
  }
  long old_;
  bool raised_ = false;
};

TEST(IoEdges, APipeAlreadyLargerThanOurTargetKeepsItsSize) {
  constexpr int kLarge = 16 << 20;  // above the 8 MiB we would ask for
  const PipeMaxSize limit(kLarge);
  int in[2], out[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  if (::fcntl(in[1], F_SETPIPE_SZ, kLarge) < 0 || ::fcntl(out[1], F_SETPIPE_SZ, kLarge) < 0) {
    GTEST_SKIP() << "this user may neither make a 16 MiB pipe nor raise pipe-max-size";
  }
  const Bytes capture = Capture(8, 8).end().bytes();
  ASSERT_EQ(::write(in[1], capture.data(), capture.size()), static_cast<ssize_t>(capture.size()));
  ::close(in[1]);
  const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = spawn({filterPath()}, in[0], out[1], devnull);
  ::close(devnull);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_EQ(::fcntl(in[0], F_GETPIPE_SZ), kLarge);
  EXPECT_EQ(::fcntl(out[0], F_GETPIPE_SZ), kLarge);
  for (int fd : {in[0], out[0], out[1]}) ::close(fd);
}

// A write that fails part way through a tag (here a file size limit) cannot
// keep that tag whole: the output is then exactly what was written before the
// failure, a prefix of the full stream, and the run says so.
TEST(IoEdges, AWriteThatFailsMidTagLeavesAPrefixAndAnErrorLine) {
  const Sample s = makeSample(64, 48, 20);
  RunOptions o;
  o.fileSizeLimit = 100000;  // inside the 9th or so video tag
  o.stdoutPath = tempDir() + "/limited.flv";
  writeFile(o.stdoutPath, {});
  const RunResult r = runFilter(s.capture, o);
  EXPECT_EQ(r.status, 1);
  const std::string last = "ERRO escrita: File too large\n";
  ASSERT_GE(r.err.size(), last.size());
  EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last);
  const Bytes out = readFile(o.stdoutPath);
  ASSERT_EQ(out.size(), 100000u);
  EXPECT_TRUE(out == slice(s.flv, 0, out.size()));
}

// One tag holds up to 16,777,214 bytes of sound; only larger records are cut,
// into pieces of whole stereo frames.
TEST(IoEdges, AudioRecordsAroundTheLimitOfOneTag) {
  struct Case {
    std::uint32_t size;
    std::vector<std::uint32_t> pieces;
    std::string lines;
  };
  const Case cases[] = {
      {16777212, {16777212}, "Audio - time:0 - count:0 - tam:16777212\n"},
      {16777213, {16777213}, "Audio - time:0 - count:0 - tam:16777213\n"},
      {16777214, {16777214}, "Audio - time:0 - count:0 - tam:16777214\n"},
      {16777215, {16777212, 3}, "Audio - time:0 - count:0 - tam:16777212\nAudio - time:95108 - count:1 - tam:3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const Bytes payload = randomBytes(c.size, c.size);
    const RunResult r = runFilter(Capture(0, 0).audio(0, payload).end().bytes());
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "PROCESSANDO VIDEO: 0x0\n" + c.lines);
    const FlvReport report = verifyFlv(r.out.data(), r.out.size());
    ASSERT_TRUE(report.ok) << report.error;
    ASSERT_EQ(report.tags.size(), c.pieces.size());
    Bytes joined;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(report.tags[i].dataSize, c.pieces[i] + 1);
      const Bytes piece = slice(r.out, report.tags[i].dataOffset + 1, report.tags[i].dataSize - 1);
      joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_TRUE(joined == payload);
  }
}

}  // namespace
