// On a real X server with a window manager (real_display.sh starts both):
// the progress window is drawn while a job runs, as the window system
// shows it. Skipped on any other platform.
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWindow>

#include "gui_fixture.h"

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
  // Seconds of work each way: 16384 frames, or a 16-megapixel PNG saved.
  Picture("big.png", 4096, 4096);
  Open([](ConverterSettings& s) { s.SetEncoder({32, 32, 0, 128, 128, 0}); });
  prompts.exportAnswer = 2;  // png
  for (const char* button : {"exportButton", "createButton"}) {
    Select({"big.png"});
    Click(button);
    auto* progress = Window().findChild<QDialog*>(QStringLiteral("progressWindow"));
    ASSERT_NE(progress, nullptr);
    auto* label = Find<QLabel>(*progress, "stepLabel");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !label->text().isEmpty() && progress->windowHandle()->isExposed(); }, 10000));
    QTest::qWait(100);  // time for the window system to show what was drawn
    const QImage shot = progress->screen()->grabWindow(progress->winId()).toImage();
    const qreal ratio = shot.devicePixelRatio();
    const QRect area(label->mapTo(progress, QPoint(0, 0)) * ratio, label->size() * ratio);
    EXPECT_TRUE(HoldsSomething(shot, area)) << button << ": " << label->text().toStdString();
    Find<QPushButton>(*progress, "cancelButton")->click();
    WaitUntilIdle();
  }
}

}  // namespace
}  // namespace rzt2::test
