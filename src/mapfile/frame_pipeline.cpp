// MapWriter::WriteBlocks: the frames of the preview and of the levels,
// each block one ordered run of six steps, after the halved copies the
// draws need are built on the pool. Drawing (filtering the picture),
// scanning for colours new to the quantizer's memo, and finishing and
// encoding run on the pool; compositing, entering the new colours into the
// memo and writing run on the writer's thread in file order, because each
// carries state from one frame to the next: a frame that is not cleared
// keeps a faint trace of the frame before it, and the memo's entries are
// decided by the first frame that meets their colour. So the bytes are
// those of one thread whatever the pool. (The adaptive palette's memo needs
// no order: its matches depend on nothing but the colour.)
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "base/task_group.h"
#include "imaging/adaptive_palette.h"
#include "imaging/surface.h"
#include "mapfile/map_writer.h"
#include "raster/pyramid.h"
#include "raster/resample.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

// Whether any pixel of the picture is less than opaque.
bool HasTransparency(const Bitmap& picture) {
  const auto width = static_cast<size_t>(picture.Width());
  switch (picture.Format()) {
    case PixelFormat::Rgb24:
      return false;
    case PixelFormat::Indexed8: {
      std::array<bool, 256> translucent{};  // indexes past the palette read as opaque
      const std::vector<uint32_t>& entries = picture.Palette().entries;
      for (size_t i = 0; i < std::min(entries.size(), translucent.size()); ++i) {
        translucent[i] = AlphaOf(entries[i]) < 255;
      }
      if (std::none_of(translucent.begin(), translucent.end(), [](bool t) { return t; })) return false;
      for (int32_t y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.Row(y);
        if (std::any_of(row, row + width, [&](uint8_t index) { return translucent[index]; })) return true;
      }
      return false;
    }
    case PixelFormat::Argb32:
      for (int32_t y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.Row(y);
        uint32_t all = 0xFFFFFFFF;  // a whole row at a time: the loop vectorizes
        for (size_t x = 0; x < width; ++x) {
          uint32_t argb;
          std::memcpy(&argb, row + 4 * x, sizeof argb);
          all &= argb;
        }
        if (AlphaOf(all) < 255) return true;
      }
      return false;
  }
  return true;
}

// One frame on its way through the steps. A slot is reused once its frame
// is written; its buffers stay.
struct Slot {
  FilteredDraw draw;
  ImageHandle canvas;  // the frame composited, in Argb32
  FrameQuantizer quantizer;
  ImageHandle indexed;
  ScratchStream encoded;
  std::atomic<size_t> stepsDone{0};
  std::atomic<bool> busy{false};  // a step of it runs on the pool
  Status failure = Status::Ok;    // of its last parallel step, published by busy
};

}  // namespace

class MapWriter::Pipeline {
 public:
  Pipeline(MapWriter& writer, const Bitmap& picture)
      : writer_(writer),
        picture_(picture),
        // Twice the threads keeps every thread busy while frames wait for
        // their turn; the window bounds the memory whatever the grid.
        slots_(static_cast<size_t>(2 * (writer.pool_ != nullptr ? writer.pool_->Threads() : 0) + 1)) {}

  Status Run(ImageHandle& image, std::span<Block> blocks, const UniqueFd& file, uint32_t& offset) {
    // The halved copies the draws need are made first, on the pool, so that
    // no draw waits for another to build one.
    int deepest = 0;
    for (const Block& block : blocks) {
      deepest = std::max(deepest, ReductionLevel(Rect{0, 0, block.frameW, block.frameH},
                                                 Rect{0, 0, block.sourceFrameW, block.sourceFrameH}));
    }
    if (deepest > 0) {
      if (const Status status = picture_.Reductions().BuildAhead(deepest, writer_.pool_);
          status != Status::Ok) {
        return status;
      }
    }
    clearEveryFrame_ = HasTransparency(picture_);
    for (const Block& block : blocks) {
      if (const Status status = RunBlock(image, block, file, offset); status != Status::Ok) return status;
    }
    return Status::Ok;
  }

 private:
  // The block's palette, and a level's layout, then its frames; a level
  // whose layout is set writes its frame index also when it fails, with
  // zero records for the frames not written, so the file is consistent up
  // to where it stopped.
  Status RunBlock(ImageHandle& image, const Block& block, const UniqueFd& file, uint32_t& offset) {
    block_ = &block;
    frames_ = uint64_t{block.columns} * block.rows;
    file_ = &file;
    offset_ = &offset;
    prefix_.clear();
    if (block.entry != nullptr) {
      if (const Status status = StartLevel(block, offset); status != Status::Ok) return status;
    }
    Status status = writer_.TakePalette(image, palette_);
    if (status == Status::Ok) {
      OrderPalette();
      status = RunFrames();
    }
    if (block.entry != nullptr) {
      EncodeFrameRef(FrameRef{writer_.previewOffset_, writer_.previewSize_}, index_.data());
      const Status indexWritten = WriteAllAt(file.Get(), index_, block.entry->indexOffset);
      if (status == Status::Ok) status = indexWritten;
    }
    return status;
  }

  // A fitted palette (the writer's own or the one it is given for a
  // picture that takes one) is stored ordered by lightness
  // (LightnessOrder). Frames are quantized with it as fitted, so that every
  // pixel keeps the colour it had, and their indexes are moved before they
  // are encoded.
  void OrderPalette() {
    reorder_ = palette_.entries.size() == 256 &&
               TakesFittedPalette(picture_, writer_.params_.PaletteMode == kPaletteAdaptive);
    if (!reorder_) return;
    order_ = LightnessOrder(palette_);
    orderedPalette_ = palette_;
    for (size_t i = 0; i < order_.size(); ++i) orderedPalette_.entries[order_[i]] = palette_.entries[i];
  }

  Status ApplyOrder(Slot& slot) const {
    Bitmap& indexed = *slot.indexed.GetBitmap();
    for (int32_t y = 0; y < indexed.Height(); ++y) {
      uint8_t* row = indexed.MutableRow(y);
      for (int32_t x = 0; x < indexed.Width(); ++x) row[x] = order_[row[x]];
    }
    return slot.indexed.SetPalette(orderedPalette_);
  }

  // Moves every frame of the block through the steps, the window of slots
  // bounding those in flight. A failure anywhere ends the run; the group
  // skips the tasks not started and waits for those running.
  Status RunFrames() {
    const std::thread::id writerThread = std::this_thread::get_id();
    TaskGroup group(writer_.pool_, "map frame");
    std::array<uint64_t, kSteps.size()> nextInOrder{};  // of each in-order step: the frame it takes next
    uint64_t entered = 0;
    for (;;) {
      const uint64_t written = nextInOrder.back();
      if (written == frames_) return Status::Ok;
      while (entered < frames_ && entered - written < slots_.size() && !writer_.stop_.stop_requested()) {
        Slot& slot = SlotOf(entered++);
        slot.stepsDone.store(0, std::memory_order_relaxed);
        slot.failure = Status::Ok;
      }
      if (entered == written) return Status::Cancelled;  // stopped before anything more was started
      const uint64_t ended = stepsEnded_.load(std::memory_order_acquire);
      bool moved = false;
      for (uint64_t n = written; n < entered; ++n) {
        Slot& slot = SlotOf(n);
        if (slot.busy.load(std::memory_order_acquire)) continue;
        // A frame whose step failed goes no further, and ends the run.
        if (slot.failure != Status::Ok) return slot.failure;
        const size_t k = slot.stepsDone.load(std::memory_order_relaxed);
        if (k == kSteps.size() || (kSteps[k].inOrder && nextInOrder[k] != n)) continue;
        moved = true;
        if (kSteps[k].inOrder) {
          if (std::this_thread::get_id() != writerThread) return Status::WrongState;
          if (const Status status = (this->*kSteps[k].run)(slot, n); status != Status::Ok) return status;
          slot.stepsDone.store(k + 1, std::memory_order_relaxed);
          ++nextInOrder[k];
          continue;
        }
        slot.busy.store(true, std::memory_order_relaxed);
        group.Run([this, &slot, n, k] {
          const Status status = (this->*kSteps[k].run)(slot, n);
          slot.failure = status;
          slot.stepsDone.store(k + 1, std::memory_order_relaxed);
          slot.busy.store(false, std::memory_order_release);
          stepsEnded_.fetch_add(1, std::memory_order_release);
          return status;
        });
      }
      if (const Status status = moved ? group.Failure() : group.WaitUntil([&] {
            return stepsEnded_.load(std::memory_order_acquire) != ended;
          });
          status != Status::Ok) {
        return status;
      }
    }
  }

  Slot& SlotOf(uint64_t n) { return slots_[n % slots_.size()]; }

  Status Draw(Slot& slot, uint64_t n) {
    const Block& block = *block_;
    const auto column = static_cast<int32_t>(n % block.columns);
    const auto row = static_cast<int32_t>(n / block.columns);
    // column < columns keeps these positions inside the picture's int32 size.
    const Rect source{column * block.sourceFrameW, row * block.sourceFrameH, block.sourceFrameW,
                      block.sourceFrameH};
    return slot.draw.Prepare(picture_, block.frameW, block.frameH, Rect{0, 0, block.frameW, block.frameH},
                             source);
  }

  // The frame composited onto its canvas, which starts as the frame before
  // it where the draw does not replace all of it.
  Status Compose(Slot& slot, uint64_t n) {
    if (writer_.stop_.stop_requested()) return Status::Cancelled;
    const Block& block = *block_;
    const std::pair<ImageHandle*, PixelFormat> buffers[] = {{&slot.canvas, PixelFormat::Argb32},
                                                            {&slot.indexed, PixelFormat::Indexed8}};
    for (const auto& [handle, format] : buffers) {
      const Bitmap* bitmap = handle->GetBitmap();
      if (bitmap == nullptr || bitmap->Width() != block.frameW || bitmap->Height() != block.frameH) {
        *handle = ImageHandle::CreateBlank(block.frameW, block.frameH, format);
        if (!*handle) return handle->LastStatus();
      }
    }
    if (const Status status = slot.indexed.SetPalette(palette_); status != Status::Ok) return status;
    // Drawing composes over what the canvas holds. Inner frames of an opaque
    // picture are wholly covered by it, so only frames that can reach past
    // its edges need the white background; with transparency, every frame
    // does. The rest keep a trace of the frame before them, as they always did.
    const auto column = n % block.columns;
    const auto row = n / block.columns;
    Bitmap& canvas = *slot.canvas.GetBitmap();
    if (clearEveryFrame_ || n == 0 || column + 1 == block.columns || row + 1 == block.rows) {
      if (const Status status = Surface(slot.canvas).Clear(kOpaqueWhite); status != Status::Ok) return status;
    } else if (const Slot& before = SlotOf(n - 1);
               &slot != &before && !slot.draw.Replaces(block.frameW, block.frameH)) {
      const Bitmap& last = *before.canvas.GetBitmap();  // the same size: the same block
      for (int32_t y = 0; y < canvas.Height(); ++y) {
        std::memcpy(canvas.MutableRow(y), last.Row(y), 4 * static_cast<size_t>(canvas.Width()));
      }
    }
    slot.draw.Composite(canvas);
    return slot.canvas.LastStatus();
  }

  // The colours new to the memo, found; with the adaptive palette's memo,
  // whose matches need no order, the frame quantized.
  Status Scan(Slot& slot, uint64_t /*n*/) {
    if (writer_.exactMemo_) {
      writer_.exactMemo_.QuantizeInto(slot.canvas, slot.indexed, palette_);
      return slot.indexed.LastStatus();
    }
    return slot.quantizer.Scan(*slot.canvas.GetBitmap(), *slot.indexed.GetBitmap(), palette_,
                               writer_.workArea_);
  }

  Status Commit(Slot& slot, uint64_t /*n*/) {
    if (!writer_.exactMemo_) slot.quantizer.Commit(writer_.workArea_);
    return Status::Ok;
  }

  Status FinishAndEncode(Slot& slot, uint64_t /*n*/) {
    if (!writer_.exactMemo_) {
      slot.quantizer.Finish(*slot.canvas.GetBitmap(), *slot.indexed.GetBitmap(), palette_, writer_.workArea_);
    }
    if (reorder_) {
      if (const Status status = ApplyOrder(slot); status != Status::Ok) return status;
    }
    slot.encoded.Reset();
    return writer_.encode_ == nullptr ? Status::InvalidParameter
                                      : writer_.encode_(*slot.indexed.GetBitmap(), slot.encoded);
  }

  Status Write(Slot& slot, uint64_t n) {
    const Block& block = *block_;
    if (block.entry == nullptr) return WritePreview(slot);
    if (const Status status = WriteFrame(slot, n); status != Status::Ok) return status;
    if (writer_.progressSink_ != nullptr) {
      writer_.progressSink_->OnProgress(block.stageCode, static_cast<int32_t>((n + 1) * 100 / frames_));
    }
    return Status::Ok;
  }

  Status StartLevel(const Block& block, uint32_t& offset) {
    LevelEntry& entry = *block.entry;
    const uint64_t refCount = frames_ + kFirstFrameRef;
    const uint64_t indexBytes = refCount * kFrameRefSize;
    const uint32_t prefixSize = writer_.format_->sharedPrefixSize;
    if (!FitsInMapFile(offset, indexBytes + prefixSize)) return Status::TooLarge;
    entry.frameWidth = static_cast<uint32_t>(block.frameW);
    entry.frameHeight = static_cast<uint32_t>(block.frameH);
    entry.columns = block.columns;
    entry.rows = block.rows;
    entry.refCount = static_cast<uint32_t>(refCount);
    entry.firstFrameRef = kFirstFrameRef;
    entry.indexOffset = offset;
    offset += static_cast<uint32_t>(indexBytes);
    entry.prefixSize = prefixSize;
    entry.prefixOffset = offset;
    offset += prefixSize;
    index_.assign(static_cast<size_t>(indexBytes), 0);
    return Status::Ok;
  }

  Status WriteFrame(const Slot& slot, uint64_t frame) {
    const LevelEntry& entry = *block_->entry;
    const std::span<const uint8_t> encoding = slot.encoded.Data();
    // An encoding shorter than the prefix, or one that does not share the
    // stored prefix, would give a frame that cannot be decoded.
    if (encoding.size() < entry.prefixSize) return Status::GenericError;
    if (entry.prefixSize != 0) {
      const std::span<const uint8_t> head = encoding.first(entry.prefixSize);
      if (prefix_.empty()) {
        prefix_.assign(head.begin(), head.end());
        if (const Status status = WriteAllAt(file_->Get(), head, entry.prefixOffset); status != Status::Ok) {
          return status;
        }
      } else if (std::memcmp(head.data(), prefix_.data(), prefix_.size()) != 0) {
        return Status::GenericError;
      }
    }
    uint32_t& offset = *offset_;
    const std::span<const uint8_t> body = encoding.subspan(entry.prefixSize);
    if (!FitsInMapFile(offset, body.size())) return Status::TooLarge;
    if (const Status status = WriteAllAt(file_->Get(), body, offset); status != Status::Ok) return status;
    const auto bodySize = static_cast<uint32_t>(body.size());
    EncodeFrameRef(FrameRef{offset, bodySize}, &index_[(kFirstFrameRef + frame) * kFrameRefSize]);
    offset += bodySize;
    return Status::Ok;
  }

  Status WritePreview(const Slot& slot) {
    uint32_t& offset = *offset_;
    const std::span<const uint8_t> encoding = slot.encoded.Data();
    if (!FitsInMapFile(offset, encoding.size())) return Status::TooLarge;
    if (const Status status = WriteAllAt(file_->Get(), encoding, offset); status != Status::Ok) return status;
    writer_.previewOffset_ = offset;
    writer_.previewSize_ = static_cast<uint32_t>(encoding.size());
    offset += writer_.previewSize_;
    return Status::Ok;
  }

  // The steps every frame takes, in order: parallel ones on the pool, the
  // others on the writer's thread in file order.
  struct Step {
    bool inOrder;
    Status (Pipeline::*run)(Slot& slot, uint64_t frame);
  };
  static constexpr std::array<Step, 6> kSteps{{
      {false, &Pipeline::Draw},
      {true, &Pipeline::Compose},
      {false, &Pipeline::Scan},
      {true, &Pipeline::Commit},
      {false, &Pipeline::FinishAndEncode},
      {true, &Pipeline::Write},
  }};

  MapWriter& writer_;
  const Bitmap& picture_;
  std::vector<Slot> slots_;
  bool clearEveryFrame_ = false;
  std::atomic<uint64_t> stepsEnded_{0};  // parallel steps ended, for the writer's wait
  // The block being written, with what the writer's thread keeps for it:
  // its palette, and a level's frame index and shared prefix.
  const Block* block_ = nullptr;
  uint64_t frames_ = 0;
  const UniqueFd* file_ = nullptr;
  uint32_t* offset_ = nullptr;
  ColorPalette palette_;
  bool reorder_ = false;  // frames are stored with orderedPalette_, their indexes moved by order_
  std::array<uint8_t, 256> order_{};
  ColorPalette orderedPalette_;
  std::vector<uint8_t> index_;
  SharedPrefix prefix_;
};

Status MapWriter::WriteBlocks(ImageHandle& image, std::span<Block> blocks, const UniqueFd& file,
                              uint32_t& offset) {
  const Bitmap* picture = image.GetBitmap();
  if (picture == nullptr || format_ == nullptr) return Status::InvalidParameter;
  Pipeline pipeline(*this, *picture);
  return pipeline.Run(image, blocks, file, offset);
}

}  // namespace rzt2
