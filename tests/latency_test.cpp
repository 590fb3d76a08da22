// Live use: each record's tag reaches the consumer while the producer still
// holds the pipe open, before the next record is sent.
#include <gtest/gtest.h>
#include <poll.h>
#include <fcntl.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/capture.h"
#include "support/flv_expect.h"
#include "support/run.h"

namespace {

class LiveFilter {
 public:
  explicit LiveFilter(std::vector<std::string> args = {}) {
    int in[2], out[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      std::signal(SIGPIPE, SIG_DFL);  // as a shell would start it
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 2);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<char*> argv{const_cast<char*>("cap2flv")};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(filterPath().c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toFilter_ = in[1];
    fromFilter_ = out[0];
  }
  ~LiveFilter() { wait(); }
  // Closes both pipes and returns the exit status, or 128 + the signal.
  int wait() {
    if (toFilter_ >= 0) ::close(toFilter_);
    if (fromFilter_ >= 0) ::close(fromFilter_);
    toFilter_ = fromFilter_ = -1;
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }
  void closeOutput() {
    ::close(fromFilter_);
    fromFilter_ = -1;
  }
  void send(const Bytes& bytes) { ASSERT_EQ(::write(toFilter_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Like send, but the filter may be gone already.
  void offer(const Bytes& bytes) { (void)!::write(toFilter_, bytes.data(), bytes.size()); }
  void closeInput() {
    ::close(toFilter_);
    toFilter_ = -1;
  }
  // Reads exactly n bytes, waiting at most a generous 20 s for each chunk;
  // returns what arrived.
  Bytes receive(std::size_t n) {
    Bytes got;
    std::uint8_t buf[65536];
    while (got.size() < n) {
      pollfd p{fromFilter_, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) break;
      ssize_t r = ::read(fromFilter_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }
  // Reads one whole tag with the PreviousTagSize in front of it.
  Bytes receiveTag() {
    Bytes tag = receive(15);
    if (tag.size() < 15) return tag;
    const std::size_t dataSize = std::size_t{tag[5]} << 16 | std::size_t{tag[6]} << 8 | tag[7];
    const Bytes data = receive(dataSize);
    tag.insert(tag.end(), data.begin(), data.end());
    return tag;
  }
  bool atEnd() {
    std::uint8_t b;
    return ::read(fromFilter_, &b, 1) == 0;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int toFilter_ = -1, fromFilter_ = -1;
};

TEST(Latency, EachTagLeavesBeforeTheNextRecordIsSent) {
  const std::uint32_t w = 64, h = 48;
  const std::size_t frameTag = 15 + 5 + 4 * 13 + 3 * w * h;
  LiveFilter filter;
  filter.send(Capture(w, h).bytes());
  EXPECT_EQ(filter.receive(145), flvStart(w, h)) << "the FLV start leaves before the first record";
  for (std::uint32_t i = 0; i < 3; ++i) {
    Bytes video = Capture(w, h).video(40 * i, randomBytes(4 * w * h, i)).bytes();
    filter.send(slice(video, 8, video.size() - 8));
    const Bytes tag = filter.receive(frameTag);
    ASSERT_EQ(tag.size(), frameTag) << "video tag " << i << " held back";
    EXPECT_EQ(tag[4], 9);
    Bytes audio = Capture(w, h).audio(40 * i, randomBytes(7056, 100 + i)).bytes();
    filter.send(slice(audio, 8, audio.size() - 8));
    const Bytes audioTag = filter.receive(15 + 1 + 7056);
    ASSERT_EQ(audioTag.size(), 15u + 1 + 7056) << "audio tag " << i << " held back";
    EXPECT_EQ(audioTag[4], 8);
  }
  filter.closeInput();
  EXPECT_EQ(filter.receive(4), be(11 + 1 + 7056, 4));
  EXPECT_TRUE(filter.atEnd());
}

// With compressed blocks and inter frames too: each frame's tag, whole, before
// the next record is sent.
TEST(Latency, EachTagLeavesBeforeTheNextRecordIsSentWithEveryOption) {
  const std::uint32_t w = 64, h = 48;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--compact"},
                                               {"--level", "1", "--keyint", "3", "--block", "16", "--threads", "2"},
                                               {"--level", "0", "--block", "256", "--threads", "1"}}) {
    SCOPED_TRACE(args.front() + " " + args.back());
    LiveFilter filter(args);
    filter.send(Capture(w, h).bytes());
    EXPECT_EQ(filter.receive(145), flvStart(w, h));
    for (std::uint32_t i = 0; i < 4; ++i) {
      // Frames 1 and 2 are equal: an inter frame with nothing in it must still leave.
      Bytes video = Capture(w, h).video(40 * i, randomBytes(4 * w * h, i == 2 ? 1 : i)).bytes();
      filter.send(slice(video, 8, video.size() - 8));
      const Bytes tag = filter.receiveTag();
      ASSERT_GE(tag.size(), 15u + 5) << "video tag " << i << " held back";
      EXPECT_EQ(tag[4], 9);
      EXPECT_EQ(tag.size(), 15u + (std::size_t{tag[5]} << 16 | std::size_t{tag[6]} << 8 | tag[7]));
      Bytes audio = Capture(w, h).audio(40 * i, randomBytes(7056, 100 + i)).bytes();
      filter.send(slice(audio, 8, audio.size() - 8));
      ASSERT_EQ(filter.receive(15 + 1 + 7056).size(), 15u + 1 + 7056) << "audio tag " << i << " held back";
    }
    filter.closeInput();
    EXPECT_EQ(filter.receive(4), be(11 + 1 + 7056, 4));
    EXPECT_TRUE(filter.atEnd());
    EXPECT_EQ(filter.wait(), 0);
  }
}

TEST(Latency, AConsumerThatLeavesEndsTheFilterLikeAnyOther) {
  // Our own writes to a pipe nobody reads must not kill the test process.
  auto* previous = std::signal(SIGPIPE, SIG_IGN);
  LiveFilter filter;
  filter.send(Capture(8, 8).bytes());
  EXPECT_EQ(filter.receive(145).size(), 145u);
  filter.closeOutput();
  Bytes video = Capture(8, 8).video(0, Bytes(256)).bytes();
  filter.offer(slice(video, 8, video.size() - 8));
  filter.offer(slice(video, 8, video.size() - 8));
  EXPECT_EQ(filter.wait(), 128 + SIGPIPE);
  std::signal(SIGPIPE, previous);
}

}  // namespace
