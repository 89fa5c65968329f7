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

  // The step of the job, such as "a.png: Loading...".
  void setStepText(const QString& text);
  // The total bar runs from 0 to the number of files, and shows those handled.
  void setFileCount(int fileCount);
  void setFilesDone(int filesDone);
  // The bar of the current file, 0..100, redrawn at once.
  void setCurrentPercent(int percent);

  // Escape and the close box do nothing: a job cannot be cancelled.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* stepLabel_;
  QProgressBar* currentBar_;
  QProgressBar* totalBar_;
};

}  // namespace rzt2
