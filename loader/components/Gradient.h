// The banded background painted behind the windows' controls.
//
//   auto* back = new TDfGradient(form);                 // windowless, 144 x 144 when new
//   back->setGeometry(2, 16, 369, 161);                 // or back->SetAlign(alClient)
//   TGradient& g = back->Gradient();
//   g.SetGradientStyle(gsLine);
//   g.SetLineSize(1);
//   g.SetColor1(clNavy); g.SetColor2(clWhite); g.SetColor3(clNavy);
//   g.SetColor4(clWhite); g.SetColor5(clNavy);
//   g.SetColorCount(2);
//   g.SetLineDirection(diHorizonal);
//
// Every change of the settings rebuilds the control's off-screen picture and repaints it; a
// paint copies from that picture. The picture is also rebuilt when the control's size changed
// and when its own Color changes.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <functional>

#include "GdiPaint.h"

class QPainter;

enum TGradientStyle { gsLine, gsEllipse, gsRect, gsCustomRect };
// diHorizonal draws horizontal lines (the colour changes from top to bottom); diVertical draws
// vertical lines (the colour changes from left to right).
enum TDirection { diHorizonal, diVertical };

class TGradient;

// Custom drawing of one step of gsCustomRect: the handler paints `rect` on `canvas`.
using TDrawRectEvent = std::function<void(TGradient* sender, QPainter& canvas, const TRect& rect)>;
using TNotifyEvent = std::function<void(TGradient* sender)>;

// The look of a gradient: style, step size, five colour stops and how many blend segments.
class TGradient {
 public:
  // gsLine, LineSize 3, gray, white, silver, white, black, ColorCount 3, diHorizonal, no events.
  TGradient() = default;
  TGradient(const TGradient&) = delete;
  TGradient& operator=(const TGradient&) = delete;

  TGradientStyle GradientStyle() const { return style_; }
  int LineSize() const { return line_size_; }
  TColor Color1() const { return colors_[0]; }
  TColor Color2() const { return colors_[1]; }
  TColor Color3() const { return colors_[2]; }
  TColor Color4() const { return colors_[3]; }
  TColor Color5() const { return colors_[4]; }
  // The five stops, Color1 first.
  const std::array<TColor, 5>& Colors() const { return colors_; }
  int ColorCount() const { return color_count_; }
  TDirection LineDirection() const { return direction_; }

  // Each setter stores a new value and calls Changed; setting the current value does nothing.
  void SetGradientStyle(TGradientStyle value);
  void SetLineSize(int value);
  void SetColor1(TColor value) { SetColor(0, value); }
  void SetColor2(TColor value) { SetColor(1, value); }
  void SetColor3(TColor value) { SetColor(2, value); }
  void SetColor4(TColor value) { SetColor(3, value); }
  void SetColor5(TColor value) { SetColor(4, value); }
  // Number of blend segments, 1 to 4; values outside are brought to the nearest end.
  void SetColorCount(int value);
  void SetLineDirection(TDirection value);

  // Copies style, line size, colours, colour count and direction (not the events), then calls
  // Changed once.
  void Assign(const TGradient& source);

  // Calls OnChange with this object, if assigned.
  void Changed();

  TDrawRectEvent OnDrawRect;
  TNotifyEvent OnChange;

 private:
  void SetColor(int index, TColor value);

  TGradientStyle style_ = gsLine;
  int line_size_ = 3;
  std::array<TColor, 5> colors_{clGray, clWhite, clSilver, clWhite, clBlack};
  int color_count_ = 3;
  TDirection direction_ = diHorizonal;
};

// The drawing routines, usable on any canvas (the control uses them on its off-screen picture).
// `rect` is the area to cover; nothing is drawn when its right or bottom coordinate is 0.
void DrawGradient(QPainter& canvas, const TRect& rect, TGradient& gradient);
// Horizontal (or vertical) lines of LineSize pixels blending through the stops; drawn into a
// strip 8 pixels across, then tiled over `rect`.
void DrawLineGradient(QPainter& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                      int line_size, TDirection direction, int color_count);
// Colours the lines of the strip area `rect` directly.
void FillLines(QPainter& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
               int line_size, TDirection direction, int color_count);
// Covers `rect` with copies of `tile` row by row from its top-left corner, the copies at the
// right and bottom edges cut to what still fits.
void TileBitmap(QPainter& canvas, const TRect& rect, const QImage& tile);
// Nested ellipses or rectangles stepping inwards by LineSize; gsCustomRect hands each step to
// `on_draw_rect` (drawn as gsRect when it is empty).
void DrawNestedGradient(QPainter& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                        int line_size, int color_count, TGradientStyle style,
                        const TDrawRectEvent& on_draw_rect = {});

enum TAlign { alNone, alClient };

// The windowless background control.
class TDfGradient : public QWidget {
 public:
  // LineSize 2, black, white, black, white, black, ColorCount 4, gsLine, diHorizonal; 144 x 144.
  explicit TDfGradient(QWidget* parent = nullptr);
  ~TDfGradient() override;

  // The control's own settings object; it is never replaced.
  TGradient& Gradient() { return *gradient_; }
  const TGradient& Gradient() const { return *gradient_; }
  // Copies the settings of `value` into the control's own object (the events are not copied).
  void SetGradient(const TGradient& value) { gradient_->Assign(value); }

  // The colour under the gradient (shows where the gradient leaves the area unpainted).
  TColor Color() const { return color_; }
  void SetColor(TColor value);

  // alClient keeps the control covering its parent's whole client area.
  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);

  // The off-screen picture as last built (null before the first build).
  const QImage& Bitmap() const { return bitmap_; }

  // Rebuilds the off-screen picture at the control's size.
  void UpdateBitmap();

  QSize sizeHint() const override { return QSize(144, 144); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void GradientChanged();

  TGradient* gradient_;
  QImage bitmap_;
  TColor color_ = clBtnFace;
  TAlign align_ = alNone;
};
