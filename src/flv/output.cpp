#include "flv/output.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pipes.h"

namespace {

int outputFd = 1;
int outputError = 0;

// Large enough for every tag header and an audio record of a frame interval;
// video frames bypass it through writev.
constexpr std::size_t kOutBufSize = 64 * 1024;
std::uint8_t outBuf[kOutBufSize];
std::size_t outLen = 0;

// Writes the given vectors completely, restarting after partial writes and
// signals. Leaves the iovec array modified.
void writeAll(iovec* iov, int count) {
  while (count > 0 && outputError == 0) {
    ssize_t put = ::writev(outputFd, iov, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      // A descriptor in non-blocking mode (set by whoever gave it to us) is
      // only full for now: wait for room rather than cut the tag.
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(outputFd, POLLOUT)) continue;
      outputError = errno;
      return;
    }
    if (put == 0) {
      outputError = EIO;
      return;
    }
    auto done = static_cast<std::size_t>(put);
    while (count > 0 && done >= iov->iov_len) {
      done -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<std::uint8_t*>(iov->iov_base) + done;
      iov->iov_len -= done;
    }
  }
}

}  // namespace

void writeBytes(const void* data, std::size_t n) {
  if (outputError != 0 || n == 0) return;
  if (n <= kOutBufSize - outLen) {
    std::memcpy(outBuf + outLen, data, n);
    outLen += n;
    return;
  }
  iovec iov[2] = {{outBuf, outLen}, {const_cast<void*>(data), n}};
  if (outLen == 0) {
    writeAll(iov + 1, 1);
  } else {
    writeAll(iov, 2);
  }
  outLen = 0;
}

bool flushOutput() {
  if (outLen > 0 && outputError == 0) {
    iovec iov{outBuf, outLen};
    writeAll(&iov, 1);
  }
  outLen = 0;
  return outputError == 0;
}

bool outputFailed() { return outputError != 0; }

int outputErrno() { return outputError; }

void resetOutput(int fd) {
  outputFd = fd;
  outputError = 0;
  outLen = 0;
}

void enlargeOutputPipe() { enlargePipe(outputFd); }
