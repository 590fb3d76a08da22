// MP3 sound from 16-bit stereo PCM at 44.1 kHz, through LAME: constant bit
// rate, one MP3 frame (1,152 samples) at a time, each with the time of its
// first sample.
//
// Time stamps come from samples, not from record times. A run of contiguous
// sound (a segment) starts at the time of its first record; frame k of the
// segment is stamped
//     start + (1152 k - delay) / 44.1 ms,
// where delay is what the encoder and a decoder put in front of the sound
// (LAME's encoder delay + 529 samples of the decoder's filter bank), so a
// player that places each frame at its time plays every sample at its
// capture time. When that would put the first frame before time 0 (sound
// starting in the first 25 ms), that frame, which holds the delay and 1 ms of
// sound, is left out; its segment is then coded without the bit reservoir so
// the next frame decodes on its own.
//
// When a record's time is more than kResyncMs away from the time its
// samples would have by counting (a gap in the capture, a producer that
// restarted its sound), the segment is flushed and a new one starts at the
// record's time: sound stays in sync with video, the gap is silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

struct lame_global_struct;

namespace mp3 {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint32_t kSamplesPerFrame = 1152;
constexpr std::uint32_t kDecoderDelay = 529;
constexpr std::int64_t kResyncMs = 30;

// The bit rates MPEG-1 Layer III allows, in kbit/s.
bool validBitrate(unsigned kbps);

class Encoder {
 public:
  // One finished MP3 frame and the time of its first sample (ms, 32 bits).
  using Emit = std::function<void(std::span<const std::uint8_t> frame, std::uint32_t time)>;

  // Throws std::bad_alloc when LAME cannot be set up.
  Encoder(unsigned kbps, Emit emit);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // A record of sound stamped time begins; may end the current segment
  // (see above), which emits its last frames, and start a new one, which
  // throws std::bad_alloc when LAME cannot be set up.
  void beginRecord(std::uint32_t time);
  // Interleaved little-endian samples of the record, any number of bytes at
  // a time, after beginRecord; finished frames are emitted at once.
  void feed(const std::uint8_t* pcm, std::size_t bytes);
  // Ends the segment: the frames LAME still holds come out.
  void flush();

 private:
  void startSegment(std::uint32_t time);
  void encode(const short* samples, int count);
  void takeFrames();

  unsigned kbps_;
  Emit emit_;
  lame_global_struct* lame_ = nullptr;
  bool active_ = false;
  std::int64_t start_ = 0;        // segment's first sample time, ms (not wrapped)
  std::uint64_t samples_ = 0;     // samples fed in this segment
  std::uint64_t frames_ = 0;      // frames out of this segment
  std::uint32_t delay_ = 0;
  bool dropFirst_ = false;        // the segment's first frame would be stamped before 0
  std::uint8_t carry_[4] = {};    // part of a sample frame left from the last feed
  std::size_t carried_ = 0;
  std::unique_ptr<short[]> samplesBuf_;
  std::unique_ptr<std::uint8_t[]> out_;  // LAME output not yet cut into frames
  std::size_t outLen_ = 0;
};

}  // namespace mp3
