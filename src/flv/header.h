// The start of every FLV stream: file header, PreviousTagSize0 and the
// onMetaData script tag.
#pragma once

#include <cstdint>

class Log;

namespace flv {
constexpr std::uint32_t kMetaDataSize = 121;  // exact length of makeMetaData's body
}

// Announces the size on standard error, then writes the FLV file header,
// PreviousTagSize0 and the metadata tag. Leaves lastTagSize at 132.
void processHeader(Log& log, std::uint32_t w, std::uint32_t h);

// The script-data tag, PreviousTagSize0 in front (lastTagSize is 0 until then).
void makeMetaDataTag(std::uint32_t w, std::uint32_t h);

// The 121-byte AMF0 body: the call "onMetaData" with an ECMA array of five
// properties.
void makeMetaData(std::uint32_t w, std::uint32_t h);
