// Writes the fuzzers' seed files: small pictures in every variant our
// decoders take (through our encoders, and through the libraries for the
// variants we do not write), and small map files in every frame format.
// Usage: make_seeds <folder>; files land in <folder>/<target>/.
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "mapfile/map_writer.h"
#include "raster/codecs/image_formats.h"

namespace {

namespace fs = std::filesystem;
using rzt2::Bitmap;
using rzt2::PixelFormat;
using Bytes = std::vector<uint8_t>;

fs::path gRoot;

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(gRoot / target);
  std::ofstream out(gRoot / target / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A picture with smooth ramps, a palette of `colors` entries for Indexed8
// (the second one half transparent), and varying alpha for Argb32.
std::unique_ptr<Bitmap> Picture(int32_t w, int32_t h, PixelFormat format, uint32_t colors = 16) {
  std::unique_ptr<Bitmap> bitmap;
  Bitmap::Create(w, h, format, bitmap);
  const int bpp = rzt2::BytesPerPixel(format);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    const uint32_t modulus = format == PixelFormat::Indexed8 ? colors : 256;
    for (int32_t x = 0; x < w * bpp; ++x) {
      row[x] = static_cast<uint8_t>(static_cast<uint32_t>(x * 37 + y * 11) % modulus);
    }
  }
  if (format == PixelFormat::Indexed8) {
    rzt2::ColorPalette palette;
    for (uint32_t i = 0; i < colors; ++i) {
      palette.entries.push_back(
          rzt2::Argb(i == 1 ? 128 : 255, i * 255 / colors, 255 - i * 255 / colors, (i * 97) % 256));
    }
    palette.flags = rzt2::kPaletteHasAlpha;
    bitmap->SetPalette(palette);
  }
  return bitmap;
}

Bytes Encode(rzt2::EncodeFunction encode, const Bitmap& bitmap) {
  rzt2::ScratchStream stream;
  if (encode(bitmap, stream) != rzt2::Status::Ok) return {};
  const auto data = stream.Data();
  return {data.begin(), data.end()};
}

void OurEncodings(const std::string& target, rzt2::EncodeFunction encode, bool indexedOnly) {
  struct Sample {
    const char* name;
    int32_t w, h;
    PixelFormat format;
    uint32_t colors;
  };
  const Sample samples[] = {{"indexed2-8x8", 8, 8, PixelFormat::Indexed8, 2},
                            {"indexed16-13x7", 13, 7, PixelFormat::Indexed8, 16},
                            {"indexed256-1x1", 1, 1, PixelFormat::Indexed8, 256},
                            {"rgb-16x16", 16, 16, PixelFormat::Rgb24, 0},
                            {"argb-9x5", 9, 5, PixelFormat::Argb32, 0}};
  for (const Sample& s : samples) {
    if (indexedOnly && s.format != PixelFormat::Indexed8) continue;
    const Bytes bytes = Encode(encode, *Picture(s.w, s.h, s.format, s.colors));
    if (!bytes.empty()) Save(target, std::string("ours-") + s.name, bytes);
  }
}

// ---- PNG variants through libpng's simplified writer ----

void PngVariant(const char* name, uint32_t format, int w, int h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = format;
  const size_t size = PNG_IMAGE_SIZE(image);
  Bytes pixels(size);
  for (size_t i = 0; i < size; ++i) pixels[i] = static_cast<uint8_t>(i * 29);
  png_alloc_size_t length = 0;
  if (!png_image_write_to_memory(&image, nullptr, &length, 0, pixels.data(), 0, nullptr)) return;
  Bytes out(length);
  if (png_image_write_to_memory(&image, out.data(), &length, 0, pixels.data(), 0, nullptr)) {
    out.resize(length);
    Save("png", name, out);
  }
}

// ---- JPEG variants through libjpeg ----

void JpegVariant(const char* name, int components, J_COLOR_SPACE space, bool progressive) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&cinfo, &buffer, &length);
  cinfo.image_width = 19;
  cinfo.image_height = 11;
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 50, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  Bytes row(static_cast<size_t>(19 * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<uint8_t>(i * 13 + size_t{cinfo.next_scanline} * 7);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Save("jpeg", name, Bytes(buffer, buffer + length));
  std::free(buffer);
}

// ---- TIFF variants through libtiff, written to a file and read back ----

void TiffVariant(const char* name, const std::function<void(TIFF*)>& write) {
  const fs::path path = gRoot / "tiff" / name;
  fs::create_directories(path.parent_path());
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return;
  write(tif);
  TIFFClose(tif);
}

void TiffFields(TIFF* tif, uint32_t w, uint32_t h, uint16_t bits, uint16_t samples, uint16_t photometric,
                uint16_t compression) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

void WriteStrips(TIFF* tif, uint32_t h, size_t rowBytes) {
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
  Bytes row(rowBytes);
  for (uint32_t y = 0; y < h; ++y) {
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(y) * 31);
    TIFFWriteScanline(tif, row.data(), y, 0);
  }
}

void TiffVariants() {
  TiffVariant("grey16-packbits", [](TIFF* tif) {
    TiffFields(tif, 7, 5, 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS);
    WriteStrips(tif, 5, 14);
  });
  TiffVariant("bilevel-fax4", [](TIFF* tif) {
    TiffFields(tif, 24, 6, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4);
    WriteStrips(tif, 6, 3);
  });
  TiffVariant("rgb-deflate-tiled", [](TIFF* tif) {
    TiffFields(tif, 20, 18, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    Bytes tile(size_t{16} * 16 * 3);
    for (size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<uint8_t>(i * 5);
    for (uint32_t y = 0; y < 18; y += 16) {
      for (uint32_t x = 0; x < 20; x += 16) TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
    }
  });
  TiffVariant("palette4-none", [](TIFF* tif) {
    TiffFields(tif, 9, 4, 4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE);
    uint16_t map[16];
    for (uint16_t i = 0; i < 16; ++i) map[i] = static_cast<uint16_t>(i * 4369);
    TIFFSetField(tif, TIFFTAG_COLORMAP, map, map, map);
    WriteStrips(tif, 4, 5);
  });
  TiffVariant("cmyk-lzw-bottomright", [](TIFF* tif) {
    TiffFields(tif, 6, 6, 8, 4, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTRIGHT);
    WriteStrips(tif, 6, 24);
  });
}

// ---- BMP variants written by hand ----

void Put(Bytes& out, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// File header, an info header of headerSize bytes, then `extra` (masks or
// palette) and the pixel bytes.
Bytes Bmp(uint32_t headerSize, int32_t w, int32_t h, uint16_t bits, uint32_t compression, const Bytes& extra,
          const Bytes& pixels) {
  Bytes out = {'B', 'M'};
  const uint32_t offset = 14 + headerSize + static_cast<uint32_t>(extra.size());
  Put(out, offset + static_cast<uint32_t>(pixels.size()), 4);
  Put(out, 0, 4);
  Put(out, offset, 4);
  Put(out, headerSize, 4);
  if (headerSize == 12) {
    Put(out, static_cast<uint32_t>(w), 2);
    Put(out, static_cast<uint32_t>(h), 2);
    Put(out, 1, 2);
    Put(out, bits, 2);
  } else {
    Put(out, static_cast<uint32_t>(w), 4);
    Put(out, static_cast<uint32_t>(h), 4);
    Put(out, 1, 2);
    Put(out, bits, 2);
    Put(out, compression, 4);
    Put(out, static_cast<uint32_t>(pixels.size()), 4);
    for (int i = 0; i < 4; ++i) Put(out, 0, 4);
    out.resize(14 + headerSize, 0);
  }
  out.insert(out.end(), extra.begin(), extra.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

void BmpVariants() {
  Bytes palette16;
  for (uint32_t i = 0; i < 16; ++i) Put(palette16, i * 0x00101010, 4);
  // RLE8: a run, a literal, a delta, end of line, end of picture.
  const Bytes rle8 = {3, 1, 0, 3, 2, 3, 4, 0, 0, 2, 1, 1, 0, 0, 2, 5, 0, 1};
  Save("bmp", "rle8-top-down", Bmp(40, 6, -3, 8, 1, palette16, rle8));
  const Bytes rle4 = {4, 0x12, 0, 4, 0x34, 0x56, 0, 0, 5, 0x77, 0, 1};
  Save("bmp", "rle4", Bmp(40, 5, 2, 4, 2, palette16, rle4));
  Bytes masks;
  for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) Put(masks, mask, 4);
  Bytes pixels16(size_t{4} * 4 * 2);
  for (size_t i = 0; i < pixels16.size(); ++i) pixels16[i] = static_cast<uint8_t>(i * 17);
  Save("bmp", "bitfields565", Bmp(40, 4, 4, 16, 3, masks, pixels16));
  Bytes core;
  for (uint32_t i = 0; i < 2; ++i) Put(core, i * 0xFFFFFF, 3);
  Save("bmp", "core-1bit", Bmp(12, 10, 3, 1, 0, core, Bytes(12, 0xA5)));
  Bytes v5(124 - 40, 0);  // masks in the header: red, green, blue, alpha
  Bytes pixels32(size_t{3} * 2 * 4, 0x80);
  Bytes v5Masks;
  for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) Put(v5Masks, mask, 4);
  Bytes header = Bmp(124, 3, 2, 32, 3, {}, pixels32);
  std::copy(v5Masks.begin(), v5Masks.end(), header.begin() + 14 + 40);
  Save("bmp", "v5-alpha", header);
}

// ---- GIF variant: our encoding with the interlace flag set ----

void GifVariants() {
  Bytes gif = Encode(rzt2::EncodeGif, *Picture(10, 9, PixelFormat::Indexed8, 4));
  // Screen descriptor (13), global table of 4 entries (12), control extension (8).
  const size_t imageDescriptor = 13 + 12 + 8;
  if (gif.size() > imageDescriptor + 9 && gif[imageDescriptor] == ',') {
    gif[imageDescriptor + 9] |= 0x40;
    Save("gif", "interlaced", gif);
  }
}

// ---- Map files from our writer ----

void MapVariants() {
  const fs::path temporary = gRoot / "map" / "writing.rzt2";
  fs::create_directories(temporary.parent_path());
  for (int32_t code = 0; code < 5; ++code) {
    for (int32_t mask : {0, 2}) {
      rzt2::EncoderParams params{.FrameSizeX = 32,
                                 .FrameSizeY = 32,
                                 .ZoomLevelsMask = mask,
                                 .MiniFrameSizeX = 128,
                                 .MiniFrameSizeY = 128,
                                 .EncoderCode = code};
      // GIF and PNG frames share their first bytes only with full palettes.
      rzt2::ColorPalette palette = Picture(1, 1, PixelFormat::Indexed8, 256)->Palette();
      for (uint32_t& entry : palette.entries) entry |= 0xFF000000;
      rzt2::ImageHandle picture(Picture(40, 12, PixelFormat::Indexed8, 4));
      auto writer = rzt2::MapWriter::Create(params, &palette, nullptr);
      if (writer->WriteMapFile(picture, temporary) != rzt2::Status::Ok) continue;
      fs::rename(temporary,
                 gRoot / "map" / ("ours-code" + std::to_string(code) + "-mask" + std::to_string(mask)));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  gRoot = argv[1];
  OurEncodings("png", rzt2::EncodePng, false);
  OurEncodings("jpeg", rzt2::EncodeJpeg, false);
  OurEncodings("gif", rzt2::EncodeGif, true);
  OurEncodings("bmp", rzt2::EncodeBmp, false);
  OurEncodings("tiff", rzt2::EncodeTiff, false);
  PngVariant("linear-grey16", PNG_FORMAT_LINEAR_Y, 5, 4);
  PngVariant("grey-alpha", PNG_FORMAT_GA, 6, 3);
  PngVariant("rgb", PNG_FORMAT_RGB, 3, 7);
  JpegVariant("grey", 1, JCS_GRAYSCALE, false);
  JpegVariant("progressive", 3, JCS_RGB, true);
  JpegVariant("cmyk", 4, JCS_CMYK, false);
  TiffVariants();
  BmpVariants();
  GifVariants();
  MapVariants();
  return 0;
}
