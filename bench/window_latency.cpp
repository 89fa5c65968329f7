// How long the desktop program's window leaves its user waiting while a
// large picture is previewed, converted and exported. A timer on the
// window's thread ticks every 2 ms; the longest gap between two ticks is
// the longest time the window could not answer a click or repaint itself.
//   window_latency PICTURE     (bench/run-convert-bench's make_bench_picture
//                               writes one: make_bench_picture big.png 9000 7000)
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "app/main_dialog.h"
#include "support/test_support.h"
#include "ui/common/user_prompts.h"

namespace {

namespace fs = std::filesystem;

// Yes to every question, PNG for exports, replace every file; errors are
// printed.
class YesPrompts final : public rzt2::UserPrompts {
 public:
  void showMessage(QWidget*, const QString& text, const QString&, rzt2::MessageIcon,
                   const QString&) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  }
  bool showJobError(QWidget* owner, const QString& text, const QString& cause,
                    const QString& caption) override {
    showMessage(owner, text, caption, rzt2::MessageIcon::Error, cause);
    return true;
  }
  bool askYesNo(QWidget*, const QString&, const QString&) override { return true; }
  std::optional<int> askExportFormat(QWidget*, const QString&, int) override { return 2; }
  rzt2::ReplaceChoice askReplace(QWidget*, const QString&) override {
    return rzt2::ReplaceChoice::ReplaceAll;
  }
};

// Starts act from the event loop, runs the loop until done() holds, and
// prints the longest time between two ticks of a 2 ms timer meanwhile.
void Measure(const char* what, const std::function<void()>& act, const std::function<bool()>& done) {
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  QTimer ticks;
  ticks.setTimerType(Qt::PreciseTimer);
  ticks.setInterval(2);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  clock.start();
  ticks.start();
  QTimer::singleShot(0, act);
  poll.start(10);
  loop.exec();
  std::printf("%-12s longest wait for the window %7.1f ms, done after %6.2f s\n", what,
              static_cast<double>(longest) / 1e6, static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_latency PICTURE\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const rzt2::test::TempDir dir;
  const std::string name = "picture" + fs::path(argv[1]).extension().string();
  std::error_code error;
  fs::copy_file(argv[1], dir / name, error);
  if (error) {
    std::fprintf(stderr, "cannot copy %s: %s\n", argv[1], error.message().c_str());
    return 1;
  }
  const std::string store = (dir / "rzt2tool.conf").string();
  rzt2::ConverterSettings settings(store);
  settings.SrcFolder = dir.Path().string();
  settings.EnablePreview = 1;
  settings.SaveSettings();

  YesPrompts prompts;
  rzt2::MainDialog window(store, &prompts);
  window.resize(1200, 800);
  window.show();
  auto* list = window.findChild<QTreeWidget*>(QStringLiteral("fileList"));
  auto* previewTimer = window.findChild<QTimer*>(QStringLiteral("previewTimer"));
  const auto select = [&] {
    const auto items = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
    list->setCurrentItem(items.front());
  };
  const auto idle = [&] {
    return !window.findChild<QDialog*>(QStringLiteral("progressWindow")) &&
           window.cursor().shape() != Qt::BusyCursor;
  };
  const auto click = [&](const char* button) {
    window.findChild<QAbstractButton*>(QLatin1String(button))->click();
  };

  std::printf("%s\n", argv[1]);
  Measure(
      "preview",
      [&] {
        select();
        QMetaObject::invokeMethod(previewTimer, "timeout");
      },
      idle);
  Measure(
      "conversion",
      [&] {
        select();
        click("createButton");
      },
      idle);
  Measure(
      "export",
      [&] {
        select();
        click("exportButton");
      },
      idle);
  return 0;
}
