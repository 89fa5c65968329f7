// ConverterSettings: everything the user sets that lasts from one run to the
// next, and its per-user store. Callers read and write the fields directly;
// the store checks no value range (see mapfile/encoder_params.h for the ranges).
//
// The store is a QSettings file in native format, organisation "Velmora",
// application "rzt2tool", user scope; on Linux that is
// $XDG_CONFIG_HOME/Velmora/rzt2tool.conf. It holds thirteen values named exactly
// as the fields. Texts are UTF-8 and are not limited in length.
#pragma once

#include <cstdint>
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

  // A copy of the encoder parameters.
  EncoderParams Encoder() const { return *this; }
  void SetEncoder(const EncoderParams& params) { static_cast<EncoderParams&>(*this) = params; }

  // Every field takes its default.
  void SetDefaults();
  // Reads the store. A missing folder reads as empty, a missing flag as 0,
  // a missing number leaves its field alone; a value that is not a number
  // counts as missing. A PaletteMode that names no palette reads as the
  // default. False, with no field changed, when the store does not
  // exist or cannot be read.
  bool LoadSettings();
  // Writes all thirteen values. False when the store cannot be written.
  bool SaveSettings() const;

  // The file the store lives in.
  std::string StoreFileName() const;

 private:
  std::string storeFile_;  // empty: the user's store
};

}  // namespace rzt2
