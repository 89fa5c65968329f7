#include "hostile/hostile_files.h"

#include <cstdio>
#include <cstdlib>
#include <tuple>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <zlib.h>

namespace rzt2::test {

Bytes PngChunk(const char* type, const Bytes& body) {
  Bytes out;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(body.size() >> shift));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  const auto crc = static_cast<uint32_t>(crc32(0, &out[4], static_cast<uInt>(out.size() - 4)));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(crc >> shift));
  return out;
}

namespace {

void PutBigEndian(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutLittleEndian(Bytes& out, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes PngStart(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBigEndian(ihdr, width);
  PutBigEndian(ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, colorType, 0, 0, 0});
  Append(out, PngChunk("IHDR", ihdr));
  return out;
}

// Deflates `count` zero bytes, a block at a time.
Bytes DeflateZeros(uint64_t count) {
  z_stream stream{};
  deflateInit(&stream, Z_BEST_COMPRESSION);
  const Bytes zeros(1 << 20);
  Bytes out, chunk(1 << 16);
  do {
    const uint64_t n = count < zeros.size() ? count : zeros.size();
    stream.next_in = const_cast<Bytef*>(zeros.data());  // zlib does not write its input
    stream.avail_in = static_cast<uInt>(n);
    count -= n;
    do {
      stream.next_out = chunk.data();
      stream.avail_out = static_cast<uInt>(chunk.size());
      deflate(&stream, count == 0 ? Z_FINISH : Z_NO_FLUSH);
      out.insert(out.end(), chunk.data(), stream.next_out);
    } while (stream.avail_out == 0);
  } while (count > 0);
  deflateEnd(&stream);
  return out;
}

}  // namespace

Bytes ZeroPng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType) {
  Bytes out = PngStart(width, height, bitDepth, colorType);
  const uint64_t channels = colorType == 4 ? 2 : 1;
  const uint64_t rowBytes = (uint64_t{width} * channels * bitDepth + 7) / 8;
  Append(out,
         PngChunk("IDAT", DeflateZeros(uint64_t{height} * (1 + rowBytes))));  // filter byte 0 on each row
  Append(out, PngChunk("IEND", {}));
  return out;
}

Bytes PngHeader(uint32_t width, uint32_t height) {
  Bytes out = PngStart(width, height, 8, 6);
  Append(out, PngChunk("IEND", {}));
  return out;
}

Bytes CompressJpeg(uint16_t width, uint16_t height, int components,
                   const std::function<void(jpeg_compress_struct&)>& configure) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);  // its error exit ends the program: enough for test files
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&cinfo, &buffer, &length);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (configure) configure(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  Bytes row(size_t{width} * static_cast<size_t>(components), 0x80);
  while (cinfo.next_scanline < height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(buffer, buffer + length);
  std::free(buffer);
  return bytes;
}

Bytes JpegClaiming(uint16_t width, uint16_t height, bool progressive) {
  Bytes bytes = CompressJpeg(16, 16, 3, [progressive](jpeg_compress_struct& cinfo) {
    if (progressive) jpeg_simple_progression(&cinfo);
  });
  const auto marker = [&bytes](uint8_t code) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
    }
    return bytes.size();
  };
  const size_t sof = marker(progressive ? 0xC2 : 0xC0);
  bytes[sof + 5] = static_cast<uint8_t>(height >> 8);
  bytes[sof + 6] = static_cast<uint8_t>(height);
  bytes[sof + 7] = static_cast<uint8_t>(width >> 8);
  bytes[sof + 8] = static_cast<uint8_t>(width);
  if (progressive) bytes.resize(marker(0xDA) + 20);
  return bytes;
}

Bytes RleBmp(int32_t width, int32_t height) {
  constexpr uint32_t kHeaders = 14 + 40, kColors = 2;
  Bytes out = {'B', 'M'};
  PutLittleEndian(out, kHeaders + 4 * kColors + 2, 4);  // file size
  PutLittleEndian(out, 0, 4);
  PutLittleEndian(out, kHeaders + 4 * kColors, 4);  // pixel offset
  for (const uint32_t value : {40u, static_cast<uint32_t>(width), static_cast<uint32_t>(height)}) {
    PutLittleEndian(out, value, 4);
  }
  PutLittleEndian(out, 1, 2);  // planes
  PutLittleEndian(out, 8, 2);  // bits
  PutLittleEndian(out, 1, 4);  // BI_RLE8
  for (int i = 0; i < 5; ++i) PutLittleEndian(out, i == 3 ? kColors : 0, 4);
  PutLittleEndian(out, 0x00FFFFFF, 4);  // white, black
  PutLittleEndian(out, 0, 4);
  out.insert(out.end(), {0, 1});  // end of picture
  return out;
}

Bytes GreyTiff(uint32_t width, uint32_t height, uint16_t compression, uint32_t offset, uint32_t byteCount,
               uint32_t stripCount) {
  const std::tuple<uint16_t, uint16_t, uint32_t, uint32_t> entries[] = {
      {256, 4, 1, width},       {257, 4, 1, height}, {258, 3, 1, 8},
      {259, 3, 1, compression}, {262, 3, 1, 1},      {273, 4, stripCount, offset},
      {277, 3, 1, 1},           {278, 4, 1, height}, {279, 4, stripCount, byteCount}};
  Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0, static_cast<uint8_t>(std::size(entries)), 0};
  for (const auto& [tag, type, count, value] : entries) {
    PutLittleEndian(out, tag, 2);
    PutLittleEndian(out, type, 2);
    PutLittleEndian(out, count, 4);
    PutLittleEndian(out, value, 4);
  }
  PutLittleEndian(out, 0, 4);
  out.resize(out.size() + 64, 0x80);
  return out;
}

Bytes Jpeg2000Claiming(uint32_t width, uint32_t height, uint32_t tileSide) {
  Bytes out;
  const auto put = [&out](uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put(0xFF4F, 2);                         // SOC
  put(0xFF51, 2), put(41, 2), put(0, 2);  // SIZ of one component
  put(width, 4), put(height, 4), put(0, 4), put(0, 4);
  put(tileSide, 4), put(tileSide, 4), put(0, 4), put(0, 4);
  put(1, 2), put(7, 1), put(1, 1), put(1, 1);                              // 8 bits, no subsampling
  put(0xFF52, 2), put(12, 2), put(0, 1), put(0, 1), put(1, 2), put(0, 1);  // COD: one layer
  put(5, 1), put(4, 1), put(4, 1), put(0, 1), put(1, 1);                   // five levels, 5/3
  put(0xFF5C, 2), put(19, 2), put(0x40, 1);                                // QCD: no quantization
  for (int band = 0; band < 16; ++band) put(8 << 3, 1);
  put(0xFF90, 2), put(10, 2), put(0, 2), put(0, 4), put(0, 1), put(1, 1);  // SOT of tile 0, to the end
  put(0xFF93, 2);                                                          // SOD, and no data
  put(0xFFD9, 2);                                                          // EOC
  return out;
}

Bytes WebpAnimationClaiming(uint32_t width, uint32_t height) {
  // A 1 x 1 lossless bitstream, and its chunk padded to even length.
  const Bytes pixel = {0x2F, 0, 0, 0, 0x10, 0x07, 0x10, 0x11, 0x11, 0x88, 0x88, 0xFE, 0x07};
  const auto chunk = [](const char* type, const Bytes& body) {
    Bytes out(type, type + 4);
    PutLittleEndian(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) out.push_back(0);
    return out;
  };
  Bytes canvas = {0x02, 0, 0, 0};  // the animation flag
  PutLittleEndian(canvas, width - 1, 3);
  PutLittleEndian(canvas, height - 1, 3);
  Bytes frame;
  for (const uint32_t field : {0u, 0u, 0u, 0u, 100u}) PutLittleEndian(frame, field, 3);  // at 0, 0, 1 x 1
  frame.push_back(0);
  const Bytes bitstream = chunk("VP8L", pixel);
  frame.insert(frame.end(), bitstream.begin(), bitstream.end());
  Bytes body = {'W', 'E', 'B', 'P'};
  for (const Bytes& part : {chunk("VP8X", canvas), chunk("ANIM", Bytes(6, 0)), chunk("ANMF", frame)}) {
    body.insert(body.end(), part.begin(), part.end());
  }
  return chunk("RIFF", body);
}

std::string PdfOfRepeatedPages(int levels, int fan) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
  uint64_t count = 1;
  for (int level = 0; level < levels; ++level) count *= static_cast<uint64_t>(fan);
  for (int level = 0; level < levels; ++level) {
    const int number = 2 + level;
    std::string kids;
    for (int kid = 0; kid < fan; ++kid) kids += (kid > 0 ? " " : "") + std::to_string(number + 1) + " 0 R";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) +
                      (level > 0 ? " /Parent " + std::to_string(number - 1) + " 0 R" : "") + " >>");
    count /= static_cast<uint64_t>(fan);
  }
  objects.push_back("<< /Type /Page /Parent " + std::to_string(levels + 1) + " 0 R /MediaBox [0 0 10 10] >>");
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t table = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const size_t offset : offsets) {
    const std::string digits = std::to_string(offset);
    out += std::string(10 - digits.size(), '0') + digits + " 00000 n \n";
  }
  uint64_t claimed = 1;  // poppler's check: no more pages than objects
  for (int level = 0; level < levels; ++level) claimed *= static_cast<uint64_t>(fan);
  out += "trailer\n<< /Size " + std::to_string(claimed + objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
  return out;
}

}  // namespace rzt2::test
