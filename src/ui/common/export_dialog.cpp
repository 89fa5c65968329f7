#include "ui/common/export_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

ExportDialog::ExportDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export images"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  messageLabel_ = new QLabel(this);
  messageLabel_->setObjectName(QStringLiteral("messageLabel"));

  auto* group = new QGroupBox(QStringLiteral("Export options"), this);
  auto* formatLabel = new QLabel(QStringLiteral("Select images format"), group);
  formatBox_ = new QComboBox(group);
  formatBox_->setObjectName(QStringLiteral("formatBox"));
  for (const ImageFormat& format : kFrameFormats) {
    formatBox_->addItem(QString::fromLatin1(format.name.data(), static_cast<qsizetype>(format.name.size())));
  }
  formatLabel->setBuddy(formatBox_);
  auto* formatRow = new QHBoxLayout(group);
  formatRow->addWidget(formatLabel);
  formatRow->addStretch();
  formatRow->addWidget(formatBox_);

  auto* yes = new QPushButton(QStringLiteral("&Yes"), this);
  yes->setObjectName(QStringLiteral("yesButton"));
  yes->setDefault(true);
  auto* no = new QPushButton(QStringLiteral("&No"), this);
  no->setObjectName(QStringLiteral("noButton"));
  connect(yes, &QPushButton::clicked, this, &ExportDialog::accept);
  connect(no, &QPushButton::clicked, this, &ExportDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(yes);
  buttons->addWidget(no);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(messageLabel_);
  layout->addWidget(group);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void ExportDialog::showEvent(QShowEvent* event) {
  messageLabel_->setText(message_);
  formatBox_->setCurrentIndex(formatIndex_);
  // Sized for the message now, before the window appears cut to the last one.
  layout()->activate();
  QDialog::showEvent(event);
}

void ExportDialog::accept() {
  message_ = messageLabel_->text();
  formatIndex_ = formatBox_->currentIndex();
  QDialog::accept();
}

}  // namespace rzt2
