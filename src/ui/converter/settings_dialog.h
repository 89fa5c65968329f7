// SettingsDialog: the modal "RZT2 encoder settings" dialog for the frame and
// preview sizes, the frame format, the additional zoom levels and the
// destination folder of a ConverterSettings record. It edits a copy of the
// record; exec() returns Accepted only after the dialog checked the copy as a
// whole, copied it back into the record and called SaveSettings. Cancel
// leaves record and store alone. The source folder and the preview flag are
// neither shown nor changed.
//
// Each setting is one row of a form, built from the setting's declaration
// (label, range, default; mapfile/encoder_params.h) and the row table in
// settings_dialog.cpp. Taking the controls in goes through the rows in their
// check order (format, zoom, frame height, frame width, preview height,
// preview width), then the destination text and choice, and stops at the
// first size that is not an integer within its range: it shows a message
// and puts the focus on that field with its text selected; a number out of
// range is kept in the copy all the same, later fields keep their values.
// OK also refuses to close while no frame format is chosen. Typing a
// destination, or picking one with "..." (which opens on the folder typed),
// checks "Select" and looks at no other field: a field left invalid is
// reported on OK only. A chosen destination folder that does not exist is
// pointed out below it, with a word that a job will make it. Rows may have
// a unit after the field and a line under them that says what the choice
// does; every field is named for screen readers by its label.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "settings/converter_settings.h"

class QButtonGroup;
class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;

namespace rzt2 {

class ShellNamespace;
class UserPrompts;
struct SettingRow;

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
  // A row's control, with the row it shows.
  struct Field {
    const SettingRow* row;
    QWidget* control;
  };

  void createForms();
  QWidget* createDestinationGroup();
  QWidget* createButtons();
  QWidget* createControl(const SettingRow& row);
  // The copy to the controls: all of them, or the destination only.
  void showAll();
  void showDestination();
  // The controls to the copy; false at the first field that fails.
  bool takeIn();
  bool takeInField(const Field& field);
  bool fail(QWidget* field, const QString& message);
  void onBrowse();
  void onDestinationEdited();
  void updateDestinationWarning();

  ConverterSettings& settings_;
  ShellNamespace& shell_;
  UserPrompts& prompts_;
  ConverterSettings draft_;  // what the dialog shows and takes in

  std::vector<Field> fields_;  // in check order
  QFormLayout* mainForm_ = nullptr;
  QFormLayout* expertForm_ = nullptr;
  QLineEdit* destinationEdit_ = nullptr;
  QButtonGroup* destinationGroup_ = nullptr;
  QLabel* destinationWarning_ = nullptr;
};

}  // namespace rzt2
