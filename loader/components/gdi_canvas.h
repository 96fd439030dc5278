// The canvas of the components painted with GDI: on a device context of the caller (a window
// being painted) or on an off-screen bitmap of its own (a memory device context with a 32-bit
// DIB section, so that every pixel is exact).
//
//   PAINTSTRUCT ps;
//   HDC dc = BeginPaint(window, &ps);
//   GdiCanvas canvas(dc, TSize{369, 191});
//   canvas.SetFont(font);
//   PaintGauge(canvas, look, 42);
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "canvas.h"

// A UTF-8 text in the system's Windows code page, for the ...A functions.
std::string AnsiText(std::string_view utf8);

class GdiCanvas final : public Canvas {
 public:
  // Paints on `dc` (owned by the caller) over a surface of `size`.
  GdiCanvas(HDC dc, TSize size);
  // An off-screen bitmap of its own, filled with `fill`, writing text in `font`.
  GdiCanvas(TSize size, TColor fill, HFONT font);
  ~GdiCanvas() override;
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  HDC Dc() const { return dc_; }
  // Text is written in `font` (owned by the caller).
  void SetFont(HFONT font);

  TSize Size() const override { return size_; }
  void FillRect(const TRect& r, TColor color) override;
  void FillRect(const TRect& r, const BrushPattern& pattern) override;
  void FillEllipse(const TRect& r, TColor color) override;
  void FillEllipse(const TRect& r, const BrushPattern& pattern) override;
  void Arc(const TRect& r, TPoint start, TPoint end, TColor pen, int width) override;
  void Pie(const TRect& r, double start_degrees, double span_degrees, TColor fill,
           TColor outline) override;
  void Line(TPoint from, TPoint to, TColor pen) override;
  std::unique_ptr<Canvas> NewBitmap(TSize size, TColor fill) override;
  void Draw(TPoint at, const Canvas& bitmap, const TRect& source) override;
  void XorDraw(const Canvas& bitmap) override;
  TSize TextExtent(std::string_view text) override;
  TSize CaptionExtent(std::string_view caption) override;
  void WriteText(TPoint at, std::string_view text, TColor color, const TRect& clip) override;
  void DrawCaption(const TRect& bounds, std::string_view caption, TColor color) override;

 private:
  void FillEllipseWith(const TRect& r, HBRUSH brush);

  HDC dc_ = nullptr;
  TSize size_;
  HFONT font_ = nullptr;
  // Of an off-screen bitmap.
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  HGDIOBJ old_font_ = nullptr;
  bool own_dc_ = false;
};
