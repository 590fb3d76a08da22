#include "mp3/encoder.h"

#include <lame/lame.h>

#include <cstring>
#include <new>

namespace mp3 {

namespace {

// Samples (per channel) handed to LAME in one call, and the room its output
// can need for them (LAME's own rule: 1.25 n + 7200).
constexpr int kChunk = 4 * kSamplesPerFrame;
constexpr std::size_t kOutRoom = kChunk * 5 / 4 + 7200;
// Unframed output kept between calls: less than one frame, plus one call's.
constexpr std::size_t kOutSize = 2 * kOutRoom;

constexpr unsigned kBitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// Length of the MPEG-1 Layer III frame whose header is at p, or 0 if p does
// not start one at 44.1 kHz.
std::size_t frameLength(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFA) return 0;  // sync, MPEG-1, Layer III
  const unsigned index = p[2] >> 4;
  if (index == 0 || index == 15 || ((p[2] >> 2) & 3) != 0) return 0;
  const unsigned padding = (p[2] >> 1) & 1;
  return 144000 * kBitrates[index - 1] / kSampleRate + padding;
}

}  // namespace

bool validBitrate(unsigned kbps) {
  for (unsigned b : kBitrates) {
    if (b == kbps) return true;
  }
  return false;
}

Encoder::Encoder(unsigned kbps, Emit emit)
    : kbps_(kbps), emit_(std::move(emit)), samplesBuf_(new short[2 * kChunk]), out_(new std::uint8_t[kOutSize]) {}

Encoder::~Encoder() {
  if (lame_ != nullptr) lame_close(lame_);
}

void Encoder::startSegment(std::uint32_t time) {
  if (lame_ != nullptr) lame_close(lame_);
  lame_ = lame_init();
  if (lame_ == nullptr) throw std::bad_alloc();
  lame_set_in_samplerate(lame_, kSampleRate);
  lame_set_out_samplerate(lame_, kSampleRate);
  lame_set_num_channels(lame_, 2);
  lame_set_mode(lame_, JOINT_STEREO);
  lame_set_VBR(lame_, vbr_off);
  lame_set_brate(lame_, static_cast<int>(kbps_));
  lame_set_quality(lame_, 5);
  lame_set_bWriteVbrTag(lame_, 0);  // a stream, not a file: no Xing frame
  // Known before any sample: the segment's first frame is left out when it
  // would be stamped before 0, and the next must then decode on its own.
  // (LAME's encoder delay is 576 samples at this rate.)
  dropFirst_ = std::int64_t{time} * kSampleRate < std::int64_t{576 + kDecoderDelay} * 1000;
  lame_set_disable_reservoir(lame_, dropFirst_ ? 1 : 0);
  if (lame_init_params(lame_) < 0) throw std::bad_alloc();
  delay_ = static_cast<std::uint32_t>(lame_get_encoder_delay(lame_)) + kDecoderDelay;
  active_ = true;
  start_ = time;
  samples_ = frames_ = 0;
  carried_ = 0;
  outLen_ = 0;
}

void Encoder::beginRecord(std::uint32_t time) {
  if (active_) {
    // Where the samples counted so far say this record should start.
    const std::int64_t counted = start_ + static_cast<std::int64_t>(samples_ * 1000 / kSampleRate);
    const std::int64_t drift = std::int64_t{time} - (counted & 0xFFFFFFFF);
    if (drift <= kResyncMs && drift >= -kResyncMs) return;
    flush();
  }
  startSegment(time);
}

void Encoder::feed(const std::uint8_t* pcm, std::size_t bytes) {
  if (!active_) return;  // only after beginRecord
  while (bytes > 0) {
    // Little-endian sample pairs into host shorts, a chunk at a time.
    std::size_t count = 0;
    std::uint8_t pair[4];
    while (count < kChunk && carried_ + bytes >= 4) {
      std::memcpy(pair, carry_, carried_);
      std::memcpy(pair + carried_, pcm, 4 - carried_);
      pcm += 4 - carried_;
      bytes -= 4 - carried_;
      carried_ = 0;
      samplesBuf_[2 * count] = static_cast<short>(pair[0] | pair[1] << 8);
      samplesBuf_[2 * count + 1] = static_cast<short>(pair[2] | pair[3] << 8);
      ++count;
    }
    if (count == 0) {
      std::memcpy(carry_ + carried_, pcm, bytes);
      carried_ += bytes;
      return;
    }
    encode(samplesBuf_.get(), static_cast<int>(count));
  }
}

void Encoder::encode(const short* samples, int count) {
  const int n = lame_encode_buffer_interleaved(lame_, const_cast<short*>(samples), count, out_.get() + outLen_,
                                               static_cast<int>(kOutSize - outLen_));
  samples_ += static_cast<std::uint64_t>(count);
  if (n > 0) outLen_ += static_cast<std::size_t>(n);
  takeFrames();
}

void Encoder::flush() {
  if (!active_) return;
  const int n = lame_encode_flush(lame_, out_.get() + outLen_, static_cast<int>(kOutSize - outLen_));
  if (n > 0) outLen_ += static_cast<std::size_t>(n);
  takeFrames();
  active_ = false;
}

// Cuts whole frames off the front of the output and emits each with its time.
void Encoder::takeFrames() {
  std::size_t pos = 0;
  while (outLen_ - pos >= 4) {
    const std::size_t len = frameLength(out_.get() + pos);
    if (len == 0 || len > outLen_ - pos) break;
    const bool drop = frames_ == 0 && dropFirst_;
    // The time of the frame's first sample, to the nearest millisecond; only
    // a dropped first frame would come before the segment's start.
    const std::int64_t first = static_cast<std::int64_t>(frames_ * kSamplesPerFrame) - delay_;
    const std::int64_t time = start_ + (first * 2000 + kSampleRate) / (2 * std::int64_t{kSampleRate});
    ++frames_;
    if (!drop) emit_({out_.get() + pos, len}, static_cast<std::uint32_t>(time & 0xFFFFFFFF));
    pos += len;
  }
  std::memmove(out_.get(), out_.get() + pos, outLen_ - pos);
  outLen_ -= pos;
}

}  // namespace mp3
