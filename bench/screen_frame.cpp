#include "screen_frame.h"

#include <random>

std::vector<std::uint8_t> screenFrame(std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
  std::vector<std::uint8_t> f(std::size_t{4} * w * h);
  std::mt19937 rng(seed);  // its values are 32-bit
  auto next = [&rng] { return static_cast<std::uint32_t>(rng()); };
  auto put = [&](std::uint32_t x, std::uint32_t y, std::uint32_t rgb) {
    std::uint8_t* p = &f[4 * (std::size_t{y} * w + x)];
    p[0] = 0;
    p[1] = static_cast<std::uint8_t>(rgb >> 16);
    p[2] = static_cast<std::uint8_t>(rgb >> 8);
    p[3] = static_cast<std::uint8_t>(rgb);
  };
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) put(x, y, 0x2060A0 + (y * 64 / (h + 1)));
  for (int win = 0; win < 6; ++win) {
    const std::uint32_t x0 = next() % (w / 2 + 1), y0 = next() % (h / 2 + 1);
    const std::uint32_t x1 = std::min(w, x0 + w / 3), y1 = std::min(h, y0 + h / 3);
    for (std::uint32_t y = y0; y < y1; ++y)
      for (std::uint32_t x = x0; x < x1; ++x) {
        const bool title = y < y0 + 20;
        const bool text = !title && (y - y0) % 16 < 9 && (next() % 3 == 0);
        put(x, y, title ? 0x3050C0 : text ? 0x101010 : 0xF0F0F0);
      }
  }
  return f;
}
