// The progress gauge: a bar (or other picture) with the percentage written over it in the
// inverse colours.
//
//   auto* bar = new TGauge(form);                    // 100 x 100 when new
//   bar->setGeometry(88, 170, 273, 13);
//   bar->SetBorderStyle(bsNone);
//   bar->SetForeColor(clGold);
//   bar->SetBackColor(clNavy);
//   bar->setFont(form->font());                      // or SetFont
//   bar->SetProgress(42);                            // shows "42%"
//
// MinValue above MaxValue (or MaxValue below MinValue) is refused with EInvalidOperation.
#pragma once

#include <QImage>
#include <QWidget>
#include <stdexcept>
#include <string>

#include "GdiPaint.h"

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle { bsNone, bsSingle };

// An operation refused because it would leave the component in an invalid state.
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TGauge : public QWidget {
 public:
  // 100 x 100, gkHorizontalBar, ShowText, bsSingle, black on white, 0 to 100, Progress 0.
  explicit TGauge(QWidget* parent = nullptr);

  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind value);
  bool ShowText() const { return show_text_; }
  void SetShowText(bool value);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle value);
  TColor ForeColor() const { return fore_color_; }
  void SetForeColor(TColor value);
  TColor BackColor() const { return back_color_; }
  void SetBackColor(TColor value);
  void SetFont(const QFont& value) { setFont(value); }

  int MinValue() const { return min_value_; }
  // Refused with EInvalidOperation ("Wert muß zwischen -2147483647 und MaxValue-1 liegen") when
  // above MaxValue; raises Progress to the new minimum.
  void SetMinValue(int value);
  int MaxValue() const { return max_value_; }
  // Refused with EInvalidOperation ("Wert muß zwischen MinValue+1 und 2147483647 liegen") when
  // below MinValue; lowers Progress to the new maximum.
  void SetMaxValue(int value);
  int Progress() const { return progress_; }
  // Clamped to MinValue..MaxValue; repaints only when the whole percentage changes.
  void SetProgress(int value);
  void AddProgress(int value);
  // 0 when MaxValue equals MinValue, else the whole percentage of Progress in the range.
  int PercentDone() const;

  // While loading a stored layout, the range checks of SetMinValue and SetMaxValue are off.
  void SetLoading(bool loading) { loading_ = loading; }

  // Builds the picture the gauge shows (what a paint copies to the screen).
  QImage RenderPicture() const;

  QSize sizeHint() const override { return QSize(100, 100); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RepaintNow();

  TGaugeKind kind_ = gkHorizontalBar;
  bool show_text_ = true;
  TBorderStyle border_style_ = bsSingle;
  TColor fore_color_ = clBlack;
  TColor back_color_ = clWhite;
  int min_value_ = 0;
  int max_value_ = 100;
  int progress_ = 0;
  bool loading_ = false;
};
