#include "mapfile/map_inspector.h"

#include <algorithm>
#include <memory>

#include "imaging/fixed_palette.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

bool Inside(uint64_t fileSize, uint64_t offset, uint64_t size) {
  return offset <= fileSize && size <= fileSize - offset;
}

std::string LevelName(size_t level) { return "level " + std::to_string(level); }

// Checks one stored level; decodes each frame from its prefix and body.
void CheckLevel(const MapFileReader& reader, const MapFileInfo& info, size_t level,
                std::vector<std::string>& problems) {
  const LevelEntry& e = info.levels[level];
  const std::string name = LevelName(level);
  const auto problem = [&](const std::string& text) { problems.push_back(name + ": " + text); };
  const auto unread = [&](const std::string& what, Status status) {
    problem(what + ": " + StatusText(status));
  };
  if (e.scale != kZoomLevels[level])
    return problem("scale " + std::to_string(e.scale) + " is not the level's");
  if (e.frameWidth == 0 || e.frameHeight == 0 || e.frameWidth > kMaxFrameSide ||
      e.frameHeight > kMaxFrameSide) {
    return problem("impossible frame size");
  }
  const uint64_t srcW = uint64_t{e.frameWidth} * 10000 / e.scale,
                 srcH = uint64_t{e.frameHeight} * 10000 / e.scale;
  const uint64_t columns = info.header.imageWidth == 0 ? 0 : (info.header.imageWidth - 1) / srcW + 1;
  const uint64_t rows = info.header.imageHeight == 0 ? 0 : (info.header.imageHeight - 1) / srcH + 1;
  if (e.columns != columns || e.rows != rows) problem("grid does not match the picture size");
  const uint64_t frames = uint64_t{e.columns} * e.rows;
  if (e.firstFrameRef != kFirstFrameRef || e.refCount != frames + kFirstFrameRef) {
    return problem("frame index size does not match the grid");
  }
  const uint64_t fileSize = reader.FileSize();
  if (!Inside(fileSize, e.indexOffset, uint64_t{e.refCount} * kFrameRefSize))
    return problem("frame index outside the file");
  if (!FrameGridFits(e.columns, e.rows, e.frameWidth, e.frameHeight, MaxLevelPixels(fileSize))) {
    return problem("more pixels than the file can hold");
  }
  if (uint64_t{e.prefixOffset} != uint64_t{e.indexOffset} + uint64_t{e.refCount} * kFrameRefSize) {
    problem("shared prefix does not follow the frame index");
  }
  if (!Inside(fileSize, e.prefixOffset, e.prefixSize)) return problem("shared prefix outside the file");
  // Both lie inside the file, which bounds what they take.
  std::vector<uint8_t> index(uint64_t{e.refCount} * kFrameRefSize);
  if (const Status status = reader.ReadAt(e.indexOffset, index); status != Status::Ok) {
    return unread("frame index", status);
  }
  std::vector<uint8_t> assembled(e.prefixSize);
  if (const Status status = reader.ReadAt(e.prefixOffset, assembled); status != Status::Ok) {
    return unread("shared prefix", status);
  }
  if (DecodeFrameRef(index.data()) != info.preview) problem("frame index position 0 is not the preview");
  for (uint32_t i = 1; i < kFirstFrameRef; ++i) {
    if (DecodeFrameRef(&index[size_t{i} * kFrameRefSize]) != FrameRef{})
      return problem("reserved index positions are not zero");
  }
  uint64_t expectedOffset = uint64_t{e.prefixOffset} + e.prefixSize;
  // All frames together may decode kMaxDecodedBytesPerMapByte per byte of
  // the file: records sharing one large body would multiply the work.
  const uint64_t decodeBudget = fileSize * kMaxDecodedBytesPerMapByte;
  uint64_t decoded = 0;
  const DecodeLimits frameLimits{uint64_t{e.frameWidth} * e.frameHeight};
  for (uint64_t k = 0; k < frames; ++k) {
    const FrameRef ref = DecodeFrameRef(&index[(kFirstFrameRef + k) * kFrameRefSize]);
    const std::string frame = "frame " + std::to_string(k);
    if (!Inside(fileSize, ref.offset, ref.size)) return problem(frame + " lies outside the file");
    decoded += uint64_t{e.prefixSize} + ref.size;
    if (decoded > decodeBudget) return problem(frame + ": the frames repeat more data than the file holds");
    if (ref.offset != expectedOffset) problem(frame + " does not follow the previous body");
    expectedOffset = uint64_t{ref.offset} + ref.size;
    assembled.resize(uint64_t{e.prefixSize} + ref.size);
    if (const Status status = reader.ReadAt(ref.offset, std::span(assembled).subspan(e.prefixSize));
        status != Status::Ok) {
      return unread(frame, status);
    }
    std::unique_ptr<Bitmap> bitmap;
    const Status status = DecodeFrameImage(assembled, frameLimits, bitmap);
    if (status != Status::Ok) {
      problem(frame + " does not decode: " + StatusText(status));
    } else if (static_cast<uint32_t>(bitmap->Width()) != e.frameWidth ||
               static_cast<uint32_t>(bitmap->Height()) != e.frameHeight) {
      problem(frame + " is not frame-sized");
    }
  }
}

Status ReadInfo(const MapFileReader& reader, MapFileInfo& info) {
  info = MapFileInfo{};
  if (reader.LevelTable().empty()) return Status::UnknownImageFormat;
  info.fileSize = reader.FileSize();
  info.header = reader.Header();
  std::copy_n(reader.LevelTable().begin(), kLevelCount, info.levels.begin());
  if (const Status status = reader.ReadPreviewRef(info.preview); status != Status::Ok) return status;
  std::vector<uint8_t> bytes;
  if (reader.ReadPreview(bytes) == Status::Ok) {
    info.format = SniffFormat(bytes);
    std::unique_ptr<Bitmap> preview;
    if (DecodeFrameImage(bytes, DecodeLimits{kMaxPreviewPixels}, preview) == Status::Ok) {
      info.previewWidth = static_cast<uint32_t>(preview->Width());
      info.previewHeight = static_cast<uint32_t>(preview->Height());
      info.palette = preview->Palette();
    }
  }
  return Status::Ok;
}

void Check(const MapFileReader& reader, const MapFileInfo& info, std::vector<std::string>& problems) {
  const MapHeader& h = info.header;
  if (h.version != kMapVersion || h.headerSize != kMapHeaderSize || h.levelTableOffset != kLevelTableOffset ||
      h.levelCount != kLevelCount) {
    problems.push_back("header: fixed fields differ");
  }
  uint32_t sum = 0;
  for (uint32_t value : h.randomValues) sum += value;
  if (sum != h.randomSum) problems.push_back("header: random sum differs");
  LevelEntry first = info.levels[0];
  first.scale = 0;
  if (first != h.firstLevel) problems.push_back("header: first level differs from level 0");
  if (info.preview.offset != kPreviewOffset || info.previewWidth == 0)
    problems.push_back("preview: missing or undecodable");
  const uint32_t prefix = info.format != nullptr ? info.format->sharedPrefixSize : 0;
  for (size_t level = 0; level < kLevelCount; ++level) {
    const LevelEntry& e = info.levels[level];
    if (level >= kZoomLevels.size() || (level > 0 && e.scale == 0)) {
      if (e != LevelEntry{}) problems.push_back(LevelName(level) + ": unused entry is not zero");
      continue;
    }
    if (e.prefixSize != prefix)
      problems.push_back(LevelName(level) + ": shared prefix length is not the format's");
    CheckLevel(reader, info, level, problems);
  }
}

}  // namespace

Status ReadMapFileInfo(const MapFileReader& reader, MapFileInfo& info) {
  return GuardMemory([&] { return ReadInfo(reader, info); });
}

std::optional<PaletteKind> PaletteKindOf(const MapFileInfo& info) {
  if (info.palette.Count() != 256) return std::nullopt;
  if (info.palette.entries == MakeFixedPalette().entries) return PaletteKind{true, 255};
  std::vector<uint32_t> colors;
  for (size_t i = 1; i < info.palette.entries.size(); ++i)
    colors.push_back(info.palette.entries[i] & 0xFFFFFF);
  std::sort(colors.begin(), colors.end());
  return PaletteKind{false,
                     static_cast<uint32_t>(std::unique(colors.begin(), colors.end()) - colors.begin())};
}

const char* MapInfoProblem(Status status) {
  switch (status) {
    case Status::UnknownImageFormat:
      return "not a map file";
    case Status::CorruptData:
      return "the first level's frame index lies outside the file";
    default:
      return StatusText(status);
  }
}

Status CheckMapFile(const MapFileReader& reader, const MapFileInfo& info,
                    std::vector<std::string>& problems) {
  return GuardMemory([&] {
    Check(reader, info, problems);
    return Status::Ok;
  });
}

}  // namespace rzt2
