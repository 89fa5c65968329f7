#include "ui/converter/path_field.h"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>

namespace rzt2 {

QFrame* framePathField(QLineEdit* edit, QAbstractButton* browse, QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  frame->setBackgroundRole(QPalette::Base);
  frame->setAutoFillBackground(true);
  edit->setFrame(false);
  auto* row = new QHBoxLayout(frame);
  row->setContentsMargins(0, 0, 1, 0);
  row->setSpacing(0);
  row->addWidget(edit, 1);
  row->addWidget(browse);
  return frame;
}

}  // namespace rzt2
