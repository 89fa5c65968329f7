// The main window: start-up, the folder path box, the file list and moving
// through folders, and the dialogs its buttons open.
#include <QAccessible>
#include <QScreen>
#include <QSettings>
#include <algorithm>
#include <cctype>

#include "app/map_converter.h"
#include "gui_fixture.h"
#include "raster/codecs/image_formats.h"
#include "ui/converter/file_listing.h"
#include "ui/converter/settings_dialog.h"

namespace rzt2::test {
namespace {

// Names in any case, with several dots, a dot first or last, or none;
// extensions listed (emf, wmf, tiff) or not (txt); letters beyond ASCII
// and numbers sorted as the language does. Every extension of the format
// table is listed, as written and in capitals.
TEST_F(GuiTest, TheListingHasFoldersThenConvertibleFilesEachByName) {
  for (const char* name : {"Photo.JPG", "scan.Tif", "map.RZT2", "archive.tar.png", ".png", "b.bmp", "d.emf",
                           "e.wmf", "photo.tiff", "notes.txt", "README", "png", "trail.",
                           "\xC3\x96lkarte.png", "\xC3\xA9mile.png", "map10.png", "map9.png"}) {
    Touch(name);
  }
  for (const char* folder : {"maps.png", "Zeta", "alpha", "\xC3\x84rmel"}) fs::create_directory(dir / folder);
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const FolderListing listing = listFolder(dir.Path());
  QLocale::setDefault(before);
  EXPECT_EQ(listing.folders, (std::vector<std::string>{"..", "alpha", "\xC3\x84rmel", "maps.png", "Zeta"}));
  EXPECT_EQ(listing.files,
            (std::vector<std::string>{".png", "archive.tar.png", "b.bmp", "d.emf", "e.wmf",
                                      "\xC3\xA9mile.png", "map.RZT2", "map9.png", "map10.png",
                                      "\xC3\x96lkarte.png", "Photo.JPG", "photo.tiff", "scan.Tif"}));
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
  for (QWidget* widget = &PathBox(); tabOrder.size() < 8; widget = widget->nextInFocusChain()) {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible()) tabOrder << widget->objectName();
  }
  EXPECT_EQ(tabOrder, (QStringList{"pathBox", "browseButton", "fileList", "previewCheck", "asMapCheck",
                                   "settingsButton", "createButton", "exportButton"}));
  // F5 reads the folder again, the focus staying on its item.
  Touch("new.png");
  Focus("..");
  QTest::keyClick(&List(), Qt::Key_F5);
  EXPECT_EQ(Names(), (QStringList{"..", "new.png"}));
  EXPECT_EQ(List().currentIndex().row(), 0);
  // Tabbed into without a current item, as after a folder change, the list
  // shows where its focus is.
  List().setCurrentItem(nullptr);
  Find("browseButton")->setFocus();
  QTest::keyClick(Find("browseButton"), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), &List());
  EXPECT_EQ(List().currentIndex().row(), 0);
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
  const std::string computer = shell.Add("", "~computer", true, false);
  const std::string inner = shell.Add(shell.Add(computer, "disk", true), "inner", false);
  WriteFileBytes(shell.PathOf(picked) + "/inside.png", {0});
  // It opens on the folder listed, found through an item without a path,
  // with the focus in the tree.
  Open([&](ConverterSettings& s) { s.SrcFolder = shell.PathOf(inner); });
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* tree = Find<QTreeWidget>(*dialog, "folderTree");
    EXPECT_EQ(tree->currentItem()->text(0), "inner");
    EXPECT_EQ(dialog->focusWidget(), tree);
    dialog->reject();
  });
  Click("browseButton");
  Window().close();
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

// Controls without text of their own are named for screen readers, as
// Qt's accessibility interface (which AT-SPI serves) reads them: by name,
// or for a combo box, whose name on Linux is its item, by the label it is
// labelled by.
TEST_F(GuiTest, ControlsWithoutTextOfTheirOwnHaveAccessibleNames) {
  Open();
  const auto name = [](QWidget* widget) {
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
    if (control->role() != QAccessible::ComboBox) return control->text(QAccessible::Name);
    const auto labels = control->relations(QAccessible::Label);
    return labels.isEmpty() ? QString() : labels.front().first->text(QAccessible::Name);
  };
  const std::pair<const char*, QString> named[] = {{"pathBox", "Select folder"},
                                                   {"fileList", "Folders and files"},
                                                   {"browseButton", "Change folder"},
                                                   {"previewPane", "Preview"}};
  for (const auto& [object, expected] : named) EXPECT_EQ(name(Find(object)), expected) << object;
  ConverterSettings settings = Stored();
  SettingsDialog dialog(settings, shell, prompts);
  const std::pair<const char*, QString> fields[] = {
      {"zoomCombo", "Additional zoom levels to store in the file"},
      {"paletteCombo", "Palette"},
      {"pagesCombo", "Pages of multi-page files"},
      {"dpiEdit", "Resolution of PDF and vector pictures"},
      {"encoderCombo", "RZT2 frames encoder algorithm"},
      {"frameWidthEdit", "Frames width"},
      {"destinationEdit", "Destination folder"},
      {"browseButton", "Choose the destination folder"}};
  for (const auto& [object, expected] : fields) EXPECT_EQ(name(Find(dialog, object)), expected) << object;
}

// `rzt2tool asia.png`: a picture is no map file; the converter opens on
// its folder with it selected.
TEST_F(GuiTest, AFileGivenThatIsNoMapFileIsSelectedInTheConverter) {
  Picture("asia.png", 30, 20);
  Touch("b.png");
  std::unique_ptr<MainDialog> window;
  ASSERT_TRUE(openGivenFile((dir / "asia.png").string(), prompts, window, StoreFile(), &shell));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(prompts.messages,
            std::vector<QString>{"Information [info] asia.png is not a map file. (The "
                                 "converter opens on its folder, with the file selected.)"});
  auto* list = Find<QTreeWidget>(*window, "fileList");
  EXPECT_EQ(list->currentItem()->text(0), "asia.png");
  EXPECT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(Stored().SrcFolder, Folder());
  prompts.messages.clear();
  EXPECT_FALSE(openGivenFile((dir / "gone.rzt2").string(), prompts, window, StoreFile(), &shell));
  EXPECT_EQ(prompts.messages,
            std::vector<QString>{"Error [error] Error loading file gone.rzt2! (file not found)"});
}

// Window managers put a box where they like unless it is placed.
TEST_F(GuiTest, BoxesOpenCentredOverTheirOwnersWindow) {
  QWidget owner;
  owner.setGeometry(120, 90, 600, 420);
  auto* inner = new QPushButton(&owner);
  owner.show();
  DialogPrompts real;
  const std::function<void()> asks[] = {
      [&] { real.showMessage(inner, "text", "caption", MessageIcon::Error, {}); },
      [&] { real.askExportFormat(inner, "message", 0); }};
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
