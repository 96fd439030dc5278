// The drawing calls of the window system the components were first drawn for, painted with
// QPainter (the primitives of QtCanvas).
//
//   TColor navy = clNavy;                        // 0x00BBGGRR: red in the low byte
//   QColor q = ToQColor(navy);                   // QColor(0, 0, 128)
//   TRect r{0, 0, 369, 161};                     // right and bottom are exclusive
//   gdi::FillRect(painter, r, ToQColor(navy));
//   gdi::Arc(painter, r, start, end);            // counter-clockwise from start to end
//
// Painters handed to these helpers should have antialiasing off, so that results are exact.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>

#include "gdi_types.h"

class QPainter;

// The opaque QColor of a colour value (system colours resolved).
QColor ToQColor(TColor color);
// The colour value of a QColor (alpha ignored).
TColor FromQColor(const QColor& color);

// The same area as a QRect (empty when right or bottom do not exceed left or top).
inline QRect ToQRect(const TRect& r) {
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}
inline QPoint ToQPoint(TPoint p) {
  return QPoint(p.X, p.Y);
}

namespace gdi {

// Fills the area of r (right and bottom excluded) with a colour, ignoring the painter's pen.
void FillRect(QPainter& painter, const TRect& r, const QColor& color);

// Fills the ellipse inscribed in r with the painter's current brush and no outline.
void FillEllipse(QPainter& painter, const TRect& r);

// Qt arc angles (in 1/16 degree) of the arc on the ellipse bounded by r that runs
// counter-clockwise from the ray through `start` to the ray through `end`, both rays from the
// ellipse's centre. Equal rays give the whole ellipse.
struct ArcAngles {
  int start16 = 0;
  int span16 = 0;
};
ArcAngles ArcAnglesFor(const TRect& r, QPoint start, QPoint end);

// Draws that arc with the painter's current pen.
void Arc(QPainter& painter, const TRect& r, QPoint start, QPoint end);

}  // namespace gdi
