// Small files that claim far more than they hold, for the hostile-input
// tests, the benchmarks and the fuzz corpora. Free of GoogleTest.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct jpeg_compress_struct;

namespace rzt2::test {

using Bytes = std::vector<uint8_t>;

// A PNG of width x height grey pixels (colorType 0) or grey and alpha (4),
// all zero and truly compressed: about one byte per 1030 of raw rows.
Bytes ZeroPng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType);
// One PNG chunk: length, type, body and CRC.
Bytes PngChunk(const char* type, const Bytes& body);
// Signature, IHDR (8-bit RGBA) and IEND: no image data at all.
Bytes PngHeader(uint32_t width, uint32_t height);
// A JPEG by libjpeg of width x height grey (1 component) or RGB (3)
// samples, all 128; configure runs after the defaults are set.
Bytes CompressJpeg(uint16_t width, uint16_t height, int components,
                   const std::function<void(jpeg_compress_struct&)>& configure = {});
// A 16 x 16 JPEG relabelled as width x height: a baseline one keeps its
// data and end marker, so it ends early; a progressive one is cut inside
// its first scan.
Bytes JpegClaiming(uint16_t width, uint16_t height, bool progressive);
// A JPEG 2000 codestream of one 8-bit component, tiles of tileSide, that
// ends after the header of its first tile.
Bytes Jpeg2000Claiming(uint32_t width, uint32_t height, uint32_t tileSide);
// An 8-bit RLE BMP of width x height that ends at once: a valid, blank picture.
Bytes RleBmp(int32_t width, int32_t height);
// An 8-bit grey TIFF holding 64 bytes at offset 122, whose tags claim any
// size, compression, strip offset, strip byte count and strip count.
Bytes GreyTiff(uint32_t width, uint32_t height, uint16_t compression, uint32_t offset = 122,
               uint32_t byteCount = 64, uint32_t stripCount = 1);
// An animated WebP whose canvas is width x height, with one 1 x 1 frame:
// libwebpdemux keeps two canvases of its own.
Bytes WebpAnimationClaiming(uint32_t width, uint32_t height);
// A PDF whose page tree repeats one node fan times on each of `levels`
// levels above a single page: fan^levels pages from a few objects, and a
// trailer that claims more objects than that.
std::string PdfOfRepeatedPages(int levels, int fan = 10);

}  // namespace rzt2::test
