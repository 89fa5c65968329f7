// The GUI tests' one fixture: a private source folder and settings file, the
// user's answers to every question, and a folder namespace in memory. Tests
// find widgets by their object names.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/main_dialog.h"
#include "support/test_support.h"
#include "ui/common/user_prompts.h"
#include "ui/converter/shell_namespace.h"

// Failure messages show texts, not their bytes.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace rzt2::test {

namespace fs = std::filesystem;

// Answers like a user would, and remembers what was asked: messages as
// "caption [icon] text (detail)" (a job's error boxes too, the cause as
// detail), questions as "caption: text" ("Export N" for the export dialog
// with format N preselected, "Replace" for a file to replace).
class FakePrompts final : public UserPrompts {
 public:
  std::vector<QString> messages, questions;
  bool answerYes = true;
  std::optional<int> exportAnswer = 0;
  std::vector<ReplaceChoice> replaceAnswers;  // in turn; Skip when none is left
  std::function<void()> whileShown;           // runs while a message would be on screen

  void showMessage(QWidget*, const QString& text, const QString& caption, MessageIcon icon,
                   const QString& detail) override {
    const char* icons[] = {"info", "warning", "error"};
    messages.push_back(caption + " [" + icons[static_cast<int>(icon)] + "] " + text +
                       (detail.isEmpty() ? QString() : " (" + detail + ")"));
    if (whileShown) whileShown();
  }
  bool showJobError(QWidget* owner, const QString& text, const QString& cause,
                    const QString& caption) override {
    showMessage(owner, text, caption, MessageIcon::Error, cause);
    return true;
  }
  bool askYesNo(QWidget*, const QString& text, const QString& caption) override {
    questions.push_back(caption + ": " + text);
    return answerYes;
  }
  std::optional<int> askExportFormat(QWidget*, const QString& message, int preselected) override {
    questions.push_back(QStringLiteral("Export %1: ").arg(preselected) + message);
    return exportAnswer;
  }
  ReplaceChoice askReplace(QWidget*, const QString& text) override {
    questions.push_back("Replace: " + text);
    if (replaceAnswers.empty()) return ReplaceChoice::Skip;
    const ReplaceChoice answer = replaceAnswers.front();
    replaceAnswers.erase(replaceAnswers.begin());
    return answer;
  }
};

// Folders in memory, each with a real folder below root unless made without
// a path.
class FakeShell final : public ShellNamespace {
 public:
  explicit FakeShell(std::string root) : root_(std::move(root)) {}
  // Adds a folder under parent ("" for the top level) and returns its key.
  std::string Add(const std::string& parent, const QString& name, bool hasSubFolders, bool withPath = true) {
    const std::string key = parent + "/" + name.toStdString();
    children_[parent].push_back({key, name, withPath ? PathOf(key) : "", hasSubFolders, 0});
    if (withPath) fs::create_directories(PathOf(key));
    return key;
  }
  std::string PathOf(const std::string& key) const { return root_ + key; }

  std::vector<ShellItem> topLevel() override { return subFolders({}); }
  std::vector<ShellItem> subFolders(const ShellItem& folder) override { return children_[folder.key]; }
  QIcon icon(const ShellItem&, IconKind) override { return {}; }

 private:
  std::string root_;
  std::map<std::string, std::vector<ShellItem>> children_;
};

class GuiTest : public ::testing::Test {
 public:
  template <typename T = QWidget>
  static T* Find(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

 protected:
  template <typename T = QWidget>
  T* Find(const char* name) {
    return Find<T>(*window_, name);
  }
  // Answers the next "Change folder" dialog, once it is up: OK on the
  // top-level item of that index, or Cancel for -1.
  static void WhenFolderDialog(int item) {
    QTimer::singleShot(0, [item] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      auto* tree = Find<QTreeWidget>(*dialog, "folderTree");
      if (item >= 0) tree->setCurrentItem(tree->topLevelItem(item));
      item >= 0 ? dialog->accept() : dialog->reject();
    });
  }

  std::string Folder() const { return dir.Path().string(); }
  std::string StoreFile() const { return (config.Path() / "rzt2tool.conf").string(); }
  ConverterSettings Stored() const {
    ConverterSettings stored(StoreFile());
    stored.LoadSettings();
    return stored;
  }
  // Stores the settings (source folder: the test's folder unless adjusted),
  // then opens the window on them, shown and active.
  MainDialog& Open(const std::function<void(ConverterSettings&)>& adjust = {}) {
    ConverterSettings settings(StoreFile());
    settings.SrcFolder = Folder();
    if (adjust) adjust(settings);
    EXPECT_TRUE(settings.SaveSettings());
    window_ = std::make_unique<MainDialog>(StoreFile(), &prompts, &shell);
    window_->show();
    QApplication::setActiveWindow(window_.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return *window_;
  }
  MainDialog& Window() { return *window_; }
  // Until no job runs and no preview loads (no progress window, no busy cursor).
  void WaitUntilIdle() {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          return !window_->findChild<QDialog*>(QStringLiteral("progressWindow")) &&
                 window_->cursor().shape() != Qt::BusyCursor;
        },
        60000));
  }
  QTreeWidget& List() { return *Find<QTreeWidget>("fileList"); }
  QLineEdit& PathBox() { return *Find<QLineEdit>("pathBox"); }
  void Click(const char* name) { Find<QAbstractButton>(name)->click(); }

  QStringList Names() {
    QStringList names;
    for (int i = 0; i < List().topLevelItemCount(); ++i) names << List().topLevelItem(i)->text(0);
    return names;
  }
  QTreeWidgetItem* Item(const std::string& name) {
    const auto found = List().findItems(QString::fromStdString(name), Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.front();
  }
  // Moves the focus in the list without touching the selection.
  void Focus(const std::string& name) { List().setCurrentItem(Item(name), 0, QItemSelectionModel::NoUpdate); }
  void Select(const std::vector<std::string>& names) {
    List().clearSelection();
    for (const std::string& name : names) Item(name)->setSelected(true);
  }
  void Touch(const std::string& name) { WriteFileBytes(dir / name, {0}); }
  // A picture of one colour in the source folder, written by Qt.
  void Picture(const std::string& name, int width, int height, QColor color = Qt::gray) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(QString::fromStdString((dir / name).string())));
  }
  // The colour at the centre of the preview pane; white when it shows nothing.
  QColor PaneCentre() {
    const QImage shown = Find("previewPane")->grab().toImage();  // in device pixels
    return shown.pixelColor(shown.width() / 2, shown.height() / 2);
  }

  TempDir dir;
  TempDir config;
  FakePrompts prompts;
  FakeShell shell{config.Path().string()};

 private:
  std::unique_ptr<MainDialog> window_;
};

}  // namespace rzt2::test
