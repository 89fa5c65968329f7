// Palettes fitted to one picture. The picture is taken as frames show it:
// composed on white. Entry 255 is white (where the picture is transparent,
// and beyond its edges), entry 0 is never chosen, and entries 1 to 254 are
// fitted: a picture of at most 254 colours besides white keeps each of them
// exactly; any other is reduced by libimagequant, deterministically and
// without dithering. Entries left over repeat entry 1, which a search
// reaches first, so they are never chosen.
#pragma once

#include <array>
#include <cstdint>

#include "base/thread_pool.h"
#include "imaging/image_handle.h"
#include "raster/color_palette.h"

namespace rzt2 {

// The fitted palette of the picture: 256 opaque entries. The colours are
// counted on every pixel; libimagequant sees every row of small pictures
// and evenly spaced rows of large ones. Work is spread over the pool's
// threads (and the caller's); the palette does not depend on them.
// OutOfMemory when memory runs out, GenericError when libimagequant fails.
Status FitPalette(const Bitmap& picture, ThreadPool* pool, ColorPalette& out);

// Whether a map file made from the picture keeps the picture's own
// palette, whatever the palette mode: it has 256 entries.
bool KeepsItsOwnPalette(const Bitmap& picture);

// Where each entry of a fitted palette goes when entries 1 to 254 are
// ordered by lightness, darkest first, equals in their order; entries 0 and
// 255 stay. Neighbouring indexes then have neighbouring colours, which
// PNG's row filters turn into fewer bytes. Entry i moves to order[i].
std::array<uint8_t, 256> LightnessOrder(const ColorPalette& palette);

// Whether PaletteForMap fits a palette to the picture.
bool TakesFittedPalette(const Bitmap& picture, bool adaptive);

// The palette of a map file made from the image: its own when it has 256
// entries (PaletteForImage), else FitPalette when adaptive, else
// FixedPalette. A failure leaves an empty palette and its status.
Status PaletteForMap(ImageHandle& image, bool adaptive, ThreadPool* pool, ColorPalette& out);

}  // namespace rzt2
