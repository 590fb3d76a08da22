// Builds capture streams for the tests, byte by byte as a producer sends them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "capture/input.h"
#include "support/run.h"

class Capture {
 public:
  Capture(std::uint32_t w, std::uint32_t h) : w_(w), h_(h) {
    le32(w);
    le32(h);
  }
  Capture& record(std::uint8_t type, std::uint32_t time, std::uint32_t size, const Bytes& payload = {}) {
    bytes_.push_back(type);
    le32(time);
    le32(size);
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
  }
  Capture& video(std::uint32_t time, const Bytes& pixels) {
    return record(1, time, static_cast<std::uint32_t>(pixels.size()), pixels);
  }
  Capture& audio(std::uint32_t time, const Bytes& samples) {
    return record(2, time, static_cast<std::uint32_t>(samples.size()), samples);
  }
  Capture& end(std::uint32_t time = 0, std::uint32_t size = 0) { return record(255, time, size); }
  Capture& raw(const Bytes& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }
  std::size_t frameBytes() const { return std::size_t{4} * w_ * h_; }

 private:
  void le32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::uint32_t w_, h_;
  Bytes bytes_;
};

inline Bytes randomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

inline Bytes hexBytes(const char* hex) {
  Bytes b;
  int nibble = -1;
  for (const char* p = hex; *p; ++p) {
    int v = (*p >= '0' && *p <= '9') ? *p - '0' : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10 : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10 : -1;
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      b.push_back(static_cast<std::uint8_t>(nibble << 4 | v));
      nibble = -1;
    }
  }
  return b;
}

inline Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

struct CaptureRecord {
  std::uint8_t type;
  std::uint32_t time;
  Bytes payload;
};

// Splits a capture stream into its records; whole is false when it ends
// inside one (that record is then cut short).
inline std::vector<CaptureRecord> captureRecords(const Bytes& stream, bool& whole) {
  std::vector<CaptureRecord> out;
  std::size_t pos = 8;
  whole = true;
  while (pos + 9 <= stream.size()) {
    CaptureRecord r{stream[pos], capture::readLE32(&stream[pos + 1]), {}};
    const std::uint32_t size = capture::readLE32(&stream[pos + 5]);
    pos += 9;
    const std::size_t n = std::min<std::size_t>(size, stream.size() - pos);
    whole = whole && n == size;
    r.payload = slice(stream, pos, n);
    pos += n;
    out.push_back(r);
  }
  whole = whole && pos == stream.size();
  return out;
}
