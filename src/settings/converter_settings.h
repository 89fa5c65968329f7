// ConverterSettings: everything the user sets that lasts from one run to the
// next, and its per-user store. Callers read and write the fields directly;
// the store checks no value range of the encoder parameters (see
// mapfile/encoder_params.h for the ranges).
//
// The store is a QSettings file in native format, organisation "Velmora",
// application "rzt2tool", user scope; on Linux that is
// $XDG_CONFIG_HOME/Velmora/rzt2tool.conf. It holds the values of
// kStoredTexts and kStoredNumbers, named by their declarations, which are
// named exactly as the fields. Texts are UTF-8 and are not limited in length.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <utility>

#include "mapfile/encoder_params.h"

namespace rzt2 {

// The encoder parameters come first, as the EncoderParams block that
// each map writer copies.
class ConverterSettings : public EncoderParams {
 public:
  // Defaults, kept in the user's store.
  ConverterSettings() = default;
  // Defaults, kept in the given file instead of the user's store.
  explicit ConverterSettings(std::string storeFile) : storeFile_(std::move(storeFile)) {}

  // Output folder when DstFolderAsSame is 0; put unchanged before each
  // output file name.
  std::string DstFolder;
  // The folder whose files the file list shows.
  std::string SrcFolder;
  // Non-zero: outputs go next to their sources.
  int32_t DstFolderAsSame = kDstFolderAsSame.defaultValue;
  // The main window's "Enable preview" check box.
  int32_t EnablePreview = kEnablePreview.defaultValue;
  // Drawn formats' pixels an inch (0: each format's own), and whether each
  // page of a multi-page file becomes its own map.
  int32_t DrawingDpi = kDrawingDpi.defaultValue;
  int32_t AllPages = kAllPages.defaultValue;
  // The most pages one file may yield.
  int32_t MaxPages = kMaxPages.defaultValue;

  // A copy of the encoder parameters.
  EncoderParams Encoder() const { return *this; }
  void SetEncoder(const EncoderParams& params) { static_cast<EncoderParams&>(*this) = params; }

  // Every field takes its default.
  void SetDefaults();
  // Gives each value's setting its value; a setting that is not stored is
  // left out.
  void Apply(std::span<const SettingValue> values);
  // Reads the store, each number as its declaration's StoredAs says; a
  // missing folder reads as empty. False, with no field changed, when the
  // store does not exist or cannot be read.
  bool LoadSettings();
  // Writes every stored value. False when the store cannot be written.
  bool SaveSettings() const;

  // The file the store lives in.
  std::string StoreFileName() const;

 private:
  std::string storeFile_;  // empty: the user's store
};

// Each stored text with its field.
struct StoredText {
  const TextSetting* setting;
  std::string ConverterSettings::*field;
};
inline constexpr StoredText kStoredTexts[] = {
    {&kDstFolder, &ConverterSettings::DstFolder},
    {&kSrcFolder, &ConverterSettings::SrcFolder},
};

// Each stored number with its field: the encoder parameters, then the
// others. A new setting is a declaration, a field and a row here.
struct StoredNumber {
  const IntSetting* setting;
  int32_t ConverterSettings::*field;
};
inline constexpr auto kStoredNumbers = [] {
  const StoredNumber others[] = {
      {&kDstFolderAsSame, &ConverterSettings::DstFolderAsSame},
      {&kEnablePreview, &ConverterSettings::EnablePreview},
      {&kDrawingDpi, &ConverterSettings::DrawingDpi},
      {&kAllPages, &ConverterSettings::AllPages},
      {&kMaxPages, &ConverterSettings::MaxPages},
  };
  std::array<StoredNumber, kEncoderParamFields.size() + std::size(others)> rows{};
  auto row = std::transform(kEncoderParamFields.begin(), kEncoderParamFields.end(), rows.begin(),
                            [](const EncoderParamField& field) {
                              return StoredNumber{field.setting, field.member};
                            });
  std::copy(std::begin(others), std::end(others), row);
  return rows;
}();

}  // namespace rzt2
