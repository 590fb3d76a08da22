// The field writers: the only code that knows FLV's byte order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "flv/fields.h"
#include "flv/output.h"
#include "support/capture.h"

namespace {

// What the writers put on the stream, read back through a pipe.
Bytes written(const std::function<void()>& write) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  resetOutput(fds[1]);
  write();
  EXPECT_TRUE(flushOutput());
  ::close(fds[1]);
  Bytes out(64);
  ssize_t n = ::read(fds[0], out.data(), out.size());
  ::close(fds[0]);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  resetOutput(1);
  return out;
}

struct FieldCase {
  const char* name;
  std::function<void()> write;
  const char* hex;
};

TEST(FieldWriters, WriteBigEndianFieldsOfTheirWidth) {
  const FieldCase cases[] = {
      {"byte", [] { writeByte(0xAB); }, "AB"},
      {"UI16", [] { writeUI16(0x1234); }, "12 34"},
      {"UI24 of 121", [] { writeUI24(121); }, "00 00 79"},
      {"UI24 of 0", [] { writeUI24(0); }, "00 00 00"},
      {"UI24 drops bits 24-31", [] { writeUI24(0xAA123456); }, "12 34 56"},
      {"UnsignedInt", [] { writeUnsignedInt(0x84); }, "00 00 00 84"},
      {"timestamp 2^24", [] { writeTimestamp(1u << 24); }, "00 00 00 01"},
      {"timestamp t3 last", [] { writeTimestamp(0x01020304); }, "02 03 04 01"},
      {"timestamp max", [] { writeTimestamp(0xFFFFFFFF); }, "FF FF FF FF"},
      {"double 640", [] { writeDouble(640.0); }, "40 84 00 00 00 00 00 00"},
      {"double 3", [] { writeDouble(3.0); }, "40 08 00 00 00 00 00 00"},
      {"double 0", [] { writeDouble(0.0); }, "00 00 00 00 00 00 00 00"},
      {"string has no length or terminator", [] { writeString("FLV"); }, "46 4C 56"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(written(c.write), hexBytes(c.hex)) << c.name;
  }
}

TEST(TagChain, EachTagStartsWithTheSizeOfTheOneBefore) {
  lastTagSize = 0;
  Bytes out = written([] {
    writeTagHeader(flv::kTagAudio, 5, 1000);
    writeTagHeader(flv::kTagVideo, 0x0C12, 1u << 24);
  });
  EXPECT_EQ(out, hexBytes("00 00 00 00 08 00 00 05 00 03 E8 00 00 00 00"
                          "00 00 00 10 09 00 0C 12 00 00 00 01 00 00 00"));
  EXPECT_EQ(lastTagSize, 0x0C12u + 11);
  lastTagSize = 0;
}

}  // namespace
