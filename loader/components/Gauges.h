// The progress gauge: a bar (or other picture) with the percentage written over it in the
// inverse colours. Values and picture are in gauge_paint.h.
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

#include "GdiPaint.h"
#include "gauge_paint.h"

class TGauge : public QWidget {
 public:
  // 100 x 100, gkHorizontalBar, ShowText, bsSingle, black on white, 0 to 100, Progress 0.
  explicit TGauge(QWidget* parent = nullptr);

  TGaugeKind Kind() const { return look_.kind; }
  void SetKind(TGaugeKind value);
  bool ShowText() const { return look_.show_text; }
  void SetShowText(bool value);
  TBorderStyle BorderStyle() const { return look_.border_style; }
  void SetBorderStyle(TBorderStyle value);
  TColor ForeColor() const { return look_.fore_color; }
  void SetForeColor(TColor value);
  TColor BackColor() const { return look_.back_color; }
  void SetBackColor(TColor value);
  void SetFont(const QFont& value) { setFont(value); }

  int MinValue() const { return range_.MinValue(); }
  // Refused with EInvalidOperation ("Wert muß zwischen -2147483647 und MaxValue-1 liegen") when
  // above MaxValue; raises Progress to the new minimum.
  void SetMinValue(int value);
  int MaxValue() const { return range_.MaxValue(); }
  // Refused with EInvalidOperation ("Wert muß zwischen MinValue+1 und 2147483647 liegen") when
  // below MinValue; lowers Progress to the new maximum.
  void SetMaxValue(int value);
  int Progress() const { return range_.Progress(); }
  // Clamped to MinValue..MaxValue; repaints only when the whole percentage changes.
  void SetProgress(int value);
  void AddProgress(int value);
  // 0 when MaxValue equals MinValue, else the whole percentage of Progress in the range.
  int PercentDone() const { return range_.PercentDone(); }

  // While loading a stored layout, the range checks of SetMinValue and SetMaxValue are off.
  void SetLoading(bool loading) { loading_ = loading; }

  // Builds the picture the gauge shows (what a paint copies to the screen).
  QImage RenderPicture() const;

  QSize sizeHint() const override { return QSize(100, 100); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  template <typename T>
  void SetLook(T GaugeLook::*field, T value);

  GaugeLook look_;
  GaugeRange range_;
  bool loading_ = false;
};
