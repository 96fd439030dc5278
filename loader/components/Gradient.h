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
// The look and its drawing are in gradient_paint.h. Every change of the settings rebuilds the
// control's off-screen picture and repaints it; a paint copies from that picture. The picture is
// also rebuilt when the control's size changed and when its own Color changes.
#pragma once

#include <QImage>
#include <QWidget>

#include "GdiPaint.h"
#include "gradient_paint.h"

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
