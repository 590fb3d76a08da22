#include "screenvideo/compact_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "flv/fields.h"
#include "screenvideo/encoder.h"
#include "screenvideo/simd.h"

namespace screenvideo {

namespace {

constexpr std::uint32_t kMinSide = 16;
constexpr std::uint32_t kLargestSide = 256;
constexpr std::size_t kMaxBlockData = 0xFFFF;  // a block's DataSize is 16 bits

std::uint32_t ceilDiv(std::uint32_t a, std::uint32_t b) { return a / b + (a % b != 0 ? 1 : 0); }

std::uint8_t* allocate(std::size_t n) {
  return new std::uint8_t[n == 0 ? 1 : n];  // left uninitialised: pages are touched only when used
}

}  // namespace

struct CompactEncoder::Worker {
  std::unique_ptr<std::uint8_t[]> scratch;  // one block, gathered
  libdeflate_compressor* compressor = nullptr;
  std::uint64_t compressed = 0;
  Worker() = default;
  Worker(Worker&& o) noexcept
      : scratch(std::move(o.scratch)), compressor(std::exchange(o.compressor, nullptr)), compressed(o.compressed) {}
  ~Worker() { libdeflate_free_compressor(compressor); }
};

CompactEncoder::CompactEncoder(std::uint32_t w, std::uint32_t h, const CompactSettings& settings)
    : w_(w), h_(h), settings_(settings), frameBytes_(std::size_t{w} * h * kBytesPerInputPixel) {
  const std::uint32_t side = settings.blockSide;
  if (side < kMinSide || side > kLargestSide || side % kMinSide != 0 || settings.keyint == 0 ||
      settings.level < 0 || settings.level > 9) {
    throw std::invalid_argument("CompactEncoder: settings out of range");
  }
  grid_ = {side, ceilDiv(w, side), ceilDiv(h, side)};
  empty_ = {kLargestSide, ceilDiv(w, kLargestSide), ceilDiv(h, kLargestSide)};

  const unsigned threads = std::max(1u, settings.threads);
  workers_.resize(threads);
  const std::size_t scratchSize = kBytesPerCodedPixel * side * side + kGatherOverrun;
  for (auto& wk : workers_) {
    wk.compressor = libdeflate_alloc_compressor(settings.level);
    if (wk.compressor == nullptr) throw std::bad_alloc();
    wk.scratch.reset(allocate(scratchSize));
  }
  auto bound = [&](std::uint32_t s) {
    return libdeflate_zlib_compress_bound(workers_[0].compressor, kBytesPerCodedPixel * s * s);
  };
  // Blocks too big for a 16-bit DataSize when they do not compress fall
  // back to the largest side that divides the chosen one and always fits.
  slotSize_ = bound(side);
  if (slotSize_ > kMaxBlockData) {
    std::uint32_t small = kMinSide;
    for (std::uint32_t s = kMinSide; s < side; s += kMinSide) {
      if (side % s == 0 && bound(s) <= kMaxBlockData) small = s;
    }
    small_ = {small, ceilDiv(w, small), ceilDiv(h, small)};
    const std::size_t perSide = side / small;
    slotSize_ = std::max(slotSize_, perSide * perSide * (2 + bound(small)));
  }

  const std::size_t blocks = grid_.count();
  current_.reset(allocate(frameBytes_));
  previous_.reset(allocate(frameBytes_));
  slots_.reset(allocate(blocks * slotSize_));
  slotLen_.assign(blocks, 0);
  split_.assign(blocks, 0);
  changed_.assign(blocks, 0);
  pending_.assign(blocks, 0);
  smallPending_.assign(small_.count(), 0);
  smallData_.assign(small_.count(), nullptr);
  smallLen_.assign(small_.count(), 0);

  const std::size_t mostBlocks = std::max({blocks, small_.count(), empty_.count()});
  packetSize_ = std::min<std::size_t>(settings.maxPacket, kFrameHeaderSize + 2 * mostBlocks + blocks * slotSize_);
  if (kFrameHeaderSize + 2 * mostBlocks + 2 + kMaxBlockData > settings.maxPacket) {
    throw std::invalid_argument("CompactEncoder: a tag cannot hold one block");
  }
  packet_.reset(allocate(packetSize_));
  // Bands are handed out top first, as they arrive; block rows count from the bottom.
  codeBand_ = [this](std::size_t k, unsigned worker) {
    codeBlockRow(grid_.rows - 1 - static_cast<std::uint32_t>(k), worker);
  };
  if (threads > 1) pool_ = std::make_unique<Workers>(threads);
}

// The workers go first: they may still be coding a band of an abandoned frame.
CompactEncoder::~CompactEncoder() { pool_.reset(); }

// Marks the blocks of block row r whose pixels differ from the previous
// frame, walking image rows whole: both frames are read front to back.
void CompactEncoder::markChanges(std::uint32_t r) {
  const std::uint32_t side = grid_.side;
  const std::uint32_t yBottom = h_ - 1 - side * r;
  const std::uint32_t bh = std::min(side, h_ - side * r);
  std::uint8_t* changed = changed_.data() + std::size_t{r} * grid_.cols;
  std::fill(changed, changed + grid_.cols, first_);
  if (first_) return;
  std::uint32_t unchanged = grid_.cols;
  for (std::uint32_t y = yBottom + 1 - bh; y <= yBottom && unchanged > 0; ++y) {
    const std::size_t row = kBytesPerInputPixel * std::size_t{y} * w_;
    for (std::uint32_t c = 0; c < grid_.cols; ++c) {
      if (changed[c]) continue;
      const std::size_t at = row + kBytesPerInputPixel * std::size_t{side} * c;
      if (!samePixels(current_.get() + at, previous_.get() + at, std::min(side, w_ - side * c))) {
        changed[c] = 1;
        --unchanged;
      }
    }
  }
}

std::size_t CompactEncoder::compressBlock(Worker& wk, std::uint32_t x0, std::uint32_t yBottom, std::uint32_t bw,
                                          std::uint32_t bh, std::uint8_t* out, std::size_t room) {
  std::uint8_t* data = wk.scratch.get();
  const std::size_t rowBytes = kBytesPerCodedPixel * bw;
  for (std::uint32_t k = 0; k < bh; ++k) {
    gatherRow(current_.get() + kBytesPerInputPixel * ((std::size_t{yBottom} - k) * w_ + x0), data + k * rowBytes, bw);
  }
  ++wk.compressed;
  return libdeflate_zlib_compress(wk.compressor, data, rowBytes * bh, out, room);
}

std::uint64_t CompactEncoder::blocksCompressed() const {
  std::uint64_t n = 0;
  for (const auto& wk : workers_) n += wk.compressed;
  return n;
}

// Codes block i as small blocks, bottom row first, each entry a DataSize
// and its zlib stream, in the order the small grid lists them.
void CompactEncoder::splitBlock(Worker& wk, std::size_t i, std::uint32_t x0, std::uint32_t yBottom,
                                std::uint32_t bw, std::uint32_t bh) {
  const std::uint32_t s = small_.side;
  std::uint8_t* slot = slots_.get() + i * slotSize_;
  std::size_t pos = 0;
  for (std::uint32_t q = 0; q * s < bh; ++q) {
    for (std::uint32_t p = 0; p * s < bw; ++p) {
      const std::size_t len = compressBlock(wk, x0 + p * s, yBottom - q * s, std::min(s, bw - p * s),
                                            std::min(s, bh - q * s), slot + pos + 2, slotSize_ - pos - 2);
      putBE(slot + pos, len, 2);
      pos += 2 + len;
    }
  }
  slotLen_[i] = static_cast<std::uint32_t>(pos);
  split_[i] = 1;
}

void CompactEncoder::codeBlockRow(std::uint32_t r, unsigned worker) {
  const std::uint32_t side = grid_.side;
  const std::uint32_t yBottom = h_ - 1 - side * r;
  const std::uint32_t bh = std::min(side, h_ - side * r);
  markChanges(r);
  for (std::uint32_t c = 0; c < grid_.cols; ++c) {
    const std::uint32_t x0 = side * c;
    const std::uint32_t bw = std::min(side, w_ - x0);
    const std::size_t i = std::size_t{r} * grid_.cols + c;
    if (!changed_[i]) continue;
    std::uint8_t* slot = slots_.get() + i * slotSize_;
    const std::size_t len =
        compressBlock(workers_[worker], x0, yBottom, bw, bh, slot, std::min(slotSize_, kMaxBlockData));
    if (len != 0) {
      slotLen_[i] = static_cast<std::uint32_t>(len);
      split_[i] = 0;
    } else {
      splitBlock(workers_[worker], i, x0, yBottom, bw, bh);
    }
  }
}

// Lists the small blocks of every block coded small that this frame sends.
void CompactEncoder::queueSmallBlocks() {
  std::fill(smallPending_.begin(), smallPending_.end(), 0);
  smallPendingCount_ = 0;
  const std::uint32_t s = small_.side, per = grid_.side / std::max(s, 1u);
  for (std::uint32_t r = 0; r < grid_.rows; ++r) {
    for (std::uint32_t c = 0; c < grid_.cols; ++c) {
      const std::size_t i = std::size_t{r} * grid_.cols + c;
      if (!split_[i] || !(key_ || changed_[i])) continue;
      const std::uint8_t* slot = slots_.get() + i * slotSize_;
      const std::uint32_t bw = std::min(grid_.side, w_ - grid_.side * c);
      const std::uint32_t bh = std::min(grid_.side, h_ - grid_.side * r);
      std::size_t pos = 0;
      for (std::uint32_t q = 0; q * s < bh; ++q) {
        for (std::uint32_t p = 0; p * s < bw; ++p) {
          const std::size_t k = std::size_t{r * per + q} * small_.cols + c * per + p;
          smallLen_[k] = static_cast<std::uint16_t>(slot[pos] << 8 | slot[pos + 1]);
          smallData_[k] = slot + pos + 2;
          smallPending_[k] = 1;
          ++smallPendingCount_;
          pos += 2 + std::size_t{smallLen_[k]};
        }
      }
    }
  }
}

void CompactEncoder::beginFrame() {
  key_ = frameIndex_ % settings_.keyint == 0;
  ++frameIndex_;
  packetsOut_ = 0;
  bandsReleased_ = 0;
  if (pool_) pool_->start(grid_.rows, codeBand_);
}

void CompactEncoder::rowsArrived(std::uint32_t rows) {
  if (grid_.rows == 0) return;
  // The top band is the short one.
  const std::uint32_t topRows = h_ - grid_.side * (grid_.rows - 1);
  const std::uint32_t bands =
      rows < topRows ? 0 : std::min(grid_.rows, 1 + (std::min(rows, h_) - topRows) / grid_.side);
  if (pool_) {
    pool_->release(bands);
  } else {
    for (std::uint32_t k = bandsReleased_; k < bands; ++k) codeBand_(k, 0);
  }
  bandsReleased_ = std::max(bandsReleased_, bands);
}

void CompactEncoder::endFrame() {
  if (pool_) {
    pool_->finish();
  } else {
    rowsArrived(h_);
  }
  first_ = false;
  std::swap(current_, previous_);
  pendingCount_ = 0;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    pending_[i] = (key_ || changed_[i]) && !split_[i];
    pendingCount_ += pending_[i];
  }
  if (small_.side != 0) queueSmallBlocks();
}

std::span<const std::uint8_t> CompactEncoder::buildPacket(const Grid& grid, bool small) {
  std::uint8_t* out = packet_.get();
  out[0] = key_ && packetsOut_ == 0 ? kKeyFrameScreenVideo : kInterFrameScreenVideo;
  const auto code = static_cast<std::uint32_t>((grid.side / kMinSide - 1) << 12);
  putBE(out + 1, code | (w_ & kMaxImageSide), 2);
  putBE(out + 3, code | (h_ & kMaxImageSide), 2);
  std::uint8_t* pending = small ? smallPending_.data() : &grid == &grid_ ? pending_.data() : nullptr;
  std::size_t& left = small ? smallPendingCount_ : pendingCount_;
  std::size_t pos = kFrameHeaderSize;
  const std::size_t n = grid.count();
  for (std::size_t i = 0; i < n; ++i) {
    if (pending != nullptr && pending[i]) {
      const std::uint8_t* data = small ? smallData_[i] : slots_.get() + i * slotSize_;
      const std::size_t len = small ? smallLen_[i] : slotLen_[i];
      // Room for this block and an empty entry for every block after it.
      if (pos + 2 + len + 2 * (n - 1 - i) <= packetSize_) {
        putBE(out + pos, len, 2);
        std::memcpy(out + pos + 2, data, len);
        pos += 2 + len;
        pending[i] = 0;
        --left;
        continue;
      }
    }
    out[pos] = out[pos + 1] = 0;
    pos += 2;
  }
  ++packetsOut_;
  return {out, pos};
}

std::span<const std::uint8_t> CompactEncoder::nextPacket() {
  if (pendingCount_ > 0) return buildPacket(grid_, false);
  if (smallPendingCount_ > 0) return buildPacket(small_, true);
  if (packetsOut_ == 0) return buildPacket(empty_, false);
  return {};
}

}  // namespace screenvideo
