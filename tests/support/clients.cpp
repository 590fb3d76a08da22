#include "support/clients.h"

#include <sys/wait.h>

#include <cstdio>

#include "flv_verify.h"
#include "support/capture.h"

std::pair<int, std::string> shell(const std::string& command) {
  std::string out;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {-1, out};
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool haveTool(const char* tool) { return shell(std::string("command -v ") + tool + " >/dev/null").first == 0; }

Bytes bgr24(const Bytes& pixels) {
  Bytes out;
  out.reserve(pixels.size() / 4 * 3);
  for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
    out.push_back(pixels[i + 3]);
    out.push_back(pixels[i + 2]);
    out.push_back(pixels[i + 1]);
  }
  return out;
}

std::vector<Bytes> decodeFrames(const std::string& flvPath, std::uint32_t w, std::uint32_t h) {
  const std::string raw = flvPath + ".bgr";
  const auto [status, text] = shell("ffmpeg -v error -i '" + flvPath +
                                    "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -y '" + raw + "' 2>&1");
  if (status != 0) return {};
  const Bytes all = readFile(raw);
  std::remove(raw.c_str());
  const std::size_t frame = std::size_t{3} * w * h;
  std::vector<Bytes> frames;
  if (frame == 0) return frames;
  for (std::size_t at = 0; at + frame <= all.size(); at += frame) frames.push_back(slice(all, at, frame));
  return frames;
}

std::vector<Bytes> wholeFrames(const Bytes& flv, const std::vector<Bytes>& perTag) {
  const FlvReport report = verifyFlv(flv.data(), flv.size());
  std::vector<std::uint32_t> times;
  for (const auto& tag : report.tags) {
    if (tag.type == 9) times.push_back(tag.time);
  }
  std::vector<Bytes> whole;
  for (std::size_t i = 0; i < perTag.size() && i < times.size(); ++i) {
    if (i + 1 == times.size() || times[i + 1] != times[i]) whole.push_back(perTag[i]);
  }
  return whole;
}

std::string flvmetaErrors(const std::string& flvPath) {
  const auto [status, report] = shell("flvmeta --check --level error '" + flvPath + "' 2>&1");
  if (status == 0 && report.find("0 error(s)") != std::string::npos) return {};
  return report.empty() ? "flvmeta failed" : report;
}
