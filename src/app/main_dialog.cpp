#include "app/main_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <thread>

#include "app/about_dialog.h"
#include "ui/common/app_icon.h"
#include "ui/common/user_prompts.h"
#include "ui/converter/desktop_job_host.h"
#include "ui/converter/file_list.h"
#include "ui/converter/linux_shell_namespace.h"
#include "ui/converter/path_field.h"
#include "ui/converter/preview_pane.h"
#include "ui/viewer/map_viewer.h"

namespace rzt2 {

namespace {

constexpr int kPreviewDelayMs = 500;
// The window's size and place, and the scale they were taken at: a group of
// its own in the settings' store.
constexpr char kGeometryKey[] = "MainWindow/geometry";
constexpr char kScaleKey[] = "MainWindow/scale";
// The first size takes at most this share of the screen's available area.
constexpr double kScreenShare = 0.9;

QPushButton* makeButton(QWidget* parent, const QString& text, const char* name) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  // There is no default button in this window: Enter presses only the
  // button that has the focus (see preTranslateKey).
  button->setAutoDefault(false);
  return button;
}

QFrame* makeFrame(QWidget* parent, QFrame::Shape shape) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(shape);
  frame->setFrameShadow(QFrame::Sunken);
  return frame;
}

}  // namespace

MainDialog::MainDialog(const std::string& settingsStore, UserPrompts* prompts, ShellNamespace* shell)
    : settings_(settingsStore),
      prompts_(prompts),
      shell_(shell),
      pool_(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) - 1) {
  if (!prompts_) {
    ownPrompts_ = std::make_unique<DialogPrompts>();
    prompts_ = ownPrompts_.get();
  }
  if (!shell_) {
    ownShell_ = std::make_unique<LinuxShellNamespace>();
    shell_ = ownShell_.get();
  }
  appIcon_ = applicationIcon();
  previewTimer_ = new QTimer(this);
  previewTimer_->setObjectName(QStringLiteral("previewTimer"));
  previewTimer_->setSingleShot(true);
  previewTimer_->setInterval(kPreviewDelayMs);
  connect(previewTimer_, &QTimer::timeout, this, &MainDialog::onPreviewTimer);
  settings_.SetDefaults();
  std::error_code error;
  const std::filesystem::path startFolder = std::filesystem::current_path(error);
  if (!error) sourceFolder_ = startFolder.string();
  createControls();
  layOutControls();
  connectControls();
  addShortcuts();
  addViewMapAction();
  initDialog();
}

MainDialog::~MainDialog() {
  // The worker, which goes first, must not wait for an answer from here.
  if (jobHost_) jobHost_->abandon();
}

void MainDialog::createControls() {
  setWindowTitle(QStringLiteral("Norvexa RZT2 Converter Tool"));
  // No minimize or maximize box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  // Controls without a label of their own are named for screen readers.
  fileList_ = new FileList(this);
  fileList_->setObjectName(QStringLiteral("fileList"));
  fileList_->setAccessibleName(QStringLiteral("Folders and files"));
  createButton_ = makeButton(this, QStringLiteral("&Create RZT2 files"), "createButton");
  settingsButton_ = makeButton(this, QStringLiteral("RZT2 &settings"), "settingsButton");
  previewCheck_ = new QCheckBox(QStringLiteral("Enable preview"), this);
  previewCheck_->setObjectName(QStringLiteral("previewCheck"));
  asMapCheck_ = new QCheckBox(QStringLiteral("As &map"), this);
  asMapCheck_->setObjectName(QStringLiteral("asMapCheck"));
  asMapCheck_->setToolTip(
      QStringLiteral("Show the picture as the map file will hold it with the current settings: "
                     "its palette and frame format, at the coarsest zoom level at least as large as shown"));
  asMapNote_ = new QLabel(this);
  asMapNote_->setObjectName(QStringLiteral("asMapNote"));
  exportButton_ = makeButton(this, QStringLiteral("&Export images"), "exportButton");
  pathBox_ = new QLineEdit(this);
  pathBox_->setObjectName(QStringLiteral("pathBox"));
  // Its label is no sibling within the path field's frame.
  pathBox_->setAccessibleName(QStringLiteral("Select folder"));
  pathBox_->setToolTip(QStringLiteral("The folder listed below (Ctrl+L)"));
  // Files and folders dropped on it are the window's, not text.
  pathBox_->setAcceptDrops(false);
  browseButton_ = new QToolButton(this);
  browseButton_->setObjectName(QStringLiteral("browseButton"));
  browseButton_->setText(QStringLiteral("..."));
  browseButton_->setToolTip(QStringLiteral("Change folder"));
  browseButton_->setAccessibleName(QStringLiteral("Change folder"));
  previewPane_ = new PreviewPane(this);
  previewPane_->setObjectName(QStringLiteral("previewPane"));
  previewPane_->setAccessibleName(QStringLiteral("Preview"));
}

void MainDialog::layOutControls() {
  // The pane sits inside a sunken frame of its own.
  auto* paneFrame = makeFrame(this, QFrame::StyledPanel);
  auto* paneLayout = new QVBoxLayout(paneFrame);
  paneLayout->setContentsMargins(0, 0, 0, 0);
  paneLayout->addWidget(previewPane_);

  // The list and its folder on the left, the preview on the right, the
  // buttons below a divider, each under its side.
  auto* leftButtons = new QHBoxLayout;
  leftButtons->addWidget(settingsButton_);
  leftButtons->addWidget(createButton_);
  leftButtons->addStretch();
  auto* rightButtons = new QHBoxLayout;
  rightButtons->addWidget(exportButton_);
  rightButtons->addStretch();
  auto* previewRow = new QHBoxLayout;
  previewRow->addWidget(previewCheck_);
  previewRow->addWidget(asMapCheck_);
  previewRow->addStretch();
  previewRow->addWidget(asMapNote_);
  auto* folderLabel = new QLabel(QStringLiteral("Select &folder"), this);
  folderLabel->setBuddy(pathBox_);
  auto* grid = new QGridLayout(this);
  grid->addWidget(folderLabel, 0, 0);
  grid->addWidget(framePathField(pathBox_, browseButton_, this), 1, 0);
  grid->addWidget(fileList_, 2, 0);
  grid->addWidget(makeFrame(this, QFrame::VLine), 0, 1, 3, 1);
  grid->addLayout(previewRow, 0, 2);
  grid->addWidget(paneFrame, 1, 2, 2, 1);
  grid->addWidget(makeFrame(this, QFrame::HLine), 3, 0, 1, 3);
  grid->addLayout(leftButtons, 4, 0);
  grid->addLayout(rightButtons, 4, 2);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(2, 1);

  // Tab follows the layout: the left column from the top, the preview
  // check, then the buttons from left to right.
  QWidget* const chain[] = {pathBox_,    browseButton_,   fileList_,     previewCheck_,
                            asMapCheck_, settingsButton_, createButton_, exportButton_};
  for (size_t i = 1; i < std::size(chain); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void MainDialog::connectControls() {
  // Keys are looked at before any control sees them.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  connect(createButton_, &QPushButton::clicked, this, &MainDialog::onCreateButton);
  connect(settingsButton_, &QPushButton::clicked, this, &MainDialog::onSettingsButton);
  connect(exportButton_, &QPushButton::clicked, this, &MainDialog::onExportButton);
  connect(browseButton_, &QToolButton::clicked, this, &MainDialog::onBrowseButton);
  connect(previewCheck_, &QCheckBox::clicked, this, &MainDialog::onPreviewClicked);
  connect(asMapCheck_, &QCheckBox::clicked, this, &MainDialog::onAsMapClicked);
  connect(fileList_, &FileList::openRequested, this, &MainDialog::OpenFocusedItem);
  connect(fileList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex& previous) {
            onItemChanged(previous.row());
            onItemChanged(current.row());
          });
  connect(fileList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection& deselected) {
            // Only the focused item and the waiting one matter to the preview.
            for (const int row : {fileList_->focusedIndex(), previewItem_}) {
              const QModelIndex index = fileList_->model()->index(row, 0);
              if (index.isValid() && (selected.contains(index) || deselected.contains(index))) {
                onItemChanged(row);
              }
            }
          });
  // A picture shown, or coming, is drawn again for the pane's new size;
  // during a job the current picture belongs to the job.
  connect(previewPane_, &PreviewPane::resized, this, [this] {
    if (!jobHost_ && (previewPane_->hasPicture() || awaitingPreview_)) BuildPreviewBitmap();
  });
  connect(pathBox_, &QLineEdit::textChanged, this, &MainDialog::onPathTextChanged);
}

void MainDialog::addShortcuts() {
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, &MainDialog::showAbout);
  // As in file managers: the path, ready to be typed over.
  auto* location = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
  connect(location, &QShortcut::activated, this, [this] {
    pathBox_->setFocus(Qt::ShortcutFocusReason);
    pathBox_->selectAll();
  });
  // As in file managers: the folder read again, the focus kept on its item.
  auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(refresh, &QShortcut::activated, this, [this] {
    const int focused = fileList_->focusedIndex();
    const std::string name = focused >= 0 ? fileList_->itemName(focused) : std::string();
    RefreshFileList();
    if (const int index = fileList_->indexOf(name); index >= 0) fileList_->focusItem(index, false);
  });
}

void MainDialog::showFile(const std::string& path) {
  const std::filesystem::path file(path);
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::canonical(file.parent_path().empty() ? "." : file.parent_path(), error);
  if (error) return;
  changeFolder(folder.string());
  if (const int index = fileList_->indexOf(file.filename().string()); index >= 0) {
    fileList_->setFocus();
    fileList_->focusItem(index, true);
  }
}

void MainDialog::addViewMapAction() {
  // The list's context menu is this one item; it and F3 act on the focused
  // entry, when that is a map file.
  viewMapAction_ = new QAction(QStringLiteral("View map"), fileList_);
  viewMapAction_->setObjectName(QStringLiteral("viewMapAction"));
  viewMapAction_->setShortcut(QKeySequence(Qt::Key_F3));
  viewMapAction_->setShortcutContext(Qt::WidgetShortcut);
  viewMapAction_->setEnabled(false);
  fileList_->addAction(viewMapAction_);
  fileList_->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(viewMapAction_, &QAction::triggered, this, &MainDialog::viewFocusedMap);
  connect(fileList_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
    const int focused = fileList_->focusedIndex();
    viewMapAction_->setEnabled(focused >= 0 && HasMapFileExtension(fileList_->itemName(focused)));
  });
}

void MainDialog::viewFocusedMap() {
  const int focused = fileList_->focusedIndex();
  if (focused < 0) return;
  openMapViewer(resolve(fileList_->itemName(focused)), *prompts_, this);
}

void MainDialog::initDialog() {
  setWindowIcon(appIcon_);
  setAcceptDrops(true);
  settings_.LoadSettings();
  if (!settings_.SrcFolder.empty()) {
    // A folder that cannot be entered leaves the directory current at
    // start-up listed, with the stored text in the box.
    enterFolder(settings_.SrcFolder);
    pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  }
  RefreshFileList();
  previewEnabled_ = settings_.EnablePreview != 0;
  previewCheck_->setChecked(previewEnabled_);
  restoreWindowGeometry();
}

void MainDialog::restoreWindowGeometry() {
  const QSettings store(QString::fromStdString(settings_.StoreFileName()), QSettings::NativeFormat);
  // A size kept at another scale would now be too large or too small: the
  // window then starts at its natural size, as on the first start.
  if (qFuzzyCompare(store.value(QLatin1String(kScaleKey)).toDouble(), devicePixelRatioF()) &&
      restoreGeometry(store.value(QLatin1String(kGeometryKey)).toByteArray())) {
    return;
  }
  resize(sizeHint().boundedTo(screen()->availableGeometry().size() * kScreenShare));
}

void MainDialog::saveWindowGeometry() {
  QSettings store(QString::fromStdString(settings_.StoreFileName()), QSettings::NativeFormat);
  store.setValue(QLatin1String(kGeometryKey), saveGeometry());
  store.setValue(QLatin1String(kScaleKey), devicePixelRatioF());
}

bool MainDialog::preTranslateKey(QObject* watched, const QKeyEvent& key) {
  const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
  if (watched == fileList_ && enter) {
    OpenFocusedItem();
    return true;
  }
  if (watched == fileList_ && key.key() == Qt::Key_Backspace) {
    goToParentFolder();
    return true;
  }
  if (watched == pathBox_ && enter) return true;
  // A push button has no default role here, but the one focused takes Enter.
  auto* button = qobject_cast<QAbstractButton*>(watched);
  if (button && !button->isCheckable() && enter) {
    button->click();
    return true;
  }
  // Escape never closes this window.
  return key.key() == Qt::Key_Escape;
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) return preTranslateKey(watched, *static_cast<QKeyEvent*>(event));
  if (watched == pathBox_ && event->type() == QEvent::FocusOut) {
    // A context menu of the box, or another window coming to the front,
    // does not mean that the user has left the box.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && isVisible()) {
      onPathFocusLost();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("&Close"), this, &QWidget::close);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&About rzt2tool..."), this, &MainDialog::showAbout);
  menu.exec(event->globalPos());
}

void MainDialog::showAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // Closing stops a job; the window closes once it has stopped.
  if (jobHost_) {
    jobHost_->cancel();
    closeAfterJob_ = true;
    event->ignore();
    return;
  }
  saveWindowGeometry();
  QWidget::closeEvent(event);
}

}  // namespace rzt2
