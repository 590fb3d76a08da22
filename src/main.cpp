// cap2flv: capture stream on standard input, FLV on standard output.
//
// The run control: reads the capture header and one record at a time, checks
// each record before anything of it is written, hands it to the tag writers,
// owns the working buffers and the encoder, and ends every run in jobdone.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "capture/input.h"
#include "cli/options.h"
#include "flv/audio.h"
#include "flv/fields.h"
#include "flv/header.h"
#include "flv/output.h"
#include "flv/video.h"
#include "log.h"
#include "mp3/encoder.h"
#include "screenvideo/compact_encoder.h"
#include "screenvideo/encoder.h"
#include "screenvideo/workers.h"
#include "signals.h"

#ifndef CAP2FLV_VERSION
#define CAP2FLV_VERSION "unknown"
#endif

namespace {

constexpr std::size_t kBandBufferTarget = 256 * 1024;
constexpr std::size_t kAudioStartSize = 64 * 1024;

// Frees with std::free what the C allocator gave.
struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t, FreeDeleter>;

class Run {
 public:
  explicit Run(const cli::Options& options) : options_(options), log_(!options.quiet) {}

  [[noreturn]] void start() {
    enlargeInputPipe();
    enlargeOutputPipe();
    readCaptureHeader();
    // Refused before anything reaches standard output.
    if (!frameSizeFits()) fail("ERRO dimensao: %ux%u\n", w, h);
    processHeader(log_, w, h);
    flvStarted = true;
    makeSoundPropertiesByte();
    expectedVideoSize = std::uint64_t{w} * h * screenvideo::kBytesPerInputPixel;
    createBuffers();
    runLoop();
  }

 private:
  // The MP3 frames the encoder still holds go out before the stream ends,
  // however the run ends: no sound is lost.
  void flushSound() {
    if (!mp3Encoder) return;
    const auto sound = std::move(mp3Encoder);  // once, whichever way the run ends
    sound->flush();
  }

  void deleteBuffers() {
    mp3Encoder.reset();
    pixelData.reset();
    frameData.reset();
    audioData.reset();
    encoder.reset();
    pixelDataSize = frameDataSize = audioDataSize = 0;
  }

  // Ends the run. Every stream that was started ends with the size of its
  // last tag, as an FLV body must; then the output is flushed and its fate
  // decides the status if nothing failed before. failed: an error line was written.
  [[noreturn]] void jobdone(bool failed) {
    flushSound();
    deleteBuffers();
    if (flvStarted) writeUnsignedInt(lastTagSize);
    if (!flushOutput() && !failed) {
      if (outputErrno() == EPIPE) dieOfSignal(SIGPIPE);
      log_.error("ERRO escrita: %s\n", std::strerror(outputErrno()));
      failed = true;
    }
    // A stop signal that came as the input ended still ends the process by it.
    if (!failed && stopRequests() > 0) dieOfSignal(firstStopSignal());
    std::exit(failed ? EXIT_FAILURE : EXIT_SUCCESS);
  }

  // Stops at a record boundary after SIGINT, SIGTERM or SIGHUP: the record in
  // progress is dropped (whole audio pieces already written stay), the
  // stream ends as every run does, and jobdone ends the process by the signal.
  [[noreturn]] void stopBySignal() { jobdone(false); }

  // Writes the run's one error line and ends it with status 1. The sound
  // the encoder still holds goes out first, so the error line stays last.
  [[noreturn]] CAP2FLV_PRINTF(2, 3) void fail(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    flushSound();
    log_.error("%s", line);
    jobdone(true);
  }

  Buffer allocate(std::size_t size) {
    // malloc(0) may legally return null; a 0-pixel frame still gets a buffer.
    auto* p = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (p == nullptr) fail("ERRO memoria: %zu\n", size);
    return Buffer(p);
  }

  bool compact() const { return !options_.classic(); }

  void createBuffers() {
    if (options_.mp3) {
      try {
        mp3Encoder = std::make_unique<mp3::Encoder>(options_.audioBitrate, [this](auto frame, std::uint32_t time) {
          processAudioMp3(log_, time, static_cast<std::uint32_t>(frame.size()), frame.data());
        });
      } catch (const std::bad_alloc&) {
        fail("ERRO memoria: %s\n", "mp3");
      }
    }
    if (compact()) {
      screenvideo::CompactSettings s;
      s.level = options_.level;
      s.keyint = options_.keyint;
      s.blockSide = options_.block;
      s.threads = options_.threads != 0 ? options_.threads : screenvideo::availableCores();
      s.maxPacket = flv::kMaxDataSize;
      try {
        encoder = std::make_unique<screenvideo::CompactEncoder>(w, h, s);
      } catch (const std::bad_alloc&) {
        fail("ERRO memoria: %llu\n", static_cast<unsigned long long>(expectedVideoSize));
      } catch (const std::system_error& e) {  // no thread could be started
        fail("ERRO memoria: %s\n", e.what());
      }
      return;
    }
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
    auto* p = static_cast<std::uint8_t*>(std::realloc(audioData.get(), size));
    if (p == nullptr) fail("ERRO memoria: %zu\n", size);
    (void)audioData.release();
    audioData.reset(p);
    audioDataSize = size;
  }

  // Reads up to n bytes; a failed read or an earlier failed write ends the
  // run, and so does a stop signal that cut the read short. A consumer of
  // the FLV that went away ends it through SIGPIPE, as with any filter.
  std::size_t readOrFail(std::uint8_t* dst, std::size_t n) {
    const std::size_t got = readInput(dst, n);
    if (outputFailed()) {
      if (outputErrno() == EPIPE) dieOfSignal(SIGPIPE);
      fail("ERRO escrita: %s\n", std::strerror(outputErrno()));
    }
    if (inputErrno() != 0) fail("ERRO leitura: %s\n", std::strerror(inputErrno()));
    // Cut short with a stop asked for: the input stalled or ended after it.
    if (got < n && stopRequests() > 0) stopBySignal();
    return got;
  }

  [[noreturn]] void incomplete(std::uint8_t type, std::uint32_t time, std::uint32_t size, std::uint64_t got) {
    fail("ERRO incompleto - tipo:%u - time:%u - tam:%u - lidos:%llu\n", unsigned{type}, time, size,
         static_cast<unsigned long long>(got));
  }

  // The capture header must describe frames a Screen Video tag can carry:
  // 12-bit sides, and for stored key frames a coded frame within a tag's
  // 24-bit DataSize (the compact encoder splits frames that do not fit).
  bool frameSizeFits() const {
    if (w > screenvideo::kMaxImageSide || h > screenvideo::kMaxImageSide) return false;
    return compact() || codedFrameSize(w, h) <= flv::kMaxDataSize;
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
    if (encoder) {
      readCompactVideo(time, size);
      return;
    }
    writeFrameHeader(w, h, frameData.get());
    const std::size_t rowBytes = screenvideo::kBytesPerInputPixel * std::size_t{w};
    const std::uint32_t bands = bandCount(h);
    std::uint64_t got = 0;
    for (std::uint32_t k = 0; k < bands;) {
      const std::uint32_t first = k;
      std::size_t rows = 0;
      while (k < bands && (rows + bandRows(h, k)) * rowBytes <= pixelDataSize) rows += bandRows(h, k++);
      const std::size_t n = rows * rowBytes;
      const std::size_t r = readOrFail(pixelData.get(), n);
      got += r;
      if (r < n) incomplete(capture::kVideoRecord, time, size, got);
      codeBands(pixelData.get(), w, h, first, k, frameData.get());
    }
    processVideo(log_, time, frameData.get(), static_cast<std::uint32_t>(frameDataSize));
  }

  // Band by band, each coded by the workers while the next is read; then
  // every body the frame codes to, each one tag.
  void readCompactVideo(std::uint32_t time, std::uint32_t size) {
    const std::size_t rowBytes = screenvideo::kBytesPerInputPixel * std::size_t{w};
    const std::uint32_t rowsPerRead =
        rowBytes == 0 ? h : static_cast<std::uint32_t>(std::max<std::size_t>(1, kBandBufferTarget / rowBytes));
    encoder->beginFrame();
    std::uint64_t got = 0;
    for (std::uint32_t y = 0; y < h;) {
      const std::uint32_t rows = std::min(rowsPerRead, h - y);
      const std::size_t n = rows * rowBytes;
      const std::size_t r = readOrFail(encoder->frameBuffer() + y * rowBytes, n);
      got += r;
      if (r < n) incomplete(capture::kVideoRecord, time, size, got);
      y += rows;
      encoder->rowsArrived(y);
    }
    encoder->endFrame();
    for (auto body = encoder->nextPacket(); !body.empty(); body = encoder->nextPacket()) {
      processVideo(log_, time, body.data(), static_cast<std::uint32_t>(body.size()));
    }
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
      const std::size_t r = readOrFail(audioData.get() + got, want);
      got += r;
      if (r < want) break;
    }
    return got;
  }

  // As MP3: the record is read a chunk at a time and fed to the encoder,
  // whose finished frames leave at once as tags. Samples already fed stay
  // in the sound if the record is cut short.
  void readMp3Audio(std::uint32_t time, std::uint32_t size) {
    // A new segment sets LAME up again, which allocates.
    try {
      mp3Encoder->beginRecord(time);
    } catch (const std::bad_alloc&) {
      fail("ERRO memoria: %s\n", "mp3");
    }
    std::uint64_t got = 0;
    while (got < size) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - got, kAudioStartSize));
      if (audioDataSize < want) growAudioData(kAudioStartSize);
      const std::size_t r = readOrFail(audioData.get(), want);
      mp3Encoder->feed(audioData.get(), r);
      got += r;
      if (r < want) incomplete(capture::kAudioRecord, time, size, got);
    }
  }

  // An audio record too big for one tag becomes several, each a whole piece.
  void readAudio(std::uint32_t time, std::uint32_t size) {
    if (mp3Encoder) {
      readMp3Audio(time, size);
      return;
    }
    const std::uint32_t most = size <= flv::kMaxAudioPayload ? size : flv::kMaxAudioPiece;
    std::uint64_t offset = 0;
    do {
      const std::uint64_t left = size - offset;
      const auto piece = static_cast<std::uint32_t>(left < most ? left : most);
      const std::size_t got = readAudioPiece(piece);
      if (got < piece) incomplete(capture::kAudioRecord, time, size, offset + got);
      processAudioU16(log_, audioPieceTime(time, offset), piece, audioData.get());
      offset += piece;
    } while (offset < size);
  }

  [[noreturn]] void runLoop() {
    for (;;) {
      if (stopRequests() > 0) stopBySignal();
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

  const cli::Options options_;
  Log log_;
  std::uint32_t w = 0;
  std::uint32_t h = 0;
  std::uint64_t expectedVideoSize = 0;
  bool flvStarted = false;

  // Working buffers of stored key frames, allocated once the frame size is
  // known. pixelData holds the bands of the current frame as they arrive, a
  // few hundred KiB at a time, so each band is coded while still in cache;
  // frameData collects the coded frame until it is whole.
  Buffer pixelData;
  std::size_t pixelDataSize = 0;
  Buffer frameData;
  std::size_t frameDataSize = 0;
  // Every other option: the encoder keeps the frames and coded blocks.
  std::unique_ptr<screenvideo::CompactEncoder> encoder;
  // --audio-codec mp3: the sound encoder and its segment.
  std::unique_ptr<mp3::Encoder> mp3Encoder;
  // Audio payloads, one piece at a time. Grows with what actually arrives
  // (never with what a record merely declares), up to one piece.
  Buffer audioData;
  std::size_t audioDataSize = 0;
};

// A closed standard descriptor would be taken by the next file we open, and
// our lines or tags would land in it: hold each one open on /dev/null.
void openStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) < 0) std::exit(EXIT_FAILURE);
  }
}

}  // namespace

int main(int argc, char** argv) {
  openStandardDescriptors();
  setupSignals();
  const cli::Parsed parsed = cli::parseOptions(argc, argv);
  switch (parsed.action) {
    case cli::Parsed::Action::Help:
      std::fputs(cli::usage(), stdout);
      return std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    case cli::Parsed::Action::Version:
      std::printf("cap2flv %s\n", CAP2FLV_VERSION);
      return std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    case cli::Parsed::Action::Error:
      std::fprintf(stderr, "cap2flv: %s\n", parsed.message.c_str());
      return 2;
    case cli::Parsed::Action::Run:
      break;
  }
  cli::Options options = parsed.options;
#ifdef CAP2FLV_FUZZ_OPTIONS
  // The fuzzing build: the first two bytes of the input choose the options.
  std::uint8_t choice[2] = {};
  readInput(choice, sizeof choice);
  options = cli::optionsFromBytes(choice[0], choice[1]);
#endif
  Run run(options);
  run.start();
}
