#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>

#include "GdiPaint.h"
#include "components_support.h"

namespace components_test {
namespace {

struct ColorCase {
  const char* name;
  TColor value;
  Rgb expected;
};

TEST(ColorConversion, ValuesKeepRedInTheLowByteAndResolveSystemColours) {
  const ColorCase cases[] = {
      {"navy", clNavy, {0, 0, 128}},
      {"gold text", clGold, {208, 192, 0}},
      {"gold as the decimal the windows store", 49360, {208, 192, 0}},
      {"mixed bytes", 0x00123456, {0x56, 0x34, 0x12}},
      {"top byte of a plain value ignored", 0x01FF0000, {0, 0, 255}},
      {"window frame", clWindowFrame, {0, 0, 0}},
      {"window", clWindow, {255, 255, 255}},
      {"unknown system colour", 0x800000FF, {0, 0, 0}},
  };
  for (const ColorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const QColor q = ToQColor(c.value);
    EXPECT_EQ(Rgb(q.red(), q.green(), q.blue()), c.expected);
    EXPECT_EQ(q.alpha(), 255);
    EXPECT_EQ(FromQColor(q), MakeColor(q.red(), q.green(), q.blue()));
  }
  EXPECT_EQ(MakeColor(-5, 300, 128), 0x80FF00u);
  EXPECT_EQ(FromQColor(QColor(208, 192, 0)), clGold);
}

struct ArcCase {
  const char* name;
  TRect box;
  QPoint start;
  QPoint end;
  int start16;
  int span16;
};

TEST(ArcAngles, CounterClockwiseFromTheStartRayToTheEndRay) {
  const ArcCase cases[] = {
      {"quarter from 3 to 12 o'clock", {0, 0, 100, 100}, {100, 50}, {50, 0}, 0, 90 * 16},
      {"three quarters from 12 to 3 o'clock",
       {0, 0, 100, 100},
       {50, 0},
       {100, 50},
       90 * 16,
       270 * 16},
      {"points far outside only give directions",
       {0, 0, 100, 100},
       {1000, 50},
       {50, -900},
       0,
       90 * 16},
      {"same ray draws the whole ellipse", {0, 0, 100, 100}, {100, 50}, {200, 50}, 0, 360 * 16},
      {"lower half, crossing 0 degrees", {0, 0, 100, 100}, {0, 50}, {100, 50}, 180 * 16, 180 * 16},
      // On a wide ellipse the ray through the box's corner meets the ellipse at the point that
      // Qt places at 45 degrees.
      {"wide ellipse, corner rays", {0, 0, 200, 100}, {200, 0}, {0, 0}, 45 * 16, 90 * 16},
  };
  for (const ArcCase& c : cases) {
    SCOPED_TRACE(c.name);
    const gdi::ArcAngles a = gdi::ArcAnglesFor(c.box, c.start, c.end);
    EXPECT_EQ(a.start16, c.start16);
    EXPECT_EQ(a.span16, c.span16);
  }
}

// The arc actually drawn on a wide ellipse ends where the rays through the given points cross
// the ellipse: sample points of the ellipse just inside and just outside each end.
TEST(ArcAngles, DrawnArcEndsOnTheRaysOfAWideEllipse) {
  QImage image(201, 101, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter canvas(&image);
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setPen(QPen(Qt::white, 3));
    // From the ray through the upper-right corner to the ray through the upper-left corner.
    gdi::Arc(canvas, TRect{0, 0, 200, 100}, QPoint(200, 0), QPoint(0, 0));
  }
  // A point of the ellipse (centre 100,50; half axes 100,50) at the ray of `degrees`.
  auto on_ray = [](double degrees) {
    const double t =
        std::atan2(std::sin(degrees * M_PI / 180) / 50.0, std::cos(degrees * M_PI / 180) / 100.0);
    return QPoint(static_cast<int>(std::lround(99.5 + 99.5 * std::cos(t))),
                  static_cast<int>(std::lround(49.5 - 49.5 * std::sin(t))));
  };
  const double start = std::atan2(50.0, 100.0) * 180 / M_PI;  // the corner ray, 26.6 degrees
  struct Sample {
    double degrees;
    bool painted;
  };
  const Sample samples[] = {{start - 8, false},      {start + 8, true},        {90, true},
                            {180 - start - 8, true}, {180 - start + 8, false}, {270, false}};
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.degrees);
    const QPoint p = on_ray(s.degrees);
    EXPECT_EQ(PixelAt(image, p.x(), p.y()) == Rgb(255, 255, 255), s.painted);
  }
}

TEST(FillRect, ExcludesRightAndBottomAndIgnoresEmptyAreas) {
  QImage image(10, 10, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter canvas(&image);
  gdi::FillRect(canvas, TRect{2, 3, 5, 7}, Qt::white);
  gdi::FillRect(canvas, TRect{8, 8, 8, 10}, Qt::red);
  gdi::FillRect(canvas, TRect{9, 9, 1, 1}, Qt::red);
  canvas.end();
  EXPECT_EQ(ColorsIn(image, QRect(2, 3, 3, 4)), std::set<Rgb>{Rgb(255, 255, 255)});
  EXPECT_EQ(PixelAt(image, 5, 3), Rgb(0, 0, 0));
  EXPECT_EQ(PixelAt(image, 2, 7), Rgb(0, 0, 0));
  EXPECT_EQ(ColorsIn(image, image.rect()).count(Rgb(255, 0, 0)), 0u);
}

}  // namespace
}  // namespace components_test
