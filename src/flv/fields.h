// FLV and AMF0 field writers and the tag chain.
//
// Every byte of the FLV stream goes through these writers. FLV and AMF0 are
// big-endian throughout; putBE below is the one place that knows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace flv {

constexpr std::uint8_t kTagAudio = 8;
constexpr std::uint8_t kTagVideo = 9;
constexpr std::uint8_t kTagScript = 18;

constexpr std::uint32_t kTagHeaderSize = 11;      // type, size, time, time-ext, stream id
constexpr std::uint32_t kMaxDataSize = 0xFFFFFF;  // DataSize is 24 bits

}  // namespace flv

// Size of the last tag written (11 + its DataSize); 0 before the first tag,
// which is exactly what PreviousTagSize0 must hold.
extern std::uint32_t lastTagSize;

// Stores the low n bytes of v at p, most significant first.
void putBE(std::uint8_t* p, std::uint64_t v, int n);

void writeByte(std::uint8_t v);
void writeUI16(std::uint16_t v);
void writeUI24(std::uint32_t v);  // bits 24-31 are dropped
void writeUnsignedInt(std::uint32_t v);
void writeTimestamp(std::uint32_t time);
void writeDouble(double v);
void writeString(std::string_view s);  // characters only: no length, no terminator

// Starts a tag: PreviousTagSize, TagType, DataSize, the time and StreamID 0.
// The caller writes exactly dataSize bytes of Data right after; lastTagSize
// then describes this tag. dataSize must fit 24 bits.
void writeTagHeader(std::uint8_t tagType, std::uint32_t dataSize, std::uint32_t time);
