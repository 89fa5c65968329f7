// EMF through libemf2svg and librsvg (cairo); WMF through libwmf's raster
// device (its SVG device rounds colours to named ones, its raster device
// keeps them exact). Each C handle is owned from the moment it exists.
#include "render/metafile_render.h"

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/gd.h>
#include <libwmf/ipa.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>

#include "raster/codecs/render_wire.h"
#include "render/svg_render.h"

namespace rzt2 {
namespace {

constexpr double kDefaultPixelsPerInch = 96;
constexpr double kMillimetresPerInch = 25.4;

// libwmf and libemf2svg take writable buffers, which they do not write.
uint8_t* Writable(std::span<const uint8_t> data) { return const_cast<uint8_t*>(data.data()); }

int32_t ReadS32(std::span<const uint8_t> data, size_t offset) {
  uint32_t value = 0;
  for (size_t b = 0; b < 4; ++b) value |= uint32_t{data[offset + b]} << (8 * b);
  return static_cast<int32_t>(value);
}

// ---- EMF ----

// Where the picture frame lies, from the EMF header. libemf2svg draws in the
// reference device's units with the top-left of the bounds at the origin.
struct EmfPlacement {
  uint32_t width = 0;
  uint32_t height = 0;
  double scaleX = 0;  // pixels per device unit; 0: fit the drawing into the picture
  double scaleY = 0;
  double originX = 0;
  double originY = 0;
};

Status PlaceEmf(std::span<const uint8_t> data, const RenderRequest& request, EmfPlacement& out) {
  constexpr size_t kHeaderSize = 88;
  if (data.size() < kHeaderSize) return Status::CorruptData;
  // The header's own size and the file's size, which a truncated file lacks.
  const auto headerSize = static_cast<uint32_t>(ReadS32(data, 4));
  const auto fileSize = static_cast<uint32_t>(ReadS32(data, 48));
  if (headerSize < kHeaderSize || headerSize > fileSize || fileSize > data.size()) return Status::CorruptData;
  const double boundsLeft = ReadS32(data, 8), boundsTop = ReadS32(data, 12);
  const double boundsRight = ReadS32(data, 16), boundsBottom = ReadS32(data, 20);
  const double frameLeft = ReadS32(data, 24), frameTop = ReadS32(data, 28);
  const double frameRight = ReadS32(data, 32), frameBottom = ReadS32(data, 36);
  const double deviceX = ReadS32(data, 72), deviceY = ReadS32(data, 76);
  const double millimetresX = ReadS32(data, 80), millimetresY = ReadS32(data, 84);
  const bool knownDevice = deviceX > 0 && deviceY > 0 && millimetresX > 0 && millimetresY > 0;
  // Device units per millimetre of the reference device.
  const double unitsX = knownDevice ? deviceX / millimetresX : 1;
  const double unitsY = knownDevice ? deviceY / millimetresY : 1;
  const double pixelsPerMillimetre = PixelsPerInch(request, kDefaultPixelsPerInch) / kMillimetresPerInch;

  double width = 0, height = 0;
  if (frameRight > frameLeft && frameBottom > frameTop) {
    // The frame is in 0.01 mm, its right and bottom edges inclusive.
    width = (frameRight - frameLeft) / 100 * pixelsPerMillimetre;
    height = (frameBottom - frameTop) / 100 * pixelsPerMillimetre;
    if (knownDevice) {
      out.scaleX = pixelsPerMillimetre / unitsX;
      out.scaleY = pixelsPerMillimetre / unitsY;
      out.originX = (boundsLeft - frameLeft / 100 * unitsX) * out.scaleX;
      out.originY = (boundsTop - frameTop / 100 * unitsY) * out.scaleY;
    }
  } else if (boundsRight >= boundsLeft && boundsBottom >= boundsTop) {
    const double unitWidth = knownDevice ? pixelsPerMillimetre / unitsX : 1;
    const double unitHeight = knownDevice ? pixelsPerMillimetre / unitsY : 1;
    width = (boundsRight - boundsLeft + 1) * unitWidth;
    height = (boundsBottom - boundsTop + 1) * unitHeight;
  }
  return CheckedSize(width, height, request.maxPixels, out.width, out.height);
}

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
Status RenderEmf(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  EmfPlacement place;
  if (const Status status = PlaceEmf(data, request, place); status != Status::Ok) return status;

  char* rawSvg = nullptr;
  size_t svgLength = 0;
  generatorOptions options{};
  char noNamespace[] = "";
  options.nameSpace = noNamespace;
  options.emfplus = true;
  options.svgDelimiter = true;
  const int converted =
      emf2svg(reinterpret_cast<char*>(Writable(data)), data.size(), &rawSvg, &svgLength, &options);
  const std::unique_ptr<char, FreeDeleter> svg(rawSvg);
  if (converted == 0 || svg == nullptr || svgLength == 0) return Status::CorruptData;

  SvgHandle handle;
  const std::span<const uint8_t> svgBytes(reinterpret_cast<const uint8_t*>(svg.get()), svgLength);
  if (const Status status = LoadSvg(svgBytes, handle); status != Status::Ok) return status;
  double svgWidth = 0, svgHeight = 0;
  if (const Status status = SvgSize(*handle, svgWidth, svgHeight); status != Status::Ok) return status;
  RsvgRectangle viewport{place.originX, place.originY, static_cast<double>(place.width),
                         static_cast<double>(place.height)};
  if (place.scaleX > 0) {
    viewport.width = svgWidth * place.scaleX;
    viewport.height = svgHeight * place.scaleY;
  }
  return DrawSvg(*handle, viewport, place.width, place.height, out);
}

// ---- WMF ----

struct WmfApiDeleter {
  void operator()(wmfAPI* api) const { wmf_api_destroy(api); }
};
using WmfApi = std::unique_ptr<wmfAPI, WmfApiDeleter>;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
// Windows mapping modes whose scale comes from the window and viewport.
constexpr U16 kMapModeIsotropic = 7, kMapModeAnisotropic = 8;

// libwmf's raster device stretches the drawing's bounds over the picture and
// starts from a white page. The first drawing call, the first moment the
// device context is known, moves the page to the header's frame and, for the
// second of the two plays, paints it black: a pixel white in one play and
// black in the other was never painted.
struct WmfPlay {
  wmfFunctionReference device{};  // libwmf's own raster device
  bool blackPage = false;
  bool drawn = false;
  const wmfPlaceableMetaHeader* frame = nullptr;  // null: keep the drawing's bounds
};

// Device units per logical unit, as libwmf's player computes them.
double DeviceScale(const wmfDC& dc, double pixelSize, S32 windowSize) {
  if (dc.map_mode == kMapModeIsotropic || dc.map_mode == kMapModeAnisotropic) return pixelSize;
  return windowSize < 0 ? -pixelSize : pixelSize;
}

void BeforeFirstDrawing(wmfAPI* api, wmfDC* dc) {
  auto& play = *static_cast<WmfPlay*>(api->user_data);
  if (play.drawn) return;
  play.drawn = true;
  wmf_gd_t& gd = *WMF_GD_GetData(api);
  if (play.frame != nullptr) {
    const double scaleX = DeviceScale(*dc, dc->pixel_width, dc->Window.width);
    const double scaleY = DeviceScale(*dc, dc->pixel_height, dc->Window.height);
    const double x1 = (play.frame->Left - dc->Window.Ox) * scaleX;
    const double x2 = (play.frame->Right - dc->Window.Ox) * scaleX;
    const double y1 = (play.frame->Top - dc->Window.Oy) * scaleY;
    const double y2 = (play.frame->Bottom - dc->Window.Oy) * scaleY;
    if (std::isfinite(x1 + x2 + y1 + y2) && x1 != x2 && y1 != y2) {
      gd.bbox.TL = {static_cast<float>(std::min(x1, x2)), static_cast<float>(std::min(y1, y2))};
      gd.bbox.BR = {static_cast<float>(std::max(x1, x2)), static_cast<float>(std::max(y1, y2))};
    }
  }
  if (play.blackPage) {
    wmfDC page = *dc;
    wmfBrush brush{};
    brush.lbStyle = BS_SOLID;
    wmfPen pen{};
    pen.lopnStyle = PS_NULL;
    page.brush = &brush;
    page.pen = &pen;
    page.ROPmode = R2_COPYPEN;
    wmfDrawRectangle_t rectangle{&page, gd.bbox.TL, gd.bbox.BR, 0, 0};
    play.device.draw_rectangle(api, &rectangle);
  }
}

template <auto Slot, typename Drawing>
void Hooked(wmfAPI* api, Drawing* drawing) {
  BeforeFirstDrawing(api, drawing->dc);
  (static_cast<WmfPlay*>(api->user_data)->device.*Slot)(api, drawing);
}

// Slots the device leaves empty stay empty: the player then draws with others.
template <auto Slot, typename Drawing>
void Hook(wmfFunctionReference& functions) {
  if (functions.*Slot != nullptr) functions.*Slot = Hooked<Slot, Drawing>;
}

void HookDrawing(wmfFunctionReference& f) {
  using F = wmfFunctionReference;
  Hook<&F::flood_interior, wmfFlood_t>(f);
  Hook<&F::flood_exterior, wmfFlood_t>(f);
  Hook<&F::draw_pixel, wmfDrawPixel_t>(f);
  Hook<&F::draw_pie, wmfDrawArc_t>(f);
  Hook<&F::draw_chord, wmfDrawArc_t>(f);
  Hook<&F::draw_arc, wmfDrawArc_t>(f);
  Hook<&F::draw_ellipse, wmfDrawArc_t>(f);
  Hook<&F::draw_line, wmfDrawLine_t>(f);
  Hook<&F::poly_line, wmfPolyLine_t>(f);
  Hook<&F::draw_polygon, wmfPolyLine_t>(f);
  Hook<&F::draw_polypolygon, wmfPolyPoly_t>(f);
  Hook<&F::draw_rectangle, wmfDrawRectangle_t>(f);
  Hook<&F::rop_draw, wmfROP_Draw_t>(f);
  Hook<&F::bmp_draw, wmfBMP_Draw_t>(f);
  Hook<&F::draw_text, wmfDrawText_t>(f);
  Hook<&F::region_frame, wmfPolyRectangle_t>(f);
  Hook<&F::region_paint, wmfPolyRectangle_t>(f);
  Hook<&F::region_clip, wmfPolyRectangle_t>(f);
}

// The file's size from its header, in 16-bit words, which a truncated file
// lacks. Writers differ on whether it counts the placeable header.
bool WmfIsWhole(std::span<const uint8_t> data) {
  constexpr size_t kPlaceableSize = 22, kHeaderSize = 18;
  const size_t start = IsPlaceableWmf(data) ? kPlaceableSize : 0;
  if (data.size() < start + kHeaderSize) return false;
  const auto words = static_cast<uint32_t>(ReadS32(data, start + 6));
  return uint64_t{words} * 2 <= data.size();
}

// A libwmf API on the raster device with the metafile scanned: bounds holds
// the drawing's bounds in device units.
Status OpenWmf(std::span<const uint8_t> data, WmfApi& api, wmfD_Rect& bounds) {
  wmfAPI_Options options{};
  options.function = wmf_gd_function;
  wmfAPI* raw = nullptr;
  const unsigned long flags =
      WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  const wmf_error_t created = wmf_api_create(&raw, flags, &options);
  api.reset(raw);
  if (created != wmf_E_None || raw == nullptr) return Status::OutOfMemory;
  if (data.size() > static_cast<size_t>(LONG_MAX)) return Status::TooLarge;
  if (!WmfIsWhole(data)) return Status::CorruptData;
  if (wmf_mem_open(raw, Writable(data), static_cast<long>(data.size())) != wmf_E_None)
    return Status::CorruptData;
  if (wmf_scan(raw, 0, &bounds) != wmf_E_None) return Status::CorruptData;
  return Status::Ok;
}

const wmfPlaceableMetaHeader* UsableFrame(const wmfAPI& api) {
  const wmfPlaceableMetaHeader& header = api.PlaceableMetaHeader;
  if (header.Key != kPlaceableKey || header.Inch == 0) return nullptr;
  if (header.Right <= header.Left || header.Bottom <= header.Top) return nullptr;
  return &header;
}

Status MeasureWmf(wmfAPI& api, const RenderRequest& request, uint32_t& width, uint32_t& height) {
  const double pixelsPerInch = PixelsPerInch(request, kDefaultPixelsPerInch);
  if (const wmfPlaceableMetaHeader* frame = UsableFrame(api)) {
    const double perUnit = pixelsPerInch / frame->Inch;
    return CheckedSize((frame->Right - frame->Left) * perUnit, (frame->Bottom - frame->Top) * perUnit,
                       request.maxPixels, width, height);
  }
  unsigned int displayWidth = 0, displayHeight = 0;
  if (wmf_display_size(&api, &displayWidth, &displayHeight, pixelsPerInch, pixelsPerInch) != wmf_E_None) {
    return Status::CorruptData;
  }
  return CheckedSize(displayWidth, displayHeight, request.maxPixels, width, height);
}

// One play onto a white or a black page; pixels are libwmf's 0x00RRGGBB.
Status PlayWmf(std::span<const uint8_t> data, uint32_t width, uint32_t height, bool blackPage,
               std::vector<uint32_t>& pixels, bool& drawn) {
  WmfApi api;
  wmfD_Rect bounds{};
  if (const Status status = OpenWmf(data, api, bounds); status != Status::Ok) return status;
  WmfPlay play;
  play.blackPage = blackPage;
  play.frame = UsableFrame(*api);
  auto& functions = *static_cast<wmfFunctionReference*>(api->function_reference);
  play.device = functions;
  HookDrawing(functions);
  api->user_data = &play;

  wmf_gd_t& gd = *WMF_GD_GetData(api);
  gd.type = wmf_gd_image;
  gd.width = width;
  gd.height = height;
  gd.bbox = bounds;
  if (wmf_play(api.get(), 0, &bounds) != wmf_E_None || gd.gd_image == nullptr) return Status::CorruptData;
  const int* image = wmf_gd_image_pixels(gd.gd_image);
  if (image == nullptr) return Status::OutOfMemory;
  pixels.assign(image, image + size_t{width} * height);
  drawn = play.drawn;
  return Status::Ok;
}

// A pixel's colour and coverage from its colours on a white and a black page.
uint32_t FromTwoPages(uint32_t onWhite, uint32_t onBlack) {
  uint32_t difference = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int white = static_cast<int>((onWhite >> shift) & 0xFF);
    const int black = static_cast<int>((onBlack >> shift) & 0xFF);
    difference = std::max(difference, static_cast<uint32_t>(std::clamp(white - black, 0, 255)));
  }
  const uint32_t alpha = 255 - difference;
  if (alpha == 0) return 0;
  uint32_t result = alpha << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t black = (onBlack >> shift) & 0xFF;
    result |= std::min<uint32_t>(255, (black * 255 + alpha / 2) / alpha) << shift;
  }
  return result;
}

Status RenderWmf(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  PageSize size;
  if (const Status status = MeasureMetafile(data, request, size); status != Status::Ok) return status;
  const uint32_t width = size.width, height = size.height;
  std::vector<uint32_t> onWhite, onBlack;
  bool drawn = false;
  if (const Status status = PlayWmf(data, width, height, false, onWhite, drawn); status != Status::Ok) {
    return status;
  }
  if (const Status status = PlayWmf(data, width, height, true, onBlack, drawn); status != Status::Ok) {
    return status;
  }
  out.width = width;
  out.height = height;
  out.argb.assign(onWhite.size(), 0);  // nothing drawn: all transparent
  if (!drawn) return Status::Ok;
  for (size_t i = 0; i < onWhite.size(); ++i) out.argb[i] = FromTwoPages(onWhite[i], onBlack[i]);
  return Status::Ok;
}

}  // namespace

Status MeasureMetafile(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out) {
  switch (SniffRendered(data)) {
    case RenderedKind::Emf: {
      EmfPlacement place;
      const Status status = PlaceEmf(data, request, place);
      out.width = place.width;
      out.height = place.height;
      return status;
    }
    case RenderedKind::Wmf: {
      WmfApi api;
      wmfD_Rect bounds{};
      if (const Status status = OpenWmf(data, api, bounds); status != Status::Ok) return status;
      return MeasureWmf(*api, request, out.width, out.height);
    }
    default:
      break;
  }
  return Status::UnknownImageFormat;
}

Status RenderMetafile(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  switch (SniffRendered(data)) {
    case RenderedKind::Emf:
      return RenderEmf(data, request, out);
    case RenderedKind::Wmf:
      return RenderWmf(data, request, out);
    default:
      break;
  }
  return Status::UnknownImageFormat;
}

}  // namespace rzt2
