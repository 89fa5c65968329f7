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

// Nothing when the value is missing or is not a 32-bit number.
std::optional<int32_t> ReadNumber(const QSettings& store, std::string_view name) {
  // Through the text, because QVariant's own conversion wraps numbers that
  // do not fit into 32 bits instead of failing.
  bool ok = false;
  const int number = store.value(Key(name)).toString().toInt(&ok);
  if (!ok) return std::nullopt;
  return number;
}

// The number as its declaration says it is read; nothing when the field
// stays as it is.
std::optional<int32_t> ReadStored(const QSettings& store, const IntSetting& setting) {
  const std::optional<int32_t> number = ReadNumber(store, setting.name);
  switch (setting.stored) {
    case StoredAs::Number:
      return number;
    case StoredAs::Flag:
      return number.value_or(0);
    case StoredAs::Choice:
      if (number && !setting.Admits(*number)) return setting.defaultValue;
      return number;
  }
  return std::nullopt;
}

}  // namespace

void ConverterSettings::SetDefaults() { *this = ConverterSettings(storeFile_); }

void ConverterSettings::Apply(std::span<const SettingValue> values) {
  for (const SettingValue& value : values) {
    for (const StoredNumber& stored : kStoredNumbers) {
      if (stored.setting == value.setting) this->*stored.field = value.value;
    }
  }
}

bool ConverterSettings::LoadSettings() {
  const std::unique_ptr<QSettings> store = OpenStore(storeFile_);
  // QSettings treats a missing file as an empty store; we must tell them
  // apart so that a first run keeps the defaults of the flags and folders.
  if (!QFileInfo::exists(store->fileName()) || store->status() != QSettings::NoError) {
    return false;
  }
  for (const StoredText& stored : kStoredTexts) {
    this->*stored.field = store->value(Key(stored.setting->name)).toString().toStdString();
  }
  for (const StoredNumber& stored : kStoredNumbers) {
    if (const auto number = ReadStored(*store, *stored.setting)) this->*stored.field = *number;
  }
  return true;
}

bool ConverterSettings::SaveSettings() const {
  const std::unique_ptr<QSettings> store = OpenStore(storeFile_);
  // isWritable() creates missing parent folders and probes the file itself.
  if (!store->isWritable()) return false;
  for (const StoredText& stored : kStoredTexts) {
    store->setValue(Key(stored.setting->name), QString::fromStdString(this->*stored.field));
  }
  for (const StoredNumber& stored : kStoredNumbers) {
    store->setValue(Key(stored.setting->name), this->*stored.field);
  }
  store->sync();
  return store->status() == QSettings::NoError;
}

std::string ConverterSettings::StoreFileName() const {
  return OpenStore(storeFile_)->fileName().toStdString();
}

}  // namespace rzt2
