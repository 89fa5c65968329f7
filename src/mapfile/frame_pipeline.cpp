// MapWriter::WriteBlocks: the frames of the preview and of the levels, in
// steps, after the halved copies the draws need are built on the pool.
// Drawing (filtering the picture), quantizing and encoding run on the pool;
// compositing, entering new colours into the quantizer's memo and writing
// run on the writer's thread in file order, because each carries state from
// one frame to the next: a frame that is not cleared keeps a faint trace of
// the frame before it, and the memo's entries are decided by the first frame
// that meets their colour. So the bytes are those of one thread whatever
// the pool. (The adaptive palette's memo needs no order: its matches depend
// on nothing but the colour.)
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>

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

// One frame on its way through the pipeline. A slot is reused once its
// frame is written; its buffers stay.
struct Slot {
  FilteredDraw draw;
  ImageHandle canvas;  // the frame composited, in Argb32
  FrameQuantizer quantizer;
  ImageHandle indexed;
  ScratchStream encoded;
  Status status = Status::Ok;  // the first failure of the frame's steps
  std::atomic<bool> drawn{false};
  std::atomic<bool> scanned{false};
  std::atomic<bool> finished{false};  // encoded, or failed
};

// A frame's place: its block and its number in the block, row by row.
struct Position {
  size_t block = 0;
  uint64_t frame = 0;
};

// What the writer's thread keeps for each block: its palette, and a
// level's frame index and shared prefix.
struct BlockState {
  ColorPalette palette;
  std::vector<uint8_t> index;
  SharedPrefix prefix;
};

}  // namespace

class MapWriter::Pipeline {
 public:
  Pipeline(MapWriter& writer, const Bitmap& picture, std::span<Block> blocks, ThreadPool& pool)
      : writer_(writer),
        picture_(picture),
        blocks_(blocks),
        pool_(pool),
        // Twice the threads keeps every thread busy while frames wait for
        // their turn; the window bounds the memory whatever the grid.
        slots_(static_cast<size_t>(2 * pool.Threads() + 1)),
        states_(blocks.size()) {}

  // Frames in flight use the slots: wait for them whatever ends the run.
  ~Pipeline() {
    pool_.HelpUntil([this] { return inFlight_.load() == 0; });
  }

  Status Run(ImageHandle& image, const UniqueFd& file, uint32_t& offset) {
    // The halved copies the draws need are made first, on the pool, so that
    // no draw waits for another to build one.
    int deepest = 0;
    for (const Block& block : blocks_) {
      const double factor =
          std::min(double(block.sourceFrameW) / block.frameW, double(block.sourceFrameH) / block.frameH);
      deepest = std::max(deepest, ReductionLevel(factor));
    }
    if (deepest > 0) {
      if (const Status status = picture_.Reductions().BuildAhead(deepest, pool_); status != Status::Ok) {
        return status;
      }
    }
    clearEveryFrame_ = HasTransparency(picture_);
    uint64_t total = 0;
    for (const Block& block : blocks_) total += uint64_t{block.columns} * block.rows;

    // Each count runs ahead of the next: frames drawn, composited, entered
    // into the memo, written.
    Position draw, compose, commit, write;
    uint64_t drawn = 0, composed = 0, committed = 0, written = 0;
    while (written < total) {
      while (drawn < total && drawn - written < slots_.size() && !writer_.stop_.stop_requested()) {
        StartDraw(SlotOf(drawn++), draw);
        Advance(draw);
      }
      if (drawn == written) return Status::Cancelled;  // stopped before anything more was drawn
      // A block of its own palette may empty the memo: the frames before
      // it must be through with it first.
      const bool drained = written == composed || compose.frame != 0 || writer_.palette_ != nullptr;
      const auto composable = [&] { return composed < drawn && drained && SlotOf(composed).drawn.load(); };
      pool_.HelpUntil([&] {
        return composable() || (committed < composed && SlotOf(committed).scanned.load()) ||
               (written < committed && SlotOf(written).finished.load());
      });
      if (composable()) {
        Compose(image, composed, compose);
        Advance(compose);
        ++composed;
      }
      while (committed < composed && SlotOf(committed).scanned.load()) {
        Commit(SlotOf(committed), commit);
        Advance(commit);
        ++committed;
      }
      while (written < committed && SlotOf(written).finished.load()) {
        const Status status = Write(SlotOf(written), write, file, offset);
        if (status != Status::Ok) return status;
        Advance(write);
        ++written;
      }
    }
    return Status::Ok;
  }

 private:
  Slot& SlotOf(uint64_t n) { return slots_[n % slots_.size()]; }

  void Advance(Position& at) const {
    if (++at.frame == uint64_t{blocks_[at.block].columns} * blocks_[at.block].rows) {
      ++at.block;
      at.frame = 0;
    }
  }

  void Post(std::function<void()> task) {
    pool_.Post(std::move(task));
    // Counted once posted: a Post that throws leaves no task to wait for.
    ++inFlight_;
  }

  void StartDraw(Slot& slot, Position at) {
    slot.drawn = false;
    slot.scanned = false;
    slot.finished = false;
    const Block& block = blocks_[at.block];
    const auto column = static_cast<int32_t>(at.frame % block.columns);
    const auto row = static_cast<int32_t>(at.frame / block.columns);
    // column < columns keeps these positions inside the picture's int32 size.
    const Rect source{column * block.sourceFrameW, row * block.sourceFrameH, block.sourceFrameW,
                      block.sourceFrameH};
    Post([this, &slot, &block, source] {
      slot.status = slot.draw.Prepare(picture_, block.frameW, block.frameH,
                                      Rect{0, 0, block.frameW, block.frameH}, source);
      slot.drawn = true;
      --inFlight_;
    });
  }

  // On the writer's thread, in file order: the frame composited onto its
  // canvas, then scanned for colours new to the memo on the pool (or, with
  // the adaptive palette's memo, whose matches need no order, quantized).
  void Compose(ImageHandle& image, uint64_t n, Position at) {
    Slot& slot = SlotOf(n);
    const Block& block = blocks_[at.block];
    BlockState& state = states_[at.block];
    if (writer_.stop_.stop_requested()) slot.status = Status::Cancelled;
    if (slot.status == Status::Ok && at.frame == 0) slot.status = writer_.TakePalette(image, state.palette);
    if (slot.status == Status::Ok) slot.status = Composite(slot, SlotOf(n - 1), block, state, at);
    if (slot.status != Status::Ok) {
      slot.scanned = true;
      return;
    }
    Post([this, &slot, &state] {
      if (writer_.exactMemo_) {
        writer_.exactMemo_.QuantizeInto(slot.canvas, slot.indexed, state.palette);
        slot.status = slot.indexed.LastStatus();
      } else {
        slot.status = slot.quantizer.Scan(*slot.canvas.GetBitmap(), *slot.indexed.GetBitmap(), state.palette,
                                          writer_.workArea_);
      }
      slot.scanned = true;
      --inFlight_;
    });
  }

  // Draws the frame onto its canvas, which starts as the frame before it
  // where the draw does not replace all of it.
  Status Composite(Slot& slot, const Slot& before, const Block& block, const BlockState& state, Position at) {
    const std::pair<ImageHandle*, PixelFormat> buffers[] = {{&slot.canvas, PixelFormat::Argb32},
                                                            {&slot.indexed, PixelFormat::Indexed8}};
    for (const auto& [handle, format] : buffers) {
      const Bitmap* bitmap = handle->GetBitmap();
      if (bitmap == nullptr || bitmap->Width() != block.frameW || bitmap->Height() != block.frameH) {
        *handle = ImageHandle::CreateBlank(block.frameW, block.frameH, format);
        if (!*handle) return handle->LastStatus();
      }
    }
    if (const Status status = slot.indexed.SetPalette(state.palette); status != Status::Ok) return status;
    // Drawing composes over what the canvas holds. Inner frames of an opaque
    // picture are wholly covered by it, so only frames that can reach past
    // its edges need the white background; with transparency, every frame
    // does. The rest keep a trace of the frame before them, as they always did.
    const auto column = at.frame % block.columns;
    const auto row = at.frame / block.columns;
    Bitmap& canvas = *slot.canvas.GetBitmap();
    if (clearEveryFrame_ || at.frame == 0 || column + 1 == block.columns || row + 1 == block.rows) {
      if (const Status status = Surface(slot.canvas).Clear(kOpaqueWhite); status != Status::Ok) return status;
    } else if (&slot != &before && !slot.draw.Replaces(block.frameW, block.frameH)) {
      const Bitmap& last = *before.canvas.GetBitmap();  // the same size: the same block
      for (int32_t y = 0; y < canvas.Height(); ++y) {
        std::memcpy(canvas.MutableRow(y), last.Row(y), 4 * static_cast<size_t>(canvas.Width()));
      }
    }
    slot.draw.Composite(canvas);
    return slot.canvas.LastStatus();
  }

  // On the writer's thread, in file order: the frame's new colours enter
  // the memo; its pixels are then finished and encoded on the pool.
  void Commit(Slot& slot, Position at) {
    if (slot.status != Status::Ok) {
      slot.finished = true;
      return;
    }
    const BlockState& state = states_[at.block];
    if (!writer_.exactMemo_) slot.quantizer.Commit(writer_.workArea_);
    Post([this, &slot, &state] {
      if (!writer_.exactMemo_) {
        slot.quantizer.Finish(*slot.canvas.GetBitmap(), *slot.indexed.GetBitmap(), state.palette,
                              writer_.workArea_);
      }
      slot.encoded.Reset();
      slot.status = writer_.format_ == nullptr
                        ? Status::InvalidParameter
                        : writer_.format_->encode(*slot.indexed.GetBitmap(), slot.encoded);
      slot.finished = true;
      --inFlight_;
    });
  }

  // On the writer's thread, in file order.
  Status Write(Slot& slot, Position at, const UniqueFd& file, uint32_t& offset) {
    const Block& block = blocks_[at.block];
    BlockState& state = states_[at.block];
    if (block.entry == nullptr) return WritePreview(slot, file, offset);
    LevelEntry& entry = *block.entry;
    if (at.frame == 0) {
      if (const Status status = StartLevel(block, state, offset); status != Status::Ok) return status;
    }
    Status status =
        slot.status == Status::Ok ? WriteFrame(slot, state, entry, at.frame, file, offset) : slot.status;
    const uint64_t frames = uint64_t{block.columns} * block.rows;
    if (status == Status::Ok && writer_.progressSink_ != nullptr) {
      writer_.progressSink_->OnProgress(block.stageCode, static_cast<int32_t>((at.frame + 1) * 100 / frames));
    }
    // The index goes out also after a failure, with zero records for the
    // frames not written, so the file is consistent up to where it stopped.
    if (status != Status::Ok || at.frame + 1 == frames) {
      EncodeFrameRef(FrameRef{writer_.previewOffset_, writer_.previewSize_}, state.index.data());
      const Status indexWritten = WriteAllAt(file.Get(), state.index, entry.indexOffset);
      if (status == Status::Ok) status = indexWritten;
    }
    return status;
  }

  Status StartLevel(const Block& block, BlockState& state, uint32_t& offset) {
    LevelEntry& entry = *block.entry;
    const uint64_t refCount = uint64_t{block.columns} * block.rows + kFirstFrameRef;
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
    state.index.assign(static_cast<size_t>(indexBytes), 0);
    return Status::Ok;
  }

  Status WriteFrame(const Slot& slot, BlockState& state, const LevelEntry& entry, uint64_t frame,
                    const UniqueFd& file, uint32_t& offset) {
    const std::span<const uint8_t> encoding = slot.encoded.Data();
    // An encoding shorter than the prefix, or one that does not share the
    // stored prefix, would give a frame that cannot be decoded.
    if (encoding.size() < entry.prefixSize) return Status::GenericError;
    if (entry.prefixSize != 0) {
      const std::span<const uint8_t> head = encoding.first(entry.prefixSize);
      if (state.prefix.empty()) {
        state.prefix.assign(head.begin(), head.end());
        if (const Status status = WriteAllAt(file.Get(), head, entry.prefixOffset); status != Status::Ok) {
          return status;
        }
      } else if (std::memcmp(head.data(), state.prefix.data(), state.prefix.size()) != 0) {
        return Status::GenericError;
      }
    }
    const std::span<const uint8_t> body = encoding.subspan(entry.prefixSize);
    if (!FitsInMapFile(offset, body.size())) return Status::TooLarge;
    if (const Status status = WriteAllAt(file.Get(), body, offset); status != Status::Ok) return status;
    const auto bodySize = static_cast<uint32_t>(body.size());
    EncodeFrameRef(FrameRef{offset, bodySize}, &state.index[(kFirstFrameRef + frame) * kFrameRefSize]);
    offset += bodySize;
    return Status::Ok;
  }

  Status WritePreview(const Slot& slot, const UniqueFd& file, uint32_t& offset) {
    if (slot.status != Status::Ok) return slot.status;
    const std::span<const uint8_t> encoding = slot.encoded.Data();
    if (!FitsInMapFile(offset, encoding.size())) return Status::TooLarge;
    if (const Status status = WriteAllAt(file.Get(), encoding, offset); status != Status::Ok) return status;
    writer_.previewOffset_ = offset;
    writer_.previewSize_ = static_cast<uint32_t>(encoding.size());
    offset += writer_.previewSize_;
    return Status::Ok;
  }

  MapWriter& writer_;
  const Bitmap& picture_;
  std::span<Block> blocks_;
  ThreadPool& pool_;
  std::vector<Slot> slots_;
  std::vector<BlockState> states_;
  bool clearEveryFrame_ = false;
  std::atomic<int> inFlight_{0};  // tasks posted and not yet ended (briefly -1 while one is posted)
};

Status MapWriter::WriteBlocks(ImageHandle& image, std::span<Block> blocks, const UniqueFd& file,
                              uint32_t& offset) {
  const Bitmap* picture = image.GetBitmap();
  if (picture == nullptr || format_ == nullptr) return Status::InvalidParameter;
  ThreadPool alone(0);
  Pipeline pipeline(*this, *picture, blocks, pool_ != nullptr ? *pool_ : alone);
  return pipeline.Run(image, file, offset);
}

}  // namespace rzt2
