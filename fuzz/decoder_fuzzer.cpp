// One decoder (RZT2_FUZZ_DECODE, e.g. DecodePng) on arbitrary bytes. A
// decoded picture must keep to the limit and its stated size, read back in
// full, and survive a lossless PNG round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "raster/bitmap.h"
#include "raster/codecs/image_formats.h"

namespace {

using rzt2::Bitmap;
using rzt2::Status;

// Small enough for thousands of runs a second; the checks against it are the
// same code as against the default limit.
constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 22;
constexpr uint64_t kRoundTripMaxPixels = uint64_t{1} << 16;

void Require(bool condition) {
  if (!condition) std::abort();
}

std::vector<uint32_t> ArgbPixels(const Bitmap& bitmap) {
  std::vector<uint32_t> pixels(static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height()));
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadArgb(0, y, bitmap.Width(),
                    pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(bitmap.Width()));
  }
  return pixels;
}

void CheckRoundTrip(const Bitmap& bitmap, const std::vector<uint32_t>& pixels) {
  if (bitmap.Format() == rzt2::PixelFormat::Indexed8 &&
      (bitmap.Palette().Count() == 0 || bitmap.Palette().Count() > 256)) {
    return;  // PNG cannot hold it; the encoder refuses
  }
  rzt2::ScratchStream stream;
  Require(rzt2::EncodePng(bitmap, stream) == Status::Ok);
  std::unique_ptr<Bitmap> again;
  Require(rzt2::DecodePng(stream.Data(), {}, again) == Status::Ok);
  Require(again->Width() == bitmap.Width() && again->Height() == bitmap.Height());
  Require(ArgbPixels(*again) == pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Bitmap> bitmap;
  const Status status =
      rzt2::RZT2_FUZZ_DECODE(std::span(data, size), rzt2::DecodeLimits{kFuzzMaxPixels}, bitmap);
  if (status != Status::Ok) {
    Require(bitmap == nullptr);
    return 0;
  }
  Require(bitmap != nullptr && bitmap->Width() > 0 && bitmap->Height() > 0);
  const uint64_t pixels = static_cast<uint64_t>(bitmap->Width()) * static_cast<uint64_t>(bitmap->Height());
  Require(pixels <= kFuzzMaxPixels);
  const std::vector<uint32_t> argb = ArgbPixels(*bitmap);
  if (pixels <= kRoundTripMaxPixels) CheckRoundTrip(*bitmap, argb);
  return 0;
}
