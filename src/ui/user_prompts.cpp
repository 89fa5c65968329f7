#include "ui/user_prompts.h"

#include <QMessageBox>

#include "ui/export_dialog.h"

namespace rzt2 {

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void DialogPrompts::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                MessageIcon icon) {
  QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::Ok, owner);
  box.exec();
}

bool DialogPrompts::AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

std::optional<int> DialogPrompts::AskExportFormat(QWidget* owner, const QString& message) {
  ExportDialog dialog(owner);
  dialog.SetMessage(message);
  dialog.SetFormatIndex(0);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.FormatIndex();
}

}  // namespace rzt2
