#include "flv/audio.h"

#include "flv/fields.h"
#include "flv/output.h"
#include "log.h"

namespace {

// SoundFormat 3 (PCM, little-endian) in bits 7-4, SoundRate 3 (44 kHz) in
// bits 3-2, SoundSize 1 (16-bit) in bit 1, SoundType 1 (stereo) in bit 0.
constexpr std::uint8_t kPcmLe44k16Stereo = 3 << 4 | 3 << 2 | 1 << 1 | 1;
// SoundFormat 2: MP3.
constexpr std::uint8_t kMp344k16Stereo = 2 << 4 | 3 << 2 | 1 << 1 | 1;

std::uint8_t audioHeader = 0;
std::uint32_t nrAudioFrame = 0;

void writeAudioTag(Log& log, std::uint8_t soundByte, std::uint32_t time, std::uint32_t size, const std::uint8_t* data) {
  log.progress("Audio - time:%u - count:%u - tam:%u\n", time, nrAudioFrame, size);
  ++nrAudioFrame;
  writeTagHeader(flv::kTagAudio, size + 1, time);
  writeByte(soundByte);
  writeBytes(data, size);
}

}  // namespace

void makeSoundPropertiesByte() { audioHeader = kPcmLe44k16Stereo; }

void processAudioU16(Log& log, std::uint32_t time, std::uint32_t size, const std::uint8_t* data) {
  writeAudioTag(log, audioHeader, time, size, data);
}

void processAudioMp3(Log& log, std::uint32_t time, std::uint32_t size, const std::uint8_t* data) {
  writeAudioTag(log, kMp344k16Stereo, time, size, data);
}

std::uint32_t audioPieceTime(std::uint32_t time, std::uint64_t offset) {
  return static_cast<std::uint32_t>(time + offset * 1000 / flv::kPcmBytesPerSecond);
}
