// A folder path edit and its "..." button, drawn as one field: both sit
// inside a sunken frame with the edit's background.
#pragma once

class QAbstractButton;
class QFrame;
class QLineEdit;
class QWidget;

namespace rzt2 {

QFrame* framePathField(QLineEdit* edit, QAbstractButton* browse, QWidget* parent);

}  // namespace rzt2
