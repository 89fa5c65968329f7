// The main window: start-up, the folder path box, the file list and moving
// through folders, and the dialogs its buttons open.
#include <QScreen>
#include <QSettings>
#include <algorithm>
#include <cctype>

#include "gui_fixture.h"
#include "raster/codecs/image_formats.h"
#include "ui/converter/file_listing.h"

namespace rzt2::test {
namespace {

// Names in any case, with several dots, a dot first or last, or none;
// extensions listed (emf, wmf, tiff) or not (txt). Every extension of the
// format table is listed, as written and in capitals.
TEST_F(GuiTest, TheListingHasFoldersThenConvertibleFilesEachByName) {
  for (const char* name : {"Photo.JPG", "scan.Tif", "map.RZT2", "archive.tar.png", ".png", "b.bmp", "d.emf",
                           "e.wmf", "photo.tiff", "notes.txt", "README", "png", "trail."}) {
    Touch(name);
  }
  for (const char* folder : {"maps.png", "Zeta", "alpha"}) fs::create_directory(dir / folder);
  const FolderListing listing = listFolder(dir.Path());
  EXPECT_EQ(listing.folders, (std::vector<std::string>{"..", "alpha", "maps.png", "Zeta"}));
  EXPECT_EQ(listing.files, (std::vector<std::string>{".png", "archive.tar.png", "b.bmp", "d.emf", "e.wmf",
                                                     "map.RZT2", "Photo.JPG", "photo.tiff", "scan.Tif"}));
  EXPECT_NE(listFolder("/").folders.front(), "..");
  EXPECT_EQ(listFolder(dir / "gone").folders, std::vector<std::string>{".."});

  const fs::path named = dir / "alpha";
  std::vector<std::string> expected;
  for (const ImageFormat& format : kImageFormats) {
    for (const std::string_view extension : format.extensions) {
      std::string upper(extension);
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
      for (const std::string& name : {"a." + std::string(extension), "B." + upper}) {
        WriteFileBytes(named / name, {});
        expected.push_back(name);
      }
    }
  }
  std::vector<std::string> listed = listFolder(named).files;
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
}

// The window reopens where it was, in a settings group of its own, unless
// the scale has changed since; Escape does not close it; Tab follows the
// layout.
TEST_F(GuiTest, StartsOnTheStoredSettingsAndReopensWhereItWas) {
  Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  EXPECT_TRUE(Find<QCheckBox>("previewCheck")->isChecked());
  // The icon resources live in a static library; the linker must keep them.
  EXPECT_FALSE(Window().windowIcon().isNull());
  QTest::keyClick(&List(), Qt::Key_Escape);
  EXPECT_TRUE(Window().isVisible());
  QStringList tabOrder;
  for (QWidget* widget = &PathBox(); tabOrder.size() < 7; widget = widget->nextInFocusChain()) {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible()) tabOrder << widget->objectName();
  }
  EXPECT_EQ(tabOrder, (QStringList{"pathBox", "browseButton", "fileList", "previewCheck", "settingsButton",
                                   "createButton", "exportButton"}));
  const QRect placed(QPoint(30, 40), Window().minimumSizeHint() + QSize(20, 10));
  Window().setGeometry(placed);
  Window().close();
  Open();
  EXPECT_EQ(Window().geometry(), placed);
  QSettings store(QString::fromStdString(StoreFile()), QSettings::IniFormat);
  EXPECT_EQ(store.childGroups(), QStringList{"MainWindow"});
  // Kept at another scale, the size would be wrong: the natural one, within the screen.
  Window().close();
  store.setValue("MainWindow/scale", 2.0);
  store.sync();
  Open();
  EXPECT_NE(Window().size(), placed.size());
  EXPECT_TRUE(Window().screen()->availableGeometry().contains(Window().frameGeometry()));
}

TEST_F(GuiTest, ThePathBoxEntersEveryFolderTypedAndRefusesToBeLeftOnNone) {
  fs::create_directories(dir / "ab" / "cd");
  fs::create_directory(dir / "a");
  Touch("a/in-a.png");
  Touch("ab/cd/x.png");
  const fs::path before = fs::current_path();
  Open();
  // Ctrl+L, as in file managers: the path, ready to be typed over.
  List().setFocus();
  QTest::keyClick(&List(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), &PathBox());
  EXPECT_EQ(PathBox().selectedText().toStdString(), Folder());
  PathBox().deselect();  // and again from the box itself
  QTest::keyClick(&PathBox(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(PathBox().selectedText().toStdString(), Folder());
  PathBox().clear();
  QTest::keyClick(&PathBox(), Qt::Key_Tab);
  EXPECT_EQ(prompts.messages, std::vector<QString>{"Error [error] Invalid folder name"});
  EXPECT_EQ(PathBox().text().toStdString(), Folder());
  // Every prefix that names a folder is entered at once, and not saved.
  PathBox().setFocus();
  PathBox().clear();
  const std::pair<std::string, QStringList> steps[] = {{Folder() + "/a", {"..", "in-a.png"}},
                                                       {"b", {"..", "cd"}},
                                                       {"/cd", {"..", "x.png"}},
                                                       {"/..", {"..", "cd"}}};
  for (const auto& [typed, listed] : steps) {
    QTest::keyClicks(&PathBox(), QString::fromStdString(typed));
    EXPECT_EQ(Names(), listed) << typed;
  }
  // Leaving the box saves a folder that typing did not enter.
  const QSignalBlocker quiet(&PathBox());
  PathBox().setText(QString::fromStdString((dir / "ab").string()));
  List().setFocus();
  EXPECT_EQ(Stored().SrcFolder, (dir / "ab").string());
  EXPECT_EQ(fs::current_path(), before);  // the window's folder is its own
}

TEST_F(GuiTest, TheListOpensTheFocusedFolderOrConvertsTheSelectedFiles) {
  fs::create_directories(dir / "inner");
  Touch("inner/a.png");
  Touch("inner/b.png");
  Open();
  Focus("inner");
  EXPECT_EQ(List().visualItemRect(Item("inner")).width(), List().viewport()->width());
  QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, List().visualItemRect(Item("inner")).center());
  EXPECT_EQ(Stored().SrcFolder, (dir / "inner").string());
  // A file opens the conversion of the selected files, if there are any.
  prompts.answerYes = false;
  List().setFocus();
  Focus("a.png");
  QTest::keyClick(&List(), Qt::Key_Return);
  Select({"..", "a.png", "b.png"});
  fs::remove(dir / "inner" / "b.png");  // a vanished file counts as none
  QTest::keyClick(&List(), Qt::Key_Return);
  EXPECT_EQ(prompts.questions,
            std::vector<QString>{"Start to create maps: Would you like to convert 1 file(s) "
                                 "into rzt2 format?\nIt can take several time!"});
  QTest::keyClick(&List(), Qt::Key_Backspace);
  EXPECT_EQ(Stored().SrcFolder, Folder());
}

TEST_F(GuiTest, TheChosenFolderBecomesTheSourceFolderTakenAsItComes) {
  const std::string picked = shell.Add("", "picked", false);
  shell.Add("", "~computer", false, false);
  WriteFileBytes(shell.PathOf(picked) + "/inside.png", {0});
  Open();
  // The first item; the item without a path, which empties the folder but
  // leaves the list; Cancel.
  const std::tuple<int, std::string> picks[] = {{0, shell.PathOf(picked)}, {1, ""}, {-1, ""}};
  for (const auto& [item, stored] : picks) {
    WhenFolderDialog(item);
    Click("browseButton");
    EXPECT_EQ(Stored().SrcFolder, stored);
    EXPECT_NE(Item("inside.png"), nullptr);
  }
}

// Window managers put a box where they like unless it is placed.
TEST_F(GuiTest, BoxesOpenCentredOverTheirOwnersWindow) {
  QWidget owner;
  owner.setGeometry(120, 90, 600, 420);
  auto* inner = new QPushButton(&owner);
  owner.show();
  DialogPrompts real;
  const std::function<void()> asks[] = {
      [&] { real.showMessage(inner, "text", "caption", MessageIcon::Error); },
      [&] { real.askExportFormat(inner, "message"); }};
  for (const auto& ask : asks) {
    QRect shown;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      shown = box->frameGeometry();
      box->close();
    });
    ask();
    EXPECT_LE((shown.center() - owner.frameGeometry().center()).manhattanLength(), 2) << shown.x();
  }
}

}  // namespace
}  // namespace rzt2::test
