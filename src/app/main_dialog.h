// MainDialog: the desktop program's only top-level window. It owns the
// settings, the file list of the source folder (which is the process's
// current directory), the preview of the focused file, the folder path
// box, and the current picture that the preview and the jobs share.
// Settings are saved after each change made here, never at exit.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <memory>
#include <string>

#include "jobs/job_runner.h"
#include "jobs/source_loader.h"
#include "settings/converter_settings.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;

namespace rzt2 {

class DesktopJobHost;
class FileList;
class PreviewPane;
class ProgressDialog;
class ShellNamespace;
class UserPrompts;

class MainDialog final : public QDialog {
  Q_OBJECT

 public:
  // settingsStore: the settings file, empty for the user's own store.
  // prompts: who answers questions and shows messages; null for real
  // message boxes. shell: the folders the folder dialogs offer; null for
  // this machine's. Both must outlive the window.
  explicit MainDialog(const std::string& settingsStore = {}, UserPrompts* prompts = nullptr,
                      ShellNamespace* shell = nullptr);
  ~MainDialog() override;

  // Makes folder the source folder: current directory, list, path box,
  // then the settings are saved. The folder is taken as it stands.
  void ChangeFolder(const std::string& folder);
  // Rebuilds the list from the current directory and empties the preview.
  void RefreshFileList();
  // Enters the focused item when it is a folder, else converts the selection.
  void OpenFocusedItem();
  void GoToParentFolder();
  // Selected entries that are files (folders and vanished names are not).
  int CountSelectedFiles() const;
  // Redraws the pane from the current picture.
  void BuildPreviewBitmap();
  // Drops the current picture and the preview, and the pending preview load.
  void ResetPreview();

  ConverterSettings& Settings() { return settings_; }
  // The current picture and the name it was loaded from.
  SourceLoader& Loader() { return loader_; }
  FileList* List() const { return fileList_; }
  QLineEdit* PathBox() const { return pathBox_; }
  PreviewPane* Pane() const { return previewPane_; }
  QCheckBox* PreviewCheck() const { return previewCheck_; }
  QPushButton* CreateButton() const { return createButton_; }
  QPushButton* ExportButton() const { return exportButton_; }
  QPushButton* SettingsButton() const { return settingsButton_; }
  QPushButton* BrowseButton() const { return browseButton_; }
  QTimer& PreviewTimer() { return previewTimer_; }
  // The list index waiting for its preview, -1 for none.
  int PreviewItem() const { return previewItem_; }
  // The open progress window, null outside a job.
  ProgressDialog* ProgressWindow() const;
  // Hears every progress and error report of the jobs after the window did.
  void SetJobObserver(JobHost* observer) { jobObserver_ = observer; }
  // The window's context menu: Close, a separator, the About item.
  std::unique_ptr<QMenu> BuildWindowMenu();

 public slots:
  void OnCreateButton();
  void OnExportButton();
  // The settings dialog and the folder dialog are opened from here.
  void OnSettingsButton();
  void OnBrowseButton();
  void OnPreviewClicked(bool checked);
  void OnPreviewTimer();
  void ShowAbout();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void InitDialog();
  bool PreTranslateKey(QObject* watched, const QKeyEvent& key);
  void StepIntoFolder(const std::string& relative);
  void OnItemChanged(int index);
  void OnPathTextChanged(const QString& text);
  void OnPathFocusLost();
  void RunDesktopJob(JobKind kind, int exportFormat);

  // Controls, in tab order where they take the focus.
  FileList* fileList_ = nullptr;
  QPushButton* createButton_ = nullptr;
  QPushButton* settingsButton_ = nullptr;
  QCheckBox* previewCheck_ = nullptr;
  PreviewPane* previewPane_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QLineEdit* pathBox_ = nullptr;
  QPushButton* browseButton_ = nullptr;

  bool previewEnabled_ = false;
  QIcon appIcon_;
  SourceLoader loader_;  // currentImage and currentImagePath
  QTimer previewTimer_;
  int previewItem_ = -1;
  ConverterSettings settings_;

  std::unique_ptr<UserPrompts> ownPrompts_;
  UserPrompts* prompts_;
  std::unique_ptr<ShellNamespace> ownShell_;
  ShellNamespace* shell_;
  JobHost* jobObserver_ = nullptr;
  DesktopJobHost* jobHost_ = nullptr;  // set while a job runs
  bool refreshing_ = false;            // the list is being rebuilt
  bool closeAfterJob_ = false;         // the window was closed during a job
};

}  // namespace rzt2
