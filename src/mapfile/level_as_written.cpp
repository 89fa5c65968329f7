#include "mapfile/level_as_written.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "io/file_io.h"
#include "mapfile/map_file_reader.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

// A side of the picture at a level, in the level's pixels, where a frame of
// frameSide pixels covers frameSide x 10000 / scale picture pixels; a pixel
// the picture covers in part counts.
uint64_t SideAtLevel(uint64_t side, int32_t frameSide, uint32_t scale) {
  const uint64_t covered = uint64_t{static_cast<uint32_t>(frameSide)} * 10000 / scale;
  return covered == 0 ? 0 : (side * static_cast<uint32_t>(frameSide) + covered - 1) / covered;
}

// The preview, then the level's frame index, prefix and bodies, with a
// header that makes the level the file's first: what ReadMapImage rebuilds.
// The preview comes first, as in a whole file, for the colour matches it
// leaves in the writer's memo; the finer levels that a whole file writes
// before a coarser one would take as long as the whole file.
Status WriteLevelFile(ImageHandle& picture, const EncoderParams& params, uint32_t scale, ThreadPool* pool,
                      const UniqueFd& file) {
  // No palette given: the writer chooses it, as for a whole file.
  const auto writer = MapWriter::Create(params, nullptr, nullptr, {}, pool);
  if (!writer) return Status::OutOfMemory;
  MapHeader header;
  uint32_t offset = kPreviewOffset;
  if (const Status status = writer->WritePreview(picture, file, offset); status != Status::Ok) return status;
  if (const Status status = writer->WriteLevel(picture, header.firstLevel, scale, file, offset);
      status != Status::Ok) {
    return status;
  }
  header.firstLevel.scale = scale;
  header.imageWidth = static_cast<uint32_t>(SideAtLevel(picture.Width(), params.FrameSizeX, scale));
  header.imageHeight = static_cast<uint32_t>(SideAtLevel(picture.Height(), params.FrameSizeY, scale));
  return WriteAllAt(file.Get(), EncodeMapHeader(header), 0);
}

Status ReadBack(const UniqueFd& file, std::vector<uint8_t>& out) {
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) return StatusFromErrno(errno, Status::ReadFailed);
  out.resize(static_cast<size_t>(info.st_size));
  return ReadAllAt(file.Get(), out, 0);
}

}  // namespace

size_t LevelForShownSize(const EncoderParams& params, uint32_t width, uint32_t height, uint32_t shownWidth,
                         uint32_t shownHeight) {
  size_t chosen = 0;
  for (size_t level = 1; level < kZoomLevels.size(); ++level) {
    const uint64_t scale = kZoomLevels[level];
    if (StoresLevel(params, level) && uint64_t{width} * scale >= uint64_t{shownWidth} * 10000 &&
        uint64_t{height} * scale >= uint64_t{shownHeight} * 10000) {
      chosen = level;
    }
  }
  return chosen;
}

ImageHandle LevelAsWritten(ImageHandle& picture, const EncoderParams& params, size_t level,
                           ThreadPool* pool) {
  return GuardMemory([&] {
    if (level >= kZoomLevels.size() || picture.IsNull()) return ImageHandle::Failed(Status::InvalidParameter);
    UniqueFd file;
    std::vector<uint8_t> bytes;
    Status status = CreateMemoryFile(file);
    if (status == Status::Ok) status = WriteLevelFile(picture, params, kZoomLevels[level], pool, file);
    if (status == Status::Ok) status = ReadBack(file, bytes);
    if (status != Status::Ok) return ImageHandle::Failed(status);
    MapImageDamage damage;
    ImageHandle shown = ReadMapImage(bytes, &damage);
    // Frames written a moment ago that do not decode: memory ran out.
    return damage.damaged == 0 ? std::move(shown) : ImageHandle::Failed(Status::OutOfMemory);
  });
}

}  // namespace rzt2
