#include "raster/codecs/tiff_strip_waves.h"

#include <algorithm>
#include <vector>

#include "base/task_group.h"

namespace rzt2::tiff {
namespace {

// Runs of strips, each through a libtiff handle of the thread's own (a
// handle is not to be shared), a wave of runs at a time, the rows reported
// as each wave ends.
class StripWaves {
 public:
  static bool Suit(TIFF* tif, const DecodeLimits& limits, uint64_t pictureBytes) {
    if (limits.pool == nullptr || limits.pool->Threads() == 0 || TIFFIsTiled(tif) ||
        TIFFNumberOfStrips(tif) < 2) {
      return false;
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    const uint64_t strip = TIFFStripSize64(tif);
    const auto lanes = static_cast<uint64_t>(limits.pool->Threads()) + 1;
    return orientation == ORIENTATION_TOPLEFT && strip > 0 && strip <= static_cast<uint64_t>(kMaxTiffAlloc) &&
           CheckDecodeBytes(limits, pictureBytes + lanes * kRunBytes + lanes * strip) == Status::Ok;
  }

  StripWaves(std::span<const uint8_t> data, uint32_t page, uint16_t samples, ThreadPool& pool)
      : page_(page), samples_(samples), pool_(pool), lanes_(static_cast<size_t>(pool.Threads()) + 1) {
    for (Lane& lane : lanes_) lane.file.data = data;
  }

  Status Decode(TIFF* tif, Bitmap& bitmap, RowReport& report) {
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const auto height = static_cast<uint32_t>(bitmap.Height());
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    const uint64_t rowBytes = TIFFScanlineSize64(tif);
    // Runs of at least kRunBytes decoded, so that a run outweighs its task.
    const auto runStrips = static_cast<uint32_t>(
        std::max<uint64_t>(1, kRunBytes / std::max<uint64_t>(rowBytes * rowsPerStrip, 1)));
    for (Lane& lane : lanes_) {
      lane.tif = Open(lane.file, "rm", lane.diagnostics);
      if (!lane.tif || (page_ > 1 && !TIFFSetDirectory(lane.tif.get(), static_cast<tdir_t>(page_ - 1)))) {
        return Status::CorruptData;
      }
      lane.strip.resize(static_cast<size_t>(TIFFStripSize64(lane.tif.get())));
    }
    uint8_t* const pixels = bitmap.MutableRow(0);  // rows are written from several threads
    const size_t stride = bitmap.Stride();
    const size_t step = static_cast<size_t>(BytesPerPixel(bitmap.Format()));
    for (uint32_t first = 0; first < strips;) {
      TaskGroup wave(&pool_, "TIFF strips");
      uint32_t end = first;
      for (Lane& lane : lanes_) {
        if (end == strips) break;
        const uint32_t from = end;
        end = std::min(strips, end + runStrips);
        wave.Run([&, from, to = end] {
          return DecodeRun(lane, from, to, rowsPerStrip, height, pixels, stride, step);
        });
      }
      if (const Status status = wave.Wait(); status != Status::Ok) return status;
      first = end;
      report.Done(static_cast<int32_t>(std::min<uint64_t>(uint64_t{end} * rowsPerStrip, height)));
    }
    return Status::Ok;
  }

 private:
  static constexpr uint64_t kRunBytes = uint64_t{1} << 20;

  struct Lane {
    MemoryFile file;
    Diagnostics diagnostics;
    TiffPtr tif;
    std::vector<uint8_t> strip;
  };

  Status DecodeRun(Lane& lane, uint32_t from, uint32_t to, uint32_t rowsPerStrip, uint32_t height,
                   uint8_t* pixels, size_t stride, size_t step) const {
    const auto rowBytes = static_cast<size_t>(TIFFScanlineSize64(lane.tif.get()));
    for (uint32_t s = from; s < to; ++s) {
      const uint32_t top = s * rowsPerStrip;
      const uint32_t rows = std::min(rowsPerStrip, height - top);
      const tmsize_t got = TIFFReadEncodedStrip(lane.tif.get(), s, lane.strip.data(),
                                                static_cast<tmsize_t>(lane.strip.size()));
      if (got < 0 || static_cast<size_t>(got) < rowBytes * rows || lane.diagnostics.errors > 0) {
        return Status::CorruptData;
      }
      for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* in = lane.strip.data() + r * rowBytes;
        uint8_t* out = pixels + (size_t{top} + r) * stride;
        for (size_t x = 0; x < rowBytes / samples_; ++x) CopyRgb8(in + x * samples_, out + x * step, step);
      }
    }
    return Status::Ok;
  }

  uint32_t page_;
  uint16_t samples_;
  ThreadPool& pool_;
  std::vector<Lane> lanes_;  // never resized: each handle holds its file's address
};

}  // namespace

bool StripWavesSuit(TIFF* tif, const DecodeLimits& limits, uint64_t pictureBytes) {
  return StripWaves::Suit(tif, limits, pictureBytes);
}

Status DecodeStripWaves(std::span<const uint8_t> data, TIFF* tif, uint32_t page, uint16_t samples,
                        ThreadPool& pool, Bitmap& bitmap, RowReport& report) {
  return StripWaves(data, page, samples, pool).Decode(tif, bitmap, report);
}

}  // namespace rzt2::tiff
