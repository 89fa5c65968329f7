// GIF on giflib, record by record: DGifSlurp would trust the frame sizes
// and read every frame, where we need only the first picture.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "raster/codecs/codec_guard.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

constexpr int kMaxGifSide = 0xFFFF;
constexpr int kColorResolution = 8;

struct GifReadCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifReader = std::unique_ptr<GifFileType, GifReadCloser>;

struct GifWriteCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};
using GifWriter = std::unique_ptr<GifFileType, GifWriteCloser>;

struct ColorMapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

struct GifInput {
  std::span<const uint8_t> data;
  size_t offset = 0;
};

int ReadFromSpan(GifFileType* gif, GifByteType* out, int count) {
  auto& input = *static_cast<GifInput*>(gif->UserData);
  const size_t wanted = static_cast<size_t>(std::max(count, 0));
  const size_t held = std::min(wanted, input.data.size() - input.offset);
  std::memcpy(out, input.data.data() + input.offset, held);
  input.offset += held;
  return static_cast<int>(held);
}

struct GifOutput {
  ScratchStream* stream = nullptr;
  Status failure = Status::Ok;
};

int WriteToStream(GifFileType* gif, const GifByteType* data, int count) {
  auto& output = *static_cast<GifOutput*>(gif->UserData);
  if (output.failure != Status::Ok) return 0;
  output.failure = output.stream->Write(data, static_cast<size_t>(std::max(count, 0)));
  return output.failure == Status::Ok ? count : 0;
}

Status ReadFailure(const GifFileType& gif) {
  return gif.Error == D_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::CorruptData;
}

// Passes over the compressed pixels of the image just described.
Status SkipImage(GifFileType& gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(&gif, &codeSize, &block) == GIF_ERROR) return ReadFailure(gif);
  while (block != nullptr) {
    if (DGifGetCodeNext(&gif, &block) == GIF_ERROR) return ReadFailure(gif);
  }
  return Status::Ok;
}

// Reads records up to and including the descriptor of image number `image`
// (from 1), keeping the transparent index of the graphic control extension
// before it; NoSuchPage when the file ends first, after `seen` images.
Status ReadToImage(GifFileType& gif, uint32_t image, int& transparentIndex, uint32_t& seen) {
  while (true) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(&gif, &record) == GIF_ERROR) return ReadFailure(gif);
    if (record == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(&gif) == GIF_ERROR) return ReadFailure(gif);
      if (++seen == image) return Status::Ok;
      transparentIndex = NO_TRANSPARENT_COLOR;
      if (const Status status = SkipImage(gif); status != Status::Ok) return status;
      continue;
    }
    if (record == TERMINATE_RECORD_TYPE && seen > 0) return Status::NoSuchPage;
    if (record != EXTENSION_RECORD_TYPE) return Status::CorruptData;  // ended without a picture
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(&gif, &code, &block) == GIF_ERROR) return ReadFailure(gif);
    GraphicsControlBlock control;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr &&
        DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
      transparentIndex = control.TransparentColor;
    }
    while (block != nullptr) {
      if (DGifGetExtensionNext(&gif, &block) == GIF_ERROR) return ReadFailure(gif);
    }
  }
}

ColorPalette MakePalette(const ColorMapObject& map, int transparentIndex) {
  ColorPalette palette;
  palette.entries.resize(static_cast<size_t>(map.ColorCount));
  for (int i = 0; i < map.ColorCount; ++i) {
    const GifColorType& color = map.Colors[i];
    palette.entries[static_cast<size_t>(i)] =
        Argb(i == transparentIndex ? 0 : 255, color.Red, color.Green, color.Blue);
  }
  if (transparentIndex >= 0 && transparentIndex < map.ColorCount) palette.flags = kPaletteHasAlpha;
  return palette;
}

Status ReadPixels(GifFileType& gif, Bitmap& bitmap) {
  const GifImageDesc& image = gif.Image;
  const auto readRow = [&](int row) {
    uint8_t* pixels = bitmap.MutableRow(image.Top + row) + image.Left;
    return DGifGetLine(&gif, pixels, image.Width) != GIF_ERROR;
  };
  if (!image.Interlace) {
    for (int row = 0; row < image.Height; ++row) {
      if (!readRow(row)) return ReadFailure(gif);
    }
    return Status::Ok;
  }
  constexpr int kPassStart[] = {0, 4, 2, 1};
  constexpr int kPassStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int row = kPassStart[pass]; row < image.Height; row += kPassStep[pass]) {
      if (!readRow(row)) return ReadFailure(gif);
    }
  }
  return Status::Ok;
}

// Gives the canvas around the image the fill index, row by row.
void FillAround(Bitmap& canvas, const GifImageDesc& image, int fill) {
  const auto value = static_cast<uint8_t>(fill);
  const auto width = static_cast<size_t>(canvas.Width());
  const auto left = static_cast<size_t>(image.Left);
  const auto right = left + static_cast<size_t>(image.Width);
  for (int32_t y = 0; y < canvas.Height(); ++y) {
    uint8_t* row = canvas.MutableRow(y);
    if (y < image.Top || y >= image.Top + image.Height) {
      std::memset(row, value, width);
    } else {
      std::memset(row, value, left);
      std::memset(row + right, value, width - right);
    }
  }
}

Status Decode(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out) {
  if (data.size() < 6 ||
      (std::memcmp(data.data(), GIF87_STAMP, 6) != 0 && std::memcmp(data.data(), GIF89_STAMP, 6) != 0)) {
    return Status::UnknownImageFormat;
  }
  GifInput input{data};
  int error = 0;
  GifReader gif(DGifOpen(&input, ReadFromSpan, &error));
  if (gif == nullptr) {
    return error == D_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::CorruptData;
  }
  int transparentIndex = NO_TRANSPARENT_COLOR;
  uint32_t seen = 0;
  if (const Status status = ReadToImage(*gif, std::max<uint32_t>(limits.page, 1), transparentIndex, seen);
      status != Status::Ok) {
    return status;
  }
  const GifImageDesc& image = gif->Image;
  if (image.Width <= 0 || image.Height <= 0 || image.Left < 0 || image.Top < 0) return Status::CorruptData;
  // A screen too small for the image, or of 0 x 0, grows to hold it, as
  // browsers and other decoders show such files.
  const int canvasWidth = std::max(gif->SWidth, image.Left + image.Width);
  const int canvasHeight = std::max(gif->SHeight, image.Top + image.Height);
  const uint64_t canvasPixels = static_cast<uint64_t>(canvasWidth) * static_cast<uint64_t>(canvasHeight);
  Status status =
      CheckPictureSize(limits, static_cast<uint64_t>(canvasWidth), static_cast<uint64_t>(canvasHeight));
  if (status == Status::Ok) status = CheckDecodeBytes(limits, canvasPixels);  // one index byte a pixel
  if (status != Status::Ok) return status;
  const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
  if (map == nullptr) return Status::CorruptData;
  if (transparentIndex >= map->ColorCount) transparentIndex = NO_TRANSPARENT_COLOR;

  std::unique_ptr<Bitmap> bitmap;
  status = Bitmap::Create(canvasWidth, canvasHeight, PixelFormat::Indexed8, bitmap);
  if (status == Status::Ok) status = ReadPixels(*gif, *bitmap);
  if (status != Status::Ok) return status;
  // Only a picture that decoded has its canvas filled: a file claiming a
  // huge screen around data that fails costs nothing.
  const int fill = transparentIndex != NO_TRANSPARENT_COLOR ? transparentIndex : gif->SBackGroundColor;
  if (fill != 0) FillAround(*bitmap, image, fill);
  bitmap->SetPalette(MakePalette(*map, transparentIndex));
  out = std::move(bitmap);
  return Status::Ok;
}

Status WriteFailure(const GifFileType& gif, const GifOutput& output) {
  if (output.failure != Status::Ok) return output.failure;
  return gif.Error == E_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::GenericError;
}

// The colour table depends on the palette alone, and nothing that varies
// with the pixels comes before the graphic control extension.
Status Encode(const Bitmap& bitmap, ScratchStream& stream) {
  const std::vector<uint32_t>& entries = bitmap.Palette().entries;
  if (bitmap.Format() != PixelFormat::Indexed8 || entries.empty() || entries.size() > 256 ||
      bitmap.Width() > kMaxGifSide || bitmap.Height() > kMaxGifSide) {
    return Status::InvalidParameter;
  }
  int tableSize = 2;
  while (tableSize < static_cast<int>(entries.size())) tableSize *= 2;
  GifColorType colors[256] = {};
  for (size_t i = 0; i < entries.size(); ++i) {
    colors[i] = {static_cast<GifByteType>(RedOf(entries[i])), static_cast<GifByteType>(GreenOf(entries[i])),
                 static_cast<GifByteType>(BlueOf(entries[i]))};
  }
  const auto firstClear =
      std::find_if(entries.begin(), entries.end(), [](uint32_t argb) { return AlphaOf(argb) == 0; });
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSAL_UNSPECIFIED;
  control.TransparentColor =
      firstClear == entries.end() ? NO_TRANSPARENT_COLOR : static_cast<int>(firstClear - entries.begin());
  GifByteType extension[4] = {};
  EGifGCBToExtension(&control, extension);

  ColorMap map(GifMakeMapObject(tableSize, colors));
  GifOutput output{&stream};
  int error = 0;
  GifWriter gif(EGifOpen(&output, WriteToStream, &error));
  if (map == nullptr || gif == nullptr) return Status::OutOfMemory;
  EGifSetGifVersion(gif.get(), true);
  if (EGifPutScreenDesc(gif.get(), bitmap.Width(), bitmap.Height(), kColorResolution, 0, map.get()) ==
          GIF_ERROR ||
      EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) == GIF_ERROR ||
      EGifPutImageDesc(gif.get(), 0, 0, bitmap.Width(), bitmap.Height(), false, nullptr) == GIF_ERROR) {
    return WriteFailure(*gif, output);
  }
  // giflib masks the line it is given in place, so it gets a copy.
  std::vector<GifPixelType> line(static_cast<size_t>(bitmap.Width()));
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    std::copy_n(bitmap.Row(y), line.size(), line.data());
    if (EGifPutLine(gif.get(), line.data(), bitmap.Width()) == GIF_ERROR) {
      return WriteFailure(*gif, output);
    }
  }
  // Closing writes the trailer and frees the writer whatever happens.
  if (EGifCloseFile(gif.release(), &error) == GIF_ERROR && output.failure == Status::Ok) {
    return error == E_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::GenericError;
  }
  return output.failure;
}

}  // namespace

Status EncodeGif(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return Encode(bitmap, stream); });
}

Status DecodeGif(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* /*rows*/) {
  return GuardMemory([&] { return Decode(data, limits, out); });
}

Status CountGifFrames(std::span<const uint8_t> data, uint32_t& frames) {
  return GuardMemory([&] {
    GifInput input{data};
    int error = 0;
    const GifReader gif(DGifOpen(&input, ReadFromSpan, &error));
    if (gif == nullptr) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::CorruptData;
    int transparentIndex = NO_TRANSPARENT_COLOR;
    uint32_t seen = 0;
    const Status status = ReadToImage(*gif, UINT32_MAX, transparentIndex, seen);
    frames = std::max<uint32_t>(seen, 1);
    return status == Status::NoSuchPage ? Status::Ok : status;
  });
}

}  // namespace rzt2
