// Video tags: one Screen Video key frame per video record.
#pragma once

#include <cstdint>

// Writes the progress line and one video tag holding the coded frame, the
// first length bytes of frameData. The frame is coded in full before this is
// called, so a record that fails on the way leaves no half tag behind.
void processVideo(std::uint32_t time, const std::uint8_t* frameData, std::uint32_t length);
