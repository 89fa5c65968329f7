// The About box: the program's name, icon, version and purpose; OK closes it.
#pragma once

#include <QDialog>

namespace rzt2 {

class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace rzt2
