// End-to-end: one run of each rzt2 command on generated pictures, results
// read back with the record codecs and every frame decoded by Qt's image
// readers, independently of ours; then what only the tool itself does:
// exit codes, names printed, signals, stale temporary files, non-files.
// What a job does with each file is the jobs and hostile tests' concern.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QColorSpace>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "cli/cli_runner.h"
#include "hostile/hostile_files.h"
#include "mapfile/map_test_helpers.h"
#include "raster/codecs/image_formats.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

QImage DecodeWithQt(const std::vector<uint8_t>& bytes) {
  return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
}

// A report's lines, each a JSON object.
std::vector<QJsonObject> ReportLines(const std::string& text) {
  std::vector<QJsonObject> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    QJsonParseError error{};
    lines.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object());
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  }
  return lines;
}

// A name from a JSON object: its bytes when given, else its text.
std::string NameIn(const QJsonObject& object, const QString& key) {
  if (!object.contains(key + "Bytes")) return object[key].toString().toStdString();
  std::string name;
  for (const QJsonValue byte : object[key + "Bytes"].toArray()) name += static_cast<char>(byte.toInt());
  return name;
}

class CliTest : public ::testing::Test {
 protected:
  TempDir dir;
  CliRun Run(const std::vector<std::string>& args) { return RunRzt2(dir.Path(), args); }
  CliRun RunWithInput(const std::vector<std::string>& args, const fs::path& input) {
    return FinishRzt2(dir.Path(), StartRzt2(dir.Path(), args, nullptr, input));
  }
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
  // Of inputs with one output name the first writes it, the others fail;
  // without a terminal, and not asked for, no progress.
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 100, 100, 1), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "a.bmp", "image/bmp", 300, 100, 2), Status::Ok);
  const CliRun run = Run({"convert", "--ignore-settings", "-j", "2", "--frame=64x32", "a.png", "a.bmp"});
  EXPECT_EQ(std::pair(run.exitCode, run.err),
            std::pair(1, std::string("Error while creating/saving file a.rzt2! (also the output of a.png, "
                                     "earlier in this job)\n")));
  const MapBytes map(dir / "a.rzt2");
  EXPECT_EQ(std::tuple(map.U32(48), map.Entry(0).frameWidth, map.Entry(0).frameHeight),
            std::tuple(100u, 64u, 32u));
  EXPECT_FALSE(fs::exists(dir / "a.rzt2.bak"));
}

// Stale temporary files of ours go when their folder is written.
TEST_F(CliTest, ExportWritesTheMapsPictureAtItsOwnSizeInEveryFormat) {
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
  // The picture keeps its own size, not its frame grid's (1120 x 800); the
  // picture it was made from is kept as a backup, which is said; -o makes
  // its folder.
  const std::vector<uint8_t> original = ReadFileBytes(dir / "chart.png");
  for (const char* format : {"gif", "jpeg", "png", "bmp", "tiff"}) {
    const CliRun run = Run({"export", "-q", "--ignore-settings", "--format", format, "chart.rzt2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, std::string(format) == "png"
                           ? "Replaced chart.png; the earlier file is now chart.png.bak\n"
                           : "");
    const QImage image = DecodeWithQt(ReadFileBytes(dir / (std::string("chart.") + format)));
    EXPECT_EQ(image.size(), QSize(1000, 700)) << format;
  }
  EXPECT_EQ(ReadFileBytes(dir / "chart.png.bak"), original);
  const CliRun json = Run({"export", "--progress=json", "--format", "gif", "chart.rzt2"});
  EXPECT_NE(json.err.find(R"({"replaced":"chart.gif","backup":"chart.gif.bak"})"), std::string::npos)
      << json.err;
  ASSERT_EQ(Run({"export", "-q", "--format", "bmp", "-o", "made/in", "chart.rzt2"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(dir / "made/in/chart.bmp"));
  // Damaged frames leave the picture white there, and fail the file.
  std::vector<uint8_t> bytes = ReadFileBytes(dir / "chart.rzt2");
  const FrameRef last = MapBytes(bytes).Ref(MapBytes(bytes).Entry(0), kFirstFrameRef + 34);
  std::fill_n(bytes.begin() + last.offset, last.size, uint8_t{0});
  WriteFileBytes(dir / "chart.rzt2", bytes);
  const CliRun damaged = Run({"export", "-q", "--format", "png", "chart.rzt2"});
  EXPECT_EQ(std::pair(damaged.exitCode, damaged.err),
            std::pair(1, std::string("Replaced chart.png; chart.png.bak was taken, so the earlier file was "
                                     "not kept\nError loading file chart.rzt2! (1 of 35 frames damaged)\n")));
  EXPECT_EQ(DecodeWithQt(ReadFileBytes(dir / "chart.png")).pixel(999, 699) & 0xFFFFFF, 0xFFFFFFu);
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
  // A band of half-transparent red across blue, and no clear pixel at all.
  for (int32_t y = 0; y < 480; ++y) {
    for (int32_t x = 0; x < 480; ++x) {
      const uint32_t argb32 = y >= 200 && y < 280 ? 0x80FF0000 : 0xFF2040C0;
      std::memcpy(argb->MutableRow(y) + 4 * static_cast<size_t>(x), &argb32, 4);
    }
  }
  WriteFileBytes(dir / "half.png", Encode(EncodePng, *argb));
  // Composing rounds its own way: within 2 for a translucent pixel.
  const auto difference = [](const QImage& a, const QImage& b) {
    int most = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) {
        const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
        most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                         std::abs(qBlue(p) - qBlue(q))});
      }
    }
    return most;
  };
  for (const auto& [name, kind] : {std::pair("clear.png", "fixed"), std::pair("clear.png", "adaptive"),
                                   std::pair("clear.gif", "fixed"), std::pair("half.png", "adaptive")}) {
    SCOPED_TRACE(std::string(name) + " " + kind);
    ASSERT_TRUE(Convert({"--zoom", "none", "--palette", kind, name}));
    const QImage picture(QString::fromStdString((dir / name).string()));
    ASSERT_TRUE(picture.hasAlphaChannel());
    QImage composed(480, 480, QImage::Format_RGB32);
    composed.fill(Qt::white);
    QPainter(&composed).drawImage(0, 0, picture);
    const MapBytes map(dir / fs::path(name).replace_extension(".rzt2"));
    const LevelEntry top = map.Entry(0);
    ASSERT_EQ(top.columns * top.rows, 9u);
    for (uint32_t k = 0; k < 9; ++k) {
      const QImage frame = DecodeWithQt(map.Frame(top, k)).convertToFormat(QImage::Format_RGB32);
      const QImage expected =
          composed.copy(static_cast<int>(k % 3) * 160, static_cast<int>(k / 3) * 160, 160, 160);
      ASSERT_EQ(frame.size(), expected.size());
      EXPECT_LE(difference(frame, expected), name == std::string("half.png") ? 2 : 0) << "frame " << k;
    }
  }
}

// Every frame of every level and the preview, decoded by Qt from its
// level's shared prefix and its body, as ARGB pixels (PNG's gAMA chunk
// gives its pictures a colour space, which is not compared).
std::vector<QImage> DecodeEveryFrame(const MapBytes& map) {
  std::vector<QImage> frames;
  const auto add = [&](const std::vector<uint8_t>& encoding) {
    frames.push_back(DecodeWithQt(encoding).convertToFormat(QImage::Format_ARGB32));
    frames.back().setColorSpace(QColorSpace());
    return !frames.back().isNull();
  };
  for (uint32_t level = 0; level < kZoomLevels.size(); ++level) {
    const LevelEntry entry = map.Entry(level);
    for (uint64_t k = 0; k < uint64_t{entry.columns} * entry.rows; ++k) {
      EXPECT_TRUE(add(map.Frame(entry, k))) << "level " << level << " frame " << k;
    }
  }
  const FrameRef preview = map.Ref(map.Entry(0), 0);
  EXPECT_TRUE(add(map.Block(preview.offset, preview.size)));
  return frames;
}

// Smaller maps keep the pixels. In every frame format, with either palette
// and either compression, a smooth picture with a half-transparent band
// gives frames that Qt decodes to the colours of the uncompressed BMP
// frames (JPEG's: to those of the other compression). A PNG level's prefix
// is every chunk before the image data and the zlib header, so each body
// starts with the image data; a fitted palette is stored by lightness;
// small PNG maps are smaller. Info tells what the bytes are.
TEST_F(CliTest, EveryCompressionKeepsEveryFramesPixels) {
  std::unique_ptr<Bitmap> picture;
  ASSERT_EQ(Bitmap::Create(400, 300, PixelFormat::Argb32, picture), Status::Ok);
  for (int32_t y = 0; y < 300; ++y) {
    for (int32_t x = 0; x < 400; ++x) {
      const bool district = (x / 50 + y / 50) % 3 == 0;
      const uint32_t argb =
          district ? Argb(255, 200, 180, 90)
                   : Argb(x < 40 ? 128 : 255, static_cast<uint32_t>(x * 255 / 399),
                          static_cast<uint32_t>(y * 255 / 299), static_cast<uint32_t>(255 - x * 127 / 399));
      std::memcpy(picture->MutableRow(y) + 4 * static_cast<size_t>(x), &argb, 4);
    }
  }
  WriteFileBytes(dir / "rain.png", Encode(EncodePng, *picture));
  const auto convert = [&](const std::string& format, const std::string& palette, const std::string& size) {
    const std::string folder = format + "-" + palette + "-" + size;
    EXPECT_TRUE(Convert({"--format", format, "--palette", palette, "--compression", size, "--frame", "96x64",
                         "-o", folder, "rain.png"}));
    return dir / folder / "rain.rzt2";
  };
  for (const std::string palette : {"fixed", "adaptive"}) {
    SCOPED_TRACE(palette);
    const std::vector<QImage> reference = DecodeEveryFrame(MapBytes(convert("bmp", palette, "fast")));
    ASSERT_GT(reference.size(), 40u);
    for (const std::string format : {"gif", "png", "tiff"}) {
      for (const std::string size : {"fast", "small"}) {
        EXPECT_TRUE(DecodeEveryFrame(MapBytes(convert(format, palette, size))) == reference)
            << format << " " << size;
      }
    }
    EXPECT_TRUE(DecodeEveryFrame(MapBytes(convert("jpeg", palette, "fast"))) ==
                DecodeEveryFrame(MapBytes(convert("jpeg", palette, "small"))));
    for (const std::string size : {"fast", "small"}) {
      const MapBytes map(dir / ("png-" + palette + "-" + size) / "rain.rzt2");
      for (uint32_t level = 0; level < kZoomLevels.size(); ++level) {
        const LevelEntry entry = map.Entry(level);
        if (entry.scale == 0) continue;
        const std::vector<uint8_t> prefixEnd = map.Block(entry.prefixOffset + entry.prefixSize - 14, 8);
        EXPECT_EQ(prefixEnd, (std::vector<uint8_t>{0, 0, 0, 2, 'I', 'D', 'A', 'T'}))
            << size << " level " << level;
        for (uint64_t k = 0; k < uint64_t{entry.columns} * entry.rows; ++k) {
          const std::vector<uint8_t> head = map.Block(map.Ref(entry, kFirstFrameRef + k).offset, 8);
          EXPECT_EQ(std::string(head.begin() + 4, head.end()), "IDAT")
              << size << " level " << level << " frame " << k;
        }
      }
    }
    EXPECT_LT(fs::file_size(dir / ("png-" + palette + "-small/rain.rzt2")),
              fs::file_size(dir / ("png-" + palette + "-fast/rain.rzt2")));
  }
  const MapBytes fitted(dir / "png-adaptive-fast/rain.rzt2");
  const FrameRef preview = fitted.Ref(fitted.Entry(0), 0);
  const QList<QRgb> colours = DecodeWithQt(fitted.Block(preview.offset, preview.size)).colorTable();
  ASSERT_EQ(colours.size(), 256);
  const auto lightness = [](QRgb c) { return 299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c); };
  for (qsizetype i = 2; i < 255; ++i) EXPECT_LE(lightness(colours[i - 1]), lightness(colours[i])) << i;

  const CliRun info = Run({"info", "--json", "png-fixed-fast/rain.rzt2"});
  const QJsonObject bytes =
      QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).array().at(0)["bytes"].toObject();
  const MapBytes map(dir / "png-fixed-fast/rain.rzt2");
  uint64_t tables = kPreviewOffset, prefixes = 0;
  for (uint32_t level = 0; level < kZoomLevels.size(); ++level) {
    tables += uint64_t{map.Entry(level).refCount} * kFrameRefSize;
    prefixes += map.Entry(level).prefixSize;
  }
  const FrameRef shown = map.Ref(map.Entry(0), 0);
  EXPECT_EQ(
      std::tuple(bytes["tables"].toInteger(), bytes["prefixes"].toInteger(), bytes["preview"].toInteger(),
                 bytes["frames"].toInteger()),
      std::tuple(static_cast<qint64>(tables), static_cast<qint64>(prefixes), static_cast<qint64>(shown.size),
                 static_cast<qint64>(map.Bytes().size() - tables - prefixes - shown.size)));
  EXPECT_NE(Run({"info", "png-fixed-fast/rain.rzt2"}).out.find("  bytes     frames "), std::string::npos);
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
      uint8_t* bgr = picture->MutableRow(y) + ptrdiff_t{3} * x;
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
  ASSERT_TRUE(Convert({"--palette", "fitted", "--zoom", "none", "few.png"}));
  const std::string info = Run({"info", "few.rzt2"}).out;
  EXPECT_NE(info.find("palette   fitted or the picture's own, 201 colours"), std::string::npos) << info;
  fs::create_directory(dir / "out");
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--format", "png", "-o", "out", "few.rzt2"}).exitCode,
            0);
  EXPECT_TRUE(exact(dir / "out" / "few.png"));
  fs::rename(dir / "few.rzt2", dir / "again.rzt2");
  ASSERT_TRUE(Convert({"--palette", "fixed", "again.rzt2"}));
  EXPECT_NE(Run({"info", "--json", "again.rzt2"}).out.find(R"("kind": "own")"), std::string::npos);
  ASSERT_TRUE(Convert({"--palette", "built-in", "few.png"}));
  EXPECT_NE(Run({"info", "few.rzt2"}).out.find("palette   built-in"), std::string::npos);
  // The earlier names of the choices still work.
  ASSERT_EQ(Run({"export", "-q", "--ignore-settings", "--palette", "adaptive", "--format", "gif", "few.png"})
                .exitCode,
            0);
  EXPECT_TRUE(exact(dir / "few.gif"));
  const std::string help = Run({"convert", "--help"}).out;
  EXPECT_NE(help.find("{built-in,fitted}"), std::string::npos) << help;
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
  // A cause naming another file escapes its odd bytes as the message does.
  const std::string stem = odd.substr(0, odd.size() - 5);
  ASSERT_EQ(SavePicture(dir / (stem + ".png"), "image/png", 40, 30), Status::Ok);
  ASSERT_EQ(SavePicture(dir / (stem + ".bmp"), "image/bmp", 40, 30), Status::Ok);
  const CliRun twice = Run({"convert", "-q", "--ignore-settings", stem + ".png", stem + ".bmp"});
  EXPECT_NE(twice.err.find("Error while creating/saving file " + shown + "! (also the output of " +
                           shown.substr(0, shown.size() - 5) + ".png, earlier in this job)\n"),
            std::string::npos)
      << twice.err;
  EXPECT_EQ(twice.err.find('\x1B'), std::string::npos);
  // A metafile planted as a frame is no frame: it is never rendered.
  ASSERT_TRUE(Convert({"--format", "bmp", "-o", "bmp", "a.png"}));
  std::vector<uint8_t> planted = ReadFileBytes(dir / "bmp/a.rzt2");
  const FrameRef first = MapBytes(planted).Ref(MapBytes(planted).Entry(0), kFirstFrameRef);
  const auto wmf = ReadFileBytes(fs::path(RZT2_TEST_DATA) / "metafiles/map.wmf");
  std::copy(wmf.begin(), wmf.end(), planted.begin() + first.offset);
  WriteFileBytes(dir / "bmp/a.rzt2", planted);
  EXPECT_NE(Run({"check", "bmp/a.rzt2"}).out.find("frame 0 does not decode: unknown image format"),
            std::string::npos);

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
  fs::copy_file(data / "huge-frame.wmf", dir / "huge.wmf");
  const CliRun run = Run({"convert", "-q", "-j", "2", "--ignore-settings", "--memory", "1G", "chart.emf",
                          "truncated.wmf", "corrupt.emf", "huge.wmf", "plan.wmf"});
  EXPECT_EQ(run.exitCode, 1);
  for (const char* name : {"truncated.wmf", "corrupt.emf"}) {
    EXPECT_NE(run.err.find(std::string("Error loading file ") + name + "!"), std::string::npos) << run.err;
  }
  EXPECT_NE(run.err.find("Error loading file huge.wmf! (needs more memory than allowed (--memory 1G))"),
            std::string::npos)
      << run.err;
  for (const auto& [name, width, height] :
       {std::tuple{"chart.rzt2", 242u, 162u}, {"plan.rzt2", 240u, 160u}}) {
    const MapBytes map(dir / name);
    EXPECT_EQ(map.U32(48), width) << name;
    EXPECT_EQ(map.U32(52), height) << name;
  }
  EXPECT_EQ(Run({"check", "chart.rzt2", "plan.rzt2"}).exitCode, 0);
}

// Each format only decoded (tests/data/drawn and the pictures made from
// source.png) makes the map its PNG makes: exported back, the same size and
// within a PSNR. A damaged file of each fails with a cause, and the batch
// goes on.
TEST_F(CliTest, DecodedFormatsConvertAsTheirPngDoesAndDamagedOnesAreReported) {
  const fs::path drawn = fs::path(RZT2_TEST_DATA) / "drawn";
  struct Case {
    fs::path file;
    const char* reference;  // the map of the PNG it was made from
    double psnr;
  };
  // poppler's Splash resamples a PDF's embedded picture even at its own
  // size, which blurs its edges: a PDF is held to the lossy formats' bound.
  const Case cases[] = {{drawn / "map.png", "map-png", 99},
                        {drawn / "map.pdf", "map-png", 25},
                        {drawn / "map.svg", "map-png", 40},
                        {drawn / "map.svgz", "map-png", 40},
                        {drawn / "map.heic", "map-png", 40},
                        {drawn / "map.avif", "map-png", 40},
                        {kDecodeOnlyPictures / "source.png", "source-png", 99},
                        {kDecodeOnlyPictures / "lossless.webp", "source-png", 40},
                        {kDecodeOnlyPictures / "lossy.webp", "source-png", 25},
                        {kDecodeOnlyPictures / "animated.webp", "source-png", 40},
                        {kDecodeOnlyPictures / "lossless.jp2", "source-png", 40},
                        {kDecodeOnlyPictures / "lossy.jp2", "source-png", 25},
                        {kDecodeOnlyPictures / "tiled.jp2", "source-png", 40},
                        {kDecodeOnlyPictures / "codestream.j2k", "source-png", 40},
                        {kDecodeOnlyPictures / "alpha.png", "alpha-png", 99},
                        {kDecodeOnlyPictures / "alpha.webp", "alpha-png", 40},
                        {kDecodeOnlyPictures / "alpha.jp2", "alpha-png", 40}};
  // Each under a name of its own: "lossless.webp" is "lossless-webp.webp".
  const auto stem = [](const fs::path& file) {
    return file.stem().string() + "-" + file.extension().string().substr(1);
  };
  // Fitted palettes: with the built-in one, a lossy format's small errors
  // flip whole palette steps.
  std::vector<std::string> args = {"convert", "-q", "--ignore-settings", "--palette", "adaptive"};
  std::set<std::string> damaged;
  for (const Case& item : cases) {
    const std::string extension = item.file.extension().string();
    args.push_back(stem(item.file) + extension);
    fs::copy_file(item.file, dir / args.back());
    const std::string broken = "damaged-" + extension.substr(1) + extension;
    if (extension == ".png" || !damaged.insert(broken).second) continue;
    auto bytes = ReadFileBytes(item.file);
    bytes.resize(std::min<size_t>(bytes.size() / 2, 200));
    WriteFileBytes(dir / broken, bytes);
    args.push_back(broken);
  }
  const CliRun run = Run(args);
  EXPECT_EQ(run.exitCode, 1);
  for (const std::string& name : damaged) {
    EXPECT_NE(run.err.find("Error loading file " + name + "! ("), std::string::npos) << run.err;
  }
  fs::create_directory(dir / "out");
  std::vector<std::string> exports = {"export", "-q", "--format", "png", "-o", "out"};
  for (const Case& item : cases) exports.push_back(stem(item.file) + ".rzt2");
  ASSERT_EQ(Run(exports).exitCode, 0);
  for (const Case& item : cases) {
    SCOPED_TRACE(item.file);
    const auto reference =
        Decoded(DecodePng, ReadFileBytes(dir / "out" / (item.reference + std::string(".png"))));
    const auto picture = Decoded(DecodePng, ReadFileBytes(dir / "out" / (stem(item.file) + ".png")));
    ASSERT_TRUE(reference && picture);
    ASSERT_EQ(std::pair(picture->Width(), picture->Height()),
              std::pair(reference->Width(), reference->Height()));
    EXPECT_GE(Psnr(*reference, *picture), item.psnr);
  }
}

// A PDF of three pages of three sizes: --all-pages makes a map of each,
// --page one of the second; --dpi scales a page; a page past the last fails.
// A page turned by its rotation is drawn turned, and --dpi scales an SVG too.
TEST_F(CliTest, PagesOfAPdfConvertEachIntoItsOwnMapOrOneByNumber) {
  const fs::path drawn = fs::path(RZT2_TEST_DATA) / "drawn";
  for (const char* name : {"pages.pdf", "rotated.pdf", "map.svg"}) fs::copy_file(drawn / name, dir / name);
  const auto size = [this](const std::string& name) {
    const MapBytes map(dir / name);
    return std::pair{map.U32(48), map.U32(52)};
  };
  ASSERT_TRUE(Convert({"--all-pages", "pages.pdf"}));
  EXPECT_EQ(size("pages-p1.rzt2"), std::pair(300u, 200u));
  EXPECT_EQ(size("pages-p2.rzt2"), std::pair(200u, 300u));
  EXPECT_EQ(size("pages-p3.rzt2"), std::pair(150u, 150u));
  EXPECT_FALSE(fs::exists(dir / "pages.rzt2"));
  ASSERT_TRUE(Convert({"--page", "2", "pages.pdf"}));
  EXPECT_EQ(size("pages.rzt2"), std::pair(200u, 300u));
  ASSERT_TRUE(Convert({"--page", "2", "--dpi", "75", "pages.pdf"}));
  EXPECT_EQ(size("pages.rzt2"), std::pair(100u, 150u));
  const CliRun run = Run({"convert", "-q", "--ignore-settings", "--page", "4", "pages.pdf"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error loading file pages.pdf! (has 3 pages)"), std::string::npos) << run.err;

  ASSERT_TRUE(Convert({"rotated.pdf"}));
  ASSERT_TRUE(Convert({"--dpi", "48", "map.svg"}));
  EXPECT_EQ(size("rotated.rzt2"), std::pair(150u, 300u));
  EXPECT_EQ(size("map.rzt2"), std::pair(160u, 100u));
  ASSERT_EQ(Run({"export", "-q", "--format", "png", "rotated.rzt2", "map.rzt2"}).exitCode, 0);
  const auto red = [](QRgb pixel) { return qRed(pixel) > 180 && qGreen(pixel) < 80 && qBlue(pixel) < 80; };
  const auto blue = [](QRgb pixel) { return qBlue(pixel) > 150 && qRed(pixel) < 80; };
  const QImage turned = DecodeWithQt(ReadFileBytes(dir / "rotated.png"));
  EXPECT_TRUE(red(turned.pixel(75, 70)));  // the page's left half, turned to the top
  EXPECT_EQ(turned.pixel(75, 230) & 0xFFFFFF, 0xFFFFFFu);
  const QImage halved = DecodeWithQt(ReadFileBytes(dir / "map.png"));  // the SVG at 48 of its 96 dpi
  EXPECT_TRUE(red(halved.pixel(50, 30)));
  EXPECT_TRUE(blue(halved.pixel(120, 70)));
  EXPECT_EQ(halved.pixel(5, 95) & 0xFFFFFF, 0xFFFFFFu);
}

// Files of a few bytes that claim hours or gigabytes fail at once, naming
// what to change: a PDF whose page tree repeats one node (a million pages
// from 1 KB, or ten million) is refused from its count under --all-pages;
// a JPEG 2000 of one 25000 x 25000 tile and an animated WebP on a 16384 x
// 16384 canvas are refused from their headers under --memory 64M. An SVG
// whose root element follows a long comment is still an SVG.
TEST_F(CliTest, BombsFailAtOnceNamingWhatToChange) {
  for (const int levels : {6, 7}) {
    const std::string pdf = PdfOfRepeatedPages(levels);
    WriteFileBytes(dir / ("p" + std::to_string(levels) + ".pdf"), {pdf.begin(), pdf.end()});
  }
  WriteFileBytes(dir / "tile.j2k", Jpeg2000Claiming(25000, 25000, 25000));
  WriteFileBytes(dir / "anim.webp", WebpAnimationClaiming(16384, 16384));
  const std::string svg = "<?xml version=\"1.0\"?>\n<!--" + std::string(5000, '.') +
                          "-->\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"10\">"
                          "<rect width=\"20\" height=\"10\" fill=\"red\"/></svg>\n";
  WriteFileBytes(dir / "commented.svg", {svg.begin(), svg.end()});
  // librsvg aborts on a convolution matrix of 21 x 21.
  std::string kernel;
  for (int i = 0; i < 21 * 21; ++i) kernel += " 1";
  const std::string crashing =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"><filter id=\"f\">"
      "<feConvolveMatrix order=\"21\" kernelMatrix=\"" +
      kernel + "\"/></filter><rect width=\"9\" height=\"9\" filter=\"url(#f)\"/></svg>";
  WriteFileBytes(dir / "crashing.svg", {crashing.begin(), crashing.end()});
  const CliRun pages = Run({"convert", "-q", "--ignore-settings", "--all-pages", "p6.pdf", "p7.pdf"});
  EXPECT_EQ(pages.exitCode, 1);
  for (const std::string count : {"1000000", "10000000"}) {
    EXPECT_NE(pages.err.find("pages; at most 10000 are converted at once, see --max-pages)"),
              std::string::npos)
        << pages.err;
    EXPECT_NE(pages.err.find("(has " + count + " pages;"), std::string::npos) << pages.err;
  }
  const CliRun memory =
      Run({"convert", "-q", "--ignore-settings", "--memory", "64M", "tile.j2k", "anim.webp"});
  EXPECT_EQ(memory.exitCode, 1);
  for (const std::string name : {"tile.j2k", "anim.webp"}) {
    EXPECT_NE(
        memory.err.find("Error loading file " + name + "! (needs more memory than allowed (--memory 64M))"),
        std::string::npos)
        << memory.err;
  }
  EXPECT_TRUE(Convert({"commented.svg"}));
  const CliRun crash = Run({"convert", "-q", "--ignore-settings", "crashing.svg"});
  EXPECT_NE(crash.err.find(
                "Error loading file crashing.svg! (the drawing library gave up: it crashed on the file)"),
            std::string::npos)
      << crash.err;
  EXPECT_EQ(FolderNames(dir.Path()),
            (std::vector<std::string>{"anim.webp", "commented.rzt2", "commented.svg", "crashing.svg",
                                      "p6.pdf", "p7.pdf", "tile.j2k"}));
}

// Every option that names a setting overrides the stored one; the settings
// no option names come from the store.
TEST_F(CliTest, EachOptionOverridesItsStoredSettingAndTheOthersComeFromTheStore) {
  fs::create_directories(dir / ".config/Velmora");
  std::ofstream(dir / ".config/Velmora/rzt2tool.conf")
      << "[General]\nFrameSizeX=100\nFrameSizeY=90\nMiniFrameSizeX=200\nMiniFrameSizeY=150\nZoomLevelsMask="
         "0\n"
         "EncoderCode=2\nPaletteMode=1\nDrawingDpi=75\nAllPages=1\nDstFolderAsSame=1\n";
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 300, 200), Status::Ok);
  fs::copy_file(fs::path(RZT2_TEST_DATA) / "drawn" / "pages.pdf", dir / "pages.pdf");
  // Frame size, preview width, whether level 1 is stored, the frames' first
  // bytes, the palette's kind.
  const auto shape = [this](const std::string& name) {
    const MapBytes map(dir / name);
    const LevelEntry top = map.Entry(0);
    const FrameRef preview = map.Ref(top, 0);
    const std::string info = Run({"info", name}).out;
    return std::tuple(top.frameWidth, top.frameHeight,
                      DecodeWithQt(map.Block(preview.offset, preview.size)).width(), map.Entry(1).scale != 0,
                      map.Frame(top, 0).at(1), info.find("built-in") != std::string::npos);
  };
  ASSERT_EQ(Run({"convert", "-q", "a.png"}).exitCode, 0);
  EXPECT_EQ(shape("a.rzt2"), std::tuple(100u, 90u, 200, false, uint8_t{'P'}, false));
  ASSERT_EQ(Run({"convert", "-q", "--frame", "64x48", "--preview", "128x128", "--zoom", "from50", "--format",
                 "gif", "--palette", "fixed", "a.png"})
                .exitCode,
            0);
  EXPECT_EQ(shape("a.rzt2"), std::tuple(64u, 48u, 128, true, uint8_t{'I'}, true));
  ASSERT_EQ(Run({"convert", "-q", "--zoom-mask", "2", "a.png"}).exitCode, 0);
  EXPECT_TRUE(std::get<3>(shape("a.rzt2")));
  // Each page at the stored 75 pixels an inch, or one page at the dpi given.
  ASSERT_EQ(Run({"convert", "-q", "pages.pdf"}).exitCode, 0);
  EXPECT_EQ(MapBytes(dir / "pages-p2.rzt2").U32(48), 100u);
  ASSERT_EQ(Run({"convert", "-q", "--page", "2", "--dpi", "150", "pages.pdf"}).exitCode, 0);
  EXPECT_EQ(MapBytes(dir / "pages.rzt2").U32(48), 200u);
}

// Every extension of the format table, and the map file's, is offered by
// bash completion to convert and named by both man pages, which the build
// fills in from the table; every format is named by the texts written by
// hand, and the README lists every extension as the desktop program does.
TEST_F(CliTest, EveryFormatIsOfferedByCompletionAndNamedByTheManPagesAndTexts) {
  const fs::path build(RZT2_BUILD_DIR), source(RZT2_SOURCE_DIR);
  std::vector<std::string> extensions{std::string(kMapFileExtension)};
  for (const ImageFormat& format : kImageFormats) {
    extensions.insert(extensions.end(), format.extensions.begin(), format.extensions.end());
  }
  fs::create_directory(dir / "named");
  std::set<std::string> named;
  for (const std::string& extension : extensions) {
    std::string upper = extension;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& name : {"a." + extension, "B." + upper}) {
      WriteFileBytes(dir / "named" / name, {});
      named.insert(name);
    }
  }
  WriteFileBytes(dir / "named" / "notes.txt", {});
  std::ofstream(dir / "complete.sh")
      << "cd named && source /usr/share/bash-completion/bash_completion && source '"
      << (build / "resources/rzt2.bash-completion").string()
      << "' && COMP_WORDS=(rzt2 convert '') && COMP_CWORD=2 && COMP_LINE='rzt2 convert ' && COMP_POINT=13 && "
         "_rzt2 && printf '%s\\n' \"${COMPREPLY[@]}\"\n";
  std::set<std::string> offered;
  FILE* shell = ::popen(("cd '" + dir.Path().string() + "' && bash complete.sh").c_str(), "r");
  ASSERT_NE(shell, nullptr);
  for (char line[256]; std::fgets(line, sizeof line, shell) != nullptr;) {
    offered.insert(std::string(line, std::strcspn(line, "\n")));
  }
  EXPECT_EQ(::pclose(shell), 0);
  EXPECT_EQ(offered, named);

  const auto text = [](const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  };
  const auto names = [](const std::string& in, const std::string& word) {
    return std::regex_search(in, std::regex("(^|[^[:alnum:]])" + word + "($|[^[:alnum:]])"));
  };
  const std::string readme = text(source / "README.md");
  for (const std::string& extension : extensions) {
    for (const char* page : {"man/rzt2.1", "man/rzt2tool.1"}) {
      EXPECT_TRUE(names(text(build / page), "\\." + extension)) << page << " ." << extension;
    }
    EXPECT_TRUE(names(readme, "\\." + extension)) << "README.md ." << extension;
  }
  const std::string handWritten[] = {readme, text(source / "resources/com.velmora.rzt2tool.metainfo.xml"),
                                     text(build / "CPackConfig.cmake")};
  for (const ImageFormat& format : kImageFormats) {
    for (const std::string& words : handWritten)
      EXPECT_TRUE(names(words, std::string(format.title))) << format.title;
  }
}

// Unusable command lines exit with 2, inputs that are not regular files
// with 1 at once, each naming the cause.
TEST_F(CliTest, UnusableCommandLinesAndInputsExitNamingTheCause) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 50, 50), Status::Ok);
  ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.rzt2").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "unread.jsonl").c_str(), 0600), 0);
  fs::create_directories(dir / "folder");
  WriteFileBytes(dir / "a.png.bak", {1, 2, 3});
  const std::vector<uint8_t> picture = ReadFileBytes(dir / "a.png");
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"convert", "--bogus", "a.png"}, 2, "--bogus"},
      {{"convert", "--format", "webp", "a.png"}, 2, "webp"},
      {{"convert", "-j", "0", "a.png"}, 2, "--jobs"},
      {{"convert", "--memory", "lots", "a.png"}, 2, "--memory"},
      {{"export", "a.png"}, 2, "--format"},
      {{"convert"}, 2, "FILE"},
      {{"convert", "--files-from", "gone.list"}, 2, "cannot read the list gone.list (file not found)"},
      {{"convert", "--null", "a.png"}, 2, "--files-from"},
      {{"convert", "--report", "no/such/dir/r.jsonl", "a.png"}, 2, "cannot write the report"},
      {{}, 2, "subcommand"},
      {{"convert", "-q", "--ignore-settings", "pipe.png"}, 1, "Error loading file pipe.png!"},
      {{"export", "-q", "--format", "png", "pipe.rzt2"}, 1, "Error loading file pipe.rzt2!"},
      {{"convert", "-q", "-o", "a.png/maps/", "a.png"},
       1,
       "Error while creating folder a.png/maps! (a file is in the way)"},
      {{"convert", "--palette", "fitted2", "a.png"}, 2, "--palette"},
      {{"info", "/dev/zero"}, 1, "Error loading file /dev/zero!"},
      {{"convert", "--page", "0", "a.png"}, 2, "--page: takes a page number from 1, not 0"},
      {{"convert", "--max-pages", "0", "a.png"}, 2, "--max-pages"},
      {{"convert", "-q", "--ignore-settings", "--page", "5", "a.png"},
       1,
       "Error loading file a.png! (has 1 page)"},
      {{"convert", "--files-from", "folder"}, 2, "cannot read the list folder (is a folder)"},
      {{"convert", "--report", "folder", "a.png"}, 2, "cannot write the report folder (is a folder)"},
      {{"convert", "--report", "unread.jsonl", "a.png"},
       2,
       "the report unread.jsonl (a FIFO that no one reads)"},
      {{"convert", "--report", "./a.png", "a.png"}, 2, "the report ./a.png is an input of the batch"},
      {{"export", "--format", "png", "--report", "a.png", "a.png"}, 2, "the report a.png is an input"},
      {{"convert", "--report", "folder/../a.rzt2", "a.png"}, 2, "is the output of a.png"},
  };
  for (const auto& [args, code, named] : cases) {
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, code) << named;
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
  }
  // Refused before any file: the input is as it was, and nothing is written.
  EXPECT_EQ(ReadFileBytes(dir / "a.png"), picture);
  EXPECT_EQ(ReadFileBytes(dir / "a.png.bak"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(fs::exists(dir / "a.rzt2"));
  // A stored format code out of range is refused, naming it, before any file is touched.
  fs::create_directories(dir / ".config/Velmora");
  std::ofstream(dir / ".config/Velmora/rzt2tool.conf") << "[General]\nEncoderCode=7\n";
  const CliRun stored = Run({"convert", "a.png"});
  EXPECT_EQ(stored.exitCode, 2);
  EXPECT_NE(stored.err.find("RZT2 frames encoder algorithm is 7"), std::string::npos) << stored.err;
  EXPECT_FALSE(fs::exists(dir / "a.rzt2"));
  EXPECT_EQ(Run({"convert", "-q", "--format", "png", "a.png"}).exitCode, 0);
  // Pixels over the memory budget have no temporary folder to go to.
  ASSERT_EQ(SavePicture(dir / "big.png", "image/png", 300, 300), Status::Ok);
  const char* tmpdir = std::getenv("TMPDIR");
  const bool wasSet = tmpdir != nullptr;
  const std::string saved = wasSet ? tmpdir : "";
  ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
  const CliRun spilled = Run({"convert", "-q", "--ignore-settings", "--memory", "0", "big.png"});
  if (wasSet) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(spilled.exitCode, 1);
  EXPECT_NE(spilled.err.find("(temporary folder " + (dir / "missing").string() + ": does not exist)"),
            std::string::npos)
      << spilled.err;
}

// Names on the command line come first, then the list's, each line's end
// (with its "\r") going and empty lines skipped; the list is read as the
// batch goes, so a name that is no file fails in its turn, and every input
// gets its line in the report as it ends.
TEST_F(CliTest, TenThousandNamesComeThroughAListOnStdinAndEachEndsInTheReport) {
  ASSERT_EQ(SavePicture(dir / "first.png", "image/png", 1, 1), Status::Ok);
  std::string list;
  std::vector<std::string> expected = {"first.png"};
  for (int i = 0; i < 10000; ++i) {
    const bool real = i % 1000 == 999;
    const std::string name = (real ? "real" : "gone") + std::to_string(i) + ".png";
    if (real) {
      ASSERT_EQ(SavePicture(dir / name, "image/png", 1, 1), Status::Ok);
    }
    expected.push_back(name);
    list += name + (i % 2 == 0 ? "\n\n" : "\r\n");
  }
  list.resize(list.size() - 2);  // the last name ends the list without a line's end
  WriteFileBytes(dir / "list", {list.begin(), list.end()});
  const auto start = std::chrono::steady_clock::now();
  const CliRun run = RunWithInput(
      {"convert", "-q", "--ignore-settings", "-j", "1", "--report", "-", "--files-from", "-", "first.png"},
      dir / "list");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 1);
  std::vector<std::string> inputs;
  for (const QJsonObject& line : ReportLines(run.out)) {
    inputs.push_back(NameIn(line, "input"));
    const bool ok = !inputs.back().starts_with("gone");
    EXPECT_EQ(line["status"].toString(), ok ? "ok" : "failed") << inputs.back();
    EXPECT_EQ(line["cause"].toString(), ok ? "" : "file not found") << inputs.back();
  }
  EXPECT_EQ(inputs, expected);
  EXPECT_TRUE(fs::exists(dir / "real9999.rzt2"));
  // A name longer than any path ends the list, said after the names before it.
  const std::string longList = "real999.png\n" + std::string(5000, 'x') + "\nreal1999.png\n";
  WriteFileBytes(dir / "long", {longList.begin(), longList.end()});
  const CliRun longName = Run({"convert", "-q", "--ignore-settings", "--files-from", "long"});
  EXPECT_EQ(longName.exitCode, 1);
  EXPECT_NE(longName.err.find("rzt2: the list long was read only in part (file name too long)"),
            std::string::npos)
      << longName.err;
}

// Resident memory of a running process, in bytes; 0 once it is gone.
uint64_t ResidentBytes(pid_t pid) {
  std::ifstream status(fs::path("/proc") / std::to_string(pid) / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stoull(line.substr(6)) << 10;
  }
  return 0;
}

// An endless list is an endless batch, never read whole: its memory stays
// small, Ctrl+C ends it, and the report already tells the files done.
TEST_F(CliTest, AnEndlessListIsABatchThatCtrlCStops) {
  ASSERT_EQ(SavePicture(dir / "a.png", "image/png", 20, 20), Status::Ok);
  const pid_t pid = StartRzt2(
      dir.Path(),
      {"convert", "-q", "--ignore-settings", "--report", "r.jsonl", "--null", "--files-from", "-", "a.png"},
      nullptr, "/dev/zero");
  constexpr uint64_t kSmall = uint64_t{200} << 20;
  uint64_t largest = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int afterMap = 0; afterMap < 50 && largest < kSmall && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    largest = std::max(largest, ResidentBytes(pid));
    if (fs::exists(dir / "a.rzt2")) ++afterMap;  // then half a second of the endless list
  }
  ::kill(pid, SIGINT);
  EXPECT_EQ(FinishRzt2(dir.Path(), pid).signal, SIGINT);
  EXPECT_LT(largest, kSmall);
  const std::vector<uint8_t> report = ReadFileBytes(dir / "r.jsonl");
  const std::vector<QJsonObject> lines = ReportLines({report.begin(), report.end()});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"].toString(), "ok");
}

// Names ended by NUL may hold spaces, line ends and bytes that are not
// UTF-8; the report names each exactly, with its picture's size and its
// output's bytes, and a failure with its cause. An earlier report is kept.
TEST_F(CliTest, NulSeparatedNamesAndTheReportKeepEveryByteOfOddNames) {
  const std::vector<std::tuple<std::string, int32_t, int32_t>> pictures = {
      {"a b.png", 40, 30}, {"two\nlines.png", 50, 20}, {"caf\xE9.png", 60, 10}};
  std::string list;
  for (const auto& [name, width, height] : pictures) {
    ASSERT_EQ(SavePicture(dir / name, "image/png", width, height), Status::Ok);
    list += name + '\0';
  }
  WriteFileBytes(dir / "broken.png", {1, 2, 3});
  list += "broken.png";
  list += '\0';
  WriteFileBytes(dir / "names", {list.begin(), list.end()});
  const std::vector<std::string> args = {
      "convert", "-q",     "--ignore-settings", "-j",     "1", "--files-from",
      "names",   "--null", "--report",          "r.jsonl"};
  ASSERT_EQ(Run(args).exitCode, 1);
  const auto firstReport = ReadFileBytes(dir / "r.jsonl");
  const std::vector<QJsonObject> lines = ReportLines({firstReport.begin(), firstReport.end()});
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < pictures.size(); ++i) {
    const auto& [name, width, height] = pictures[i];
    const std::string output = name.substr(0, name.size() - 4) + ".rzt2";
    EXPECT_EQ(
        std::tuple(NameIn(lines[i], "input"), NameIn(lines[i], "output"), lines[i]["status"].toString()),
        std::tuple(name, output, QString("ok")));
    EXPECT_EQ(std::pair(lines[i]["width"].toInt(), lines[i]["height"].toInt()), std::pair(width, height));
    EXPECT_EQ(lines[i]["outputSize"].toInteger(), static_cast<qint64>(fs::file_size(dir / output))) << output;
  }
  EXPECT_EQ(lines[3]["input"].toString(), "broken.png");
  EXPECT_EQ(lines[3]["cause"].toString(), "unknown image format");
  EXPECT_TRUE(lines[3]["outputSize"].isNull());
  ASSERT_EQ(Run(args).exitCode, 1);
  EXPECT_EQ(ReadFileBytes(dir / "r.jsonl.bak"), firstReport);
  const auto secondReport = ReadFileBytes(dir / "r.jsonl");
  EXPECT_EQ(ReportLines({secondReport.begin(), secondReport.end()}).size(), 4u);
}

TEST_F(CliTest, JsonProgressWeighsFilesByTheirPixelsAndEndsAtAHundred) {
  ASSERT_EQ(SavePicture(dir / "big.png", "image/png", 1600, 1200), Status::Ok);
  ASSERT_EQ(SavePicture(dir / "small.png", "image/png", 200, 100), Status::Ok);
  WriteFileBytes(dir / "bad.png", {1});
  // Every line is JSON, failures too.
  const CliRun run = Run({"convert", "--ignore-settings", "--progress=json", "-j", "1", "big.png", "gone.png",
                          "bad.png", "small.png"});
  EXPECT_EQ(run.exitCode, 1);
  std::istringstream lines(run.err);
  double percent = 0, percentAfterBig = 0;
  QJsonObject last;
  std::vector<QJsonObject> failures;
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    if (object.contains("error")) {
      failures.push_back(object);
      continue;
    }
    last = object;
    EXPECT_GE(last["percent"].toDouble(), percent) << line;
    EXPECT_LE(last["done"].toInteger(), last["total"].toInteger()) << line;
    percent = last["percent"].toDouble();
    if (last["filesDone"].toInt() == 1) percentAfterBig = percent;
  }
  EXPECT_EQ(last["filesDone"].toInt(), 3);
  EXPECT_EQ(last["percent"].toDouble(), 100.0);
  EXPECT_EQ(last["done"].toInteger(), last["total"].toInteger());
  EXPECT_GT(percentAfterBig, 90.0);  // a hundred times the small picture's pixels
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0], QJsonObject({{"error", "Error loading file gone.png!"},
                                      {"file", "gone.png"},
                                      {"cause", "file not found"}}));
  EXPECT_EQ(failures[1]["cause"].toString(), "unknown image format");
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

// The helpers started by pid that have used CPU time (so are drawing, past
// their start), read from /proc.
std::vector<pid_t> DrawingHelpersOf(pid_t pid) {
  std::vector<pid_t> children;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.find("(rzt2-") == std::string::npos) continue;
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    std::string skipped;
    long userTicks = 0;
    fields >> state >> parent;
    for (int i = 0; i < 9; ++i) fields >> skipped;
    if (fields >> userTicks && parent == pid && state != 'Z' && userTicks > 10) {
      children.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return children;
}

bool Gone(pid_t pid) {
  std::ifstream stat(fs::path("/proc") / std::to_string(pid) / "stat");
  std::string line;
  return !std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
}

// A helper drawing a metafile on which libwmf loops ends with rzt2,
// whether rzt2 is ended by a signal it handles or killed outright.
TEST_F(CliTest, SignalsThatEndRzt2EndTheHelperDrawingForIt) {
  fs::copy_file(fs::path(RZT2_TEST_DATA) / "metafiles" / "libwmf-loops.wmf", dir / "loops.wmf");
  for (const int signal : {SIGTERM, SIGKILL}) {
    const pid_t pid = StartRzt2(dir.Path(), {"convert", "-q", "--ignore-settings", "loops.wmf"});
    std::vector<pid_t> helpers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((helpers = DrawingHelpersOf(pid)).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(helpers.size(), 1u);
    ::kill(pid, signal);
    EXPECT_EQ(FinishRzt2(dir.Path(), pid).signal, signal);
    const auto ended = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Gone(helpers[0]) && std::chrono::steady_clock::now() < ended) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(Gone(helpers[0])) << "signal " << signal;
  }
}

}  // namespace
}  // namespace rzt2::test
