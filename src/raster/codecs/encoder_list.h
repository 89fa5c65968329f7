// The fixed list of image encoders, each with a 16-byte class id and a
// MIME type, in the order the imaging layer reports them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "raster/codecs/codecs.h"

namespace rzt2 {

struct ClassId {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const ClassId&) const = default;
};

struct ImageEncoderInfo {
  ClassId classId;
  std::string_view mimeType;
  std::string_view formatName;  // "bmp", "jpeg", "gif", "tiff", "png"
  EncodeFunction encode;
};

std::span<const ImageEncoderInfo> ImageEncoders();

// The position of the encoder whose MIME type equals mimeType as a whole,
// case-sensitive, with its class id copied out; -1 (classId untouched) when none.
int FindEncoder(std::string_view mimeType, ClassId& classId);

// Encodes with the encoder of classId at the stream's position;
// InvalidParameter for an unknown class id.
Status EncodeWith(const ClassId& classId, const Bitmap& bitmap, ScratchStream& stream);

// Encodes into a file, replacing it; the file is complete or absent.
Status SaveImageToFile(const Bitmap& bitmap, const std::filesystem::path& path, const ClassId& classId);

}  // namespace rzt2
