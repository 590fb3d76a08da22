#include "capture/input.h"

#include <unistd.h>

#include <cerrno>

#include "flv/output.h"
#include "pipes.h"

namespace {

int inputFd = 0;
int inputError = 0;

// One read() may not exceed this (Linux caps transfers just below 2 GiB).
constexpr std::size_t kMaxReadChunk = std::size_t{1} << 30;

}  // namespace

std::size_t readInput(std::uint8_t* dst, std::size_t n) {
  // Output tied to input: nothing of an earlier record waits in our buffer
  // while we block on the producer. A failed flush stops the reading, since
  // the run is over anyway.
  if (!flushOutput() || inputError != 0) return 0;
  std::size_t got = 0;
  while (got < n) {
    const InputWait wait = waitForInput(inputFd);
    if (wait == InputWait::Stop) break;
    if (wait == InputWait::Error) {
      inputError = errno;
      break;
    }
    const std::size_t want = n - got < kMaxReadChunk ? n - got : kMaxReadChunk;
    ssize_t r = ::read(inputFd, dst + got, want);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      inputError = errno;
      break;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

int inputErrno() { return inputError; }

void resetInput(int fd) {
  inputFd = fd;
  inputError = 0;
}

void enlargeInputPipe() { enlargePipe(inputFd); }
