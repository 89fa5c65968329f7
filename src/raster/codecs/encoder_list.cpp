#include "raster/codecs/encoder_list.h"

#include "raster/pending_file.h"

namespace rzt2 {

namespace {

constexpr ClassId MakeClassId(uint8_t format) {
  // A fixed id per encoder: "rzt2" "enc" then the format number.
  return ClassId{{'r', 'z', 't', '2', 'e', 'n', 'c', 0, 0, 0, 0, 0, 0, 0, 0, format}};
}

// The order in which the imaging layer lists its encoders.
const ImageEncoderInfo kEncoders[] = {
    {MakeClassId(1), "image/bmp", "bmp", EncodeBmp}, {MakeClassId(2), "image/jpeg", "jpeg", EncodeJpeg},
    {MakeClassId(3), "image/gif", "gif", EncodeGif}, {MakeClassId(4), "image/tiff", "tiff", EncodeTiff},
    {MakeClassId(5), "image/png", "png", EncodePng},
};

}  // namespace

std::span<const ImageEncoderInfo> ImageEncoders() { return kEncoders; }

int FindEncoder(std::string_view mimeType, ClassId& classId) {
  for (size_t i = 0; i < std::size(kEncoders); ++i) {
    if (kEncoders[i].mimeType == mimeType) {
      classId = kEncoders[i].classId;
      return static_cast<int>(i);
    }
  }
  return -1;
}

Status EncodeWith(const ClassId& classId, const Bitmap& bitmap, ScratchStream& stream) {
  for (const ImageEncoderInfo& encoder : kEncoders) {
    if (encoder.classId == classId) return encoder.encode(bitmap, stream);
  }
  return Status::InvalidParameter;
}

Status SaveImageToFile(const Bitmap& bitmap, const std::filesystem::path& path, const ClassId& classId) {
  ScratchStream stream;
  if (const Status status = EncodeWith(classId, bitmap, stream); status != Status::Ok) return status;
  // Written beside the target and moved over it only when complete: a
  // failed export must not destroy an earlier file of that name.
  return WriteFileAtomically(path, stream.Data(), EarlierFile::Replace);
}

}  // namespace rzt2
