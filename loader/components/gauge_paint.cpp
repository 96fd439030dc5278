#include "gauge_paint.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>

namespace {

std::string RangeError(std::int64_t low, std::int64_t high) {
  return "Wert mu\xC3\x9F zwischen " + std::to_string(low) + " und " + std::to_string(high) +
         " liegen";
}

// A bitmap like `like` (its size), filled with the window frame colour.
std::unique_ptr<Canvas> MakeLike(Canvas& like) {
  return like.NewBitmap(like.Size(), clWindowFrame);
}

void DrawKind(Canvas& overlay, const TRect& paint, const GaugeLook& look, int percent) {
  // W and H count both edges of the paint rectangle, so the bar reaches one pixel past the
  // area's right edge at 100 % (cut by the bitmap).
  const int pw = paint.Right - paint.Left + 1;
  const int ph = paint.Bottom - paint.Top + 1;
  const double fraction = percent * 0.01;
  switch (look.kind) {
    case gkText:
      overlay.FillRect(paint, look.back_color);
      break;
    case gkHorizontalBar: {
      overlay.FillRect(paint, look.back_color);
      const int x = std::min(static_cast<int>(std::trunc(pw * fraction)), pw);
      if (x >= 1) overlay.FillRect(TRect{paint.Left, paint.Top, x, ph}, look.fore_color);
      break;
    }
    case gkVerticalBar: {
      overlay.FillRect(paint, look.back_color);
      const int y = std::min(static_cast<int>(std::trunc(ph * fraction)), ph - 1);
      overlay.FillRect(TRect{paint.Left, ph - y, pw, ph}, look.fore_color);
      break;
    }
    case gkPie:
      // A disc in the back colour with a slice in the fore colour growing clockwise from
      // twelve o'clock.
      overlay.Pie(paint, 0, 360, look.back_color, clBlack);
      if (percent != 0) overlay.Pie(paint, 90, -percent * 3.6, look.fore_color, clBlack);
      break;
    case gkNeedle: {
      // A half disc in the back colour with a needle in the fore colour turning from the left
      // (0 %) to the right (100 %).
      const TRect disc{paint.Left, paint.Top, paint.Right, paint.Top + 2 * paint.Height() - 1};
      overlay.Pie(disc, 0, 180, look.back_color, clBlack);
      const double cx = disc.Left + (disc.Width() - 1) / 2.0;
      const double cy = disc.Top + (disc.Height() - 1) / 2.0;
      const double angle = (180.0 - percent * 1.8) * std::numbers::pi / 180.0;
      const TPoint centre{static_cast<int>(std::lround(cx)), static_cast<int>(std::lround(cy))};
      const TPoint tip{
          static_cast<int>(std::lround(cx + std::cos(angle) * (disc.Width() - 1) / 2)),
          static_cast<int>(std::lround(cy - std::sin(angle) * (disc.Height() - 1) / 2))};
      overlay.Line(centre, tip, look.fore_color);
      break;
    }
  }
}

}  // namespace

bool GaugeRange::SetMinValue(int value, bool loading) {
  if (value == min_value_) return false;
  if (value > max_value_ && !loading) {
    throw EInvalidOperation(
        RangeError(-std::numeric_limits<int>::max(), std::int64_t{max_value_} - 1));
  }
  min_value_ = value;
  if (progress_ < value) progress_ = value;
  return true;
}

bool GaugeRange::SetMaxValue(int value, bool loading) {
  if (value == max_value_) return false;
  if (value < min_value_ && !loading) {
    throw EInvalidOperation(
        RangeError(std::int64_t{min_value_} + 1, std::numeric_limits<int>::max()));
  }
  max_value_ = value;
  if (progress_ > value) progress_ = value;
  return true;
}

bool GaugeRange::SetProgress(int value) {
  const int low = std::min(min_value_, max_value_);
  const int high = std::max(min_value_, max_value_);
  value = std::clamp(value, low, high);
  if (value == progress_) return false;
  const int before = PercentDone();
  progress_ = value;
  return PercentDone() != before;
}

int GaugeRange::PercentDone() const {
  if (max_value_ == min_value_) return 0;
  // In 64 bits: the range may span the whole integer range, where 32 bits would overflow.
  const std::int64_t done = std::int64_t{progress_} - min_value_;
  const std::int64_t range = std::int64_t{max_value_} - min_value_;
  return static_cast<int>(done * 100 / range);
}

void PaintGauge(Canvas& canvas, const GaugeLook& look, int percent) {
  const TSize size = canvas.Size();
  canvas.FillRect(TRect{0, 0, size.Width, size.Height}, clBlack);
  TRect paint{0, 0, size.Width, size.Height};
  if (look.border_style == bsSingle) paint = Shrink(paint, 1);

  const std::unique_ptr<Canvas> overlay = MakeLike(canvas);
  overlay->FillRect(TRect{0, 0, size.Width, size.Height}, clBlack);
  DrawKind(*overlay, paint, look, percent);
  canvas.XorDraw(*overlay);

  if (!look.show_text || paint.Width() <= 0 || paint.Height() <= 0) return;
  const std::unique_ptr<Canvas> text = MakeLike(canvas);
  text->FillRect(TRect{0, 0, size.Width, size.Height}, clBlack);
  const std::string label = std::to_string(percent) + "%";
  const TSize extent = text->TextExtent(label);
  const int x = (paint.Right - paint.Left + 1 - extent.Width) / 2;
  const int y = (paint.Bottom - paint.Top + 1 - extent.Height) / 2;
  text->WriteText(TPoint{x, y}, label, clWhite, paint);
  canvas.XorDraw(*text);
}
