// flvverify: checks that standard input is a well-formed cap2flv output.
// Prints the tag count, or the first fault; exit status 0 when well formed.
#include <cstdio>
#include <vector>

#include "flv_verify.h"

int main() {
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.insert(data.end(), chunk, chunk + n);
  FlvReport report = verifyFlv(data.data(), data.size());
  if (!report.ok) {
    std::fprintf(stderr, "flvverify: %s\n", report.error.c_str());
    return 1;
  }
  std::printf("ok: %zu tags%s\n", report.tags.size(), report.empty ? " (empty output)" : "");
  return 0;
}
