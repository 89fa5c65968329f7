// Our decoders against the pictures Debian ships with the Go sources
// (golang-1.19-src, golang-golang-x-image-dev): the PNG suite against the
// .sng text beside each picture, the other formats against reference PNGs.
// Tolerances per channel (mean over RGB, worst over ARGB): BMP and TIFF
// exact (but the quantized video-001-paletted.tiff); GIF against its
// true-colour original what Go's decode_test.go allows; JPEG against Go's
// own decoding 2 and 40, as Go upsamples chroma and rounds its IDCT
// differently, and 8 on average for the quality 50 and progressive variants.
// video-001.progressive.truncated.jpeg ends with an end marker after its
// first scans, so it decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace rzt2 {
namespace {

namespace fs = std::filesystem;

const fs::path& kXImage = test::kXImageData;
const fs::path& kGoImage = test::kGoImageData;
const fs::path& kGoPng = test::kGoPngData;

struct Case {
  DecodeFunction decode;
  fs::path file;
  fs::path reference;
  double mean;
  int max;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (std::string name : {"colormap", "video-001", "yellow_rose-small", "yellow_rose-small-v5"}) {
    cases.push_back({DecodeBmp, kXImage / (name + ".bmp"), kXImage / (name + ".png"), 0, 0});
  }
  for (const char* name : {"video-001.tiff", "video-001-strip-64.tiff", "video-001-tile-64x64.tiff",
                           "video-001-16bit.tiff", "video-001-uncompressed.tiff"}) {
    cases.push_back({DecodeTiff, kXImage / name, kXImage / "video-001.png", 0, 0});
  }
  cases.push_back({DecodeTiff, kXImage / "video-001-paletted.tiff", kXImage / "video-001.png", 5, 255});
  cases.push_back(
      {DecodeTiff, kXImage / "blue-purple-pink.lzwcompressed.tiff", kXImage / "blue-purple-pink.png", 0, 0});
  for (const char* name : {"bw-uncompressed.tiff", "bw-deflate.tiff", "bw-packbits.tiff",
                           "bw-gopher_ccittGroup3.tiff", "bw-gopher_ccittGroup4.tiff"}) {
    cases.push_back({DecodeTiff, kXImage / name, kXImage / "bw-gopher.png", 0, 0});
  }
  for (const char* name : {"video-001.gif", "video-001.interlaced.gif"}) {
    cases.push_back({DecodeGif, kGoImage / name, kGoImage / "video-001.png", 4, 64});
  }
  cases.push_back({DecodeGif, kGoImage / "video-001.5bpp.gif", kGoImage / "video-001.png", 8, 128});
  for (std::string name :
       {"video-001.221212", "video-001.cmyk", "video-005.gray", "video-001.progressive.truncated"}) {
    cases.push_back({DecodeJpeg, kGoImage / (name + ".jpeg"), kGoImage / (name + ".png"), 2, 40});
  }
  // Its G and B planes are subsampled: Go repeats their pixels, libjpeg interpolates.
  cases.push_back({DecodeJpeg, kGoImage / "video-001.rgb.jpeg", kGoImage / "video-001.rgb.png", 5, 100});
  for (std::string variant : {"", ".q50.410", ".q50.411", ".q50.420", ".q50.422", ".q50.440", ".q50.444",
                              ".separate.dc.progression"}) {
    for (std::string progressive : {"", ".progressive"}) {
      const fs::path file = kGoImage / ("video-001" + variant + progressive.append(".jpeg"));
      cases.push_back({DecodeJpeg, file, kGoImage / "video-001.png", 8, 255});
    }
  }
  for (std::string variant : {"", ".2x2"}) {
    for (std::string progressive : {"", ".progressive"}) {
      const fs::path file = kGoImage / ("video-005.gray.q50" + variant + progressive.append(".jpeg"));
      cases.push_back({DecodeJpeg, file, kGoImage / "video-005.gray.png", 8, 255});
    }
  }
  return cases;
}

TEST(Conformance, DecodersMatchTheReferencePictures) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.file.filename().string());
    const auto reference = test::Decoded(DecodePng, test::ReadFileBytes(c.reference));
    const auto actual = test::Decoded(c.decode, test::ReadFileBytes(c.file));
    ASSERT_TRUE(reference && actual) << "install golang-1.19-src and golang-golang-x-image-dev";
    ASSERT_EQ(actual->Width(), reference->Width());
    ASSERT_EQ(actual->Height(), reference->Height());
    EXPECT_LE(test::MaxChannelDifference(*reference, *actual), c.max);
    EXPECT_LE(test::MeanRgbDifference(*reference, *actual), c.mean);
  }
}

TEST(Conformance, PixelFormatsPalettesAndVariantsAreKept) {
  const struct {
    DecodeFunction decode;
    fs::path file;
    PixelFormat format;
    uint32_t paletteCount;
  } kept[] = {
      {DecodeBmp, kXImage / "colormap.bmp", PixelFormat::Indexed8, 256},
      {DecodeBmp, kXImage / "yellow_rose-small-v5.bmp", PixelFormat::Argb32, 0},  // an alpha mask
      {DecodeBmp, kXImage / "yellow_rose-small.bmp", PixelFormat::Rgb24, 0},      // a 4th byte, not alpha
      {DecodeTiff, kXImage / "video-001-paletted.tiff", PixelFormat::Indexed8, 256},
      {DecodeTiff, kXImage / "no_rps.tiff", PixelFormat::Argb32, 0},
      {DecodeGif, kGoImage / "video-001.gif", PixelFormat::Indexed8, 256},
      {DecodeGif, kGoImage / "video-001.5bpp.gif", PixelFormat::Indexed8, 32},
  };
  for (const auto& k : kept) {
    const auto bitmap = test::Decoded(k.decode, test::ReadFileBytes(k.file));
    ASSERT_NE(bitmap, nullptr) << k.file;
    EXPECT_EQ(bitmap->Format(), k.format) << k.file;
    EXPECT_EQ(bitmap->Palette().Count(), k.paletteCount) << k.file;
  }
  // Variants of one picture: 8 and 16 bits, strip tags missing, interlaced or not.
  const struct {
    DecodeFunction decode;
    fs::path a, b;
  } same[] = {
      {DecodeTiff, kXImage / "video-001-gray.tiff", kXImage / "video-001-gray-16bit.tiff"},
      {DecodeTiff, kXImage / "no_rps.tiff", kXImage / "no_compress.tiff"},
      {DecodeGif, kGoImage / "video-001.gif", kGoImage / "video-001.interlaced.gif"},
      {DecodePng, kGoPng / "gray-gradient.png", kGoPng / "gray-gradient.interlaced.png"},
  };
  for (const auto& s : same) {
    const auto a = test::Decoded(s.decode, test::ReadFileBytes(s.a));
    const auto b = test::Decoded(s.decode, test::ReadFileBytes(s.b));
    ASSERT_TRUE(a && b) << s.b;
    EXPECT_EQ(test::PixelDifference(*a, *b), "") << s.b;
    EXPECT_EQ(a->Palette(), b->Palette()) << s.b;
  }
}

// The .sng text beside each PNG suite picture, read the way Go's
// reader_test.go reads it: blocks "NAME { ... }" without nesting.
struct SngPicture {
  int width = 0, height = 0, bitDepth = 0;
  std::string model;  // "grayscale", "color", "color palette", ... [" alpha"]
  std::vector<uint32_t> palette;
  std::vector<int> transparent;   // tRNS: palette alphas, or one value per channel
  std::vector<std::string> rows;  // hex digits
};

int IntAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::stoi(text.substr(at + key.size()));
}

// The body of the block "name { ... }", or "".
std::string Block(const std::string& text, const std::string& name) {
  const size_t at = text.find("\n" + name + " {");
  if (at == std::string::npos) return "";
  const size_t open = text.find('{', at) + 1;
  return text.substr(open, text.find('}', open) - open);
}

SngPicture ParseSng(const fs::path& path) {
  std::stringstream buffer;
  buffer << std::ifstream(path).rdbuf();
  const std::string text = buffer.str();
  SngPicture sng;
  const std::string ihdr = Block(text, "IHDR");
  sng.width = IntAfter(ihdr, "width:");
  sng.height = IntAfter(ihdr, "height:");
  sng.bitDepth = IntAfter(ihdr, "bitdepth:");
  const size_t using_ = ihdr.find("using ") + 6;
  sng.model = ihdr.substr(using_, ihdr.find(';', using_) - using_);
  std::istringstream palette(Block(text, "PLTE")), image(Block(text, "IMAGE"));
  std::string line;
  for (int r, g, b; std::getline(palette, line);) {
    if (std::sscanf(line.c_str(), " (%d,%d,%d)", &r, &g, &b) == 3) {
      sng.palette.push_back(
          Argb(255, static_cast<uint32_t>(r), static_cast<uint32_t>(g), static_cast<uint32_t>(b)));
    }
  }
  const std::string trns = Block(text, "tRNS");
  if (trns.find("gray:") != std::string::npos) {
    sng.transparent = {IntAfter(trns, "gray:")};
  } else if (trns.find("red:") != std::string::npos) {
    sng.transparent = {IntAfter(trns, "red:"), IntAfter(trns, "green:"), IntAfter(trns, "blue:")};
  } else {
    std::istringstream values(trns);
    for (int value = 0; values >> value;) sng.transparent.push_back(value);
  }
  while (std::getline(image, line)) {
    if (line.find("pixels") != std::string::npos) continue;  // "pixels hex"
    std::erase_if(line, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    if (!line.empty()) sng.rows.push_back(line);
  }
  return sng;
}

// The ARGB value the .sng text gives for a pixel of a picture without palette.
uint32_t SngArgb(const SngPicture& sng, int32_t x, int32_t y) {
  const bool gray = sng.model.starts_with("grayscale"), alpha = sng.model.ends_with("alpha");
  const size_t channels = (gray ? 1u : 3u) + (alpha ? 1u : 0u);
  const size_t digits = static_cast<size_t>(sng.bitDepth) / 4;  // per sample
  std::vector<int> samples;
  for (size_t c = 0; c < channels; ++c) {
    const size_t digit = (static_cast<size_t>(x) * channels + c) * digits;
    samples.push_back(std::stoi(sng.rows[static_cast<size_t>(y)].substr(digit, digits), nullptr, 16));
  }
  const std::vector<int> color(samples.begin(), samples.begin() + (gray ? 1 : 3));
  // 16-bit samples keep their high byte.
  const auto eight = [&](int sample) {
    return static_cast<uint32_t>(sng.bitDepth == 16 ? sample >> 8 : sample);
  };
  uint32_t a = alpha ? eight(samples.back()) : 255;
  if (!sng.transparent.empty()) a = color == sng.transparent ? 0 : 255;
  return Argb(a, eight(color[0]), eight(color[gray ? 0 : 1]), eight(color[gray ? 0 : 2]));
}

void ExpectMatchesSng(const SngPicture& sng, const Bitmap& bitmap) {
  ASSERT_EQ(bitmap.Width(), sng.width);
  ASSERT_EQ(bitmap.Height(), sng.height);
  ASSERT_EQ(sng.rows.size(), static_cast<size_t>(sng.height));
  const bool indexed = sng.model == "color palette";
  if (indexed) {
    std::vector<uint32_t> entries = sng.palette;
    for (size_t i = 0; i < sng.transparent.size(); ++i) {
      entries[i] = (entries[i] & 0xFFFFFF) | static_cast<uint32_t>(sng.transparent[i]) << 24;
    }
    EXPECT_EQ(bitmap.Palette().entries, entries);
    const bool alpha =
        std::any_of(entries.begin(), entries.end(), [](uint32_t c) { return AlphaOf(c) != 255; });
    EXPECT_EQ(bitmap.Palette().flags, alpha ? kPaletteHasAlpha : 0u);
  } else {
    const bool alpha = sng.model.ends_with("alpha") || !sng.transparent.empty();
    ASSERT_EQ(bitmap.Format(), alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  }
  for (int32_t y = 0; y < sng.height; ++y) {
    for (int32_t x = 0; x < sng.width; ++x) {
      if (indexed) {
        // Indexes are packed most significant bits first.
        const size_t bit = static_cast<size_t>(x) * static_cast<size_t>(sng.bitDepth);
        const int byte = std::stoi(sng.rows[static_cast<size_t>(y)].substr(bit / 8 * 2, 2), nullptr, 16);
        const int index =
            (byte >> (8 - sng.bitDepth - static_cast<int>(bit % 8))) & ((1 << sng.bitDepth) - 1);
        ASSERT_EQ(bitmap.Row(y)[x], index) << "at " << x << "," << y;
      } else {
        ASSERT_EQ(bitmap.PixelArgb(x, y), SngArgb(sng, x, y)) << "at " << x << "," << y;
      }
    }
  }
}

// Go's copy of the suite holds no deliberately broken x* files; the broken
// files of Go's own test data stand in for them in png_codec_test.cpp.
TEST(Conformance, PngSuitePicturesMatchTheirSngText) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kGoPng / "pngsuite")) {
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const auto bitmap = test::Decoded(DecodePng, test::ReadFileBytes(entry.path()));
    ASSERT_NE(bitmap, nullptr);
    ExpectMatchesSng(ParseSng(fs::path(entry.path()).replace_extension(".sng")), *bitmap);
    ++checked;
  }
  EXPECT_GE(checked, 35);
}

}  // namespace
}  // namespace rzt2
