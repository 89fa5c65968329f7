#include "ui/common/user_prompts.h"

#include <QMessageBox>

#include "ui/common/export_dialog.h"

namespace rzt2 {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void DialogPrompts::showMessage(QWidget* owner, const QString& text, const QString& caption,
                                MessageIcon icon) {
  QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, owner);
  box.exec();
}

bool DialogPrompts::showJobError(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok | QMessageBox::Cancel, owner);
  // Enter goes on, as the OK-only box did; Escape and the close box stop.
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

bool DialogPrompts::askYesNo(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

std::optional<int> DialogPrompts::askExportFormat(QWidget* owner, const QString& message) {
  ExportDialog dialog(owner);
  dialog.setMessage(message);
  dialog.setFormatIndex(0);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.formatIndex();
}

}  // namespace rzt2
