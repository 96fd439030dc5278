#include "GdiPaint.h"

#include <QPainter>
#include <QRectF>
#include <array>
#include <cmath>

namespace {

// The classic values of the system colours, by index (the low byte of a system colour value).
constexpr std::array<TColor, 25> kSystemColors = {
    0xC8D0D4,  //  0 scroll bar
    0xA56E3A,  //  1 background
    0x6A240A,  //  2 active caption
    0x808080,  //  3 inactive caption
    0xC8D0D4,  //  4 menu
    0xFFFFFF,  //  5 window
    0x000000,  //  6 window frame
    0x000000,  //  7 menu text
    0x000000,  //  8 window text
    0xFFFFFF,  //  9 caption text
    0xC8D0D4,  // 10 active border
    0xC8D0D4,  // 11 inactive border
    0x808080,  // 12 application workspace
    0x6A240A,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xC8D0D4,  // 15 button face
    0x808080,  // 16 button shadow
    0x808080,  // 17 grey text
    0x000000,  // 18 button text
    0xC8D0D4,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x404040,  // 21 3-D dark shadow
    0xC8D0D4,  // 22 3-D light
    0x000000,  // 23 info text
    0xE1FFFF,  // 24 info background
};

// The ellipse path inscribed in r as the window system strokes it: its extreme points lie on
// the first and last pixel rows and columns of r.
QRectF StrokeRect(const TRect& r) {
  return QRectF(r.Left, r.Top, r.Width() - 1, r.Height() - 1);
}

}  // namespace

TColor ColorToRGB(TColor color) {
  if ((color & 0x80000000u) == 0) return color & 0x00FFFFFFu;
  const TColor index = color & 0xFFu;
  return index < kSystemColors.size() ? kSystemColors[index] : clBlack;
}

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
  painter.fillRect(r.ToQRect(), color);
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
