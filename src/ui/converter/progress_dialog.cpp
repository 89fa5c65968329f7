#include "ui/converter/progress_dialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

namespace rzt2 {

namespace {

// Room for a usual step text, and the most the window grows to for a
// longer one, in average characters.
constexpr int kStepTextChars = 60;
constexpr int kStepTextMaxChars = 110;

// A one-line label that asks for room for its whole text up to a limit
// and, when given less, leaves out the middle of it: the file's name ends
// and the step stay readable. text() is always the whole text.
class StepLabel final : public QLabel {
 public:
  using QLabel::QLabel;

  QSize minimumSizeHint() const override {
    const int chars = fontMetrics().averageCharWidth();
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int width = std::clamp(textWidth, chars * kStepTextChars, chars * kStepTextMaxChars);
    return {width + contentsMargins().left() + contentsMargins().right(), QLabel::minimumSizeHint().height()};
  }
  QSize sizeHint() const override { return minimumSizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawText(area, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
  }
};

QProgressBar* makeBar(QWidget* parent, const char* name) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QLatin1String(name));
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);  // a fresh bar stands at its start, not in Qt's "reset" state
  return bar;
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("progressWindow"));
  setWindowTitle(QStringLiteral("Converting images"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  // Clicks on the window below are refused while a job runs, not queued.
  setWindowModality(Qt::WindowModal);

  stepLabel_ = new StepLabel(this);
  stepLabel_->setObjectName(QStringLiteral("stepLabel"));
  currentBar_ = makeBar(this, "currentBar");
  totalBar_ = makeBar(this, "totalBar");
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  connect(cancelButton_, &QPushButton::clicked, this, &ProgressDialog::reject);

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("File"), this), 0, 0);
  layout->addWidget(stepLabel_, 0, 1);
  layout->addWidget(new QLabel(QStringLiteral("Curent state"), this), 1, 0);
  layout->addWidget(currentBar_, 1, 1);
  layout->addWidget(new QLabel(QStringLiteral("Total "), this), 2, 0);
  layout->addWidget(totalBar_, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancelButton_);
  layout->addLayout(buttons, 3, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  // As high as its rows; wider when a step text needs it.
  layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
}

void ProgressDialog::setStepText(const QString& text) { stepLabel_->setText(text); }

void ProgressDialog::setFileCount(int fileCount) {
  totalBar_->setRange(0, fileCount);
  totalBar_->setValue(0);
}

void ProgressDialog::setFilesDone(int filesDone) { totalBar_->setValue(filesDone); }

void ProgressDialog::setCurrentPercent(int percent) { currentBar_->setValue(percent); }

void ProgressDialog::setCurrentBusy(bool busy) {
  // A bar without a range shows that work goes on.
  currentBar_->setRange(0, busy ? 0 : 100);
}

void ProgressDialog::reject() {
  // The job stops within a frame; the window stays until it has.
  if (!cancelButton_->isEnabled()) return;
  cancelButton_->setEnabled(false);
  emit cancelRequested();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

}  // namespace rzt2
