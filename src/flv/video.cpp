#include "flv/video.h"

#include "flv/fields.h"
#include "flv/output.h"
#include "log.h"

namespace {

std::uint32_t nrVideoFrame = 0;

}  // namespace

void processVideo(Log& log, std::uint32_t time, const std::uint8_t* frameData, std::uint32_t length) {
  log.progress("Video - time:%u - count:%u\n", time, nrVideoFrame);
  ++nrVideoFrame;
  writeTagHeader(flv::kTagVideo, length, time);
  writeBytes(frameData, length);
}
