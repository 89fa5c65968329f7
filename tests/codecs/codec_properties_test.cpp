// What every codec promises: exact round trips, refusals that write
// nothing, exact limits, and clean failures on truncated data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "support/test_support.h"

namespace rzt2 {
namespace {

// Each frame format's codec, as the format table wires it, with what it promises.
struct Codec {
  const char* name;
  size_t signatureSize;  // shorter data is not recognised at all
  bool lossless;
  bool indexedOnly;             // refuses Rgb24 and Argb32
  bool needsPalette;            // refuses Indexed8 without a palette
  uint32_t threeEntriesBecome;  // short palettes are padded with black
  const ImageFormat& Format() const { return *FindFrameFormat(name); }
  EncodeFunction Encoder() const { return Format().encode; }
  DecodeFunction Decoder() const { return Format().decode; }
};
const Codec kCodecs[] = {
    {"gif", 6, true, true, true, 4},  {"jpeg", 2, false, false, false, 0},  {"png", 8, true, false, true, 3},
    {"bmp", 2, true, false, true, 3}, {"tiff", 4, true, false, false, 256},
};

// Indexed with 256 entries and with 3, Rgb24, and Argb32 with alpha of every value.
std::vector<std::unique_ptr<Bitmap>> Samples(int32_t width, int32_t height) {
  std::vector<std::unique_ptr<Bitmap>> out;
  out.push_back(test::MakeIndexedBitmap(width, height));
  out.push_back(test::MakeMapLikeBitmap(width, height, PixelFormat::Rgb24));
  out.push_back(test::MakeMapLikeBitmap(width, height, PixelFormat::Argb32));
  std::minstd_rand random(7);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) out.back()->MutableRow(y)[4 * x + 3] = static_cast<uint8_t>(random());
  }
  out.push_back(test::PatternedIndexed(width, height, test::GradientPalette(3), 2));
  return out;
}

TEST(CodecRoundTrip, LosslessFormatsKeepPixelsAndPalettes) {
  for (const Codec& codec : kCodecs) {
    if (!codec.lossless) continue;
    // Every row padding of BMP; several TIFF strips.
    for (auto [width, height] : {std::pair{1, 1}, {3, 2}, {37, 19}, {40, 700}}) {
      for (const auto& picture : Samples(width, height)) {
        if (codec.indexedOnly && picture->Format() != PixelFormat::Indexed8) continue;
        SCOPED_TRACE(testing::Message() << codec.name << " " << width << "x" << height << " format "
                                        << static_cast<int>(picture->Format()));
        const auto back = test::Decoded(codec.Decoder(), test::Encode(codec.Encoder(), *picture));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(test::PixelDifference(*picture, *back), "");
        ColorPalette expected = picture->Palette();
        if (expected.Count() == 3) expected.entries.resize(codec.threeEntriesBecome, Argb(255, 0, 0, 0));
        EXPECT_EQ(back->Palette(), expected);
      }
    }
  }
}

TEST(CodecRoundTrip, EncodersRefuseWithoutWriting) {
  const auto rgb = test::MakeMapLikeBitmap(4, 4, PixelFormat::Rgb24);
  std::unique_ptr<Bitmap> bare;
  ASSERT_EQ(Bitmap::Create(4, 4, PixelFormat::Indexed8, bare), Status::Ok);
  for (const Codec& codec : kCodecs) {
    for (const auto& [refused, expected] :
         {std::pair{bare.get(), codec.needsPalette}, {rgb.get(), codec.indexedOnly}}) {
      ScratchStream stream;
      EXPECT_EQ(codec.Encoder()(*refused, stream) == Status::InvalidParameter, expected) << codec.name;
      EXPECT_EQ(stream.Size() == 0, expected) << codec.name;
    }
  }
}

TEST(CodecHostileInput, EveryTruncationFailsCleanly) {
  const auto indexed = test::MakeIndexedBitmap(24, 24);
  const auto argb = test::MakeMapLikeBitmap(20, 20, PixelFormat::Argb32);
  std::vector<std::pair<const Codec*, std::vector<uint8_t>>> files;
  for (const Codec& codec : kCodecs) {
    files.emplace_back(&codec, test::Encode(codec.Encoder(), *indexed));
    if (!codec.indexedOnly) files.emplace_back(&codec, test::Encode(codec.Encoder(), *argb));
  }
  // Interlaced files take other paths through the decoders.
  files.emplace_back(&kCodecs[0], test::ReadFileBytes(test::kGoImageData / "video-001.interlaced.gif"));
  files.emplace_back(&kCodecs[2], test::ReadFileBytes(test::kGoPngData / "pngsuite/basn3p04-31i.png"));
  for (const auto& [codec, file] : files) {
    ASSERT_GT(file.size(), 100u) << codec->name;
    // A GIF is complete without its trailer byte.
    for (size_t length = 0; length + (codec->indexedOnly ? 1 : 0) < file.size();
         length += 1 + length / 1000) {
      std::unique_ptr<Bitmap> out;
      ASSERT_EQ(test::DecodeWith(codec->Decoder(), std::span(file).first(length), out),
                length < codec->signatureSize ? Status::UnknownImageFormat : Status::CorruptData)
          << codec->name << " length " << length;
    }
  }
}

// The formats only decoded: files Pillow made of source.png, each with the
// picture it must give and the least PSNR it keeps (infinite: the same pixels).
struct DecodeOnlyFile {
  const char* file;
  const char* format;  // its row of the table
  const char* picture;
  double minPsnr;
};
constexpr double kExact = std::numeric_limits<double>::infinity();
const DecodeOnlyFile kDecodeOnlyFiles[] = {
    {"lossless.webp", "webp", "source.png", kExact}, {"lossy.webp", "webp", "source.png", 25},
    {"animated.webp", "webp", "source.png", kExact}, {"alpha.webp", "webp", "alpha.png", kExact},
    {"lossless.jp2", "jp2", "source.png", kExact},   {"lossy.jp2", "jp2", "source.png", 25},
    {"tiled.jp2", "jp2", "source.png", kExact},      {"codestream.j2k", "jp2", "source.png", kExact},
    {"alpha.jp2", "jp2", "alpha.png", kExact},       {"grey.jp2", "jp2", "grey.png", kExact},
};

std::vector<uint8_t> DecodeOnlyBytes(const DecodeOnlyFile& file) {
  return test::ReadFileBytes(test::kDecodeOnlyPictures / file.file);
}

TEST(DecodeOnlyFormats, EachFileIsSniffedAndGivesItsPicture) {
  for (const DecodeOnlyFile& file : kDecodeOnlyFiles) {
    SCOPED_TRACE(file.file);
    const auto bytes = DecodeOnlyBytes(file);
    const ImageFormat* format = SniffFormat(bytes);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->name, file.format);
    const auto expected =
        test::Decoded(DecodePng, test::ReadFileBytes(test::kDecodeOnlyPictures / file.picture));
    const auto decoded = test::Decoded(DecodeImage, bytes);
    ASSERT_NE(decoded, nullptr);
    EXPECT_GE(test::Psnr(*expected, *decoded), file.minPsnr);
    const bool alpha = expected->Format() == PixelFormat::Argb32;
    if (alpha || file.minPsnr == kExact) {
      EXPECT_EQ(test::MaxChannelDifference(*expected, *decoded), 0);
    }
  }
}

// A JPEG 2000 picture comes tile by tile, its rows told as each row of
// tiles is in; a preview takes the smallest resolution that covers it.
TEST(DecodeOnlyFormats, Jpeg2000TellsRowsAndPreviewsAtAReducedResolution) {
  struct Rows final : RowSink {
    std::vector<int32_t> told;
    void RowsDone(const Bitmap& /*picture*/, int32_t rows) noexcept override { told.push_back(rows); }
    void Abandon() noexcept override { told.push_back(-1); }
  };
  const auto bytes = test::ReadFileBytes(test::kDecodeOnlyPictures / "tiled.jp2");
  Rows rows;
  std::unique_ptr<Bitmap> whole;
  ASSERT_EQ(DecodeJpeg2000(bytes, {}, whole, &rows), Status::Ok);
  EXPECT_EQ(rows.told, (std::vector<int32_t>{32, 64, 90}));  // 32 x 32 tiles
  const DecodeLimits previews[] = {{.shownWidth = 30, .shownHeight = 22},
                                   {.shownWidth = 60, .shownHeight = 45}};
  const std::pair<int32_t, int32_t> sizes[] = {{30, 23}, {60, 45}};  // a quarter, a half
  for (size_t i = 0; i < std::size(previews); ++i) {
    std::unique_ptr<Bitmap> reduced;
    ASSERT_EQ(DecodeJpeg2000(bytes, previews[i], reduced), Status::Ok);
    EXPECT_EQ(std::pair(reduced->Width(), reduced->Height()), sizes[i]);
    // Each pixel stands for the square it covers, not far from its mean: the
    // wavelet's short filters let stripes through.
    const int32_t factor = whole->Width() / reduced->Width();
    double difference = 0;
    for (int32_t y = 0; y + 1 < reduced->Height(); ++y) {
      for (int32_t x = 0; x + 1 < reduced->Width(); ++x) {
        double sum = 0;
        for (int32_t dy = 0; dy < factor; ++dy) {
          for (int32_t dx = 0; dx < factor; ++dx)
            sum += GreenOf(whole->PixelArgb(x * factor + dx, y * factor + dy));
        }
        difference += std::abs(sum / (factor * factor) - GreenOf(reduced->PixelArgb(x, y)));
      }
    }
    EXPECT_LT(difference / ((reduced->Width() - 1) * (reduced->Height() - 1)), 25) << factor;
  }
}

TEST(DecodeOnlyFormats, EveryTruncationFailsCleanly) {
  for (const DecodeOnlyFile& file : kDecodeOnlyFiles) {
    const auto bytes = DecodeOnlyBytes(file);
    const size_t signatureSize = bytes[0] == 0xFF ? 4 : 12;
    for (size_t length = 0; length < bytes.size(); length += 1 + length / 100) {
      std::unique_ptr<Bitmap> out;
      ASSERT_EQ(test::DecodeWith(DecodeImage, std::span(bytes).first(length), out),
                length < signatureSize ? Status::UnknownImageFormat : Status::CorruptData)
          << file.file << " length " << length;
    }
  }
}

// The limits of a width x height picture, and what each must give.
std::vector<std::pair<DecodeLimits, Status>> LimitCases(uint32_t width, uint32_t height) {
  const uint64_t pixels = uint64_t{width} * height;
  return {
      {{.maxPixels = pixels - 1}, Status::TooLarge},
      {{.maxPixels = pixels}, Status::Ok},
      {{.maxPixels = pixels, .frameWidth = width, .frameHeight = height}, Status::Ok},
      {{.maxPixels = pixels, .frameWidth = width, .frameHeight = height + 1}, Status::TooLarge},  // its grid
      {{.maxPixels = pixels, .frameWidth = width + 1, .frameHeight = height}, Status::TooLarge},
      {{.maxPixels = pixels, .maxBytes = pixels - 1}, Status::TooLarge},  // less than the picture itself
  };
}

TEST(CodecHostileInput, EveryLimitIsExact) {
  const auto picture = test::MakeIndexedBitmap(40, 30);
  std::vector<std::tuple<std::string, DecodeFunction, std::vector<uint8_t>>> files;
  for (const Codec& codec : kCodecs)
    files.emplace_back(codec.name, codec.Decoder(), test::Encode(codec.Encoder(), *picture));
  for (const DecodeOnlyFile& file : kDecodeOnlyFiles)
    files.emplace_back(file.file, DecodeImage, DecodeOnlyBytes(file));
  for (const auto& [name, decode, bytes] : files) {
    std::unique_ptr<Bitmap> full;
    ASSERT_EQ(test::DecodeWith(decode, bytes, full), Status::Ok) << name;
    for (const auto& [limits, expected] :
         LimitCases(static_cast<uint32_t>(full->Width()), static_cast<uint32_t>(full->Height()))) {
      std::unique_ptr<Bitmap> out;
      EXPECT_EQ(test::DecodeWith(decode, bytes, out, limits), expected)
          << name << " " << limits.maxPixels << " " << limits.maxBytes << " " << limits.frameWidth << "x"
          << limits.frameHeight;
    }
  }
}

}  // namespace
}  // namespace rzt2
