// End-to-end: one run of each rzt2 command on generated pictures, results
// read back with the record codecs and every frame decoded by Qt's image
// readers, independently of ours; then what only the tool itself does:
// exit codes, names printed, signals, stale temporary files, non-files.
// What a job does with each file is the jobs and hostile tests' concern.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

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

TEST_F(CliTest, ConvertWritesEveryFrameFormatSoThatQtDecodesEachFrame) {
  ASSERT_EQ(SavePicture(dir / "chart.png", "image/png", 1000, 700), Status::Ok);
  for (const ImageFormat& format : kFrameFormats) {
    SCOPED_TRACE(format.name);
    ASSERT_TRUE(Convert({"--format", std::string(format.name), "chart.png"}));
    const MapBytes map(dir / "chart.rzt2");
    const LevelEntry top = map.Entry(0);
    const FrameRef preview = map.Ref(top, 0);
    for (uint32_t k = 0; k < 35; ++k) {
      ASSERT_EQ(DecodeWithQt(map.Frame(top, k)).size(), QSize(160, 160)) << "frame " << k;
    }
    EXPECT_EQ(DecodeWithQt(map.Block(preview.offset, preview.size)).size(), QSize(639, 447));
    fs::remove(dir / "chart.rzt2");
  }
  // Inputs with one output name are done in the order given, never at once;
  // without a terminal, and not asked for, no progress.
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 100, 100, 1), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "a.bmp", "image/bmp", 300, 100, 2), Status::Ok);
  const CliRun run = Run({"convert", "--ignore-settings", "-j", "2", "--frame=64x32", "a.png", "a.bmp"});
  EXPECT_EQ(std::pair(run.exitCode, run.err), std::pair(0, std::string()));
  const MapBytes map(dir / "a.rzt2");
  EXPECT_EQ(std::tuple(map.U32(48), map.Entry(0).frameWidth, map.Entry(0).frameHeight),
            std::tuple(300u, 64u, 32u));
  EXPECT_EQ(MapBytes(dir / "a.rzt2.bak").U32(48), 100u);
}

// Stale temporary files of ours go when their folder is written.
TEST_F(CliTest, ExportWritesTheMapsPictureWhiteAroundInEveryFormat) {
  ASSERT_EQ(SavePicture(dir / "chart.png", "image/png", 1000, 700), Status::Ok);
  const auto put = [&](const std::string& name, int hoursOld) {
    WriteFileBytes(dir / name, {1, 2, 3});
    fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(hoursOld));
  };
  put(".rzt2-stale123.tmp", 25);
  put(".rzt2-fresh123.tmp", 23);  // may still be written
  put(".rzt2-other.tmp", 48);     // not a name of ours
  ASSERT_TRUE(Convert({"--format", "png", "chart.png"}));
  EXPECT_EQ(FolderNames(dir.Path()),
            (std::vector<std::string>{".rzt2-fresh123.tmp", ".rzt2-other.tmp", "chart.png", "chart.rzt2"}));
  for (const char* format : {"gif", "jpeg", "png", "bmp", "tiff"}) {
    const CliRun run = Run({"export", "-q", "--ignore-settings", "--format", format, "chart.rzt2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QImage image = DecodeWithQt(ReadFileBytes(dir / (std::string("chart.") + format)));
    EXPECT_EQ(image.size(), QSize(1120, 800)) << format;
    EXPECT_EQ(image.pixel(1119, 799) & 0xFFFFFF, 0xFFFFFFu) << format;
  }
}

// Every frame of a transparent picture is the picture composed on white:
// no frame keeps what the frame drawn before it left, with either palette.
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
  for (const auto& [name, kind] : {std::pair("clear.png", "fixed"), std::pair("clear.png", "adaptive"),
                                   std::pair("clear.gif", "fixed")}) {
    SCOPED_TRACE(std::string(name) + " " + kind);
    ASSERT_TRUE(Convert({"--zoom", "none", "--palette", kind, name}));
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

// A fitted palette keeps a picture of 200 colours, pairs of which share a
// key of the 6-bit memo, exactly: through a map file and back, and in a
// GIF export. Info tells a fitted palette from the built-in one, and a map
// converted again keeps its palette whatever the option.
TEST_F(CliTest, AdaptivePaletteKeepsEveryColourOfAFewColourPicture) {
  std::unique_ptr<Bitmap> picture;
  ASSERT_EQ(Bitmap::Create(300, 100, PixelFormat::Rgb24, picture), Status::Ok);
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t x = 0; x < 300; ++x) {
      const auto i = static_cast<uint8_t>((x + 7 * y) % 200);  // Rgb24 is B, G, R
      uint8_t* bgr = picture->MutableRow(y) + 3 * x;
      bgr[0] = static_cast<uint8_t>(60 + (i & 1));
      bgr[1] = static_cast<uint8_t>(4 * (i / 2 % 10) + 40);
      bgr[2] = static_cast<uint8_t>(4 * (i / 20) + 100);
    }
  }
  WriteFileBytes(dir / "few.png", Encode(EncodePng, *picture));
  const auto exact = [&](const fs::path& path) {
    const QImage image(QString::fromStdString(path.string()));
    for (int32_t y = 0; y < 100; ++y) {
      for (int32_t x = 0; x < 300; ++x) {
        if ((image.pixel(x, y) & 0xFFFFFF) != (picture->PixelArgb(x, y) & 0xFFFFFF)) return false;
      }
    }
    return true;
  };
  ASSERT_TRUE(Convert({"--palette", "adaptive", "--zoom", "none", "few.png"}));
  const std::string info = Run({"info", "few.rzt2"}).out;
  EXPECT_NE(info.find("palette   its own, 201 colours"), std::string::npos) << info;
  fs::create_directory(dir / "out");
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--format", "png", "-o", "out", "few.rzt2"}).exitCode,
            0);
  EXPECT_TRUE(exact(dir / "out" / "few.png"));
  fs::rename(dir / "few.rzt2", dir / "again.rzt2");
  ASSERT_TRUE(Convert({"--palette", "fixed", "again.rzt2"}));
  EXPECT_NE(Run({"info", "--json", "again.rzt2"}).out.find(R"("kind": "own")"), std::string::npos);
  ASSERT_TRUE(Convert({"--palette", "fixed", "few.png"}));
  EXPECT_NE(Run({"info", "few.rzt2"}).out.find("palette   built-in"), std::string::npos);
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--palette", "adaptive", "--format", "gif", "few.png"})
                .exitCode,
            0);
  EXPECT_TRUE(exact(dir / "few.gif"));
  EXPECT_NE(Run({"convert", "--help"}).out.find("--palette"), std::string::npos);
}

// Names print on one line with their odd bytes escaped; JSON keeps them as UTF-8 and bytes.
TEST_F(CliTest, InfoAndCheckReadMapFilesAndPrintEachNameOnOneLine) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 1000, 700), Status::Ok);
  ASSERT_TRUE(Convert({"-o", ".", "a.png"}));
  EXPECT_NE(Run({"info", "a.rzt2"}).out.find("1000 x 700"), std::string::npos);
  auto bytes = ReadFileBytes(dir / "a.rzt2");
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(dir / "short.rzt2", bytes);
  const std::string odd = "caf\xE9\n\x1B[2J.rzt2";  // Latin-1, a newline, "clear the screen"
  const std::string shown = "caf\\xE9\\x0A\\x1B[2J.rzt2";
  fs::copy_file(dir / "a.rzt2", dir / odd);
  const CliRun check = Run({"check", odd, "short.rzt2", "a.png", "gone\t.rzt2"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.out.find(shown + ": ok\n"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("short.rzt2: level 0"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("a.png: not a map file"), std::string::npos) << check.out;
  EXPECT_EQ(check.err, "Error loading file gone\\x09.rzt2! (file not found)\n");

  const CliRun json = Run({"info", "--json", odd});
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
  const QJsonObject file = document.array().at(0).toObject();
  EXPECT_EQ(file["file"].toString(), QString::fromUtf8("caf\uFFFD\n\x1B[2J.rzt2"));
  std::string named;
  for (const QJsonValue byte : file["fileBytes"].toArray()) named += static_cast<char>(byte.toInt());
  EXPECT_EQ(named, odd);
}

// Metafiles convert at their frame's size into maps that check; damaged
// ones are reported and the batch goes on.
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
  EXPECT_EQ(Run({"check", "chart.rzt2", "plan.rzt2"}).exitCode, 0);
}

// Unusable command lines exit with 2, inputs that are not regular files
// with 1 at once, each naming the cause.
TEST_F(CliTest, UnusableCommandLinesAndInputsExitNamingTheCause) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 50, 50), Status::Ok);
  ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.rzt2").c_str(), 0600), 0);
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"convert", "--bogus", "a.png"}, 2, "--bogus"},
      {{"convert", "--format", "webp", "a.png"}, 2, "webp"},
      {{"convert", "-j", "0", "a.png"}, 2, "--jobs"},
      {{"convert", "--memory", "lots", "a.png"}, 2, "--memory"},
      {{"export", "a.png"}, 2, "--format"},
      {{"convert"}, 2, "FILE"},
      {{}, 2, "subcommand"},
      {{"convert", "-q", "--ignore-settings", "pipe.png"}, 1, "Error loading file pipe.png!"},
      {{"export", "-q", "--format", "png", "pipe.rzt2"}, 1, "Error loading file pipe.rzt2!"},
      {{"info", "/dev/zero"}, 1, "Error loading file /dev/zero!"},
  };
  for (const auto& [args, code, named] : cases) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, code) << named;
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
  }
  // A stored format code out of range is refused, naming it, before any file is touched.
  fs::create_directories(dir / ".config/Velmora");
  std::ofstream(dir / ".config/Velmora/rzt2tool.conf") << "[General]\nEncoderCode=7\n";
  const CliRun stored = Run({"convert", "a.png"});
  EXPECT_EQ(stored.exitCode, 2);
  EXPECT_NE(stored.err.find("RZT2 frames encoder algorithm is 7"), std::string::npos) << stored.err;
  EXPECT_FALSE(fs::exists(dir / "a.rzt2"));
  EXPECT_EQ(Run({"convert", "-q", "--format", "png", "a.png"}).exitCode, 0);
}

TEST_F(CliTest, JsonProgressWeighsFilesByTheirPixelsAndEndsAtAHundred) {
  ASSERT_EQ(SavePicture(dir / "big.png", "image/png", 1600, 1200), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "small.png", "image/png", 200, 100), Status::Ok);
  const CliRun run =
      Run({"convert", "--ignore-settings", "--progress=json", "-j", "1", "big.png", "small.png"});
  EXPECT_EQ(run.exitCode, 0);
  std::istringstream lines(run.err);
  double percent = 0, percentAfterBig = 0;
  QJsonObject last;
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error{};
    last = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_GE(last["percent"].toDouble(), percent) << line;
    EXPECT_LE(last["done"].toInteger(), last["total"].toInteger()) << line;
    percent = last["percent"].toDouble();
    if (last["filesDone"].toInt() == 1) percentAfterBig = percent;
  }
  EXPECT_EQ(last["filesDone"].toInt(), 2);
  EXPECT_EQ(last["percent"].toDouble(), 100.0);
  EXPECT_EQ(last["done"].toInteger(), last["total"].toInteger());
  EXPECT_GT(percentAfterBig, 90.0);  // a hundred times the small picture's pixels
}

TEST_F(CliTest, SignalsThatEndRzt2TakeItsTemporaryFileAlong) {
  ASSERT_EQ(SavePicture(dir / "big.png", "image/png", 4000, 3000), Status::Ok);
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
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"big.png"});
  }
}

}  // namespace
}  // namespace rzt2::test
