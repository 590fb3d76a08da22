// Video tags: each carries one Screen Video body (a key or an inter frame).
#pragma once

#include <cstdint>

class Log;

// Writes the progress line and one video tag holding the coded frame, the
// first length bytes of frameData. The frame is coded in full before this is
// called, so a record that fails on the way leaves no half tag behind.
void processVideo(Log& log, std::uint32_t time, const std::uint8_t* frameData, std::uint32_t length);
