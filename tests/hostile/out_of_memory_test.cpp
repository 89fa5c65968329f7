// Memory that runs out inside a module's entry point comes back as
// OutOfMemory, whether an allocation returned null or threw: drawing (the
// halved copies of a downscale), decoding, writing a map file and a job.
#include <gtest/gtest.h>

#include "hostile/hostile_support.h"
#include "imaging/surface.h"
#include "jobs/job_runner.h"
#include "mapfile/map_writer.h"
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

}  // namespace
}  // namespace rzt2
