#include "render/heif_render.h"

#include <libheif/heif.h>

#include <memory>

namespace rzt2 {
namespace {

struct ContextDeleter {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
  void operator()(heif_image* image) const { heif_image_release(image); }
};

struct OpenImage {
  std::unique_ptr<heif_context, ContextDeleter> context;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle;
  PageSize size;
};

Status Open(std::span<const uint8_t> data, const RenderRequest& request, OpenImage& out) {
  out.context.reset(heif_context_alloc());
  if (out.context == nullptr) return Status::OutOfMemory;
  heif_context_set_maximum_image_size_limit(out.context.get(), static_cast<int>(kMaxRenderedSide));
  if (heif_context_read_from_memory_without_copy(out.context.get(), data.data(), data.size(), nullptr).code !=
      heif_error_Ok) {
    return Status::CorruptData;
  }
  heif_image_handle* handle = nullptr;
  const heif_error found = heif_context_get_primary_image_handle(out.context.get(), &handle);
  out.handle.reset(handle);
  if (found.code != heif_error_Ok || handle == nullptr) return Status::CorruptData;
  return CheckedSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle),
                     request.maxPixels, out.size.width, out.size.height);
}

}  // namespace

Status MeasureHeif(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out) {
  OpenImage open;
  const Status status = Open(data, request, open);
  out = open.size;
  return status;
}

Status RenderHeif(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out) {
  OpenImage open;
  if (const Status status = Open(data, request, open); status != Status::Ok) return status;
  heif_image* raw = nullptr;
  const heif_error decoded =
      heif_decode_image(open.handle.get(), &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
  const std::unique_ptr<heif_image, ImageDeleter> image(raw);
  if (decoded.code == heif_error_Memory_allocation_error) return Status::OutOfMemory;
  if (decoded.code != heif_error_Ok || image == nullptr) return Status::CorruptData;
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (width < 1 || height < 1 ||
      uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) !=
          uint64_t{open.size.width} * open.size.height) {
    return Status::CorruptData;
  }
  int stride = 0;
  const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (pixels == nullptr || stride < 4 * width) return Status::CorruptData;
  const bool premultiplied = heif_image_handle_is_premultiplied_alpha(open.handle.get()) != 0;
  out.width = static_cast<uint32_t>(width);
  out.height = static_cast<uint32_t>(height);
  out.argb.resize(size_t{out.width} * out.height);
  for (uint32_t y = 0; y < out.height; ++y) {
    const uint8_t* rgba = pixels + size_t{y} * static_cast<size_t>(stride);
    uint32_t* target = out.argb.data() + size_t{y} * out.width;
    for (uint32_t x = 0; x < out.width; ++x, rgba += 4) {
      const uint32_t pixel =
          uint32_t{rgba[3]} << 24 | uint32_t{rgba[0]} << 16 | uint32_t{rgba[1]} << 8 | rgba[2];
      target[x] = premultiplied ? Unpremultiplied(pixel) : pixel;
    }
  }
  return Status::Ok;
}

}  // namespace rzt2
