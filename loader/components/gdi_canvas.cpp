#include "gdi_canvas.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

COLORREF Ref(TColor color) {
  return static_cast<COLORREF>(ColorToRGB(color));
}

RECT Win(const TRect& r) {
  return RECT{r.Left, r.Top, r.Right, r.Bottom};
}

HDC DcOf(const Canvas& bitmap) {
  const auto* gdi = dynamic_cast<const GdiCanvas*>(&bitmap);
  if (gdi == nullptr) throw std::invalid_argument("GdiCanvas: only its own bitmaps can be drawn");
  return gdi->Dc();
}

// A pattern brush from an 8 x 8 picture (a packed bottom-up DIB, as pattern brushes take it).
HBRUSH PatternBrush(const BrushPattern& pattern) {
  struct PackedDib {
    BITMAPINFOHEADER header;
    DWORD pixels[64];
  } dib{};
  dib.header.biSize = sizeof(BITMAPINFOHEADER);
  dib.header.biWidth = 8;
  dib.header.biHeight = 8;
  dib.header.biPlanes = 1;
  dib.header.biBitCount = 32;
  dib.header.biCompression = BI_RGB;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const TColor c = ColorToRGB(pattern[static_cast<std::size_t>(y * 8 + x)]);
      // DIB pixels are blue, green, red from the low byte up.
      dib.pixels[(7 - y) * 8 + x] =
          static_cast<DWORD>((RedOf(c) << 16) | (GreenOf(c) << 8) | BlueOf(c));
    }
  }
  return CreateDIBPatternBrushPt(&dib, DIB_RGB_COLORS);
}

// A point far out on the ray at `degrees` from the centre of r (0 at three o'clock,
// counter-clockwise), for the ray arguments of Arc and Pie.
POINT RayPoint(const TRect& r, double degrees) {
  const double cx = (r.Left + r.Right) / 2.0;
  const double cy = (r.Top + r.Bottom) / 2.0;
  const double radians = degrees * std::numbers::pi / 180.0;
  constexpr double kFar = 10000.0;
  return POINT{static_cast<LONG>(std::lround(cx + std::cos(radians) * kFar)),
               static_cast<LONG>(std::lround(cy - std::sin(radians) * kFar))};
}

}  // namespace

std::string AnsiText(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<std::size_t>(wide_length));
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wide_length);
  const int length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

GdiCanvas::GdiCanvas(HDC dc, TSize size) : dc_(dc), size_(size) {
  SetBkMode(dc_, TRANSPARENT);
}

GdiCanvas::GdiCanvas(TSize size, TColor fill, HFONT font) : size_(size), own_dc_(true) {
  dc_ = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.Width > 0 ? size.Width : 1;
  info.bmiHeader.biHeight = -(size.Height > 0 ? size.Height : 1);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  old_bitmap_ = SelectObject(dc_, bitmap_);
  SetBkMode(dc_, TRANSPARENT);
  SetFont(font);
  FillRect(TRect{0, 0, size.Width, size.Height}, fill);
}

GdiCanvas::~GdiCanvas() {
  if (old_font_ != nullptr) SelectObject(dc_, old_font_);
  if (!own_dc_) return;
  SelectObject(dc_, old_bitmap_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

void GdiCanvas::SetFont(HFONT font) {
  font_ = font;
  if (font == nullptr) return;
  const HGDIOBJ previous = SelectObject(dc_, font);
  if (old_font_ == nullptr) old_font_ = previous;
}

void GdiCanvas::FillRect(const TRect& r, TColor color) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const RECT rect = Win(r);
  const HBRUSH brush = CreateSolidBrush(Ref(color));
  ::FillRect(dc_, &rect, brush);
  DeleteObject(brush);
}

void GdiCanvas::FillRect(const TRect& r, const BrushPattern& pattern) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const RECT rect = Win(r);
  const HBRUSH brush = PatternBrush(pattern);
  SetBrushOrgEx(dc_, 0, 0, nullptr);
  ::FillRect(dc_, &rect, brush);
  DeleteObject(brush);
}

void GdiCanvas::FillEllipseWith(const TRect& r, HBRUSH brush) {
  const HGDIOBJ old_pen = SelectObject(dc_, GetStockObject(NULL_PEN));
  const HGDIOBJ old_brush = SelectObject(dc_, brush);
  SetBrushOrgEx(dc_, 0, 0, nullptr);
  Ellipse(dc_, r.Left, r.Top, r.Right, r.Bottom);
  SelectObject(dc_, old_brush);
  SelectObject(dc_, old_pen);
}

void GdiCanvas::FillEllipse(const TRect& r, TColor color) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const HBRUSH brush = CreateSolidBrush(Ref(color));
  FillEllipseWith(r, brush);
  DeleteObject(brush);
}

void GdiCanvas::FillEllipse(const TRect& r, const BrushPattern& pattern) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const HBRUSH brush = PatternBrush(pattern);
  FillEllipseWith(r, brush);
  DeleteObject(brush);
}

void GdiCanvas::Arc(const TRect& r, TPoint start, TPoint end, TColor pen, int width) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const HPEN arc_pen = CreatePen(PS_SOLID, width, Ref(pen));
  const HGDIOBJ old_pen = SelectObject(dc_, arc_pen);
  SetArcDirection(dc_, AD_COUNTERCLOCKWISE);
  ::Arc(dc_, r.Left, r.Top, r.Right, r.Bottom, start.X, start.Y, end.X, end.Y);
  SelectObject(dc_, old_pen);
  DeleteObject(arc_pen);
}

void GdiCanvas::Pie(const TRect& r, double start_degrees, double span_degrees, TColor fill,
                    TColor outline) {
  if (r.Width() <= 0 || r.Height() <= 0 || span_degrees == 0) return;
  const HPEN pen = CreatePen(PS_SOLID, 1, Ref(outline));
  const HBRUSH brush = CreateSolidBrush(Ref(fill));
  const HGDIOBJ old_pen = SelectObject(dc_, pen);
  const HGDIOBJ old_brush = SelectObject(dc_, brush);
  if (span_degrees >= 360 || span_degrees <= -360) {
    Ellipse(dc_, r.Left, r.Top, r.Right, r.Bottom);
  } else {
    // Pie runs counter-clockwise: a clockwise slice runs from its far end back to its start.
    const double from = span_degrees > 0 ? start_degrees : start_degrees + span_degrees;
    const double to = span_degrees > 0 ? start_degrees + span_degrees : start_degrees;
    const POINT a = RayPoint(r, from);
    const POINT b = RayPoint(r, to);
    SetArcDirection(dc_, AD_COUNTERCLOCKWISE);
    ::Pie(dc_, r.Left, r.Top, r.Right, r.Bottom, a.x, a.y, b.x, b.y);
  }
  SelectObject(dc_, old_brush);
  SelectObject(dc_, old_pen);
  DeleteObject(brush);
  DeleteObject(pen);
}

void GdiCanvas::Line(TPoint from, TPoint to, TColor pen) {
  const HPEN line_pen = CreatePen(PS_SOLID, 1, Ref(pen));
  const HGDIOBJ old_pen = SelectObject(dc_, line_pen);
  MoveToEx(dc_, from.X, from.Y, nullptr);
  LineTo(dc_, to.X, to.Y);
  SelectObject(dc_, old_pen);
  DeleteObject(line_pen);
}

std::unique_ptr<Canvas> GdiCanvas::NewBitmap(TSize size, TColor fill) {
  return std::make_unique<GdiCanvas>(size, fill, font_);
}

void GdiCanvas::Draw(TPoint at, const Canvas& bitmap, const TRect& source) {
  if (source.Width() <= 0 || source.Height() <= 0) return;
  BitBlt(dc_, at.X, at.Y, source.Width(), source.Height(), DcOf(bitmap), source.Left, source.Top,
         SRCCOPY);
}

void GdiCanvas::XorDraw(const Canvas& bitmap) {
  const TSize size = bitmap.Size();
  BitBlt(dc_, 0, 0, size.Width, size.Height, DcOf(bitmap), 0, 0, SRCINVERT);
}

TSize GdiCanvas::TextExtent(std::string_view text) {
  const std::string ansi = AnsiText(text);
  SIZE size{};
  GetTextExtentPoint32A(dc_, ansi.c_str(), static_cast<int>(ansi.size()), &size);
  return TSize{size.cx, size.cy};
}

TSize GdiCanvas::CaptionExtent(std::string_view caption) {
  if (caption.empty()) return TSize{};
  const std::string ansi = AnsiText(caption);
  RECT rect{0, 0, 0, 0};
  DrawTextA(dc_, ansi.c_str(), static_cast<int>(ansi.size()), &rect, DT_CALCRECT | DT_SINGLELINE);
  return TSize{rect.right - rect.left, rect.bottom - rect.top};
}

void GdiCanvas::WriteText(TPoint at, std::string_view text, TColor color, const TRect& clip) {
  const std::string ansi = AnsiText(text);
  const RECT rect = Win(clip);
  SetTextColor(dc_, Ref(color));
  SetBkMode(dc_, TRANSPARENT);
  ExtTextOutA(dc_, at.X, at.Y, ETO_CLIPPED, &rect, ansi.c_str(), static_cast<UINT>(ansi.size()),
              nullptr);
}

void GdiCanvas::DrawCaption(const TRect& bounds, std::string_view caption, TColor color) {
  const std::string ansi = AnsiText(caption);
  RECT rect = Win(bounds);
  SetTextColor(dc_, Ref(color));
  SetBkMode(dc_, TRANSPARENT);
  DrawTextA(dc_, ansi.c_str(), static_cast<int>(ansi.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
}
