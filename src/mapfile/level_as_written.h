// A picture as a map file made from it holds it: one zoom level, written by
// the map writer and read back, so that the palette the writer chooses and
// the frame format's own loss (a JPEG frame's blocks, a 256-colour frame's
// steps) can be seen before the file is made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/thread_pool.h"
#include "imaging/image_handle.h"
#include "mapfile/encoder_params.h"

namespace rzt2 {

// The zoom level (an index into kZoomLevels) that a map written with params
// stores and that shows a width x height picture at least shownWidth x
// shownHeight pixels large: the coarsest such level, else the 100 % level.
size_t LevelForShownSize(const EncoderParams& params, uint32_t width, uint32_t height, uint32_t shownWidth,
                         uint32_t shownHeight);

// The zoom level with that index of a map written from picture with params,
// as a reader rebuilds it: the level's frames written by MapWriter, with
// the palette it chooses (the picture's own, the built-in or a fitted one),
// into a file in memory, decoded again and laid side by side, cut to the
// picture's area at that level. The 100 % level is the file's, pixel for
// pixel. Of a coarser level with the built-in palette, a colour whose 6-bit
// memo entry a whole file takes from a finer level may come out as the
// palette entry beside the file's (the finer levels, which the file writes
// first, are not written here: they cost as much as the whole file). An
// empty handle with the status on failure.
ImageHandle LevelAsWritten(ImageHandle& picture, const EncoderParams& params, size_t level,
                           ThreadPool* pool = nullptr);

}  // namespace rzt2
