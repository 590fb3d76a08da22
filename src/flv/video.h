// Video tags: one Screen Video key frame per video record.
#pragma once

#include <cstddef>
#include <cstdint>

// Codes the frame in pixelData into frameData, then writes the progress line
// and one video tag holding it. Returns false, having written nothing, when
// the frame cannot be coded.
bool processVideo(std::uint32_t time, const std::uint8_t* pixelData, std::uint32_t w,
                  std::uint32_t h, std::uint8_t* frameData, std::size_t frameDataSize);
