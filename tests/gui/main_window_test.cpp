// The main window: start-up, keys, the About box, the folder path box.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "app/about_dialog.h"
#include "main_window_fixture.h"
#include "rzt2_version.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

TEST_F(MainWindowTest, StartsOnTheStoredSettingsWithTheTemplatesTabOrder) {
  MainDialog& window = Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  EXPECT_TRUE(window.PreviewCheck()->isChecked());
  EXPECT_EQ(window.PreviewItem(), -1);
  const std::vector<QWidget*> tabOrder = {
      window.List(),         window.CreateButton(), window.SettingsButton(), window.PreviewCheck(),
      window.ExportButton(), window.PathBox(),      window.BrowseButton(),   window.List()};
  for (size_t i = 0; i < tabOrder.size(); ++i) {
    EXPECT_EQ(QApplication::focusWidget(), tabOrder[i]) << "tab stop " << i;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
  }
}

TEST_F(MainWindowTest, AnEmptyStoredFolderListsTheDirectoryCurrentAtStartUp) {
  fs::create_directory(dir / "here");
  WriteFileBytes(dir / "here" / "a.png", {0});
  fs::current_path(dir / "here");
  Open([](ConverterSettings& s) { s.SrcFolder.clear(); });
  EXPECT_EQ(Names(), (std::vector<std::string>{"..", "a.png"}));
  EXPECT_EQ(Window().PathBox()->text(), "");
}

TEST_F(MainWindowTest, EscapeNeverClosesTheWindowAndEnterInThePathBoxDoesNothing) {
  fs::create_directory(dir / "sub");
  MainDialog& window = Open();
  for (QWidget* control : std::vector<QWidget*>{window.List(), window.PathBox(), window.PreviewCheck(),
                                                window.CreateButton(), window.BrowseButton(), &window}) {
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible()) << control->metaObject()->className();
  }
  window.PathBox()->setFocus();
  QTest::keyClick(window.PathBox(), Qt::Key_Return);
  QTest::keyClick(window.PathBox(), Qt::Key_Enter);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(prompts.messages.empty() && prompts.questions.empty());
  EXPECT_EQ(fs::current_path(), dir.Path());
}

TEST_F(MainWindowTest, ClosingSavesNothingAndF1OpensTheAboutBoxNamedLastInTheMenu) {
  MainDialog& window = Open();
  // The icon resources live in a static library; the linker must keep them.
  EXPECT_FALSE(window.windowIcon().isNull());
  const std::unique_ptr<QMenu> menu = window.BuildWindowMenu();
  const QList<QAction*> actions = menu->actions();
  ASSERT_GE(actions.size(), 2);
  EXPECT_EQ(actions.back()->text(), "&About rzt2tool...");
  EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
  QString seen;
  QTimer::singleShot(0, [&] {
    if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
      seen = about->windowTitle();
      if (about->findChild<QLabel*>("icon")->pixmap().isNull()) seen += " without icon";
      if (!about->findChild<QLabel*>("text")->text().contains(QString("Version ") + kVersion))
        seen += " without version";
      about->close();
    }
  });
  QTest::keyClick(window.List(), Qt::Key_F1);
  EXPECT_EQ(seen, "About rzt2tool");

  const std::vector<uint8_t> before = ReadFileBytes(StoreFile());
  window.Settings().FrameSizeX = 333;
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(ReadFileBytes(StoreFile()), before);
}

// Types text into the path box one character at a time.
void Type(QLineEdit* box, const std::string& text) {
  for (char c : text) QTest::keyClick(box, c);
}

TEST_F(MainWindowTest, TypingEntersEveryFolderOnTheWayWithoutSavingAndKeepsParentsAsTyped) {
  fs::create_directories(dir / "ab" / "cd");
  fs::create_directory(dir / "a");
  WriteFileBytes(dir / "ab" / "cd" / "x.png", {0});
  MainDialog& window = Open();
  window.PathBox()->setFocus();
  window.PathBox()->clear();
  Type(window.PathBox(), Folder() + "/a");
  EXPECT_EQ(fs::current_path(), dir / "a");
  Type(window.PathBox(), "b");
  EXPECT_EQ(fs::current_path(), dir / "ab");
  Type(window.PathBox(), "/cd");
  EXPECT_EQ(fs::current_path(), dir / "ab" / "cd");
  EXPECT_EQ(window.Settings().SrcFolder, Folder() + "/ab/cd");
  EXPECT_EQ(Names(), (std::vector<std::string>{"..", "x.png"}));
  // Leaving the box with the folder already entered saves nothing.
  QTest::keyClick(window.PathBox(), Qt::Key_Tab);
  EXPECT_EQ(Stored().SrcFolder, Folder());

  window.PathBox()->setFocus();
  window.PathBox()->selectAll();
  Type(window.PathBox(), "..");
  EXPECT_EQ(fs::current_path(), dir / "ab");
  EXPECT_EQ(window.PathBox()->text(), "..");
  EXPECT_EQ(window.Settings().SrcFolder, "..");
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(MainWindowTest, LeavingTheBoxEmptyIsRefusedAndWithAnotherFolderEntersAndSavesIt) {
  fs::create_directory(dir / "sub");
  MainDialog& window = Open();
  window.PathBox()->setFocus();
  window.PathBox()->clear();
  QTest::keyClick(window.PathBox(), Qt::Key_Tab);
  EXPECT_EQ(prompts.messages, std::vector<QString>{"Error [error] Invalid folder name"});
  EXPECT_EQ(window.PathBox()->text().toStdString(), Folder());
  EXPECT_EQ(fs::current_path(), dir.Path());
  EXPECT_EQ(QApplication::focusWidget(), window.BrowseButton());

  // A trailing slash makes a different text for the same folder: it is
  // entered again, which drops the current picture.
  window.Loader().ReplaceImage(ImageHandle::CreateBlank(4, 4, PixelFormat::Rgb24));
  window.PathBox()->setFocus();
  window.PathBox()->setText(QString::fromStdString(Folder() + "/"));
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_EQ(window.Settings().SrcFolder, Folder() + "/");
  EXPECT_EQ(Stored().SrcFolder, Folder());
  // With the text handler kept quiet, leaving the box enters the folder and saves it.
  const QSignalBlocker quiet(window.PathBox());
  window.PathBox()->setText(QString::fromStdString((dir / "sub").string()));
  window.List()->setFocus();
  EXPECT_EQ(fs::current_path(), dir / "sub");
  EXPECT_EQ(Stored().SrcFolder, (dir / "sub").string());
  EXPECT_EQ(prompts.messages.size(), 1u);
}

}  // namespace
}  // namespace rzt2::test
