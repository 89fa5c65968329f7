#include "ui/common/user_prompts.h"

#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <utility>

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

// A dialog that opens centred over its owner's window, wherever the window
// manager would put it, and within the owner's screen. The box takes its
// final size while it is being shown, so it is placed after that.
template <typename Dialog>
class Centred final : public Dialog {
 public:
  template <typename... Args>
  explicit Centred(QWidget* owner, Args&&... args) : Dialog(std::forward<Args>(args)..., owner) {}

 protected:
  void showEvent(QShowEvent* event) override {
    Dialog::showEvent(event);
    const QWidget* owner = this->parentWidget();
    if (!owner) return;
    const QWidget* window = owner->window();
    QRect placed(QPoint(), this->frameGeometry().size());
    placed.moveCenter(window->frameGeometry().center());
    if (const QScreen* screen = window->screen()) {
      const QRect area = screen->availableGeometry();
      placed.moveLeft(
          std::clamp(placed.left(), area.left(), std::max(area.left(), area.right() - placed.width())));
      placed.moveTop(
          std::clamp(placed.top(), area.top(), std::max(area.top(), area.bottom() - placed.height())));
    }
    this->move(placed.topLeft());
  }
};

}  // namespace

void DialogPrompts::showMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon,
                                const QString& detail) {
  Centred<QMessageBox> box(owner, boxIcon(icon), caption, text, QMessageBox::Ok);
  box.setInformativeText(detail);
  box.exec();
}

bool DialogPrompts::showJobError(QWidget* owner, const QString& text, const QString& cause,
                                 const QString& caption) {
  Centred<QMessageBox> box(owner, QMessageBox::Critical, caption, text,
                           QMessageBox::Ok | QMessageBox::Cancel);
  box.setInformativeText(cause);
  // Enter goes on, as the OK-only box did; Escape and the close box stop.
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

bool DialogPrompts::askYesNo(QWidget* owner, const QString& text, const QString& caption) {
  Centred<QMessageBox> box(owner, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<int> DialogPrompts::askExportFormat(QWidget* owner, const QString& message, int preselected) {
  Centred<ExportDialog> dialog(owner);
  dialog.setMessage(message);
  dialog.setFormatIndex(preselected);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.formatIndex();
}

ReplaceChoice DialogPrompts::askReplace(QWidget* owner, const QString& text) {
  Centred<QMessageBox> box(owner, QMessageBox::Warning, QStringLiteral("Replace file"), text,
                           QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("&Replace"));
  box.button(QMessageBox::YesToAll)->setText(QStringLiteral("Replace &all"));
  box.button(QMessageBox::No)->setText(QStringLiteral("&Skip"));
  // Nothing is replaced by a key pressed in passing.
  box.setDefaultButton(QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return ReplaceChoice::Replace;
    case QMessageBox::YesToAll:
      return ReplaceChoice::ReplaceAll;
    case QMessageBox::No:
      return ReplaceChoice::Skip;
    default:
      return ReplaceChoice::Cancel;
  }
}

}  // namespace rzt2
