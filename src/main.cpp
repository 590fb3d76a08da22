// cap2flv: capture stream on standard input, FLV on standard output.
//
// The run control: reads the capture header and one record at a time, checks
// each record before anything of it is written, hands it to the tag writers,
// owns the working buffers and ends every run in jobdone.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capture/input.h"
#include "flv/audio.h"
#include "flv/fields.h"
#include "flv/header.h"
#include "flv/output.h"
#include "flv/video.h"
#include "log.h"
#include "screenvideo/encoder.h"

namespace {

std::uint32_t w = 0;
std::uint32_t h = 0;
std::uint64_t expectedVideoSize = 0;
bool flvStarted = false;

// Working buffers, allocated once the frame size is known.
// pixelData holds the bands of the current frame as they arrive, a few
// hundred KiB at a time, so each band is coded while still in cache;
// frameData collects the coded frame until it is whole.
std::uint8_t* pixelData = nullptr;
std::size_t pixelDataSize = 0;
std::uint8_t* frameData = nullptr;
std::size_t frameDataSize = 0;
constexpr std::size_t kBandBufferTarget = 256 * 1024;
// Audio payloads, one piece at a time. Grows with what actually arrives
// (never with what a record merely declares), up to one piece.
std::uint8_t* audioData = nullptr;
std::size_t audioDataSize = 0;
constexpr std::size_t kAudioStartSize = 64 * 1024;

void deleteBuffers() {
  std::free(pixelData);
  std::free(frameData);
  std::free(audioData);
  pixelData = frameData = audioData = nullptr;
  pixelDataSize = frameDataSize = audioDataSize = 0;
}

// Ends the run. Every stream that was started ends with the size of its last
// tag, as an FLV body must; then the output is flushed and its fate decides
// the status if nothing failed before. failed: an error line was written.
[[noreturn]] void jobdone(bool failed) {
  deleteBuffers();
  if (flvStarted) writeUnsignedInt(lastTagSize);
  if (!flushOutput() && !failed) {
    logLine("ERRO escrita: %s\n", std::strerror(outputErrno()));
    failed = true;
  }
  std::exit(failed ? EXIT_FAILURE : EXIT_SUCCESS);
}

// Writes the run's one error line and ends it with status 1.
[[noreturn]] CAP2FLV_PRINTF(1, 2) void fail(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  logLine("%s", line);
  jobdone(true);
}

std::uint8_t* allocate(std::size_t size) {
  // malloc(0) may legally return null; a 0-pixel frame still gets a buffer.
  auto* p = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (p == nullptr) fail("ERRO memoria: %zu\n", size);
  return p;
}

void createBuffers() {
  // Whole bands only: as many as fit the target, and always at least the
  // largest band (or the whole frame, when that is smaller). readVideo
  // relies on every band fitting.
  const std::size_t bandBytes = screenvideo::kBytesPerInputPixel * screenvideo::kBlockSide * std::size_t{w};
  const std::size_t bands = bandBytes == 0 || bandBytes >= kBandBufferTarget ? 1 : kBandBufferTarget / bandBytes;
  pixelDataSize = static_cast<std::size_t>(std::min<std::uint64_t>(bands * bandBytes, expectedVideoSize));
  pixelData = allocate(pixelDataSize);
  frameDataSize = static_cast<std::size_t>(codedFrameSize(w, h));
  frameData = allocate(frameDataSize);
}

void growAudioData(std::size_t size) {
  auto* p = static_cast<std::uint8_t*>(std::realloc(audioData, size));
  if (p == nullptr) fail("ERRO memoria: %zu\n", size);
  audioData = p;
  audioDataSize = size;
}

// Reads up to n bytes; a failed read or an earlier failed write ends the run.
std::size_t readOrFail(std::uint8_t* dst, std::size_t n) {
  const std::size_t got = readInput(dst, n);
  if (outputFailed()) fail("ERRO escrita: %s\n", std::strerror(outputErrno()));
  if (inputErrno() != 0) fail("ERRO leitura: %s\n", std::strerror(inputErrno()));
  return got;
}

[[noreturn]] void incomplete(std::uint8_t type, std::uint32_t time, std::uint32_t size,
                             std::uint64_t got) {
  fail("ERRO incompleto - tipo:%u - time:%u - tam:%u - lidos:%llu\n", unsigned{type}, time, size,
       static_cast<unsigned long long>(got));
}

// The capture header must describe frames a Screen Video tag can carry: 12-bit
// sides, and a coded frame within a tag's 24-bit DataSize.
bool frameSizeFits() {
  return w <= screenvideo::kMaxImageSide && h <= screenvideo::kMaxImageSide &&
         codedFrameSize(w, h) <= flv::kMaxDataSize;
}

void readCaptureHeader() {
  // A stream shorter than its header leaves the missing bytes at 0.
  std::uint8_t header[capture::kHeaderSize] = {};
  readOrFail(header, sizeof header);
  w = capture::readLE32(header);
  h = capture::readLE32(header + 4);
}

void readVideo(std::uint32_t time, std::uint32_t size) {
  if (size != expectedVideoSize) {
    fail("ERRO tam:%llu != %u\n", static_cast<unsigned long long>(expectedVideoSize), size);
  }
  writeFrameHeader(w, h, frameData);
  const std::size_t rowBytes = screenvideo::kBytesPerInputPixel * std::size_t{w};
  const std::uint32_t bands = bandCount(h);
  std::uint64_t got = 0;
  for (std::uint32_t k = 0; k < bands;) {
    const std::uint32_t first = k;
    std::size_t rows = 0;
    while (k < bands && (rows + bandRows(h, k)) * rowBytes <= pixelDataSize) rows += bandRows(h, k++);
    const std::size_t n = rows * rowBytes;
    const std::size_t r = readOrFail(pixelData, n);
    got += r;
    if (r < n) incomplete(capture::kVideoRecord, time, size, got);
    codeBands(pixelData, w, h, first, k, frameData);
  }
  processVideo(time, frameData, static_cast<std::uint32_t>(frameDataSize));
}

// Reads one piece of an audio record into audioData, growing it as bytes
// arrive. Returns the number of bytes read (less than piece at the end of the input).
std::size_t readAudioPiece(std::size_t piece) {
  std::size_t got = 0;
  while (got < piece) {
    if (audioDataSize <= got) {
      const std::size_t grown = audioDataSize == 0 ? kAudioStartSize : 2 * audioDataSize;
      growAudioData(grown < piece ? grown : piece);
    }
    const std::size_t want = (audioDataSize < piece ? audioDataSize : piece) - got;
    const std::size_t r = readOrFail(audioData + got, want);
    got += r;
    if (r < want) break;
  }
  return got;
}

// An audio record too big for one tag becomes several, each a whole piece.
void readAudio(std::uint32_t time, std::uint32_t size) {
  std::uint64_t offset = 0;
  do {
    const std::uint64_t left = size - offset;
    const auto piece = static_cast<std::uint32_t>(left < flv::kMaxAudioPiece ? left : flv::kMaxAudioPiece);
    const std::size_t got = readAudioPiece(piece);
    if (got < piece) incomplete(capture::kAudioRecord, time, size, offset + got);
    processAudioU16(audioPieceTime(time, offset), piece, audioData);
    offset += piece;
  } while (offset < size);
}

[[noreturn]] void runLoop() {
  for (;;) {
    std::uint8_t record[capture::kRecordHeaderSize];
    // Input that ends anywhere before a whole record header ends the run
    // cleanly, as if an end record had followed.
    if (readOrFail(record, sizeof record) < sizeof record) jobdone(false);
    const std::uint8_t type = record[0];
    const std::uint32_t time = capture::readLE32(record + 1);
    const std::uint32_t size = capture::readLE32(record + 5);
    switch (type) {
      case capture::kVideoRecord:
        readVideo(time, size);
        break;
      case capture::kAudioRecord:
        readAudio(time, size);
        break;
      case capture::kEndRecord:
        jobdone(false);
      default:
        fail("ERRO tipo:%u - time:%u - tam:%u\n", unsigned{type}, time, size);
    }
  }
}

}  // namespace

int main() {
  enlargeInputPipe();
  enlargeOutputPipe();
  readCaptureHeader();
  // Refused before anything reaches standard output.
  if (!frameSizeFits()) fail("ERRO dimensao: %ux%u\n", w, h);
  processHeader(w, h);
  flvStarted = true;
  makeSoundPropertiesByte();
  expectedVideoSize = std::uint64_t{w} * h * screenvideo::kBytesPerInputPixel;
  createBuffers();
  runLoop();
}
