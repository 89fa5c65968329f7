// Helpers shared by the test programs: a private temporary folder per
// test, generated pictures, codec calls, and pixel comparisons. Free of
// GoogleTest, so that the benchmarks can link it too.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/image_handle.h"
#include "raster/bitmap.h"
#include "raster/codecs/image_formats.h"

namespace rzt2::test {

// Test pictures Debian ships with the Go sources (golang-1.19-src,
// golang-golang-x-image-dev).
inline const std::filesystem::path kGoImageData = "/usr/share/go-1.19/src/image/testdata";
inline const std::filesystem::path kGoPngData = "/usr/share/go-1.19/src/image/png/testdata";
inline const std::filesystem::path kXImageData = "/usr/share/gocode/src/golang.org/x/image/testdata";
// source.png and the same picture in the formats only decoded, which the
// build makes (tests/data/make_pictures.py).
inline const std::filesystem::path kDecodeOnlyPictures = RZT2_TEST_PICTURES;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets the process's memory budget for pixels while the object lives; 0
// puts every block but the smallest on disk.
class ScopedMemoryBudget {
 public:
  explicit ScopedMemoryBudget(uint64_t bytes);
  ~ScopedMemoryBudget();
  ScopedMemoryBudget(const ScopedMemoryBudget&) = delete;
  ScopedMemoryBudget& operator=(const ScopedMemoryBudget&) = delete;

 private:
  uint64_t previous_;
};

// Makes a folder the current one while the object lives.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path previous_;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The pixels of a map-like picture: smooth colour gradients crossed by thin
// dark lines (roads), reproducible from the seed; one pixel at a time, so
// that pictures larger than memory can be written row by row.
class MapLikePattern {
 public:
  MapLikePattern(int32_t width, int32_t height, uint32_t seed);
  // Opaque 0xAARRGGBB.
  uint32_t Argb(int32_t x, int32_t y, bool& road) const;

 private:
  int32_t width_, height_, lineStep_;
};
// A map-like picture of the pattern.
std::unique_ptr<Bitmap> MakeMapLikeBitmap(int32_t width, int32_t height, PixelFormat format,
                                          uint32_t seed = 1);
// An Indexed8 bitmap with a 256-entry palette and varied indexes.
std::unique_ptr<Bitmap> MakeIndexedBitmap(int32_t width, int32_t height, uint32_t seed = 1);
// Opaque gradient colours.
ColorPalette GradientPalette(uint32_t count);
// Indexes into palette: noise, one flat index or stripes, by seed % 3.
std::unique_ptr<Bitmap> PatternedIndexed(int32_t width, int32_t height, const ColorPalette& palette,
                                         uint32_t seed);
// A TIFF written by libtiff itself, for variants our encoder does not make:
// fill sets the fields and writes the pixels.
std::vector<uint8_t> WriteWithLibtiff(const std::function<void(TIFF*)>& fill);
// A map-like picture saved as a file by the encoder of mime ("image/png").
Status SavePicture(const std::filesystem::path& path, const char* mime, int32_t width, int32_t height,
                   uint32_t seed = 1, PixelFormat format = PixelFormat::Rgb24);

// The whole encoding; empty when the encoder fails.
std::vector<uint8_t> Encode(EncodeFunction encode, const Bitmap& bitmap);
// Runs a decoder. A bitmap must come out exactly when it reports Ok; when
// not, this throws, which fails the calling test.
Status DecodeWith(DecodeFunction decode, std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>& out,
                  const DecodeLimits& limits = {});
// The decoded picture, or null when decoding fails.
std::unique_ptr<Bitmap> Decoded(DecodeFunction decode, std::span<const uint8_t> bytes);

// "" when both have one format, size and pixel bytes, else the first
// difference. Palettes are not compared.
std::string PixelDifference(const Bitmap& expected, const Bitmap& actual);
// The largest difference of any channel (alpha included) between two
// pictures of the same size, read as ARGB; -1 when the sizes differ.
int MaxChannelDifference(const Bitmap& a, const Bitmap& b);
// The mean difference of the red, green and blue channels; -1 when the
// sizes differ.
double MeanRgbDifference(const Bitmap& a, const Bitmap& b);
// The peak signal-to-noise ratio of the red, green and blue channels in dB:
// infinite for equal pixels, -1 when the sizes differ.
double Psnr(const Bitmap& a, const Bitmap& b);

}  // namespace rzt2::test
