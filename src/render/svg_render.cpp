#include "render/svg_render.h"

#include <cairo.h>

namespace rzt2 {
namespace {

constexpr double kCssPixelsPerInch = 96;

struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
  void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};
using OwnedError = std::unique_ptr<GError, GErrorDeleter>;

}  // namespace

Status LoadSvg(std::span<const uint8_t> data, SvgHandle& out) {
  GError* rawError = nullptr;
  out.reset(rsvg_handle_new_from_data(data.data(), data.size(), &rawError));
  const OwnedError error(rawError);
  if (out == nullptr) return Status::CorruptData;
  rsvg_handle_set_dpi(out.get(), kCssPixelsPerInch);
  return Status::Ok;
}

Status SvgSize(RsvgHandle& handle, double& width, double& height) {
  if (!rsvg_handle_get_intrinsic_size_in_pixels(&handle, &width, &height)) {
    gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
    RsvgLength unusedWidth{}, unusedHeight{};
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(&handle, &hasWidth, &unusedWidth, &hasHeight, &unusedHeight,
                                         &hasViewBox, &viewBox);
    if (!hasViewBox) return Status::CorruptData;
    width = viewBox.width;
    height = viewBox.height;
  }
  return width > 0 && height > 0 ? Status::Ok : Status::CorruptData;
}

Status DrawSvg(RsvgHandle& handle, const RsvgRectangle& viewport, uint32_t width, uint32_t height,
               RenderedPicture& out) {
  const std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height)));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return Status::OutOfMemory;
  {
    const std::unique_ptr<cairo_t, CairoDeleter> cairo(cairo_create(surface.get()));
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) return Status::OutOfMemory;
    GError* rawError = nullptr;
    const bool rendered = rsvg_handle_render_document(&handle, cairo.get(), &viewport, &rawError);
    const OwnedError error(rawError);
    if (!rendered) return Status::CorruptData;
  }
  cairo_surface_flush(surface.get());

  const uint8_t* pixels = cairo_image_surface_get_data(surface.get());
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface.get()));
  out.width = width;
  out.height = height;
  out.argb.resize(size_t{width} * height);
  for (uint32_t y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * stride);
    uint32_t* target = out.argb.data() + size_t{y} * width;
    for (uint32_t x = 0; x < width; ++x) target[x] = Unpremultiplied(row[x]);
  }
  return Status::Ok;
}

Status MeasureSvg(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out) {
  SvgHandle handle;
  if (const Status status = LoadSvg(data, handle); status != Status::Ok) return status;
  double width = 0, height = 0;
  if (const Status status = SvgSize(*handle, width, height); status != Status::Ok) return status;
  const double scale = PixelsPerInch(request, kCssPixelsPerInch) / kCssPixelsPerInch;
  return CheckedSize(width * scale, height * scale, request.maxPixels, out.width, out.height);
}

Status RenderSvg(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  PageSize size;
  if (const Status status = MeasureSvg(data, request, size); status != Status::Ok) return status;
  SvgHandle handle;
  if (const Status status = LoadSvg(data, handle); status != Status::Ok) return status;
  const RsvgRectangle viewport{0, 0, static_cast<double>(size.width), static_cast<double>(size.height)};
  return DrawSvg(*handle, viewport, size.width, size.height, out);
}

}  // namespace rzt2
