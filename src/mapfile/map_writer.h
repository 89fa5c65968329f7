// MapWriter turns one loaded picture into one map file. It copies the
// encoder parameters when it is created; later changes of the settings do
// not reach it. Map files are read by MapFileReader (map_file_reader.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stop_token>
#include <vector>

#include "base/thread_pool.h"
#include "imaging/exact_color_memo.h"
#include "imaging/image_handle.h"
#include "imaging/quantizer.h"
#include "io/file_io.h"
#include "io/scratch_stream.h"
#include "mapfile/encoder_params.h"
#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"
#include "raster/color_palette.h"

namespace rzt2 {

// Receives per-frame progress: stage code 100 + zoom level index, percent.
class ProgressSink {
 public:
  virtual void OnProgress(int32_t stageCode, int32_t percent) = 0;

 protected:
  ~ProgressSink() = default;
};

// Encoded frames and previews land here. It starts at this size and grows
// for a longer encoding: a frame cut short would be a corrupt file.
using FrameBuffer = std::vector<uint8_t>;
inline constexpr size_t kFrameBufferSize = 524288;

// Offsets are 32-bit. Written files stay below 2 GiB, so that no offset
// needs its top bit, and a block that would reach it fails the file.
inline constexpr uint64_t kMapFileLimit = uint64_t{1} << 31;
constexpr bool FitsInMapFile(uint64_t offset, uint64_t length) {
  return offset < kMapFileLimit && length < kMapFileLimit - offset;
}

// The grid of frames that a zoom level at scale (hundredths of a percent)
// cuts a width x height picture into; 0 x 0 when the frame size or the
// scale gives no frame.
struct FrameGrid {
  uint32_t columns = 0;
  uint32_t rows = 0;
};
FrameGrid LevelGrid(const EncoderParams& params, uint32_t width, uint32_t height, uint32_t scale);
// Whether maps written with params store the zoom level with that index
// (kZoomLevels): level 0 always, level i when bit i of the mask is set.
constexpr bool StoresLevel(const EncoderParams& params, size_t level) {
  return level == 0 || (level < kZoomLevels.size() && (params.ZoomLevelsMask & (1 << level)) != 0);
}

class MapWriter {
 public:
  // Null only when memory is exhausted. The palette, the sink and the pool
  // are borrowed and must outlive the writer. An EncoderCode that names no
  // frame format (FrameFormat) makes every encoding fail with
  // InvalidParameter. A stop requested through stop ends WriteMapFile before
  // its next frame. Frames are drawn, quantized and encoded on the pool's
  // threads (and the writer's own), and composited, entered into the
  // quantizer's memo and written in file order on the writer's thread, which
  // also reports progress: the file's bytes do not depend on the pool.
  // Without a pool, all runs on the writer's thread. Without a palette, each
  // level and the preview take PaletteForMap of the picture. With
  // PaletteMode adaptive, frames are reduced through an ExactColorMemo
  // instead of the 6-bit memo, and a fitted palette is stored in
  // LightnessOrder. With MapSize small, frames take the format's
  // encodeSmall where it has one.
  static std::unique_ptr<MapWriter> Create(const EncoderParams& params, const ColorPalette* palette,
                                           ProgressSink* progressSink, std::stop_token stop = {},
                                           ThreadPool* pool = nullptr);

  // Encodes the picture with the writer's encoder into buffer (grown when
  // needed) and gives the byte count.
  Status EncodeToBuffer(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length);

  // The limits a picture to be converted with params (checked ones) keeps:
  // the grid of frames of its 100 % level within the pixels map readers accept.
  static DecodeLimits ConversionLimits(const EncoderParams& params);

  // Writes the whole map file: preview, the 100 % level and the levels that
  // ZoomLevelsMask selects, then header and level table. Parameters outside
  // their ranges are refused with InvalidParameter, a picture outside
  // ConversionLimits with TooLarge, and a stopped one fails with Cancelled.
  // The file appears at path only when complete; an earlier file there moves
  // to "<path>.bak" when that name is free and is replaced otherwise. On
  // failure the earlier file stays as it was and nothing else is left behind.
  Status WriteMapFile(ImageHandle& image, const std::filesystem::path& path);

  // Writes one zoom level at offset: frame index, shared prefix, frame
  // bodies. Fills entry (all but scale) and advances offset. Fails when a
  // frame cannot be drawn, reduced, encoded or written, or (TooLarge) when
  // the level would reach kMapFileLimit; the frame index is written even then.
  Status WriteLevel(ImageHandle& image, LevelEntry& entry, uint32_t scale, const UniqueFd& file,
                    uint32_t& offset);

  // Writes the preview block at offset, advances offset and records the
  // block for the frame indexes.
  Status WritePreview(ImageHandle& image, const UniqueFd& file, uint32_t& offset);

 private:
  MapWriter(const EncoderParams& params, const ColorPalette* palette, ProgressSink* progressSink,
            std::stop_token stop, ThreadPool* pool);

  // A part of the file made of frames: the preview (one frame of its own
  // size) or one zoom level (a grid of frames cut from the picture).
  struct Block {
    LevelEntry* entry = nullptr;  // a level's, filled in as it is written; null for the preview
    int32_t frameW = 0, frameH = 0;
    int32_t sourceFrameW = 0, sourceFrameH = 0;  // a level's: the picture pixels of one frame
    uint32_t columns = 1, rows = 1;
    int32_t stageCode = 0;
  };
  class Pipeline;

  // Writes the blocks in order from offset and advances it. A level block
  // that fails after its layout is set still writes its frame index.
  Status WriteBlocks(ImageHandle& image, std::span<Block> blocks, const UniqueFd& file, uint32_t& offset);
  // The level block for scale, or InvalidParameter.
  Status LevelBlock(ImageHandle& image, uint32_t scale, LevelEntry& entry, Block& out) const;
  // The preview block, or InvalidParameter.
  Status PreviewBlock(ImageHandle& image, Block& out) const;

  // The work of the public operations of the same names, which guard it.
  Status Encode(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length);
  Status MapFile(ImageHandle& image, const std::filesystem::path& path);

  // The palette for a level or the preview. The memo belongs to one
  // palette: it is emptied only when the palette differs from the last one,
  // so the levels of a file reuse each other's colour matches.
  Status TakePalette(ImageHandle& image, ColorPalette& out);
  // Whether the memo of the palette mode exists (memory was not exhausted).
  bool HasMemo() const { return workArea_ || exactMemo_; }

  const ImageFormat* format_;  // null when EncoderCode names no frame format
  EncodeFunction encode_;      // the format's encoder MapSize asks for; null without a format
  ScratchStream scratchStream_;
  uint32_t previewOffset_ = 0;
  uint32_t previewSize_ = 0;
  EncoderParams params_;
  ProgressSink* progressSink_;
  std::stop_token stop_;
  ThreadPool* pool_;              // null: the writer's thread alone
  QuantizerWorkArea workArea_;    // the built-in palette mode's
  ExactColorMemo exactMemo_;      // the adaptive one's
  ColorPalette workAreaPalette_;  // the palette the memo's matches belong to
  const ColorPalette* palette_;
};

}  // namespace rzt2
