// Where pixels live: the memory budget, sizes given on the command line,
// and blocks that do not fit the budget going to disk with the same bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/memory_budget.h"
#include "imaging/surface.h"
#include "io/pixel_block.h"
#include "raster/codecs/image_formats.h"
#include "raster/pyramid.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

TEST(MemorySizeTest, ParsesBytesAndBinaryUnits) {
  const std::pair<const char*, uint64_t> good[] = {
      {"0", 0},
      {"64k", 65536},
      {"800M", uint64_t{800} << 20},
      {"1.5G", uint64_t{3} << 29},
      {"2T", uint64_t{2} << 40},
      {"0.5K", 512},
  };
  for (const auto& [text, bytes] : good) {
    uint64_t parsed = 1;
    EXPECT_TRUE(ParseMemorySize(text, parsed)) << text;
    EXPECT_EQ(parsed, bytes) << text;
  }
  for (const char* bad : {"", "M", "-1G", "1.5", "1GB", "1 G", "1e9", "1P", "2000000T", " 5", "nan"}) {
    uint64_t parsed = 0;
    EXPECT_FALSE(ParseMemorySize(bad, parsed)) << bad;
  }
}

TEST(MemoryBudgetTest, TakesOnlyWhatFitsAndTheDefaultIsAQuarterOfMemoryAtMost) {
  MemoryBudget budget(100);
  EXPECT_TRUE(budget.TryTake(60));
  EXPECT_FALSE(budget.TryTake(41));
  EXPECT_TRUE(budget.TryTake(40));
  EXPECT_EQ(budget.InUse(), 100u);
  budget.Give(60);
  EXPECT_FALSE(budget.TryTake(UINT64_MAX));
  EXPECT_EQ(budget.InUse(), 40u);
  const auto memory =
      static_cast<uint64_t>(::sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  EXPECT_GT(DefaultMemoryBudget(), 0u);
  EXPECT_LE(DefaultMemoryBudget(), memory / 4);
}

// The same picture, with its halved copies, in memory and on disk: the
// same pixels drawn, and nothing of the disk's in the process's memory.
TEST(PixelBlockTest, PicturesOverTheBudgetLiveOnDiskWithTheSameBytes) {
  const std::unique_ptr<Bitmap> source = test::MakeMapLikeBitmap(700, 500, PixelFormat::Argb32);
  const uint64_t heldBefore = MemoryBudget::Process().InUse();
  const auto drawn = [&](uint64_t budget, uint64_t& memoryBytes) {
    const test::ScopedMemoryBudget scope(budget);
    std::unique_ptr<Bitmap> copy;
    EXPECT_EQ(source->Clone(copy), Status::Ok);
    ImageHandle picture(std::move(copy));
    ImageHandle target = ImageHandle::CreateBlank(90, 70, PixelFormat::Argb32);
    Surface(target).DrawImage(picture, Rect{0, 0, 90, 70});
    memoryBytes = picture.GetBitmap()->MemoryBytes();
    return target;
  };
  uint64_t inMemory = 0, onDisk = 1;
  ImageHandle expected = drawn(UINT64_MAX, inMemory);
  ImageHandle actual = drawn(0, onDisk);
  EXPECT_EQ(test::PixelDifference(*expected.GetBitmap(), *actual.GetBitmap()), "");
  EXPECT_GT(inMemory, uint64_t{700} * 500 * 4) << "the picture and its halved copies";
  EXPECT_EQ(onDisk, 0u);
  EXPECT_EQ(MemoryBudget::Process().InUse(), heldBefore) << "every block gave its bytes back";
}

// Spilled pixels go to $TMPDIR, else to /var/tmp: /tmp is often memory
// itself (tmpfs). A folder that takes no file is a cause of its own.
TEST(PixelBlockTest, TheTemporaryFolderIsTmpdirElseVarTmp) {
  const test::TempDir dir;
  const char* set = std::getenv("TMPDIR");
  const bool wasSet = set != nullptr;
  const std::string saved = wasSet ? set : "";
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TemporaryFolder(), "/var/tmp");
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(TemporaryFolder(), "/var/tmp");
  ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
  EXPECT_EQ(TemporaryFolder(), dir / "missing");
  {
    const test::ScopedMemoryBudget scope(0);
    PixelBlock block;
    EXPECT_EQ(PixelBlock::Allocate(kSmallPixelBlock, block), Status::TemporaryFolderUnusable);
  }
  if (!wasSet) {
    ::unsetenv("TMPDIR");
  } else {
    ::setenv("TMPDIR", saved.c_str(), 1);
  }
}

// Halved copies built behind the decoder, and those built ahead in bands on
// a pool, are those built on first use, level by level; a 24-bit picture's
// packed copies read as those of the same picture in 32 bits, in a quarter
// less memory; a decode that fails leaves nothing reading its picture. A
// pool without workers builds nothing behind the decoder; when its workers
// are all busy until the decode ends, the decoder's thread builds them.
// An RGB TIFF whose rows run from the bottom up, in strips of 16 rows: no
// row is whole before the last strip is read.
std::vector<uint8_t> BottomUpTiff(int32_t width, int32_t height) {
  const auto picture = test::MakeMapLikeBitmap(width, height, PixelFormat::Rgb24);
  return test::WriteWithLibtiff([&](TIFF* tif) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    for (int32_t y = 0; y < height; ++y) {
      TIFFWriteScanline(tif, picture->MutableRow(height - 1 - y), static_cast<uint32_t>(y), 0);
    }
  });
}

TEST(PyramidBuilderTest, CopiesBuiltWhileDecodingOrAheadEqualThoseBuiltOnFirstUse) {
  ThreadPool pool(2);
  const auto encoded = [](EncodeFunction encode, PixelFormat format) {
    return std::pair(test::Encode(encode, *test::MakeMapLikeBitmap(301, 203, format)), format);
  };
  const std::pair<std::vector<uint8_t>, PixelFormat> cases[] = {encoded(EncodeJpeg, PixelFormat::Rgb24),
                                                                encoded(EncodePng, PixelFormat::Rgb24),
                                                                encoded(EncodePng, PixelFormat::Argb32),
                                                                encoded(EncodeTiff, PixelFormat::Argb32),
                                                                {BottomUpTiff(301, 203), PixelFormat::Rgb24}};
  for (const auto& [bytes, format] : cases) {
    PyramidBuilder builder(pool);
    std::unique_ptr<Bitmap> overlapped, after;
    ASSERT_EQ(DecodeImage(bytes, {}, overlapped, &builder), Status::Ok);
    builder.Finish(*overlapped);
    ASSERT_EQ(DecodeImage(bytes, {}, after), Status::Ok);
    // Rows of a bottom-up file are whole only at its end: nothing is built behind them.
    const bool bottomUp = &bytes == &cases[std::size(cases) - 1].first;
    EXPECT_EQ(overlapped->MemoryBytes() > after->MemoryBytes(), !bottomUp) << "built before any draw";
    ThreadPool alone(0), busy(1);
    std::atomic<bool> decoded{false};
    TaskGroup holdsTheWorker(&busy, "test");
    holdsTheWorker.RunLong([&] {
      decoded.wait(false);
      return Status::Ok;
    });
    for (ThreadPool* idle : {&alone, &busy}) {
      PyramidBuilder unbuilt(*idle);
      std::unique_ptr<Bitmap> plain;
      ASSERT_EQ(DecodeImage(bytes, {}, plain, &unbuilt), Status::Ok);
      unbuilt.Finish(*plain);
      EXPECT_EQ(plain->MemoryBytes(), idle->Threads() == 0 ? after->MemoryBytes() : overlapped->MemoryBytes())
          << idle->Threads() << " workers";
    }
    decoded = true;
    decoded.notify_one();
    std::unique_ptr<Bitmap> ahead;
    ASSERT_EQ(DecodeImage(bytes, {}, ahead), Status::Ok);
    ASSERT_EQ(ahead->Reductions().BuildAhead(10, &pool), Status::Ok);
    std::unique_ptr<Bitmap> wide;  // the picture in 32 bits
    ASSERT_EQ(Bitmap::Create(after->Width(), after->Height(), PixelFormat::Argb32, wide), Status::Ok);
    for (int32_t y = 0; y < after->Height(); ++y) {
      after->ReadArgb(0, y, after->Width(), reinterpret_cast<uint32_t*>(wide->MutableRow(y)));
    }
    for (int k = 1; k <= 10; ++k) {
      const PremulImage *a = nullptr, *b = nullptr, *c = nullptr;
      ASSERT_EQ(overlapped->Reductions().Level(k, a), Status::Ok);
      ASSERT_EQ(after->Reductions().Level(k, b), Status::Ok);
      ASSERT_EQ(ahead->Reductions().Level(k, c), Status::Ok);
      ASSERT_EQ(std::pair(a->width, a->height), std::pair(b->width, b->height));
      EXPECT_EQ(std::memcmp(a->block.Data(), b->block.Data(), a->block.Size()), 0) << "level " << k;
      EXPECT_EQ(std::memcmp(c->block.Data(), b->block.Data(), c->block.Size()), 0)
          << "level " << k << ", ahead";
      const PremulImage* w = nullptr;
      ASSERT_EQ(wide->Reductions().Level(k, w), Status::Ok);
      EXPECT_EQ(b->block.Size() * 4, w->block.Size() * (format == PixelFormat::Rgb24 ? 3 : 4))
          << "level " << k;
      std::vector<uint32_t> got(static_cast<size_t>(b->width)), want(got.size());
      for (int32_t y = 0; y < b->height; ++y) {
        b->ReadArgb(0, y, b->width, got.data());
        w->ReadArgb(0, y, w->width, want.data());
        ASSERT_EQ(got, want) << "level " << k << ", row " << y;
      }
    }
    PyramidBuilder abandoned(pool);
    std::unique_ptr<Bitmap> none;
    EXPECT_NE(DecodeImage(std::span(bytes).first(bytes.size() / 2), {}, none, &abandoned), Status::Ok);
  }
}

}  // namespace
}  // namespace rzt2
