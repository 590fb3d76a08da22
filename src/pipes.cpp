#include "pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "signals.h"

namespace {

// After a first stop signal, a record still arriving is finished if its
// bytes keep coming; this long without one, the input counts as stalled.
constexpr int kStallMs = 500;

// More than this buys nothing measurable and pins kernel memory.
constexpr long kWantedPipeSize = 8L * 1024 * 1024;

long pipeMaxSize() {
  std::FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "r");
  if (f == nullptr) return 1024L * 1024;  // the usual default for unprivileged users
  long size = 0;
  if (std::fscanf(f, "%ld", &size) != 1) size = 0;
  std::fclose(f);
  return size;
}

}  // namespace

void enlargePipe(int fd) {
#ifdef F_SETPIPE_SZ
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  long size = pipeMaxSize();
  if (size > kWantedPipeSize) size = kWantedPipeSize;
  // Someone else may have made it larger already: keep that.
  const long current = ::fcntl(fd, F_GETPIPE_SZ);
  // Refusals (EPERM over a user's pipe quota, EBUSY when the data in it
  // would not fit) keep what it has: a smaller pipe is slower, never wrong.
  // Try halves down to the default before giving up.
  for (; size >= 128L * 1024 && size > current; size /= 2) {
    if (::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(size)) >= 0) return;
  }
#else
  (void)fd;
#endif
}

bool waitReady(int fd, short events) {
  pollfd p{fd, events, 0};
  for (;;) {
    if (::poll(&p, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

InputWait waitForInput(int fd) {
  for (;;) {
    // The signalfd is read only when poll says a signal is waiting, so the
    // common case costs the poll alone.
    const int stops = stopsCounted();
    if (stops >= 2) return InputWait::Stop;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd(), POLLIN, 0}};
    const int ready = ::poll(fds, stopFd() >= 0 ? 2 : 1, stops == 1 ? kStallMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return InputWait::Error;
    }
    if (fds[1].revents != 0) {
      // A second signal, or one that came while nothing arrived.
      if (stopRequests() >= 2 || fds[0].revents == 0) return InputWait::Stop;
    }
    if (fds[0].revents != 0) return InputWait::Ready;
    if (ready == 0) return InputWait::Stop;  // stalled after a first signal
  }
}
