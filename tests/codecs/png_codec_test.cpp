#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "raster/codecs/codecs.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

namespace fs = std::filesystem;

const fs::path kGoPngData = "/usr/share/go-1.19/src/image/png/testdata";

std::vector<uint8_t> EncodeToBytes(const Bitmap& bitmap) {
  ScratchStream stream;
  EXPECT_EQ(EncodePng(bitmap, stream), Status::Ok);
  return {stream.Data().begin(), stream.Data().end()};
}

std::unique_ptr<Bitmap> DecodeOk(std::span<const uint8_t> bytes) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(DecodePng(bytes, {}, bitmap), Status::Ok);
  return bitmap;
}

Status DecodeStatus(std::span<const uint8_t> bytes, const DecodeLimits& limits = {}) {
  std::unique_ptr<Bitmap> bitmap;
  const Status status = DecodePng(bytes, limits, bitmap);
  EXPECT_EQ(bitmap != nullptr, status == Status::Ok);
  return status;
}

void ExpectSamePicture(const Bitmap& expected, const Bitmap& actual) {
  ASSERT_EQ(actual.Format(), expected.Format());
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  EXPECT_EQ(actual.Palette(), expected.Palette());
  for (int32_t y = 0; y < expected.Height(); ++y) {
    ASSERT_TRUE(std::equal(expected.Row(y), expected.Row(y) + expected.Stride(), actual.Row(y)))
        << "row " << y;
  }
}

std::unique_ptr<Bitmap> RandomIndexed(int32_t size, const ColorPalette& palette, uint32_t seed) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(Bitmap::Create(size, size, PixelFormat::Indexed8, bitmap), Status::Ok);
  std::minstd_rand random(seed);
  // Some frames are noise, some flat, some stripes: the prefix must not care.
  const uint32_t mode = seed % 3;
  for (int32_t y = 0; y < size; ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    for (uint32_t x = 0; x < static_cast<uint32_t>(size); ++x) {
      const uint32_t value = mode == 0   ? static_cast<uint32_t>(random())
                             : mode == 1 ? seed
                                         : x / 16 + static_cast<uint32_t>(y) * seed;
      row[x] = static_cast<uint8_t>(value % palette.Count());
    }
  }
  bitmap->SetPalette(palette);
  return bitmap;
}

ColorPalette GradientPalette(uint32_t count) {
  ColorPalette palette;
  for (uint32_t i = 0; i < count; ++i) {
    palette.entries.push_back(Argb(255, i * 255 / count, (i * 37) & 255, 255 - i * 255 / count));
  }
  return palette;
}

TEST(PngRoundTrip, KeepsPixelsAndPalettesOfEveryFormat) {
  ColorPalette withAlpha = GradientPalette(256);
  withAlpha.entries[0] = Argb(0, 0, 0, 0);
  withAlpha.entries[7] = Argb(128, 10, 20, 30);
  withAlpha.flags = kPaletteHasAlpha;
  ColorPalette small = GradientPalette(3);

  std::vector<std::unique_ptr<Bitmap>> pictures;
  pictures.push_back(test::MakeIndexedBitmap(37, 23, 5));
  pictures.push_back(RandomIndexed(40, withAlpha, 3));
  pictures.push_back(RandomIndexed(9, small, 4));
  pictures.push_back(test::MakeMapLikeBitmap(31, 17, PixelFormat::Rgb24, 2));
  auto argb = test::MakeMapLikeBitmap(29, 13, PixelFormat::Argb32, 3);
  for (int32_t y = 0; y < argb->Height(); ++y) {
    for (int32_t x = 0; x < argb->Width(); ++x) argb->MutableRow(y)[4 * x + 3] = static_cast<uint8_t>(x * 9);
  }
  pictures.push_back(std::move(argb));

  for (const auto& picture : pictures) {
    SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(picture->Format()));
    const std::vector<uint8_t> bytes = EncodeToBytes(*picture);
    const auto decoded = DecodeOk(bytes);
    ASSERT_NE(decoded, nullptr);
    ExpectSamePicture(*picture, *decoded);
  }
}

TEST(PngRoundTrip, AppendsAtThePositionAndRefusesIndexedWithoutPalette) {
  ScratchStream stream;
  ASSERT_EQ(stream.Write("head", 4), Status::Ok);
  const auto picture = test::MakeIndexedBitmap(16, 16);
  ASSERT_EQ(EncodePng(*picture, stream), Status::Ok);
  const auto decoded = DecodeOk(stream.Data().subspan(4));
  ASSERT_NE(decoded, nullptr);
  ExpectSamePicture(*picture, *decoded);

  const uint64_t size = stream.Size();
  std::unique_ptr<Bitmap> bare;
  ASSERT_EQ(Bitmap::Create(4, 4, PixelFormat::Indexed8, bare), Status::Ok);
  EXPECT_EQ(EncodePng(*bare, stream), Status::InvalidParameter);
  EXPECT_EQ(stream.Size(), size);
  EXPECT_EQ(stream.Position(), size);
}

size_t CommonPrefix(const std::vector<std::vector<uint8_t>>& files) {
  size_t common = files.front().size();
  for (const auto& file : files) {
    const auto mismatch = std::mismatch(files.front().begin(), files.front().end(), file.begin(), file.end());
    common = std::min(common, static_cast<size_t>(mismatch.first - files.front().begin()));
  }
  return common;
}

TEST(PngSharedPrefix, FramesOfOneSizeAndPaletteShareTheirFirst864Bytes) {
  ColorPalette transparent = GradientPalette(256);
  transparent.entries[200] = Argb(0, 1, 2, 3);
  transparent.flags = kPaletteHasAlpha;
  for (const ColorPalette& palette : {GradientPalette(256), transparent}) {
    std::vector<std::vector<uint8_t>> files;
    for (uint32_t seed = 1; seed <= 50; ++seed) {
      files.push_back(EncodeToBytes(*RandomIndexed(160, palette, seed)));
    }
    EXPECT_GE(CommonPrefix(files), 864u);
  }
}

// The reference for the conformance pictures: the .sng text that sits
// beside each one, read the way Go's reader_test.go reads it.
struct SngPicture {
  int width = 0;
  int height = 0;
  int bitDepth = 0;
  std::string model;  // "grayscale", "color", "color palette", ... [" alpha"]
  std::vector<uint32_t> palette;
  std::vector<int> paletteAlpha;
  std::vector<int> transparent;   // tRNS of gray or colour pictures, one value per channel
  std::vector<std::string> rows;  // hex digits
};

int IntAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::stoi(text.substr(at + key.size()));
}

SngPicture ParseSng(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  SngPicture sng;
  // Blocks are "NAME { ... }" without nesting.
  for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    const size_t close = text.find('}', open);
    const size_t nameEnd = text.find_last_not_of(" ", open - 1) + 1;
    const size_t nameStart = text.find_last_of(" \n", nameEnd - 1) + 1;  // npos + 1 is 0
    const std::string name = text.substr(nameStart, nameEnd - nameStart);
    const std::string body = text.substr(open + 1, close - open - 1);
    std::istringstream lines(body);
    std::string line;
    if (name == "IHDR") {
      sng.width = IntAfter(body, "width:");
      sng.height = IntAfter(body, "height:");
      sng.bitDepth = IntAfter(body, "bitdepth:");
      const size_t using_ = body.find("using ");
      sng.model = body.substr(using_ + 6, body.find(';', using_) - using_ - 6);
    } else if (name == "PLTE") {
      while (std::getline(lines, line)) {
        int r = 0, g = 0, b = 0;
        if (std::sscanf(line.c_str(), " (%d,%d,%d)", &r, &g, &b) == 3) {
          sng.palette.push_back(
              Argb(255, static_cast<uint32_t>(r), static_cast<uint32_t>(g), static_cast<uint32_t>(b)));
        }
      }
    } else if (name == "tRNS") {
      if (body.find("gray:") != std::string::npos) {
        sng.transparent = {IntAfter(body, "gray:")};
      } else if (body.find("red:") != std::string::npos) {
        sng.transparent = {IntAfter(body, "red:"), IntAfter(body, "green:"), IntAfter(body, "blue:")};
      } else {
        std::istringstream values(body);
        for (int value = 0; values >> value;) sng.paletteAlpha.push_back(value);
      }
    } else if (name == "IMAGE") {
      while (std::getline(lines, line)) {
        if (line.find("pixels") != std::string::npos) continue;  // "pixels hex"
        std::erase_if(line, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
        if (!line.empty()) sng.rows.push_back(line);
      }
    }
  }
  return sng;
}

int HexAt(const std::string& row, size_t digit, size_t count) {
  return std::stoi(row.substr(digit, count), nullptr, 16);
}

uint32_t StoredArgb(const Bitmap& bitmap, int32_t x, int32_t y) {
  const uint8_t* pixel = bitmap.Row(y) + x * BytesPerPixel(bitmap.Format());
  const uint32_t alpha = bitmap.Format() == PixelFormat::Argb32 ? pixel[3] : 255;
  return Argb(alpha, pixel[2], pixel[1], pixel[0]);
}

void ExpectMatchesSng(const SngPicture& sng, const Bitmap& bitmap) {
  ASSERT_EQ(bitmap.Width(), sng.width);
  ASSERT_EQ(bitmap.Height(), sng.height);
  ASSERT_EQ(sng.rows.size(), static_cast<size_t>(sng.height));
  if (sng.model == "color palette") {
    ASSERT_EQ(bitmap.Format(), PixelFormat::Indexed8);
    std::vector<uint32_t> entries = sng.palette;
    for (size_t i = 0; i < sng.paletteAlpha.size(); ++i) {
      entries[i] = (entries[i] & 0xFFFFFF) | static_cast<uint32_t>(sng.paletteAlpha[i]) << 24;
    }
    EXPECT_EQ(bitmap.Palette().entries, entries);
    const bool alpha =
        std::any_of(entries.begin(), entries.end(), [](uint32_t argb) { return AlphaOf(argb) != 255; });
    EXPECT_EQ(bitmap.Palette().flags, alpha ? kPaletteHasAlpha : 0u);
    for (int32_t y = 0; y < sng.height; ++y) {
      for (int32_t x = 0; x < sng.width; ++x) {
        // Indexes are packed most significant bits first.
        const size_t bit = static_cast<size_t>(x) * static_cast<size_t>(sng.bitDepth);
        const int byte = HexAt(sng.rows[static_cast<size_t>(y)], bit / 8 * 2, 2);
        const int shift = 8 - sng.bitDepth - static_cast<int>(bit % 8);
        const int index = (byte >> shift) & ((1 << sng.bitDepth) - 1);
        ASSERT_EQ(bitmap.Row(y)[x], index) << "at " << x << "," << y;
      }
    }
    return;
  }
  const bool gray = sng.model.starts_with("grayscale");
  const bool alpha = sng.model.ends_with("alpha");
  const size_t channels = (gray ? 1u : 3u) + (alpha ? 1u : 0u);
  const size_t digits = static_cast<size_t>(sng.bitDepth) / 4;  // per sample
  const bool expectAlpha = alpha || !sng.transparent.empty();
  ASSERT_EQ(bitmap.Format(), expectAlpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  for (int32_t y = 0; y < sng.height; ++y) {
    for (int32_t x = 0; x < sng.width; ++x) {
      std::vector<int> samples;
      for (size_t c = 0; c < channels; ++c) {
        const size_t digit = (static_cast<size_t>(x) * channels + c) * digits;
        samples.push_back(HexAt(sng.rows[static_cast<size_t>(y)], digit, digits));
      }
      const std::vector<int> color(samples.begin(), samples.begin() + (gray ? 1 : 3));
      int a = alpha ? samples.back() : 255;
      if (!sng.transparent.empty()) a = color == sng.transparent ? 0 : 255;
      // 16-bit samples keep their high byte.
      const auto eight = [&](int sample) {
        return static_cast<uint32_t>(sng.bitDepth == 16 ? sample >> 8 : sample);
      };
      const uint32_t expected = Argb(alpha ? eight(a) : static_cast<uint32_t>(a), eight(color[0]),
                                     eight(color[gray ? 0 : 1]), eight(color[gray ? 0 : 2]));
      ASSERT_EQ(StoredArgb(bitmap, x, y), expected) << "at " << x << "," << y;
    }
  }
}

// Every picture of Go's copy of the PNG suite has its .sng; that copy holds
// no deliberately broken x* files, so the broken files of Go's own test data
// stand in for them below.
TEST(PngConformance, SuitePicturesMatchTheirSngText) {
  const fs::path suite = kGoPngData / "pngsuite";
  ASSERT_TRUE(fs::is_directory(suite)) << "install golang-1.19-src";
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(suite)) {
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const fs::path sngPath = fs::path(entry.path()).replace_extension(".sng");
    ASSERT_TRUE(fs::exists(sngPath));
    const auto bytes = test::ReadFileBytes(entry.path());
    const auto bitmap = DecodeOk(bytes);
    ASSERT_NE(bitmap, nullptr);
    ExpectMatchesSng(ParseSng(sngPath), *bitmap);
    ++checked;
  }
  EXPECT_GE(checked, 35);
}

TEST(PngConformance, InterlacedAndPlainGradientsAreIdentical) {
  const auto plain = DecodeOk(test::ReadFileBytes(kGoPngData / "gray-gradient.png"));
  const auto interlaced = DecodeOk(test::ReadFileBytes(kGoPngData / "gray-gradient.interlaced.png"));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(interlaced, nullptr);
  ExpectSamePicture(*plain, *interlaced);
}

TEST(PngHostileInput, BrokenFilesOfGoTestDataFailCleanly) {
  for (const char* name :
       {"invalid-crc32.png", "invalid-noend.png", "invalid-trunc.png", "invalid-zlib.png"}) {
    SCOPED_TRACE(name);
    const auto bytes = test::ReadFileBytes(kGoPngData / name);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(DecodeStatus(bytes), Status::CorruptData);
  }
}

// Indexes past the palette's end are legal in our model: they read as
// opaque black, as Go's decoder shows them.
TEST(PngHostileInput, IndexesPastThePaletteDecode) {
  const auto bitmap = DecodeOk(test::ReadFileBytes(kGoPngData / "invalid-palette.png"));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->Format(), PixelFormat::Indexed8);
  EXPECT_GE(bitmap->Row(15)[15], bitmap->Palette().Count());
}

TEST(PngHostileInput, EveryTruncationFails) {
  const std::vector<std::vector<uint8_t>> files = {
      EncodeToBytes(*test::MakeIndexedBitmap(24, 24)),
      EncodeToBytes(*test::MakeMapLikeBitmap(20, 20, PixelFormat::Argb32)),
      test::ReadFileBytes(kGoPngData / "pngsuite/basn3p04-31i.png")};
  for (const auto& file : files) {
    ASSERT_GT(file.size(), 100u);
    for (size_t length = 0; length < file.size(); ++length) {
      const Status status = DecodeStatus(std::span(file).first(length));
      ASSERT_EQ(status, length < 8 ? Status::UnknownImageFormat : Status::CorruptData) << "length " << length;
    }
  }
}

std::vector<uint8_t> Chunk(const char* type, std::vector<uint8_t> body) {
  std::vector<uint8_t> chunk;
  const auto put32 = [&chunk](uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<uint8_t>(value >> shift));
  };
  put32(static_cast<uint32_t>(body.size()));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  put32(static_cast<uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(body.size() + 4))));
  return chunk;
}

std::vector<uint8_t> HeaderOnlyPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  for (uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<uint8_t>(value >> shift));
  }
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
  for (const auto& chunk : {Chunk("IHDR", ihdr), Chunk("IEND", {})}) {
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  return file;
}

TEST(PngHostileInput, SizesAreCheckedBeforeAllocating) {
  EXPECT_EQ(DecodeStatus(HeaderOnlyPng(100000, 100000)), Status::TooLarge);
  // Under the pixel limit, but far more pixels than 45 bytes can inflate to.
  const auto claimsGigabytes = HeaderOnlyPng(30000, 30000);
  EXPECT_EQ(claimsGigabytes.size(), 45u);
  EXPECT_EQ(DecodeStatus(claimsGigabytes), Status::CorruptData);
  EXPECT_EQ(DecodeStatus(HeaderOnlyPng(0, 10)), Status::CorruptData);
  EXPECT_EQ(DecodeStatus(HeaderOnlyPng(0x80000000u, 1)), Status::CorruptData);

  const auto picture = EncodeToBytes(*test::MakeIndexedBitmap(32, 32));
  EXPECT_EQ(DecodeStatus(picture, DecodeLimits{1023}), Status::TooLarge);
  EXPECT_EQ(DecodeStatus(picture, DecodeLimits{1024}), Status::Ok);
}

TEST(PngHostileInput, AncillaryChunksAreSkippedEvenWhenBroken) {
  const auto picture = test::MakeMapLikeBitmap(24, 24, PixelFormat::Rgb24);
  std::vector<uint8_t> file = EncodeToBytes(*picture);
  const std::vector<uint8_t> brokenProfile = {'x', 0, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  const std::vector<uint8_t> bigPrivate(3 << 20, 0x55);
  for (const auto& chunk : {Chunk("iCCP", brokenProfile), Chunk("prVt", bigPrivate)}) {
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());  // right after IHDR
  }
  const auto decoded = DecodeOk(file);
  ASSERT_NE(decoded, nullptr);
  ExpectSamePicture(*picture, *decoded);
}

TEST(PngHostileInput, GarbageAndDamagedBytesFailWithAStatus) {
  const std::vector<uint8_t> garbage = {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(DecodeStatus(garbage), Status::UnknownImageFormat);
  EXPECT_EQ(DecodeStatus({}), Status::UnknownImageFormat);

  const auto picture = test::MakeMapLikeBitmap(24, 24, PixelFormat::Rgb24);
  const auto original = EncodeToBytes(*picture);
  std::mt19937 random(7);
  for (size_t at = 8; at < original.size(); at += 3) {
    std::vector<uint8_t> damaged = original;
    damaged[at] ^= static_cast<uint8_t>(1 + random() % 255);
    // Damage to the chunks we skip goes unseen; any other fails the CRC.
    std::unique_ptr<Bitmap> decoded;
    if (DecodePng(damaged, {}, decoded) == Status::Ok) ExpectSamePicture(*picture, *decoded);
  }
}

}  // namespace
}  // namespace rzt2
