#include "render/pdf_render.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <climits>
#include <memory>

namespace rzt2 {
namespace {

constexpr double kDefaultPixelsPerInch = 150;
constexpr double kPointsPerInch = 72;

void IgnoreMessage(const std::string& /*message*/, void* /*closure*/) {}

struct OpenPage {
  std::unique_ptr<poppler::document> document;
  std::unique_ptr<poppler::page> page;
  PageSize size;
  double pixelsPerInch = 0;
};

Status Open(std::span<const uint8_t> data, const RenderRequest& request, OpenPage& out) {
  poppler::set_debug_error_function(IgnoreMessage, nullptr);
  if (data.size() > static_cast<size_t>(INT_MAX)) return Status::TooLarge;
  out.document.reset(poppler::document::load_from_raw_data(reinterpret_cast<const char*>(data.data()),
                                                           static_cast<int>(data.size())));
  if (out.document == nullptr) return Status::CorruptData;
  if (out.document->is_locked()) return Status::UnsupportedFormat;
  const int pages = out.document->pages();
  if (pages < 1) return Status::CorruptData;
  out.size.pages = static_cast<uint32_t>(pages);
  if (request.page < 1 || request.page > out.size.pages) return Status::NoSuchPage;
  out.page.reset(out.document->create_page(static_cast<int>(request.page - 1)));
  if (out.page == nullptr) return Status::CorruptData;

  const poppler::rectf box = out.page->page_rect(poppler::crop_box);
  out.pixelsPerInch = PixelsPerInch(request, kDefaultPixelsPerInch);
  double width = box.width() / kPointsPerInch * out.pixelsPerInch;
  double height = box.height() / kPointsPerInch * out.pixelsPerInch;
  const poppler::page::orientation_enum turned = out.page->orientation();
  if (turned == poppler::page::landscape || turned == poppler::page::seascape) std::swap(width, height);
  return CheckedSize(width, height, request.maxPixels, out.size.width, out.size.height);
}

}  // namespace

Status MeasurePdf(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out) {
  OpenPage open;
  const Status status = Open(data, request, open);
  out = open.size;
  return status;
}

Status RenderPdf(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  OpenPage open;
  if (const Status status = Open(data, request, open); status != Status::Ok) return status;
  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing |
                            poppler::page_renderer::text_hinting);
  renderer.set_image_format(poppler::image::format_argb32);
  renderer.set_paper_color(0xFFFFFFFF);
  const poppler::image image = renderer.render_page(open.page.get(), open.pixelsPerInch, open.pixelsPerInch);
  if (!image.is_valid() || image.format() != poppler::image::format_argb32) return Status::CorruptData;
  // Splash rounds the page's edges its own way: within a pixel of the measure.
  const auto width = static_cast<uint32_t>(image.width());
  const auto height = static_cast<uint32_t>(image.height());
  if (width == 0 || height == 0 || width > open.size.width + 1 || height > open.size.height + 1) {
    return Status::CorruptData;
  }
  out.width = width;
  out.height = height;
  out.argb.resize(size_t{width} * height);
  const char* pixels = image.const_data();
  const auto stride = static_cast<size_t>(image.bytes_per_row());
  for (uint32_t y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * stride);
    uint32_t* target = out.argb.data() + size_t{y} * width;
    for (uint32_t x = 0; x < width; ++x) target[x] = Unpremultiplied(row[x]);
  }
  return Status::Ok;
}

}  // namespace rzt2
