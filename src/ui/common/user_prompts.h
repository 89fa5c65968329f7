// The questions and messages the desktop program puts to the user, behind
// one interface so that tests answer them without modal windows. Each box
// opens centred over its owner's window.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace rzt2 {

enum class MessageIcon { Information, Warning, Error };

// The answers to a file that would be replaced.
enum class ReplaceChoice { Replace, ReplaceAll, Skip, Cancel };

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // A message with an OK button, and detail (why, when not empty) beneath
  // it; returns when it is closed.
  virtual void showMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon,
                           const QString& detail) = 0;
  // A file of a job failed: the message with its cause beneath, OK, which
  // goes on with the job, and Cancel, which stops it; true for OK.
  virtual bool showJobError(QWidget* owner, const QString& text, const QString& cause,
                            const QString& caption) = 0;
  // A question with Yes and No buttons; true for Yes.
  virtual bool askYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
  // The export dialog showing message with the format of that index
  // preselected: the chosen format index, or nothing when it is not closed
  // with "&Yes".
  virtual std::optional<int> askExportFormat(QWidget* owner, const QString& message, int preselected) = 0;
  // An output exists: replace it, and every other of the job, skip it, or
  // stop the job.
  virtual ReplaceChoice askReplace(QWidget* owner, const QString& text) = 0;
};

// Modal message boxes and the export dialog.
class DialogPrompts final : public UserPrompts {
 public:
  void showMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon,
                   const QString& detail) override;
  bool showJobError(QWidget* owner, const QString& text, const QString& cause,
                    const QString& caption) override;
  bool askYesNo(QWidget* owner, const QString& text, const QString& caption) override;
  std::optional<int> askExportFormat(QWidget* owner, const QString& message, int preselected) override;
  ReplaceChoice askReplace(QWidget* owner, const QString& text) override;
};

}  // namespace rzt2
