#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>

#include "ui/dialog_units.h"

namespace rzt2 {

namespace {

QProgressBar* MakeBar(QWidget* parent, const QRect& rect) {
  auto* bar = new QProgressBar(parent);
  bar->setGeometry(rect);
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);  // a fresh bar stands at its start, not in Qt's "reset" state
  return bar;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(rect);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  GrowToContents(label);
  return label;
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Converting images"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
  setModal(false);
  const DialogUnits units(font());
  setFixedSize(units.Size(331, 86));

  MakeLabel(this, QStringLiteral("File"), units.Rect(7, 17, 35, 9));
  label_ = MakeLabel(this, QString(), units.Rect(52, 17, 272, 9));
  MakeLabel(this, QStringLiteral("Curent state"), units.Rect(7, 34, 40, 9));
  currentBar_ = MakeBar(this, units.Rect(52, 33, 272, 11));
  MakeLabel(this, QStringLiteral("Total "), units.Rect(7, 52, 41, 9));
  totalBar_ = MakeBar(this, units.Rect(52, 52, 272, 11));
}

void ProgressDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace rzt2
