#include "ui/export_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "jobs/job_runner.h"
#include "ui/dialog_units.h"

namespace rzt2 {

ExportDialog::ExportDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export images"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const DialogUnits units(font());
  setFixedSize(units.Size(205, 97));

  messageLabel_ = new QLabel(this);
  messageLabel_->setGeometry(units.Rect(7, 10, 191, 19));
  messageLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  messageLabel_->setWordWrap(true);

  auto* group = new QGroupBox(QStringLiteral("Export options"), this);
  group->setGeometry(units.Rect(7, 33, 191, 35));

  auto* formatLabel = new QLabel(QStringLiteral("Select images format"), this);
  formatLabel->setGeometry(units.Rect(14, 48, 106, 11));
  GrowToContents(formatLabel);

  formatBox_ = new QComboBox(this);
  for (const char* name : kExportFormatNames) formatBox_->addItem(QString::fromLatin1(name));
  // The height is the closed box's own; the list opens below it.
  const QRect comboRect = units.Rect(129, 47, 61, 93);
  formatBox_->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(), formatBox_->sizeHint().height());
  formatLabel->setBuddy(formatBox_);

  yesButton_ = new QPushButton(QStringLiteral("&Yes"), this);
  yesButton_->setGeometry(units.Rect(48, 76, 50, 14));
  yesButton_->setDefault(true);
  noButton_ = new QPushButton(QStringLiteral("&No"), this);
  noButton_->setGeometry(units.Rect(109, 76, 50, 14));
  connect(yesButton_, &QPushButton::clicked, this, &ExportDialog::accept);
  connect(noButton_, &QPushButton::clicked, this, &ExportDialog::reject);
}

void ExportDialog::showEvent(QShowEvent* event) {
  messageLabel_->setText(message_);
  formatBox_->setCurrentIndex(formatIndex_);
  QDialog::showEvent(event);
}

void ExportDialog::accept() {
  message_ = messageLabel_->text();
  formatIndex_ = formatBox_->currentIndex();
  QDialog::accept();
}

}  // namespace rzt2
