// Drawn and complex formats (WMF, EMF, PDF, SVG, SVGZ, HEIF, AVIF) are
// rendered by the helper program rzt2-render, one child process per
// picture: their libraries are large C code, and a crash, a hang or a
// runaway allocation of theirs on hostile input must not take the converter
// down. The child gets a CPU time limit, a wall-clock ceiling far above it, an
// address-space limit for the libraries and one for the picture's pixels, no
// core dumps, and nothing but the file's bytes.
//
// The helper ends with the converter: it asks for SIGKILL when its parent
// dies, and the converter's signal handler kills it (base/child_processes.h).
//
// Failures: UnknownImageFormat for bytes of none of these formats;
// CorruptData when the libraries refuse the file or the helper answers
// nonsense; DrawingCrashed when the helper crashes; TooLarge over the pixel limit; OverMemoryAllowance when
// the picture's declared size needs more than the memory budget (refused
// from its header) or the helper runs out of memory; DrawTimeout when it
// runs out of CPU time, DrawWallTimeout when it outlives the wall-clock
// ceiling (also after it closed its output);
// NoSuchPage for a page past the last; NotImplemented when the helper
// cannot be started.
#pragma once

#include <chrono>
#include <filesystem>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

struct RenderDecoding {
  std::filesystem::path helper;
  std::chrono::milliseconds cpuLimit{std::chrono::seconds(kDrawSeconds)};
  std::chrono::milliseconds wallLimit{std::chrono::seconds(kDrawWallSeconds)};
};

// The helper next to the running program; none (NotImplemented) when it
// is not there.
const RenderDecoding& DefaultRenderDecoding();

// Draws limits.page (from 1) at limits.dpi.
Status DecodeRenderedWith(std::span<const uint8_t> data, const DecodeLimits& limits,
                          const RenderDecoding& how, std::unique_ptr<Bitmap>& out);

}  // namespace rzt2
