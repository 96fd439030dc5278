#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <vector>

#include "Gradient.h"
#include "components_support.h"
#include "qt_canvas.h"

namespace components_test {
namespace {

QImage RenderGradient(int width, int height, const std::function<void(TGradient&)>& setup) {
  TDfGradient control;
  control.resize(width, height);
  setup(control.Gradient());
  return Render(control, clGreen);
}

// 161 lines, two segments of 80: the blend climbs 255/80 per line in red and green and
// 127/80 in blue, turns at line 80 one step short of white, and is held at line 160 where
// both ends of the last segment are navy. Whole numbers round half to even.
struct RowCase {
  int row;
  Rgb expected;
};

TEST(GradientLines, FormSettingsGiveTheComputedRowColoursAcrossTheWholeWidth) {
  const QImage image = RenderGradient(369, 161, ApplyFormGradient);
  const RowCase rows[] = {
      {0, {0, 0, 128}},        // navy
      {8, {26, 26, 141}},      // red 25.5 rounds to the even 26
      {24, {76, 76, 166}},     // red 76.5 rounds to the even 76
      {79, {252, 252, 253}},   // last line towards white: 79/80 of the way
      {80, {249, 249, 252}},   // first line back towards navy: 78/80
      {120, {121, 121, 188}},  // 38/80 of the way
      {159, {0, 0, 126}},      // one step past navy, red clamped to 0
      {160, {0, 0, 126}},      // the colour stays
  };
  for (const RowCase& r : rows) {
    SCOPED_TRACE(r.row);
    // Every line covers the tiled strips from the left edge to the right edge.
    EXPECT_EQ(ColorsIn(image, QRect(0, r.row, 369, 1)), std::set<Rgb>{r.expected});
  }
}

TEST(GradientLines, VerticalDirectionBlendsFromLeftToRight) {
  const QImage image = RenderGradient(161, 40, [](TGradient& g) {
    ApplyFormGradient(g);
    g.SetLineDirection(diVertical);
  });
  const RowCase columns[] = {
      {0, {0, 0, 128}}, {79, {252, 252, 253}}, {80, {249, 249, 252}}, {160, {0, 0, 126}}};
  for (const RowCase& c : columns) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(ColorsIn(image, QRect(c.row, 0, 1, 40)), std::set<Rgb>{c.expected});
  }
}

TEST(GradientLines, LineSizeBelowOneDrawsOnePixelLines) {
  const QImage reference = RenderGradient(50, 161, ApplyFormGradient);
  for (int line_size : {0, -1, -40}) {
    SCOPED_TRACE(line_size);
    const QImage image = RenderGradient(50, 161, [line_size](TGradient& g) {
      ApplyFormGradient(g);
      g.SetLineSize(line_size);
    });
    EXPECT_EQ(image, reference);
  }
}

TEST(GradientLines, ThickLinesHoldOneColourAndStepByTheirSize) {
  const QImage image = RenderGradient(20, 161, [](TGradient& g) {
    ApplyFormGradient(g);
    g.SetLineSize(4);
  });
  EXPECT_EQ(ColorsIn(image, QRect(0, 0, 20, 4)), std::set<Rgb>{Rgb(0, 0, 128)});
  // 4 × 255/80 = 12.75 and 128 + 4 × 127/80 = 134.35.
  EXPECT_EQ(ColorsIn(image, QRect(0, 4, 20, 4)), std::set<Rgb>{Rgb(13, 13, 134)});
}

TEST(GradientLines, OneColourCountPaintsColorOneEverywhere) {
  for (TDirection direction : {diHorizonal, diVertical}) {
    SCOPED_TRACE(direction);
    const QImage image = RenderGradient(60, 90, [direction](TGradient& g) {
      ApplyFormGradient(g);
      g.SetColorCount(1);
      g.SetLineDirection(direction);
    });
    EXPECT_EQ(ColorsIn(image, image.rect()), std::set<Rgb>{Rgb(0, 0, 128)});
  }
}

// An area thinner than the number of segments has segments of length 0: the first colour is
// painted rather than a blend divided by zero.
struct ZeroSegmentCase {
  const char* name;
  int width;
  int height;
  int color_count;
  TDirection direction;
};

TEST(GradientLines, SegmentsOfLengthZeroPaintTheFromColour) {
  const ZeroSegmentCase cases[] = {
      {"one line, two segments", 369, 1, 2, diHorizonal},
      {"three lines, four segments", 30, 3, 4, diHorizonal},
      {"two columns, three segments", 2, 40, 3, diVertical},
  };
  for (const ZeroSegmentCase& c : cases) {
    SCOPED_TRACE(c.name);
    const QImage image = RenderGradient(c.width, c.height, [&c](TGradient& g) {
      ApplyFormGradient(g);
      g.SetColor1(clMaroon);
      g.SetColorCount(c.color_count);
      g.SetLineDirection(c.direction);
    });
    EXPECT_EQ(ColorsIn(image, image.rect()), std::set<Rgb>{RgbOf(clMaroon)});
  }
}

TEST(GradientLines, FillLinesWithoutAColourCountTakesThreeSegments) {
  // Four stops over 3 segments of 10 lines: line 10 starts the second segment.
  const std::array<TColor, 5> stops{clBlack, clWhite, clBlack, clWhite, clBlack};
  for (int count : {0, -2}) {
    SCOPED_TRACE(count);
    QImage image(4, 30, QImage::Format_RGB32);
    image.fill(Qt::green);
    {
      QtCanvas canvas(image);
      FillLines(canvas, TRect{0, 0, 4, 30}, stops, 1, diHorizonal, count);
    }
    EXPECT_EQ(PixelAt(image, 0, 0), Rgb(0, 0, 0));
    EXPECT_EQ(PixelAt(image, 0, 9), Rgb(230, 230, 230));   // 9 × 25.5 = 229.5, rounds to 230
    EXPECT_EQ(PixelAt(image, 0, 10), Rgb(204, 204, 204));  // 8 × 25.5
    // Line 19 overshoots black by one step (clamped); the third segment starts from there.
    EXPECT_EQ(PixelAt(image, 0, 20), Rgb(0, 0, 0));
    EXPECT_EQ(PixelAt(image, 0, 21), Rgb(26, 26, 26));  // 25.5 rounds to the even 26
  }
}

TEST(GradientLines, TileBitmapCoversTheAreaAndCutsTheLastCopies) {
  QImage tile(3, 2, QImage::Format_RGB32);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) tile.setPixel(x, y, qRgb(x * 10, y * 10, 1));
  }
  QtCanvas tile_canvas(tile);
  QImage image(8, 5, QImage::Format_RGB32);
  image.fill(Qt::green);
  {
    QtCanvas canvas(image);
    TileBitmap(canvas, TRect{0, 0, 7, 5}, tile_canvas);
  }
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      SCOPED_TRACE(x * 100 + y);
      EXPECT_EQ(PixelAt(image, x, y), Rgb((x % 3) * 10, (y % 2) * 10, 1));
    }
    EXPECT_EQ(PixelAt(image, 7, y), Rgb(0, 255, 0));  // outside the area
  }

  // An area away from the left edge: every row starts at its left edge, nothing left of it.
  image.fill(Qt::green);
  {
    QtCanvas canvas(image);
    TileBitmap(canvas, TRect{2, 1, 8, 5}, tile_canvas);
  }
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(x * 100 + y);
      const bool inside = x >= 2 && y >= 1;
      EXPECT_EQ(PixelAt(image, x, y),
                inside ? Rgb(((x - 2) % 3) * 10, ((y - 1) % 2) * 10, 1) : Rgb(0, 255, 0));
    }
  }
}

TEST(GradientNested, RectanglesStepInwardsFromTheTopLeft) {
  // 40 × 40, two segments: S = (40 div 2) div 2 = 10; black to white in 10 steps of 25.5.
  const QImage image = RenderGradient(40, 40, [](TGradient& g) {
    g.SetGradientStyle(gsRect);
    g.SetLineSize(1);
    g.SetColor1(clBlack);
    g.SetColor2(clWhite);
    g.SetColor3(clBlack);
    g.SetColorCount(2);
  });
  const RowCase steps[] = {{0, {0, 0, 0}}, {5, {128, 128, 128}}, {9, {230, 230, 230}}};
  for (const RowCase& s : steps) {
    SCOPED_TRACE(s.row);
    // The step's rectangle keeps the lower-right corner: its top-left pixel shows its colour.
    EXPECT_EQ(PixelAt(image, s.row, s.row), s.expected);
    EXPECT_EQ(PixelAt(image, s.row, 39), s.expected);
  }
}

TEST(GradientNested, EllipsesLeaveTheCornersInTheControlColour) {
  TDfGradient control;
  control.resize(60, 40);
  control.SetColor(clMaroon);
  control.Gradient().SetGradientStyle(gsEllipse);
  const QImage image = Render(control);
  EXPECT_EQ(PixelAt(image, 0, 0), RgbOf(clMaroon));
  EXPECT_EQ(PixelAt(image, 59, 39), RgbOf(clMaroon));
  EXPECT_NE(PixelAt(image, 30, 20), RgbOf(clMaroon));
}

TEST(GradientNested, LineSizeBelowOneStillEnds) {
  for (TGradientStyle style : {gsEllipse, gsRect, gsCustomRect}) {
    for (int line_size : {0, -5}) {
      SCOPED_TRACE(style * 100 + line_size);
      const QImage image = RenderGradient(30, 20, [style, line_size](TGradient& g) {
        g.SetGradientStyle(style);
        g.SetLineSize(line_size);
      });
      EXPECT_EQ(image.size(), QSize(30, 20));
    }
  }
}

TEST(GradientNested, CustomStyleHandsEveryStepToTheHandler) {
  TDfGradient control;
  control.resize(30, 20);
  std::vector<TRect> rects;
  TGradient& g = control.Gradient();
  g.SetLineSize(3);
  g.OnDrawRect = [&rects](TGradient* sender, Canvas& canvas, const TRect& r) {
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(dynamic_cast<QtCanvas&>(canvas).Painter().pen().style(), Qt::NoPen);
    rects.push_back(r);
  };
  g.SetGradientStyle(gsCustomRect);
  // x and y step by 3 while y < 20 div 2.
  const std::vector<TRect> expected{{0, 0, 30, 20}, {3, 3, 30, 20}, {6, 6, 30, 20}, {9, 9, 30, 20}};
  EXPECT_EQ(rects, expected);

  // Without a handler the steps are drawn as rectangles.
  const QImage as_rect = RenderGradient(30, 20, [](TGradient& r) {
    r.SetLineSize(3);
    r.SetGradientStyle(gsRect);
  });
  const QImage as_custom = RenderGradient(30, 20, [](TGradient& r) {
    r.SetLineSize(3);
    r.SetGradientStyle(gsCustomRect);
  });
  EXPECT_EQ(as_custom, as_rect);
}

// -- settings object and control ----------------------------------------------------------

struct ChangeCase {
  const char* name;
  std::function<void(TGradient&)> act;
  int changes;
};

TEST(GradientSettings, OnChangeFiresOnlyForRealChanges) {
  const TGradient defaults;
  const ChangeCase cases[] = {
      {"style changed", [](TGradient& g) { g.SetGradientStyle(gsRect); }, 1},
      {"style unchanged", [](TGradient& g) { g.SetGradientStyle(gsLine); }, 0},
      {"line size changed", [](TGradient& g) { g.SetLineSize(1); }, 1},
      {"line size unchanged", [](TGradient& g) { g.SetLineSize(3); }, 0},
      {"colour 3 changed", [](TGradient& g) { g.SetColor3(clNavy); }, 1},
      {"colour 1 unchanged", [](TGradient& g) { g.SetColor1(clGray); }, 0},
      {"colour count changed", [](TGradient& g) { g.SetColorCount(2); }, 1},
      {"colour count unchanged", [](TGradient& g) { g.SetColorCount(3); }, 0},
      {"colour count beyond 4 is 4", [](TGradient& g) { g.SetColorCount(9); }, 1},
      {"direction changed", [](TGradient& g) { g.SetLineDirection(diVertical); }, 1},
      {"assign fires once",
       [](TGradient& g) {
         TGradient other;
         ApplyFormGradient(other);
         g.Assign(other);
       },
       1},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TGradient g;
    int changes = 0;
    g.OnChange = [&changes, &g](TGradient* sender) {
      EXPECT_EQ(sender, &g);
      ++changes;
    };
    c.act(g);
    EXPECT_EQ(changes, c.changes);
  }
  EXPECT_EQ(defaults.Colors(),
            (std::array<TColor, 5>{clGray, clWhite, clSilver, clWhite, clBlack}));
  EXPECT_EQ(defaults.ColorCount(), 3);
  EXPECT_EQ(defaults.LineSize(), 3);
}

TEST(GradientSettings, AssignCopiesTheLookButNotTheEvents) {
  TGradient source;
  ApplyFormGradient(source);
  int source_changes = 0;
  source.OnChange = [&source_changes](TGradient*) { ++source_changes; };
  source.OnDrawRect = [](TGradient*, Canvas&, const TRect&) {};

  TDfGradient control;
  TGradient* own = &control.Gradient();
  control.SetGradient(source);
  EXPECT_EQ(&control.Gradient(), own);
  EXPECT_EQ(own->Colors(), source.Colors());
  EXPECT_EQ(own->ColorCount(), 2);
  EXPECT_EQ(own->LineSize(), 1);
  EXPECT_FALSE(own->OnDrawRect);
  EXPECT_EQ(source_changes, 0);
  // The control still hears its own object: the picture was rebuilt for the new look.
  ASSERT_FALSE(control.Bitmap().isNull());
  EXPECT_EQ(PixelAt(control.Bitmap(), 0, 0), Rgb(0, 0, 128));
}

TEST(GradientControl, NewControlKeepsItsDefaultsWithoutBuildingThePicture) {
  TDfGradient control;
  EXPECT_EQ(control.size(), QSize(144, 144));
  EXPECT_EQ(control.Gradient().LineSize(), 2);
  EXPECT_EQ(control.Gradient().ColorCount(), 4);
  EXPECT_EQ(control.Gradient().Colors(),
            (std::array<TColor, 5>{clBlack, clWhite, clBlack, clWhite, clBlack}));
  EXPECT_TRUE(control.Bitmap().isNull());
}

TEST(GradientControl, PictureIsRebuiltOnChangesOnlyAndRepaintedOnlyThen) {
  QWidget window;
  window.resize(200, 200);
  auto* control = new TDfGradient(&window);
  control->setGeometry(2, 16, 100, 60);
  ApplyFormGradient(control->Gradient());
  window.show();
  QCoreApplication::processEvents();
  PaintCounter paints(control);

  struct Step {
    const char* name;
    std::function<void()> act;
    bool rebuilt;
  };
  const Step steps[] = {
      {"same line size", [&] { control->Gradient().SetLineSize(1); }, false},
      {"same colour", [&] { control->Gradient().SetColor2(clWhite); }, false},
      {"same control colour", [&] { control->SetColor(control->Color()); }, false},
      {"new colour", [&] { control->Gradient().SetColor2(clSilver); }, true},
      {"new control colour", [&] { control->SetColor(clMaroon); }, true},
      {"new size, at the next paint", [&] { control->resize(120, 60); }, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const qint64 before = control->Bitmap().cacheKey();
    paints.count = 0;
    s.act();
    QCoreApplication::processEvents();
    EXPECT_EQ(control->Bitmap().cacheKey() != before, s.rebuilt);
    EXPECT_EQ(paints.count > 0, s.rebuilt);
  }
  EXPECT_EQ(control->Bitmap().size(), QSize(120, 60));
}

TEST(GradientControl, ZeroSizedControlPaintsNothing) {
  for (QSize size : {QSize(0, 50), QSize(50, 0)}) {
    TDfGradient control;
    control.resize(size);
    ApplyFormGradient(control.Gradient());
    EXPECT_TRUE(control.Bitmap().isNull());
    QImage canvas(10, 10, QImage::Format_RGB32);
    canvas.fill(Qt::green);
    control.render(&canvas);
    EXPECT_EQ(ColorsIn(canvas, canvas.rect()), std::set<Rgb>{Rgb(0, 255, 0)});
  }
  // Drawn directly, an area ending at 0 draws nothing either.
  TGradient g;
  QImage image(10, 10, QImage::Format_RGB32);
  image.fill(Qt::green);
  {
    QtCanvas canvas(image);
    DrawGradient(canvas, TRect{0, 0, 10, 0}, g);
    DrawGradient(canvas, TRect{0, 0, 0, 10}, g);
  }
  EXPECT_EQ(ColorsIn(image, image.rect()), std::set<Rgb>{Rgb(0, 255, 0)});
}

TEST(GradientControl, ClientAlignmentFollowsTheParent) {
  QWidget dialog;
  dialog.resize(416, 132);
  auto* control = new TDfGradient(&dialog);
  control->SetAlign(alClient);
  dialog.show();
  EXPECT_EQ(control->geometry(), QRect(0, 0, 416, 132));
  dialog.resize(300, 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(control->geometry(), QRect(0, 0, 300, 100));
}

}  // namespace
}  // namespace components_test
