#include "pipes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

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
  // Refusals (EPERM over a user's pipe quota, EBUSY when shrinking) keep
  // the default: a smaller pipe is slower, never wrong. Try halves down to
  // the default before giving up.
  for (; size >= 128L * 1024; size /= 2) {
    if (::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(size)) >= 0) return;
  }
#else
  (void)fd;
#endif
}
