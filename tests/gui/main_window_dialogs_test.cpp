// The main window's "..." and "RZT2 &settings" buttons open the folder and
// settings dialogs and take their results.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "main_window_fixture.h"
#include "ui/shell_namespace.h"

namespace rzt2::test {
namespace {

// One top-level folder with a path, and a "Computer" without one.
class TwoItemShell final : public ShellNamespace {
 public:
  explicit TwoItemShell(std::string folder) : folder_(std::move(folder)) {}
  std::vector<ShellItem> TopLevel() override {
    return {{"maps", "maps", folder_, false, 0}, {"computer", "Computer", "", false, 1}};
  }
  std::vector<ShellItem> SubFolders(const ShellItem&) override { return {}; }
  QIcon Icon(const ShellItem&, IconKind) override { return {}; }

 private:
  std::string folder_;
};

// Runs once the next modal dialog is up.
template <typename Act>
void WhenModal(Act act) {
  QTimer::singleShot(0, [act] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    act(*modal);
  });
}

class MainWindowDialogsTest : public MainWindowTest {
 protected:
  MainWindowDialogsTest() : picked(dir / "picked"), fakeShell(picked.string()) {
    std::filesystem::create_directory(picked);
    test::WriteFileBytes(picked / "inside.png", {});
    shell = &fakeShell;
  }
  std::filesystem::path picked;
  TwoItemShell fakeShell;
};

TEST_F(MainWindowDialogsTest, TheChosenFolderBecomesTheSourceFolder) {
  Open();
  WhenModal([](QDialog& dialog) { dialog.accept(); });  // the first item is selected on opening
  Window().BrowseButton()->click();
  EXPECT_EQ(Stored().SrcFolder, picked.string());
  EXPECT_EQ(std::filesystem::current_path(), picked);
  EXPECT_EQ(Window().PathBox()->text().toStdString(), picked.string());
  EXPECT_NE(IndexOf("inside.png"), -1);

  // An item without a path is stored as an empty folder; the list stays.
  WhenModal([](QDialog& dialog) {
    auto* tree = dialog.findChild<QTreeWidget*>();
    tree->setCurrentItem(tree->topLevelItem(1));
    dialog.accept();
  });
  Window().BrowseButton()->click();
  EXPECT_EQ(Stored().SrcFolder, "");
  EXPECT_TRUE(Window().PathBox()->text().isEmpty());
  EXPECT_NE(IndexOf("inside.png"), -1);

  WhenModal([](QDialog& dialog) { dialog.reject(); });
  Window().BrowseButton()->click();
  EXPECT_EQ(Stored().SrcFolder, "");
}

TEST_F(MainWindowDialogsTest, SettingsTakenWithOkReachTheNextJob) {
  Picture("chart.png", 300, 200);
  Open();
  for (const bool ok : {false, true}) {
    WhenModal([ok](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("frameWidthEdit")->setText("64");
      ok ? dialog.accept() : dialog.reject();
    });
    Window().SettingsButton()->click();
    EXPECT_EQ(Window().Settings().FrameSizeX, ok ? 64 : 160);
  }
  EXPECT_EQ(Stored().FrameSizeX, 64);

  Select({"chart.png"});
  Window().OnCreateButton();
  std::vector<uint8_t> bytes = ReadFileBytes(dir / "chart.rzt2");
  ASSERT_GE(bytes.size(), 48u);
  EXPECT_EQ(bytes[32], 64);  // frame width of the full-size level
}

}  // namespace
}  // namespace rzt2::test
