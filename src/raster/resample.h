// The drawing engine behind Surface: composites a source rectangle of a
// picture, scaled, into a destination rectangle of an Rgb24 or Argb32
// target. See surface.h for the rules it keeps.
#pragma once

#include "raster/bitmap.h"
#include "raster/status.h"

namespace rzt2 {

Status DrawPicture(const Bitmap& picture, Bitmap& target, const Rect& destination, const Rect& source);

}  // namespace rzt2
