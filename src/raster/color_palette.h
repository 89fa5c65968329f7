// A palette as images carry it: flags, then Count entries of 0xAARRGGBB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rzt2 {

struct ColorPalette {
  uint32_t flags = 0;
  std::vector<uint32_t> entries;  // Count is entries.size()

  uint32_t Count() const { return static_cast<uint32_t>(entries.size()); }
  // The byte size of the palette record: Flags, Count and the entries.
  size_t ByteSize() const { return 8 + 4 * entries.size(); }
  bool operator==(const ColorPalette&) const = default;
};

// The palette flag bit that marks entries with alpha, as image libraries set it.
inline constexpr uint32_t kPaletteHasAlpha = 0x1;

constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
constexpr uint32_t AlphaOf(uint32_t argb) { return argb >> 24; }
constexpr uint32_t RedOf(uint32_t argb) { return (argb >> 16) & 0xFF; }
constexpr uint32_t GreenOf(uint32_t argb) { return (argb >> 8) & 0xFF; }
constexpr uint32_t BlueOf(uint32_t argb) { return argb & 0xFF; }
// How light a colour looks, in thousandths of a level (0 to 255000).
constexpr uint32_t LightnessOf(uint32_t argb) {
  return 299 * RedOf(argb) + 587 * GreenOf(argb) + 114 * BlueOf(argb);
}

}  // namespace rzt2
