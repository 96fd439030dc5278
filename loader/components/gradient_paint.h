// The banded background's look and its drawing, on any canvas: the settings object TGradient
// and the routines that paint it. The controls that show it (TDfGradient in Gradient.h for Qt,
// the Win32 window's own) keep an off-screen bitmap built with DrawGradient.
//
//   TGradient g;                                       // the look of the windows:
//   g.SetLineSize(1);
//   g.SetColor1(clNavy); g.SetColor2(clWhite); g.SetColor3(clNavy);
//   g.SetColorCount(2);
//   DrawGradient(canvas, TRect{0, 0, 369, 161}, g);
#pragma once

#include <array>
#include <functional>

#include "canvas.h"
#include "gdi_types.h"

enum TGradientStyle { gsLine, gsEllipse, gsRect, gsCustomRect };
// diHorizonal draws horizontal lines (the colour changes from top to bottom); diVertical draws
// vertical lines (the colour changes from left to right).
enum TDirection { diHorizonal, diVertical };

class TGradient;

// Custom drawing of one step of gsCustomRect: the handler paints `rect` on `canvas`.
using TDrawRectEvent = std::function<void(TGradient* sender, Canvas& canvas, const TRect& rect)>;
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
void DrawGradient(Canvas& canvas, const TRect& rect, TGradient& gradient);
// Horizontal (or vertical) lines of LineSize pixels blending through the stops; drawn into a
// strip 8 pixels across, then tiled over `rect`.
void DrawLineGradient(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                      int line_size, TDirection direction, int color_count);
// Colours the lines of the strip area `rect` directly.
void FillLines(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops, int line_size,
               TDirection direction, int color_count);
// Covers `rect` with copies of `tile` row by row from its top-left corner, the copies at the
// right and bottom edges cut to what still fits.
void TileBitmap(Canvas& canvas, const TRect& rect, const Canvas& tile);
// Nested ellipses or rectangles stepping inwards by LineSize; gsCustomRect hands each step to
// `on_draw_rect` (drawn as gsRect when it is empty).
void DrawNestedGradient(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                        int line_size, int color_count, TGradientStyle style,
                        const TDrawRectEvent& on_draw_rect = {});
