// The palette quality benchmark's measuring tool (see run-palette-quality).
//   palette_quality compare SOURCE PICTURE...   PSNR and mean error of each
//       picture against the source composed on white, over the source's
//       area (an exported map is larger: whole frames); exact when equal
//   palette_quality districts OUT.png W H N     a political-map-like
//       picture: N flat colours in districts, with dark borders
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/image_handle.h"
#include "raster/codecs/image_formats.h"
#include "raster/pyramid.h"

namespace {

using rzt2::Bitmap;
using rzt2::ImageHandle;

uint32_t OnWhite(uint32_t argb) {
  const uint32_t a = rzt2::AlphaOf(argb);
  const uint32_t p = rzt2::Premultiply(argb);
  const uint32_t rest = 255 - a;
  return (rzt2::RedOf(p) + rest) << 16 | (rzt2::GreenOf(p) + rest) << 8 | (rzt2::BlueOf(p) + rest);
}

int Compare(int count, char** paths) {
  const ImageHandle source = ImageHandle::FromFile(paths[0]);
  if (source.IsNull()) {
    std::fprintf(stderr, "cannot read %s\n", paths[0]);
    return 1;
  }
  const Bitmap& s = *source.GetBitmap();
  for (int i = 1; i < count; ++i) {
    const ImageHandle other = ImageHandle::FromFile(paths[i]);
    const Bitmap* o = other.GetBitmap();
    if (o == nullptr || o->Width() < s.Width() || o->Height() < s.Height()) {
      std::printf("%-14s unreadable or too small\n", paths[i]);
      continue;
    }
    double squared = 0, absolute = 0;
    std::vector<uint32_t> a(static_cast<size_t>(s.Width())), b(a.size());
    for (int32_t y = 0; y < s.Height(); ++y) {
      s.ReadArgb(0, y, s.Width(), a.data());
      o->ReadArgb(0, y, s.Width(), b.data());
      for (size_t x = 0; x < a.size(); ++x) {
        const uint32_t p = OnWhite(a[x]), q = OnWhite(b[x]);
        for (int shift = 0; shift < 24; shift += 8) {
          const int d = static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF);
          squared += d * d;
          absolute += std::abs(d);
        }
      }
    }
    const double samples = 3.0 * s.Width() * s.Height();
    const double mse = squared / samples;
    if (mse == 0) {
      std::printf("%8s     mean error %5.2f\n", "exact", 0.0);
    } else {
      std::printf("%8.2f dB  mean error %5.2f\n", 10 * std::log10(255.0 * 255.0 / mse), absolute / samples);
    }
  }
  return 0;
}

int Districts(const char* path, int32_t width, int32_t height, int n) {
  std::mt19937 random(7);
  struct Seat {
    int32_t x, y;
    uint32_t color;
  };
  std::vector<Seat> seats;
  for (int i = 0; i < 4 * n; ++i) {
    seats.push_back({static_cast<int32_t>(random() % static_cast<uint32_t>(width)),
                     static_cast<int32_t>(random() % static_cast<uint32_t>(height)), 0});
  }
  std::vector<uint32_t> colors;
  for (int i = 0; i < n; ++i) colors.push_back(0xFF000000 | (0x808080 + (random() & 0x7F7F7F)));
  for (size_t i = 0; i < seats.size(); ++i) seats[i].color = colors[i % colors.size()];
  std::unique_ptr<Bitmap> picture;
  if (Bitmap::Create(width, height, rzt2::PixelFormat::Argb32, picture) != rzt2::Status::Ok) return 1;
  std::vector<size_t> nearest(static_cast<size_t>(width));
  std::vector<size_t> above(static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      int64_t best = INT64_MAX;
      for (size_t i = 0; i < seats.size(); ++i) {
        const int64_t dx = seats[i].x - x, dy = seats[i].y - y;
        if (dx * dx + dy * dy < best) {
          best = dx * dx + dy * dy;
          nearest[static_cast<size_t>(x)] = i;
        }
      }
    }
    for (int32_t x = 0; x < width; ++x) {
      const size_t i = nearest[static_cast<size_t>(x)];
      const bool border = (x > 0 && nearest[static_cast<size_t>(x) - 1] != i) ||
                          (y > 0 && above[static_cast<size_t>(x)] != i);
      const uint32_t argb = border ? 0xFF404040 : seats[i].color;
      std::memcpy(picture->MutableRow(y) + 4 * static_cast<size_t>(x), &argb, 4);
    }
    above = nearest;
  }
  return rzt2::SaveImageToFile(*picture, path, *rzt2::FindFrameFormat("png"), rzt2::EarlierFile::Replace) ==
                 rzt2::Status::Ok
             ? 0
             : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "compare") == 0) return Compare(argc - 2, argv + 2);
  if (argc == 6 && std::strcmp(argv[1], "districts") == 0) {
    return Districts(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  std::fprintf(stderr,
               "usage: palette_quality compare SOURCE PICTURE... | districts OUT.png WIDTH HEIGHT COLOURS\n");
  return 2;
}
