// The drawing surface the components paint on, in the terms of the window system they were
// first drawn for: filled rectangles and ellipses, pattern brushes, arcs drawn with a pen,
// off-screen bitmaps copied plainly or by exclusive-or, and text in the canvas's current font.
// Two implementations: QtCanvas (QPainter, qt_canvas.h) and GdiCanvas (an HDC, gdi_canvas.h).
//
//   void PaintSomething(Canvas& canvas) {
//     canvas.FillRect(TRect{0, 0, 10, 10}, clNavy);
//     auto strip = canvas.NewBitmap(TSize{8, 10}, clBlack);
//     strip->FillRect(TRect{0, 0, 8, 1}, clWhite);
//     canvas.Draw(TPoint{0, 0}, *strip, TRect{0, 0, 8, 10});
//   }
#pragma once

#include <array>
#include <memory>
#include <string_view>

#include "gdi_types.h"

// An 8 x 8 brush picture, row by row.
using BrushPattern = std::array<TColor, 64>;

class Canvas {
 public:
  virtual ~Canvas() = default;

  // The size of the surface (of a bitmap: its pixels).
  virtual TSize Size() const = 0;

  // Fills r (right and bottom excluded) with a colour; empty areas draw nothing.
  virtual void FillRect(const TRect& r, TColor color) = 0;
  // Fills r with a pattern brush, aligned to the surface's origin.
  virtual void FillRect(const TRect& r, const BrushPattern& pattern) = 0;
  // Fills the ellipse inscribed in r with no outline.
  virtual void FillEllipse(const TRect& r, TColor color) = 0;
  virtual void FillEllipse(const TRect& r, const BrushPattern& pattern) = 0;
  // Draws with a pen of `width` pixels the arc of the ellipse inscribed in r that runs
  // counter-clockwise from the ray through `start` to the ray through `end` (rays from the
  // ellipse's centre).
  virtual void Arc(const TRect& r, TPoint start, TPoint end, TColor pen, int width) = 0;

  // Fills the part of the ellipse inscribed in r that runs `span_degrees` counter-clockwise
  // (clockwise when negative) from the angle `start_degrees` (0 at three o'clock), and outlines
  // it with a one-pixel pen; a span of 360 or more is the whole ellipse.
  virtual void Pie(const TRect& r, double start_degrees, double span_degrees, TColor fill,
                   TColor outline) = 0;
  // A one-pixel line from `from` to `to`, the end point excluded.
  virtual void Line(TPoint from, TPoint to, TColor pen) = 0;

  // A new off-screen bitmap of the same kind, filled with `fill`.
  virtual std::unique_ptr<Canvas> NewBitmap(TSize size, TColor fill) = 0;
  // Copies `source` of a bitmap made by NewBitmap to `at` (a plain source copy).
  virtual void Draw(TPoint at, const Canvas& bitmap, const TRect& source) = 0;
  // Combines a whole bitmap made by NewBitmap into this surface at (0, 0) by exclusive-or.
  virtual void XorDraw(const Canvas& bitmap) = 0;

  // Size of a text in the current font as one line.
  virtual TSize TextExtent(std::string_view text) = 0;
  // Size of a caption, whose "&" marks the accelerator letter and is not drawn.
  virtual TSize CaptionExtent(std::string_view caption) = 0;
  // Writes a text with its top-left corner at `at`, transparently, cut to `clip`.
  virtual void WriteText(TPoint at, std::string_view text, TColor color, const TRect& clip) = 0;
  // Writes a caption centred in `bounds` on one line, transparently, its accelerator letter
  // underlined.
  virtual void DrawCaption(const TRect& bounds, std::string_view caption, TColor color) = 0;
};
