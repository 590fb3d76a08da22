#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace {

// Returns false when the line could not be written whole.
bool writeLine(const char* format, va_list args) {
  char line[512];
  const int n = std::vsnprintf(line, sizeof line, format, args);
  if (n < 0) return true;
  std::size_t left = static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
  const char* p = line;
  while (left > 0) {
    const ssize_t put = ::write(2, p, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    left -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

void Log::progress(const char* format, ...) {
  if (!progress_ || broken_) return;
  va_list args;
  va_start(args, format);
  broken_ = !writeLine(format, args);
  va_end(args);
}

void Log::error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  broken_ = !writeLine(format, args) || broken_;
  va_end(args);
}
