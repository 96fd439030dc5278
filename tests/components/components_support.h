// Shared helpers of the component tests: the application object, pixel reading, rendering.
#pragma once

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QString>
#include <QWidget>
#include <set>
#include <tuple>

#include "GdiPaint.h"
#include "Gradient.h"

namespace components_test {

// A pixel as (red, green, blue), so that failures print readably.
using Rgb = std::tuple<int, int, int>;

Rgb PixelAt(const QImage& image, int x, int y);
Rgb RgbOf(TColor color);
// Exclusive-or of two colours, as the gauge combines its text.
Rgb XorOf(TColor a, TColor b);
// All colours found in a rectangle of the image.
std::set<Rgb> ColorsIn(const QImage& image, const QRect& area);

// Renders a widget (shown or not) over a background of one colour.
QImage Render(QWidget& widget, TColor background = clGreen);

// Saves a picture as <build>/screenshots/components-<name>.png (or in the folder named by
// MORVANE_SCREENSHOT_DIR); returns whether it was written.
bool SaveScreenshot(const QImage& image, const QString& name);

// The bold 11-pixel font of the windows.
QFont WindowFont();

// The windows' background: navy, white, navy in one-pixel horizontal lines.
void ApplyFormGradient(TGradient& g);

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
};

}  // namespace components_test
