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

// The frames a level's grid needs to cover the picture at the level's scale.
uint64_t GridSide(uint32_t pictureSide, uint32_t frameSide, uint32_t scale) {
  const uint64_t covered = uint64_t{frameSide} * 10000 / scale;
  return pictureSide == 0 ? 0 : (pictureSide - 1) / covered + 1;
}

// The check of one stored level, each rule where the writer keeps it; the
// rules a reader needs are LevelFault's. Problems are named after the level.
class LevelCheck {
 public:
  LevelCheck(const MapFileReader& reader, const MapFileInfo& info, size_t level,
             std::vector<std::string>& problems)
      : reader_(reader),
        info_(info),
        level_(level),
        e_(info.levels[level]),
        name_(LevelName(level)),
        problems_(problems) {}

  void Run() {
    if (!EntryIsSound()) return;
    std::vector<uint8_t> index, assembled;
    if (!ReadBlock("frame index", e_.indexOffset, uint64_t{e_.refCount} * kFrameRefSize, index) ||
        !ReadBlock("shared prefix", e_.prefixOffset, e_.prefixSize, assembled)) {
      return;
    }
    if (!IndexHeadIsSound(index)) return;
    CheckFrames(index, assembled);
  }

 private:
  void Problem(const std::string& text) { problems_.push_back(name_ + ": " + text); }

  // The level's entry: false when nothing more of the level can be checked.
  bool EntryIsSound() {
    if (e_.scale != kZoomLevels[level_]) {
      Problem("scale " + std::to_string(e_.scale) + " is not the level's");
      return false;
    }
    if (const auto fault = LevelFault(reader_.FileSize(), e_)) {
      Problem(std::string(*fault));
      return false;
    }
    if (e_.columns != GridSide(info_.header.imageWidth, e_.frameWidth, e_.scale) ||
        e_.rows != GridSide(info_.header.imageHeight, e_.frameHeight, e_.scale)) {
      Problem("grid does not match the picture size");
    }
    if (e_.firstFrameRef != kFirstFrameRef || e_.refCount != Frames() + kFirstFrameRef) {
      Problem("frame index size does not match the grid");
      return false;
    }
    if (uint64_t{e_.prefixOffset} != uint64_t{e_.indexOffset} + uint64_t{e_.refCount} * kFrameRefSize) {
      Problem("shared prefix does not follow the frame index");
    }
    return true;
  }

  uint64_t Frames() const { return uint64_t{e_.columns} * e_.rows; }

  // LevelFault has found both blocks inside the file, which bounds them.
  bool ReadBlock(const std::string& what, uint64_t offset, uint64_t size, std::vector<uint8_t>& out) {
    out.resize(size);
    const Status status = reader_.ReadAt(offset, out);
    if (status != Status::Ok) Problem(what + ": " + StatusText(status));
    return status == Status::Ok;
  }

  // Position 0 is the preview; the reserved positions after it are zero.
  bool IndexHeadIsSound(const std::vector<uint8_t>& index) {
    if (DecodeFrameRef(index.data()) != info_.preview) Problem("frame index position 0 is not the preview");
    for (uint32_t i = 1; i < kFirstFrameRef; ++i) {
      if (DecodeFrameRef(&index[size_t{i} * kFrameRefSize]) != FrameRef{}) {
        Problem("reserved index positions are not zero");
        return false;
      }
    }
    return true;
  }

  // Each body follows the one before it and decodes, after the prefix, to
  // a frame of the level's size. All frames together may decode
  // kMaxDecodedBytesPerMapByte per byte of the file: records sharing one
  // large body would multiply the work.
  void CheckFrames(const std::vector<uint8_t>& index, std::vector<uint8_t>& assembled) {
    const uint64_t fileSize = reader_.FileSize();
    const uint64_t decodeBudget = fileSize * kMaxDecodedBytesPerMapByte;
    uint64_t decoded = 0;
    uint64_t expectedOffset = uint64_t{e_.prefixOffset} + e_.prefixSize;
    for (uint64_t k = 0; k < Frames(); ++k) {
      const FrameRef ref = DecodeFrameRef(&index[(kFirstFrameRef + k) * kFrameRefSize]);
      const std::string frame = "frame " + std::to_string(k);
      if (!Inside(fileSize, ref.offset, ref.size)) return Problem(frame + " lies outside the file");
      decoded += uint64_t{e_.prefixSize} + ref.size;
      if (decoded > decodeBudget) return Problem(frame + ": the frames repeat more data than the file holds");
      if (ref.offset != expectedOffset) Problem(frame + " does not follow the previous body");
      expectedOffset = uint64_t{ref.offset} + ref.size;
      assembled.resize(uint64_t{e_.prefixSize} + ref.size);
      if (const Status status = reader_.ReadAt(ref.offset, std::span(assembled).subspan(e_.prefixSize));
          status != Status::Ok) {
        return Problem(frame + ": " + StatusText(status));
      }
      CheckFrameDecodes(frame, assembled);
    }
  }

  void CheckFrameDecodes(const std::string& frame, std::span<const uint8_t> encoding) {
    std::unique_ptr<Bitmap> bitmap;
    const Status status =
        DecodeFrameImage(encoding, DecodeLimits{uint64_t{e_.frameWidth} * e_.frameHeight}, bitmap);
    if (status != Status::Ok) {
      Problem(frame + " does not decode: " + StatusText(status));
    } else if (static_cast<uint32_t>(bitmap->Width()) != e_.frameWidth ||
               static_cast<uint32_t>(bitmap->Height()) != e_.frameHeight) {
      Problem(frame + " is not frame-sized");
    }
  }

  const MapFileReader& reader_;
  const MapFileInfo& info_;
  const size_t level_;
  const LevelEntry& e_;
  const std::string name_;
  std::vector<std::string>& problems_;
};

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
    LevelCheck(reader, info, level, problems).Run();
  }
}

}  // namespace

Status ReadMapFileInfo(const MapFileReader& reader, MapFileInfo& info) {
  return GuardMemory([&] { return ReadInfo(reader, info); });
}

FileShares SharesOf(const MapFileInfo& info) {
  FileShares shares;
  shares.tables = kPreviewOffset;
  shares.preview = info.preview.size;
  for (const LevelEntry& level : info.levels) {
    if (level.scale == 0) continue;
    shares.tables += uint64_t{level.refCount} * kFrameRefSize;
    shares.prefixes += level.prefixSize;
  }
  const uint64_t rest = shares.tables + shares.preview + shares.prefixes;
  shares.frames = info.fileSize > rest ? info.fileSize - rest : 0;
  return shares;
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
