#include "settings/converter_settings.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include <unistd.h>

#include <QSettings>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace rzt2 {

void PrintTo(const EncoderParams& p, std::ostream* out) {
  *out << "{" << p.FrameSizeX << ", " << p.FrameSizeY << ", " << p.ZoomLevelsMask << ", "
       << p.MiniFrameSizeX << ", " << p.MiniFrameSizeY << ", " << p.EncoderCode << "}";
}

namespace {

namespace fs = std::filesystem;

// Points the user's store at a private folder for the whole run, so that no
// test can touch the real one.
class UserStoreRedirect : public testing::Environment {
 public:
  void SetUp() override {
    dir_.emplace();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_->Path().string()));
  }
  void TearDown() override { dir_.reset(); }
  static fs::path Folder() { return dir_->Path(); }

 private:
  static inline std::optional<test::TempDir> dir_;
};
testing::Environment* const kUserStoreRedirect =
    testing::AddGlobalTestEnvironment(new UserStoreRedirect);

class ConverterSettingsTest : public testing::Test {
 protected:
  std::string StorePath() const { return (dir_ / "Velmora" / "rzt2tool.conf").string(); }
  ConverterSettings Settings() const { return ConverterSettings(StorePath()); }

  void WriteStore(const std::string& text) const {
    fs::create_directories(fs::path(StorePath()).parent_path());
    std::ofstream(StorePath(), std::ios::trunc) << "[General]\n" << text;
  }
  QStringList StoredKeys() const {
    return QSettings(QString::fromStdString(StorePath()), QSettings::NativeFormat).allKeys();
  }
  QString Stored(const char* key) const {
    return QSettings(QString::fromStdString(StorePath()), QSettings::NativeFormat)
        .value(key)
        .toString();
  }

  test::TempDir dir_;
};

ConverterSettings NonDefaults(std::string storeFile) {
  ConverterSettings settings(std::move(storeFile));
  settings.SetEncoder({200, 96, 253, 512, 300, 2});
  settings.DstFolder = "/srv/maps/out/";
  settings.SrcFolder = "/home/user/scans";
  settings.DstFolderAsSame = 0;
  settings.EnablePreview = 1;
  return settings;
}

void ExpectDefaults(const ConverterSettings& settings) {
  EXPECT_EQ(settings.Encoder(), (EncoderParams{160, 160, 255, 640, 640, 0}));
  EXPECT_EQ(settings.DstFolder, "");
  EXPECT_EQ(settings.SrcFolder, "");
  EXPECT_EQ(settings.DstFolderAsSame, 1);
  EXPECT_EQ(settings.EnablePreview, 0);
}

void ExpectSameValues(const ConverterSettings& a, const ConverterSettings& b) {
  EXPECT_EQ(a.Encoder(), b.Encoder());
  EXPECT_EQ(a.DstFolder, b.DstFolder);
  EXPECT_EQ(a.SrcFolder, b.SrcFolder);
  EXPECT_EQ(a.DstFolderAsSame, b.DstFolderAsSame);
  EXPECT_EQ(a.EnablePreview, b.EnablePreview);
}

TEST_F(ConverterSettingsTest, FirstRunWithoutStoreKeepsTheDefaults) {
  ConverterSettings settings = Settings();
  EXPECT_FALSE(settings.LoadSettings());
  ExpectDefaults(settings);
  EXPECT_FALSE(fs::exists(StorePath()));

  ConverterSettings changed = NonDefaults(StorePath());
  EXPECT_FALSE(changed.LoadSettings());
  ExpectSameValues(changed, NonDefaults(StorePath()));
}

TEST_F(ConverterSettingsTest, SetDefaultsResetsEveryFieldAndKeepsTheStore) {
  ConverterSettings settings = NonDefaults(StorePath());
  settings.SetDefaults();
  ExpectDefaults(settings);
  EXPECT_EQ(settings.StoreFileName(), StorePath());
}

TEST_F(ConverterSettingsTest, StoreWithOnlyNumbersEmptiesFoldersAndClearsFlags) {
  WriteStore(
      "FrameSizeX=200\nFrameSizeY=96\nMiniFrameSizeX=512\nMiniFrameSizeY=300\n"
      "EncoderCode=2\nZoomLevelsMask=253\n");
  ConverterSettings settings = Settings();
  settings.DstFolder = "/left/over";
  settings.SrcFolder = "/left/over";
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(settings.Encoder(), (EncoderParams{200, 96, 253, 512, 300, 2}));
  EXPECT_EQ(settings.DstFolder, "");
  EXPECT_EQ(settings.SrcFolder, "");
  EXPECT_EQ(settings.DstFolderAsSame, 0);
  EXPECT_EQ(settings.EnablePreview, 0);
}

TEST_F(ConverterSettingsTest, MissingOrNonNumericNumbersLeaveTheirFields) {
  WriteStore(
      "FrameSizeX=abc\nFrameSizeY=1.5\nMiniFrameSizeX=99999999999\nMiniFrameSizeY=\n"
      "EncoderCode=3\nDstFolderAsSame=yes\nEnablePreview=1\n");
  ConverterSettings settings = NonDefaults(StorePath());
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(settings.Encoder(), (EncoderParams{200, 96, 253, 512, 300, 3}));
  EXPECT_EQ(settings.DstFolderAsSame, 0);
  EXPECT_EQ(settings.EnablePreview, 1);
}

TEST_F(ConverterSettingsTest, SaveThenLoadRestoresAllTenValues) {
  // Characters that the store's text form must quote or escape.
  const std::string awkward = "/data/M\xC3\xA4ps, \"old\"; #1 = a\\b [x]/ ";
  ConverterSettings saved = NonDefaults(StorePath());
  saved.SrcFolder = awkward;
  saved.DstFolder = " " + awkward;
  ASSERT_TRUE(saved.SaveSettings());

  ConverterSettings loaded = Settings();
  ASSERT_TRUE(loaded.LoadSettings());
  ExpectSameValues(loaded, saved);
}

TEST_F(ConverterSettingsTest, EmptyFolderIsStoredAndLoadsAsEmpty) {
  ConverterSettings saved = NonDefaults(StorePath());
  saved.SrcFolder.clear();
  ASSERT_TRUE(saved.SaveSettings());
  EXPECT_TRUE(StoredKeys().contains("SrcFolder"));

  ConverterSettings loaded = NonDefaults(StorePath());
  ASSERT_TRUE(loaded.LoadSettings());
  EXPECT_EQ(loaded.SrcFolder, "");
  EXPECT_EQ(loaded.DstFolder, "/srv/maps/out/");
}

TEST_F(ConverterSettingsTest, FoldersLongerThan255CharactersSurvive) {
  ConverterSettings saved = Settings();
  saved.DstFolder = "/" + std::string(399, 'd');
  saved.SrcFolder = "/" + std::string(255, 's');
  ASSERT_TRUE(saved.SaveSettings());

  ConverterSettings loaded = Settings();
  ASSERT_TRUE(loaded.LoadSettings());
  EXPECT_EQ(loaded.DstFolder, saved.DstFolder);
  EXPECT_EQ(loaded.SrcFolder, saved.SrcFolder);
}

TEST_F(ConverterSettingsTest, LoadThenSaveWritesEveryValueIncludingMissingOnes) {
  WriteStore("FrameSizeX=200\nEnablePreview=1\nUnrelated=kept\n");
  ConverterSettings settings = Settings();
  ASSERT_TRUE(settings.LoadSettings());
  ASSERT_TRUE(settings.SaveSettings());

  QStringList keys = StoredKeys();
  keys.sort();
  EXPECT_EQ(keys, (QStringList{"DstFolder", "DstFolderAsSame", "EnablePreview", "EncoderCode",
                               "FrameSizeX", "FrameSizeY", "MiniFrameSizeX", "MiniFrameSizeY",
                               "SrcFolder", "Unrelated", "ZoomLevelsMask"}));
  EXPECT_EQ(Stored("FrameSizeX"), "200");
  EXPECT_EQ(Stored("FrameSizeY"), "160");
  EXPECT_EQ(Stored("MiniFrameSizeX"), "640");
  EXPECT_EQ(Stored("ZoomLevelsMask"), "255");
  EXPECT_EQ(Stored("EncoderCode"), "0");
  EXPECT_EQ(Stored("DstFolderAsSame"), "0");
  EXPECT_EQ(Stored("EnablePreview"), "1");
  EXPECT_EQ(Stored("DstFolder"), "");
}

TEST_F(ConverterSettingsTest, OutOfRangeValuesAreKeptAsStored) {
  WriteStore(
      "FrameSizeX=600\nFrameSizeY=-5\nMiniFrameSizeX=0\nEncoderCode=9\n"
      "ZoomLevelsMask=-1\nDstFolderAsSame=7\n");
  ConverterSettings loaded = Settings();
  ASSERT_TRUE(loaded.LoadSettings());
  EXPECT_EQ(loaded.Encoder(), (EncoderParams{600, -5, -1, 0, 640, 9}));
  EXPECT_EQ(loaded.DstFolderAsSame, 7);

  ASSERT_TRUE(loaded.SaveSettings());
  ConverterSettings reloaded = Settings();
  ASSERT_TRUE(reloaded.LoadSettings());
  ExpectSameValues(reloaded, loaded);
}

TEST_F(ConverterSettingsTest, UnwritableStoreFailsToSave) {
  // The store's folder would have to be made inside a regular file; this
  // fails even for root, who ignores permissions.
  test::WriteFileBytes(dir_ / "blocker", {'x'});
  const std::string blocked = (dir_ / "blocker" / "rzt2tool.conf").string();
  ConverterSettings settings = NonDefaults(blocked);
  EXPECT_FALSE(settings.SaveSettings());
  EXPECT_FALSE(settings.LoadSettings());
  ExpectSameValues(settings, NonDefaults(blocked));
}

TEST_F(ConverterSettingsTest, ReadOnlyStoreFailsToSaveAndKeepsItsContents) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  WriteStore("FrameSizeX=200\n");
  fs::permissions(StorePath(), fs::perms::owner_read);
  fs::permissions(fs::path(StorePath()).parent_path(),
                  fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(NonDefaults(StorePath()).SaveSettings());
  EXPECT_EQ(StoredKeys(), QStringList{"FrameSizeX"});
  fs::permissions(fs::path(StorePath()).parent_path(), fs::perms::owner_all);
}

TEST_F(ConverterSettingsTest, DefaultStoreIsTheUsersVelmoraFile) {
  const fs::path expected = UserStoreRedirect::Folder() / "Velmora" / "rzt2tool.conf";
  ConverterSettings saved;
  EXPECT_EQ(saved.StoreFileName(), expected.string());
  saved.SrcFolder = "/home/user/scans";
  ASSERT_TRUE(saved.SaveSettings());
  EXPECT_TRUE(fs::exists(expected));

  ConverterSettings loaded;
  ASSERT_TRUE(loaded.LoadSettings());
  EXPECT_EQ(loaded.SrcFolder, "/home/user/scans");
}

}  // namespace
}  // namespace rzt2
