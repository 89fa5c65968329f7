// The 256-colour palette of a map file: the picture's own palette when it
// has exactly 256 entries, otherwise FixedPalette, a general-purpose palette
// built into the program.
#pragma once

#include "imaging/image_handle.h"
#include "raster/color_palette.h"

namespace rzt2 {

// FixedPalette: flags 0, 256 opaque entries. Entries 0-9 and 246-255 are the
// static colours of the Windows default palette, 10-225 hold 18 hue families
// of 12 tints, full colours and shades, 226-245 twenty greys.
// Empty only when memory is exhausted.
ColorPalette MakeFixedPalette();

// The image's own palette, entry for entry, when it has exactly 256 entries;
// FixedPalette for any other count, for true-colour pictures and when the
// palette cannot be read (that failure stays as the image's last status).
ColorPalette PaletteForImage(ImageHandle& image);

}  // namespace rzt2
