// MapWriter::WriteLevel: one zoom level as a grid of frames, each drawn
// from the picture, reduced to the level palette, encoded and written.
#include <limits>

#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

// The picture pixels that one frame covers at scale; 0 when there is no such size.
int32_t SourceFrameSize(int32_t frameSize, uint32_t scale) {
  if (frameSize <= 0 || scale == 0) return 0;
  const int64_t size = int64_t{frameSize} * 10000 / scale;
  return size <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(size) : 0;
}

}  // namespace

FrameGrid LevelGrid(const EncoderParams& params, uint32_t width, uint32_t height, uint32_t scale) {
  const int32_t sourceFrameW = SourceFrameSize(params.FrameSizeX, scale);
  const int32_t sourceFrameH = SourceFrameSize(params.FrameSizeY, scale);
  if (sourceFrameW == 0 || sourceFrameH == 0 || width == 0 || height == 0) return {};
  return {(width - 1) / static_cast<uint32_t>(sourceFrameW) + 1,
          (height - 1) / static_cast<uint32_t>(sourceFrameH) + 1};
}

Status MapWriter::LevelBlock(ImageHandle& image, uint32_t scale, LevelEntry& entry, Block& out) const {
  const int32_t sourceFrameW = SourceFrameSize(params_.FrameSizeX, scale);
  const int32_t sourceFrameH = SourceFrameSize(params_.FrameSizeY, scale);
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  if (sourceFrameW == 0 || sourceFrameH == 0 || width == 0 || height == 0 || format_ == nullptr) {
    return Status::InvalidParameter;
  }
  const auto [columns, rows] = LevelGrid(params_, width, height, scale);
  out = Block{.entry = &entry,
              .frameW = params_.FrameSizeX,
              .frameH = params_.FrameSizeY,
              .sourceFrameW = sourceFrameW,
              .sourceFrameH = sourceFrameH,
              .columns = columns,
              .rows = rows};
  return Status::Ok;
}

Status MapWriter::WriteLevel(ImageHandle& image, LevelEntry& entry, uint32_t scale, const UniqueFd& file,
                             uint32_t& offset) {
  return GuardMemory([&] {
    Block block;
    if (const Status status = LevelBlock(image, scale, entry, block); status != Status::Ok) return status;
    return WriteBlocks(image, std::span(&block, 1), file, offset);
  });
}

}  // namespace rzt2
