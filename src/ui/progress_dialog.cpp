#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

namespace rzt2 {

namespace {

// Room for a usual step text before the window has to grow.
constexpr int kStepTextChars = 60;

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
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
  setModal(false);

  stepLabel_ = new QLabel(this);
  stepLabel_->setObjectName(QStringLiteral("stepLabel"));
  stepLabel_->setMinimumWidth(fontMetrics().averageCharWidth() * kStepTextChars);
  currentBar_ = makeBar(this, "currentBar");
  totalBar_ = makeBar(this, "totalBar");

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("File"), this), 0, 0);
  layout->addWidget(stepLabel_, 0, 1);
  layout->addWidget(new QLabel(QStringLiteral("Curent state"), this), 1, 0);
  layout->addWidget(currentBar_, 1, 1);
  layout->addWidget(new QLabel(QStringLiteral("Total "), this), 2, 0);
  layout->addWidget(totalBar_, 2, 1);
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

void ProgressDialog::setCurrentPercent(int percent) {
  currentBar_->setValue(percent);
  currentBar_->repaint();
}

void ProgressDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace rzt2
