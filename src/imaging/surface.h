// A drawing surface on an Rgb24 or Argb32 image. It always resamples with
// high-quality bicubic filtering and draws source-over. Like ImageHandle it
// keeps the status of its last failing operation.
//
// Drawing rules:
// - a 1:1 draw at integer positions copies pixels exactly;
// - downscaling is area-aware (a picture is first halved by box filtering,
//   then finished with a bicubic filter widened by the remaining factor);
// - filter taps read the whole source picture, clamped only at its edges,
//   so adjacent frames of one level join without seams;
// - where the source rectangle reaches past the picture, the destination
//   keeps what it had (edge pixels blend by the covered fraction).
#pragma once

#include <cstdint>

#include "base/status.h"
#include "imaging/image_handle.h"
#include "raster/bitmap.h"

namespace rzt2 {

class Surface {
 public:
  // The target must outlive the surface. An empty or indexed target gives a
  // surface whose every operation fails.
  explicit Surface(ImageHandle& target);

  Status LastStatus();
  Status Clear(uint32_t argb);
  // Draws the whole source into the destination rectangle.
  Status DrawImage(const ImageHandle& source, const Rect& destination);
  // Draws a source rectangle, in pixels, scaled into the destination rectangle.
  Status DrawImage(const ImageHandle& source, const Rect& destination, const Rect& sourceRect);

 private:
  Status Record(Status status);
  ImageHandle& target_;
  Status lastStatus_ = Status::Ok;
};

}  // namespace rzt2
