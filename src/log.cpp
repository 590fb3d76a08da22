#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

void logLine(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  std::size_t left = static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
  const char* p = line;
  // Diagnostics are best effort: a closed or full standard error must not
  // change what the filter does with its data.
  while (left > 0) {
    ssize_t put = ::write(2, p, left);
    if (put < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += put;
    left -= static_cast<std::size_t>(put);
  }
}
