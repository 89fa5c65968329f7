// MapWriter::WriteMapFile: one complete map file from one picture.
#include <ctime>

#include "io/pending_file.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

constexpr int32_t kFirstStageCode = 100;

// Eight values of the classic C runtime generator seeded with the time in
// seconds. Its recurrence is kept here rather than calling rand(): the
// values must be 0..32767 whatever RAND_MAX is, and conversions running at
// once must not share one generator.
void FillRandomValues(MapHeader& header) {
  auto state = static_cast<uint32_t>(std::time(nullptr));
  header.randomSum = 0;
  for (uint32_t& value : header.randomValues) {
    state = state * 214013u + 2531011u;
    value = (state >> 16) & 0x7FFF;
    header.randomSum += value;
  }
}

}  // namespace

DecodeLimits MapWriter::ConversionLimits(const EncoderParams& params) {
  return DecodeLimits{.frameWidth = static_cast<uint32_t>(params.FrameSizeX),
                      .frameHeight = static_cast<uint32_t>(params.FrameSizeY)};
}

Status MapWriter::WriteMapFile(ImageHandle& image, const std::filesystem::path& path) {
  return GuardMemory([&] { return MapFile(image, path); });
}

Status MapWriter::MapFile(ImageHandle& image, const std::filesystem::path& path) {
  if (CheckEncoderParams(params_)) return Status::InvalidParameter;
  if (!HasMemo()) return Status::OutOfMemory;
  MapHeader header;
  header.imageWidth = image.Width();
  header.imageHeight = image.Height();
  if (header.imageWidth == 0 || header.imageHeight == 0) return Status::InvalidParameter;
  if (const Status status =
          CheckPictureSize(ConversionLimits(params_), header.imageWidth, header.imageHeight);
      status != Status::Ok) {
    return status;
  }
  FillRandomValues(header);

  // The preview, then the 100 % level and the levels the mask selects.
  std::array<LevelEntry, kLevelCount> levels{};
  std::array<Block, 1 + kZoomLevels.size()> blocks{};
  size_t count = 0;
  if (const Status status = PreviewBlock(image, blocks[count++]); status != Status::Ok) return status;
  for (size_t i = 0; i < kZoomLevels.size(); ++i) {
    if (!StoresLevel(params_, i)) continue;
    levels[i].scale = kZoomLevels[i];
    Block& block = blocks[count++];
    if (const Status status = LevelBlock(image, kZoomLevels[i], levels[i], block); status != Status::Ok) {
      return status;
    }
    block.stageCode = kFirstStageCode + static_cast<int32_t>(i);
  }

  PendingFile target(path, EarlierFile::KeepAsBackup);
  if (!target.IsOpen()) return target.OpenStatus();
  uint32_t offset = kPreviewOffset;
  if (const Status status = WriteBlocks(image, std::span(blocks).first(count), target.File(), offset);
      status != Status::Ok) {
    return status;
  }

  // Written last: until now the file has no magic, and readers refuse it.
  header.firstLevel = levels[0];
  std::array<uint8_t, size_t{kLevelCount} * kLevelEntrySize> table{};
  for (size_t i = 0; i < levels.size(); ++i) EncodeLevelEntry(levels[i], &table[i * kLevelEntrySize]);
  const int fd = target.File().Get();
  if (const Status status = WriteAllAt(fd, EncodeMapHeader(header), 0); status != Status::Ok) return status;
  if (const Status status = WriteAllAt(fd, table, kLevelTableOffset); status != Status::Ok) return status;
  return target.Commit();
}

}  // namespace rzt2
