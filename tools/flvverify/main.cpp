// flvverify: checks that standard input is a well-formed cap2flv output.
// Prints the tag count, or the first fault; exit status 0 when well formed,
// 1 at a fault, 2 on a bad argument.
#include <cstdio>
#include <cstring>
#include <vector>

#include "flv_verify.h"

#ifndef CAP2FLV_VERSION
#define CAP2FLV_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      std::printf("usage: flvverify < file.flv\n       flvverify --help | --version\n");
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::printf("flvverify %s\n", CAP2FLV_VERSION);
      return 0;
    }
    std::fprintf(stderr, "flvverify: unexpected argument '%s' (flvverify --help for usage)\n", argv[1]);
    return 2;
  }
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
