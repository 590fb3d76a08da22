#include "flv/fields.h"

#include <bit>
#include <cassert>

#include "flv/output.h"

std::uint32_t lastTagSize = 0;

void putBE(std::uint8_t* p, std::uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}

namespace {

void writeBE(std::uint64_t v, int n) {
  std::uint8_t b[8];
  putBE(b, v, n);
  writeBytes(b, static_cast<std::size_t>(n));
}

}  // namespace

void writeByte(std::uint8_t v) { writeBytes(&v, 1); }
void writeUI16(std::uint16_t v) { writeBE(v, 2); }
void writeUI24(std::uint32_t v) { writeBE(v, 3); }
void writeUnsignedInt(std::uint32_t v) { writeBE(v, 4); }

// FLV keeps the low 24 bits of the time first and its top byte last
// (TimestampExtended): t3 t2 t1 t0 goes out as t2 t1 t0 t3.
void writeTimestamp(std::uint32_t time) {
  writeUI24(time);
  writeByte(static_cast<std::uint8_t>(time >> 24));
}

void writeDouble(double v) { writeBE(std::bit_cast<std::uint64_t>(v), 8); }

void writeString(std::string_view s) { writeBytes(s.data(), s.size()); }

void writeTagHeader(std::uint8_t tagType, std::uint32_t dataSize, std::uint32_t time) {
  assert(dataSize <= flv::kMaxDataSize);
  writeUnsignedInt(lastTagSize);
  writeByte(tagType);
  writeUI24(dataSize);
  writeTimestamp(time);
  writeUI24(0);  // StreamID
  lastTagSize = dataSize + flv::kTagHeaderSize;
}
