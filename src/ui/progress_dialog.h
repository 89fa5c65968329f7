// "Converting images": the modeless window a batch job shows while it runs.
// It has no controls the user can work; a job drives its label and bars.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace rzt2 {

class ProgressDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* parent = nullptr);

  QLabel* Label() const { return label_; }
  // Files handled so far.
  QProgressBar* TotalBar() const { return totalBar_; }
  // Progress within the current file, 0..100.
  QProgressBar* CurrentBar() const { return currentBar_; }

  // Escape and the close box do nothing: a job cannot be cancelled.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* label_;
  QProgressBar* currentBar_;
  QProgressBar* totalBar_;
};

}  // namespace rzt2
