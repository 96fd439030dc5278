// The progress gauge's values and picture, on any canvas. The controls (TGauge in Gauges.h for
// Qt, the Win32 window's own) keep a GaugeRange and paint with PaintGauge.
//
//   GaugeRange range;                             // 0 to 100, Progress 0
//   if (range.SetProgress(42)) Repaint();         // true: the percentage shown changed
//   GaugeLook look{gkHorizontalBar, true, bsNone, clGold, clNavy};
//   PaintGauge(canvas, look, range.PercentDone());    // canvas: the gauge's picture, its size
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "canvas.h"
#include "gdi_types.h"

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle { bsNone, bsSingle };

// An operation refused because it would leave the component in an invalid state.
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// MinValue, MaxValue and Progress, with the rules of their setters.
class GaugeRange {
 public:
  int MinValue() const { return min_value_; }
  int MaxValue() const { return max_value_; }
  int Progress() const { return progress_; }
  // Each returns whether the gauge must be repainted. SetMinValue refuses a value above
  // MaxValue and SetMaxValue one below MinValue with EInvalidOperation ("Wert muß zwischen
  // %d und %d liegen"), unless `loading`.
  bool SetMinValue(int value, bool loading);
  bool SetMaxValue(int value, bool loading);
  // Clamped to MinValue..MaxValue; true only when the whole percentage changed.
  bool SetProgress(int value);
  // 0 when MaxValue equals MinValue, else the whole percentage of Progress in the range.
  int PercentDone() const;

 private:
  int min_value_ = 0;
  int max_value_ = 100;
  int progress_ = 0;
};

struct GaugeLook {
  TGaugeKind kind = gkHorizontalBar;
  bool show_text = true;
  TBorderStyle border_style = bsSingle;
  TColor fore_color = clBlack;
  TColor back_color = clWhite;
};

// Builds the gauge's picture on `canvas` (an off-screen bitmap of the gauge's size): the kind's
// picture combined by exclusive-or into black, then the percentage, in white, combined by
// exclusive-or, so that it shows in the inverse of what lies under it.
void PaintGauge(Canvas& canvas, const GaugeLook& look, int percent);
