#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <memory>
#include <stdexcept>
#include <vector>

#include "ColorBtns.h"
#include "components_support.h"

namespace components_test {
namespace {

// A button as the windows set it up: navy ellipse, gold caption, glyph below the caption,
// lit by the mouse, dithered when latched.
void ApplyFormSettings(TColor95Button& b, const QString& caption) {
  b.SetCaption(caption);
  b.SetStyle(bsEllipse);
  b.SetColor(clNavy);
  b.SetLayout(blGlyphBottom);
  b.SetOptions(boShowMouseFocus | boDitherPattern);
  b.SetFont(WindowFont());
  b.SetFontColor(clGold);
}

void Press(QWidget& w, QPoint p, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(QEvent::MouseButtonPress, p, w.mapToGlobal(p), button, button, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &e);
}
void Move(QWidget& w, QPoint p) {
  QMouseEvent e(QEvent::MouseMove, p, w.mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &e);
}
void Release(QWidget& w, QPoint p, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(QEvent::MouseButtonRelease, p, w.mapToGlobal(p), button, Qt::NoButton,
                Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &e);
}
void Enter(QWidget& w) {
  QEnterEvent e(QPointF(5, 5), QPointF(5, 5), w.mapToGlobal(QPointF(5, 5)));
  QCoreApplication::sendEvent(&w, &e);
}

// -- colour helpers and layout --------------------------------------------------------------

TEST(ButtonColors, BrightenAndDarkenClampEachComponent) {
  struct Case {
    TColor color;
    int n;
    TColor expected;
  };
  const Case cases[] = {
      {clNavy, 60, 0xBC3C3C},   {clNavy, -48, 0x500000}, {clNavy, -200, clBlack},
      {clWhite, 10, clWhite},   {clGold, 60, 0x3CFCFF},  {0x00102030, -0x20, 0x000010},
      {clBtnFace, 0, 0xC8D0D4},  // system colours are resolved first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(Brighten(c.color, c.n), c.expected);
  }
  EXPECT_EQ(Darken(clNavy, 100), 0x1C0000u);
}

TEST(ButtonColors, BevelColoursSwapTonesWhenPressed) {
  const BevelColors up = BevelColorsFor(clNavy, false);
  EXPECT_EQ(RgbOf(up.c1), Rgb(60, 60, 188));
  EXPECT_EQ(RgbOf(up.c2), Rgb(0, 0, 80));
  EXPECT_EQ(RgbOf(up.c3), Rgb(0, 0, 28));
  EXPECT_EQ(RgbOf(up.c4), Rgb(12, 12, 140));
  const BevelColors down = BevelColorsFor(clNavy, true);
  EXPECT_EQ(RgbOf(down.c1), Rgb(0, 0, 80));
  EXPECT_EQ(RgbOf(down.c2), Rgb(48, 48, 176));
  EXPECT_EQ(RgbOf(down.c3), Rgb(64, 64, 192));
  EXPECT_EQ(RgbOf(down.c4), Rgb(0, 0, 32));
}

TEST(ButtonColors, DitherIsACheckerOfFaceAndBrightFace) {
  const QImage dither = MakeDitherBitmap(clNavy);
  ASSERT_EQ(dither.size(), QSize(8, 8));
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(y * 8 + x);
      EXPECT_EQ(PixelAt(dither, x, y), (x + y) % 2 == 0 ? Rgb(128, 128, 255) : Rgb(0, 0, 128));
    }
  }
}

struct LayoutCase {
  const char* name;
  TSize client;
  TSize glyph;
  TSize text;
  TButtonLayout layout;
  int margin;
  int spacing;
  QPoint glyph_pos;
  QRect text_bounds;
};

TEST(ButtonLayout, GlyphAndCaptionAreCentredOrPlacedFromTheirEdge) {
  const LayoutCase cases[] = {
      {"caption only, centred",
       {69, 21},
       {0, 0},
       {40, 13},
       blGlyphBottom,
       -1,
       4,
       {35, 17},
       {15, 4, 40, 13}},
      {"glyph below caption",
       {60, 40},
       {16, 16},
       {30, 10},
       blGlyphBottom,
       -1,
       4,
       {22, 19},
       {15, 5, 30, 10}},
      {"glyph left of caption",
       {60, 40},
       {16, 16},
       {30, 10},
       blGlyphLeft,
       -1,
       4,
       {5, 12},
       {25, 15, 30, 10}},
      {"glyph right, fixed margin",
       {60, 40},
       {16, 16},
       {30, 10},
       blGlyphRight,
       2,
       4,
       {42, 12},
       {8, 15, 30, 10}},
      {"glyph top, fixed margin, caption centred in the rest",
       {60, 40},
       {16, 16},
       {30, 10},
       blGlyphTop,
       3,
       -1,
       {22, 3},
       {15, 24, 30, 10}},
      {"margin and spacing split the space in three",
       {60, 40},
       {16, 16},
       {29, 10},
       blGlyphLeft,
       -1,
       -1,
       {5, 12},
       {26, 15, 29, 10}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ButtonLayoutResult r =
        CalcButtonLayout(c.client, c.glyph, c.text, c.layout, c.margin, c.spacing);
    EXPECT_EQ(ToQPoint(r.glyph_pos), c.glyph_pos);
    EXPECT_EQ(ToQRect(r.text_bounds), c.text_bounds);
  }
}

TEST(ButtonProperties, RefusedAndCutValues) {
  TColor95Button b;
  EXPECT_EQ(b.size(), QSize(25, 25));
  EXPECT_EQ(b.Style(), bsNew);
  EXPECT_EQ(b.Margin(), -1);
  EXPECT_EQ(b.Spacing(), 4);
  EXPECT_EQ(b.Options(), boShowMouseFocus | boDitherPattern | boAutoBlackWhiteText);
  b.SetMargin(-2);
  EXPECT_EQ(b.Margin(), -1);
  b.SetMargin(5);
  EXPECT_EQ(b.Margin(), 5);
  b.SetMargin(-7);
  EXPECT_EQ(b.Margin(), 5);
  b.SetNumGlyphs(9);
  EXPECT_EQ(b.NumGlyphs(), 4);
  b.SetNumGlyphs(0);
  EXPECT_EQ(b.NumGlyphs(), 1);
  // Without a group a button never latches.
  b.SetDown(true);
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(b.State(), ButtonState::Up);
}

TEST(ButtonProperties, AcceleratorIsAltAndTheLetterAfterTheAmpersand) {
  struct Case {
    const char* caption;
    QKeySequence expected;
  };
  const Case cases[] = {
      {"&Optionen", QKeySequence(Qt::ALT | Qt::Key_O)},
      {"E&xit", QKeySequence(Qt::ALT | Qt::Key_X)},
      {"Start Update", QKeySequence()},
      {"Fish && Chips", QKeySequence()},
      {"", QKeySequence()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    EXPECT_EQ(TColor95Button::AcceleratorOf(QString::fromUtf8(c.caption)), c.expected);
  }
}

// -- faces ----------------------------------------------------------------------------------

class ButtonFace : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(120, 60);
    button_ = new TColor95Button(window_.get());
    button_->setGeometry(0, 0, 73, 25);
    ApplyFormSettings(*button_, QStringLiteral("Exit"));
    clicks_ = 0;
    button_->OnClick = [this] { ++clicks_; };
  }
  QImage Face() { return Render(*button_, clGreen); }

  std::unique_ptr<QWidget> window_;
  TColor95Button* button_ = nullptr;
  int clicks_ = 0;
};

// Colours of the bevel at the top and the bottom of the ellipse, of its inside left of the
// caption, and whether the caption shows in gold or embossed.
struct FaceCase {
  const char* name;
  std::function<void(TColor95Button&)> act;
  std::set<Rgb> top_bevel;
  std::set<Rgb> bottom_bevel;
  Rgb inside;
  bool gold_caption;
  bool embossed_caption;
};

TEST_F(ButtonFace, StatesPaintTheirBevelFillAndCaption) {
  const Rgb navy{0, 0, 128};
  const FaceCase cases[] = {
      {"up",
       [](TColor95Button&) {},
       {{60, 60, 188}, {12, 12, 140}},
       {{0, 0, 80}, {0, 0, 28}},
       navy,
       true,
       false},
      {"pressed",
       [](TColor95Button& b) { Press(b, QPoint(36, 12)); },
       {{0, 0, 80}, {0, 0, 32}},
       {{64, 64, 192}, {48, 48, 176}},
       navy,
       true,
       false},
      {"lit",
       [](TColor95Button& b) { Enter(b); },
       {{60, 60, 188}, {12, 12, 140}},
       {{0, 0, 80}, {0, 0, 28}},
       Rgb(24, 24, 152),
       true,
       false},
      {"lit and pressed: no brightening",
       [](TColor95Button& b) {
         Enter(b);
         Press(b, QPoint(36, 12));
       },
       {{0, 0, 80}, {0, 0, 32}},
       {{64, 64, 192}, {48, 48, 176}},
       navy,
       true,
       false},
      {"disabled, mouse over: not lit",
       [](TColor95Button& b) {
         b.setEnabled(false);
         Enter(b);
       },
       {{60, 60, 188}, {12, 12, 140}},
       {{0, 0, 80}, {0, 0, 28}},
       navy,
       false,
       true},
  };
  for (const FaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.act(*button_);
    const QImage face = Face();
    const std::set<Rgb> background{RgbOf(clGreen)};
    auto bevel_at = [&](int top, int bottom) {
      std::set<Rgb> colors = ColorsIn(face, QRect(30, top, 1, bottom - top));
      for (const Rgb& b : background) colors.erase(b);
      colors.erase(navy);
      colors.erase(c.inside);
      return colors;
    };
    EXPECT_EQ(bevel_at(0, 5), c.top_bevel);
    EXPECT_EQ(bevel_at(20, 25), c.bottom_bevel);
    EXPECT_EQ(PixelAt(face, 10, 12), c.inside);
    // The corners outside the ellipse show what lies behind the button.
    EXPECT_EQ(PixelAt(face, 0, 0), RgbOf(clGreen));
    EXPECT_EQ(PixelAt(face, 72, 24), RgbOf(clGreen));
    const std::set<Rgb> caption = ColorsIn(face, QRect(20, 6, 33, 13));
    EXPECT_EQ(caption.count(RgbOf(clGold)) == 1, c.gold_caption);
    EXPECT_EQ(caption.count(Rgb(0, 0, 32)) == 1 && caption.count(Rgb(96, 96, 224)) == 1,
              c.embossed_caption);
  }
}

// The bevel's arcs: c1 and c2 (or c3) drawn 2 pixels wide, then c4 and c3 (or c2) 1 pixel wide
// on the same ellipse, so each wide arc keeps one pixel outside the narrow one.
TEST_F(ButtonFace, BevelArcsAreTwoPixelsThenOnePixelWide) {
  const BevelColors up = BevelColorsFor(clNavy, false);
  struct Column {
    int x;
    int y;
    TColor expected[2];  // at y and y + 1
  };
  const Column columns[] = {
      {36, 1, {up.c1, up.c4}},   // top middle: upper-left half
      {10, 4, {up.c1, up.c4}},   // upper left
      {36, 21, {up.c2, up.c3}},  // bottom middle: lower-right half
      {60, 4, {up.c2, up.c3}},   // upper right, past the point where the halves meet
  };
  const QImage face = Face();
  for (const Column& c : columns) {
    SCOPED_TRACE(c.x * 100 + c.y);
    EXPECT_EQ(PixelAt(face, c.x, c.y - 1), RgbOf(c.y < 12 ? clGreen : clNavy));
    EXPECT_EQ(PixelAt(face, c.x, c.y), RgbOf(c.expected[0]));
    EXPECT_EQ(PixelAt(face, c.x, c.y + 1), RgbOf(c.expected[1]));
    EXPECT_EQ(PixelAt(face, c.x, c.y + 2), RgbOf(c.y < 12 ? clNavy : clGreen));
  }
}

TEST_F(ButtonFace, LatchedFaceIsDitheredAndShiftedInwards) {
  button_->SetGroupIndex(1);
  button_->SetDown(true);
  EXPECT_EQ(button_->State(), ButtonState::Latched);
  const QImage face = Face();
  const std::set<Rgb> inside = ColorsIn(face, QRect(8, 8, 6, 6));
  EXPECT_EQ(inside, (std::set<Rgb>{Rgb(0, 0, 128), Rgb(128, 128, 255)}));
  // Without the dither option the latched face is plain.
  button_->SetOptions(boShowMouseFocus);
  EXPECT_EQ(ColorsIn(Face(), QRect(8, 8, 6, 6)), std::set<Rgb>{Rgb(0, 0, 128)});
}

TEST_F(ButtonFace, NewStyleDrawsTwoFramesAndAutomaticTextColour) {
  button_->SetStyle(bsNew);
  button_->SetColor(clSilver);
  button_->SetOptions(boAutoBlackWhiteText);
  const QImage face = Face();
  const BevelColors bevel = BevelColorsFor(clSilver, false);
  EXPECT_EQ(PixelAt(face, 0, 0), RgbOf(bevel.c4));
  EXPECT_EQ(PixelAt(face, 72, 24), RgbOf(bevel.c3));
  EXPECT_EQ(PixelAt(face, 1, 1), RgbOf(bevel.c1));
  EXPECT_EQ(PixelAt(face, 71, 23), RgbOf(bevel.c2));
  EXPECT_EQ(PixelAt(face, 3, 3), RgbOf(clSilver));
  // Silver is light: grey 192 gives black text.
  const std::set<Rgb> caption = ColorsIn(face, QRect(20, 6, 33, 13));
  EXPECT_EQ(caption.count(Rgb(0, 0, 0)), 1u);
  EXPECT_EQ(caption.count(RgbOf(clGold)), 0u);
  // Navy is dark: white text.
  button_->SetColor(clNavy);
  EXPECT_EQ(ColorsIn(Face(), QRect(20, 6, 33, 13)).count(Rgb(255, 255, 255)), 1u);
}

TEST_F(ButtonFace, EveryStylePaintsWithoutTouchingOutsideItsArea) {
  int owner_draws = 0;
  button_->OnOwnerDraw = [&owner_draws](TColor95Button* sender, QPainter&, const TRect& r) {
    EXPECT_NE(sender, nullptr);
    EXPECT_EQ(r, (TRect{0, 0, 73, 25}));
    ++owner_draws;
  };
  for (int style = bsWin31; style <= bsGradient; ++style) {
    SCOPED_TRACE(style);
    button_->SetStyle(static_cast<TClr95ButtonStyle>(style));
    for (bool pressed : {false, true}) {
      if (pressed) Press(*button_, QPoint(5, 5));
      const QImage face = Face();
      EXPECT_EQ(face.size(), QSize(73, 25));
      if (pressed) Release(*button_, QPoint(5, 5));
    }
  }
  EXPECT_EQ(owner_draws, 2);
}

// A glyph of two 6 × 6 pictures, red and blue, each with a transparent (olive) bottom-left
// pixel: the up face shows the first, the disabled face the second; with one picture the
// disabled face embosses it.
TEST_F(ButtonFace, GlyphPictureFollowsTheStateAndHidesItsTransparentColour) {
  QImage glyph(12, 6, QImage::Format_RGB32);
  glyph.fill(QColor(255, 0, 0));
  for (int y = 0; y < 6; ++y) {
    for (int x = 6; x < 12; ++x) glyph.setPixel(x, y, qRgb(0, 0, 255));
  }
  glyph.setPixel(0, 5, qRgb(128, 128, 0));
  glyph.setPixel(6, 5, qRgb(128, 128, 0));
  struct Case {
    const char* name;
    int num_glyphs;
    bool enabled;
    std::set<Rgb> present;
    std::set<Rgb> absent;
  };
  const Rgb red{255, 0, 0};
  const Rgb blue{0, 0, 255};
  const Rgb olive{128, 128, 0};
  const Case cases[] = {
      {"up shows the first picture", 2, true, {red}, {blue, olive}},
      {"disabled shows the second picture", 2, false, {blue}, {red, olive}},
      {"one picture, up", 1, true, {red, blue}, {olive}},
      {"one picture, disabled: embossed",
       1,
       false,
       {Rgb(0, 0, 32), Rgb(96, 96, 224)},
       {red, olive}},
      {"more pictures than columns: no glyph", 4, true, {}, {red, blue, olive}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    button_->SetStyle(bsNew);
    button_->SetCaption(QString());
    button_->SetLayout(blGlyphLeft);
    QImage picture = glyph;
    if (c.num_glyphs == 4) picture = glyph.copy(0, 0, 3, 6);
    button_->SetGlyph(picture);
    button_->SetNumGlyphs(c.num_glyphs);
    button_->setEnabled(c.enabled);
    const std::set<Rgb> colors = ColorsIn(Face(), QRect(2, 2, 69, 21));
    for (const Rgb& p : c.present) EXPECT_EQ(colors.count(p), 1u);
    for (const Rgb& a : c.absent) EXPECT_EQ(colors.count(a), 0u);
  }
}

// -- mouse ----------------------------------------------------------------------------------

enum class Act { Press, Move, Release, RightPress, RightRelease };
struct MouseStep {
  Act act;
  QPoint at;
  ButtonState state;  // state after the step
};
struct MouseCase {
  const char* name;
  std::vector<MouseStep> steps;
  int clicks;
};

// The widget's mouse events reach the button's behaviour (its sequences are the table of
// button_behaviour_test.cpp): presses, moves and releases in widget coordinates, and only the
// left button.
TEST_F(ButtonFace, MouseEventsReachTheBehaviour) {
  const QPoint in(36, 12);
  const QPoint out(90, 12);
  using S = ButtonState;
  const MouseCase cases[] = {
      {"press and release inside", {{Act::Press, in, S::Pressed}, {Act::Release, in, S::Up}}, 1},
      {"dragged out and back in",
       {{Act::Press, in, S::Pressed},
        {Act::Move, out, S::Up},
        {Act::Move, in, S::Pressed},
        {Act::Release, out, S::Up}},
       0},
      {"released on the row below: still inside",
       {{Act::Press, in, S::Pressed}, {Act::Release, {36, 25}, S::Up}},
       1},
      {"right button does not press or click",
       {{Act::RightPress, in, S::Up}, {Act::RightRelease, in, S::Up}},
       0},
  };
  for (const MouseCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    int step_no = 0;
    for (const MouseStep& s : c.steps) {
      SCOPED_TRACE(step_no++);
      switch (s.act) {
        case Act::Press:
          Press(*button_, s.at);
          break;
        case Act::Move:
          Move(*button_, s.at);
          break;
        case Act::Release:
          Release(*button_, s.at);
          break;
        case Act::RightPress:
          Press(*button_, s.at, Qt::RightButton);
          break;
        case Act::RightRelease:
          Release(*button_, s.at, Qt::RightButton);
          break;
      }
      EXPECT_EQ(button_->State(), s.state);
    }
    EXPECT_EQ(clicks_, c.clicks);
  }
}

TEST_F(ButtonFace, DisabledButtonIgnoresTheMouseAndTheLight) {
  button_->setEnabled(false);
  EXPECT_EQ(button_->State(), ButtonState::Disabled);
  Enter(*button_);
  EXPECT_FALSE(button_->MouseInControl());
  Press(*button_, QPoint(36, 12));
  Release(*button_, QPoint(36, 12));
  EXPECT_EQ(clicks_, 0);
  button_->setEnabled(true);
  EXPECT_EQ(button_->State(), ButtonState::Up);
}

TEST_F(ButtonFace, ClickFiresCallbackAndSignalAndPlaysItsSound) {
  int signals_seen = 0;
  QObject::connect(button_, &TColor95Button::clicked, [&signals_seen] { ++signals_seen; });
  std::vector<QString> played;
  TColor95Button::SetSoundPlayer([&played](const QString& s) { played.push_back(s); });
  button_->SetSoundClick(QStringLiteral("click.wav"));
  button_->SetSoundMouseOver(QStringLiteral("over.wav"));
  Enter(*button_);
  Press(*button_, QPoint(36, 12));
  Release(*button_, QPoint(36, 12));
  TColor95Button::SetSoundPlayer({});
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(signals_seen, 1);
  EXPECT_EQ(played,
            (std::vector<QString>{QStringLiteral("over.wav"), QStringLiteral("click.wav")}));
}

TEST_F(ButtonFace, ClickHandlerMayDeleteTheButton) {
  QPointer<TColor95Button> watch(button_);
  button_->OnClick = [this] { delete button_; };
  Press(*button_, QPoint(36, 12));
  Release(*button_, QPoint(36, 12));
  EXPECT_TRUE(watch.isNull());
}

TEST_F(ButtonFace, AcceleratorClicksTheEnabledButton) {
  button_->SetCaption(QStringLiteral("E&xit"));
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(clicks_, 1);
  button_->setEnabled(false);
  QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(clicks_, 1);
  button_->setEnabled(true);
  button_->SetCaption(QStringLiteral("Exit"));
  QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(clicks_, 1);
}

// -- groups and repetition ------------------------------------------------------------------

class ButtonGroup : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      auto* b = new TColor95Button(&window_);
      b->setGeometry(i * 30, 0, 25, 25);
      b->SetGroupIndex(1);
      buttons_.push_back(b);
    }
  }
  std::vector<bool> Downs() const {
    std::vector<bool> d;
    for (auto* b : buttons_) d.push_back(b->Down());
    return d;
  }

  QWidget window_;
  std::vector<TColor95Button*> buttons_;
};

TEST_F(ButtonGroup, OneButtonDownAtATime) {
  buttons_[0]->SetDown(true);
  EXPECT_EQ(Downs(), (std::vector<bool>{true, false, false}));
  buttons_[2]->SetDown(true);
  EXPECT_EQ(Downs(), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(buttons_[0]->State(), ButtonState::Up);
  EXPECT_EQ(buttons_[2]->State(), ButtonState::Latched);
  // Releasing the down button is refused unless all may be up.
  buttons_[2]->SetDown(false);
  EXPECT_EQ(Downs(), (std::vector<bool>{false, false, true}));
  buttons_[0]->SetAllowAllUp(true);  // told to the whole group
  EXPECT_TRUE(buttons_[2]->AllowAllUp());
  buttons_[2]->SetDown(false);
  EXPECT_EQ(Downs(), (std::vector<bool>{false, false, false}));
}

TEST_F(ButtonGroup, ClicksToggleAndKeepTheLatchedFaceWhenRefused) {
  int clicks = 0;
  buttons_[1]->OnClick = [&clicks] { ++clicks; };
  Press(*buttons_[1], QPoint(5, 5));
  Release(*buttons_[1], QPoint(5, 5));
  EXPECT_EQ(Downs(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Latched);
  // Clicked again without AllowAllUp: stays down and latched, but still clicks.
  Press(*buttons_[1], QPoint(5, 5));
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Latched);
  Release(*buttons_[1], QPoint(5, 5));
  EXPECT_TRUE(buttons_[1]->Down());
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Latched);
  EXPECT_EQ(clicks, 2);
  // Released outside: latched again, no click.
  Press(*buttons_[1], QPoint(5, 5));
  Move(*buttons_[1], QPoint(50, 5));
  Release(*buttons_[1], QPoint(50, 5));
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Latched);
  EXPECT_EQ(clicks, 2);
  // A button of another group is not affected.
  buttons_[0]->SetGroupIndex(2);
  buttons_[0]->SetDown(true);
  EXPECT_EQ(Downs(), (std::vector<bool>{true, true, false}));
  // Disabled and enabled again, a down button shows its latched face again.
  buttons_[1]->setEnabled(false);
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Disabled);
  buttons_[1]->setEnabled(true);
  EXPECT_EQ(buttons_[1]->State(), ButtonState::Latched);
}

TEST(ButtonRepeat, HeldRepeatableButtonClicksAfterTheDelayThenPeriodically) {
  QWidget window;
  auto* b = new TColor95Button(&window);
  b->setGeometry(0, 0, 40, 20);
  b->SetOptions(boRepeatable);
  int clicks = 0;
  b->OnClick = [&clicks] { ++clicks; };

  Press(*b, QPoint(5, 5));
  EXPECT_TRUE(RepeatClicker::Active());
  EXPECT_EQ(RepeatClicker::Interval(), 500);
  RepeatClicker::Tick();
  EXPECT_EQ(RepeatClicker::Interval(), 100);
  RepeatClicker::Tick();
  EXPECT_EQ(clicks, 2);
  // Dragged outside: the face is up and the ticks do not click.
  Move(*b, QPoint(60, 5));
  RepeatClicker::Tick();
  EXPECT_EQ(clicks, 2);
  Move(*b, QPoint(5, 5));
  RepeatClicker::Tick();
  EXPECT_EQ(clicks, 3);
  Release(*b, QPoint(5, 5));
  EXPECT_EQ(clicks, 4);  // the release itself clicks
  EXPECT_FALSE(RepeatClicker::Active());
  RepeatClicker::Tick();
  EXPECT_EQ(clicks, 4);

  // A failing click ends the repetition.
  b->OnClick = [] { throw std::runtime_error("click failed"); };
  Press(*b, QPoint(5, 5));
  RepeatClicker::Tick();
  EXPECT_FALSE(RepeatClicker::Active());
  b->OnClick = {};
  Release(*b, QPoint(5, 5));

  // A plain button does not start the timer.
  b->SetOptions(boShowMouseFocus);
  Press(*b, QPoint(5, 5));
  EXPECT_FALSE(RepeatClicker::Active());
  Release(*b, QPoint(5, 5));
}

}  // namespace
}  // namespace components_test
