// The rendering decoder against a helper that misbehaves (hangs, before or
// after its reply, crashes, answers nonsense, claims a huge picture): always
// a failure status, never a hang or a large allocation here. Damaged metafiles are the fuzz
// corpus's concern.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "base/memory_budget.h"
#include "hostile/hostile_support.h"
#include "raster/codecs/render_codec.h"
#include "raster/codecs/render_wire.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kSmallAllocation = size_t{1} << 20;
const std::filesystem::path kData = std::filesystem::path(RZT2_TEST_DATA) / "metafiles";

Bytes Reply(Status status, uint32_t width, uint32_t height) {
  const auto reply = EncodeRenderReply({status, width, height, 1});
  return Bytes(reply.begin(), reply.end());
}

TEST(MetafileHelperTest, AMisbehavingHelperGivesAStatus) {
  test::TempDir dir;
  const auto script = [&dir](const std::string& name, const std::string& body) {
    std::filesystem::path path = dir / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0700);
    return path;
  };
  const auto replyFile = [&dir](const std::string& name, Bytes bytes, size_t pixelBytes) {
    bytes.resize(bytes.size() + pixelBytes, 0x7F);
    test::WriteFileBytes(dir / name, bytes);
    return "cat '" + (dir / name).string() + "'";
  };
  const struct {
    const char* name;
    std::string body;
    Status expected;
  } cases[] = {
      {"hangs", "exec sleep 30", Status::DrawWallTimeout},
      {"closes its output and hangs", "exec >&-; exec sleep 30", Status::DrawWallTimeout},
      // Waiting is not drawing: a loaded machine alone fails no file.
      {"waits longer than its CPU time", "sleep 1; " + replyFile("slow", Reply(Status::Ok, 10, 10), 400),
       Status::Ok},
      {"crashes", "kill -SEGV $$", Status::DrawingCrashed},
      {"aborts", "kill -ABRT $$", Status::DrawingCrashed},
      {"runs out of CPU time", "kill -XCPU $$", Status::DrawTimeout},
      {"answers nonsense", "echo not a reply", Status::CorruptData},
      {"claims four gigapixels", replyFile("huge", Reply(Status::Ok, 65536, 65536), 64), Status::TooLarge},
      {"sends half a picture", replyFile("half", Reply(Status::Ok, 100, 100), 20000), Status::CorruptData},
      {"reports a failure", replyFile("fails", Reply(Status::CorruptData, 0, 0), 0), Status::CorruptData},
      {"sends a picture", replyFile("good", Reply(Status::Ok, 100, 100), 40000), Status::Ok},
      {"hangs after its picture", replyFile("good", Reply(Status::Ok, 100, 100), 40000) + "; exec sleep 30",
       Status::DrawWallTimeout},
  };
  const Bytes wmf = test::ReadFileBytes(kData / "map.wmf");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RenderDecoding how{script("helper", c.body), std::chrono::milliseconds(500),
                             std::chrono::seconds(2)};
    Status status = Status::GenericError;
    std::unique_ptr<Bitmap> out;
    const size_t largest =
        test::LargestAllocationDuring([&] { status = DecodeRenderedWith(wmf, DecodeLimits{}, how, out); });
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(out != nullptr, c.expected == Status::Ok);
    if (c.expected != Status::Ok) {
      EXPECT_LT(largest, kSmallAllocation);
    }
  }
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(DecodeRenderedWith(wmf, DecodeLimits{}, {dir / "missing", std::chrono::seconds(1)}, out),
            Status::NotImplemented);
}

// Found by fuzzing: libwmf plays this WMF in an endless loop.
TEST(MetafileHelperTest, AMetafileOnWhichLibwmfLoopsRunsOutOfTime) {
  const RenderDecoding how{DefaultRenderDecoding().helper, std::chrono::seconds(2)};
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(DecodeRenderedWith(test::ReadFileBytes(kData / "libwmf-loops.wmf"), DecodeLimits{}, how, out),
            Status::DrawTimeout);
}

// A metafile whose declared size needs more than the memory budget is
// refused from its header: a 102-byte WMF declaring 32767 x 32767 pixels
// (16 GiB to draw) at once, a small one under a tiny budget.
TEST(MetafileHelperTest, AMetafileOverTheMemoryBudgetIsRefusedFromItsHeader) {
  MemoryBudget& budget = MemoryBudget::Process();
  const uint64_t saved = budget.Limit();
  const RenderDecoding how{DefaultRenderDecoding().helper, std::chrono::seconds(2)};
  for (const auto& [name, limit] :
       {std::pair{"huge-frame.wmf", uint64_t{8} << 30}, {"map.wmf", uint64_t{1} << 16}}) {
    SCOPED_TRACE(name);
    budget.SetLimit(limit);
    std::unique_ptr<Bitmap> out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DecodeRenderedWith(test::ReadFileBytes(kData / name), DecodeLimits{}, how, out),
              Status::OverMemoryAllowance);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
  budget.SetLimit(saved);
}

}  // namespace
}  // namespace rzt2
