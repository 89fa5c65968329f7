// MapWriter::WriteLevel: one zoom level as a grid of frames, each drawn
// from the picture, reduced to the level palette, encoded and written.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "imaging/surface.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

// The picture pixels that one frame covers at scale; 0 when there is no such size.
int32_t SourceFrameSize(int32_t frameSize, uint32_t scale) {
  if (frameSize <= 0 || scale == 0) return 0;
  const int64_t size = int64_t{frameSize} * 10000 / scale;
  return size <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(size) : 0;
}

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

}  // namespace

FrameGrid LevelGrid(const EncoderParams& params, uint32_t width, uint32_t height, uint32_t scale) {
  const int32_t sourceFrameW = SourceFrameSize(params.FrameSizeX, scale);
  const int32_t sourceFrameH = SourceFrameSize(params.FrameSizeY, scale);
  if (sourceFrameW == 0 || sourceFrameH == 0 || width == 0 || height == 0) return {};
  return {(width - 1) / static_cast<uint32_t>(sourceFrameW) + 1,
          (height - 1) / static_cast<uint32_t>(sourceFrameH) + 1};
}

Status MapWriter::WriteLevel(ImageHandle& image, LevelEntry& entry, uint32_t scale, const UniqueFd& file,
                             uint32_t& offset) {
  return GuardMemory([&] { return Level(image, entry, scale, file, offset); });
}

Status MapWriter::Level(ImageHandle& image, LevelEntry& entry, uint32_t scale, const UniqueFd& file,
                        uint32_t& offset) {
  const int32_t sourceFrameW = SourceFrameSize(params_.FrameSizeX, scale);
  const int32_t sourceFrameH = SourceFrameSize(params_.FrameSizeY, scale);
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  if (sourceFrameW == 0 || sourceFrameH == 0 || width == 0 || height == 0 || format_ == nullptr) {
    return Status::InvalidParameter;
  }

  const auto [columns, rows] = LevelGrid(params_, width, height, scale);
  const uint64_t refCount = uint64_t{columns} * rows + kFirstFrameRef;
  const uint64_t indexBytes = refCount * kFrameRefSize;
  const uint32_t prefixSize = format_->sharedPrefixSize;
  if (!FitsInMapFile(offset, indexBytes + prefixSize)) return Status::TooLarge;

  entry.frameWidth = static_cast<uint32_t>(params_.FrameSizeX);
  entry.frameHeight = static_cast<uint32_t>(params_.FrameSizeY);
  entry.columns = columns;
  entry.rows = rows;
  entry.refCount = static_cast<uint32_t>(refCount);
  entry.firstFrameRef = kFirstFrameRef;
  entry.indexOffset = offset;
  offset += static_cast<uint32_t>(indexBytes);
  entry.prefixSize = prefixSize;
  entry.prefixOffset = offset;
  offset += prefixSize;

  ColorPalette palette;
  std::vector<uint8_t> index(static_cast<size_t>(indexBytes));
  Status status = TakePalette(image, palette);
  if (status == Status::Ok) {
    status = WriteFrames(image, entry, sourceFrameW, sourceFrameH, palette, file, offset, index);
  }
  // The index goes out also after a failure, with zero records for the
  // frames not written, so the file is consistent up to where it stopped.
  EncodeFrameRef(FrameRef{previewOffset_, previewSize_}, index.data());
  const Status indexWritten = WriteAllAt(file.Get(), index, entry.indexOffset);
  return status != Status::Ok ? status : indexWritten;
}

Status MapWriter::WriteFrames(ImageHandle& image, const LevelEntry& entry, int32_t sourceFrameW,
                              int32_t sourceFrameH, const ColorPalette& palette, const UniqueFd& file,
                              uint32_t& offset, std::span<uint8_t> index) {
  const int32_t frameW = params_.FrameSizeX;
  const int32_t frameH = params_.FrameSizeY;
  ImageHandle scratch = ImageHandle::CreateBlank(frameW, frameH, PixelFormat::Argb32);
  if (!scratch) return scratch.LastStatus();
  ImageHandle indexed = ImageHandle::CreateBlank(frameW, frameH, PixelFormat::Indexed8);
  if (!indexed) return indexed.LastStatus();
  if (const Status status = indexed.SetPalette(palette); status != Status::Ok) return status;
  Surface surface(scratch);
  FrameBuffer buffer(kFrameBufferSize);
  SharedPrefix prefix;

  // Drawing composes over what the frame holds. Inner frames of an opaque
  // picture are wholly covered by it, so only frames that can reach past
  // its edges need the white background; with transparency, every frame does.
  const bool clearEveryFrame = HasTransparency(*image.GetBitmap());
  const uint64_t frameCount = uint64_t{entry.columns} * entry.rows;
  for (uint32_t row = 0; row < entry.rows; ++row) {
    for (uint32_t column = 0; column < entry.columns; ++column) {
      // The file is abandoned: PendingFile removes it, the earlier file stays.
      if (stop_.stop_requested()) return Status::Cancelled;
      const uint64_t k = uint64_t{row} * entry.columns + column;
      if (clearEveryFrame || k == 0 || column + 1 == entry.columns || row + 1 == entry.rows) {
        surface.Clear(kOpaqueWhite);
      }
      // column < columns keeps these positions inside the picture's int32 size.
      const Rect source{static_cast<int32_t>(column) * sourceFrameW, static_cast<int32_t>(row) * sourceFrameH,
                        sourceFrameW, sourceFrameH};
      if (const Status status = surface.DrawImage(image, Rect{0, 0, frameW, frameH}, source);
          status != Status::Ok) {
        return status;
      }

      QuantizeInto(scratch, indexed, palette, workArea_);
      for (ImageHandle* handle : {&scratch, &indexed}) {
        if (const Status status = handle->LastStatus(); status != Status::Ok) return status;
      }

      uint32_t n = 0;
      if (const Status status = Encode(indexed, buffer, n); status != Status::Ok) return status;
      // An encoding shorter than the prefix, or one that does not share the
      // stored prefix, would give a frame that cannot be decoded.
      if (n < entry.prefixSize) return Status::GenericError;
      const std::span<const uint8_t> encoding(buffer.data(), n);
      if (entry.prefixSize != 0) {
        const std::span<const uint8_t> head = encoding.first(entry.prefixSize);
        if (prefix.empty()) {
          prefix.assign(head.begin(), head.end());
          if (const Status status = WriteAllAt(file.Get(), head, entry.prefixOffset); status != Status::Ok) {
            return status;
          }
        } else if (std::memcmp(head.data(), prefix.data(), prefix.size()) != 0) {
          return Status::GenericError;
        }
      }

      const std::span<const uint8_t> body = encoding.subspan(entry.prefixSize);
      if (!FitsInMapFile(offset, body.size())) return Status::TooLarge;
      if (const Status status = WriteAllAt(file.Get(), body, offset); status != Status::Ok) return status;
      const auto bodySize = static_cast<uint32_t>(body.size());
      EncodeFrameRef(FrameRef{offset, bodySize}, &index[(kFirstFrameRef + k) * kFrameRefSize]);
      offset += bodySize;

      if (progressSink_ != nullptr) {
        progressSink_->OnProgress(stageCode_, static_cast<int32_t>((k + 1) * 100 / frameCount));
      }
    }
  }
  return Status::Ok;
}

}  // namespace rzt2
