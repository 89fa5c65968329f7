// End-to-end: rzt2 on generated pictures; results read back with the record
// codecs, and every frame decoded by Qt's image readers, independently of ours.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "cli/cli_runner.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

QImage DecodeWithQt(const std::vector<uint8_t>& bytes) {
  return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
}

class CliTest : public ::testing::Test {
 protected:
  TempDir dir;
  CliRun Run(const std::vector<std::string>& args) { return RunRzt2(dir.Path(), args); }
  // Converts with the built-in settings and any options; true on exit status 0.
  bool Convert(std::vector<std::string> args) {
    args.insert(args.begin(), {"convert", "-q", "--ignore-settings"});
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.exitCode == 0;
  }
};

TEST_F(CliTest, ConvertsInEveryFrameFormatToFramesQtDecodes) {
  ASSERT_EQ(SavePicture(dir / "chart.png", "image/png", 1000, 700), Status::Ok);
  for (const ImageFormat& format : kFrameFormats) {
    SCOPED_TRACE(format.name);
    ASSERT_TRUE(Convert({"--format", std::string(format.name), "chart.png"}));
    const MapBytes map(dir / "chart.rzt2");
    EXPECT_EQ(map.U32(48), 1000u);
    EXPECT_EQ(map.U32(52), 700u);
    const LevelEntry top = map.Entry(0);
    const FrameRef preview = map.Ref(top, 0);
    EXPECT_EQ(top, (LevelEntry{10000, top.indexOffset + 408, format.sharedPrefixSize,
                               kPreviewOffset + preview.size, 16, 51, 160, 160, 7, 5}));
    for (uint32_t k = 0; k < 35; ++k) {
      const QImage frame = DecodeWithQt(map.Frame(top, k));
      ASSERT_EQ(frame.size(), QSize(160, 160)) << "frame " << k;
    }
    EXPECT_EQ(DecodeWithQt(map.Block(preview.offset, preview.size)).size(), QSize(639, 447));
    const CliRun check = Run({"check", "chart.rzt2"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    fs::remove(dir / "chart.rzt2");
  }
}

TEST_F(CliTest, ZoomMasksDecideTheStoredLevels) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 300, 200), Status::Ok);
  const std::pair<std::string, std::vector<bool>> cases[] = {
      {"0", {true, false, false, false, false, false, false}},
      {"255", {true, true, true, true, true, true, true}},
      {"253", {true, false, true, true, true, true, true}},
      {"-129", {true, true, true, true, true, true, true}},  // bit 0 and bits 7+ mean nothing
  };
  for (const auto& [mask, stored] : cases) {
    ASSERT_TRUE(Convert({"--zoom-mask", mask, "a.png"}));
    const MapBytes map(dir / "a.rzt2");
    for (uint32_t level = 0; level < kLevelCount; ++level) {
      EXPECT_EQ(map.Entry(level).scale != 0, level < 7 && stored[level]) << mask << " level " << level;
    }
  }
}

TEST_F(CliTest, RunsTwiceDifferOnlyInTheRandomBlockAndKeepABackup) {
  ASSERT_EQ(SavePicture(dir / "map.png", "image/png", 500, 400), Status::Ok);
  ASSERT_TRUE(Convert({"map.png"}));
  const auto first = ReadFileBytes(dir / "map.rzt2");
  ASSERT_TRUE(Convert({"map.png"}));
  EXPECT_EQ(ReadFileBytes(dir / "map.rzt2.bak"), first);
  EXPECT_TRUE(SameButForRandomValues(first, ReadFileBytes(dir / "map.rzt2")));
  // With the backup name taken, the file is replaced and the backup kept.
  WriteFileBytes(dir / "map.rzt2", {1, 2, 3});
  ASSERT_TRUE(Convert({"map.png"}));
  EXPECT_EQ(ReadFileBytes(dir / "map.rzt2.bak"), first);
  EXPECT_TRUE(SameButForRandomValues(first, ReadFileBytes(dir / "map.rzt2")));
}

TEST_F(CliTest, ExportNamesAndMapPicturesComeBackWhiteAround) {
  ASSERT_EQ(SavePicture(dir / "chart.png", "image/png", 1000, 700), Status::Ok);
  ASSERT_TRUE(Convert({"--format", "png", "chart.png"}));
  fs::rename(dir / "chart.png", dir / "source.png");
  for (const char* format : {"gif", "jpeg", "png", "bmp", "tiff"}) {
    const CliRun run = Run({"export", "-q", "--ignore-settings", "--format", format, "chart.rzt2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QImage image = DecodeWithQt(ReadFileBytes(dir / (std::string("chart.") + format)));
    EXPECT_EQ(image.size(), QSize(1120, 800)) << format;
    EXPECT_EQ(image.pixel(1119, 799) & 0xFFFFFF, 0xFFFFFFu) << format;
  }
  fs::copy_file(dir / "source.png", dir / "notes");
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--format", "bmp", "notes"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(dir / "notes.bmp"));
}

TEST_F(CliTest, AMapFileConvertedAgainKeepsItsPalette) {
  ASSERT_EQ(SavePicture(dir / "indexed.png", "image/png", 400, 300, 5, PixelFormat::Indexed8), Status::Ok);
  ASSERT_TRUE(Convert({"--format", "gif", "indexed.png"}));
  const MapBytes before(dir / "indexed.rzt2");
  ASSERT_TRUE(Convert({"--format", "gif", "indexed.rzt2"}));
  const MapBytes after(dir / "indexed.rzt2");
  EXPECT_EQ(DecodeWithQt(before.Frame(before.Entry(0), 0)).colorTable(),
            DecodeWithQt(after.Frame(after.Entry(0), 0)).colorTable());
  EXPECT_TRUE(fs::exists(dir / "indexed.rzt2.bak"));
}

TEST_F(CliTest, BadFilesAreReportedAndTheRestConvertedOneOutputAtATime) {
  ASSERT_EQ(SavePicture(dir / "one.png", "image/png", 200, 100, 1), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "two.jpg", "image/jpeg", 200, 100, 2), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "three.bmp", "image/bmp", 200, 100, 3), Status::Ok);
  WriteFileBytes(dir / "broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  const CliRun run = Run({"convert", "-q", "-j", "2", "--ignore-settings", "one.png", "broken.png", "two.jpg",
                          "missing.gif", "three.bmp"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error loading file broken.png!"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Error loading file missing.gif!"), std::string::npos) << run.err;
  for (const char* name : {"one.rzt2", "two.rzt2", "three.rzt2"}) EXPECT_TRUE(fs::exists(dir / name));
  EXPECT_FALSE(fs::exists(dir / "broken.rzt2"));

  // Inputs with one output name are done in the order given, never at once.
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 100, 100, 1), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "a.bmp", "image/bmp", 300, 100, 2), Status::Ok);
  ASSERT_TRUE(Convert({"-j", "2", "a.png", "a.bmp"}));
  EXPECT_EQ(MapBytes(dir / "a.rzt2").U32(48), 300u);
  EXPECT_EQ(MapBytes(dir / "a.rzt2.bak").U32(48), 100u);
}

TEST_F(CliTest, MetafilesConvertAtTheirFramesSizeAndDamagedOnesAreReported) {
  const fs::path data = fs::path(RZT2_TEST_DATA) / "metafiles";
  fs::copy_file(data / "map.emf", dir / "chart.emf");
  fs::copy_file(data / "map.wmf", dir / "plan.wmf");
  auto wmf = ReadFileBytes(data / "map.wmf");
  wmf.resize(wmf.size() / 2);
  WriteFileBytes(dir / "truncated.wmf", wmf);
  auto emf = ReadFileBytes(data / "map.emf");
  emf[4] = 0xF0;  // the header record claims more than the file holds
  WriteFileBytes(dir / "corrupt.emf", emf);
  const CliRun run = Run({"convert", "-q", "-j", "2", "--ignore-settings", "chart.emf", "truncated.wmf",
                          "corrupt.emf", "plan.wmf"});
  EXPECT_EQ(run.exitCode, 1);
  for (const char* name : {"truncated.wmf", "corrupt.emf"}) {
    EXPECT_NE(run.err.find(std::string("Error loading file ") + name + "!"), std::string::npos) << run.err;
  }
  for (const auto& [name, width, height] :
       {std::tuple{"chart.rzt2", 242u, 162u}, {"plan.rzt2", 240u, 160u}}) {
    const MapBytes map(dir / name);
    EXPECT_EQ(map.U32(48), width) << name;
    EXPECT_EQ(map.U32(52), height) << name;
  }
  const CliRun check = Run({"check", "chart.rzt2", "plan.rzt2"});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

TEST_F(CliTest, UnusableCommandLinesAndSettingsExitWithTwo) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 50, 50), Status::Ok);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", "--frame", "10x160", "a.png"},
        {"convert", "--format", "webp", "a.png"},
        {"convert", "--memory", "lots", "a.png"},
        {"export", "a.png"},
        {"convert"},
        {"frobnicate"},
        {"info", "--frame", "64x64", "a.rzt2"},
        {"convert", "-o", "no/such/folder", "a.png"}}) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 2) << args[0] << " " << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_NE(Run({"convert", "--frame", "600x160", "a.png"}).err.find("Frames width is 600"),
            std::string::npos);
  // A stored format code out of range is refused, naming it, before any file is touched.
  fs::create_directories(dir / ".config/Velmora");
  std::ofstream(dir / ".config/Velmora/rzt2tool.conf") << "[General]\nEncoderCode=7\n";
  const CliRun stored = Run({"convert", "a.png"});
  EXPECT_EQ(stored.exitCode, 2);
  EXPECT_NE(stored.err.find("RZT2 frames encoder algorithm is 7"), std::string::npos) << stored.err;
  EXPECT_FALSE(fs::exists(dir / "a.rzt2"));
  EXPECT_EQ(Run({"convert", "-q", "--format", "png", "a.png"}).exitCode, 0);
  EXPECT_EQ(Run({"--version"}).exitCode, 0);
}

TEST_F(CliTest, InfoAndCheckReadMapFiles) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 1000, 700), Status::Ok);
  ASSERT_TRUE(Convert({"-o", ".", "a.png"}));
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

TEST_F(CliTest, AnExportNeverReplacesItsSource) {
  ASSERT_EQ(SavePicture(dir / "photo.jpeg", "image/jpeg", 300, 200), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "map.png", "image/png", 300, 200), Status::Ok);
  const auto photo = ReadFileBytes(dir / "photo.jpeg");
  const auto map = ReadFileBytes(dir / "map.png");
  // Another name for the same file is still the same file.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--format", "jpeg", "photo.jpeg"}, "photo.jpeg"},
      {{"--format", "png", "-o", ".", "map.png"}, "./map.png"},
  };
  for (const auto& [args, target] : cases) {
    std::vector<std::string> command = {"export", "-q", "--ignore-settings"};
    command.insert(command.end(), args.begin(), args.end());
    const CliRun run = Run(command);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "Error while creating/saving file " + target + "! (the output would replace its source)\n");
  }
  EXPECT_EQ(ReadFileBytes(dir / "photo.jpeg"), photo);
  EXPECT_EQ(ReadFileBytes(dir / "map.png"), map);
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"map.png", "photo.jpeg"}));
}

TEST_F(CliTest, NamesPrintOnOneLineAndJsonStaysUtf8) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 200, 100), Status::Ok);
  ASSERT_TRUE(Convert({"a.png"}));
  const std::string odd = "caf\xE9\n\x1B[2J.rzt2";  // Latin-1, a newline, "clear the screen"
  const std::string shown = "caf\\xE9\\x0A\\x1B[2J.rzt2";
  fs::rename(dir / "a.rzt2", dir / odd);
  EXPECT_EQ(Run({"info", odd}).out.substr(0, shown.size() + 1), shown + "\n");
  const CliRun check = Run({"check", odd, "gone\t.rzt2"});
  EXPECT_EQ(check.out, shown + ": ok\n");
  EXPECT_EQ(check.err, "Error loading file gone\\x09.rzt2! (file not found)\n");
  EXPECT_EQ(Run({"convert", "-q", "Zürich\x7F.png"}).err,
            "Error loading file Zürich\\x7F.png! (file not found)\n");

  const CliRun json = Run({"info", "--json", odd});
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
  const QJsonObject file = document.array().at(0).toObject();
  EXPECT_EQ(file["file"].toString(), QString::fromUtf8("caf\uFFFD\n\x1B[2J.rzt2"));
  std::string bytes;
  for (const QJsonValue byte : file["fileBytes"].toArray()) bytes += static_cast<char>(byte.toInt());
  EXPECT_EQ(bytes, odd);
  EXPECT_EQ(file["imageWidth"].toInt(), 200);
}

TEST_F(CliTest, SignalsThatEndRzt2TakeItsTemporaryFileAlong) {
  ASSERT_EQ(SavePicture(dir / "big.png", "image/png", 4000, 3000), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "small.png", "image/png", 100, 80), Status::Ok);
  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t pid =
        StartRzt2(dir.Path(), {"convert", "-q", "--ignore-settings", "--zoom-mask", "255", "big.png"});
    // Killed while the map is being written.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::ranges::none_of(FolderNames(dir.Path()),
                                [](const std::string& name) { return name.ends_with(".tmp"); }) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, signal);
    EXPECT_EQ(FinishRzt2(dir.Path(), pid).signal, signal);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"big.png", "small.png"}));
  }
  // Over the file-size limit, the file fails and the batch goes on.
  const pid_t pid = StartRzt2(dir.Path(), {"convert", "-q", "--ignore-settings", "big.png", "small.png"}, [] {
    const rlimit limit{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  });
  const CliRun limited = FinishRzt2(dir.Path(), pid);
  EXPECT_EQ(limited.exitCode, 1);
  EXPECT_EQ(limited.err, "Error while creating/saving file big.rzt2! (over the file size limit)\n");
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"big.png", "small.png", "small.rzt2"}));
}

TEST_F(CliTest, StaleTemporaryFilesOfOursGoWhenTheirFolderIsWritten) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 60, 40), Status::Ok);
  const auto put = [&](const std::string& name, int hoursOld) {
    WriteFileBytes(dir / name, {1, 2, 3});
    fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(hoursOld));
  };
  put(".rzt2-stale123.tmp", 25);
  put(".rzt2-fresh123.tmp", 23);  // may still be written
  put(".rzt2-other.tmp", 48);     // not a name of ours
  put("notes.tmp", 48);
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--format", "bmp", "a.png"}).exitCode, 0);
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{".rzt2-fresh123.tmp", ".rzt2-other.tmp",
                                                               "a.bmp", "a.png", "notes.tmp"}));
}

TEST_F(CliTest, FramesOfTransparentPicturesAreThePictureComposedOnWhite) {
  // 480 x 480, transparent but for a red block in the last column of the
  // first row: 3 x 3 frames of 160, drawn row by row.
  std::unique_ptr<Bitmap> argb, indexed;
  ASSERT_EQ(Bitmap::Create(480, 480, PixelFormat::Argb32, argb), Status::Ok);
  ASSERT_EQ(Bitmap::Create(480, 480, PixelFormat::Indexed8, indexed), Status::Ok);
  ColorPalette palette;
  palette.entries = {Argb(0, 0, 255, 0), Argb(255, 255, 0, 0), kWhite};  // transparent, red, white
  for (uint32_t i = 3; i < 256; ++i) palette.entries.push_back(Argb(255, 0, 0, i));
  indexed->SetPalette(palette);
  for (int32_t y = 0; y < 480; ++y) {
    for (int32_t x = 0; x < 480; ++x) {
      const bool red = x >= 320 && y < 160;
      const uint32_t argb32 = red ? 0xFFFF0000 : 0;
      std::memcpy(argb->MutableRow(y) + 4 * static_cast<size_t>(x), &argb32, 4);
      indexed->MutableRow(y)[x] = red ? 1 : 0;
    }
  }
  WriteFileBytes(dir / "clear.png", Encode(EncodePng, *argb));
  WriteFileBytes(dir / "clear.gif", Encode(EncodeGif, *indexed));
  for (const char* name : {"clear.png", "clear.gif"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Convert({"--zoom", "none", name}));
    const QImage picture(QString::fromStdString((dir / name).string()));
    ASSERT_TRUE(picture.hasAlphaChannel());
    QImage composed(480, 480, QImage::Format_RGB32);
    composed.fill(Qt::white);
    QPainter(&composed).drawImage(0, 0, picture);
    const MapBytes map(dir / "clear.rzt2");
    const LevelEntry top = map.Entry(0);
    ASSERT_EQ(top.columns * top.rows, 9u);
    for (uint32_t k = 0; k < 9; ++k) {
      const QImage frame = DecodeWithQt(map.Frame(top, k)).convertToFormat(QImage::Format_RGB32);
      EXPECT_EQ(frame, composed.copy(static_cast<int>(k % 3) * 160, static_cast<int>(k / 3) * 160, 160, 160))
          << "frame " << k;
    }
  }
}

TEST_F(CliTest, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.rzt2").c_str(), 0600), 0);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"convert", "-q", "--ignore-settings", "pipe.png"}, "pipe.png"},
      {{"convert", "-q", "--ignore-settings", "pipe.rzt2"}, "pipe.rzt2"},
      {{"export", "-q", "--format", "png", "pipe.rzt2"}, "pipe.rzt2"},
      {{"export", "-q", "--format", "bmp", "pipe.png"}, "pipe.png"},
      {{"info", "pipe.rzt2"}, "pipe.rzt2"},
      {{"check", "pipe.rzt2"}, "pipe.rzt2"},
      {{"info", "/dev/zero"}, "/dev/zero"},
  };
  for (const auto& [args, name] : cases) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 1) << args[0] << " " << name;
    EXPECT_NE(run.err.find("Error loading file " + name + "!"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace rzt2::test
