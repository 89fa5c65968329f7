// The main window: start-up, the About box, the folder path box, the file
// list and moving through folders, and the dialogs its buttons open.
#include <QLabel>
#include <QSettings>

#include "gui_fixture.h"
#include "rzt2_version.h"
#include "ui/file_listing.h"

namespace rzt2::test {
namespace {

// Names in any case, with several dots, a dot first or last, or none;
// extensions listed (emf, wmf) or not (tiff, txt).
TEST_F(GuiTest, TheListingHasFoldersThenConvertibleFilesEachByName) {
  for (const char* name :
       {"Photo.JPG", "scan.Tif", "map.RZT2", "archive.tar.png", ".png", "b.bmp", "A.gif", "c.jpeg", "d.emf",
        "e.wmf", "photo.tiff", "notes.txt", "README", "png", "trail."}) {
    Touch(name);
  }
  for (const char* folder : {"maps.png", "Zeta", "alpha", ".hidden"}) fs::create_directory(dir / folder);
  const FolderListing listing = listFolder(dir.Path());
  EXPECT_EQ(listing.folders, (std::vector<std::string>{"..", ".hidden", "alpha", "maps.png", "Zeta"}));
  EXPECT_EQ(listing.files, (std::vector<std::string>{".png", "A.gif", "archive.tar.png", "b.bmp", "c.jpeg",
                                                     "d.emf", "e.wmf", "map.RZT2", "Photo.JPG", "scan.Tif"}));
  EXPECT_NE(listFolder("/").folders.front(), "..");
  EXPECT_EQ(listFolder(dir / "gone").folders, std::vector<std::string>{".."});
}

TEST_F(GuiTest, StartsOnTheStoredSettingsWithTheTemplatesTabOrder) {
  Touch("b.png");
  Touch("notes.txt");
  Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  EXPECT_TRUE(Find<QCheckBox>("previewCheck")->isChecked());
  EXPECT_EQ(PathBox().text().toStdString(), Folder());
  EXPECT_EQ(Names(), (QStringList{"..", "b.png"}));
  EXPECT_FALSE(Item("b.png")->icon(0).isNull());
  EXPECT_EQ(List().columnWidth(0), List().viewport()->width() - 18);
  EXPECT_EQ(List().selectionMode(), QAbstractItemView::ExtendedSelection);
  for (const char* name : {"fileList", "createButton", "settingsButton", "previewCheck", "exportButton",
                           "pathBox", "browseButton", "fileList"}) {
    EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

// In a group of its own: the settings keep their names and meaning.
TEST_F(GuiTest, TheWindowReopensWhereItWasWithItsSize) {
  Open();
  const QRect placed(QPoint(30, 40), Window().minimumSizeHint() + QSize(20, 10));
  Window().setGeometry(placed);
  Window().close();
  Open();
  EXPECT_EQ(Window().geometry(), placed);
  EXPECT_EQ(QSettings(QString::fromStdString(StoreFile()), QSettings::IniFormat).childGroups(),
            QStringList{"MainWindow"});
  EXPECT_EQ(Stored().SrcFolder, Folder());
}

TEST_F(GuiTest, EscapeDoesNothingF1OpensTheAboutBoxAndClosingSavesNothing) {
  fs::create_directory(dir / "typed");
  Open();
  QTest::keyClick(&List(), Qt::Key_Escape);
  EXPECT_TRUE(Window().isVisible());
  // The icon resources live in a static library; the linker must keep them.
  EXPECT_FALSE(Window().windowIcon().isNull());
  QString seen;
  WhenModal([&](QDialog& about) {
    seen = about.windowTitle();
    if (about.findChild<QLabel*>("icon")->pixmap().isNull()) seen += " without icon";
    if (!about.findChild<QLabel*>("text")->text().contains(QString("Version ") + kVersion))
      seen += " without version";
    about.close();
  });
  QTest::keyClick(&List(), Qt::Key_F1);
  EXPECT_EQ(seen, "About rzt2tool");
  // A folder entered by typing is saved only when the box is left.
  PathBox().setText(QString::fromStdString((dir / "typed").string()));
  Window().close();
  EXPECT_FALSE(Window().isVisible());
  EXPECT_EQ(Stored().SrcFolder, Folder());
}

TEST_F(GuiTest, ThePathBoxEntersEveryFolderTypedAndRefusesToBeLeftOnNone) {
  fs::create_directories(dir / "ab" / "cd");
  fs::create_directory(dir / "a");
  Touch("a/in-a.png");
  Touch("ab/cd/x.png");
  const fs::path before = fs::current_path();
  Open();
  PathBox().setFocus();
  PathBox().clear();
  QTest::keyClick(&PathBox(), Qt::Key_Enter);  // neither closes nor complains
  EXPECT_TRUE(Window().isVisible() && prompts.messages.empty());
  QTest::keyClick(&PathBox(), Qt::Key_Tab);
  EXPECT_EQ(prompts.messages, std::vector<QString>{"Error [error] Invalid folder name"});
  EXPECT_EQ(PathBox().text().toStdString(), Folder());
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "browseButton");
  // Another text for the same folder enters it again: the list is read anew.
  Touch("late.png");
  PathBox().setText(QString::fromStdString(Folder() + "/"));
  EXPECT_NE(Item("late.png"), nullptr);
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
  EXPECT_EQ(Stored().SrcFolder, Folder());
  PathBox().selectAll();
  QTest::keyClicks(&PathBox(), "..");  // taken in the folder shown, kept as typed
  EXPECT_EQ(Names(), (QStringList{"..", "a", "ab", "late.png"}));
  EXPECT_EQ(PathBox().text(), "..");
  // Leaving the box saves a folder that typing did not enter.
  const QSignalBlocker quiet(&PathBox());
  PathBox().setText(QString::fromStdString((dir / "ab").string()));
  List().setFocus();
  EXPECT_EQ(Stored().SrcFolder, (dir / "ab").string());
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(fs::current_path(), before);  // the window's folder is its own
}

TEST_F(GuiTest, TheListOpensTheFocusedFolderOrConvertsTheSelectedFiles) {
  fs::create_directories(dir / "inner" / "deeper");
  Touch("inner/a.png");
  Touch("inner/b.png");
  Open();
  Focus("inner");
  QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, List().visualItemRect(Item("inner")).center());
  const std::string inner = (dir / "inner").string();
  EXPECT_EQ(PathBox().text().toStdString(), inner);
  EXPECT_EQ(Stored().SrcFolder, inner);
  // Below the last item: the focused item is what opens.
  Focus("deeper");
  QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, QPoint(5, List().viewport()->height() - 5));
  EXPECT_EQ(Stored().SrcFolder, inner + "/deeper");
  List().setFocus();
  Focus("..");
  QTest::keyClick(&List(), Qt::Key_Enter);
  EXPECT_EQ(Stored().SrcFolder, inner);
  // A file opens the conversion of the selected files, if there are any.
  prompts.answerYes = false;
  Focus("a.png");
  QTest::keyClick(&List(), Qt::Key_Return);
  Select({"..", "deeper", "a.png", "b.png"});
  fs::remove(dir / "inner" / "b.png");  // a vanished file counts as none
  QTest::keyClick(&List(), Qt::Key_Return);
  EXPECT_EQ(prompts.questions,
            std::vector<QString>{"Start to create maps: Would you like to convert 1 file(s) "
                                 "into rzt2 format?\nIt can take several time!"});
  QTest::keyClick(&List(), Qt::Key_Backspace);
  EXPECT_EQ(Stored().SrcFolder, Folder());
  // At the root Backspace stays there and still saves.
  PathBox().setText("/");
  QTest::keyClick(&List(), Qt::Key_Backspace);
  EXPECT_EQ(Stored().SrcFolder, "/");
  EXPECT_EQ(Item(".."), nullptr);
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
    EXPECT_EQ(PathBox().text().toStdString(), stored);
    EXPECT_NE(Item("inside.png"), nullptr);
  }
}

TEST_F(GuiTest, TheSettingsDialogOpensFromTheWindowsRecordAndOkChangesIt) {
  Open();
  for (const bool ok : {false, true}) {
    WhenModal([ok](QDialog& dialog) {
      Find<QLineEdit>(dialog, "frameWidthEdit")->setText("64");
      ok ? dialog.accept() : dialog.reject();
    });
    Click("settingsButton");
    QString shown;
    WhenModal([&](QDialog& dialog) {
      shown = Find<QLineEdit>(dialog, "frameWidthEdit")->text();
      dialog.reject();
    });
    Click("settingsButton");
    EXPECT_EQ(shown, ok ? "64" : "160");
  }
  EXPECT_EQ(Stored().FrameSizeX, 64);
}

}  // namespace
}  // namespace rzt2::test
