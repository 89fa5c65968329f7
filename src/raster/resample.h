// The drawing engine behind Surface: composites a source rectangle of a
// picture, scaled, into a destination rectangle of an Rgb24 or Argb32
// target. See surface.h for the rules it keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "raster/bitmap.h"

namespace rzt2 {

// The halved copy (Pyramid level) that a draw of the source rectangle into
// the destination filters from: the shrink of its less shrunk axis halved
// until below 2. 0 for the picture itself.
int ReductionLevel(const Rect& destination, const Rect& source);

Status DrawPicture(const Bitmap& picture, Bitmap& target, const Rect& destination, const Rect& source);

// DrawPicture in its two steps, so that frames can be filtered on several
// threads and composited one after another: the composite of a picture that
// is not quite opaque keeps a trace of what the target held, so its order
// decides the bytes. Prepare reads only the picture and its halved copies
// (safe from several threads once the picture's Reductions exist);
// Composite blends the result into a target of the size given to Prepare
// exactly as DrawPicture would, and allocates nothing. A draw may be
// prepared again; it keeps its buffers.
class FilteredDraw {
 public:
  Status Prepare(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& destination,
                 const Rect& source);
  void Composite(Bitmap& target) const;
  // Whether Composite takes an Argb32 target of this size to the same
  // pixels whatever it held: the picture's pixels are copied over all of
  // it. Filtered draws blend, so they never say so.
  bool Replaces(int32_t targetWidth, int32_t targetHeight) const;

 private:
  void Copy(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& d, const Rect& s);
  Status Filter(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& d,
                const Rect& s);

  enum class Kind { Nothing, Copy, Reduction, Filtered };
  Kind kind_ = Kind::Nothing;
  int32_t x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;  // the target pixels drawn
  std::vector<uint32_t> pixels_;               // Copy: the picture's ARGB; Reduction: premultiplied ARGB
  // Copy, Reduction: rows of pixels_ that are opaque and wholly cover their
  // place, which an ARGB target takes as they are.
  std::vector<bool> copyRows_;
  std::vector<float> colors_;           // Filtered: premultiplied b, g, r, a of each pixel
  std::vector<float> coverX_, coverY_;  // Reduction, Filtered: the fraction the picture covers
};

}  // namespace rzt2
