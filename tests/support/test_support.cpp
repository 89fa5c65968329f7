#include "support/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <system_error>

#include "base/memory_budget.h"
#include "raster/codecs/image_formats.h"

namespace rzt2::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "rzt2-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ignored);
  std::filesystem::remove_all(path_, ignored);
}

ScopedMemoryBudget::ScopedMemoryBudget(uint64_t bytes) : previous_(MemoryBudget::Process().Limit()) {
  MemoryBudget::Process().SetLimit(bytes);
}

ScopedMemoryBudget::~ScopedMemoryBudget() { MemoryBudget::Process().SetLimit(previous_); }

CurrentFolder::CurrentFolder(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {

void StorePixel(Bitmap& bitmap, int32_t x, int32_t y, uint32_t argb, uint8_t index) {
  uint8_t* row = bitmap.MutableRow(y);
  const auto at = static_cast<size_t>(x);
  switch (bitmap.Format()) {
    case PixelFormat::Indexed8:
      row[at] = index;
      break;
    case PixelFormat::Rgb24:
      row[3 * at] = static_cast<uint8_t>(BlueOf(argb));
      row[3 * at + 1] = static_cast<uint8_t>(GreenOf(argb));
      row[3 * at + 2] = static_cast<uint8_t>(RedOf(argb));
      break;
    case PixelFormat::Argb32:
      for (size_t i = 0; i < 4; ++i) row[4 * at + i] = static_cast<uint8_t>(argb >> (8 * i));
      break;
  }
}

}  // namespace

MapLikePattern::MapLikePattern(int32_t width, int32_t height, uint32_t seed)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
  std::mt19937 random(seed);
  lineStep_ = 37 + static_cast<int32_t>(random() % 23);
}

uint32_t MapLikePattern::Argb(int32_t x, int32_t y, bool& road) const {
  // 64 bits: pictures of tens of thousands of pixels a side.
  uint32_t r = static_cast<uint32_t>(120 + (int64_t{x} * 97 / width_) % 120);
  uint32_t g = static_cast<uint32_t>(140 + (int64_t{y} * 83 / height_) % 100);
  uint32_t b = static_cast<uint32_t>(100 + ((int64_t{x} + y) / 5) % 90);
  road = (x % lineStep_) < 2 || ((y + x / 3) % (lineStep_ + 11)) < 2;
  if (road) r = g = b = 40;
  return rzt2::Argb(255, r, g, b);
}

std::unique_ptr<Bitmap> MakeMapLikeBitmap(int32_t width, int32_t height, PixelFormat format, uint32_t seed) {
  std::unique_ptr<Bitmap> bitmap;
  if (Bitmap::Create(width, height, format, bitmap) != Status::Ok) return nullptr;
  if (format == PixelFormat::Indexed8) {
    ColorPalette palette;
    for (uint32_t i = 0; i < 256; ++i) palette.entries.push_back(rzt2::Argb(255, i, (i * 7) & 255, 255 - i));
    bitmap->SetPalette(palette);
  }
  const MapLikePattern pattern(width, height, seed);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      bool road = false;
      const uint32_t argb = pattern.Argb(x, y, road);
      StorePixel(*bitmap, x, y, argb, static_cast<uint8_t>(road ? 3 : (x / 8 + y / 8) & 255));
    }
  }
  return bitmap;
}

std::unique_ptr<Bitmap> MakeIndexedBitmap(int32_t width, int32_t height, uint32_t seed) {
  return MakeMapLikeBitmap(width, height, PixelFormat::Indexed8, seed);
}

ColorPalette GradientPalette(uint32_t count) {
  ColorPalette palette;
  for (uint32_t i = 0; i < count; ++i)
    palette.entries.push_back(Argb(255, i * 255 / count, (i * 37) & 255, 255 - i * 255 / count));
  return palette;
}

std::unique_ptr<Bitmap> PatternedIndexed(int32_t width, int32_t height, const ColorPalette& palette,
                                         uint32_t seed) {
  std::unique_ptr<Bitmap> bitmap;
  if (Bitmap::Create(width, height, PixelFormat::Indexed8, bitmap) != Status::Ok) return nullptr;
  std::minstd_rand random(seed);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
      const uint32_t value = seed % 3 == 0   ? static_cast<uint32_t>(random())
                             : seed % 3 == 1 ? seed
                                             : x / 16 + static_cast<uint32_t>(y) * seed;
      row[x] = static_cast<uint8_t>(value % palette.Count());
    }
  }
  bitmap->SetPalette(palette);
  return bitmap;
}

std::vector<uint8_t> WriteWithLibtiff(const std::function<void(TIFF*)>& fill) {
  TempDir dir;
  const auto path = dir / "picture.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return {};
  fill(tif);
  TIFFClose(tif);
  return ReadFileBytes(path);
}

Status SavePicture(const std::filesystem::path& path, const char* mime, int32_t width, int32_t height,
                   uint32_t seed, PixelFormat format) {
  const ImageFormat* encoder = FindEncoder(mime);
  if (encoder == nullptr) return Status::InvalidParameter;
  const auto bitmap = MakeMapLikeBitmap(width, height, format, seed);
  return bitmap ? SaveImageToFile(*bitmap, path, *encoder, EarlierFile::Replace) : Status::OutOfMemory;
}

std::vector<uint8_t> Encode(EncodeFunction encode, const Bitmap& bitmap) {
  ScratchStream stream;
  if (encode(bitmap, stream) != Status::Ok) return {};
  return {stream.Data().begin(), stream.Data().end()};
}

Status DecodeWith(DecodeFunction decode, std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>& out,
                  const DecodeLimits& limits) {
  out.reset();
  const Status status = decode(bytes, limits, out, nullptr);
  if ((out != nullptr) != (status == Status::Ok)) {
    throw std::logic_error("decoder gave " + std::string(StatusText(status)) +
                           (out ? " with a bitmap" : " without a bitmap"));
  }
  return status;
}

std::unique_ptr<Bitmap> Decoded(DecodeFunction decode, std::span<const uint8_t> bytes) {
  std::unique_ptr<Bitmap> out;
  DecodeWith(decode, bytes, out);
  return out;
}

std::string PixelDifference(const Bitmap& expected, const Bitmap& actual) {
  if (expected.Format() != actual.Format()) {
    return "format " + std::to_string(static_cast<int>(actual.Format())) + " instead of " +
           std::to_string(static_cast<int>(expected.Format()));
  }
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height()) {
    return "size " + std::to_string(actual.Width()) + "x" + std::to_string(actual.Height()) + " instead of " +
           std::to_string(expected.Width()) + "x" + std::to_string(expected.Height());
  }
  for (int32_t y = 0; y < expected.Height(); ++y) {
    if (!std::equal(expected.Row(y), expected.Row(y) + expected.Stride(), actual.Row(y))) {
      return "row " + std::to_string(y);
    }
  }
  return "";
}

namespace {

// The largest and the summed difference of the channels at the shifts.
std::pair<int, double> ChannelDifferences(const Bitmap& a, const Bitmap& b,
                                          std::initializer_list<int> shifts) {
  std::vector<uint32_t> rowA(static_cast<size_t>(a.Width())), rowB(rowA.size());
  int worst = 0;
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    a.ReadArgb(0, y, a.Width(), rowA.data());
    b.ReadArgb(0, y, b.Width(), rowB.data());
    for (size_t x = 0; x < rowA.size(); ++x) {
      for (int shift : shifts) {
        const int d =
            std::abs(static_cast<int>((rowA[x] >> shift) & 255) - static_cast<int>((rowB[x] >> shift) & 255));
        worst = std::max(worst, d);
        sum += d;
      }
    }
  }
  return {worst, sum};
}

}  // namespace

int MaxChannelDifference(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  return ChannelDifferences(a, b, {0, 8, 16, 24}).first;
}

double MeanRgbDifference(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  return ChannelDifferences(a, b, {0, 8, 16}).second / (3.0 * a.Width() * a.Height());
}

double Psnr(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  std::vector<uint32_t> rowA(static_cast<size_t>(a.Width())), rowB(rowA.size());
  double squares = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    a.ReadArgb(0, y, a.Width(), rowA.data());
    b.ReadArgb(0, y, b.Width(), rowB.data());
    for (size_t x = 0; x < rowA.size(); ++x) {
      for (int shift : {0, 8, 16}) {
        const double d =
            static_cast<double>((rowA[x] >> shift) & 255) - static_cast<double>((rowB[x] >> shift) & 255);
        squares += d * d;
      }
    }
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  const double mean = squares / (3.0 * a.Width() * a.Height());
  return 10 * std::log10(255.0 * 255.0 / mean);
}

}  // namespace rzt2::test
