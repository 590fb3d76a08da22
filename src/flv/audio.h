// Audio tags: 16-bit little-endian stereo PCM at 44.1 kHz, passed through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "flv/fields.h"

class Log;

namespace flv {

// Largest payload one audio tag carries: DataSize (24 bits) holds the
// sound-properties byte too. A record that fits goes out as it is; a larger
// one is cut into pieces of whole 4-byte stereo frames.
constexpr std::uint32_t kMaxAudioPayload = kMaxDataSize - 1;        // 16,777,214
constexpr std::uint32_t kMaxAudioPiece = kMaxAudioPayload / 4 * 4;  // 16,777,212
constexpr std::uint64_t kPcmBytesPerSecond = 44100 * 2 * 2;

}  // namespace flv

// Sets the sound-properties byte to 0x3F: PCM little-endian, 44 kHz, 16-bit, stereo.
void makeSoundPropertiesByte();

// Writes the progress line and one audio tag of size payload bytes.
// size must be at most flv::kMaxAudioPayload.
void processAudioU16(Log& log, std::uint32_t time, std::uint32_t size, const std::uint8_t* data);

// Writes the progress line and one audio tag holding one MP3 frame, with the
// sound byte 0x2F: MP3, 44 kHz, 16-bit, stereo.
void processAudioMp3(Log& log, std::uint32_t time, std::uint32_t size, const std::uint8_t* data);

// Time of the piece that starts offset bytes into a record stamped time:
// the record's time plus the duration of the samples before it, wrapped to
// 32 bits like every FLV time.
std::uint32_t audioPieceTime(std::uint32_t time, std::uint64_t offset);
