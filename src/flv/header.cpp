#include "flv/header.h"

#include <string_view>

#include "flv/fields.h"
#include "log.h"

namespace {

constexpr bool hasAudio = true;
constexpr bool hasVideo = true;

constexpr std::uint8_t kFlvVersion = 1;
constexpr std::uint8_t kFlagVideo = 0x01;
constexpr std::uint8_t kFlagAudio = 0x04;
constexpr std::uint32_t kFlvHeaderSize = 9;  // DataOffset: the body starts right after

constexpr std::uint8_t kAmfNumber = 0x00;
constexpr std::uint8_t kAmfBoolean = 0x01;
constexpr std::uint8_t kAmfString = 0x02;
constexpr std::uint8_t kAmfEcmaArray = 0x08;
constexpr std::uint32_t kAmfObjectEnd = 0x000009;  // empty key, then the end marker

constexpr double kScreenVideoCodecId = 3.0;
constexpr std::string_view kCreator = "Talvenko";

// ECMA array keys carry a length but no type marker.
void writeKey(std::string_view key) {
  writeUI16(static_cast<std::uint16_t>(key.size()));
  writeString(key);
}

void writeAmfString(std::string_view s) {
  writeByte(kAmfString);
  writeUI16(static_cast<std::uint16_t>(s.size()));
  writeString(s);
}

void writeNumberProperty(std::string_view key, double value) {
  writeKey(key);
  writeByte(kAmfNumber);
  writeDouble(value);
}

}  // namespace

void makeMetaData(std::uint32_t w, std::uint32_t h) {
  writeAmfString("onMetaData");
  writeByte(kAmfEcmaArray);
  writeUnsignedInt(5);  // entries that follow
  writeNumberProperty("width", w);
  writeNumberProperty("height", h);
  writeNumberProperty("videocodecid", kScreenVideoCodecId);
  writeKey("canSeekToEnd");
  writeByte(kAmfBoolean);
  writeByte(1);
  writeKey("metadatacreator");
  writeAmfString(kCreator);
  writeUI24(kAmfObjectEnd);
}

void makeMetaDataTag(std::uint32_t w, std::uint32_t h) {
  // The tag chain puts lastTagSize in front: 0 here, i.e. PreviousTagSize0.
  writeTagHeader(flv::kTagScript, flv::kMetaDataSize, 0);
  makeMetaData(w, h);
}

void processHeader(Log& log, std::uint32_t w, std::uint32_t h) {
  log.progress("PROCESSANDO VIDEO: %ux%u\n", w, h);
  writeString("FLV");
  writeByte(kFlvVersion);
  writeByte((hasVideo ? kFlagVideo : 0) | (hasAudio ? kFlagAudio : 0));
  writeUnsignedInt(kFlvHeaderSize);
  makeMetaDataTag(w, h);
}
