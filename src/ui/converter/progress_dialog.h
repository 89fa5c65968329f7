// "Converting images": the window a batch job shows while it runs, modal
// over the window that opened it. A job drives its label and bars; its
// "Cancel" button, Escape and the close box ask the job to stop, once.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace rzt2 {

class ProgressDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* parent = nullptr);

  // The step of the job, such as "a.png: Loading...". The window grows for
  // a long text up to a limit; beyond it the text loses its middle.
  void setStepText(const QString& text);
  // The total bar runs from 0 to the number of files, and shows those handled.
  void setFileCount(int fileCount);
  void setFilesDone(int filesDone);
  // The bar of the current file, 0..100.
  void setCurrentPercent(int percent);
  // The bar of the current file moves on its own, for a step that gives
  // no percentage, until it is set not busy.
  void setCurrentBusy(bool busy);

  // Escape: as "Cancel".
  void reject() override;

 signals:
  void cancelRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* stepLabel_;
  QProgressBar* currentBar_;
  QProgressBar* totalBar_;
  QPushButton* cancelButton_;
};

}  // namespace rzt2
