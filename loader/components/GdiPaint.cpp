#include "GdiPaint.h"

#include <QPainter>
#include <QRectF>
#include <cmath>

namespace {

// The ellipse path inscribed in r as the window system strokes it: its extreme points lie on
// the first and last pixel rows and columns of r.
QRectF StrokeRect(const TRect& r) {
  return QRectF(r.Left, r.Top, r.Width() - 1, r.Height() - 1);
}

}  // namespace

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

TColor FromQColor(const QColor& color) {
  return MakeColor(color.red(), color.green(), color.blue());
}

namespace gdi {

void FillRect(QPainter& painter, const TRect& r, const QColor& color) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  painter.fillRect(ToQRect(r), color);
}

void FillEllipse(QPainter& painter, const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(StrokeRect(r));
  painter.restore();
}

ArcAngles ArcAnglesFor(const TRect& r, QPoint start, QPoint end) {
  // The window system measures the rays from the centre of the bounding box; Qt measures arc
  // angles on the circle that the ellipse is stretched from, so each ray is mapped back onto
  // that circle by undoing the stretch before taking its angle. Screen y grows downwards while
  // the angles grow counter-clockwise.
  const double cx = (r.Left + r.Right) / 2.0;
  const double cy = (r.Top + r.Bottom) / 2.0;
  const double a = r.Width() > 0 ? r.Width() / 2.0 : 1.0;
  const double b = r.Height() > 0 ? r.Height() / 2.0 : 1.0;
  auto angle16 = [&](QPoint p) {
    const double deg = std::atan2(-(p.y() - cy) / b, (p.x() - cx) / a) * 180.0 / M_PI;
    return static_cast<int>(std::lround(deg * 16.0));
  };
  constexpr int kFull = 360 * 16;
  const int from = ((angle16(start) % kFull) + kFull) % kFull;
  const int to = angle16(end);
  int span = (to - from) % kFull;
  if (span <= 0) span += kFull;
  return ArcAngles{from, span};
}

void Arc(QPainter& painter, const TRect& r, QPoint start, QPoint end) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const ArcAngles angles = ArcAnglesFor(r, start, end);
  painter.save();
  painter.setBrush(Qt::NoBrush);
  painter.drawArc(StrokeRect(r), angles.start16, angles.span16);
  painter.restore();
}

}  // namespace gdi
