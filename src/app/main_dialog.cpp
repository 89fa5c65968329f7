#include "app/main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <filesystem>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "ui/desktop_job_host.h"
#include "ui/dialog_units.h"
#include "ui/file_list.h"
#include "ui/linux_shell_namespace.h"
#include "ui/preview_pane.h"
#include "ui/user_prompts.h"

namespace rzt2 {

namespace {

constexpr int kPreviewDelayMs = 500;

QPushButton* MakeButton(QWidget* parent, const QString& text, const QRect& rect) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(rect);
  // No button takes Enter: there is no default button in this window.
  button->setAutoDefault(false);
  return button;
}

// A sunken frame, for dividers and for the borders drawn around the pane
// and around the path box with its button.
QFrame* MakeFrame(QWidget* parent, QFrame::Shape shape, const QRect& rect) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(shape);
  frame->setFrameShadow(QFrame::Sunken);
  frame->setGeometry(rect);
  return frame;
}

}  // namespace

MainDialog::MainDialog(const std::string& settingsStore, UserPrompts* prompts, ShellNamespace* shell)
    : settings_(settingsStore), prompts_(prompts), shell_(shell) {
  if (!prompts_) {
    ownPrompts_ = std::make_unique<DialogPrompts>();
    prompts_ = ownPrompts_.get();
  }
  if (!shell_) {
    ownShell_ = std::make_unique<LinuxShellNamespace>();
    shell_ = ownShell_.get();
  }
  appIcon_ = ApplicationIcon();
  previewTimer_.setSingleShot(true);
  previewTimer_.setInterval(kPreviewDelayMs);
  connect(&previewTimer_, &QTimer::timeout, this, &MainDialog::OnPreviewTimer);
  settings_.SetDefaults();
  BuildControls();
  InitDialog();
}

MainDialog::~MainDialog() = default;

void MainDialog::BuildControls() {
  setWindowTitle(QStringLiteral("Norvexa RZT2 Converter Tool"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const DialogUnits units(font());
  setFixedSize(units.Size(523, 337));

  fileList_ = new FileList(this);
  fileList_->setGeometry(units.Rect(7, 32, 136, 273));
  auto* folderLabel = new QLabel(QStringLiteral("Select folder"), this);
  folderLabel->setGeometry(units.Rect(7, 7, 136, 10));
  GrowToContents(folderLabel);
  createButton_ = MakeButton(this, QStringLiteral("Create RZT2 files"), units.Rect(75, 315, 68, 15));
  settingsButton_ = MakeButton(this, QStringLiteral("RZT2 &settings"), units.Rect(7, 315, 58, 15));
  previewCheck_ = new QCheckBox(QStringLiteral("Enable preview"), this);
  previewCheck_->setGeometry(units.Rect(153, 7, 63, 8));
  GrowToContents(previewCheck_);
  auto* horizontal = MakeFrame(this, QFrame::HLine, units.Rect(7, 308, 508, 1));
  horizontal->setFixedHeight(2);
  auto* vertical = MakeFrame(this, QFrame::VLine, units.Rect(147, 6, 1, 303));
  vertical->setFixedWidth(2);
  MakeFrame(this, QFrame::StyledPanel, units.Rect(153, 18, 362, 287));
  previewPane_ = new PreviewPane(this);
  previewPane_->setGeometry(units.Rect(155, 19, 359, 284));
  exportButton_ = MakeButton(this, QStringLiteral("&Export images"), units.Rect(153, 315, 56, 15));
  const QRect pathFrame = units.Rect(7, 18, 136, 12);
  auto* frame = MakeFrame(this, QFrame::StyledPanel, pathFrame);
  const int inset = frame->frameWidth();
  pathBox_ = new QLineEdit(this);
  // The box sits inside the frame, which also holds the "..." button.
  pathBox_->setFrame(false);
  const QRect pathRect = units.Rect(7, 18, 124, 12);
  pathBox_->setGeometry(pathRect.adjusted(inset, inset, 0, -inset));
  browseButton_ = MakeButton(this, QStringLiteral("..."), units.Rect(131, 19, 11, 10));

  // Template order is the tab order.
  QWidget::setTabOrder(fileList_, createButton_);
  QWidget::setTabOrder(createButton_, settingsButton_);
  QWidget::setTabOrder(settingsButton_, previewCheck_);
  QWidget::setTabOrder(previewCheck_, exportButton_);
  QWidget::setTabOrder(exportButton_, pathBox_);
  QWidget::setTabOrder(pathBox_, browseButton_);

  // Keys are looked at before any control sees them.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  connect(createButton_, &QPushButton::clicked, this, &MainDialog::OnCreateButton);
  connect(settingsButton_, &QPushButton::clicked, this, &MainDialog::OnSettingsButton);
  connect(exportButton_, &QPushButton::clicked, this, &MainDialog::OnExportButton);
  connect(browseButton_, &QPushButton::clicked, this, &MainDialog::OnBrowseButton);
  connect(previewCheck_, &QCheckBox::clicked, this, &MainDialog::OnPreviewClicked);
  connect(fileList_, &FileList::openRequested, this, &MainDialog::OpenFocusedItem);
  connect(fileList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex& previous) {
            OnItemChanged(previous.row());
            OnItemChanged(current.row());
          });
  connect(fileList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection& deselected) {
            // Only the focused item and the waiting one matter to the preview.
            for (const int row : {fileList_->FocusedIndex(), previewItem_}) {
              const QModelIndex index = fileList_->model()->index(row, 0);
              if (index.isValid() && (selected.contains(index) || deselected.contains(index))) {
                OnItemChanged(row);
              }
            }
          });
  connect(pathBox_, &QLineEdit::textChanged, this, &MainDialog::OnPathTextChanged);
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, &MainDialog::ShowAbout);
}

void MainDialog::InitDialog() {
  setWindowIcon(appIcon_);
  settings_.LoadSettings();
  if (!settings_.SrcFolder.empty()) {
    // Not tested: a folder that cannot be entered leaves the directory
    // current at start-up listed, with the stored text in the box.
    std::error_code error;
    std::filesystem::current_path(settings_.SrcFolder, error);
    pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  }
  RefreshFileList();
  previewEnabled_ = settings_.EnablePreview != 0;
  previewCheck_->setChecked(previewEnabled_);
}

bool MainDialog::PreTranslateKey(QObject* watched, const QKeyEvent& key) {
  const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
  if (watched == fileList_ && enter) {
    OpenFocusedItem();
    return true;
  }
  if (watched == fileList_ && key.key() == Qt::Key_Backspace) {
    GoToParentFolder();
    return true;
  }
  if (watched == pathBox_ && enter) return true;
  // Escape never closes this window.
  return key.key() == Qt::Key_Escape;
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) return PreTranslateKey(watched, *static_cast<QKeyEvent*>(event));
  if (watched == pathBox_ && event->type() == QEvent::FocusOut) {
    // A context menu of the box, or another window coming to the front,
    // does not mean that the user has left the box.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && isVisible()) {
      OnPathFocusLost();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(event);
}

std::unique_ptr<QMenu> MainDialog::BuildWindowMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->addAction(QStringLiteral("&Close"), this, &QWidget::close);
  menu->addSeparator();
  menu->addAction(QStringLiteral("&About rzt2tool..."), this, &MainDialog::ShowAbout);
  return menu;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) { BuildWindowMenu()->exec(event->globalPos()); }

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // A job holds the window until it ends; the close happens then.
  if (jobHost_) {
    closeAfterJob_ = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace rzt2
