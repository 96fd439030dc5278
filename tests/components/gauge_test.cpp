#include <gtest/gtest.h>

#include <QCoreApplication>
#include <climits>
#include <string>

#include "Gauges.h"
#include "components_support.h"

namespace components_test {
namespace {

// The main window's gauge: 273 × 13, no border, gold on navy, the window's font.
void ApplyFormSettings(TGauge& g) {
  g.resize(273, 13);
  g.SetBorderStyle(bsNone);
  g.SetForeColor(clGold);
  g.SetBackColor(clNavy);
  g.SetFont(WindowFont());
}

std::set<Rgb> Without(std::set<Rgb> colors, const Rgb& removed) {
  colors.erase(removed);
  return colors;
}

struct PercentCase {
  int min;
  int max;
  int progress;
  int stored;
  int percent;
};

TEST(GaugeValues, ProgressIsClampedAndGivesTheWholePercentage) {
  const PercentCase cases[] = {
      {0, 100, 42, 42, 42},
      {0, 100, -5, 0, 0},
      {0, 100, 250, 100, 100},
      {0, 3, 1, 1, 33},
      {0, 3, 2, 2, 66},
      {-50, 50, 0, 0, 50},
      {10, 10, 99, 10, 0},  // an empty range shows 0 %
      {0, 1401, 1400, 1400, 99},
      // Ranges where Progress × 100 no longer fits in 32 bits.
      {-2000000000, 2000000000, 0, 0, 50},
      {0, INT_MAX, INT_MAX, INT_MAX, 100},
      {INT_MIN, INT_MAX, INT_MAX - 1, INT_MAX - 1, 99},
  };
  for (const PercentCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.min) + ".." + std::to_string(c.max) + " @" +
                 std::to_string(c.progress));
    TGauge g;
    g.SetMaxValue(c.max);  // raise the top first so that any minimum is accepted
    g.SetMinValue(c.min);
    g.SetMaxValue(c.max);
    g.SetProgress(c.progress);
    EXPECT_EQ(g.Progress(), c.stored);
    EXPECT_EQ(g.PercentDone(), c.percent);
  }
}

struct RangeErrorCase {
  const char* name;
  bool set_min;
  int value;
  const char* message;
};

TEST(GaugeValues, CrossingTheOtherEndIsRefusedAndChangesNothing) {
  const RangeErrorCase cases[] = {
      {"maximum below minimum", false, -1, "Wert muß zwischen 11 und 2147483647 liegen"},
      {"minimum above maximum", true, 101, "Wert muß zwischen -2147483647 und 99 liegen"},
  };
  for (const RangeErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    TGauge g;
    g.SetMinValue(10);
    g.SetProgress(50);
    try {
      if (c.set_min) {
        g.SetMinValue(c.value);
      } else {
        g.SetMaxValue(c.value);
      }
      ADD_FAILURE() << "no error";
    } catch (const EInvalidOperation& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(g.MinValue(), 10);
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 50);
  }
}

TEST(GaugeValues, NewEndsPullProgressAlongAndLoadingSkipsTheCheck) {
  TGauge g;
  g.SetProgress(50);
  g.SetMinValue(60);
  EXPECT_EQ(g.Progress(), 60);
  g.SetMaxValue(70);
  g.SetMinValue(0);
  g.SetProgress(65);
  g.SetMaxValue(62);
  EXPECT_EQ(g.Progress(), 62);
  // Equal ends are accepted.
  g.SetMinValue(62);
  EXPECT_EQ(g.PercentDone(), 0);

  TGauge loading;
  loading.SetLoading(true);
  loading.SetMinValue(500);
  loading.SetMaxValue(1000);
  loading.SetLoading(false);
  EXPECT_EQ(loading.MinValue(), 500);
  EXPECT_EQ(loading.MaxValue(), 1000);
}

TEST(GaugeValues, RepaintsOnlyWhenTheShownPercentageChanges) {
  QWidget window;
  auto* g = new TGauge(&window);
  g->SetMaxValue(1000);
  window.show();
  QCoreApplication::processEvents();
  PaintCounter paints(g);
  struct Step {
    int progress;
    bool repainted;
  };
  const Step steps[] = {{5, false},  {9, false},   {10, true},    {19, false},
                        {10, false}, {1000, true}, {2000, false}, {0, true}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.progress);
    paints.count = 0;
    g->SetProgress(s.progress);
    EXPECT_EQ(paints.count > 0, s.repainted);
  }
  paints.count = 0;
  g->SetForeColor(g->ForeColor());
  g->SetKind(g->Kind());
  EXPECT_EQ(paints.count, 0);
  g->SetForeColor(clRed);
  EXPECT_EQ(paints.count, 1);
}

// -- pictures --------------------------------------------------------------------------------

// The picture of the main window's gauge: which colours show in the columns of the bar, the
// columns of the background, and under the text.
TEST(GaugePicture, MainWindowGaugeAtZeroHalfAndFull) {
  const Rgb navy = RgbOf(clNavy);
  const Rgb gold = RgbOf(clGold);
  const Rgb text_on_navy = XorOf(clNavy, clWhite);  // pale yellow
  const Rgb text_on_gold = XorOf(clGold, clWhite);  // blue
  struct Case {
    int progress;
    int bar_end;  // first column not covered by the bar
  };
  // The bar is trunc((273 + 1) × percent / 100) wide: 137 at 50 %, where 273 would give 136.
  const Case cases[] = {{0, 0}, {25, 68}, {50, 137}, {99, 271}, {100, 273}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    TGauge g;
    ApplyFormSettings(g);
    g.SetProgress(c.progress);
    const QImage p = g.RenderPicture();
    ASSERT_EQ(p.size(), QSize(273, 13));
    if (c.bar_end > 0) {
      EXPECT_EQ(Without(ColorsIn(p, QRect(0, 0, c.bar_end, 13)), text_on_gold),
                std::set<Rgb>{gold});
    }
    if (c.bar_end < 273) {
      EXPECT_EQ(Without(ColorsIn(p, QRect(c.bar_end, 0, 273 - c.bar_end, 13)), text_on_navy),
                std::set<Rgb>{navy});
    }
    // The text shows in the inverse of what lies under it.
    // (At 50 % the bar ends under the text, which then shows both ways.)
    const std::set<Rgb> middle = ColorsIn(p, QRect(110, 0, 53, 13));
    if (c.progress == 50) continue;
    const bool on_gold = c.bar_end > 163;
    EXPECT_EQ(middle.count(on_gold ? text_on_gold : text_on_navy), 1u);
    EXPECT_EQ(middle.count(on_gold ? text_on_navy : text_on_gold), 0u);
  }
}

TEST(GaugePicture, TextIsCentredAndCanBeHidden) {
  TGauge g;
  ApplyFormSettings(g);
  g.SetProgress(0);
  const QImage with_text = g.RenderPicture();
  int left = 273;
  int right = -1;
  for (int y = 0; y < 13; ++y) {
    for (int x = 0; x < 273; ++x) {
      if (PixelAt(with_text, x, y) != RgbOf(clNavy)) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  ASSERT_GE(right, left);
  EXPECT_LE(std::abs(left - (272 - right)), 3);
  g.SetShowText(false);
  EXPECT_EQ(ColorsIn(g.RenderPicture(), QRect(0, 0, 273, 13)), std::set<Rgb>{RgbOf(clNavy)});
}

TEST(GaugePicture, EmptyRangeShowsZeroPercent) {
  TGauge reference;
  ApplyFormSettings(reference);
  TGauge empty;
  ApplyFormSettings(empty);
  empty.SetMaxValue(0);
  EXPECT_EQ(empty.PercentDone(), 0);
  EXPECT_EQ(empty.RenderPicture(), reference.RenderPicture());
}

TEST(GaugePicture, SingleBorderLeavesABlackFrame) {
  TGauge g;
  g.resize(50, 20);
  g.SetForeColor(clGold);
  g.SetShowText(false);
  g.SetProgress(100);
  const QImage p = g.RenderPicture();
  const std::set<Rgb> black{Rgb(0, 0, 0)};
  EXPECT_EQ(ColorsIn(p, QRect(0, 0, 50, 1)), black);
  EXPECT_EQ(ColorsIn(p, QRect(0, 19, 50, 1)), black);
  EXPECT_EQ(ColorsIn(p, QRect(0, 0, 1, 20)), black);
  EXPECT_EQ(ColorsIn(p, QRect(49, 0, 1, 20)), black);
  EXPECT_EQ(ColorsIn(p, QRect(1, 1, 48, 18)), std::set<Rgb>{RgbOf(clGold)});
}

TEST(GaugePicture, OtherKindsStayInsideTheirArea) {
  struct Case {
    TGaugeKind kind;
    int progress;
    bool fore_shows;
  };
  const Case cases[] = {
      {gkText, 50, false}, {gkVerticalBar, 0, false}, {gkVerticalBar, 50, true},
      {gkPie, 0, false},   {gkPie, 50, true},         {gkNeedle, 50, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind) * 1000 + c.progress);
    TGauge g;
    g.resize(40, 40);
    g.SetShowText(false);
    g.SetForeColor(clGold);
    g.SetBackColor(clNavy);
    g.SetKind(c.kind);
    g.SetProgress(c.progress);
    const QImage p = g.RenderPicture();
    EXPECT_EQ(ColorsIn(p, QRect(0, 0, 40, 1)), std::set<Rgb>{Rgb(0, 0, 0)});
    EXPECT_EQ(ColorsIn(p, p.rect()).count(RgbOf(clGold)) == 1, c.fore_shows);
  }
  TGauge zero;
  zero.resize(0, 10);
  EXPECT_TRUE(zero.RenderPicture().isNull());
}

}  // namespace
}  // namespace components_test
