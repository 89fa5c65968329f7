// MainDialog: the desktop program's main window, a top-level window that
// the application's event loop runs; closing it ends the program. It owns the
// settings, the file list of the source folder, the preview of the focused
// file, the folder path box, and the current picture that the preview and
// the jobs share. The list holds bare names; the window keeps the folder
// they are in, and never changes the process's current directory.
// Settings are saved after each change made here, never at exit; only the
// window's size and place are, in a group of their own in the same store.
//
// Pictures are loaded, drawn and written on one worker thread, which owns
// the current picture; this window's thread only paints and answers the
// user. A preview request replaces any that has not been shown yet. A job
// has the picture until it ends: its progress window is modal, and the
// buttons that start a job are disabled meanwhile. A busy cursor shows
// while a preview loads or a job runs. Picture and map files dropped on the
// window are converted as "Create RZT2 files" converts the selection; a
// dropped folder is opened.
#pragma once

#include <QIcon>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/thread_pool.h"
#include "jobs/job_runner.h"
#include "settings/converter_settings.h"
#include "ui/converter/picture_worker.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QToolButton;

namespace rzt2 {

class DesktopJobHost;
class FileList;
class PreviewPane;
class ShellNamespace;
class UserPrompts;

class MainDialog final : public QWidget {
  Q_OBJECT

 public:
  // settingsStore: the settings file, empty for the user's own store.
  // prompts: who answers questions and shows messages; null for real
  // message boxes. shell: the folders the folder dialogs offer; null for
  // this machine's. Both must outlive the window.
  explicit MainDialog(const std::string& settingsStore = {}, UserPrompts* prompts = nullptr,
                      ShellNamespace* shell = nullptr);
  ~MainDialog() override;

  // Lists the folder of the file at path (any path the process can reach),
  // with the file selected and focused, and stores that folder.
  void showFile(const std::string& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  void onCreateButton();
  void onExportButton();
  // The settings dialog and the folder dialog are opened from here.
  void onSettingsButton();
  void onBrowseButton();
  void onPreviewClicked(bool checked);
  void onAsMapClicked(bool checked);
  void onPreviewTimer();
  void showAbout();
  // Opens the focused map file in a viewer of its own.
  void viewFocusedMap();

 private:
  void createControls();
  void layOutControls();
  void connectControls();
  void addViewMapAction();
  void addShortcuts();
  void initDialog();
  bool preTranslateKey(QObject* watched, const QKeyEvent& key);

  // Folders (main_dialog_folders.cpp).
  // Rebuilds the list from the source folder and empties the preview.
  void RefreshFileList();
  // Enters the focused item when it is a folder, else converts the selection.
  void OpenFocusedItem();
  // Selected entries that are files (folders and vanished names are not).
  int CountSelectedFiles() const;
  // path as the window opens it: relative paths are in the source folder.
  std::string resolve(const std::string& path) const;
  // Makes path, taken in the source folder, the source folder when it is a
  // folder that can be entered; false leaves the source folder as it was.
  bool enterFolder(const std::string& path);
  // Makes folder the source folder: list, path box, then the settings are
  // saved. The text is stored as it stands.
  void changeFolder(const std::string& folder);
  // Enters the folder relative to the source folder (a name, or ".."),
  // and stores the folder then shown.
  void stepIntoFolder(const std::string& relative);
  void goToParentFolder();
  void onPathTextChanged(const QString& text);
  void onPathFocusLost();

  // Preview (main_dialog_preview.cpp).
  // Loads the file last asked for (unless it is held already) and draws it
  // for the pane, on the worker; the pane shows it when no newer request
  // came meanwhile.
  void BuildPreviewBitmap();
  // note: why a file gave no picture, empty otherwise; asMapNote: what the
  // picture shown as a map is, empty when it is not.
  void showPreview(int generation, const QImage& picture, const QString& note, const QString& asMapNote);
  // Forgets the requests whose pictures are not shown yet.
  void dropPreviewRequests();
  // Drops the current picture and the preview, and the pending preview load.
  void ResetPreview();
  void onItemChanged(int index);
  void updateBusyCursor();

  // Jobs (main_dialog_jobs.cpp).
  // Asks whether to convert the files among names, then does.
  void convertFiles(const std::vector<std::string>& names);
  void runDesktopJob(JobKind kind, int exportFormat, std::vector<std::string> names, int fileCount);
  void finishJob();
  // The buttons, which a job disables: it has the window until it ends.
  void setButtonsEnabled(bool enabled);

  // The window's size and place, in the settings' store.
  void restoreWindowGeometry();
  void saveWindowGeometry();

  // Controls, in tab order where they take the focus.
  FileList* fileList_ = nullptr;
  QPushButton* createButton_ = nullptr;
  QPushButton* settingsButton_ = nullptr;
  QCheckBox* previewCheck_ = nullptr;
  QCheckBox* asMapCheck_ = nullptr;
  QLabel* asMapNote_ = nullptr;  // what "As map" shows: level, palette, frame format
  PreviewPane* previewPane_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QLineEdit* pathBox_ = nullptr;
  QToolButton* browseButton_ = nullptr;
  QAction* viewMapAction_ = nullptr;  // the list's context menu and F3

  bool previewEnabled_ = false;
  // The pane shows the picture as a map file made now would hold it.
  bool asMap_ = false;
  QIcon appIcon_;
  QTimer* previewTimer_ = nullptr;
  int previewItem_ = -1;
  std::string previewName_;  // the file the pane shows, or is to show
  // Counts preview requests; read by the worker to skip superseded ones.
  std::atomic<int> previewGeneration_{0};
  bool awaitingPreview_ = false;  // the newest request is not shown yet
  ConverterSettings settings_;
  // The folder the list shows, absolute: at first the directory current at
  // start-up, later the last folder entered.
  std::string sourceFolder_;

  std::unique_ptr<UserPrompts> ownPrompts_;
  UserPrompts* prompts_;
  std::unique_ptr<ShellNamespace> ownShell_;
  ShellNamespace* shell_;
  std::unique_ptr<DesktopJobHost> jobHost_;  // while a job runs
  bool refreshing_ = false;                  // the list is being rebuilt
  bool closeAfterJob_ = false;               // the window was closed during a job
  // The rest of the cores, with the worker's own thread: they build a
  // preview's halved copies while it decodes, and draw and encode a job's
  // frames. Only the worker's tasks use it, one at a time.
  ThreadPool pool_;
  // Last: its tasks use the members above, so it stops before they go.
  PictureWorker worker_;
};

}  // namespace rzt2
