#include "settings/converter_settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <string_view>

namespace rzt2 {

namespace {

constexpr char kOrganisation[] = "Velmora";
constexpr char kApplication[] = "rzt2tool";
constexpr std::string_view kDstFolderKey = "DstFolder";
constexpr std::string_view kSrcFolderKey = "SrcFolder";

QString Key(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// QSettings can be neither copied nor moved, hence the pointer.
std::unique_ptr<QSettings> OpenStore(const std::string& storeFile) {
  auto store = storeFile.empty()
                   ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganisation,
                                                 kApplication)
                   : std::make_unique<QSettings>(QString::fromStdString(storeFile), QSettings::NativeFormat);
  // Only the user's own file counts; values from organisation-wide or
  // system files would make a missing value look present.
  store->setFallbacksEnabled(false);
  return store;
}

std::string ReadText(const QSettings& store, std::string_view name) {
  return store.value(Key(name)).toString().toStdString();
}

// Nothing when the value is missing or is not a 32-bit number.
std::optional<int32_t> ReadNumber(const QSettings& store, const IntSetting& setting) {
  // Through the text, because QVariant's own conversion wraps numbers that
  // do not fit into 32 bits instead of failing.
  bool ok = false;
  const int number = store.value(Key(setting.name)).toString().toInt(&ok);
  if (!ok) return std::nullopt;
  return number;
}

void WriteNumber(QSettings& store, const IntSetting& setting, int32_t value) {
  store.setValue(Key(setting.name), value);
}

}  // namespace

void ConverterSettings::SetDefaults() { *this = ConverterSettings(storeFile_); }

bool ConverterSettings::LoadSettings() {
  const std::unique_ptr<QSettings> store = OpenStore(storeFile_);
  // QSettings treats a missing file as an empty store; we must tell them
  // apart so that a first run keeps the defaults of the flags and folders.
  if (!QFileInfo::exists(store->fileName()) || store->status() != QSettings::NoError) {
    return false;
  }
  DstFolder = ReadText(*store, kDstFolderKey);
  SrcFolder = ReadText(*store, kSrcFolderKey);
  DstFolderAsSame = ReadNumber(*store, kDstFolderAsSame).value_or(0);
  EnablePreview = ReadNumber(*store, kEnablePreview).value_or(0);
  AllPages = ReadNumber(*store, kAllPages).value_or(0);
  if (auto dpi = ReadNumber(*store, kDrawingDpi); dpi && kDrawingDpi.Admits(*dpi)) DrawingDpi = *dpi;
  EncoderParams params = Encoder();
  for (const EncoderParamField& field : kEncoderParamFields) {
    if (auto number = ReadNumber(*store, *field.setting)) params.*field.member = *number;
  }
  // Written by a later version, perhaps: this one draws with the default.
  if (!kPaletteMode.Admits(params.PaletteMode)) params.PaletteMode = kPaletteMode.defaultValue;
  SetEncoder(params);
  return true;
}

bool ConverterSettings::SaveSettings() const {
  const std::unique_ptr<QSettings> store = OpenStore(storeFile_);
  // isWritable() creates missing parent folders and probes the file itself.
  if (!store->isWritable()) return false;
  store->setValue(Key(kDstFolderKey), QString::fromStdString(DstFolder));
  store->setValue(Key(kSrcFolderKey), QString::fromStdString(SrcFolder));
  WriteNumber(*store, kDstFolderAsSame, DstFolderAsSame);
  WriteNumber(*store, kEnablePreview, EnablePreview);
  WriteNumber(*store, kDrawingDpi, DrawingDpi);
  WriteNumber(*store, kAllPages, AllPages);
  WriteNumber(*store, kFrameSizeX, FrameSizeX);
  WriteNumber(*store, kFrameSizeY, FrameSizeY);
  WriteNumber(*store, kMiniFrameSizeX, MiniFrameSizeX);
  WriteNumber(*store, kMiniFrameSizeY, MiniFrameSizeY);
  WriteNumber(*store, kEncoderCode, EncoderCode);
  WriteNumber(*store, kZoomLevelsMask, ZoomLevelsMask);
  WriteNumber(*store, kPaletteMode, PaletteMode);
  store->sync();
  return store->status() == QSettings::NoError;
}

std::string ConverterSettings::StoreFileName() const {
  return OpenStore(storeFile_)->fileName().toStdString();
}

}  // namespace rzt2
