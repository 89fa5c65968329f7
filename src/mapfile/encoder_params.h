// The encoder parameters that shape every map file, and the settings: each
// number declared once with its stored name, the label the settings dialog
// gives it, its default and the range the settings dialog admits; each text
// with its stored name. The map writer's guard, the settings store, the
// settings dialog and the command line all read these declarations; the
// store (src/settings) builds on them, never the reverse.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

struct SettingRange {
  int32_t min;
  int32_t max;
};

// One item of a setting offered as a list: the value it stands for and
// its text in every front end.
struct SettingChoice {
  int32_t value;
  std::string_view label;
};

// How the store reads a number back that is missing (or not a 32-bit
// number) or out of range.
enum class StoredAs {
  Number,  // missing: the field stays; out of range: kept, for the writer's guard to refuse
  Flag,    // missing: 0; any number kept, non-zero meaning on
  Choice,  // missing: the field stays; out of range (a later version's, perhaps): the default
};

struct IntSetting {
  std::string_view name;   // the value's name in the store
  std::string_view label;  // as the user sees it: the settings dialog's label
  int32_t defaultValue;
  std::optional<SettingRange> range;  // none: every value is admitted
  StoredAs stored = StoredAs::Number;

  constexpr bool Admits(int32_t value) const {
    return !range || (value >= range->min && value <= range->max);
  }
};

// A value for a numeric setting, such as an option of the command line gives.
struct SettingValue {
  const IntSetting* setting;
  int32_t value;
};

inline constexpr IntSetting kFrameSizeX{"FrameSizeX", "Frames width", 160, SettingRange{32, 512}};
inline constexpr IntSetting kFrameSizeY{"FrameSizeY", "Frames height", 160, SettingRange{32, 512}};
// Bit i (1..6) stores zoom level i; level 0 is always stored and the other
// bits mean nothing, so any value is usable.
inline constexpr IntSetting kZoomLevelsMask{"ZoomLevelsMask", "Additional zoom levels to store in the file",
                                            255, std::nullopt};
// The three masks the settings dialog and the command line offer.
inline constexpr int32_t kZoomMaskNone = 0;      // the full-size level only
inline constexpr int32_t kZoomMaskFrom25 = 253;  // every level but 50 %
inline constexpr int32_t kZoomMaskFrom50 = 255;  // every level
inline constexpr SettingChoice kZoomChoices[] = {
    {kZoomMaskNone, "None"}, {kZoomMaskFrom25, "From 25%"}, {kZoomMaskFrom50, "From 50%"}};
inline constexpr IntSetting kMiniFrameSizeX{"MiniFrameSizeX", "Preview width", 640, SettingRange{128, 1024}};
inline constexpr IntSetting kMiniFrameSizeY{"MiniFrameSizeY", "Preview height", 640, SettingRange{128, 1024}};
// The frame format (FrameFormat).
inline constexpr IntSetting kEncoderCode{"EncoderCode", "RZT2 frames encoder algorithm", 0,
                                         SettingRange{0, kFrameFormatCount - 1}};
// The frame formats by name, in EncoderCode order.
inline constexpr auto kFrameFormatChoices = [] {
  std::array<SettingChoice, kFrameFormatCount> choices{};
  for (size_t code = 0; code < choices.size(); ++code)
    choices[code] = {static_cast<int32_t>(code), kFrameFormats[code].name};
  return choices;
}();
// The palette of a map file whose picture has no 256-entry palette of its
// own: the built-in one, or one fitted to the picture (entry 255 white).
inline constexpr int32_t kPaletteBuiltIn = 0;
inline constexpr int32_t kPaletteAdaptive = 1;
inline constexpr IntSetting kPaletteMode{"PaletteMode", "Palette", kPaletteBuiltIn,
                                         SettingRange{kPaletteBuiltIn, kPaletteAdaptive}, StoredAs::Choice};
inline constexpr SettingChoice kPaletteChoices[] = {{kPaletteBuiltIn, "Built-in"},
                                                    {kPaletteAdaptive, "Fitted to each map"}};
// How frames are encoded: fast, or small, spending more time for fewer
// bytes. The pixels are the same either way.
inline constexpr int32_t kMapSizeFast = 0;
inline constexpr int32_t kMapSizeSmall = 1;
inline constexpr IntSetting kMapSize{"MapSize", "Compression", kMapSizeFast,
                                     SettingRange{kMapSizeFast, kMapSizeSmall}, StoredAs::Choice};
inline constexpr SettingChoice kMapSizeChoices[] = {{kMapSizeFast, "Fast"},
                                                    {kMapSizeSmall, "Small: more time, fewer bytes"}};

// The two interface flags.
inline constexpr IntSetting kDstFolderAsSame{"DstFolderAsSame", "Same as source folder", 1, std::nullopt,
                                             StoredAs::Flag};
inline constexpr IntSetting kEnablePreview{"EnablePreview", "Enable preview", 0, std::nullopt,
                                           StoredAs::Flag};

// The two folders, texts that are empty by default.
struct TextSetting {
  std::string_view name;  // the value's name in the store
};
inline constexpr TextSetting kDstFolder{"DstFolder"};
inline constexpr TextSetting kSrcFolder{"SrcFolder"};

// Pixels an inch at which PDF, SVG and metafiles are drawn; 0 for each
// format's own (PDF 150, SVG and metafiles 96, their own units).
inline constexpr IntSetting kDrawingDpi{"DrawingDpi", "Resolution of PDF and vector pictures", 0,
                                        SettingRange{0, 2400}, StoredAs::Choice};
// Pages of multi-page files (PDF, TIFF, animated GIF): 0 the first, else
// each into its own map, "NAME-pN.rzt2".
inline constexpr IntSetting kAllPages{"AllPages", "Pages of multi-page files", 0, std::nullopt,
                                      StoredAs::Flag};
inline constexpr SettingChoice kPagesChoices[] = {{0, "First"}, {1, "Each into its own map"}};
// The most pages one file may yield: a file of more is refused, whatever
// it claims, before any map is begun.
inline constexpr IntSetting kMaxPages{"MaxPages", "Most pages converted from one file", 10000,
                                      SettingRange{1, 100000000}, StoredAs::Choice};

// The items of a setting offered as a list; none for a setting typed as a
// number.
constexpr std::span<const SettingChoice> ChoicesOf(const IntSetting& setting) {
  if (&setting == &kZoomLevelsMask) return kZoomChoices;
  if (&setting == &kEncoderCode) return kFrameFormatChoices;
  if (&setting == &kPaletteMode) return kPaletteChoices;
  if (&setting == &kMapSize) return kMapSizeChoices;
  if (&setting == &kAllPages) return kPagesChoices;
  return {};
}

// The parameters that shape every map file written. Each map writer takes
// its own copy.
struct EncoderParams {
  int32_t FrameSizeX = kFrameSizeX.defaultValue;
  int32_t FrameSizeY = kFrameSizeY.defaultValue;
  int32_t ZoomLevelsMask = kZoomLevelsMask.defaultValue;
  int32_t MiniFrameSizeX = kMiniFrameSizeX.defaultValue;
  int32_t MiniFrameSizeY = kMiniFrameSizeY.defaultValue;
  int32_t EncoderCode = kEncoderCode.defaultValue;
  int32_t PaletteMode = kPaletteMode.defaultValue;
  int32_t MapSize = kMapSize.defaultValue;

  friend bool operator==(const EncoderParams&, const EncoderParams&) = default;
};

// Each encoder parameter with its declaration, in the order of the struct.
struct EncoderParamField {
  const IntSetting* setting;
  int32_t EncoderParams::*member;
};
inline constexpr std::array<EncoderParamField, 8> kEncoderParamFields{{
    {&kFrameSizeX, &EncoderParams::FrameSizeX},
    {&kFrameSizeY, &EncoderParams::FrameSizeY},
    {&kZoomLevelsMask, &EncoderParams::ZoomLevelsMask},
    {&kMiniFrameSizeX, &EncoderParams::MiniFrameSizeX},
    {&kMiniFrameSizeY, &EncoderParams::MiniFrameSizeY},
    {&kEncoderCode, &EncoderParams::EncoderCode},
    {&kPaletteMode, &EncoderParams::PaletteMode},
    {&kMapSize, &EncoderParams::MapSize},
}};

// Why value is not admitted for setting, e.g. "Frames height is 600; it must
// be between 32 and 512"; nothing when it is admitted.
inline std::optional<std::string> RangeError(const IntSetting& setting, int32_t value) {
  if (setting.Admits(value)) return std::nullopt;
  return std::string(setting.label) + " is " + std::to_string(value) + "; it must be between " +
         std::to_string(setting.range->min) + " and " + std::to_string(setting.range->max);
}

// The first encoder parameter, in struct order, that is out of its range.
inline std::optional<std::string> CheckEncoderParams(const EncoderParams& params) {
  for (const EncoderParamField& field : kEncoderParamFields) {
    if (auto error = RangeError(*field.setting, params.*field.member)) return error;
  }
  return std::nullopt;
}

}  // namespace rzt2
