#include "flv/video.h"

#include "flv/fields.h"
#include "flv/output.h"
#include "log.h"
#include "screenvideo/encoder.h"

namespace {

std::uint32_t nrVideoFrame = 0;

}  // namespace

bool processVideo(std::uint32_t time, const std::uint8_t* pixelData, std::uint32_t w,
                  std::uint32_t h, std::uint8_t* frameData, std::size_t frameDataSize) {
  // Code first: a frame that cannot be coded must leave no half tag behind.
  const std::int64_t length = createFrameData(pixelData, w, h, frameData, frameDataSize);
  if (length < 0 || length > flv::kMaxDataSize) return false;
  const auto dataSize = static_cast<std::uint32_t>(length);

  logLine("Video - time:%u - count:%u\n", time, nrVideoFrame);
  ++nrVideoFrame;
  writeTagHeader(flv::kTagVideo, dataSize, time);
  writeBytes(frameData, dataSize);
  return true;
}
