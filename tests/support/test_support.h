// Helpers shared by the test programs: a private temporary folder per
// test, generated pictures, and pixel comparisons.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "raster/bitmap.h"
#include "raster/image_handle.h"

namespace rzt2::test {

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

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A map-like picture: smooth colour gradients crossed by thin dark lines,
// reproducible from the seed.
std::unique_ptr<Bitmap> MakeMapLikeBitmap(int32_t width, int32_t height, PixelFormat format,
                                          uint32_t seed = 1);
// An Indexed8 bitmap with a 256-entry palette and varied indexes.
std::unique_ptr<Bitmap> MakeIndexedBitmap(int32_t width, int32_t height, uint32_t seed = 1);

// The largest difference of any channel (alpha included) between two
// pictures of the same size, read as ARGB; -1 when the sizes differ.
int MaxChannelDifference(const Bitmap& a, const Bitmap& b);

}  // namespace rzt2::test
