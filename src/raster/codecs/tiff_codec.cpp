// TIFF through libtiff, over memory. Writes LZW strips: palette TIFF for
// Indexed8, RGB for Rgb24, RGBA with unassociated alpha for Argb32. Reads
// palette TIFFs as Indexed8 and 8-bit RGB(A) directly, everything else
// through libtiff's RGBA reader.
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "raster/codecs/codec_guard.h"
#include "raster/codecs/image_formats.h"
#include "raster/codecs/tiff_glue.h"
#include "raster/codecs/tiff_strip_waves.h"

namespace rzt2 {
namespace {

using tiff::CopyRgb8;
using tiff::DecodeStripWaves;
using tiff::Diagnostics;
using tiff::kMaxTiffAlloc;
using tiff::MemoryFile;
using tiff::Open;
using tiff::StreamFile;
using tiff::StripWavesSuit;
using tiff::TiffPtr;

// ---- Decoding ----

struct RgbaImage {
  TIFFRGBAImage image{};
  bool begun = false;
  ~RgbaImage() {
    if (begun) TIFFRGBAImageEnd(&image);
  }
};

// Where the file's pixel (x, y) lands for orientations 1-4; 5-8 are read as
// 1-4, as libtiff's RGBA reader does.
struct Orientation {
  bool flipX = false;
  bool flipY = false;
  int32_t width = 0;
  int32_t height = 0;

  int32_t X(uint32_t x) const {
    return flipX ? width - 1 - static_cast<int32_t>(x) : static_cast<int32_t>(x);
  }
  int32_t Y(uint32_t y) const {
    return flipY ? height - 1 - static_cast<int32_t>(y) : static_cast<int32_t>(y);
  }
};

Orientation OrientationOf(TIFF* tif, int32_t width, int32_t height) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  const int corner = orientation >= 1 && orientation <= 8 ? (orientation - 1) % 4 : 0;
  return {corner == 1 || corner == 2, corner == 2 || corner == 3, width, height};
}

// The buffer ForEachRow reads into: one scanline, or one tile; 0 when the
// file gives no usable size.
uint64_t RowBufferBytes(TIFF* tif) {
  return TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFScanlineSize64(tif);
}

// Calls sink(y, x0, samples, count) for every run of `count` pixels of file
// row y starting at column x0, as packed contiguous samples, and
// rowsDone(rows) when file rows [0, rows) are complete.
template <typename Sink, typename RowsDone>
Status ForEachRow(TIFF* tif, uint32_t width, uint32_t height, Sink&& sink, RowsDone&& rowsDone) {
  std::vector<uint8_t> buffer(static_cast<size_t>(RowBufferBytes(tif)));
  if (!TIFFIsTiled(tif)) {
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, buffer.data(), y, 0) < 0) return Status::CorruptData;
      sink(y, 0, buffer.data(), width);
      rowsDone(y + 1);
    }
    return Status::Ok;
  }
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
  const tmsize_t rowSize = TIFFTileRowSize(tif);
  if (tileWidth == 0 || tileHeight == 0 || rowSize <= 0) return Status::CorruptData;
  for (uint32_t ty = 0; ty < height; ty += std::min(tileHeight, height - ty)) {
    for (uint32_t tx = 0; tx < width; tx += std::min(tileWidth, width - tx)) {
      if (TIFFReadTile(tif, buffer.data(), tx, ty, 0, 0) < 0) return Status::CorruptData;
      const uint32_t rows = std::min(tileHeight, height - ty);
      for (uint32_t r = 0; r < rows; ++r) {
        sink(ty + r, tx, buffer.data() + static_cast<size_t>(r) * static_cast<size_t>(rowSize),
             std::min(tileWidth, width - tx));
      }
    }
    rowsDone(ty + std::min(tileHeight, height - ty));
  }
  return Status::Ok;
}

Status DecodePalette(TIFF* tif, uint16_t bits, std::unique_ptr<Bitmap>& bitmap) {
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) return Status::CorruptData;
  const size_t count = size_t{1} << bits;
  // Old writers stored 8-bit values; libtiff's tools detect them the same way.
  bool eightBit = true;
  for (size_t i = 0; i < count; ++i) eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
  // 16-bit values are written as v * 257 by most, v << 8 by some: the high
  // byte is right for both.
  auto scale = [eightBit](uint16_t v) { return eightBit ? uint32_t{v} : uint32_t{v} >> 8; };
  ColorPalette palette;
  palette.entries.resize(count);
  for (size_t i = 0; i < count; ++i)
    palette.entries[i] = Argb(255, scale(red[i]), scale(green[i]), scale(blue[i]));
  bitmap->SetPalette(std::move(palette));

  const Orientation at = OrientationOf(tif, bitmap->Width(), bitmap->Height());
  const uint32_t mask = (1u << bits) - 1;
  return ForEachRow(
      tif, static_cast<uint32_t>(bitmap->Width()), static_cast<uint32_t>(bitmap->Height()),
      [&](uint32_t y, uint32_t x0, const uint8_t* samples, uint32_t n) {
        uint8_t* row = bitmap->MutableRow(at.Y(y));
        for (uint32_t i = 0; i < n; ++i) {
          const size_t bit = size_t{i} * bits;
          row[at.X(x0 + i)] = static_cast<uint8_t>((samples[bit / 8] >> (8 - bits - bit % 8)) & mask);
        }
      },
      [](uint32_t) {});  // indexed: nothing starts before the whole picture
}

// 8-bit contiguous RGB or RGBA with unassociated alpha: copied as stored.
// Rows are reported when they come top to bottom.
Status DecodeRgb8(TIFF* tif, uint16_t samplesPerPixel, std::unique_ptr<Bitmap>& bitmap, RowReport& report) {
  const Orientation at = OrientationOf(tif, bitmap->Width(), bitmap->Height());
  const size_t step = static_cast<size_t>(BytesPerPixel(bitmap->Format()));
  return ForEachRow(
      tif, static_cast<uint32_t>(bitmap->Width()), static_cast<uint32_t>(bitmap->Height()),
      [&](uint32_t y, uint32_t x0, const uint8_t* samples, uint32_t n) {
        uint8_t* row = bitmap->MutableRow(at.Y(y));
        for (uint32_t i = 0; i < n; ++i, samples += samplesPerPixel) {
          CopyRgb8(samples, row + static_cast<size_t>(at.X(x0 + i)) * step, step);
        }
      },
      [&](uint32_t rows) {
        if (!at.flipY) report.Done(static_cast<int32_t>(rows));
      });
}

// The rows libtiff's RGBA reader decodes at once: one strip or one row of
// tiles, so that every strip is decoded once and the RGBA band stays small.
uint32_t BandRows(TIFF* tif, uint32_t height) {
  uint32_t rows = 0;
  if (TIFFIsTiled(tif)) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  }
  return rows == 0 ? height : std::min(rows, height);
}

// What libtiff's RGBA reader reads into: one strip, or one tile, of every plane.
uint64_t RgbaReadBytes(TIFF* tif) {
  uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  return planes * (TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif));
}

// Everything else: libtiff's RGBA reader, whose alpha comes out premultiplied.
Status DecodeRgba(TIFF* tif, uint32_t width, uint32_t height, const DecodeLimits& limits,
                  std::unique_ptr<Bitmap>& out) {
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tif, message)) return Status::UnsupportedFormat;
  RgbaImage rgba;
  if (!TIFFRGBAImageBegin(&rgba.image, tif, 1, message)) return Status::CorruptData;
  rgba.begun = true;
  rgba.image.req_orientation = ORIENTATION_TOPLEFT;
  const bool alpha = rgba.image.alpha != 0;
  const PixelFormat format = alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24;
  const uint32_t band = BandRows(tif, height);
  const uint64_t readBytes = RgbaReadBytes(tif);
  if (readBytes > static_cast<uint64_t>(kMaxTiffAlloc)) return Status::TooLarge;
  const uint64_t bandBytes = uint64_t{width} * band * 4;
  const uint64_t pictureBytes = uint64_t{width} * height * static_cast<uint64_t>(BytesPerPixel(format));
  if (const Status status = CheckDecodeBytes(limits, pictureBytes + bandBytes + readBytes);
      status != Status::Ok) {
    return status;
  }
  if (const Status status = CheckWorkingMemory(readBytes); status != Status::Ok) return status;
  // The band is a bitmap too, so that a file failing in its first strip
  // has not made us clear all of it.
  std::unique_ptr<Bitmap> bitmap, raster;
  Status status = Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), format, bitmap);
  if (status == Status::Ok) {
    status =
        Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(band), PixelFormat::Argb32, raster);
  }
  if (status != Status::Ok) return status;

  // A file stored bottom-up fills the picture from its last row: each band
  // of file rows lands, turned over by libtiff, at the mirrored place.
  const bool bottomUp = OrientationOf(tif, bitmap->Width(), bitmap->Height()).flipY;
  auto* const pixels = reinterpret_cast<uint32_t*>(raster->MutableRow(0));
  const size_t step = alpha ? 4 : 3;
  for (uint32_t fileRow = 0; fileRow < height; fileRow += band) {
    const uint32_t rows = std::min(band, height - fileRow);
    rgba.image.row_offset = static_cast<int>(fileRow);
    if (!TIFFRGBAImageGet(&rgba.image, pixels, width, rows)) return Status::CorruptData;
    const uint32_t firstRow = bottomUp ? height - fileRow - rows : fileRow;
    for (uint32_t r = 0; r < rows; ++r) {
      uint8_t* row = bitmap->MutableRow(static_cast<int32_t>(firstRow + r));
      const uint32_t* src = pixels + size_t{r} * width;
      for (uint32_t x = 0; x < width; ++x, row += step) {
        const uint32_t abgr = src[x];
        const uint32_t a = TIFFGetA(abgr);
        const uint32_t rgb[3] = {TIFFGetB(abgr), TIFFGetG(abgr), TIFFGetR(abgr)};
        for (size_t c = 0; c < 3; ++c) {
          const uint32_t v = !alpha || a == 255 ? rgb[c]
                             : a == 0           ? 0
                                                : std::min(255u, (rgb[c] * 255 + a / 2) / a);
          row[c] = static_cast<uint8_t>(v);
        }
        if (alpha) row[3] = static_cast<uint8_t>(a);
      }
    }
  }
  out = std::move(bitmap);
  return Status::Ok;
}

bool HasTiffSignature(std::span<const uint8_t> data) {
  if (data.size() < 4) return false;
  const bool little = data[0] == 'I' && data[1] == 'I' && data[3] == 0 && (data[2] == 42 || data[2] == 43);
  const bool big = data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
  return little || big;
}

// libtiff drops tags whose data lies past the end and carries on (a palette
// TIFF cut short turns grey), so the first directory is checked here: every
// entry's data must lie within the file.
bool DirectoryFits(std::span<const uint8_t> data) {
  const bool little = data[0] == 'I';
  const bool big = (little ? data[2] : data[3]) == 43;
  auto read = [&](uint64_t at, int size, uint64_t& value) {
    if (at > data.size() || data.size() - at < static_cast<uint64_t>(size)) return false;
    value = 0;
    for (int i = 0; i < size; ++i) {
      const uint64_t byte = data[at + static_cast<uint64_t>(little ? i : size - 1 - i)];
      value |= byte << (8 * i);
    }
    return true;
  };
  const int offsetSize = big ? 8 : 4;
  const uint64_t entrySize = big ? 20 : 12;
  uint64_t directory = 0, entries = 0;
  if (!read(big ? 8 : 4, offsetSize, directory) || !read(directory, big ? 8 : 2, entries)) return false;
  const uint64_t first = directory + (big ? 8 : 2);
  if ((data.size() - first) / entrySize < entries) return false;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t at = first + i * entrySize;
    uint64_t type = 0, count = 0, offset = 0;
    read(at + 2, 2, type);
    read(at + 4, offsetSize, count);
    static constexpr std::array<uint64_t, 19> kTypeSizes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                            8, 4, 8, 4, 0, 0, 8, 8, 8};
    const uint64_t typeSize = type < kTypeSizes.size() ? kTypeSizes[type] : 0;  // unknown types are skipped
    if (typeSize == 0 || count <= static_cast<uint64_t>(offsetSize) / typeSize) continue;
    if (count > data.size() / typeSize) return false;
    read(at + 4 + static_cast<uint64_t>(offsetSize), offsetSize, offset);
    if (offset > data.size() || data.size() - offset < count * typeSize) return false;
  }
  return true;
}

// The most bytes one stored byte can decode to, for the compressions with
// such a bound; 0 for the others (fax, JPEG, ...), which only the pixel
// limit bounds.
uint64_t MaxExpansion(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return 1;
    case COMPRESSION_PACKBITS:
      return 64;  // a 2-byte run of 128
    case COMPRESSION_LZW:
      return 4096;  // a code of at least 9 bits for a string of at most 4096 bytes
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return 1032;
    default:
      return 0;
  }
}

// Every strip or tile must lie within the file, and together they must be
// able to hold the decoded pixels, before anything is allocated for them: a
// few hundred bytes must not make us clear gigabytes.
bool StripsFit(TIFF* tif, uint64_t size) {
  const bool tiled = TIFFIsTiled(tif);
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint64_t stored = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
    if (bytes > size || TIFFGetStrileOffset(tif, i) > size - bytes) return false;
    stored += bytes;
  }
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const uint64_t expansion = MaxExpansion(compression);
  if (expansion == 0) return true;
  const uint64_t allowed = stored * expansion;  // no overflow: stored is at most the file size
  if (tiled) {
    const uint64_t tileSize = TIFFTileSize64(tif);
    return tileSize == 0 || count <= allowed / tileSize;
  }
  uint32_t height = 0;
  uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  const uint64_t rowBytes = TIFFScanlineSize64(tif);
  return rowBytes == 0 || planes == 0 || height <= allowed / rowBytes / planes;
}

// The tags that choose how a page decodes.
struct PageLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 0;
  uint16_t samples = 0;
  uint16_t photometric = 0;
  uint16_t planar = 0;
  uint16_t extraCount = 0;
  uint16_t* extraTypes = nullptr;

  bool IsPalette() const {
    return photometric == PHOTOMETRIC_PALETTE && samples == 1 &&
           (bits == 1 || bits == 2 || bits == 4 || bits == 8);
  }
  // 8-bit contiguous RGB, or RGBA with unassociated alpha.
  bool IsRgb8() const {
    return photometric == PHOTOMETRIC_RGB && bits == 8 && planar == PLANARCONFIG_CONTIG &&
           ((samples == 3 && extraCount == 0) ||
            (samples == 4 && extraCount == 1 && extraTypes[0] == EXTRASAMPLE_UNASSALPHA));
  }
  PixelFormat Format() const {
    return IsPalette() ? PixelFormat::Indexed8 : samples == 4 ? PixelFormat::Argb32 : PixelFormat::Rgb24;
  }
};

// Reads the current page's layout, holds its size against the limits and
// its strips against the file.
Status ReadLayout(TIFF* tif, const DecodeLimits& limits, uint64_t fileSize, PageLayout& page) {
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &page.extraCount, &page.extraTypes);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric)) return Status::CorruptData;
  if (page.width == 0 || page.height == 0) return Status::CorruptData;
  if (const Status status = CheckPictureSize(limits, page.width, page.height); status != Status::Ok) {
    return status;
  }
  return StripsFit(tif, fileSize) ? Status::Ok : Status::CorruptData;
}

// Palette and 8-bit RGB(A) pages, read as stored into a bitmap of their
// own format; the strips of large RGB(A) ones on the limits' pool.
Status DecodeAsStored(std::span<const uint8_t> data, TIFF* tif, const PageLayout& page,
                      const DecodeLimits& limits, const Diagnostics& diagnostics, RowSink* rows,
                      std::unique_ptr<Bitmap>& bitmap) {
  const uint64_t buffer = RowBufferBytes(tif);
  if (buffer == 0) return Status::CorruptData;
  if (buffer > static_cast<uint64_t>(kMaxTiffAlloc)) return Status::TooLarge;
  const PixelFormat format = page.Format();
  Status status = CheckDecodeBytes(
      limits, uint64_t{page.width} * page.height * static_cast<uint64_t>(BytesPerPixel(format)) + buffer);
  if (status == Status::Ok) {
    status =
        Bitmap::Create(static_cast<int32_t>(page.width), static_cast<int32_t>(page.height), format, bitmap);
  }
  if (status != Status::Ok) return status;
  RowReport report(rows, *bitmap);
  if (page.IsPalette()) {
    status = DecodePalette(tif, page.bits, bitmap);
  } else if (StripWavesSuit(tif, limits, bitmap->MemoryBytes())) {
    status = DecodeStripWaves(data, tif, limits.page, page.samples, *limits.pool, *bitmap, report);
  } else {
    status = DecodeRgb8(tif, page.samples, bitmap, report);
  }
  if (status == Status::Ok && diagnostics.errors > 0) status = Status::CorruptData;
  if (status == Status::Ok) report.Succeeded();
  return status;
}

Status DecodeTiffUnchecked(std::span<const uint8_t> data, const DecodeLimits& limits,
                           std::unique_ptr<Bitmap>& out, RowSink* rows) {
  if (!HasTiffSignature(data)) return Status::UnknownImageFormat;
  if (!DirectoryFits(data)) return Status::CorruptData;
  Diagnostics diagnostics;
  MemoryFile file{data};
  TiffPtr tif = Open(file, "rm", diagnostics);  // "m": no mapping, every read goes through Read
  if (!tif || diagnostics.errors > 0) return Status::CorruptData;
  if (limits.page > 1 && !TIFFSetDirectory(tif.get(), static_cast<tdir_t>(limits.page - 1))) {
    return diagnostics.errors > 0 ? Status::CorruptData : Status::NoSuchPage;
  }
  PageLayout page;
  if (const Status status = ReadLayout(tif.get(), limits, data.size(), page); status != Status::Ok) {
    return status;
  }
  std::unique_ptr<Bitmap> bitmap;
  Status status = page.IsPalette() || page.IsRgb8()
                      ? DecodeAsStored(data, tif.get(), page, limits, diagnostics, rows, bitmap)
                      : DecodeRgba(tif.get(), page.width, page.height, limits, bitmap);
  if (status == Status::Ok && diagnostics.errors > 0) status = Status::CorruptData;
  if (status == Status::Ok) out = std::move(bitmap);
  return status;
}

// ---- Encoding ----

Status WritePixels(TIFF* tif, const Bitmap& bitmap) {
  const PixelFormat format = bitmap.Format();
  const uint32_t samples = format == PixelFormat::Indexed8 ? 1 : format == PixelFormat::Rgb24 ? 3 : 4;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bitmap.Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bitmap.Height()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  if (format == PixelFormat::Indexed8) {
    // A full 256-entry map, padded with black.
    std::array<uint16_t, 256> red{}, green{}, blue{};
    const auto& entries = bitmap.Palette().entries;
    for (size_t i = 0; i < std::min<size_t>(entries.size(), 256); ++i) {
      red[i] = static_cast<uint16_t>(RedOf(entries[i]) * 257);
      green[i] = static_cast<uint16_t>(GreenOf(entries[i]) * 257);
      blue[i] = static_cast<uint16_t>(BlueOf(entries[i]) * 257);
    }
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  } else {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    if (format == PixelFormat::Argb32) {
      const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
  }

  std::vector<uint8_t> line(bitmap.Stride());
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* src = bitmap.Row(y);
    std::memcpy(line.data(), src, line.size());
    if (samples > 1) {  // B,G,R(,A) in memory, R,G,B(,A) in the file
      for (size_t i = 0; i < line.size(); i += samples) std::swap(line[i], line[i + 2]);
    }
    if (TIFFWriteScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0) return Status::WriteFailed;
  }
  return TIFFWriteDirectory(tif) ? Status::Ok : Status::WriteFailed;
}

Status EncodeTiffUnchecked(const Bitmap& bitmap, ScratchStream& stream) {
  Diagnostics diagnostics;
  StreamFile file{&stream, stream.Position()};
  TiffPtr tif = Open(file, "w", diagnostics);
  Status status = tif ? WritePixels(tif.get(), bitmap) : Status::WriteFailed;
  tif.reset();  // closing flushes through the file's procs
  if (status == Status::Ok && diagnostics.errors > 0) status = Status::WriteFailed;
  if (file.status != Status::Ok) status = file.status;
  if (status == Status::Ok) status = stream.Seek(file.base + file.size);
  return status;
}

}  // namespace

Status EncodeTiff(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return EncodeTiffUnchecked(bitmap, stream); });
}

Status DecodeTiff(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* rows) {
  return GuardMemory([&] { return DecodeTiffUnchecked(data, limits, out, rows); });
}

Status CountTiffPages(std::span<const uint8_t> data, uint32_t& pages) {
  return GuardMemory([&] {
    if (!HasTiffSignature(data)) return Status::UnknownImageFormat;
    Diagnostics diagnostics;
    MemoryFile file{data};
    const TiffPtr tif = Open(file, "rm", diagnostics);
    if (!tif) return Status::CorruptData;
    pages = std::max<uint32_t>(1, TIFFNumberOfDirectories(tif.get()));
    return Status::Ok;
  });
}

}  // namespace rzt2
