// Conversion and export started from the main window: the questions, the
// progress window as the job drives it, error boxes, and the list after.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "main_window_fixture.h"
#include "mapfile/map_inspector.h"
#include "mapfile/map_test_helpers.h"
#include "ui/export_dialog.h"
#include "ui/progress_dialog.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

// Hears the job after the window did, and notes what the progress window
// shows at that moment.
class JobWatch final : public JobHost {
 public:
  explicit JobWatch(MainDialog& window) : window_(window) {}

  std::vector<std::string> events;
  std::vector<std::string> labelsShown;
  std::vector<int> currentShownAtPaint;
  int totalMaximum = -1;
  int totalShownAtEnd = -1;

  void BeginJob(int fileCount) override {
    events.push_back("begin " + std::to_string(fileCount));
    ProgressDialog* shown = window_.ProgressWindow();
    if (shown && shown->isVisible() && shown->windowTitle() == "Converting images") {
      totalMaximum = shown->TotalBar()->maximum();
    }
  }
  void EndJob() override { events.push_back("end"); }
  void ShowError(const std::string& message) override { events.push_back("error " + message); }
  void SetLabel(const std::string& text) override {
    events.push_back("label " + text);
    labelsShown.push_back(Progress().Label()->text().toStdString());
  }
  void SetTotalPosition(int filesDone) override {
    events.push_back("total " + std::to_string(filesDone));
    totalShownAtEnd = Progress().TotalBar()->value();
  }
  void SetCurrentPosition(int percent) override { events.push_back("current " + std::to_string(percent)); }
  void ProcessPaintEvents() override { currentShownAtPaint.push_back(Progress().CurrentBar()->value()); }
  void Clear() {
    events.clear();
    labelsShown.clear();
    currentShownAtPaint.clear();
  }

 private:
  ProgressDialog& Progress() { return *window_.ProgressWindow(); }
  MainDialog& window_;
};

class JobsWindowTest : public MainWindowTest {
 protected:
  MainDialog& OpenWatched(const std::function<void(ConverterSettings&)>& adjust = {}) {
    MainDialog& window = Open(adjust);
    watch_ = std::make_unique<JobWatch>(window);
    window.SetJobObserver(watch_.get());
    return window;
  }
  JobWatch& Watch() { return *watch_; }
  bool IsGoodMap(const std::string& name) { return CheckMapFile(OpenMap(dir / name).get()).empty(); }

 private:
  std::unique_ptr<JobWatch> watch_;
};

TEST_F(JobsWindowTest, NothingButFoldersSelectedIsRefusedWithAMessage) {
  fs::create_directory(dir / "sub");
  WriteFileBytes(dir / "a.png", {0});
  MainDialog& window = OpenWatched();
  Select({"..", "sub"});
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  QTest::mouseClick(window.ExportButton(), Qt::LeftButton);
  const QString refusal = "Information [info] No files selected.\nPlease select at least one file!";
  EXPECT_EQ(prompts.messages, (std::vector<QString>{refusal, refusal}));
  EXPECT_TRUE(prompts.questions.empty() && prompts.exportMessages.empty());
  EXPECT_TRUE(Watch().events.empty());
}

TEST_F(JobsWindowTest, FiveFilesOfWhichTwoFail) {
  for (const char* name : {"a.png", "b.png", "c.png"}) Picture(name, 64, 64);
  WriteFileBytes(dir / "bad1.png", {1, 2, 3});
  WriteFileBytes(dir / "bad2.jpg", {0xFF, 0xD8, 0xFF, 0});
  fs::create_directory(dir / "sub");
  MainDialog& window = OpenWatched([](ConverterSettings& s) { s.EnablePreview = 1; });
  List().selectAll();
  Focus("a.png");
  ASSERT_TRUE(window.PreviewTimer().isActive());
  std::vector<bool> timerStoppedDuringErrors;
  prompts.whileShown = [&] {
    timerStoppedDuringErrors.push_back(!window.PreviewTimer().isActive() && window.ProgressWindow() &&
                                       window.ProgressWindow()->isVisible());
  };
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);

  EXPECT_EQ(prompts.questions,
            std::vector<QString>{"Start to create maps: Would you like to convert 5 file(s) "
                                 "into rzt2 format?\nIt can take several time!"});
  EXPECT_EQ(prompts.messages, (std::vector<QString>{"Information [error] Error loading file bad1.png!",
                                                    "Information [error] Error loading file bad2.jpg!"}));
  EXPECT_EQ(timerStoppedDuringErrors, (std::vector<bool>{true, true}));
  EXPECT_EQ(Watch().events.front(), "begin 5");
  EXPECT_EQ(Watch().totalMaximum, 5);
  EXPECT_EQ(Watch().totalShownAtEnd, 5);
  EXPECT_EQ(Watch().events.back(), "end");
  EXPECT_EQ(window.ProgressWindow(), nullptr);
  for (const char* name : {"a.rzt2", "b.rzt2", "c.rzt2"}) {
    EXPECT_NE(IndexOf(name), -1) << name;
    EXPECT_TRUE(IsGoodMap(name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "bad1.rzt2"));
  // The refresh after the job drops the picture and the selection.
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_TRUE(List().SelectedNames().empty());
}

TEST_F(JobsWindowTest, TheProgressWindowNamesEachStepOfAThreeFrameLevel) {
  Picture("strip.png", 480, 160);
  MainDialog& window = OpenWatched([](ConverterSettings& s) { s.ZoomLevelsMask = 0; });
  Select({"strip.png"});
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  const std::string zoom = "strip.png: Writing frames for zoom 100%...";
  EXPECT_EQ(Watch().labelsShown,
            (std::vector<std::string>{"strip.png: Loading...", "strip.rzt2: Creating preview...", zoom, zoom,
                                      zoom}));
  EXPECT_EQ(Watch().currentShownAtPaint, (std::vector<int>{33, 66, 100}));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_TRUE(IsGoodMap("strip.rzt2"));
}

TEST_F(JobsWindowTest, OutputsGoToTheDestinationFolderWhenSet) {
  Picture("chart.png", 64, 64);
  const std::string out = (dir / "out").string() + "/";
  MainDialog& window = OpenWatched([&](ConverterSettings& s) {
    s.DstFolderAsSame = 0;
    s.DstFolder = out;
  });
  Select({"chart.png"});
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages,
            std::vector<QString>{QString::fromStdString(
                "Information [error] Error while creating/saving file " + out + "chart.rzt2!")});
  fs::create_directory(dir / "out");
  Select({"chart.png"});
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  EXPECT_TRUE(IsGoodMap("out/chart.rzt2"));
  EXPECT_FALSE(fs::exists(dir / "chart.rzt2"));
}

TEST_F(JobsWindowTest, ExportSavesInTheChosenFormatAndNeverMovesTheCurrentBar) {
  Picture("photo.jpg", 64, 48, "image/jpeg");
  Picture("map.png", 200, 120);
  MainDialog& window = OpenWatched();
  Select({"map.png"});
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  ASSERT_NE(IndexOf("map.rzt2"), -1);
  fs::remove(dir / "map.png");
  window.RefreshFileList();

  Watch().Clear();
  prompts.exportAnswer = 2;  // png
  Select({"photo.jpg", "map.rzt2"});
  QTest::mouseClick(window.ExportButton(), Qt::LeftButton);
  EXPECT_EQ(prompts.exportMessages,
            std::vector<QString>{
                "Would you like to convert 2 file(s) into selected format?\nIt can take several time!"});
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(Watch().labelsShown, (std::vector<std::string>{"map.rzt2: Loading...", "map.png: Saving...",
                                                           "photo.jpg: Loading...", "photo.png: Saving..."}));
  for (const std::string& event : Watch().events) {
    EXPECT_TRUE(event.rfind("current", 0) != 0 || event == "current 0") << event;
  }
  EXPECT_TRUE(Watch().currentShownAtPaint.empty());
  // The picture rebuilt from the map's 100 % level: whole 160 x 160 frames.
  ImageHandle rebuilt = ImageHandle::FromFile(dir / "map.png");
  EXPECT_EQ(rebuilt.Width(), 320u);
  EXPECT_EQ(rebuilt.Height(), 160u);
  EXPECT_FALSE(ImageHandle::FromFile(dir / "photo.png").IsNull());
  EXPECT_NE(IndexOf("photo.png"), -1);
}

TEST_F(JobsWindowTest, DecliningLeavesTheListAsItWas) {
  Picture("a.png", 64, 64);
  MainDialog& window = OpenWatched([](ConverterSettings& s) { s.EnablePreview = 1; });
  Select({"a.png"});
  Focus("a.png");
  window.OnPreviewTimer();
  ASSERT_FALSE(window.Loader().CurrentImage().IsNull());
  Picture("late.png", 8, 8);

  prompts.answerYes = false;
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  prompts.exportAnswer.reset();
  QTest::mouseClick(window.ExportButton(), Qt::LeftButton);
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_EQ(prompts.exportMessages.size(), 1u);
  EXPECT_TRUE(Watch().events.empty());
  EXPECT_FALSE(window.Loader().CurrentImage().IsNull());
  EXPECT_EQ(IndexOf("late.png"), -1);
  EXPECT_EQ(List().SelectedNames(), std::vector<std::string>{"a.png"});
  EXPECT_FALSE(fs::exists(dir / "a.rzt2"));
}

TEST_F(JobsWindowTest, ClosingTheWindowDuringAJobTakesEffectWhenItEnds) {
  Picture("a.png", 64, 64);
  WriteFileBytes(dir / "bad.png", {1});
  MainDialog& window = OpenWatched();
  List().selectAll();
  bool visibleAfterClose = false;
  prompts.whileShown = [&] {
    window.close();
    visibleAfterClose = window.isVisible();
  };
  QTest::mouseClick(window.CreateButton(), Qt::LeftButton);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(IsGoodMap("a.rzt2"));
}

TEST(JobDialogsTest, ExportReturnsTheChoiceOnYesOnlyAndProgressCannotBeClosed) {
  ExportDialog dialog;
  dialog.SetFormatIndex(0);
  dialog.show();
  QStringList items;
  for (int i = 0; i < dialog.FormatBox()->count(); ++i) items << dialog.FormatBox()->itemText(i);
  EXPECT_EQ(items, (QStringList{"gif", "jpeg", "png", "bmp", "tiff"}));
  EXPECT_TRUE(dialog.YesButton()->isDefault());
  dialog.FormatBox()->setCurrentIndex(4);
  QTest::mouseClick(dialog.NoButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(dialog.FormatIndex(), 0);
  dialog.show();
  dialog.FormatBox()->setCurrentIndex(3);
  QTest::mouseClick(dialog.YesButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.FormatIndex(), 3);

  ProgressDialog progress;
  progress.show();
  QTest::keyClick(&progress, Qt::Key_Escape);
  progress.close();
  EXPECT_TRUE(progress.isVisible());
}

}  // namespace
}  // namespace rzt2::test
