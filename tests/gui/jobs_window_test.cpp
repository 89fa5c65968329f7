// Conversion and export started from the main window: the questions, what
// the progress window shows while the job runs, the error boxes, and the
// list after. What a job does with each file is the jobs tests' concern.
#include <QLabel>
#include <QProgressBar>

#include "gui_fixture.h"
#include "ui/export_dialog.h"
#include "ui/progress_dialog.h"

namespace rzt2::test {
namespace {

// "step | current% | done/files" of the open progress window, or "none".
QString ProgressShown(const QWidget& window) {
  const auto* progress = window.findChild<QDialog*>(QStringLiteral("progressWindow"));
  if (progress == nullptr || !progress->isVisible()) return QStringLiteral("none");
  const auto* total = GuiTest::Find<QProgressBar>(*progress, "totalBar");
  return QStringLiteral("%1 | %2% | %3/%4")
      .arg(GuiTest::Find<QLabel>(*progress, "stepLabel")->text())
      .arg(GuiTest::Find<QProgressBar>(*progress, "currentBar")->value())
      .arg(total->value())
      .arg(total->maximum());
}

TEST_F(GuiTest, AConversionShowsEachStepAndEachFailureThenListsTheNewFile) {
  Picture("strip.png", 480, 160);  // three frames at 100 %
  WriteFileBytes(dir / "bad.png", {1, 2, 3});
  Open([](ConverterSettings& s) {
    s.EnablePreview = 1;
    s.ZoomLevelsMask = 0;
  });
  List().selectAll();
  Focus("strip.png");
  // Noted at each error box, and whenever the job lets events through.
  std::vector<QString> shown;
  const auto note = [&] {
    if (shown.empty() || shown.back() != ProgressShown(Window())) shown.push_back(ProgressShown(Window()));
  };
  prompts.whileShown = [&] {
    EXPECT_FALSE(Find<QTimer>("previewTimer")->isActive());
    note();
  };
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, note);
  sampler.start(0);
  Click("createButton");
  sampler.stop();
  EXPECT_EQ(prompts.questions,
            std::vector<QString>{"Start to create maps: Would you like to convert 2 file(s) "
                                 "into rzt2 format?\nIt can take several time!"});
  EXPECT_EQ(prompts.messages, std::vector<QString>{"Information [error] Error loading file bad.png!"});
  const QString zoom = "strip.png: Writing frames for zoom 100%...";
  EXPECT_EQ(shown,
            (std::vector<QString>{" | 0% | 0/2", "bad.png: Loading... | 0% | 0/2", zoom + " | 33% | 1/2",
                                  zoom + " | 66% | 1/2", zoom + " | 100% | 1/2"}));
  EXPECT_EQ(ProgressShown(Window()), "none");
  EXPECT_NE(Item("strip.rzt2"), nullptr);
  EXPECT_TRUE(List().selectedItems().isEmpty());
}

TEST_F(GuiTest, AnExportAsksForItsFormatAndWritesIntoTheDestinationFolder) {
  Picture("photo.png", 32, 24);
  fs::create_directory(dir / "out");
  Open([](ConverterSettings& s) {
    s.DstFolderAsSame = 0;
    s.DstFolder = "out/";  // relative: in the source folder
  });
  prompts.exportAnswer = 3;  // bmp
  Select({"photo.png"});
  Click("exportButton");
  EXPECT_EQ(prompts.questions,
            std::vector<QString>{"Export: Would you like to convert 1 file(s) into selected "
                                 "format?\nIt can take several time!"});
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_FALSE(ImageHandle::FromFile(dir / "out" / "photo.bmp").IsNull());
}

TEST_F(GuiTest, NoFilesSelectedIsRefusedAndDecliningLeavesTheWindowAsItWas) {
  Picture("a.png", 8, 8, Qt::red);
  Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  Select({"..", "a.png"});
  fs::remove(dir / "a.png");  // a vanished file counts as none
  Click("createButton");
  Click("exportButton");
  const QString refusal = "Information [info] No files selected.\nPlease select at least one file!";
  EXPECT_EQ(prompts.messages, (std::vector<QString>{refusal, refusal}));
  EXPECT_TRUE(prompts.questions.empty());

  Picture("a.png", 8, 8, Qt::red);
  Focus("a.png");
  QMetaObject::invokeMethod(Find<QTimer>("previewTimer"), "timeout");
  Touch("late.png");
  prompts.answerYes = false;
  prompts.exportAnswer.reset();
  Click("createButton");
  Click("exportButton");
  EXPECT_EQ(prompts.questions.size(), 2u);
  EXPECT_EQ(Item("late.png"), nullptr);  // no refresh
  EXPECT_EQ(List().selectedItems().size(), 2);
  EXPECT_EQ(PaneCentre(), QColor(Qt::red));
}

TEST_F(GuiTest, ClosingTheWindowDuringAJobTakesEffectWhenItEnds) {
  Picture("a.png", 64, 64);
  WriteFileBytes(dir / "bad.png", {1});
  Open();
  List().selectAll();
  bool visibleAfterClose = false;
  prompts.whileShown = [&] {
    Window().close();
    visibleAfterClose = Window().isVisible();
  };
  Click("createButton");
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_FALSE(Window().isVisible());
  EXPECT_TRUE(fs::exists(dir / "a.rzt2"));
}

TEST(JobDialogsTest, ExportReturnsTheChoiceOnYesOnlyAndProgressCannotBeClosed) {
  ExportDialog dialog;
  dialog.setFormatIndex(0);
  auto* formats = GuiTest::Find<QComboBox>(dialog, "formatBox");
  EXPECT_TRUE(GuiTest::Find<QPushButton>(dialog, "yesButton")->isDefault());
  // Chosen, then closed with: the index returned.
  for (const auto& [choice, button, result] : {std::tuple{4, "noButton", 0}, {3, "yesButton", 3}}) {
    dialog.show();
    EXPECT_EQ(formats->currentText(), "gif");
    formats->setCurrentIndex(choice);
    GuiTest::Find<QPushButton>(dialog, button)->click();
    EXPECT_EQ(dialog.formatIndex(), result);
  }
  QStringList items;
  for (int i = 0; i < formats->count(); ++i) items << formats->itemText(i);
  EXPECT_EQ(items, (QStringList{"gif", "jpeg", "png", "bmp", "tiff"}));

  ProgressDialog progress;
  progress.show();
  QTest::keyClick(&progress, Qt::Key_Escape);
  progress.close();
  EXPECT_TRUE(progress.isVisible());
}

}  // namespace
}  // namespace rzt2::test
