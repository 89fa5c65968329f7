// Helpers for the map file tests: pictures whose frames survive reduction
// unchanged, and a plain reading of the written layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "mapfile/map_file_reader.h"
#include "mapfile/map_records.h"
#include "mapfile/map_writer.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

namespace rzt2::test {

inline constexpr uint32_t kWhite = 0xFFFFFFFF;

// 256 colours whose quantizer keys all differ, white last: a picture made of
// them is reduced to exactly its own pixels whatever the matching order.
inline ColorPalette DistinctKeyPalette() {
  ColorPalette palette;
  for (uint32_t i = 0; i < 255; ++i)
    palette.entries.push_back(Argb(255, (i % 64) * 4, (i / 64) * 64, (i * 7 % 64) * 4));
  palette.entries.push_back(kWhite);
  return palette;
}

// Indexed8 blocks of 10 x 10 pixels in random colours of the palette,
// never entry 0 (the quantizer does not choose it) nor white.
inline ImageHandle BlockPicture(int32_t width, int32_t height, const ColorPalette& palette,
                                uint32_t seed = 1) {
  std::unique_ptr<Bitmap> bitmap;
  Bitmap::Create(width, height, PixelFormat::Indexed8, bitmap);
  std::mt19937 random(seed);
  const int32_t blocksAcross = (width + 9) / 10;
  std::vector<uint8_t> blocks(static_cast<size_t>(blocksAcross) * static_cast<size_t>((height + 9) / 10));
  for (uint8_t& block : blocks) block = static_cast<uint8_t>(1 + random() % 254);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    for (int32_t x = 0; x < width; ++x) row[x] = blocks[static_cast<size_t>(y / 10 * blocksAcross + x / 10)];
  }
  bitmap->SetPalette(palette);
  return ImageHandle(std::move(bitmap));
}

inline ImageHandle MapLikePicture(int32_t width, int32_t height, uint32_t seed = 1) {
  return ImageHandle(MakeMapLikeBitmap(width, height, PixelFormat::Rgb24, seed));
}

// The written layout, read with the record codecs only. Reads outside the
// bytes throw, which fails the test that made them.
class MapBytes {
 public:
  explicit MapBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  explicit MapBytes(const std::filesystem::path& path) : bytes_(ReadFileBytes(path)) {}

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  uint32_t U32(uint64_t offset) const { return ReadU32(At(offset, 4)); }
  LevelEntry Entry(uint32_t level) const {
    return DecodeLevelEntry(At(kLevelTableOffset + kLevelEntrySize * level, kLevelEntrySize));
  }
  FrameRef Ref(const LevelEntry& entry, uint64_t position) const {
    return DecodeFrameRef(At(entry.indexOffset + position * kFrameRefSize, kFrameRefSize));
  }
  std::vector<uint8_t> Block(uint64_t offset, uint64_t size) const {
    const uint8_t* start = At(offset, size);
    return {start, start + size};
  }
  // Frame k of a level as a complete encoding: shared prefix, then its body.
  std::vector<uint8_t> Frame(const LevelEntry& entry, uint64_t k) const {
    const FrameRef ref = Ref(entry, kFirstFrameRef + k);
    std::vector<uint8_t> frame = Block(entry.prefixOffset, entry.prefixSize);
    const std::vector<uint8_t> body = Block(ref.offset, ref.size);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
  }
  // The end of a level's last body.
  uint32_t LevelEnd(const LevelEntry& entry) const {
    const FrameRef last = Ref(entry, entry.refCount - 1);
    return last.offset + last.size;
  }

 private:
  const uint8_t* At(uint64_t offset, uint64_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset)
      throw std::out_of_range("outside the map file");
    return bytes_.data() + offset;
  }
  std::vector<uint8_t> bytes_;
};

// A reader of the file; null when refused.
inline std::unique_ptr<MapFileReader> OpenMap(const std::filesystem::path& path) {
  std::unique_ptr<MapFileReader> reader;
  MapFileReader::Open(path, reader);
  return reader;
}

inline EncoderParams Params(int32_t encoderCode, int32_t zoomLevelsMask = 0) {
  return EncoderParams{.ZoomLevelsMask = zoomLevelsMask, .EncoderCode = encoderCode};
}

// Whether two files from one picture agree everywhere but in the random block.
inline bool SameButForRandomValues(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && a.size() >= 104 && std::equal(a.begin(), a.begin() + 64, b.begin()) &&
         std::equal(a.begin() + 104, a.end(), b.begin() + 104);
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder))
    names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace rzt2::test
