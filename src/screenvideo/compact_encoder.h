// Screen Video with compressed blocks and inter frames.
//
// Each frame is compared with the previous one block by block. A block that
// changed is gathered and compressed (libdeflate, any level from 0 to 9)
// once, and its coded bytes are kept: inter frames carry only the changed
// blocks (the rest with DataSize 0), key frames carry every block, reusing
// the kept bytes of those that did not change. Block rows are coded in
// parallel by a small pool of workers.
//
// A frame may leave as several bodies with the same time, each whole and
// each decodable on top of the one before:
//  - when the coded frame does not fit one tag (maxPacket bytes), the blocks
//    that fit go first, the rest follow in inter frames;
//  - a block's DataSize is 16 bits: a block of a side above 144 that will not
//    compress below 64 KiB is carried as smaller blocks (a side that divides
//    the chosen one) in a body of its own, since every body has its own side.
// A frame where nothing changed is one inter frame of 256-pixel blocks, all
// empty: the fewest bytes the format allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "screenvideo/workers.h"

struct libdeflate_compressor;

namespace screenvideo {

struct CompactSettings {
  int level = 6;                  // 0 (stored) to 9
  std::uint32_t keyint = 1;       // a key frame every keyint frames, the first one included
  std::uint32_t blockSide = 32;   // 16 to 256, a multiple of 16
  unsigned threads = 1;           // coding threads, the caller's included
  std::size_t maxPacket = 0xFFFFFF;  // largest body one tag can carry
};

class CompactEncoder {
 public:
  // Allocates everything the run needs; throws std::bad_alloc when it cannot.
  CompactEncoder(std::uint32_t w, std::uint32_t h, const CompactSettings& settings);
  ~CompactEncoder();
  CompactEncoder(const CompactEncoder&) = delete;
  CompactEncoder& operator=(const CompactEncoder&) = delete;

  // Where the next frame goes before encode(): w x h pixels of 4 bytes
  // (ignored, red, green, blue), top row first.
  std::uint8_t* frameBuffer() { return current_.get(); }
  std::size_t frameBytes() const { return frameBytes_; }

  // A frame arrives in frameBuffer() top row first. beginFrame() starts it,
  // rowsArrived(n) says the first n image rows are in place (bands that are
  // whole start coding at once, on the workers), endFrame() codes the rest
  // and returns when the frame is coded; its bodies then come from nextPacket().
  void beginFrame();
  void rowsArrived(std::uint32_t rows);
  void endFrame();
  // The three at once, for a frame already in frameBuffer().
  void encode() {
    beginFrame();
    endFrame();
  }

  // The next VIDEODATA body of the frame last encoded, valid until the next
  // call; empty once the whole frame is out.
  std::span<const std::uint8_t> nextPacket();

  // Blocks compressed so far (small blocks count one each), for tests and benchmarks.
  std::uint64_t blocksCompressed() const;

 private:
  struct Grid {
    std::uint32_t side = 0, cols = 0, rows = 0;
    std::size_t count() const { return std::size_t{cols} * rows; }
  };
  struct Worker;

  void codeBlockRow(std::uint32_t r, unsigned worker);
  void markChanges(std::uint32_t r);
  std::size_t compressBlock(Worker& wk, std::uint32_t x0, std::uint32_t yBottom, std::uint32_t bw, std::uint32_t bh,
                            std::uint8_t* out, std::size_t room);
  void splitBlock(Worker& wk, std::size_t i, std::uint32_t x0, std::uint32_t yBottom, std::uint32_t bw,
                  std::uint32_t bh);
  void queueSmallBlocks();
  std::span<const std::uint8_t> buildPacket(const Grid& grid, bool small);

  std::uint32_t w_, h_;
  CompactSettings settings_;
  std::size_t frameBytes_;
  Grid grid_, small_, empty_;
  std::unique_ptr<std::uint8_t[]> current_, previous_;
  bool first_ = true;
  std::uint64_t frameIndex_ = 0;
  std::uint32_t bandsReleased_ = 0;  // block rows handed out, counted from the top

  // Coded bytes kept for every block, one fixed slot each. A block coded at
  // the small side holds its small blocks as a run of (DataSize, data) entries.
  std::size_t slotSize_ = 0;
  std::unique_ptr<std::uint8_t[]> slots_;
  std::vector<std::uint32_t> slotLen_;
  std::vector<std::uint8_t> split_, changed_;

  // This frame: blocks still to send, on the chosen grid and the small one.
  std::vector<std::uint8_t> pending_, smallPending_;
  std::vector<const std::uint8_t*> smallData_;
  std::vector<std::uint16_t> smallLen_;
  std::size_t pendingCount_ = 0, smallPendingCount_ = 0;
  bool key_ = false;
  unsigned packetsOut_ = 0;

  std::unique_ptr<std::uint8_t[]> packet_;
  std::size_t packetSize_ = 0;

  std::vector<Worker> workers_;
  std::unique_ptr<Workers> pool_;
  Workers::Work codeBand_;
};

}  // namespace screenvideo
