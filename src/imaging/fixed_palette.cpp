#include "imaging/fixed_palette.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace rzt2 {

namespace {

constexpr uint32_t kEntryCount = 256;
constexpr uint32_t kFirstFamilyEntry = 10;
constexpr uint32_t kFamilyCount = 18;
constexpr uint32_t kFamilySize = 12;
constexpr uint32_t kFirstGreyEntry = 226;
constexpr uint32_t kGreyCount = 20;
constexpr uint32_t kFirstHighSystemEntry = 246;

// The static colours of the Windows default palette, RRGGBB: the first ten
// open the palette, the last ten close it.
constexpr std::array<uint32_t, 10> kLowSystemColours = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                                        0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
constexpr std::array<uint32_t, 10> kHighSystemColours = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                                         0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// How the middle channel follows a family's middle level V (0, 85, 170 or
// 255): tints start at tintStart and fall by tintStep per position, shades
// fall from V by shadeStep per step.
struct MiddleRamp {
  uint32_t tintStart;
  uint32_t tintStep;
  uint32_t shadeStep;
};
constexpr std::array<MiddleRamp, 4> kRampByLevel = {{
    {212, 35, 0},   // V = 0
    {227, 28, 12},  // V = 85
    {240, 14, 24},  // V = 170
    {255, 0, 35},   // V = 255
}};

// Colour j (0-5 tints, 6 full colour, 7-11 shades) of the family with the
// given hue in degrees, a multiple of 20.
uint32_t FamilyColour(uint32_t hue, uint32_t j) {
  // Channels 0, 1, 2 are R, G, B. Each 120-degree sector leads from one
  // primary to the next: up to 40 degrees in, the primary is the maximum
  // channel; from 60 degrees on, the next primary is.
  const uint32_t offset = hue % 120;
  const uint32_t primary = hue / 120;
  const uint32_t next = (primary + 1) % 3;
  const uint32_t maxChannel = offset < 60 ? primary : next;
  const uint32_t midChannel = offset < 60 ? next : primary;
  const uint32_t minChannel = 3 - maxChannel - midChannel;
  const uint32_t level = 85 * std::min(offset, 120 - offset) / 20;
  const MiddleRamp& ramp = kRampByLevel[level / 85];

  std::array<uint32_t, 3> rgb{};
  if (j < 6) {
    rgb[maxChannel] = 255;
    rgb[midChannel] = ramp.tintStart - ramp.tintStep * j;
    rgb[minChannel] = 212 - 35 * j;
  } else if (j == 6) {
    // The pure hues use 254, so that they differ from the system colours.
    const bool pure = level == 0 || level == 255;
    rgb[maxChannel] = pure ? 254 : 255;
    rgb[midChannel] = level == 255 ? 254 : level;
  } else {
    const uint32_t shade = j - 6;
    rgb[maxChannel] = 255 - 35 * shade;
    rgb[midChannel] = level - ramp.shadeStep * shade;
  }
  return Argb(0xFF, rgb[0], rgb[1], rgb[2]);
}

}  // namespace

ColorPalette MakeFixedPalette() {
  ColorPalette palette;
  if (GuardMemory([&] {
        palette.entries.resize(kEntryCount);
        return Status::Ok;
      }) != Status::Ok) {
    return palette;
  }
  std::vector<uint32_t>& entries = palette.entries;
  constexpr uint32_t kOpaque = 0xFF000000;
  for (uint32_t i = 0; i < kLowSystemColours.size(); ++i) {
    entries[i] = kOpaque | kLowSystemColours[i];
    entries[kFirstHighSystemEntry + i] = kOpaque | kHighSystemColours[i];
  }
  // The families run from 40 degrees down in steps of 20, wrapping at 0.
  for (uint32_t k = 0; k < kFamilyCount; ++k) {
    const uint32_t hue = (400 - 20 * k) % 360;
    for (uint32_t j = 0; j < kFamilySize; ++j) {
      entries[kFirstFamilyEntry + kFamilySize * k + j] = FamilyColour(hue, j);
    }
  }
  for (uint32_t g = 0; g < kGreyCount; ++g) {
    const uint32_t grey = 242 - 12 * g;
    entries[kFirstGreyEntry + g] = Argb(0xFF, grey, grey, grey);
  }
  return palette;
}

ColorPalette PaletteForImage(ImageHandle& image) {
  // A record too small for Flags and Count means no usable palette.
  if (image.PaletteSize() >= 8) {
    ColorPalette own;
    if (image.GetPalette(own) == Status::Ok && own.Count() == kEntryCount) return own;
  }
  return MakeFixedPalette();
}

}  // namespace rzt2
