// On a real X server with a window manager (real_display.sh starts both,
// and runs the viewer's and the settings dialog's tests, and "As map"'s,
// again at 1.5 times scale): the progress window is drawn while a job
// runs, and the viewer and the settings dialog open within the screen, as
// the window system shows them. Skipped on any other platform.
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QWindow>

#include "gui_fixture.h"
#include "mapfile/map_test_helpers.h"
#include "ui/converter/settings_dialog.h"
#include "ui/viewer/map_canvas.h"
#include "ui/viewer/map_viewer.h"

namespace rzt2::test {
namespace {

// Whether the rectangle of image holds more than one colour.
bool HoldsSomething(const QImage& image, const QRect& rect) {
  const QRgb first = image.pixel(rect.topLeft());
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      if (image.pixel(x, y) != first) return true;
    }
  }
  return false;
}

TEST_F(GuiTest, OnARealDisplayTheProgressWindowIsPaintedWhileAJobRuns) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs real_display.sh";
  // Seconds of work each way: 32768 frames, or a 32-megapixel PNG saved.
  Picture("big.png", 8192, 4096);
  Open([](ConverterSettings& s) { s.SetEncoder({32, 32, 0, 128, 128, 0}); });
  prompts.exportAnswer = 2;  // png
  for (const char* button : {"exportButton", "createButton"}) {
    Select({"big.png"});
    Click(button);
    // Gone if the job ended first: then the test says so rather than crash.
    const QPointer<QDialog> progress = Window().findChild<QDialog*>(QStringLiteral("progressWindow"));
    ASSERT_NE(progress, nullptr);
    auto* label = Find<QLabel>(*progress, "stepLabel");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !progress || (!label->text().isEmpty() && progress->windowHandle()->isExposed()); },
        10000));
    QTest::qWait(100);  // time for the window system to show what was drawn
    ASSERT_FALSE(progress.isNull()) << button << ": the job ended before its window was seen";
    const QImage shot = progress->screen()->grabWindow(progress->winId()).toImage();
    const qreal ratio = shot.devicePixelRatio();
    const QRect area(label->mapTo(progress, QPoint(0, 0)) * ratio, label->size() * ratio);
    EXPECT_TRUE(HoldsSomething(shot, area)) << button << ": " << label->text().toStdString();
    if (progress) Find<QPushButton>(*progress, "cancelButton")->click();
    WaitUntilIdle();
  }
}

// Its lines under the palette and the resolution make it taller.
TEST_F(GuiTest, OnARealDisplayTheSettingsDialogOpensWithinTheScreen) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs real_display.sh";
  ConverterSettings settings(StoreFile());
  SettingsDialog dialog(settings, shell, prompts);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::qWait(200);  // the window manager's frame
  EXPECT_TRUE(dialog.screen()->availableGeometry().contains(dialog.frameGeometry()))
      << dialog.frameGeometry().height();
}

TEST_F(GuiTest, OnARealDisplayTheViewerOpensWithinTheScreenAndEscapeClosesIt) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs real_display.sh";
  const ColorPalette palette = DistinctKeyPalette();
  ImageHandle picture = BlockPicture(1000, 700, palette);
  const fs::path map = dir / "map.rzt2";
  ASSERT_EQ(MapWriter::Create(Params(0), &palette, nullptr)->WriteMapFile(picture, map), Status::Ok);
  const QPointer<MapViewer> viewer = openMapViewer(map.string(), prompts);
  ASSERT_NE(viewer, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  QTest::qWait(200);  // the window manager's frame
  const QRect area = viewer->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(viewer->frameGeometry())) << viewer->frameGeometry().height();
  const QStatusBar* status = viewer->statusBar();
  EXPECT_TRUE(area.contains(QRect(status->mapToGlobal(QPoint(0, 0)), status->size())));
  QTest::keyClick(Find<MapCanvas>(*viewer, "mapCanvas"), Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.isNull(); }));
}

}  // namespace
}  // namespace rzt2::test
