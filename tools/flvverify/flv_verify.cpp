#include "flv_verify.h"

#include <bit>
#include <cstring>

#include <zlib.h>

namespace {

std::uint64_t be(const std::uint8_t* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

const std::uint8_t kFileHeader[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
const std::uint8_t kOnMetaData[] = {0x02, 0x00, 0x0A, 'o', 'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a'};

// Reads the double that follows the key name at the given offset of the body.
bool findNumber(const std::uint8_t* body, std::size_t size, const char* key, double& value) {
  const std::size_t keyLen = std::strlen(key);
  for (std::size_t i = 0; i + 2 + keyLen + 9 <= size; ++i) {
    if (be(body + i, 2) == keyLen && std::memcmp(body + i + 2, key, keyLen) == 0 &&
        body[i + 2 + keyLen] == 0x00) {
      value = std::bit_cast<double>(be(body + i + 3 + keyLen, 8));
      return true;
    }
  }
  return false;
}

std::string checkVideo(const std::uint8_t* d, std::uint32_t size, double width, double height) {
  if (size < 5) return "video tag shorter than its header";
  if (d[0] != 0x13) return "video tag is not a Screen Video key frame";
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  if (be(d + 1, 2) != (0x1000u | (w & 0xFFF)) || be(d + 3, 2) != (0x1000u | (h & 0xFFF))) {
    return "video header does not match the metadata size";
  }
  std::size_t pos = 5;
  const std::uint32_t rows = (h + 31) / 32, cols = (w + 31) / 32;
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint32_t bh = h - 32 * r < 32 ? h - 32 * r : 32;
    for (std::uint32_t c = 0; c < cols; ++c) {
      const std::uint32_t bw = w - 32 * c < 32 ? w - 32 * c : 32;
      const std::uint32_t n = 3 * bw * bh;
      if (pos + 2 > size) return "video tag ends inside a block";
      const auto len = static_cast<std::uint32_t>(be(d + pos, 2));
      if (len != n + 11 || pos + 2 + len > size) return "block length wrong";
      const std::uint8_t* z = d + pos + 2;
      if (z[0] != 0x78 || z[1] != 0x01 || z[2] != 0x01) return "block is not a stored zlib stream";
      const std::uint32_t stored = z[3] | std::uint32_t{z[4]} << 8;
      const std::uint32_t nstored = z[5] | std::uint32_t{z[6]} << 8;
      if (stored != n || (stored ^ 0xFFFF) != nstored) return "stored block length wrong";
      const auto adler = static_cast<std::uint32_t>(adler32(1, z + 7, n));
      if (be(z + 7 + n, 4) != adler) return "block Adler-32 wrong";
      pos += 2 + len;
    }
  }
  if (pos != size) return "video tag longer than its blocks";
  return {};
}

}  // namespace

FlvReport verifyFlv(const std::uint8_t* data, std::size_t size) {
  FlvReport report;
  auto fail = [&](std::string why, std::size_t at) {
    report.error = why + " at byte " + std::to_string(at);
    return report;
  };
  if (size == 0) {
    report.ok = report.empty = true;
    return report;
  }
  if (size < 13 || std::memcmp(data, kFileHeader, sizeof kFileHeader) != 0) return fail("bad FLV header", 0);
  if (be(data + 9, 4) != 0) return fail("PreviousTagSize0 is not 0", 9);
  std::size_t pos = 13;
  std::uint32_t previous = 0;
  bool first = true;
  for (;;) {
    if (size - pos == 4) {
      if (first) return fail("no metadata tag", pos);
      if (be(data + pos, 4) != previous) return fail("trailing PreviousTagSize wrong", pos);
      break;
    }
    if (!first) {
      if (size - pos < 4) return fail("stream ends inside a PreviousTagSize", pos);
      if (be(data + pos, 4) != previous) return fail("PreviousTagSize wrong", pos);
      pos += 4;
    }
    if (size - pos < 11) return fail("stream ends inside a tag header", pos);
    FlvTag tag;
    tag.type = data[pos];
    tag.dataSize = static_cast<std::uint32_t>(be(data + pos + 1, 3));
    tag.time = static_cast<std::uint32_t>(be(data + pos + 4, 3)) | std::uint32_t{data[pos + 7]} << 24;
    if (be(data + pos + 8, 3) != 0) return fail("StreamID not 0", pos);
    tag.dataOffset = pos + 11;
    if (size - tag.dataOffset < tag.dataSize) return fail("stream ends inside tag data", pos);
    const std::uint8_t* d = data + tag.dataOffset;
    if (first) {
      if (tag.type != 18 || tag.dataSize != 121 || tag.time != 0) return fail("first tag is not the metadata tag", pos);
      if (std::memcmp(d, kOnMetaData, sizeof kOnMetaData) != 0) return fail("metadata is not onMetaData", pos);
      if (!findNumber(d, 121, "width", report.width) || !findNumber(d, 121, "height", report.height)) {
        return fail("metadata lacks width or height", pos);
      }
    } else if (tag.type == 8) {
      if (tag.dataSize < 1 || d[0] != 0x3F) return fail("audio tag without its PCM header byte", pos);
      report.tags.push_back(tag);
    } else if (tag.type == 9) {
      std::string why = checkVideo(d, tag.dataSize, report.width, report.height);
      if (!why.empty()) return fail(why, tag.dataOffset);
      report.tags.push_back(tag);
    } else {
      return fail("unexpected tag type " + std::to_string(tag.type), pos);
    }
    previous = tag.dataSize + 11;
    pos = tag.dataOffset + tag.dataSize;
    first = false;
  }
  report.ok = true;
  return report;
}
