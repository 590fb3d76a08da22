#include "picture.h"

#include <algorithm>
#include <cmath>

namespace {

// 3x5 digit glyphs, one row a nibble, bit 2 the left column.
const std::uint8_t kGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

constexpr double kPi = 3.14159265358979323846;

}  // namespace

SyntheticScreen::SyntheticScreen(std::uint32_t w, std::uint32_t h)
    : w_(w), h_(h), desktop_(std::size_t{4} * w * h), frame_(desktop_.size()) {
  // A vertical gradient desktop, a taskbar, and three windows.
  for (std::uint32_t y = 0; y < h_; ++y) {
    const auto shade = static_cast<std::uint32_t>(40 + 80 * y / (h_ ? h_ : 1));
    fill(desktop_, 0, y, w_, y + 1, 0x10 << 16 | (shade / 2) << 8 | shade);
  }
  const std::int64_t W = w_, H = h_;
  fill(desktop_, 0, H - std::max<std::int64_t>(H / 20, 1), W, H, 0x202830);
  window(desktop_, W / 16, H / 12, W / 2, H / 2, 0x3060C0, 1);
  window(desktop_, W / 2, H / 3, W * 2 / 5, H / 2, 0x409040, 2);
  window(desktop_, W / 5, H * 3 / 5, W / 3, H / 4, 0xA04040, 3);
}

void SyntheticScreen::fill(std::vector<std::uint8_t>& px, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                           std::int64_t y1, std::uint32_t rgb) {
  x0 = std::clamp<std::int64_t>(x0, 0, w_);
  x1 = std::clamp<std::int64_t>(x1, 0, w_);
  y0 = std::clamp<std::int64_t>(y0, 0, h_);
  y1 = std::clamp<std::int64_t>(y1, 0, h_);
  for (std::int64_t y = y0; y < y1; ++y) {
    std::uint8_t* p = px.data() + 4 * (static_cast<std::size_t>(y) * w_ + static_cast<std::size_t>(x0));
    for (std::int64_t x = x0; x < x1; ++x, p += 4) {
      p[0] = 0;
      p[1] = static_cast<std::uint8_t>(rgb >> 16);
      p[2] = static_cast<std::uint8_t>(rgb >> 8);
      p[3] = static_cast<std::uint8_t>(rgb);
    }
  }
}

void SyntheticScreen::window(std::vector<std::uint8_t>& px, std::int64_t x, std::int64_t y, std::int64_t ww,
                             std::int64_t wh, std::uint32_t title, std::uint32_t seed) {
  const std::int64_t bar = std::max<std::int64_t>(wh / 12, 2);
  fill(px, x, y, x + ww, y + wh, 0xF4F4F0);
  fill(px, x, y, x + ww, y + bar, title);
  // Lines of "words": dark marks of pseudo-random lengths.
  std::uint32_t state = seed * 2654435761u;
  const std::int64_t line = std::max<std::int64_t>(bar * 2 / 3, 3);
  for (std::int64_t ty = y + bar + line; ty + line / 2 < y + wh - line; ty += line) {
    for (std::int64_t tx = x + line; tx < x + ww - line;) {
      state = state * 1103515245u + 12345u;
      const std::int64_t word = line * (1 + (state >> 16) % 5);
      fill(px, tx, ty, std::min(tx + word, x + ww - line), ty + line / 2, 0x303030);
      tx += word + line;
    }
  }
}

void SyntheticScreen::digits(std::uint64_t value, std::int64_t x, std::int64_t y, std::int64_t scale) {
  char text[24];
  int n = 0;
  do {
    text[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  fill(frame_, x - scale, y - scale, x + (4 * n) * scale, y + 6 * scale, 0x000000);
  for (int k = 0; k < n; ++k) {
    const auto& glyph = kGlyphs[text[n - 1 - k] - '0'];
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (glyph[row] >> (2 - col) & 1) {
          const std::int64_t gx = x + (4 * k + col) * scale, gy = y + row * scale;
          fill(frame_, gx, gy, gx + scale, gy + scale, 0xFFFF40);
        }
  }
}

const std::vector<std::uint8_t>& SyntheticScreen::frame(std::uint64_t i) {
  frame_ = desktop_;
  const std::int64_t W = w_, H = h_;
  // A small window slides left to right and back, one full trip every 4 s at 25 fps.
  const std::int64_t ww = std::max<std::int64_t>(W / 6, 1), wh = std::max<std::int64_t>(H / 6, 1);
  const std::int64_t span = std::max<std::int64_t>(W - ww, 1);
  const auto phase = static_cast<std::int64_t>(i % 100);
  const std::int64_t x = (phase < 50 ? phase : 100 - phase) * span / 50;
  window(frame_, x, H / 2 - wh / 2, ww, wh, 0xC08020, 4);
  digits(i, W - W / 4, H / 20 + 1, std::max<std::int64_t>(H / 60, 1));
  return frame_;
}

void toneSamples(std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& out) {
  out.resize(4 * count);
  for (std::uint64_t k = 0; k < count; ++k) {
    const double t = static_cast<double>(first + k) / 44100.0;
    const auto v = static_cast<std::int16_t>(std::lround(8000.0 * std::sin(2 * kPi * 440.0 * t)));
    const auto u = static_cast<std::uint16_t>(v);
    for (std::uint64_t ch = 0; ch < 2; ++ch) {
      out[4 * k + 2 * ch] = static_cast<std::uint8_t>(u);
      out[4 * k + 2 * ch + 1] = static_cast<std::uint8_t>(u >> 8);
    }
  }
}
