// The file list: which names it shows, and moving through folders with
// the mouse and the keys.
#include <QHeaderView>
#include <QLineEdit>
#include <algorithm>

#include "main_window_fixture.h"
#include "ui/file_listing.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) { WriteFileBytes(path, {0}); }

// Edge cases of names: case, several dots, a dot first or last, no dot,
// and extensions listed (emf, wmf) or not (tiff, txt).
TEST(FileListingTest, ListsFoldersThenConvertibleFilesByExtensionInAnyCase) {
  TempDir dir;
  for (const char* name :
       {"Photo.JPG", "scan.Tif", "map.RZT2", "archive.tar.png", ".png", "b.bmp", "A.gif", "c.jpeg", "d.emf",
        "e.wmf", "photo.tiff", "notes.txt", "README", "png", "trail."}) {
    Touch(dir / name);
  }
  for (const char* folder : {"maps.png", "Zeta", "alpha", ".hidden"}) fs::create_directory(dir / folder);
  const FolderListing listing = ListFolder(dir.Path());
  EXPECT_EQ(listing.folders, (std::vector<std::string>{"..", ".hidden", "alpha", "maps.png", "Zeta"}));
  EXPECT_EQ(listing.files, (std::vector<std::string>{".png", "A.gif", "archive.tar.png", "b.bmp", "c.jpeg",
                                                     "d.emf", "e.wmf", "map.RZT2", "Photo.JPG", "scan.Tif"}));
}

TEST(FileListingTest, TheRootHasNoParentEntryAndAMissingFolderListsOnlyItsParent) {
  const FolderListing root = ListFolder("/");
  EXPECT_TRUE(std::find(root.folders.begin(), root.folders.end(), "..") == root.folders.end());
  EXPECT_TRUE(std::find(root.folders.begin(), root.folders.end(), ".") == root.folders.end());
  TempDir dir;
  const FolderListing missing = ListFolder(dir / "gone");
  EXPECT_EQ(missing.folders, std::vector<std::string>{".."});
  EXPECT_TRUE(missing.files.empty());
}

TEST_F(MainWindowTest, ListShowsOneFileColumnOfTheSourceFolder) {
  for (const char* name : {"b.png", "A.jpg", "notes.txt"}) Touch(dir / name);
  fs::create_directory(dir / "sub");
  Open();
  EXPECT_EQ(Names(), (std::vector<std::string>{"..", "sub", "A.jpg", "b.png"}));
  EXPECT_EQ(List().columnCount(), 1);
  EXPECT_EQ(List().columnWidth(0), List().viewport()->width() - 18);
  EXPECT_EQ(List().selectionMode(), QAbstractItemView::ExtendedSelection);
  for (int i = 0; i < List().Count(); ++i) EXPECT_FALSE(List().topLevelItem(i)->icon(0).isNull());
  EXPECT_EQ(Window().PathBox()->text().toStdString(), Folder());
}

TEST_F(MainWindowTest, DoubleClickEntersTheFocusedFolderWhereverItLandsAndSavesIt) {
  fs::create_directory(dir / "inner");
  fs::create_directory(dir / "inner" / "deeper");
  Touch(dir / "inner" / "deeper" / "x.gif");
  Open();
  Focus("inner");
  QTest::mouseDClick(List().viewport(), Qt::LeftButton, {},
                     List().visualItemRect(List().topLevelItem(IndexOf("inner"))).center());
  const std::string inner = (dir / "inner").string();
  EXPECT_EQ(fs::current_path(), dir / "inner");
  EXPECT_EQ(Window().PathBox()->text().toStdString(), inner);
  EXPECT_EQ(Stored().SrcFolder, inner);
  EXPECT_EQ(Names(), (std::vector<std::string>{"..", "deeper"}));

  // Below the last item: the focused item is what opens.
  Focus("deeper");
  QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, QPoint(5, List().viewport()->height() - 5));
  EXPECT_EQ(Names(), (std::vector<std::string>{"..", "x.gif"}));
  EXPECT_EQ(Stored().SrcFolder, (dir / "inner" / "deeper").string());
  EXPECT_TRUE(prompts.questions.empty());
}

TEST_F(MainWindowTest, EnterOpensTheFocusedItemAndBackspaceGoesUpButNotPastTheRoot) {
  fs::create_directory(dir / "sub");
  Touch(dir / "a.png");
  Open();
  List().setFocus();
  Focus("sub");
  QTest::keyClick(&List(), Qt::Key_Return);
  EXPECT_EQ(fs::current_path(), dir / "sub");
  EXPECT_EQ(Stored().SrcFolder, (dir / "sub").string());

  Focus("..");
  QTest::keyClick(&List(), Qt::Key_Enter);
  EXPECT_EQ(fs::current_path(), dir.Path());
  EXPECT_EQ(Stored().SrcFolder, Folder());

  QTest::keyClick(&List(), Qt::Key_Backspace);
  EXPECT_EQ(fs::current_path(), dir.Path().parent_path());
  EXPECT_EQ(Stored().SrcFolder, dir.Path().parent_path().string());
  EXPECT_EQ(Window().PathBox()->text().toStdString(), dir.Path().parent_path().string());
  EXPECT_TRUE(Window().isVisible());

  // At the root Backspace stays there and still saves.
  Window().ChangeFolder("/");
  ConverterSettings changed = Stored();
  changed.SrcFolder = "elsewhere";
  ASSERT_TRUE(changed.SaveSettings());
  QTest::keyClick(&List(), Qt::Key_Backspace);
  EXPECT_EQ(fs::current_path(), fs::path("/"));
  EXPECT_EQ(Stored().SrcFolder, "/");
  EXPECT_EQ(IndexOf(".."), -1);
}

TEST_F(MainWindowTest, OpeningAFileStartsTheConversionOfTheSelection) {
  Touch(dir / "a.png");
  Touch(dir / "b.png");
  Open();
  prompts.answerYes = false;
  Focus("a.png");
  List().setFocus();
  QTest::keyClick(&List(), Qt::Key_Return);  // nothing selected: nothing happens
  EXPECT_TRUE(prompts.questions.empty());
  Select({"a.png", "b.png"});
  Focus("a.png");
  QTest::keyClick(&List(), Qt::Key_Return);
  ASSERT_EQ(prompts.questions.size(), 1u);
  EXPECT_TRUE(prompts.questions[0].contains("convert 2 file(s)")) << prompts.questions[0].toStdString();
}

TEST_F(MainWindowTest, ChangeFolderTakesTheTextAsItComes) {
  fs::create_directory(dir / "sub");
  Open();
  Window().ChangeFolder((dir / "sub").string());
  EXPECT_EQ(fs::current_path(), dir / "sub");
  EXPECT_EQ(Stored().SrcFolder, (dir / "sub").string());
  // An empty path cannot be entered: the directory stays, the text is stored.
  Window().ChangeFolder("");
  EXPECT_EQ(fs::current_path(), dir / "sub");
  EXPECT_EQ(Window().PathBox()->text(), "");
  EXPECT_EQ(Stored().SrcFolder, "");
  EXPECT_EQ(Names(), std::vector<std::string>{".."});
}

}  // namespace
}  // namespace rzt2::test
