// Memory that runs out inside a module's entry point comes back as
// OutOfMemory, whether an allocation returned null or threw: drawing (the
// halved copies of a downscale), decoding, writing a map file and a job;
// and so does memory that runs out inside a task on the pool's threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <set>
#include <thread>

#include "base/thread_pool.h"
#include "hostile/hostile_support.h"
#include "imaging/adaptive_palette.h"
#include "imaging/surface.h"
#include "jobs/job_runner.h"
#include "mapfile/map_writer.h"
#include "raster/codecs/image_formats.h"
#include "raster/pyramid.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

constexpr size_t kRefusedOver = 600 << 10;  // over the frame buffer, under a picture

TEST(OutOfMemoryTest, EveryEntryPointReportsIt) {
  test::TempDir dir;
  test::CurrentFolder inside(dir.Path());
  ImageHandle picture(test::MakeMapLikeBitmap(1024, 1024, PixelFormat::Rgb24));
  ImageHandle target = ImageHandle::CreateBlank(64, 64, PixelFormat::Argb32);
  Surface surface(target);
  ASSERT_EQ(test::SavePicture("big.png", "image/png", 1024, 1024), Status::Ok);
  const std::vector<uint8_t> png = test::ReadFileBytes("big.png");
  auto writer = MapWriter::Create(EncoderParams{}, nullptr, nullptr);
  SourceLoader loader;
  test::RecordingHost host;

  JobRequest request;
  request.names = {"big.png"};
  {
    const test::AllocationLimit limit(kRefusedOver);
    EXPECT_EQ(surface.DrawImage(picture, Rect{0, 0, 64, 64}), Status::OutOfMemory) << "halving throws";
    EXPECT_EQ(ImageHandle::FromMemory(png).LastStatus(), Status::OutOfMemory);
    EXPECT_EQ(writer->WriteMapFile(picture, "big.rzt2"), Status::OutOfMemory);
    RunJob(request, loader, host);
  }
  EXPECT_EQ(host.errors, std::vector<std::string>{"Error loading file big.png! (out of memory)"});
  EXPECT_EQ(test::Listing(dir.Path()), "big.png");
  EXPECT_EQ(surface.DrawImage(picture, Rect{0, 0, 64, 64}), Status::Ok) << "nothing was left half-built";
}

// What one run of a scenario ended with: a status, or for a batch the
// causes its host was told of.
using Scenario = std::function<std::string(int threads)>;

std::string Said(Status status) { return status == Status::Ok ? "ok" : StatusText(status); }

// Allocations a pool task makes are refused one at a time (the first ten
// and then some fifty spread over all of them), each in a child of its own
// with a time limit: the work fails with "out of memory" or succeeds (the
// halved copies behind a decoder are made again on first use), and never
// ends the process or hangs. allocation_sweep.py refuses every allocation
// of whole conversions.
TEST(OutOfMemoryTest, AllocationsRefusedInsidePoolTasksFailTheirFileAlone) {
  test::TempDir dir;
  test::CurrentFolder inside(dir.Path());
  const auto picture = test::MakeMapLikeBitmap(300, 200, PixelFormat::Argb32);
  ASSERT_EQ(test::SavePicture("a.png", "image/png", 150, 100), Status::Ok);
  ASSERT_EQ(test::SavePicture("b.png", "image/png", 100, 150, 2), Status::Ok);
  std::filesystem::create_directory("out");
  const std::vector<uint8_t> tiff =
      test::Encode(EncodeTiff, *test::MakeMapLikeBitmap(400, 300, PixelFormat::Rgb24));
  EncoderParams adaptive;
  adaptive.PaletteMode = kPaletteAdaptive;
  adaptive.FrameSizeX = adaptive.FrameSizeY = 64;
  EncoderParams builtIn = adaptive;
  builtIn.PaletteMode = kPaletteBuiltIn;
  const std::pair<const char*, Scenario> scenarios[] = {
      {"fitting a palette",
       [&](int threads) {
         ThreadPool pool(threads);
         ColorPalette palette;
         return Said(FitPalette(*picture, &pool, palette));
       }},
      {"frames with a fitted palette",
       [&](int threads) {
         ThreadPool pool(threads);
         ImageHandle image(test::MakeMapLikeBitmap(200, 150, PixelFormat::Argb32));
         return Said(MapWriter::Create(adaptive, nullptr, nullptr, {}, &pool)->WriteMapFile(image, "f.rzt2"));
       }},
      {"halved copies and frames",
       [&](int threads) {
         ThreadPool pool(threads);
         ImageHandle image(test::MakeMapLikeBitmap(400, 300, PixelFormat::Argb32));
         return Said(MapWriter::Create(builtIn, nullptr, nullptr, {}, &pool)->WriteMapFile(image, "h.rzt2"));
       }},
      {"TIFF strips and halved copies behind them",
       [&](int threads) {
         ThreadPool pool(threads);
         PyramidBuilder builder(pool);
         std::unique_ptr<Bitmap> decoded;
         const Status status = DecodeImage(tiff, DecodeLimits{.pool = &pool}, decoded, &builder);
         if (status == Status::Ok) builder.Finish(*decoded);
         return Said(status);
       }},
      {"a batch",
       [&](int threads) {
         JobRequest request;
         request.names = {"a.png", "b.png"};
         request.params = adaptive;
         request.placement = OutputPlacement{false, "out/"};
         test::RecordingHost host;
         const JobResult result = RunJobInParallel(request, host, threads + 1);
         std::string said = std::to_string(result.files - result.failed) + " made";
         for (const std::string& error : host.errors) said += "; " + error;
         return said;
       }},
  };
  constexpr size_t kFirst = 10, kSpread = 50;
  for (const auto& [name, named] : scenarios) {
    const Scenario& scenario = named;  // a lambda cannot capture a structured binding in clang 14
    for (const int threads : {1, 2, 8}) {
      const std::string counted = test::RunInChild(
          [&, threads] {
            test::RefuseOffThread count(SIZE_MAX);
            const std::string result = scenario(threads);
            return std::to_string(count.Counted()) + " " + result;
          },
          60);
      const size_t allocations = std::strtoul(counted.c_str(), nullptr, 10);
      EXPECT_TRUE(counted.ends_with(" ok") || counted.ends_with(" 2 made")) << name << ": " << counted;
      std::set<size_t> refused;
      for (size_t n = 1; n <= std::min(kFirst, allocations); ++n) refused.insert(n);
      for (size_t i = 1; i <= kSpread && allocations > kFirst; ++i) refused.insert(allocations * i / kSpread);
      for (const size_t n : refused) {
        const std::string said = test::RunInChild(
            [&, threads] {
              test::RefuseOffThread refuse(n);
              const std::string result = scenario(threads);
              return (refuse.Refused() ? "" : "not refused: ") + result;
            },
            60);
        const bool fine = said == "ok" || said == "out of memory" || said == "2 made" ||
                          said.starts_with("not refused: ") ||
                          said == "1 made; Error loading file a.png! (out of memory)" ||
                          said == "1 made; Error loading file b.png! (out of memory)" ||
                          said == "1 made; Error while creating/saving file out/a.rzt2! (out of memory)" ||
                          said == "1 made; Error while creating/saving file out/b.rzt2! (out of memory)";
        EXPECT_TRUE(fine) << name << ", " << threads << " threads, allocation " << n << " of " << allocations
                          << " refused: " << said;
      }
    }
  }
}

// A pool whose later thread cannot be started (its allocation refused, one
// position at a time) throws, having stopped the threads it did start:
// never a constructor that waits on them forever.
TEST(OutOfMemoryTest, APoolThatCannotStartAThreadStopsThoseItStarted) {
  for (size_t nth = 1; nth <= 8; ++nth) {
    const std::string said = test::RunInChild(
        [nth] {
          std::string outcome;
          const test::RefuseOffThread refuse(nth);
          std::thread([&outcome] {
            try {
              ThreadPool pool(4);
              outcome = "started";
            } catch (const std::bad_alloc&) {
              outcome = "refused";
            }
          }).join();
          return outcome;
        },
        10);
    EXPECT_TRUE(said == "started" || said == "refused") << "allocation " << nth << ": " << said;
  }
}

}  // namespace
}  // namespace rzt2
