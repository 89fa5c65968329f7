// What every codec promises: exact round trips, refusals that write
// nothing, exact limits, and clean failures on truncated data.
#include <gtest/gtest.h>

#include <random>

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

TEST(CodecHostileInput, EveryLimitIsExact) {
  const auto picture = test::MakeIndexedBitmap(40, 30);
  const std::pair<DecodeLimits, Status> cases[] = {
      {{.maxPixels = 1199}, Status::TooLarge},
      {{.maxPixels = 1200}, Status::Ok},
      {{.maxPixels = 1200, .frameWidth = 40, .frameHeight = 30}, Status::Ok},
      {{.maxPixels = 1200, .frameWidth = 40, .frameHeight = 31}, Status::TooLarge},  // its grid is 40 x 31
      {{.maxPixels = 1200, .frameWidth = 41, .frameHeight = 30}, Status::TooLarge},
      {{.maxPixels = 1200, .maxBytes = 1199}, Status::TooLarge},  // less than the picture itself
  };
  for (const Codec& codec : kCodecs) {
    const auto file = test::Encode(codec.Encoder(), *picture);
    for (const auto& [limits, expected] : cases) {
      std::unique_ptr<Bitmap> out;
      EXPECT_EQ(test::DecodeWith(codec.Decoder(), file, out, limits), expected)
          << codec.name << " " << limits.maxPixels << " " << limits.maxBytes << " " << limits.frameWidth
          << "x" << limits.frameHeight;
    }
  }
}

}  // namespace
}  // namespace rzt2
