// The picture formats: each codec's entry points, and the one table that
// says what each format is. Every layer reads the table: the decoder's
// sniffing, the map writer's shared prefixes, the map inspector, the jobs'
// export names, the settings and export dialogs and the command line.
// Adding a format takes a row here and its codec file.
//
// Decoders take the whole encoded file in memory, check every size against
// the limits and the data actually held before allocating, and never read
// outside the input. Palette pictures decode as Indexed8 with their palette
// and its stored entry count; others as Rgb24, or Argb32 when they carry
// transparency. Of a file of several pages or frames, the limits' page is
// decoded (CountPages tells how many there are).
//
// Encoders append a complete file at the stream's position. They take
// Indexed8 bitmaps (with a palette) in every format, and Rgb24 and Argb32
// bitmaps too. Encodings of frames of one size and one palette share at
// least their format's sharedPrefixSize leading bytes. A failed encoding
// leaves the stream as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include "base/status.h"
#include "io/pending_file.h"
#include "io/scratch_stream.h"
#include "raster/bitmap.h"
#include "raster/codecs/decode_limits.h"
#include "raster/codecs/render_wire.h"
#include "raster/codecs/signature.h"
#include "raster/row_sink.h"

namespace rzt2 {

// A decoder that produces rows top to bottom tells rows (when not null)
// about them as it goes; the others ignore it.
using DecodeFunction = Status (*)(std::span<const uint8_t> data, const DecodeLimits& limits,
                                  std::unique_ptr<Bitmap>& out, RowSink* rows);
using EncodeFunction = Status (*)(const Bitmap& bitmap, ScratchStream& stream);
// Counts the pages or frames of a file of several; a failure is the
// decoder's, for a damaged file.
using CountFunction = Status (*)(std::span<const uint8_t> data, uint32_t& pages);

// GIF89a with the full palette (padded to a power of two, at least 2
// entries), a graphic control extension, one image. Non-indexed bitmaps are
// refused with InvalidParameter: callers quantize first.
Status EncodeGif(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeGif(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* rows = nullptr);
// The images of an animated GIF; a frame decodes as its own image on the
// screen, not composed with the frames before it.
Status CountGifFrames(std::span<const uint8_t> data, uint32_t& frames);

// Baseline JPEG at quality 75 with Huffman tables fitted to the picture; indexed pictures are encoded from
// their palette's colours, alpha is dropped.
Status EncodeJpeg(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeJpeg(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* rows = nullptr);

// PNG keeping 8-bit palettes (with tRNS for palette alpha) and alpha; fixed
// chunks stand between the palette and the image data.
Status EncodePng(const Bitmap& bitmap, ScratchStream& stream);
// As EncodePng, spending more time on palette pictures for fewer bytes.
Status EncodePngSmall(const Bitmap& bitmap, ScratchStream& stream);
Status DecodePng(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* rows = nullptr);

// BMP: 8-bit with its colour table, 24-bit, or 32-bit.
Status EncodeBmp(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeBmp(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* rows = nullptr);

// TIFF with LZW compression; palette TIFF for indexed pictures. Classic and
// BigTIFF files decode.
Status EncodeTiff(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeTiff(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* rows = nullptr);
// The directories (pages) of a TIFF.
Status CountTiffPages(std::span<const uint8_t> data, uint32_t& pages);

// Drawn and complex formats, rendered in a helper process with time and
// memory limits (render_codec.h) into Argb32: Windows Metafile (WMF,
// placeable or not) and Enhanced Metafile (EMF, with EMF+) at the size of
// their frame, SVG and SVGZ at their size, both at 96 pixels an inch unless
// the limits' dpi says otherwise, and what they do not paint transparent;
// a PDF page at 150 pixels an inch (or the dpi) on white paper; HEIF and
// AVIF at their size.
Status DecodeRendered(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                      RowSink* rows = nullptr);
// The pages of a PDF (1 for the other formats drawn), asked of the helper.
Status CountRenderedPages(std::span<const uint8_t> data, uint32_t& pages);

// WebP, lossy or lossless, with alpha as Argb32; of an animation the first
// frame, composed on its canvas.
Status DecodeWebp(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* rows = nullptr);

// JPEG 2000: JP2 and JPX files, and bare codestreams (.j2k, .j2c), of grey,
// grey and alpha, RGB or RGBA at full size; decoded tile by tile, at a
// reduced resolution when limits give a shown size.
Status DecodeJpeg2000(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                      RowSink* rows = nullptr);

struct ImageFormat {
  std::string_view name;   // as the dialogs and --format show it; exports end in "." + name
  std::string_view title;  // as prose names it: "JPEG 2000"
  std::string_view mimeType;
  // What its files are usually named after the last ".", in lower case;
  // the desktop program lists such files, in any case.
  std::span<const std::string_view> extensions;
  std::span<const Signature> signatures;  // data that starts with any one is of this format
  // The leading bytes that every frame of a level shares and that the level
  // stores once; 0 for formats whose frames share none worth storing.
  uint32_t sharedPrefixSize;
  bool quantizeForExport;  // holds 256 colours at most: exports are reduced first
  EncodeFunction encode;   // null for a format that is only decoded
  DecodeFunction decode;
  CountFunction countPages;  // null for a format of one picture a file
  // The widest and highest picture the format describes (0 for a format
  // only decoded): an export checks it before it reads a pixel.
  uint32_t maxSide;
  // Spends more time for fewer bytes, the same pixels; null: encode does
  // as well as the format allows.
  EncodeFunction encodeSmall = nullptr;
};

inline constexpr Signature kGifSignatures[] = {{At(0, "GIF87a")}, {At(0, "GIF89a")}};
inline constexpr Signature kJpegSignatures[] = {{At(0, "\xFF\xD8\xFF")}};
inline constexpr Signature kPngSignatures[] = {{At(0, "\x89PNG\r\n\x1a\n")}};
inline constexpr Signature kBmpSignatures[] = {{At(0, "BM")}};
inline constexpr Signature kTiffSignatures[] = {
    {At(0, "II*\0")}, {At(0, "MM\0*")}, {At(0, "II+\0")}, {At(0, "MM\0+")}};  // classic, BigTIFF
inline constexpr Signature kWebpSignatures[] = {{At(0, "RIFF"), At(8, "WEBP")}};
inline constexpr Signature kJp2Signatures[] = {{At(0, "\0\0\0\x0CjP  \r\n\x87\n")}};  // also JPX
inline constexpr Signature kJ2kSignatures[] = {{At(0, "\xFF\x4F\xFF\x51")}};          // SOC, SIZ
inline constexpr Signature kJpeg2000Signatures[] = {kJp2Signatures[0], kJ2kSignatures[0]};

inline constexpr std::string_view kGifExtensions[] = {"gif"};
inline constexpr std::string_view kJpegExtensions[] = {"jpg", "jpeg"};
inline constexpr std::string_view kPngExtensions[] = {"png"};
inline constexpr std::string_view kBmpExtensions[] = {"bmp"};
inline constexpr std::string_view kTiffExtensions[] = {"tif", "tiff"};
inline constexpr std::string_view kWmfExtensions[] = {"wmf"};
inline constexpr std::string_view kEmfExtensions[] = {"emf"};
inline constexpr std::string_view kPdfExtensions[] = {"pdf"};
inline constexpr std::string_view kHeifExtensions[] = {"heif", "heic"};
inline constexpr std::string_view kAvifExtensions[] = {"avif"};
inline constexpr std::string_view kWebpExtensions[] = {"webp"};
inline constexpr std::string_view kJpeg2000Extensions[] = {"jp2", "jpx", "j2k",
                                                           "j2c"};  // files, then codestreams
inline constexpr std::string_view kSvgzExtensions[] = {"svgz"};
inline constexpr std::string_view kSvgExtensions[] = {"svg"};

// The frame formats first, in EncoderCode order, which is also the order of
// the export formats and of both dialogs' lists; then the formats only decoded.
inline constexpr ImageFormat kImageFormats[] = {
    // 16-bit sides; libjpeg's JPEG_MAX_DIMENSION; 31-bit sides; signed 32-bit sides; 32-bit sides.
    {"gif", "GIF", "image/gif", kGifExtensions, kGifSignatures, 784, true, EncodeGif, DecodeGif,
     CountGifFrames, 65535},
    {"jpeg", "JPEG", "image/jpeg", kJpegExtensions, kJpegSignatures, 0, false, EncodeJpeg, DecodeJpeg,
     nullptr, 65500},
    {"png", "PNG", "image/png", kPngExtensions, kPngSignatures, 864, false, EncodePng, DecodePng, nullptr,
     0x7FFFFFFF, EncodePngSmall},
    {"bmp", "BMP", "image/bmp", kBmpExtensions, kBmpSignatures, 0, false, EncodeBmp, DecodeBmp, nullptr,
     0x7FFFFFFF},
    {"tiff", "TIFF", "image/tiff", kTiffExtensions, kTiffSignatures, 0, false, EncodeTiff, DecodeTiff,
     CountTiffPages, 0xFFFFFFFF},
    {"wmf", "WMF", "image/wmf", kWmfExtensions, kWmfSignatures, 0, false, nullptr, DecodeRendered, nullptr,
     0},
    {"emf", "EMF", "image/emf", kEmfExtensions, kEmfSignatures, 0, false, nullptr, DecodeRendered, nullptr,
     0},
    {"pdf", "PDF", "application/pdf", kPdfExtensions, kPdfSignatures, 0, false, nullptr, DecodeRendered,
     CountRenderedPages, 0},
    {"heif", "HEIF", "image/heif", kHeifExtensions, kHeifSignatures, 0, false, nullptr, DecodeRendered,
     nullptr, 0},
    {"avif", "AVIF", "image/avif", kAvifExtensions, kAvifSignatures, 0, false, nullptr, DecodeRendered,
     nullptr, 0},
    {"webp", "WebP", "image/webp", kWebpExtensions, kWebpSignatures, 0, false, nullptr, DecodeWebp, nullptr,
     0},
    {"jp2", "JPEG 2000", "image/jp2", kJpeg2000Extensions, kJpeg2000Signatures, 0, false, nullptr,
     DecodeJpeg2000, nullptr, 0},
    {"svgz", "SVGZ", "image/svg+xml-compressed", kSvgzExtensions, kSvgzSignatures, 0, false, nullptr,
     DecodeRendered, nullptr, 0},
    // Last: its root element is looked for past the other formats' signatures.
    {"svg", "SVG", "image/svg+xml", kSvgExtensions, kSvgSignatures, 0, false, nullptr, DecodeRendered,
     nullptr, 0},
};

// The frame formats: the rows that encode, which lead the table.
inline constexpr int32_t kFrameFormatCount = 5;
inline constexpr std::span<const ImageFormat> kFrameFormats(kImageFormats,
                                                            static_cast<size_t>(kFrameFormatCount));

// The frame format of an EncoderCode, which is also an export format's
// index; null outside 0 .. kFrameFormatCount - 1.
const ImageFormat* FrameFormat(int32_t code);
// The EncoderCode (and export index) of a frame format.
int32_t FrameCode(const ImageFormat& format);
// The frame format of that name ("gif"), case-sensitive; null when none.
const ImageFormat* FindFrameFormat(std::string_view name);
// The format that encodes to mimeType, the whole text compared
// case-sensitively; null when none.
const ImageFormat* FindEncoder(std::string_view mimeType);
// The format whose signature the data starts with; null when none does.
const ImageFormat* SniffFormat(std::span<const uint8_t> data);

// How many pages (PDF, TIFF) or frames (GIF) the file holds, by its
// format's countPages; 1 for the formats of one picture. Damaged files fail
// as their decoder would.
Status CountPages(std::span<const uint8_t> data, uint32_t& pages);

// Recognises the format by its leading bytes and decodes it;
// UnknownImageFormat when no format claims the data.
Status DecodeImage(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                   RowSink* rows = nullptr);
// As DecodeImage, for what a map file holds: only the frame formats. A
// metafile planted in a map is UnknownImageFormat, not a helper process.
Status DecodeFrameImage(std::span<const uint8_t> data, const DecodeLimits& limits,
                        std::unique_ptr<Bitmap>& out, RowSink* rows = nullptr);

// Whether a picture of that size fits the format's maxSide.
bool FitsFormat(const ImageFormat& format, uint64_t width, uint64_t height);

// Encodes into a file with the format's encoder; the file is complete or
// absent, and an earlier one dealt with as asked. InvalidParameter for a
// format only decoded.
Status SaveImageToFile(const Bitmap& bitmap, const std::filesystem::path& path, const ImageFormat& format,
                       EarlierFile earlier);

}  // namespace rzt2
