// Conversion and export started from the main window, and files dropped on
// it: the questions, what the progress window shows, the error boxes,
// cancelling, and the list after. What a job does with each file is the
// jobs tests' concern.
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QUrl>

#include "gui_fixture.h"
#include "ui/common/export_dialog.h"

namespace rzt2::test {
namespace {

QString Question(int files) {
  return QStringLiteral(
             "Start to create maps: Would you like to convert %1 file(s) into rzt2 format?\n"
             "It can take several time!")
      .arg(files);
}

TEST_F(GuiTest, AConversionShowsEachFailureWhileItsStepIsShownThenListsTheNewFile) {
  Picture("strip.png", 480, 160);
  WriteFileBytes(dir / "bad.png", {1, 2, 3});
  Open([](ConverterSettings& s) {
    s.EnablePreview = 1;
    s.ZoomLevelsMask = 0;
  });
  // The parent folder is no file.
  Select({".."});
  Click("createButton");
  Click("exportButton");
  List().selectAll();
  Focus("strip.png");
  // "step | current% | done/files" at each error box; a step without a
  // percentage has a busy bar.
  std::vector<QString> shown;
  prompts.whileShown = [&] {
    EXPECT_FALSE(Find<QTimer>("previewTimer")->isActive());
    const auto* progress = Window().findChild<QDialog*>(QStringLiteral("progressWindow"));
    ASSERT_TRUE(progress && progress->isVisible());
    const auto* total = Find<QProgressBar>(*progress, "totalBar");
    const auto* current = Find<QProgressBar>(*progress, "currentBar");
    shown.push_back(QStringLiteral("%1 | %2 | %3/%4")
                        .arg(Find<QLabel>(*progress, "stepLabel")->text())
                        .arg(current->maximum() == 0 ? QStringLiteral("busy")
                                                     : QStringLiteral("%1%").arg(current->value()))
                        .arg(total->value())
                        .arg(total->maximum()));
  };
  Click("createButton");
  EXPECT_EQ(Window().cursor().shape(), Qt::BusyCursor);
  WaitUntilIdle();
  EXPECT_EQ(prompts.questions, std::vector<QString>{Question(2)});
  const QString refusal = "Information [info] No files selected.\nPlease select at least one file!";
  EXPECT_EQ(prompts.messages,
            (std::vector<QString>{refusal, refusal,
                                  "Error [error] Error loading file bad.png! (unknown image "
                                  "format)"}));
  EXPECT_EQ(shown, std::vector<QString>{"bad.png: Loading... | busy | 0/2"});
  EXPECT_NE(Item("strip.rzt2"), nullptr);
  EXPECT_TRUE(List().selectedItems().isEmpty());
  // An export onto its own picture is refused as it saves, and says why;
  // no question comes first.
  Select({"strip.png"});
  prompts.exportAnswer = 2;  // png
  Click("exportButton");
  WaitUntilIdle();
  EXPECT_EQ(shown.back(), "strip.png: Saving... | busy | 0/1");
  EXPECT_EQ(
      prompts.messages.back(),
      "Error [error] Error while creating/saving file strip.png! (the output would replace its source)");
  EXPECT_EQ(prompts.questions.size(), 2u);
}

// An export whose output exists asks first; each answer, and the earlier
// file kept as its backup (or said to be lost, its backup name taken). The
// format chosen last is offered again.
TEST_F(GuiTest, AnExportAsksBeforeReplacingAFileAndKeepsTheEarlierOneAsItsBackup) {
  const std::vector<std::string> names = {"p1.png", "p2.png", "p3.png", "p4.png", "p5.png"};
  for (const std::string& name : names) {
    Picture(name, 20, 20);
    WriteFileBytes(dir / (name.substr(0, 2) + ".bmp"), {static_cast<uint8_t>(name[1])});
  }
  WriteFileBytes(dir / "p2.bmp.bak", {0});
  Open();
  prompts.exportAnswer = 3;  // bmp
  prompts.replaceAnswers = {ReplaceChoice::Replace, ReplaceChoice::Skip, ReplaceChoice::ReplaceAll};
  Select(names);
  Click("exportButton");
  WaitUntilIdle();
  const QString exists = "Replace: %1 exists already.\nReplace it? The earlier file is kept as %1.bak.";
  EXPECT_EQ(
      prompts.questions,
      (std::vector<QString>{"Export 0: Would you like to convert 5 file(s) into selected format?\nIt can "
                            "take several time!",
                            exists.arg("p1.bmp"),
                            "Replace: p2.bmp exists already, and so does p2.bmp.bak.\nReplace it? The "
                            "earlier file will not be kept.",
                            exists.arg("p3.bmp")}));
  EXPECT_TRUE(prompts.messages.empty());
  for (const char* kept : {"p1", "p3", "p4", "p5"}) {
    const std::string name = kept;
    EXPECT_EQ(ReadFileBytes(dir / (name + ".bmp.bak")), std::vector<uint8_t>{static_cast<uint8_t>(name[1])});
    EXPECT_GT(ReadFileBytes(dir / (name + ".bmp")).size(), 1u) << name;
  }
  EXPECT_EQ(ReadFileBytes(dir / "p2.bmp"), std::vector<uint8_t>{'2'});
  // Cancel stops the job at the first question: nothing more is replaced.
  prompts.questions.clear();
  prompts.replaceAnswers = {ReplaceChoice::Cancel};
  const std::vector<uint8_t> before = ReadFileBytes(dir / "p1.bmp");
  Select(names);
  Click("exportButton");
  WaitUntilIdle();
  ASSERT_EQ(prompts.questions.size(), 2u);
  EXPECT_TRUE(prompts.questions[0].startsWith("Export 3: "));
  EXPECT_EQ(ReadFileBytes(dir / "p1.bmp"), before);
  EXPECT_TRUE(prompts.messages.empty());
}

// A destination folder that does not exist is made as the job starts;
// one that cannot be made is reported with its cause, and so is an output
// that an earlier file of the job writes.
TEST_F(GuiTest, AMissingDestinationIsMadeAsTheJobStartsAndEveryFailureSaysWhy) {
  Picture("a.png", 30, 30);
  Picture("a.bmp", 30, 30);
  const std::string made = (dir / "made" / "deep").string() + "/";
  Open([&](ConverterSettings& s) {
    s.DstFolderAsSame = 0;
    s.DstFolder = made;
    s.ZoomLevelsMask = 0;
  });
  Select({"a.bmp", "a.png"});
  Click("createButton");
  WaitUntilIdle();
  EXPECT_TRUE(fs::exists(dir / "made" / "deep" / "a.rzt2"));
  EXPECT_EQ(prompts.messages, std::vector<QString>{QString::fromStdString(
                                  "Error [error] Error while creating/saving file " + made +
                                  "a.rzt2! (also the output of a.bmp, earlier in this job)")});
  Window().close();
  prompts.messages.clear();
  Open([&](ConverterSettings& s) {
    s.DstFolderAsSame = 0;
    s.DstFolder = (dir / "a.png" / "maps").string() + "/";
  });
  Select({"a.png"});
  Click("createButton");
  WaitUntilIdle();
  EXPECT_EQ(prompts.messages, std::vector<QString>{QString::fromStdString(
                                  "Error [error] Error while creating folder " +
                                  (dir / "a.png" / "maps").string() + "! (a file is in the way)")});
}

// The clicks and keys happen before the window's thread has learnt that the
// job ended: none of them may start anything, then or later.
TEST_F(GuiTest, NothingClickedDuringAJobReachesTheWindowThenOrAfterwards) {
  Picture("a.png", 64, 64);
  Open();
  Select({"a.png"});
  Focus("a.png");
  QStringList opened;  // modal dialogs that came up, but for the progress window
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->objectName() != "progressWindow") {
      opened << modal->windowTitle();
      modal->close();
    }
  });
  watch.start(5);
  Click("exportButton");
  for (const char* button : {"createButton", "exportButton", "settingsButton", "browseButton"}) {
    QTest::mouseClick(Find(button), Qt::LeftButton);
  }
  List().setFocus();
  QTest::keyClick(&List(), Qt::Key_Return);
  WaitUntilIdle();
  QTest::qWait(50);
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(opened, QStringList{});
  EXPECT_TRUE(Find("createButton")->isEnabled());
}

// A file of over 20000 frames is stopped as its writing starts, by each way
// of cancelling: the file before it stays done and its earlier map stays.
// What else a stop keeps is the jobs tests' concern.
TEST_F(GuiTest, CancelStopsTheFileBeingWrittenAndKeepsItsEarlierFile) {
  Picture("a.png", 32, 32);
  Picture("big.png", 4096, 4096);
  Open([](ConverterSettings& s) { s.SetEncoder({32, 32, 255, 128, 128, 0}); });
  const std::function<void(QDialog&)> cancels[] = {
      [](QDialog& progress) { Find<QPushButton>(progress, "cancelButton")->click(); },
      [](QDialog& progress) { QTest::keyClick(&progress, Qt::Key_Escape); },
      [](QDialog& progress) { progress.close(); }};
  for (const auto& cancel : cancels) {
    fs::remove(dir / "a.rzt2");
    WriteFileBytes(dir / "big.rzt2", {1, 2, 3});
    WriteFileBytes(dir / "big.rzt2.bak", {4, 5});
    Select({"a.png", "big.png"});
    Click("createButton");
    auto* progress = Window().findChild<QDialog*>(QStringLiteral("progressWindow"));
    ASSERT_NE(progress, nullptr);
    // Once the map file is being written: its first level alone takes long.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          const QString step = Find<QLabel>(*progress, "stepLabel")->text();
          return step == "big.rzt2: Creating preview..." || step.startsWith("big.png: Writing frames");
        },
        60000));
    cancel(*progress);
    EXPECT_FALSE(Find(*progress, "cancelButton")->isEnabled());
    WaitUntilIdle();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(Names(), (QStringList{"..", "a.png", "a.rzt2", "big.png", "big.rzt2"}));
    // The earlier file and its backup byte for byte, and no temporary file.
    EXPECT_EQ(ReadFileBytes(dir / "big.rzt2"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadFileBytes(dir / "big.rzt2.bak"), (std::vector<uint8_t>{4, 5}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 5);
  }
}

// The steps of a page of a file of several name the page.
TEST_F(GuiTest, TheProgressLineNamesThePageOfAFileOfSeveral) {
  WriteFileBytes(dir / "atlas.tif", WriteWithLibtiff([](TIFF* tif) {
                   for (const uint32_t side : {20u, 2048u}) {  // the second takes seconds in 32-pixel frames
                     TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
                     TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
                     TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
                     TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
                     TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
                     std::vector<uint8_t> row(side);
                     for (uint32_t y = 0; y < side; ++y) {
                       for (uint32_t x = 0; x < side; ++x) row[x] = static_cast<uint8_t>(x ^ y);
                       TIFFWriteScanline(tif, row.data(), y, 0);
                     }
                     TIFFWriteDirectory(tif);
                   }
                 }));
  Open([](ConverterSettings& s) {
    s.SetEncoder({32, 32, 0, 128, 128, 0});
    s.AllPages = 1;
  });
  Select({"atlas.tif"});
  Click("createButton");
  const QPointer<QDialog> progress = Window().findChild<QDialog*>(QStringLiteral("progressWindow"));
  ASSERT_NE(progress, nullptr);
  // Gone when the job ended first: the step was never shown.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return !progress || Find<QLabel>(*progress, "stepLabel")->text() ==
                                "atlas.tif, page 2: Writing frames for zoom 100%...";
      },
      60000));
  ASSERT_FALSE(progress.isNull());
  Find<QPushButton>(*progress, "cancelButton")->click();
  WaitUntilIdle();
  EXPECT_TRUE(fs::exists(dir / "atlas-p1.rzt2"));
}

// Files dropped from a file manager are converted next to themselves after
// the question; a dropped folder is opened.
TEST_F(GuiTest, DroppedFilesAreConvertedAfterTheQuestionAndADroppedFolderIsOpened) {
  fs::create_directory(dir / "elsewhere");
  for (const char* name : {"a.png", "elsewhere/c.png"}) Picture(name, 40, 40);
  Open();
  const auto drop = [&](const std::vector<fs::path>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const fs::path& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    data.setUrls(urls);
    const QPoint at = Find("previewPane")->mapTo(&Window(), QPoint(5, 5));
    // Offered as a move, taken as a copy: the sources stay where they are.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&Window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    dropped.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&Window(), &dropped);
    EXPECT_EQ(dropped.dropAction(), Qt::CopyAction);
    QApplication::processEvents();  // the question comes once the drop is over
    WaitUntilIdle();
  };
  drop({dir / "a.png", dir / "elsewhere" / "c.png"});
  EXPECT_EQ(prompts.questions, std::vector<QString>{Question(2)});
  for (const char* output : {"a.rzt2", "elsewhere/c.rzt2"}) EXPECT_TRUE(fs::exists(dir / output));
  drop({dir / "elsewhere"});
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_EQ(Names(), (QStringList{"..", "c.png", "c.rzt2"}));
}

TEST(JobDialogsTest, ExportReturnsTheChoiceOnYesOnly) {
  ExportDialog dialog;
  auto* formats = GuiTest::Find<QComboBox>(dialog, "formatBox");
  for (const auto& [choice, button, result] : {std::tuple{4, "noButton", 0}, {3, "yesButton", 3}}) {
    dialog.setFormatIndex(0);
    dialog.show();
    formats->setCurrentIndex(choice);
    GuiTest::Find<QPushButton>(dialog, button)->click();
    EXPECT_EQ(dialog.formatIndex(), result);
  }
}

}  // namespace
}  // namespace rzt2::test
