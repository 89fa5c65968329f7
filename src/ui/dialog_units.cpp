#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <QWidget>

namespace rzt2 {

namespace {

// a * b / c rounded to the nearest whole number, as dialog layouts do.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width is taken over the Latin letters, rounded up at half.
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (letters / 26 + 1) / 2;
  baseY_ = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, baseX_, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, baseY_, 8); }

// Both corners are converted, so adjacent controls meet without rounding gaps.
QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(x + width) - X(x), Y(y + height) - Y(y));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

void GrowToContents(QWidget* control) { control->resize(control->size().expandedTo(control->sizeHint())); }

}  // namespace rzt2
