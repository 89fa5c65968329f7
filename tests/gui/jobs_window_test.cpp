// Conversion and export started from the main window, and files dropped on
// it: the questions, what the progress window shows, the error boxes,
// cancelling, and the list after. What a job does with each file is the
// jobs tests' concern.
#include <QLabel>
#include <QMimeData>
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
            (std::vector<QString>{refusal, refusal, "Information [error] Error loading file bad.png!"}));
  EXPECT_EQ(shown, std::vector<QString>{"bad.png: Loading... | busy | 0/2"});
  EXPECT_NE(Item("strip.rzt2"), nullptr);
  EXPECT_TRUE(List().selectedItems().isEmpty());
  // An export onto its own picture is refused as it saves.
  Select({"strip.png"});
  prompts.exportAnswer = 2;  // png
  Click("exportButton");
  WaitUntilIdle();
  EXPECT_EQ(shown.back(), "strip.png: Saving... | busy | 0/1");
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
