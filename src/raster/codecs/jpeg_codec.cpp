// JPEG through libjpeg-turbo. libjpeg reports errors by longjmp, so every
// libjpeg call runs inside a small function that calls setjmp and owns no
// object with a destructor; the sessions below own the libjpeg structs and
// buffers and outlive those functions.
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "raster/codecs/codec_guard.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

// The decoder's memory cap: past it libjpeg asks for a backing store and fails.
constexpr long kMaxJpegMemory = 1L << 30;
// Progressive files with thousands of tiny scans cost time without limit.
constexpr int kMaxScans = 500;
constexpr int kQuality = 75;

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is a pointer to us
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int code;
  bool tooManyScans;
};

ErrorManager& ErrorOf(j_common_ptr cinfo) { return *reinterpret_cast<ErrorManager*>(cinfo->err); }

[[noreturn]] void OnError(j_common_ptr cinfo) {
  ErrorManager& error = ErrorOf(cinfo);
  error.code = error.pub.msg_code;
  (*error.pub.format_message)(cinfo, error.message);
  std::longjmp(error.jump, 1);
}

// Warnings are not printed, and every one that reports damaged data fails
// the decoding: libjpeg would carry on and fill what is missing with grey.
// jpeg_mem_src reports running out of data as a warning too, and feeds a
// fake end marker. An unknown JFIF version or Adobe transform is no damage.
void OnMessage(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM) (*cinfo->err->error_exit)(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    ErrorOf(cinfo).tooManyScans = true;
    (*cinfo->err->error_exit)(cinfo);
  }
}

void InitErrors(ErrorManager& error) {
  jpeg_std_error(&error.pub);
  error.pub.error_exit = OnError;
  error.pub.emit_message = OnMessage;
}

Status StatusOf(const ErrorManager& error) {
  if (error.tooManyScans) return Status::CorruptData;
  switch (error.code) {
    case JERR_OUT_OF_MEMORY:
      return Status::OutOfMemory;
    case JERR_NO_BACKING_STORE:
      return Status::TooLarge;  // over kMaxJpegMemory
    case JERR_BAD_PRECISION:
      return Status::UnsupportedFormat;
    default:
      return Status::CorruptData;
  }
}

// ---- Decoding ----

struct DecompressSession {
  jpeg_decompress_struct cinfo{};
  ErrorManager error{};
  jpeg_progress_mgr progress{};

  DecompressSession() {
    InitErrors(error);
    cinfo.err = &error.pub;
    progress.progress_monitor = OnProgress;
  }
  ~DecompressSession() { jpeg_destroy_decompress(&cinfo); }
  DecompressSession(const DecompressSession&) = delete;
  DecompressSession& operator=(const DecompressSession&) = delete;
};

bool ReadHeader(DecompressSession& session, std::span<const uint8_t> data) {
  if (setjmp(session.error.jump)) return false;
  jpeg_create_decompress(&session.cinfo);
  session.cinfo.mem->max_memory_to_use = kMaxJpegMemory;
  session.cinfo.progress = &session.progress;
  jpeg_mem_src(&session.cinfo, data.data(), data.size());
  jpeg_read_header(&session.cinfo, TRUE);
  return true;
}

// Photoshop stores CMYK inverted (255 = no ink), and browsers read every
// CMYK JPEG that way.
void InvertedCmykToBgr(const uint8_t* cmyk, uint8_t* bgr, size_t count) {
  for (size_t i = 0; i < count; ++i, cmyk += 4, bgr += 3) {
    for (int c = 0; c < 3; ++c) bgr[c] = static_cast<uint8_t>((cmyk[2 - c] * cmyk[3] + 127) / 255);
  }
}

// Asks for libjpeg's own memory (under kMaxJpegMemory) and, for progressive
// files, reads all scans: both before the bitmap is allocated.
bool StartDecompress(DecompressSession& session) {
  if (setjmp(session.error.jump)) return false;
  jpeg_start_decompress(&session.cinfo);
  return true;
}

// cmykRow is null when libjpeg writes BGR straight into the bitmap.
bool DecodePixels(DecompressSession& session, Bitmap& bitmap, uint8_t* cmykRow, RowReport& report) {
  if (setjmp(session.error.jump)) return false;
  jpeg_decompress_struct& cinfo = session.cinfo;
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* row = bitmap.MutableRow(static_cast<int32_t>(cinfo.output_scanline));
    JSAMPROW rows[1] = {cmykRow != nullptr ? cmykRow : row};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) return false;
    if (cmykRow != nullptr) {
      InvertedCmykToBgr(cmykRow, row, cinfo.output_width);
    }
    report.Done(static_cast<int32_t>(cinfo.output_scanline));
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

// The 8 x 8 blocks of all components; with padded, rounded up to whole
// sampling units as libjpeg stores them.
uint64_t BlockCount(const jpeg_decompress_struct& cinfo, bool padded) {
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    const jpeg_component_info& component = cinfo.comp_info[i];
    const auto extraColumns = padded ? static_cast<uint64_t>(component.h_samp_factor) : 0;
    const auto extraRows = padded ? static_cast<uint64_t>(component.v_samp_factor) : 0;
    blocks += (uint64_t{component.width_in_blocks} + extraColumns) *
              (uint64_t{component.height_in_blocks} + extraRows);
  }
  return blocks;
}

// In a sequential Huffman-coded file every block of every component costs
// at least two bits (a DC difference and an end of block), so a file of n
// bytes holds at most 4n blocks. Progressive and arithmetic-coded files can
// hold far more (end-of-band runs); the byte cap bounds those.
bool SequentialDataCanHold(const jpeg_decompress_struct& cinfo, uint64_t fileBytes) {
  return cinfo.progressive_mode || cinfo.arith_code || BlockCount(cinfo, false) <= 4 * fileBytes;
}

// libjpeg keeps every coefficient of a progressive or multi-scan picture
// (64 of 2 bytes per block) until its last scan is read.
uint64_t CoefficientBytes(const jpeg_decompress_struct& cinfo) {
  const bool buffered = cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components;
  return buffered ? BlockCount(cinfo, true) * sizeof(JBLOCK) : 0;
}

Status DecodeJpegUnchecked(std::span<const uint8_t> data, const DecodeLimits& limits,
                           std::unique_ptr<Bitmap>& out, RowSink* rows) {
  if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return Status::UnknownImageFormat;
  DecompressSession session;
  if (!ReadHeader(session, data)) return StatusOf(session.error);
  jpeg_decompress_struct& cinfo = session.cinfo;
  const uint64_t width = cinfo.image_width;
  const uint64_t height = cinfo.image_height;
  if (const Status status = CheckPictureSize(limits, width, height); status != Status::Ok) return status;
  if (!SequentialDataCanHold(cinfo, data.size())) return Status::CorruptData;

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  if (cmyk) {
    cinfo.out_color_space = JCS_CMYK;
  } else if (cinfo.jpeg_color_space == JCS_GRAYSCALE || cinfo.jpeg_color_space == JCS_YCbCr ||
             cinfo.jpeg_color_space == JCS_RGB) {
    cinfo.out_color_space = JCS_EXT_BGR;
  } else {
    return Status::UnsupportedFormat;
  }
  const uint64_t cmykRowBytes = cmyk ? width * 4 : 0;
  const uint64_t bytes =
      width * height * BytesPerPixel(PixelFormat::Rgb24) + cmykRowBytes + CoefficientBytes(cinfo);
  if (const Status status = CheckDecodeBytes(limits, bytes); status != Status::Ok) return status;
  if (const Status status = CheckWorkingMemory(cmykRowBytes + CoefficientBytes(cinfo));
      status != Status::Ok) {
    return status;
  }
  if (!StartDecompress(session)) return StatusOf(session.error);
  std::unique_ptr<Bitmap> bitmap;
  Status status =
      Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), PixelFormat::Rgb24, bitmap);
  if (status != Status::Ok) return status;
  std::vector<uint8_t> cmykRow(cmykRowBytes);
  RowReport report(rows, *bitmap);
  if (!DecodePixels(session, *bitmap, cmyk ? cmykRow.data() : nullptr, report)) {
    return StatusOf(session.error);
  }
  report.Succeeded();
  out = std::move(bitmap);
  return Status::Ok;
}

// ---- Encoding ----

struct CompressSession {
  jpeg_compress_struct cinfo{};
  ErrorManager error{};
  jpeg_destination_mgr destination{};
  ScratchStream* stream = nullptr;
  Status writeStatus = Status::Ok;
  std::array<uint8_t, 16384> buffer{};

  explicit CompressSession(ScratchStream& target) : stream(&target) {
    InitErrors(error);
    cinfo.err = &error.pub;
    cinfo.client_data = this;
    destination.init_destination = InitDestination;
    destination.empty_output_buffer = EmptyBuffer;
    destination.term_destination = TermDestination;
  }
  ~CompressSession() { jpeg_destroy_compress(&cinfo); }
  CompressSession(const CompressSession&) = delete;
  CompressSession& operator=(const CompressSession&) = delete;

  static CompressSession& Of(j_compress_ptr cinfo) {
    return *static_cast<CompressSession*>(cinfo->client_data);
  }
  static void InitDestination(j_compress_ptr cinfo) {
    CompressSession& self = Of(cinfo);
    self.destination.next_output_byte = self.buffer.data();
    self.destination.free_in_buffer = self.buffer.size();
  }
  // A failed write leaves through libjpeg's error exit, which longjmps.
  static void Flush(j_compress_ptr cinfo, size_t count) {
    CompressSession& self = Of(cinfo);
    self.writeStatus = self.stream->Write(self.buffer.data(), count);
    if (self.writeStatus != Status::Ok) {
      cinfo->err->msg_code = JERR_FILE_WRITE;
      (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
  }
  static boolean EmptyBuffer(j_compress_ptr cinfo) {
    Flush(cinfo, Of(cinfo).buffer.size());
    InitDestination(cinfo);
    return TRUE;
  }
  static void TermDestination(j_compress_ptr cinfo) {
    Flush(cinfo, Of(cinfo).buffer.size() - Of(cinfo).destination.free_in_buffer);
  }
};

// For Indexed8, bgrRow receives each row expanded through bgrLookup.
bool Compress(CompressSession& session, const Bitmap& bitmap, uint8_t* bgrRow, const uint8_t* bgrLookup) {
  if (setjmp(session.error.jump)) return false;
  jpeg_compress_struct& cinfo = session.cinfo;
  jpeg_create_compress(&cinfo);
  cinfo.dest = &session.destination;
  cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
  cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
  const bool argb = bitmap.Format() == PixelFormat::Argb32;
  cinfo.input_components = argb ? 4 : 3;
  cinfo.in_color_space = argb ? JCS_EXT_BGRA : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, kQuality, TRUE);
  // Tables fitted to the picture instead of the standard ones: about a
  // tenth fewer bytes on map frames for an extra pass over the coefficients.
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* src = bitmap.Row(static_cast<int32_t>(cinfo.next_scanline));
    JSAMPROW row = bgrRow;
    if (bgrLookup != nullptr) {
      for (size_t x = 0; x < cinfo.image_width; ++x) {
        for (size_t c = 0; c < 3; ++c) bgrRow[3 * x + c] = bgrLookup[size_t{3} * src[x] + c];
      }
    } else {
      row = const_cast<uint8_t*>(src);  // libjpeg only reads input rows
    }
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

Status EncodeJpegUnchecked(const Bitmap& bitmap, ScratchStream& stream) {
  if (bitmap.Width() > JPEG_MAX_DIMENSION || bitmap.Height() > JPEG_MAX_DIMENSION) {
    return Status::InvalidParameter;
  }
  const bool indexed = bitmap.Format() == PixelFormat::Indexed8;
  std::array<uint8_t, size_t{256} * 3> lookup{};  // indexes past the palette are black
  std::vector<uint8_t> bgrRow;
  if (indexed) {
    const ColorPalette& palette = bitmap.Palette();
    for (size_t i = 0; i < std::min<size_t>(palette.entries.size(), 256); ++i) {
      lookup[3 * i] = static_cast<uint8_t>(BlueOf(palette.entries[i]));
      lookup[3 * i + 1] = static_cast<uint8_t>(GreenOf(palette.entries[i]));
      lookup[3 * i + 2] = static_cast<uint8_t>(RedOf(palette.entries[i]));
    }
    bgrRow.resize(static_cast<size_t>(bitmap.Width()) * 3);
  }
  auto session = std::make_unique<CompressSession>(stream);
  if (Compress(*session, bitmap, bgrRow.data(), indexed ? lookup.data() : nullptr)) {
    return Status::Ok;
  }
  if (session->writeStatus != Status::Ok) return session->writeStatus;
  return session->error.code == JERR_OUT_OF_MEMORY ? Status::OutOfMemory : Status::GenericError;
}

}  // namespace

Status EncodeJpeg(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return EncodeJpegUnchecked(bitmap, stream); });
}

Status DecodeJpeg(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* rows) {
  return GuardMemory([&] { return DecodeJpegUnchecked(data, limits, out, rows); });
}

}  // namespace rzt2
