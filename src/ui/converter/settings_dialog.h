// SettingsDialog: the modal "RZT2 encoder settings" dialog for the frame and
// preview sizes, the frame format, the additional zoom levels, the palette
// and the destination folder of a ConverterSettings record. It opens from the record;
// exec() returns Accepted only after the dialog copied its values back into
// the record and called SaveSettings. Cancel leaves record and store alone.
// The source folder and the preview flag are neither shown nor changed.
//
// Each control has one member, and members and controls are exchanged in one
// fixed order: format, zoom, palette, frame height, frame width, preview height,
// preview width, destination text, destination choice. Taking the controls in
// stops at the first size that is not an integer within its range: it shows
// a message and puts the focus on that field with its text selected; a number
// out of range is kept in its member all the same, later members keep their
// values. OK also refuses to close while no frame format is chosen. Typing
// a destination, or picking one with "...", takes the controls in as well,
// keeps the destination even when a size fails, checks "Select", and shows
// no other member again: no edit made elsewhere is put back.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "settings/converter_settings.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;

namespace rzt2 {

class ShellNamespace;
class UserPrompts;

class SettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  // shell: the folders the "..." button offers; prompts shows the messages.
  SettingsDialog(ConverterSettings& settings, ShellNamespace& shell, UserPrompts& prompts,
                 QWidget* parent = nullptr);

  // OK and Enter: takes the controls in; when they are valid, copies them
  // back into the record, saves it and closes.
  void accept() override;

 private:
  struct NumberField {
    QLineEdit* edit;
    int32_t* member;
    const IntSetting* setting;
  };

  void createControls();
  void openFromRecord();
  void copyToRecord();
  // Members to controls: all of them, or the destination text and choice.
  void showMembers();
  void showDestination();
  // Controls to members; false at the first field that fails.
  bool takeIn();
  bool takeInNumber(const NumberField& field);
  bool fail(QWidget* field, const QString& message);
  // The size fields in exchange order.
  std::array<NumberField, 4> numberFields();

  void onBrowse();
  void onDestinationEdited();

  ConverterSettings& settings_;
  ShellNamespace& shell_;
  UserPrompts& prompts_;

  int encoderIndex_ = -1;
  int zoomChoice_ = -1;
  int paletteChoice_ = -1;
  int32_t frameHeightInput_ = 0;
  int32_t frameWidthInput_ = 0;
  int32_t previewHeightInput_ = 0;
  int32_t previewWidthInput_ = 0;
  QString destinationText_;
  int destinationChoice_ = -1;

  QComboBox* encoderCombo_ = nullptr;
  QComboBox* zoomCombo_ = nullptr;
  QComboBox* paletteCombo_ = nullptr;
  QLineEdit* frameHeightEdit_ = nullptr;
  QLineEdit* frameWidthEdit_ = nullptr;
  QLineEdit* previewHeightEdit_ = nullptr;
  QLineEdit* previewWidthEdit_ = nullptr;
  QLineEdit* destinationEdit_ = nullptr;
  QButtonGroup* destinationGroup_ = nullptr;
};

}  // namespace rzt2
