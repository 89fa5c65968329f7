// Converts dialog units, the measure our window layouts are given in, into
// pixels for a font: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace rzt2 {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int baseX_;
  int baseY_;
};

// Grows a control to its contents where its rectangle is too small: the
// rectangles were laid out for a smaller font than most found here.
void GrowToContents(QWidget* control);

}  // namespace rzt2
