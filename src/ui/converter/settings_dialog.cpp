#include "ui/converter/settings_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "ui/common/user_prompts.h"
#include "ui/converter/folder_tree_dialog.h"
#include "ui/converter/path_field.h"

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

int indexOrNone(int index, int count) { return index >= 0 && index < count ? index : -1; }

// The text the dialog shows for a setting, declared with the setting.
QString labelOf(const IntSetting& setting) {
  return QString::fromUtf8(setting.label.data(), static_cast<qsizetype>(setting.label.size()));
}

// Rewriting an unchanged text would lose the cursor and the selection.
void setTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace

SettingsDialog::SettingsDialog(ConverterSettings& settings, ShellNamespace& shell, UserPrompts& prompts,
                               QWidget* parent)
    : QDialog(parent), settings_(settings), shell_(shell), prompts_(prompts) {
  createControls();
  openFromRecord();
  showMembers();
}

void SettingsDialog::createControls() {
  setWindowTitle(tr("RZT2 encoder settings"));
  const auto named = [](auto* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
  };
  auto* digitsOnly = new DigitsOnlyFilter(this);
  const auto numberEdit = [&](const char* name) {
    auto* edit = named(new QLineEdit(this), name);
    edit->installEventFilter(digitsOnly);
    return edit;
  };

  auto* mainGroup = new QGroupBox(tr("Main settings "), this);
  zoomCombo_ = named(new QComboBox(mainGroup), "zoomCombo");
  zoomCombo_->addItems({tr("None"), tr("From 25%"), tr("From 50%")});
  // Items in the order of the PaletteMode values.
  paletteCombo_ = named(new QComboBox(mainGroup), "paletteCombo");
  paletteCombo_->addItems({tr("Built-in"), tr("Adaptive: fitted to each map")});
  auto* mainGrid = new QGridLayout(mainGroup);
  mainGrid->addWidget(new QLabel(labelOf(kZoomLevelsMask), mainGroup), 0, 0);
  mainGrid->addWidget(zoomCombo_, 0, 2);
  mainGrid->addWidget(new QLabel(labelOf(kPaletteMode), mainGroup), 1, 0);
  mainGrid->addWidget(paletteCombo_, 1, 2);
  mainGrid->setColumnStretch(1, 1);

  auto* destinationGroup = new QGroupBox(tr("Destination folder "), this);
  auto* same = named(new QRadioButton(labelOf(kDstFolderAsSame), destinationGroup), "sameFolderRadio");
  auto* select = named(new QRadioButton(tr("Select"), destinationGroup), "selectRadio");
  destinationGroup_ = new QButtonGroup(this);
  destinationGroup_->addButton(same, kSameAsSource);
  destinationGroup_->addButton(select, kSelect);
  destinationEdit_ = named(new QLineEdit(this), "destinationEdit");
  auto* browse = named(new QToolButton(this), "browseButton");
  browse->setText(tr("..."));
  auto* destinationGrid = new QGridLayout(destinationGroup);
  destinationGrid->addWidget(same, 0, 0, 1, 2);
  destinationGrid->addWidget(select, 1, 0);
  destinationGrid->addWidget(framePathField(destinationEdit_, browse, destinationGroup), 1, 1);
  destinationGrid->setColumnStretch(1, 1);

  auto* expertGroup = new QGroupBox(tr("Expert settings (do not change) "), this);
  frameWidthEdit_ = numberEdit("frameWidthEdit");
  frameHeightEdit_ = numberEdit("frameHeightEdit");
  previewWidthEdit_ = numberEdit("previewWidthEdit");
  previewHeightEdit_ = numberEdit("previewHeightEdit");
  encoderCombo_ = named(new QComboBox(this), "encoderCombo");
  for (const ImageFormat& format : kFrameFormats) {
    encoderCombo_->addItem(
        QString::fromLatin1(format.name.data(), static_cast<qsizetype>(format.name.size())));
  }
  auto* expertGrid = new QGridLayout(expertGroup);
  expertGrid->addWidget(new QLabel(labelOf(kFrameSizeX), expertGroup), 0, 0);
  expertGrid->addWidget(frameWidthEdit_, 0, 1);
  expertGrid->addWidget(new QLabel(labelOf(kMiniFrameSizeX), expertGroup), 0, 3);
  expertGrid->addWidget(previewWidthEdit_, 0, 4);
  expertGrid->addWidget(new QLabel(labelOf(kFrameSizeY), expertGroup), 1, 0);
  expertGrid->addWidget(frameHeightEdit_, 1, 1);
  expertGrid->addWidget(new QLabel(labelOf(kMiniFrameSizeY), expertGroup), 1, 3);
  expertGrid->addWidget(previewHeightEdit_, 1, 4);
  expertGrid->addWidget(new QLabel(labelOf(kEncoderCode), expertGroup), 2, 0, 1, 4);
  expertGrid->addWidget(encoderCombo_, 2, 4);
  expertGrid->setColumnMinimumWidth(2, expertGrid->horizontalSpacing() * 2);
  expertGrid->setColumnStretch(2, 1);

  auto* ok = named(new QPushButton(tr("OK"), this), "okButton");
  ok->setDefault(true);
  auto* cancel = named(new QPushButton(tr("Cancel"), this), "cancelButton");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mainGroup);
  layout->addWidget(destinationGroup);
  layout->addWidget(expertGroup);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The order of the controls in the original template, with the radio
  // buttons last.
  QWidget* const chain[] = {zoomCombo_,
                            paletteCombo_,
                            destinationEdit_,
                            browse,
                            frameWidthEdit_,
                            frameHeightEdit_,
                            previewWidthEdit_,
                            previewHeightEdit_,
                            encoderCombo_,
                            ok,
                            cancel,
                            same,
                            select};
  for (size_t i = 1; i < std::size(chain); ++i) {
    QWidget::setTabOrder(chain[i - 1], chain[i]);
  }

  connect(browse, &QToolButton::clicked, this, &SettingsDialog::onBrowse);
  // textEdited comes from the user only, never from showMembers.
  connect(destinationEdit_, &QLineEdit::textEdited, this, &SettingsDialog::onDestinationEdited);
  connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::openFromRecord() {
  frameWidthInput_ = settings_.FrameSizeX;
  frameHeightInput_ = settings_.FrameSizeY;
  previewWidthInput_ = settings_.MiniFrameSizeX;
  previewHeightInput_ = settings_.MiniFrameSizeY;
  encoderIndex_ = settings_.EncoderCode;
  // Any mask but these two (1, 127, 253, ...) opens as "From 25%".
  const int32_t mask = settings_.ZoomLevelsMask;
  zoomChoice_ = mask == kZoomMaskNone ? kZoomNone : mask == kZoomMaskFrom50 ? kZoomFrom50 : kZoomFrom25;
  paletteChoice_ = settings_.PaletteMode;
  destinationText_ = QString::fromStdString(settings_.DstFolder);
  destinationChoice_ = settings_.DstFolderAsSame != 0 ? kSameAsSource : kSelect;
}

void SettingsDialog::copyToRecord() {
  settings_.FrameSizeX = frameWidthInput_;
  settings_.FrameSizeY = frameHeightInput_;
  settings_.MiniFrameSizeX = previewWidthInput_;
  settings_.MiniFrameSizeY = previewHeightInput_;
  settings_.EncoderCode = encoderIndex_;
  settings_.ZoomLevelsMask = zoomChoice_ == kZoomNone     ? kZoomMaskNone
                             : zoomChoice_ == kZoomFrom50 ? kZoomMaskFrom50
                                                          : kZoomMaskFrom25;
  settings_.PaletteMode = kPaletteMode.Admits(paletteChoice_) ? paletteChoice_ : kPaletteMode.defaultValue;
  // The jobs put the folder straight in front of each file name.
  std::string folder = destinationText_.toStdString();
  const char separator = QDir::separator().toLatin1();
  if (!folder.empty() && folder.back() != separator) folder += separator;
  settings_.DstFolder = folder;
  settings_.DstFolderAsSame = destinationChoice_ == kSameAsSource ? 1 : 0;
}

std::array<SettingsDialog::NumberField, 4> SettingsDialog::numberFields() {
  return {{{frameHeightEdit_, &frameHeightInput_, &kFrameSizeY},
           {frameWidthEdit_, &frameWidthInput_, &kFrameSizeX},
           {previewHeightEdit_, &previewHeightInput_, &kMiniFrameSizeY},
           {previewWidthEdit_, &previewWidthInput_, &kMiniFrameSizeX}}};
}

void SettingsDialog::showDestination() {
  setTextIfChanged(destinationEdit_, destinationText_);
  // An exclusive group cannot uncheck its last checked button.
  destinationGroup_->setExclusive(false);
  for (QAbstractButton* button : destinationGroup_->buttons()) {
    button->setChecked(destinationGroup_->id(button) == destinationChoice_);
  }
  destinationGroup_->setExclusive(true);
}

void SettingsDialog::showMembers() {
  encoderCombo_->setCurrentIndex(indexOrNone(encoderIndex_, encoderCombo_->count()));
  zoomCombo_->setCurrentIndex(indexOrNone(zoomChoice_, zoomCombo_->count()));
  paletteCombo_->setCurrentIndex(indexOrNone(paletteChoice_, paletteCombo_->count()));
  for (const NumberField& field : numberFields()) {
    setTextIfChanged(field.edit, QString::number(*field.member));
  }
  showDestination();
}

bool SettingsDialog::takeIn() {
  encoderIndex_ = encoderCombo_->currentIndex();
  zoomChoice_ = zoomCombo_->currentIndex();
  paletteChoice_ = paletteCombo_->currentIndex();
  for (const NumberField& field : numberFields()) {
    if (!takeInNumber(field)) return false;
  }
  destinationText_ = destinationEdit_->text();
  destinationChoice_ = destinationGroup_->checkedId();
  return true;
}

bool SettingsDialog::takeInNumber(const NumberField& field) {
  static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
  const QString text = field.edit->text().trimmed();
  const QString label = labelOf(*field.setting);
  if (!kInteger.match(text).hasMatch())
    return fail(field.edit, tr("%1: please enter an integer.").arg(label));
  const SettingRange& range = *field.setting->range;
  const QString rangeMessage =
      tr("%1: please enter an integer between %2 and %3.").arg(label).arg(range.min).arg(range.max);
  bool fits = false;
  const int32_t value = text.toInt(&fits);
  // Out of range as well, but too long for the member to keep.
  if (!fits) return fail(field.edit, rangeMessage);
  *field.member = value;
  if (!field.setting->Admits(value)) return fail(field.edit, rangeMessage);
  return true;
}

bool SettingsDialog::fail(QWidget* field, const QString& message) {
  prompts_.showMessage(this, message, windowTitle(), MessageIcon::Warning);
  field->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
  return false;
}

void SettingsDialog::accept() {
  if (!takeIn()) return;
  // A stored format code outside the list opens with no format selected;
  // the record must get a real one before a map writer uses it.
  if (!kEncoderCode.Admits(encoderIndex_)) {
    fail(encoderCombo_, tr("Please choose a frame format."));
    return;
  }
  copyToRecord();
  settings_.SaveSettings();
  QDialog::accept();
}

void SettingsDialog::onBrowse() {
  takeIn();  // a failing field shows its message; picking goes on regardless
  FolderTreeDialog dialog(shell_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  destinationChoice_ = kSelect;
  destinationText_ = QString::fromStdString(dialog.selectedPath());
  showDestination();
}

void SettingsDialog::onDestinationEdited() {
  // Taking in stops at a failing size, before the destination: the
  // keystroke is taken in here, and no other field is shown again, so
  // that nothing the user typed anywhere is put back.
  takeIn();
  destinationText_ = destinationEdit_->text();
  destinationChoice_ = kSelect;
  showDestination();
}

}  // namespace rzt2
