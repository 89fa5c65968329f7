// End-to-end: rzt2 on generated pictures, results read back independently.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/cli_runner.h"
#include "raster/codecs/encoder_list.h"
#include "support/test_support.h"

namespace rzt2::test {
namespace {

const char* const kFormats[] = {"gif", "jpeg", "png", "bmp", "tiff"};
const uint32_t kPrefix[] = {784, 0, 864, 0, 0};

void SavePicture(const std::filesystem::path& path, const char* mime, int32_t w, int32_t h, uint32_t seed = 1,
                 PixelFormat format = PixelFormat::Rgb24) {
  ClassId id;
  ASSERT_GE(FindEncoder(mime, id), 0);
  const auto bitmap = MakeMapLikeBitmap(w, h, format, seed);
  ASSERT_EQ(SaveImageToFile(*bitmap, path, id), Status::Ok);
}

class CliTest : public ::testing::Test {
 protected:
  TempDir dir;
  CliRun Run(const std::vector<std::string>& args) { return RunRzt2(dir.Path(), args); }
};

TEST_F(CliTest, ConvertsInEveryFrameFormatToFilesBothReadersAgreeOn) {
  SavePicture(dir / "chart.png", "image/png", 1000, 700);
  for (int code = 0; code < 5; ++code) {
    SCOPED_TRACE(kFormats[code]);
    const CliRun run = Run({"convert", "-q", "--ignore-settings", "--format", kFormats[code], "chart.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ParsedMap map;
    std::string problem;
    ASSERT_TRUE(ParseMapFile(dir / "chart.rzt2", map, problem)) << problem;
    EXPECT_EQ(map.U32(48), 1000u);
    EXPECT_EQ(map.U32(52), 700u);
    // Level 0: 7 x 5 frames of 160, refCount 51, a 408-byte index.
    const ParsedLevel& top = map.levels[0];
    EXPECT_EQ(top.fields[0], 10000u);
    EXPECT_EQ(top.fields[5], 51u);
    EXPECT_EQ(top.fields[8], 7u);
    EXPECT_EQ(top.fields[9], 5u);
    EXPECT_EQ(top.fields[2], kPrefix[code]);
    EXPECT_EQ(top.fields[1], top.fields[3] + 408);
    EXPECT_EQ(std::vector<uint8_t>(map.bytes.begin() + 12, map.bytes.begin() + 48),
              std::vector<uint8_t>(map.bytes.begin() + 448, map.bytes.begin() + 484));
    for (size_t level = 0; level < 7; ++level) {
      EXPECT_EQ(map.levels[level].previewRef[0], 1084u);
      EXPECT_EQ(map.levels[level].previewRef[1], top.previewRef[1]);
    }
    // Every frame decodes with Qt to a frame-sized picture.
    for (const auto& frame : top.frames) {
      const QImage image = DecodeWithQt(frame);
      ASSERT_FALSE(image.isNull());
      ASSERT_EQ(image.width(), 160);
      ASSERT_EQ(image.height(), 160);
    }
    const QImage preview = DecodeWithQt(std::vector<uint8_t>(map.bytes.begin() + 1084,
                                                             map.bytes.begin() + 1084 + top.previewRef[1]));
    EXPECT_EQ(preview.width(), 639);
    EXPECT_EQ(preview.height(), 447);
    const CliRun check = Run({"check", "chart.rzt2"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    std::filesystem::remove(dir / "chart.rzt2");
    std::filesystem::remove(dir / "chart.rzt2.bak");
  }
}

TEST_F(CliTest, ZoomMasksDecideTheStoredLevels) {
  SavePicture(dir / "a.png", "image/png", 300, 200);
  const std::pair<std::string, std::vector<bool>> cases[] = {
      {"0", {true, false, false, false, false, false, false}},
      {"255", {true, true, true, true, true, true, true}},
      {"253", {true, false, true, true, true, true, true}},
      {"-129", {true, true, true, true, true, true, true}},  // bit 0 and bits 7+ mean nothing
  };
  for (const auto& [mask, stored] : cases) {
    ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "--zoom-mask", mask, "a.png"}).exitCode, 0);
    ParsedMap map;
    std::string problem;
    ASSERT_TRUE(ParseMapFile(dir / "a.rzt2", map, problem));
    for (size_t level = 0; level < 16; ++level) {
      EXPECT_EQ(map.levels[level].fields[0] != 0, level < 7 && stored[level]) << mask << " level " << level;
    }
    if (mask == "0") {
      const auto& last = map.levels[0];
      const uint64_t end = uint64_t{map.U32(last.fields[3] + 8 * (last.fields[5] - 1))} +
                           map.U32(last.fields[3] + 8 * (last.fields[5] - 1) + 4);
      EXPECT_EQ(end, map.bytes.size());
    }
  }
}

TEST_F(CliTest, RunsTwiceDifferOnlyInTheRandomBlockAndKeepABackup) {
  SavePicture(dir / "map.png", "image/png", 500, 400);
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "map.png"}).exitCode, 0);
  const auto first = ReadFileBytes(dir / "map.rzt2");
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "map.png"}).exitCode, 0);
  const auto second = ReadFileBytes(dir / "map.rzt2");
  EXPECT_EQ(ReadFileBytes(dir / "map.rzt2.bak"), first);
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    if (i < 64 || i >= 104) {
      ASSERT_EQ(first[i], second[i]) << "byte " << i;
    }
  }
  // With the backup name taken, the file is replaced and the backup kept.
  WriteFileBytes(dir / "map.rzt2", {1, 2, 3});
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "map.png"}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(dir / "map.rzt2.bak"), first);
  EXPECT_EQ(ReadFileBytes(dir / "map.rzt2").size(), first.size());
}

TEST_F(CliTest, ExportNamesAndMapPicturesComeBackWhiteAround) {
  SavePicture(dir / "chart.png", "image/png", 1000, 700);
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "--format", "png", "chart.png"}).exitCode, 0);
  std::filesystem::rename(dir / "chart.png", dir / "source.png");
  for (const char* format : kFormats) {
    const CliRun run = Run({"export", "-q", "--ignore-settings", "--format", format, "chart.rzt2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto bytes = ReadFileBytes(dir / (std::string("chart.") + format));
    const QImage image = DecodeWithQt(bytes);
    ASSERT_FALSE(image.isNull()) << format;
    EXPECT_EQ(image.width(), 1120);
    EXPECT_EQ(image.height(), 800);
    EXPECT_EQ(image.pixel(1119, 799) & 0xFFFFFF, 0xFFFFFFu) << format;
  }
  std::filesystem::copy_file(dir / "source.png", dir / "notes");
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--format", "bmp", "notes"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "notes.bmp"));
}

TEST_F(CliTest, AMapFileConvertedAgainKeepsItsPalette) {
  SavePicture(dir / "indexed.png", "image/png", 400, 300, 5, PixelFormat::Indexed8);
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "--format", "gif", "indexed.png"}).exitCode, 0);
  ParsedMap before;
  std::string problem;
  ASSERT_TRUE(ParseMapFile(dir / "indexed.rzt2", before, problem));
  const CliRun again = Run({"convert", "-q", "--ignore-settings", "--format", "gif", "indexed.rzt2"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  ParsedMap after;
  ASSERT_TRUE(ParseMapFile(dir / "indexed.rzt2", after, problem));
  const QImage a = DecodeWithQt(before.levels[0].frames[0]), b = DecodeWithQt(after.levels[0].frames[0]);
  EXPECT_EQ(a.colorTable(), b.colorTable());
  EXPECT_TRUE(std::filesystem::exists(dir / "indexed.rzt2.bak"));
}

TEST_F(CliTest, BadFilesAreReportedAndTheRestConverted) {
  SavePicture(dir / "one.png", "image/png", 200, 100, 1);
  SavePicture(dir / "two.jpg", "image/jpeg", 200, 100, 2);
  SavePicture(dir / "three.bmp", "image/bmp", 200, 100, 3);
  WriteFileBytes(dir / "broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  const CliRun run = Run({"convert", "-q", "-j", "2", "--ignore-settings", "one.png", "broken.png", "two.jpg",
                          "missing.gif", "three.bmp"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error loading file broken.png!"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Error loading file missing.gif!"), std::string::npos) << run.err;
  for (const char* name : {"one.rzt2", "two.rzt2", "three.rzt2"}) EXPECT_TRUE(std::filesystem::exists(dir / name));
  EXPECT_FALSE(std::filesystem::exists(dir / "broken.rzt2"));
}

TEST_F(CliTest, InputsWithOneOutputAreDoneInOrder) {
  SavePicture(dir / "a.png", "image/png", 100, 100, 1);
  SavePicture(dir / "a.bmp", "image/bmp", 300, 100, 2);
  ASSERT_EQ(Run({"convert", "-q", "-j", "2", "--ignore-settings", "a.png", "a.bmp"}).exitCode, 0);
  ParsedMap map, backup;
  std::string problem;
  ASSERT_TRUE(ParseMapFile(dir / "a.rzt2", map, problem));
  ASSERT_TRUE(ParseMapFile(dir / "a.rzt2.bak", backup, problem));
  EXPECT_EQ(map.U32(48), 300u);
  EXPECT_EQ(backup.U32(48), 100u);
}

TEST_F(CliTest, UnusableCommandLinesAndSettingsExitWithTwo) {
  SavePicture(dir / "a.png", "image/png", 50, 50);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", "--frame", "10x160", "a.png"}, {"convert", "--format", "webp", "a.png"},
        {"export", "a.png"}, {"convert"}, {"frobnicate"}, {"info", "--frame", "64x64", "a.rzt2"},
        {"convert", "-o", "no/such/folder", "a.png"}}) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 2) << args[0] << " " << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_NE(Run({"convert", "--frame", "600x160", "a.png"}).err.find("FrameSizeX"), std::string::npos);
  // A stored format code out of range is refused, naming it, before any file is touched.
  std::filesystem::create_directories(dir / ".config/Velmora");
  std::ofstream(dir / ".config/Velmora/rzt2tool.conf") << "[General]\nEncoderCode=7\n";
  const CliRun stored = Run({"convert", "a.png"});
  EXPECT_EQ(stored.exitCode, 2);
  EXPECT_NE(stored.err.find("EncoderCode"), std::string::npos) << stored.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "a.rzt2"));
  EXPECT_EQ(Run({"convert", "-q", "--format", "png", "a.png"}).exitCode, 0);
  EXPECT_EQ(Run({"--version"}).exitCode, 0);
}

TEST_F(CliTest, InfoAndCheckReadMapFiles) {
  SavePicture(dir / "a.png", "image/png", 1000, 700);
  ASSERT_EQ(Run({"convert", "-q", "--ignore-settings", "-o", ".", "a.png"}).exitCode, 0);
  const CliRun json = Run({"info", "--json", "a.rzt2"});
  ASSERT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"imageWidth\": 1000"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"refCount\": 51"), std::string::npos);
  EXPECT_NE(Run({"info", "a.rzt2"}).out.find("1000 x 700"), std::string::npos);
  auto bytes = ReadFileBytes(dir / "a.rzt2");
  bytes[bytes.size() - 20] ^= 0xFF;  // damage the last frame body
  WriteFileBytes(dir / "damaged.rzt2", bytes);
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(dir / "short.rzt2", bytes);
  const CliRun check = Run({"check", "a.rzt2", "damaged.rzt2", "short.rzt2", "a.png"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.out.find("a.rzt2: ok"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("short.rzt2: level 0"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("a.png: not a map file"), std::string::npos) << check.out;
}

}  // namespace
}  // namespace rzt2::test
