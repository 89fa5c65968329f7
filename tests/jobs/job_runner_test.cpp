// Batch jobs through a recording host: messages, labels, bars, outputs.
#include "jobs/job_runner.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "mapfile/map_test_helpers.h"
#include "support/recording_host.h"
#include "support/test_support.h"

// Requests name only the fields each test changes.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace rzt2 {
namespace {

using test::TempDir;

using test::RecordingHost;

// Jobs work on names relative to the current folder, as the desktop
// program's list does.
class JobTest : public ::testing::Test {
 protected:
  void Picture(const std::string& name, int32_t w, int32_t h, const char* mime = "image/png") {
    ASSERT_EQ(test::SavePicture(name, mime, w, h), Status::Ok);
  }
  JobResult Run(const JobRequest& request) { return RunJob(request, loader, host); }

  TempDir dir;
  test::CurrentFolder inside{dir.Path()};
  SourceLoader loader;
  RecordingHost host;
};

TEST(JobTextsTest, OutputNamesReplaceTheTextFromTheLastDot) {
  for (const auto& [name, output] : {std::pair{"chart.jpg", "chart.rzt2"},
                                     {"area.north.png", "area.north.rzt2"},
                                     {"scan", "scan.rzt2"},
                                     {"old.RZT2", "old.rzt2"},
                                     {"maps.v2/scan", "maps.v2/scan.rzt2"}}) {
    EXPECT_EQ(ReplaceExtension(name, ".rzt2"), output);
  }
  EXPECT_EQ(OutputPath("in/chart.rzt2", OutputPlacement{false, "/srv/maps/"}), "/srv/maps/chart.rzt2");
  EXPECT_EQ(ResolvePath("/maps/", "/srv/a.rzt2"), "/srv/a.rzt2");
  EXPECT_TRUE(HasMapFileExtension("a.RzT2"));
  EXPECT_FALSE(HasMapFileExtension("a.rzt2.bak"));
  EXPECT_FALSE(HasMapFileExtension("rzt2"));
}

// Stopped while a.png loads or after its first frame: its earlier map and
// backup stay as they were, nothing is reported or counted, no temporary
// file is left, and b.png never starts.
TEST_F(JobTest, AStopAbandonsTheFileBeingWrittenAndStartsNoOther) {
  Picture("a.png", 480, 160);
  Picture("b.png", 16, 16);
  test::WriteFileBytes("a.rzt2", {1, 2, 3});
  test::WriteFileBytes("a.rzt2.bak", {4, 5});
  const std::pair<JobKind, const char*> stops[] = {{JobKind::Convert, "label a.png: Loading..."},
                                                   {JobKind::Convert, "current 33"},
                                                   {JobKind::Export, "label a.png: Loading..."}};
  for (const auto& [kind, at] : stops) {
    host = RecordingHost();
    std::stop_source stop;
    host.onEvent = [&, at = std::string(at)](const std::string& event) {
      if (event == at) stop.request_stop();
    };
    const JobResult result =
        Run({.kind = kind, .names = {"a.png", "b.png"}, .exportFormat = 3, .stop = stop.get_token()});
    EXPECT_EQ(std::pair(result.files, result.failed), std::pair(0, 0)) << at;
    EXPECT_TRUE(host.errors.empty()) << at;
    EXPECT_FALSE(host.Saw("label b.png: Loading...")) << at;
    // Stopped while loading, it ends before the writer starts.
    EXPECT_EQ(host.Saw("label a.png: Creating preview..."), at == std::string("current 33"));
    EXPECT_EQ(test::ReadFileBytes("a.rzt2"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(test::ReadFileBytes("a.rzt2.bak"), (std::vector<uint8_t>{4, 5}));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(".")) ++entries;
    EXPECT_EQ(entries, 4) << at;  // no output, no temporary file
  }
  // Stopped before it begins, the parallel runner starts no file either.
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_EQ(RunJobInParallel({.names = {"b.png"}, .stop = stopped.get_token()}, host, 2).files, 0);
  EXPECT_FALSE(std::filesystem::exists("b.rzt2"));
}

// Threads are shared: pictures larger than the share of memory are
// converted one at a time (with every thread on their frames), never loaded
// side by side.
TEST_F(JobTest, PicturesOverTheShareRunOneAtATime) {
  const std::vector<std::string> names = {"a.png", "b.png", "c.png", "d.png"};
  for (const std::string& name : names) Picture(name, 400, 300);
  RecordingHost shared;
  ASSERT_EQ(RunJobInParallel({.names = names}, shared, 4, 1000).failed, 0);
  int totals = 0, loads = 0;
  for (const std::string& event : shared.events) {
    totals += event.starts_with("total ");
    if (event.ends_with(": Loading...")) {
      EXPECT_EQ(loads++, totals) << event;
    }
  }
  EXPECT_EQ(loads, 4);
}

// The desktop program lists another folder than the current one: names,
// and a relative destination folder, are taken in it, and shown bare.
TEST_F(JobTest, BothRunnersTakeNamesAndRelativeOutputsInTheSourceFolder) {
  std::filesystem::create_directories("src/out");
  ASSERT_EQ(test::SavePicture("src/a.png", "image/png", 64, 64), Status::Ok);
  test::WriteFileBytes("src/bad.png", {1});
  Picture("here.png", 16, 16);  // in the current folder only
  const JobRequest request{.names = {"a.png", "bad.png", "here.png"},
                           .sourceFolder = (dir.Path() / "src").string(),
                           .placement = {false, "out/"}};
  for (const bool parallel : {false, true}) {
    host = RecordingHost();
    std::filesystem::remove("src/out/a.rzt2");
    const JobResult result = parallel ? RunJobInParallel(request, host, 2) : Run(request);
    EXPECT_EQ(std::tuple(host.fileCount, result.files, result.failed), std::tuple(2, 2, 1));
    EXPECT_EQ(host.errors, std::vector<std::string>{"Error loading file bad.png! (unknown image format)"});
    EXPECT_TRUE(std::filesystem::exists("src/out/a.rzt2")) << parallel;
  }
  EXPECT_EQ(CountJobFiles(request.sourceFolder, {"..", "a.png", "here.png", "out"}), 1);

  // An export never replaces its source, in the source folder too, and
  // never moves the current bar.
  ASSERT_EQ(test::SavePicture("src/out/photo.jpeg", "image/jpeg", 16, 16), Status::Ok);
  const std::vector<uint8_t> photo = test::ReadFileBytes("src/out/photo.jpeg");
  host = RecordingHost();
  Run({.kind = JobKind::Export,
       .names = {"out/photo.jpeg", "a.png"},
       .sourceFolder = request.sourceFolder,
       .placement = request.placement,
       .exportFormat = 1});
  EXPECT_EQ(host.errors,
            std::vector<std::string>{
                "Error while creating/saving file out/photo.jpeg! (the output would replace its source)"});
  EXPECT_EQ(test::ReadFileBytes("src/out/photo.jpeg"), photo);
  EXPECT_TRUE(std::filesystem::exists("src/out/a.jpeg"));
  EXPECT_TRUE(host.Saw("label a.png: Saving..."));
  for (const auto& event : host.events) EXPECT_TRUE(!event.starts_with("current") || event == "current 0");
}

// The first of inputs with one output (the same folder and name, however
// written, through a link too) writes it; the others fail naming the first.
TEST_F(JobTest, ASecondInputWithTheOutputOfAnEarlierOneFailsInBothRunners) {
  Picture("x.png", 40, 30);
  Picture("x.bmp", 20, 10, "image/bmp");
  Picture("x.jpg", 20, 10, "image/jpeg");
  std::filesystem::create_directory_symlink(".", "link");  // the same folder through a link
  for (const bool parallel : {false, true}) {
    host = RecordingHost();
    std::filesystem::remove("x.rzt2");
    const JobRequest request{.names = {"x.png", "./x.bmp", "link/x.jpg"}};
    const JobResult result = parallel ? RunJobInParallel(request, host, 2) : Run(request);
    EXPECT_EQ(std::pair(result.files, result.failed), std::pair(3, 2));
    EXPECT_EQ(host.errors,
              (std::vector<std::string>{
                  "Error while creating/saving file ./x.rzt2! (also the output of x.png, earlier "
                  "in this job)",
                  "Error while creating/saving file link/x.rzt2! (also the output of x.png, "
                  "earlier in this job)"}));
    EXPECT_EQ(test::OpenMap("x.rzt2")->Header().imageWidth, 40u) << parallel;
    EXPECT_FALSE(std::filesystem::exists("x.rzt2.bak"));
  }
}

// Names after the fixed ones come from a source pulled as the batch goes,
// never drained first: one that would give names for ever is asked only
// until the stop. Its names that are no file fail in their turn, and an
// output claimed by an earlier file fails naming it.
TEST_F(JobTest, ASourceOfNamesIsPulledOnlyAsTheBatchTakesItsFiles) {
  Picture("x.png", 40, 30);
  Picture("x.bmp", 20, 10, "image/bmp");
  struct Endless final : NameSource {
    std::stop_source stop;
    int pulls = 0;
    std::optional<std::string> Next() override {
      if (++pulls == 3) stop.request_stop();
      if (pulls > 1000) return std::nullopt;  // a runner that drains it still ends
      return pulls == 1 ? "gone.png" : "./x.bmp";
    }
  };
  for (const bool parallel : {false, true}) {
    host = RecordingHost();
    std::filesystem::remove("x.rzt2");
    Endless source;
    const JobRequest request{.names = {"x.png"}, .moreNames = &source, .stop = source.stop.get_token()};
    const JobResult result = parallel ? RunJobInParallel(request, host, 2) : Run(request);
    EXPECT_EQ(source.pulls, 3) << parallel;
    EXPECT_EQ(host.fileCount, 1);
    EXPECT_LE(result.files, 3);
    EXPECT_EQ(host.errors.front(), "Error loading file gone.png! (file not found)");
  }
}

// A map's picture is exported at its own size, not its frame grid's, and
// made into a map again at that size; an earlier picture of the output's
// name is kept as a backup. Damaged frames stay white and fail the file,
// exported or converted.
TEST_F(JobTest, AMapExportsAtItsOwnSizeKeepingTheEarlierPictureAndFailsOnDamage) {
  Picture("m.png", 200, 100);
  const std::vector<uint8_t> original = test::ReadFileBytes("m.png");
  const EncoderParams params{.FrameSizeX = 64, .FrameSizeY = 64, .ZoomLevelsMask = 0};  // 4 x 2 frames
  ASSERT_EQ(Run({.names = {"m.png"}, .params = params}).failed, 0);
  ASSERT_EQ(Run({.kind = JobKind::Export, .names = {"m.rzt2"}, .exportFormat = 2}).failed, 0);
  EXPECT_EQ(test::ReadFileBytes("m.png.bak"), original);
  const auto exported = test::Decoded(DecodePng, test::ReadFileBytes("m.png"));
  ASSERT_NE(exported, nullptr);
  EXPECT_EQ(std::pair(exported->Width(), exported->Height()), std::pair(200, 100));
  ASSERT_EQ(Run({.names = {"m.rzt2"}, .params = params}).failed, 0);
  EXPECT_EQ(test::OpenMap("m.rzt2")->Header().imageWidth, 200u);

  std::vector<uint8_t> bytes = test::ReadFileBytes("m.rzt2");
  const test::MapBytes map(bytes);
  const FrameRef second = map.Ref(map.Entry(0), kFirstFrameRef + 1);
  std::fill_n(bytes.begin() + second.offset, second.size, uint8_t{0});
  test::WriteFileBytes("m.rzt2", bytes);
  loader.Clear();
  const JobResult damaged = Run({.kind = JobKind::Export, .names = {"m.rzt2"}, .exportFormat = 3});
  EXPECT_EQ(damaged.failed, 1);
  EXPECT_EQ(host.errors.back(), "Error loading file m.rzt2! (1 of 8 frames damaged)");
  const auto white = test::Decoded(DecodeBmp, test::ReadFileBytes("m.bmp"));
  ASSERT_NE(white, nullptr);
  const auto pixelBytes = static_cast<size_t>(BytesPerPixel(white->Format()));
  const uint8_t* secondFramesFirst = white->Row(0) + 64 * pixelBytes;
  EXPECT_TRUE(
      std::all_of(secondFramesFirst, secondFramesFirst + pixelBytes, [](uint8_t b) { return b == 0xFF; }));
  // Converted again, it is written, white there too, and fails the same way.
  loader.Clear();
  EXPECT_EQ(Run({.names = {"m.rzt2"}, .params = params}).failed, 1);
  EXPECT_EQ(host.errors.back(), "Error loading file m.rzt2! (1 of 8 frames damaged)");
}

// A map the export format cannot hold fails from its header, before a
// frame (here, a damaged frame index) is read.
TEST_F(JobTest, AnExportOverTheFormatsSizeFailsBeforeReadingTheMap) {
  Picture("thin.png", 65536, 2);
  ASSERT_EQ(Run({.names = {"thin.png"}, .params = {.FrameSizeX = 512, .ZoomLevelsMask = 0}}).failed, 0);
  std::vector<uint8_t> bytes = test::ReadFileBytes("thin.rzt2");
  const LevelEntry top = test::MapBytes(bytes).Entry(0);
  WriteU32(&bytes[top.indexOffset + kFirstFrameRef * kFrameRefSize], 0xFFFFFFF0);  // frame 0 outside the file
  test::WriteFileBytes("thin.rzt2", bytes);
  host = RecordingHost();
  EXPECT_EQ(Run({.kind = JobKind::Export, .names = {"thin.rzt2"}, .exportFormat = 0}).failed, 1);
  EXPECT_EQ(host.errors, std::vector<std::string>{"Error while creating/saving file thin.gif! (65536 x 2 "
                                                  "pixels; a GIF picture is at most 65535 x 65535)"});
  EXPECT_FALSE(std::filesystem::exists("thin.gif"));
}

// Every step names the source, and the page of a file of several, whether
// each page is converted or one by its number.
TEST_F(JobTest, ALevelOfThreeFramesNamesItsZoomAfterThePreviewLabel) {
  Picture("strip.png", 480, 160);
  Run({.names = {"strip.png"}, .params = {.ZoomLevelsMask = 0}});
  const std::vector<std::string> expected = {"label strip.png: Loading...",
                                             "current 0",
                                             "label strip.png: Creating preview...",
                                             "current 33",
                                             "label strip.png: Writing frames for zoom 100%...",
                                             "current 66",
                                             "label strip.png: Writing frames for zoom 100%...",
                                             "current 100",
                                             "label strip.png: Writing frames for zoom 100%...",
                                             "total 1",
                                             "end"};
  EXPECT_EQ(host.events, expected);
  test::WriteFileBytes("pages.tif", test::WriteWithLibtiff([](TIFF* tif) {
                         for (int page = 0; page < 2; ++page) {
                           TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40);
                           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
                           TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
                           TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
                           TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
                           std::vector<uint8_t> row(40, 90);
                           TIFFWriteScanline(tif, row.data(), 0, 0);
                           TIFFWriteDirectory(tif);
                         }
                       }));
  for (const JobRequest& request :
       {JobRequest{.names = {"pages.tif"}, .params = {.ZoomLevelsMask = 0}, .allPages = true},
        JobRequest{.names = {"pages.tif"}, .params = {.ZoomLevelsMask = 0}, .page = 2}}) {
    host = RecordingHost();
    ASSERT_EQ(Run(request).failed, 0);
    for (const char* step : {"Loading...", "Creating preview...", "Writing frames for zoom 100%..."}) {
      EXPECT_TRUE(host.Saw(std::string("label pages.tif, page 2: ") + step)) << step;
    }
  }
}

TEST_F(JobTest, TheLoaderKeepsOneFullPictureAndUnusableSettingsRefuseTheJob) {
  Picture("a.png", 40, 30);
  loader.LoadSource("a.png", false);
  ASSERT_FALSE(loader.CurrentImage().IsNull());
  Picture("a.png", 20, 10);
  loader.LoadSource("a.png", true);  // the full picture already held answers
  EXPECT_EQ(loader.CurrentImage().Width(), 40u);
  Run({.names = {"a.png"}, .params = {.FrameSizeY = 600}});  // refused before any file
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_NE(host.errors[0].find("Frames height"), std::string::npos);
  EXPECT_EQ(host.fileCount, -1);
  EXPECT_FALSE(std::filesystem::exists("a.rzt2"));
  Run({.names = {"a.png"}});  // a conversion reads the file again
  EXPECT_EQ(loader.CurrentImage().Width(), 20u);

  loader.LoadSource("a.rzt2", true);
  EXPECT_TRUE(loader.CurrentImagePath().empty());
  EXPECT_FALSE(loader.CurrentImage().IsNull());

  // A preview for a shown size may be a reduced picture: never the full one.
  std::filesystem::copy_file(test::kDecodeOnlyPictures / "tiled.jp2", "scan.jp2");
  loader.LoadSource("scan.jp2", true, {.shownWidth = 30, .shownHeight = 30});
  EXPECT_EQ(loader.CurrentImage().Width(), 30u);
  EXPECT_TRUE(loader.CurrentImagePath().empty());
  loader.LoadSource("scan.jp2", false);
  EXPECT_EQ(loader.CurrentImage().Width(), 120u);
}

}  // namespace
}  // namespace rzt2
