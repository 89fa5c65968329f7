// Writes the fuzzers' seed files: small pictures in every variant our
// decoders take (through our encoders, and through the libraries for the
// variants we do not write), the hand-made hostile files, and small map
// files in every frame format. Usage: make_seeds <folder>; files land in
// <folder>/<target>/.
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "hostile/hostile_files.h"
#include "mapfile/map_writer.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using rzt2::PixelFormat;
using rzt2::test::Bytes;

fs::path gRoot;

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(gRoot / target);
  if (!bytes.empty()) rzt2::test::WriteFileBytes(gRoot / target / name, bytes);
}

// Indexed pictures of 2 to 256 colours (the second entry half transparent),
// true colour and ARGB, through our encoder of the target.
void OurEncodings(const std::string& target, rzt2::EncodeFunction encode, bool indexedOnly) {
  for (const uint32_t colors : {2u, 16u, 256u}) {
    rzt2::ColorPalette palette = rzt2::test::GradientPalette(colors);
    palette.entries[1] &= 0x80FFFFFF;
    palette.flags = rzt2::kPaletteHasAlpha;
    const auto picture =
        rzt2::test::PatternedIndexed(static_cast<int32_t>(3 + colors % 13), 7, palette, colors);
    Save(target, "ours-indexed" + std::to_string(colors), rzt2::test::Encode(encode, *picture));
  }
  if (indexedOnly) return;
  for (const PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Argb32}) {
    const auto picture = rzt2::test::MakeMapLikeBitmap(16, 9, format);
    Save(target, "ours-format" + std::to_string(static_cast<int>(format)),
         rzt2::test::Encode(encode, *picture));
  }
}

// PNG variants through libpng's simplified writer.
void PngVariant(const char* name, uint32_t format, int w, int h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = format;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 29);
  png_alloc_size_t length = 0;
  if (!png_image_write_to_memory(&image, nullptr, &length, 0, pixels.data(), 0, nullptr)) return;
  Bytes out(length);
  if (png_image_write_to_memory(&image, out.data(), &length, 0, pixels.data(), 0, nullptr)) {
    out.resize(length);
    Save("png", name, out);
  }
}

void TiffVariant(const char* name, uint32_t w, uint32_t h, uint16_t bits, uint16_t samples,
                 uint16_t photometric, uint16_t compression, uint32_t tileSide = 0) {
  Save("tiff", name, rzt2::test::WriteWithLibtiff([=](TIFF* tif) {
         TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
         TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
         TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
         TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
         TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
         TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
         TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
         TIFFSetField(tif, TIFFTAG_ORIENTATION,
                      photometric == PHOTOMETRIC_SEPARATED ? ORIENTATION_BOTRIGHT : ORIENTATION_TOPLEFT);
         if (photometric == PHOTOMETRIC_PALETTE) {
           std::vector<uint16_t> map(size_t{1} << bits);
           for (size_t i = 0; i < map.size(); ++i)
             map[i] = static_cast<uint16_t>(i * 65535 / (map.size() - 1));
           TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
         }
         if (tileSide != 0) {
           TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileSide);
           TIFFSetField(tif, TIFFTAG_TILELENGTH, tileSide);
           Bytes tile(TIFFTileSize(tif));
           for (size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<uint8_t>(i * 5);
           for (uint32_t y = 0; y < h; y += tileSide) {
             for (uint32_t x = 0; x < w; x += tileSide) TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
           }
           return;
         }
         TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
         Bytes row(TIFFScanlineSize(tif));
         for (uint32_t y = 0; y < h; ++y) {
           for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7 + y * 31);
           TIFFWriteScanline(tif, row.data(), y, 0);
         }
       }));
}

// Map files from our writer, in every frame format, with and without a second level.
void MapVariants() {
  const fs::path temporary = gRoot / "map" / "writing.rzt2";
  fs::create_directories(temporary.parent_path());
  // GIF and PNG frames share their first bytes only with full palettes.
  const rzt2::ColorPalette palette = rzt2::test::GradientPalette(256);
  for (int32_t code = 0; code < 5; ++code) {
    for (int32_t mask : {0, 2}) {
      const rzt2::EncoderParams params{.FrameSizeX = 32,
                                       .FrameSizeY = 32,
                                       .ZoomLevelsMask = mask,
                                       .MiniFrameSizeX = 128,
                                       .MiniFrameSizeY = 128,
                                       .EncoderCode = code};
      rzt2::ImageHandle picture(rzt2::test::PatternedIndexed(40, 12, rzt2::test::GradientPalette(4), 2));
      if (rzt2::MapWriter::Create(params, &palette, nullptr)->WriteMapFile(picture, temporary) !=
          rzt2::Status::Ok)
        continue;
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
  Save("png", "hostile-thin", rzt2::test::ZeroPng(4000, 1, 8, 4));
  Save("jpeg", "grey", rzt2::test::CompressJpeg(19, 11, 1));
  Save("jpeg", "progressive", rzt2::test::CompressJpeg(19, 11, 3, [](jpeg_compress_struct& cinfo) {
         jpeg_set_quality(&cinfo, 50, TRUE);
         jpeg_simple_progression(&cinfo);
       }));
  Save("jpeg", "hostile-ends-early", rzt2::test::JpegClaiming(320, 320, false));
  TiffVariant("grey16-packbits", 7, 5, 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS);
  TiffVariant("bilevel-fax4", 24, 6, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4);
  TiffVariant("rgb-deflate-tiled", 20, 18, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, 16);
  TiffVariant("palette4-none", 9, 4, 4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE);
  TiffVariant("cmyk-lzw-bottomright", 6, 6, 8, 4, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW);
  Save("tiff", "hostile-strip", rzt2::test::GreyTiff(300, 300, COMPRESSION_LZW));
  // BMP variants are hand-written in the codec tests; the blank RLE picture stands for them.
  Save("bmp", "hostile-rle-blank", rzt2::test::RleBmp(640, 480));
  MapVariants();
  return 0;
}
