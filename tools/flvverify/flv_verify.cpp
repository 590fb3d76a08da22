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

// One MPEG-1 Layer III frame at 44.1 kHz, exactly.
bool isMp3Frame(const std::uint8_t* p, std::uint32_t size) {
  static const unsigned kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  if (size < 4 || p[0] != 0xFF || (p[1] & 0xFE) != 0xFA || ((p[2] >> 2) & 3) != 0) return false;
  const unsigned rate = kbps[p[2] >> 4];
  return rate != 0 && size == 144000 * rate / 44100 + ((p[2] >> 1) & 1);
}

// A Screen Video body: a key (1) or inter (2) frame, block sides of its own
// from 16 to 256, the image size of the metadata, then every block of the
// grid, bottom row first: DataSize 0 (unchanged) or a zlib stream that
// inflates to exactly the block's pixels.
std::string checkVideo(const std::uint8_t* d, std::uint32_t size, double width, double height,
                       std::vector<std::uint8_t>& scratch) {
  if (size < 5) return "video tag shorter than its header";
  if (d[0] != 0x13 && d[0] != 0x23) return "video tag is not a Screen Video key or inter frame";
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  const auto fieldW = static_cast<std::uint32_t>(be(d + 1, 2)), fieldH = static_cast<std::uint32_t>(be(d + 3, 2));
  if ((fieldW & 0xFFF) != (w & 0xFFF) || (fieldH & 0xFFF) != (h & 0xFFF)) {
    return "video header does not match the metadata size";
  }
  const std::uint32_t sideW = 16 * ((fieldW >> 12) + 1), sideH = 16 * ((fieldH >> 12) + 1);
  std::size_t pos = 5;
  const std::uint32_t rows = (h + sideH - 1) / sideH, cols = (w + sideW - 1) / sideW;
  scratch.resize(std::size_t{3} * sideW * sideH);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint32_t bh = h - sideH * r < sideH ? h - sideH * r : sideH;
    for (std::uint32_t c = 0; c < cols; ++c) {
      const std::uint32_t bw = w - sideW * c < sideW ? w - sideW * c : sideW;
      if (size - pos < 2) return "video tag ends inside a block";
      const auto len = static_cast<std::uint32_t>(be(d + pos, 2));
      pos += 2;
      if (len == 0) continue;
      if (len > size - pos) return "block longer than its tag";
      uLongf out = 3 * bw * bh;
      uLong in = len;
      if (uncompress2(scratch.data(), &out, d + pos, &in) != Z_OK || out != 3 * bw * bh || in != len) {
        return "block is not a zlib stream of its pixels";
      }
      pos += len;
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
  bool first = true, sawVideo = false;
  std::vector<std::uint8_t> scratch;
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
      if (tag.dataSize < 1 || (d[0] != 0x3F && d[0] != 0x2F)) return fail("audio tag without a PCM or MP3 sound byte", pos);
      if (d[0] == 0x2F && !isMp3Frame(d + 1, tag.dataSize - 1)) return fail("MP3 tag is not one whole MP3 frame", pos);
      report.tags.push_back(tag);
    } else if (tag.type == 9) {
      if (!sawVideo && tag.dataSize >= 1 && d[0] != 0x13) return fail("first video tag is not a key frame", pos);
      std::string why = checkVideo(d, tag.dataSize, report.width, report.height, scratch);
      if (!why.empty()) return fail(why, tag.dataOffset);
      sawVideo = true;
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
