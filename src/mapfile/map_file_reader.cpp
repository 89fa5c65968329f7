// MapFileReader. Every offset and size read from the file is checked
// against the file's size, in 64-bit arithmetic, before anything is
// allocated or read.
#include "mapfile/map_file_reader.h"

#include <algorithm>
#include <new>

#include "raster/codecs/decode_limits.h"

namespace rzt2 {

namespace {

// Whether length bytes at offset lie inside size bytes.
bool Holds(uint64_t size, uint64_t offset, uint64_t length) {
  return offset <= size && length <= size - offset;
}

}  // namespace

std::optional<std::string_view> LevelFault(uint64_t fileSize, const LevelEntry& level) {
  if (level.frameWidth == 0 || level.frameWidth > kMaxFrameSide || level.frameHeight == 0 ||
      level.frameHeight > kMaxFrameSide) {
    return "impossible frame size";
  }
  if (level.columns == 0 || level.rows == 0) return "empty grid";
  if (!FrameGridFits(level.columns, level.rows, level.frameWidth, level.frameHeight,
                     MaxLevelPixels(fileSize))) {
    return "more pixels than the file can hold";
  }
  const uint64_t records = uint64_t{level.indexOffset} + uint64_t{level.firstFrameRef} * kFrameRefSize;
  if (!Holds(fileSize, records, uint64_t{level.columns} * level.rows * kFrameRefSize)) {
    return "frame index outside the file";
  }
  if (level.prefixSize > kMaxSharedPrefixSize) return "shared prefix longer than any frame format's";
  if (!Holds(fileSize, level.prefixOffset, level.prefixSize)) return "shared prefix outside the file";
  return std::nullopt;
}

Status MapFileReader::Open(const std::filesystem::path& path, std::unique_ptr<MapFileReader>& out) {
  out.reset();
  UniqueFd file;
  uint64_t size = 0;
  if (const Status status = OpenForReading(path, file, size); status != Status::Ok) return status;
  return Start(std::unique_ptr<MapFileReader>(new (std::nothrow) MapFileReader(std::move(file), {}, size)),
               out);
}

Status MapFileReader::FromMemory(std::span<const uint8_t> bytes, std::unique_ptr<MapFileReader>& out) {
  out.reset();
  return Start(
      std::unique_ptr<MapFileReader>(new (std::nothrow) MapFileReader(UniqueFd(), bytes, bytes.size())), out);
}

Status MapFileReader::Start(std::unique_ptr<MapFileReader> reader, std::unique_ptr<MapFileReader>& out) {
  if (!reader) return Status::OutOfMemory;
  // The header and the level table, as far as the file holds them.
  std::array<uint8_t, kPreviewOffset> head{};
  const auto held = static_cast<size_t>(std::min<uint64_t>(reader->size_, head.size()));
  if (held < kMapHeaderSize) return Status::UnknownImageFormat;
  const std::span<uint8_t> bytes(head.data(), held);
  if (const Status status = reader->ReadAt(0, bytes); status != Status::Ok) return status;
  if (!IsAcceptedMapFile(bytes) || !DecodeMapHeader(bytes, reader->header_))
    return Status::UnknownImageFormat;
  if (held == kPreviewOffset) {
    for (uint32_t i = 0; i < kLevelCount; ++i) {
      reader->levels_[i] = DecodeLevelEntry(&head[kLevelTableOffset + i * kLevelEntrySize]);
    }
    reader->hasLevelTable_ = true;
  }
  out = std::move(reader);
  return Status::Ok;
}

std::span<const LevelEntry> MapFileReader::LevelTable() const {
  return hasLevelTable_ ? std::span<const LevelEntry>(levels_) : std::span<const LevelEntry>();
}

Status MapFileReader::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (!Holds(size_, offset, out.size())) return Status::CorruptData;
  if (file_.IsValid()) return ReadAllAt(file_.Get(), out, offset);
  std::copy_n(memory_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
  return Status::Ok;
}

Status MapFileReader::ReadPreviewRef(FrameRef& out) const {
  std::array<uint8_t, kFrameRefSize> record{};
  if (const Status status = ReadAt(header_.firstLevel.indexOffset, record); status != Status::Ok)
    return status;
  out = DecodeFrameRef(record.data());
  return Status::Ok;
}

Status MapFileReader::ReadPreview(std::vector<uint8_t>& out) const {
  FrameRef preview;
  if (const Status status = ReadPreviewRef(preview); status != Status::Ok) return status;
  if (preview.size == 0 || !Holds(size_, preview.offset, preview.size)) return Status::CorruptData;
  return GuardMemory([&] {
    out.resize(preview.size);
    return ReadAt(preview.offset, out);
  });
}

Status MapFileReader::ReadFrameIndex(const LevelEntry& level, FrameIndex& out) const {
  return GuardMemory([&] { return ReadIndex(level, out); });
}

Status MapFileReader::ReadIndex(const LevelEntry& level, FrameIndex& out) const {
  if (LevelFault(size_, level)) return Status::CorruptData;
  const uint64_t frames = uint64_t{level.columns} * level.rows;
  const uint64_t records = uint64_t{level.indexOffset} + uint64_t{level.firstFrameRef} * kFrameRefSize;
  FrameIndex index;
  index.level_ = level;
  std::vector<uint8_t> bytes(frames * kFrameRefSize);
  index.refs_.resize(frames);
  index.prefix_.resize(level.prefixSize);
  if (const Status status = ReadAt(records, bytes); status != Status::Ok) return status;
  if (const Status status = ReadAt(level.prefixOffset, index.prefix_); status != Status::Ok) return status;
  // Every frame decodes from a copy of the prefix and its body: records
  // sharing one large body or prefix would multiply the work.
  uint64_t decodedBytes = frames * level.prefixSize;
  for (uint64_t k = 0; k < frames; ++k) {
    const FrameRef ref = DecodeFrameRef(&bytes[k * kFrameRefSize]);
    if (!Holds(size_, ref.offset, ref.size)) return Status::CorruptData;
    decodedBytes += ref.size;
    index.refs_[k] = ref;
  }
  if (decodedBytes > size_ * kMaxDecodedBytesPerMapByte) return Status::CorruptData;
  out = std::move(index);
  return Status::Ok;
}

Status MapFileReader::ReadFrame(const FrameIndex& index, uint32_t column, uint32_t row,
                                std::vector<uint8_t>& out) const {
  if (column >= index.Level().columns || row >= index.Level().rows) return Status::InvalidParameter;
  const FrameRef& ref = index.Ref(column, row);
  const SharedPrefix& prefix = index.Prefix();
  return GuardMemory([&] {
    out.assign(prefix.begin(), prefix.end());
    out.resize(prefix.size() + ref.size);
    return ReadAt(ref.offset, std::span(out).subspan(prefix.size()));
  });
}

}  // namespace rzt2
