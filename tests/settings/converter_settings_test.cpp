// ConverterSettings and its store: first runs, partial and odd stores
// with their round trips, and stores that cannot be written. The user's own store is
// found where rzt2 looks for it in the cli tests.
#include "settings/converter_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <tuple>

#include "support/test_support.h"

namespace rzt2 {

void PrintTo(const EncoderParams& p, std::ostream* out) {
  *out << "{" << p.FrameSizeX << ", " << p.FrameSizeY << ", " << p.ZoomLevelsMask << ", " << p.MiniFrameSizeX
       << ", " << p.MiniFrameSizeY << ", " << p.EncoderCode << ", " << p.PaletteMode << ", " << p.MapSize
       << "}";
}

namespace {

namespace fs = std::filesystem;

// The values of a settings record, for comparing two of them at once.
auto Values(const ConverterSettings& s) {
  return std::tuple(s.Encoder(), s.DstFolder, s.SrcFolder, s.DstFolderAsSame, s.EnablePreview, s.DrawingDpi,
                    s.AllPages, s.MaxPages);
}

class ConverterSettingsTest : public testing::Test {
 protected:
  std::string StorePath() const { return (dir_ / "Velmora" / "rzt2tool.conf").string(); }
  ConverterSettings Settings() const { return ConverterSettings(StorePath()); }
  // Settings on the test's store with every value changed from its default.
  ConverterSettings NonDefaults() const {
    ConverterSettings settings = Settings();
    settings.SetEncoder({200, 96, 253, 512, 300, 2, kPaletteAdaptive, kMapSizeSmall});
    settings.DstFolder = "/srv/maps/out/";
    settings.SrcFolder = "/home/user/scans";
    settings.DstFolderAsSame = 0;
    settings.EnablePreview = 1;
    settings.DrawingDpi = 300;
    settings.AllPages = 1;
    settings.MaxPages = 500;
    return settings;
  }
  void WriteStore(const std::string& text) const {
    fs::create_directories(fs::path(StorePath()).parent_path());
    std::ofstream(StorePath(), std::ios::trunc) << "[General]\n" << text;
  }

  test::TempDir dir_;
};

TEST_F(ConverterSettingsTest, WithoutAUsableStoreLoadingAndSavingFailAndChangeNothing) {
  ConverterSettings settings = Settings();
  EXPECT_FALSE(settings.LoadSettings());
  EXPECT_EQ(Values(settings),
            std::tuple(EncoderParams{160, 160, 255, 640, 640, 0}, "", "", 1, 0, 0, 0, 10000));
  EXPECT_FALSE(fs::exists(StorePath()));
  ConverterSettings changed = NonDefaults();
  EXPECT_FALSE(changed.LoadSettings());
  // A store whose folder would have to be made inside a regular file (which
  // fails even for root, who ignores permissions) is neither saved nor read.
  test::WriteFileBytes(dir_ / "Velmora", {'x'});
  EXPECT_FALSE(changed.SaveSettings());
  EXPECT_FALSE(changed.LoadSettings());
  EXPECT_EQ(Values(changed), Values(NonDefaults()));
  changed.SetDefaults();
  EXPECT_EQ(Values(changed), Values(settings));
}

TEST_F(ConverterSettingsTest, PartialAndOddStoresLoadWhatTheyHold) {
  // Only numbers: the folders are emptied and the flags cleared; the dpi stays.
  WriteStore(
      "FrameSizeX=200\nFrameSizeY=96\nMiniFrameSizeX=512\nMiniFrameSizeY=300\nEncoderCode=2\nZoomLevelsMask="
      "253\n");
  ConverterSettings settings = NonDefaults();
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(Values(settings),
            std::tuple(EncoderParams{200, 96, 253, 512, 300, 2, 1, 1}, "", "", 0, 0, 300, 0, 500));
  // Missing or non-numeric numbers leave their fields.
  WriteStore(
      "FrameSizeX=abc\nFrameSizeY=1.5\nMiniFrameSizeX=99999999999\nMiniFrameSizeY=\nEncoderCode=3\n"
      "DstFolderAsSame=yes\nEnablePreview=1\nAllPages=1\nDrawingDpi=72\nMaxPages=20\n");
  settings = NonDefaults();
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(Values(settings),
            std::tuple(EncoderParams{200, 96, 253, 512, 300, 3, 1, 1}, "", "", 0, 1, 72, 1, 20));
  // Saved and loaded again, every value comes back.
  ASSERT_TRUE(settings.SaveSettings());
  ConverterSettings saved = Settings();
  ASSERT_TRUE(saved.LoadSettings());
  EXPECT_EQ(Values(saved), Values(settings));
  // Values out of range are kept as stored, and saved again as they are,
  // with folders the store's text form must quote or escape; a palette
  // mode or map size that names none, a dpi and a page bound out of range
  // are the defaults.
  WriteStore(
      "FrameSizeX=600\nFrameSizeY=-5\nMiniFrameSizeX=0\nEncoderCode=9\nZoomLevelsMask=-1\nDstFolderAsSame="
      "7\nPaletteMode=2\nMapSize=2\nDrawingDpi=9999\nAllPages=-3\nMaxPages=0\n");
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(Values(settings),
            std::tuple(EncoderParams{600, -5, -1, 0, 300, 9, 0, 0}, "", "", 7, 0, 0, -3, 10000));
  settings.SrcFolder = "/data/M\xC3\xA4ps, \"old\"; #1 = a\\b [x]/ ";
  settings.DstFolder = " " + settings.SrcFolder;
  ASSERT_TRUE(settings.SaveSettings());
  ConverterSettings reloaded = Settings();
  ASSERT_TRUE(reloaded.LoadSettings());
  EXPECT_EQ(Values(reloaded), Values(settings));
}

}  // namespace
}  // namespace rzt2
