#include "ui/converter/settings_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
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
#include <span>

#include "ui/common/user_prompts.h"
#include "ui/converter/folder_tree_dialog.h"
#include "ui/converter/path_field.h"

namespace rzt2 {

namespace {

enum class Section { Main, Expert };

// An item of a combo box: the text it shows and the value it stands for.
struct Choice {
  QString text;
  int32_t value;
};

// The items a setting's declaration lists, in its order.
QList<Choice> choicesOf(std::span<const SettingChoice> declared) {
  QList<Choice> choices;
  for (const SettingChoice& choice : declared) {
    choices.append(
        {QString::fromUtf8(choice.label.data(), static_cast<qsizetype>(choice.label.size())), choice.value});
  }
  return choices;
}

QList<Choice> zoomChoices() { return choicesOf(kZoomChoices); }
QList<Choice> paletteChoices() { return choicesOf(kPaletteChoices); }
QList<Choice> compressionChoices() { return choicesOf(kMapSizeChoices); }
QList<Choice> pagesChoices() { return choicesOf(kPagesChoices); }

QList<Choice> frameFormatChoices() { return choicesOf(kFrameFormatChoices); }

}  // namespace

// One setting of the dialog: its declaration gives the label, the range
// and the default; the row gives the field it edits, where it goes and
// when it is checked. A setting with choices is a combo box, any other a
// digits-only edit.
struct SettingRow {
  const IntSetting* setting;
  int32_t ConverterSettings::*value;
  Section section;
  const char* objectName;
  int checkOrder;
  QList<Choice> (*choices)() = nullptr;
  int shownForOtherValues = -1;  // the item shown for a value no item stands for
  const char* unit = nullptr;    // shown after the field
  const char* note = nullptr;    // a line under the row: what the choice does
};

namespace {

// The dialog's settings in the order they are shown; a new setting is one
// row here. Any zoom mask but the three offered (1, 127, 253, ...) opens
// as "From 25%"; a format code outside the list opens with none chosen.
const SettingRow kRows[] = {
    {&kZoomLevelsMask, &ConverterSettings::ZoomLevelsMask, Section::Main, "zoomCombo", 2, zoomChoices, 1},
    {&kPaletteMode, &ConverterSettings::PaletteMode, Section::Main, "paletteCombo", 9, paletteChoices, -1,
     nullptr,
     "Built-in: the same 256 colours for every map; photos and scans come out in its\n"
     "coarse steps, pastel shades as grey or pink. Fitted to each map: 256 colours\n"
     "chosen for each picture, which keep those of photos and scans closely."},
    {&kMapSize, &ConverterSettings::MapSize, Section::Main, "compressionCombo", 11, compressionChoices},
    {&kAllPages, &ConverterSettings::AllPages, Section::Main, "pagesCombo", 7, pagesChoices, 1},
    {&kDrawingDpi, &ConverterSettings::DrawingDpi, Section::Main, "dpiEdit", 8, nullptr, -1, "dots per inch",
     "0: each format's own: PDF 150, others 96"},
    {&kMaxPages, &ConverterSettings::MaxPages, Section::Main, "maxPagesEdit", 10},
    {&kFrameSizeX, &ConverterSettings::FrameSizeX, Section::Expert, "frameWidthEdit", 4},
    {&kFrameSizeY, &ConverterSettings::FrameSizeY, Section::Expert, "frameHeightEdit", 3},
    {&kMiniFrameSizeX, &ConverterSettings::MiniFrameSizeX, Section::Expert, "previewWidthEdit", 6},
    {&kMiniFrameSizeY, &ConverterSettings::MiniFrameSizeY, Section::Expert, "previewHeightEdit", 5},
    {&kEncoderCode, &ConverterSettings::EncoderCode, Section::Expert, "encoderCombo", 1, frameFormatChoices},
};

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
    : QDialog(parent), settings_(settings), shell_(shell), prompts_(prompts), draft_(settings) {
  setWindowTitle(tr("RZT2 encoder settings"));
  auto* mainGroup = new QGroupBox(tr("Main settings "), this);
  mainForm_ = new QFormLayout(mainGroup);
  QWidget* destinationGroup = createDestinationGroup();
  auto* expertGroup = new QGroupBox(tr("Expert settings (do not change) "), this);
  expertForm_ = new QFormLayout(expertGroup);
  for (QFormLayout* form : {mainForm_, expertForm_})
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  createForms();
  QWidget* buttons = createButtons();
  auto* layout = new QVBoxLayout(this);
  for (QWidget* part :
       {static_cast<QWidget*>(mainGroup), destinationGroup, static_cast<QWidget*>(expertGroup), buttons}) {
    layout->addWidget(part);
  }
  layout->setSizeConstraint(QLayout::SetFixedSize);
  // Tab follows the layout, from the top.
  QList<QWidget*> chain;
  for (QWidget* group :
       {static_cast<QWidget*>(mainGroup), destinationGroup, static_cast<QWidget*>(expertGroup), buttons}) {
    for (QWidget* child : group->findChildren<QWidget*>()) {
      if (child->focusPolicy() & Qt::TabFocus) chain.append(child);
    }
  }
  for (qsizetype i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
  showAll();
}

void SettingsDialog::createForms() {
  for (const SettingRow& row : kRows) {
    QWidget* control = createControl(row);
    QFormLayout* form = row.section == Section::Main ? mainForm_ : expertForm_;
    auto* label = new QLabel(labelOf(*row.setting), this);
    // Screen readers name the control after its label (for a combo box,
    // whose name is its item, through the label relation).
    label->setBuddy(control);
    if (row.unit) {
      auto* withUnit = new QHBoxLayout;
      withUnit->addWidget(control);
      withUnit->addWidget(new QLabel(tr(row.unit), this));
      form->addRow(label, withUnit);
    } else {
      form->addRow(label, control);
    }
    if (row.note) {
      auto* note = new QLabel(tr(row.note), this);
      note->setObjectName(QLatin1String(row.objectName) + QStringLiteral("Note"));
      form->addRow(QString(), note);
    }
    fields_.push_back({&row, control});
  }
  std::stable_sort(fields_.begin(), fields_.end(),
                   [](const Field& a, const Field& b) { return a.row->checkOrder < b.row->checkOrder; });
}

QWidget* SettingsDialog::createControl(const SettingRow& row) {
  if (row.choices) {
    auto* combo = new QComboBox(this);
    for (const Choice& choice : row.choices()) combo->addItem(choice.text, choice.value);
    combo->setObjectName(QLatin1String(row.objectName));
    return combo;
  }
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QLatin1String(row.objectName));
  edit->installEventFilter(new DigitsOnlyFilter(edit));
  const IntSetting& setting = *row.setting;
  edit->setToolTip(setting.range ? tr("From %1 to %2; %3 at first")
                                       .arg(setting.range->min)
                                       .arg(setting.range->max)
                                       .arg(setting.defaultValue)
                                 : tr("%1 at first").arg(setting.defaultValue));
  return edit;
}

QWidget* SettingsDialog::createDestinationGroup() {
  auto* group = new QGroupBox(tr("Destination folder "), this);
  auto* same = new QRadioButton(labelOf(kDstFolderAsSame), group);
  same->setObjectName(QStringLiteral("sameFolderRadio"));
  auto* select = new QRadioButton(tr("Select"), group);
  select->setObjectName(QStringLiteral("selectRadio"));
  destinationGroup_ = new QButtonGroup(this);
  destinationGroup_->addButton(same, kSameAsSource);
  destinationGroup_->addButton(select, kSelect);
  destinationEdit_ = new QLineEdit(group);
  destinationEdit_->setObjectName(QStringLiteral("destinationEdit"));
  destinationEdit_->setAccessibleName(tr("Destination folder"));
  auto* browse = new QToolButton(group);
  browse->setObjectName(QStringLiteral("browseButton"));
  browse->setText(tr("..."));
  browse->setToolTip(tr("Choose the destination folder"));
  browse->setAccessibleName(tr("Choose the destination folder"));
  destinationWarning_ =
      new QLabel(tr("This folder does not exist; it will be made when a job starts."), group);
  destinationWarning_->setObjectName(QStringLiteral("destinationWarning"));
  destinationWarning_->setStyleSheet(QStringLiteral("color: #c00000"));
  // The dialog keeps its size when the warning comes and goes.
  QSizePolicy keepRoom = destinationWarning_->sizePolicy();
  keepRoom.setRetainSizeWhenHidden(true);
  destinationWarning_->setSizePolicy(keepRoom);
  auto* grid = new QGridLayout(group);
  grid->addWidget(same, 0, 0, 1, 2);
  grid->addWidget(select, 1, 0);
  grid->addWidget(framePathField(destinationEdit_, browse, group), 1, 1);
  grid->addWidget(destinationWarning_, 2, 1);
  grid->setColumnStretch(1, 1);
  connect(browse, &QToolButton::clicked, this, &SettingsDialog::onBrowse);
  // textEdited comes from the user only, never from showAll.
  connect(destinationEdit_, &QLineEdit::textEdited, this, &SettingsDialog::onDestinationEdited);
  connect(destinationEdit_, &QLineEdit::textChanged, this, &SettingsDialog::updateDestinationWarning);
  connect(destinationGroup_, &QButtonGroup::idToggled, this, &SettingsDialog::updateDestinationWarning);
  return group;
}

QWidget* SettingsDialog::createButtons() {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
  return buttons;
}

void SettingsDialog::showAll() {
  for (const Field& field : fields_) {
    const int32_t value = draft_.*field.row->value;
    if (auto* combo = qobject_cast<QComboBox*>(field.control)) {
      const int index = combo->findData(value);
      combo->setCurrentIndex(index >= 0 ? index : field.row->shownForOtherValues);
    } else {
      setTextIfChanged(static_cast<QLineEdit*>(field.control), QString::number(value));
    }
  }
  showDestination();
}

void SettingsDialog::showDestination() {
  setTextIfChanged(destinationEdit_, QString::fromStdString(draft_.DstFolder));
  destinationGroup_->button(draft_.DstFolderAsSame != 0 ? kSameAsSource : kSelect)->setChecked(true);
  updateDestinationWarning();
}

void SettingsDialog::updateDestinationWarning() {
  const QString folder = destinationEdit_->text();
  destinationWarning_->setVisible(destinationGroup_->checkedId() == kSelect && !folder.isEmpty() &&
                                  !QFileInfo(folder).isDir());
}

bool SettingsDialog::takeIn() {
  for (const Field& field : fields_) {
    if (!takeInField(field)) return false;
  }
  draft_.DstFolder = destinationEdit_->text().toStdString();
  draft_.DstFolderAsSame = destinationGroup_->checkedId() == kSameAsSource ? 1 : 0;
  return true;
}

bool SettingsDialog::takeInField(const Field& field) {
  int32_t& value = draft_.*field.row->value;
  if (auto* combo = qobject_cast<QComboBox*>(field.control)) {
    value = combo->currentIndex() < 0 ? -1 : combo->currentData().toInt();
    return true;
  }
  static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
  auto* edit = static_cast<QLineEdit*>(field.control);
  const QString text = edit->text().trimmed();
  const IntSetting& setting = *field.row->setting;
  const QString label = labelOf(setting);
  if (!kInteger.match(text).hasMatch()) return fail(edit, tr("%1: please enter an integer.").arg(label));
  const QString rangeMessage = setting.range ? tr("%1: please enter an integer between %2 and %3.")
                                                   .arg(label)
                                                   .arg(setting.range->min)
                                                   .arg(setting.range->max)
                                             : tr("%1: please enter a smaller number.").arg(label);
  bool fits = false;
  const int32_t number = text.toInt(&fits);
  // Out of range as well, but too long for the setting to keep.
  if (!fits) return fail(edit, rangeMessage);
  value = number;
  if (!setting.Admits(number)) return fail(edit, rangeMessage);
  return true;
}

bool SettingsDialog::fail(QWidget* field, const QString& message) {
  prompts_.showMessage(this, message, windowTitle(), MessageIcon::Warning, {});
  field->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
  return false;
}

void SettingsDialog::accept() {
  if (!takeIn()) return;
  // The copy as a whole: a choice taken in as none (a format code that was
  // outside the list) must be made before the record gets it.
  for (const Field& field : fields_) {
    if (!field.row->setting->Admits(draft_.*field.row->value)) {
      fail(field.control, tr("%1: please choose one.").arg(labelOf(*field.row->setting)));
      return;
    }
  }
  // The jobs put the folder straight in front of each file name.
  const char separator = QDir::separator().toLatin1();
  if (!draft_.DstFolder.empty() && draft_.DstFolder.back() != separator) draft_.DstFolder += separator;
  settings_ = draft_;
  settings_.SaveSettings();
  QDialog::accept();
}

void SettingsDialog::onBrowse() {
  // Opens on the folder typed, as far as it exists.
  std::string typed = destinationEdit_->text().toStdString();
  while (typed.size() > 1 && typed.back() == '/') typed.pop_back();
  FolderTreeDialog dialog(shell_, typed, this);
  if (dialog.exec() != QDialog::Accepted) return;
  draft_.DstFolderAsSame = 0;
  draft_.DstFolder = dialog.selectedPath();
  showDestination();
}

void SettingsDialog::onDestinationEdited() {
  // Only the destination is looked at: a field left invalid elsewhere is
  // reported on OK, not at each keystroke here.
  destinationGroup_->button(kSelect)->setChecked(true);
}

}  // namespace rzt2
