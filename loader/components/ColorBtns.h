// The windowless push button with a coloured face (ellipse, flat 3-D and other faces).
//
//   auto* start = new TColor95Button(form);
//   start->setGeometry(64, 72, 273, 49);
//   start->SetCaption("Start Update");              // "&O" in a caption makes Alt+O click it
//   start->SetStyle(bsEllipse);
//   start->SetColor(clNavy);
//   start->SetLayout(blGlyphBottom);
//   start->SetOptions(boShowMouseFocus | boDitherPattern);
//   QFont f("Arial"); f.setPixelSize(19); f.setBold(true);
//   start->setFont(f);                              // or SetFont
//   start->SetFontColor(clGold);
//   start->OnClick = [this] { Button1Click(); };    // or connect to the clicked() signal
//   start->setEnabled(false);                       // disabled face, embossed caption
//
// The face is lit while the mouse is over it (boShowMouseFocus), looks pressed while the left
// button is held on it, and clicks when the left button is released over it. It takes no
// keyboard focus; the caption's accelerator (Alt + the letter after "&") clicks it.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

#include "GdiPaint.h"
#include "button_behaviour.h"
#include "button_paint.h"

class QPainter;
class QTimer;

// The 8 x 8 dither picture of a latched face (MakeDitherPattern as a picture).
QImage MakeDitherBitmap(TColor face);

class TColor95Button;

// The timer shared by all buttons with boRepeatable: a press starts it; after 500 ms, then every
// 100 ms, it clicks the button while that button is held pressed. A release stops it.
class RepeatClicker {
 public:
  static void Start(TColor95Button* button);
  static void Stop();
  // One tick of the timer (what the timer runs when it fires).
  static void Tick();
  static bool Active();
  // The time to the next tick in milliseconds.
  static int Interval();
};

using TClrBtnOwnerDrawEvent =
    std::function<void(TColor95Button* sender, QPainter& canvas, const TRect& btn_rect)>;

class TColor95Button : public QWidget {
  Q_OBJECT

 public:
  // 25 x 25, bsNew, blGlyphLeft, Margin -1, Spacing 4, boShowMouseFocus, boDitherPattern and
  // boAutoBlackWhiteText; the colour of the parent's background.
  explicit TColor95Button(QWidget* parent = nullptr);
  ~TColor95Button() override;

  bool AllowAllUp() const { return behaviour_.AllowAllUp(); }
  void SetAllowAllUp(bool value);
  // 0: a plain push button; otherwise buttons of one parent with the same index latch
  // exclusively.
  int GroupIndex() const { return behaviour_.GroupIndex(); }
  void SetGroupIndex(int value);
  // The latched state; stays false while GroupIndex is 0, and a down button of a group without
  // AllowAllUp cannot be released by setting it.
  bool Down() const { return behaviour_.Down(); }
  void SetDown(bool value);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool value) { setEnabled(value); }
  void SetFont(const QFont& value) { setFont(value); }
  // The caption's colour (the font colour).
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value);

  // Up to four pictures side by side: up, disabled, pressed, latched. The bottom-left pixel's
  // colour is transparent.
  const QImage& Glyph() const { return glyph_; }
  void SetGlyph(const QImage& value);
  int NumGlyphs() const { return num_glyphs_; }
  // 1 to 4; larger values are cut to 4, smaller ones raised to 1.
  void SetNumGlyphs(int value);
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout value);
  // Distance of the glyph (or the caption) from its edge; -1 centres. Values below -1 are
  // refused (the old value stays).
  int Margin() const { return margin_; }
  void SetMargin(int value);
  int Spacing() const { return spacing_; }
  void SetSpacing(int value);

  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TClr95ButtonStyle Style() const { return style_; }
  void SetStyle(TClr95ButtonStyle value);
  TButtonOptions Options() const { return options_; }
  void SetOptions(TButtonOptions value);

  // Sound names played on a click and when the mouse enters (empty: none).
  QString SoundClick() const { return sound_click_; }
  void SetSoundClick(const QString& value) { sound_click_ = value; }
  QString SoundMouseOver() const { return sound_mouse_over_; }
  void SetSoundMouseOver(const QString& value) { sound_mouse_over_ = value; }
  // Plays a sound name; the program may install a player. Without one, sounds are silent.
  static void SetSoundPlayer(std::function<void(const QString&)> player);

  // Plays SoundClick, then fires OnClick and clicked().
  void Click();

  ButtonState State() const { return behaviour_.State(); }
  bool MouseInControl() const { return behaviour_.MouseInControl(); }

  // Alt + the accelerator letter of a caption ("E&xit" gives Alt+X); empty without one.
  static QKeySequence AcceleratorOf(const QString& caption);

  std::function<void()> OnClick;
  TClrBtnOwnerDrawEvent OnOwnerDraw;

  QSize sizeHint() const override { return QSize(25, 25); }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  friend class RepeatClicker;

  void Paint(QPainter& painter);
  QImage GlyphFor(ButtonState state) const;
  bool Inside(QPoint p) const;
  void AfterDownChange(DownChange change);
  void UpdateExclusive();
  void ReleasedByGroup(TColor95Button* sender);
  void UpdateShortcut();
  void Play(const QString& sound) const;

  QString caption_;
  TColor font_color_ = clBlack;
  QImage glyph_;
  int num_glyphs_ = 1;
  TButtonLayout layout_ = blGlyphLeft;
  int margin_ = -1;
  int spacing_ = 4;
  TColor color_ = clBtnFace;
  TClr95ButtonStyle style_ = bsNew;
  TButtonOptions options_ = boShowMouseFocus | boDitherPattern | boAutoBlackWhiteText;
  QString sound_click_;
  QString sound_mouse_over_;

  ButtonBehaviour behaviour_;
  int shortcut_id_ = 0;
};
