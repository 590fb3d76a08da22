// Expected FLV bytes, built from the format's layout rather than from the
// filter's code.
#pragma once

#include <bit>
#include <string>

#include "support/capture.h"

inline Bytes be(std::uint64_t v, int n) {
  Bytes b;
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// File header, PreviousTagSize0 and the 121-byte onMetaData tag: 145 bytes.
inline Bytes flvStart(std::uint32_t w, std::uint32_t h) {
  return cat({hexBytes("46 4C 56 01 05 00 00 00 09  00 00 00 00  12 00 00 79 00 00 00 00 00 00 00"
                       "02 00 0A 6F 6E 4D 65 74 61 44 61 74 61  08 00 00 00 05"
                       "00 05 77 69 64 74 68 00"),
              be(std::bit_cast<std::uint64_t>(static_cast<double>(w)), 8),
              hexBytes("00 06 68 65 69 67 68 74 00"),
              be(std::bit_cast<std::uint64_t>(static_cast<double>(h)), 8),
              hexBytes("00 0C 76 69 64 65 6F 63 6F 64 65 63 69 64 00 40 08 00 00 00 00 00 00"
                       "00 0C 63 61 6E 53 65 65 6B 54 6F 45 6E 64 01 01"
                       "00 0F 6D 65 74 61 64 61 74 61 63 72 65 61 74 6F 72 02 00 08 54 61 6C 76 65 6E 6B 6F"
                       "00 00 09")});
}

inline Bytes tagHeader(std::uint32_t previous, std::uint8_t type, std::uint32_t dataSize, std::uint32_t time) {
  return cat({be(previous, 4), Bytes{type}, be(dataSize, 3), be(time & 0xFFFFFF, 3), Bytes{static_cast<std::uint8_t>(time >> 24)},
              be(0, 3)});
}

inline std::string startLine(std::uint32_t w, std::uint32_t h) {
  return "PROCESSANDO VIDEO: " + std::to_string(w) + "x" + std::to_string(h) + "\n";
}
