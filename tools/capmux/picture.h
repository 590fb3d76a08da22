// The synthetic screen: a desktop with windows and lines of text-like marks,
// a window that slides across it and a large frame counter, so a viewer sees
// motion and would notice a dropped frame.
#pragma once

#include <cstdint>
#include <vector>

class SyntheticScreen {
 public:
  SyntheticScreen(std::uint32_t w, std::uint32_t h);
  // Frame i in capture order: 4 bytes a pixel (ignored, red, green, blue).
  const std::vector<std::uint8_t>& frame(std::uint64_t i);

 private:
  void fill(std::vector<std::uint8_t>& px, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
            std::uint32_t rgb);
  void window(std::vector<std::uint8_t>& px, std::int64_t x, std::int64_t y, std::int64_t ww, std::int64_t wh,
              std::uint32_t title, std::uint32_t seed);
  void digits(std::uint64_t value, std::int64_t x, std::int64_t y, std::int64_t scale);

  std::uint32_t w_, h_;
  std::vector<std::uint8_t> desktop_;  // everything that does not move, drawn once
  std::vector<std::uint8_t> frame_;
};

// Stereo 16-bit little-endian samples of a 440 Hz tone, from sample index
// first on, count sample frames.
void toneSamples(std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& out);
