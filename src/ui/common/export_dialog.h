// "Export images": the confirmation of an export and the choice of its
// image format. The format index and the message reach the controls when
// the dialog opens and come back only when it closes with "&Yes".
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;

namespace rzt2 {

class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ExportDialog(QWidget* parent = nullptr);

  void setMessage(const QString& message) { message_ = message; }
  // An index into the format list; -1 selects nothing.
  void setFormatIndex(int index) { formatIndex_ = index; }
  int formatIndex() const { return formatIndex_; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int formatIndex_ = -1;
  QString message_;
  QLabel* messageLabel_;
  QComboBox* formatBox_;
};

}  // namespace rzt2
