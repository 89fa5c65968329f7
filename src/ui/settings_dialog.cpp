#include "ui/settings_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <algorithm>

#include "ui/dialog_units.h"
#include "ui/folder_tree_dialog.h"

namespace rzt2 {

namespace {

// zoomChoice: the items of the zoom combo box, and the masks they stand for.
constexpr int kZoomNone = 0;
constexpr int kZoomFrom25 = 1;
constexpr int kZoomFrom50 = 2;

// destinationChoice: the radio buttons.
constexpr int kSameAsSource = 0;
constexpr int kSelect = 1;

// A digits-only edit: printable characters other than digits cannot be
// typed. Pasted text still can, and fails when it is taken in.
class DigitsOnlyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (std::any_of(text.begin(), text.end(),
                      [](QChar c) { return c.isPrint() && (c < u'0' || c > u'9'); })) {
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

int IndexOrNone(int index, int count) { return index >= 0 && index < count ? index : -1; }

// Rewriting an unchanged text would lose the cursor and the selection.
void SetTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace

SettingsDialog::SettingsDialog(ConverterSettings& settings, ShellNamespace& shell, QWidget* parent)
    : QDialog(parent), settings_(settings), shell_(shell) {
  CreateControls();
  OpenFromRecord();
  ShowMembers();
}

void SettingsDialog::CreateControls() {
  setWindowTitle(tr("RZT2 encoder settings"));
  const DialogUnits units(font());
  setFixedSize(units.Size(239, 179));
  const auto named = [this](auto* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
  };
  // A combo box is as high as its font needs; the layout gives its top.
  const auto placeCombo = [&units](QComboBox* combo, int x, int y, int width) {
    const QRect rect = units.Rect(x, y, width, 0);
    combo->setGeometry(rect.x(), rect.y(), rect.width(), combo->sizeHint().height());
  };
  auto* digitsOnly = new DigitsOnlyFilter(this);
  const auto numberEdit = [&](const char* name, int x, int y) {
    auto* edit = named(new QLineEdit(this), name);
    edit->setGeometry(units.Rect(x, y, 42, 13));
    edit->installEventFilter(digitsOnly);
    return edit;
  };

  // Controls in tab order; the frames and labels come after them and are
  // sent to the back so that they never cover a control.
  auto* destinationFrame = named(new QLineEdit(this), "destinationFrame");
  destinationFrame->setGeometry(units.Rect(58, 66, 165, 12));
  destinationFrame->setEnabled(false);
  destinationFrame->setFocusPolicy(Qt::NoFocus);
  zoomCombo_ = named(new QComboBox(this), "zoomCombo");
  zoomCombo_->addItems({tr("None"), tr("From 25%"), tr("From 50%")});
  placeCombo(zoomCombo_, 175, 16, 50);
  destinationEdit_ = named(new QLineEdit(this), "destinationEdit");
  destinationEdit_->setGeometry(units.Rect(58, 66, 153, 12));
  auto* browse = named(new QPushButton(tr("..."), this), "browseButton");
  browse->setGeometry(units.Rect(211, 67, 11, 10));
  frameWidthEdit_ = numberEdit("frameWidthEdit", 72, 98);
  frameHeightEdit_ = numberEdit("frameHeightEdit", 72, 116);
  previewWidthEdit_ = numberEdit("previewWidthEdit", 184, 98);
  previewHeightEdit_ = numberEdit("previewHeightEdit", 184, 116);
  encoderCombo_ = named(new QComboBox(this), "encoderCombo");
  encoderCombo_->addItems({tr("gif"), tr("jpeg"), tr("png"), tr("bmp"), tr("tiff")});
  placeCombo(encoderCombo_, 184, 133, 42);
  auto* ok = named(new QPushButton(tr("OK"), this), "okButton");
  ok->setGeometry(units.Rect(124, 158, 50, 14));
  ok->setDefault(true);
  auto* cancel = named(new QPushButton(tr("Cancel"), this), "cancelButton");
  cancel->setGeometry(units.Rect(182, 158, 50, 14));

  const auto label = [&](const QString& text, int x, int y, int width) {
    auto* widget = new QLabel(text, this);
    // Fonts wider than the layout's own would cut the text; the space to the
    // right of each label is free.
    const QRect rect = units.Rect(x, y, width, 11);
    widget->setGeometry(rect.adjusted(0, 0, std::max(0, widget->sizeHint().width() - rect.width()), 0));
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget->lower();
  };
  const auto group = [&](const QString& title, int x, int y, int width, int height) {
    auto* widget = new QGroupBox(title, this);
    widget->setGeometry(units.Rect(x, y, width, height));
    widget->lower();
  };
  label(tr("Preview width"), 126, 102, 48);
  label(tr("Additional zoom levels to store in the file"), 15, 18, 137);
  label(tr("Frames width"), 16, 102, 48);
  label(tr("Frames height"), 16, 118, 48);
  label(tr("Preview height"), 126, 118, 48);
  group(tr("Expert settings (do not change) "), 8, 86, 225, 67);
  label(tr("RZT2 frames encoder algorithm"), 16, 134, 106);
  group(tr("Main settings "), 8, 7, 225, 28);
  group(tr("Destination folder "), 8, 39, 225, 44);

  auto* same = named(new QRadioButton(tr("Same as source folder"), this), "sameFolderRadio");
  same->setGeometry(units.Rect(16, 51, 92, 10));
  auto* select = named(new QRadioButton(tr("Select"), this), "selectRadio");
  select->setGeometry(units.Rect(16, 65, 36, 10));
  destinationGroup_ = new QButtonGroup(this);
  destinationGroup_->addButton(same, kSameAsSource);
  destinationGroup_->addButton(select, kSelect);

  connect(browse, &QPushButton::clicked, this, &SettingsDialog::OnBrowse);
  // textEdited comes from the user only, never from ShowMembers.
  connect(destinationEdit_, &QLineEdit::textEdited, this, &SettingsDialog::OnDestinationEdited);
  connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::OpenFromRecord() {
  frameWidthInput_ = settings_.FrameSizeX;
  frameHeightInput_ = settings_.FrameSizeY;
  previewWidthInput_ = settings_.MiniFrameSizeX;
  previewHeightInput_ = settings_.MiniFrameSizeY;
  encoderIndex_ = settings_.EncoderCode;
  // Any mask but these two (1, 127, 253, ...) opens as "From 25%".
  const int32_t mask = settings_.ZoomLevelsMask;
  zoomChoice_ = mask == kZoomMaskNone ? kZoomNone : mask == kZoomMaskFrom50 ? kZoomFrom50 : kZoomFrom25;
  destinationText_ = QString::fromStdString(settings_.DstFolder);
  destinationChoice_ = settings_.DstFolderAsSame != 0 ? kSameAsSource : kSelect;
}

void SettingsDialog::CopyToRecord() {
  settings_.FrameSizeX = frameWidthInput_;
  settings_.FrameSizeY = frameHeightInput_;
  settings_.MiniFrameSizeX = previewWidthInput_;
  settings_.MiniFrameSizeY = previewHeightInput_;
  settings_.EncoderCode = encoderIndex_;
  settings_.ZoomLevelsMask = zoomChoice_ == kZoomNone     ? kZoomMaskNone
                             : zoomChoice_ == kZoomFrom50 ? kZoomMaskFrom50
                                                          : kZoomMaskFrom25;
  // The jobs put the folder straight in front of each file name.
  std::string folder = destinationText_.toStdString();
  const char separator = QDir::separator().toLatin1();
  if (!folder.empty() && folder.back() != separator) folder += separator;
  settings_.DstFolder = folder;
  settings_.DstFolderAsSame = destinationChoice_ == kSameAsSource ? 1 : 0;
}

std::array<SettingsDialog::NumberField, 4> SettingsDialog::NumberFields() {
  return {{{frameHeightEdit_, &frameHeightInput_, &kFrameSizeY},
           {frameWidthEdit_, &frameWidthInput_, &kFrameSizeX},
           {previewHeightEdit_, &previewHeightInput_, &kMiniFrameSizeY},
           {previewWidthEdit_, &previewWidthInput_, &kMiniFrameSizeX}}};
}

void SettingsDialog::ShowMembers() {
  encoderCombo_->setCurrentIndex(IndexOrNone(encoderIndex_, encoderCombo_->count()));
  zoomCombo_->setCurrentIndex(IndexOrNone(zoomChoice_, zoomCombo_->count()));
  for (const NumberField& field : NumberFields()) {
    SetTextIfChanged(field.edit, QString::number(*field.member));
  }
  SetTextIfChanged(destinationEdit_, destinationText_);
  // An exclusive group cannot uncheck its last checked button.
  destinationGroup_->setExclusive(false);
  for (QAbstractButton* button : destinationGroup_->buttons()) {
    button->setChecked(destinationGroup_->id(button) == destinationChoice_);
  }
  destinationGroup_->setExclusive(true);
}

bool SettingsDialog::TakeIn() {
  encoderIndex_ = encoderCombo_->currentIndex();
  zoomChoice_ = zoomCombo_->currentIndex();
  for (const NumberField& field : NumberFields()) {
    if (!TakeInNumber(field)) return false;
  }
  destinationText_ = destinationEdit_->text();
  destinationChoice_ = destinationGroup_->checkedId();
  return true;
}

bool SettingsDialog::TakeInNumber(const NumberField& field) {
  static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
  const QString text = field.edit->text().trimmed();
  if (!kInteger.match(text).hasMatch()) return Fail(field.edit, tr("Please enter an integer."));
  const SettingRange& range = *field.setting->range;
  const QString rangeMessage = tr("Please enter an integer between %1 and %2.").arg(range.min).arg(range.max);
  bool fits = false;
  const int32_t value = text.toInt(&fits);
  // Out of range as well, but too long for the member to keep.
  if (!fits) return Fail(field.edit, rangeMessage);
  *field.member = value;
  if (!field.setting->Admits(value)) return Fail(field.edit, rangeMessage);
  return true;
}

bool SettingsDialog::Fail(QWidget* field, const QString& message) {
  ShowMessage(message);
  field->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
  return false;
}

void SettingsDialog::accept() {
  if (!TakeIn()) return;
  // A stored format code outside the list opens with no format selected;
  // the record must get a real one before a map writer uses it.
  if (!kEncoderCode.Admits(encoderIndex_)) {
    Fail(encoderCombo_, tr("Please choose a frame format."));
    return;
  }
  CopyToRecord();
  settings_.SaveSettings();
  QDialog::accept();
}

void SettingsDialog::OnBrowse() {
  TakeIn();  // a failing field shows its message; picking goes on regardless
  if (const std::optional<std::string> path = PickFolder()) {
    destinationChoice_ = kSelect;
    destinationText_ = QString::fromStdString(*path);
    ShowMembers();
  }
}

void SettingsDialog::OnDestinationEdited() {
  // When a size fails here, the destination text is not taken in, and
  // ShowMembers puts the edit back to the text from before the keystroke.
  TakeIn();
  destinationChoice_ = kSelect;
  ShowMembers();
}

void SettingsDialog::ShowMessage(const QString& text) { QMessageBox::warning(this, windowTitle(), text); }

std::optional<std::string> SettingsDialog::PickFolder() {
  FolderTreeDialog dialog(shell_, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedPath();
}

}  // namespace rzt2
