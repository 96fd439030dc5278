#include "gradient_paint.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Width (or height) of the strip that a line gradient is drawn into before it is tiled.
constexpr int kStripSize = 8;

// The blend through the colour stops, one step at a time. Shared by the line and the nested
// styles: after each step the position is compared with the next segment boundary, and the
// running colour moves by Step / S of the distance between the segment's two stops.
class ColorBlend {
 public:
  ColorBlend(const std::array<TColor, 5>& stops, int segments, int segment_length, int step)
      : stops_(stops),
        segments_(segments),
        segment_length_(segment_length),
        step_(step),
        boundary_(segment_length),
        from_(stops[0]),
        to_(segments > 1 ? stops[1] : stops[0]),
        r_(RedOf(from_)),
        g_(GreenOf(from_)),
        b_(BlueOf(from_)) {}

  // The running colour rounded to whole components (ties to even) and clamped to 0..255.
  TColor Current() const { return MakeColor(Component(r_), Component(g_), Component(b_)); }

  // Moves on after a line: `position` is where the next line starts.
  void Advance(std::int64_t position) {
    if (position >= boundary_) {
      boundary_ += segment_length_;
      stop_ = std::min(stop_ + 1, segments_ + 1);
      from_ = to_;
      to_ = stops_[static_cast<std::size_t>(stop_ - 1)];
    }
    // A segment of length 0 (an area narrower than the number of segments) keeps the colour
    // where it is instead of dividing by zero.
    if (segment_length_ <= 0) return;
    r_ += static_cast<double>(RedOf(to_) - RedOf(from_)) / segment_length_ * step_;
    g_ += static_cast<double>(GreenOf(to_) - GreenOf(from_)) / segment_length_ * step_;
    b_ += static_cast<double>(BlueOf(to_) - BlueOf(from_)) / segment_length_ * step_;
  }

 private:
  static int Component(double v) {
    const double rounded = std::nearbyint(v);
    return static_cast<int>(std::clamp(rounded, 0.0, 255.0));
  }

  const std::array<TColor, 5>& stops_;
  int segments_;
  int segment_length_;
  int step_;
  std::int64_t boundary_;
  int stop_ = 2;
  TColor from_;
  TColor to_;
  double r_;
  double g_;
  double b_;
};

// Number of segments as drawn: a count below 1 is taken as 3; more than 4 would run past the
// fifth stop, so the count is held at 4.
int SegmentsFor(int color_count) {
  return color_count < 1 ? 3 : std::min(color_count, 4);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TGradient

void TGradient::SetGradientStyle(TGradientStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TGradient::SetLineSize(int value) {
  if (value == line_size_) return;
  line_size_ = value;
  Changed();
}

void TGradient::SetColor(int index, TColor value) {
  TColor& slot = colors_[static_cast<std::size_t>(index)];
  if (value == slot) return;
  slot = value;
  Changed();
}

void TGradient::SetColorCount(int value) {
  value = std::clamp(value, 1, 4);
  if (value == color_count_) return;
  color_count_ = value;
  Changed();
}

void TGradient::SetLineDirection(TDirection value) {
  if (value == direction_) return;
  direction_ = value;
  Changed();
}

void TGradient::Assign(const TGradient& source) {
  style_ = source.style_;
  line_size_ = source.line_size_;
  colors_ = source.colors_;
  color_count_ = source.color_count_;
  direction_ = source.direction_;
  Changed();
}

void TGradient::Changed() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void DrawGradient(Canvas& canvas, const TRect& rect, TGradient& gradient) {
  if (rect.Right == 0 || rect.Bottom == 0) return;
  const std::array<TColor, 5> stops = gradient.Colors();
  switch (gradient.GradientStyle()) {
    case gsLine:
      DrawLineGradient(canvas, rect, stops, gradient.LineSize(), gradient.LineDirection(),
                       gradient.ColorCount());
      break;
    case gsEllipse:
    case gsRect:
      DrawNestedGradient(canvas, rect, stops, gradient.LineSize(), gradient.ColorCount(),
                         gradient.GradientStyle());
      break;
    case gsCustomRect:
      DrawNestedGradient(canvas, rect, stops, gradient.LineSize(), gradient.ColorCount(),
                         gsCustomRect, gradient.OnDrawRect);
      break;
  }
}

void DrawLineGradient(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                      int line_size, TDirection direction, int color_count) {
  const TSize strip_size =
      direction == diHorizonal ? TSize{kStripSize, rect.Height()} : TSize{rect.Width(), kStripSize};
  if (strip_size.Width <= 0 || strip_size.Height <= 0) return;
  const std::unique_ptr<Canvas> strip = canvas.NewBitmap(strip_size, clBlack);
  FillLines(*strip, TRect{0, 0, strip_size.Width, strip_size.Height}, stops, line_size, direction,
            color_count);
  TileBitmap(canvas, rect, *strip);
}

void FillLines(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops, int line_size,
               TDirection direction, int color_count) {
  if (rect.Right == 0 || rect.Bottom == 0) return;
  const int step = std::max(line_size, 1);
  const int segments = SegmentsFor(color_count);
  const bool horizontal = direction == diHorizonal;
  const std::int64_t first = horizontal ? rect.Top : rect.Left;
  const std::int64_t last = horizontal ? rect.Bottom : rect.Right;
  const int segment_length = static_cast<int>((last - first) / segments);

  ColorBlend blend(stops, segments, segment_length, step);
  for (std::int64_t p = first; p <= last;) {
    const int start = static_cast<int>(p);
    const int end = static_cast<int>(std::min<std::int64_t>(p + step, last + 1));
    const TRect line = horizontal ? TRect{rect.Left, start, rect.Right, end}
                                  : TRect{start, rect.Top, end, rect.Bottom};
    canvas.FillRect(line, blend.Current());
    p += step;
    blend.Advance(p);
  }
}

void TileBitmap(Canvas& canvas, const TRect& rect, const Canvas& tile) {
  const int tw = tile.Size().Width;
  const int th = tile.Size().Height;
  if (tw <= 0 || th <= 0) return;
  // Every row starts again at the area's left edge (not at x = 0), so that an area away from
  // the left edge is covered and nothing left of it is painted.
  for (int y = rect.Top; y < rect.Bottom; y += th) {
    const int h = std::min(th, rect.Bottom - y);
    for (int x = rect.Left; x < rect.Right; x += tw) {
      const int w = std::min(tw, rect.Right - x);
      canvas.Draw(TPoint{x, y}, tile, TRect{0, 0, w, h});
    }
  }
}

void DrawNestedGradient(Canvas& canvas, const TRect& rect, const std::array<TColor, 5>& stops,
                        int line_size, int color_count, TGradientStyle style,
                        const TDrawRectEvent& on_draw_rect) {
  if (rect.Right == 0 || rect.Bottom == 0) return;
  // A step below one pixel would never move inwards; it is drawn as one pixel, as the line
  // style does.
  const int step = std::max(line_size, 1);
  const int segments = SegmentsFor(color_count);
  const int segment_length = std::max(rect.Width(), rect.Height()) / segments / 2;

  ColorBlend blend(stops, segments, segment_length, step);
  int x = rect.Left;
  int y = rect.Top;
  while (x < rect.Right / 2 && y < rect.Bottom / 2) {
    const TColor color = blend.Current();
    switch (style) {
      case gsEllipse:
        canvas.FillEllipse(TRect{x, y, rect.Right - x, rect.Bottom - y}, color);
        break;
      case gsCustomRect:
        if (on_draw_rect) {
          on_draw_rect(nullptr, canvas, TRect{x, y, rect.Right, rect.Bottom});
          break;
        }
        [[fallthrough]];
      case gsRect:
      case gsLine:
        canvas.FillRect(TRect{x, y, rect.Right, rect.Bottom}, color);
        break;
    }
    x += step;
    y += step;
    blend.Advance(y);
  }
}
