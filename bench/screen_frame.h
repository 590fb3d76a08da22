// A screen-like 32-bit frame for benchmarks: flat backgrounds, windows,
// lines of text-like marks. Bytes per pixel: ignored, red, green, blue.
#pragma once

#include <cstdint>
#include <vector>

std::vector<std::uint8_t> screenFrame(std::uint32_t w, std::uint32_t h, std::uint32_t seed);
