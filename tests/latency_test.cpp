// Live use: each record's tag reaches the consumer while the producer still
// holds the pipe open, before the next record is sent.
#include <gtest/gtest.h>
#include <poll.h>
#include <fcntl.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "support/capture.h"
#include "support/flv_expect.h"
#include "support/run.h"

namespace {

class LiveFilter {
 public:
  LiveFilter() {
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
      ::execl(filterPath().c_str(), "cap2flv", static_cast<char*>(nullptr));
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
