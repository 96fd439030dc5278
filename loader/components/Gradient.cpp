#include "Gradient.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include "qt_canvas.h"

// ---------------------------------------------------------------------------------------------
// TDfGradient

TDfGradient::TDfGradient(QWidget* parent) : QWidget(parent), gradient_(new TGradient) {
  gradient_->SetLineSize(2);
  gradient_->SetColor1(clBlack);
  gradient_->SetColor2(clWhite);
  gradient_->SetColor3(clBlack);
  gradient_->SetColor4(clWhite);
  gradient_->SetColor5(clBlack);
  gradient_->SetColorCount(4);
  gradient_->SetGradientStyle(gsLine);
  gradient_->SetLineDirection(diHorizonal);
  // Connected only now, so that the settings above do not build the picture yet.
  gradient_->OnChange = [this](TGradient*) { GradientChanged(); };
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(144, 144);
}

TDfGradient::~TDfGradient() {
  if (align_ == alClient && parentWidget() != nullptr) parentWidget()->removeEventFilter(this);
  delete gradient_;
}

void TDfGradient::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  UpdateBitmap();
  update();
}

void TDfGradient::SetAlign(TAlign value) {
  if (value == align_) return;
  align_ = value;
  QWidget* owner = parentWidget();
  if (owner == nullptr) return;
  if (align_ == alClient) {
    owner->installEventFilter(this);
    setGeometry(owner->rect());
  } else {
    owner->removeEventFilter(this);
  }
}

bool TDfGradient::eventFilter(QObject* watched, QEvent* event) {
  if (align_ == alClient && watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
  }
  return QWidget::eventFilter(watched, event);
}

void TDfGradient::UpdateBitmap() {
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) {
    bitmap_ = QImage();
    return;
  }
  bitmap_ = QImage(w, h, QImage::Format_RGB32);
  bitmap_.fill(ToQColor(color_));
  QtCanvas canvas(bitmap_);
  DrawGradient(canvas, TRect{0, 0, w, h}, *gradient_);
}

void TDfGradient::GradientChanged() {
  UpdateBitmap();
  update();
}

void TDfGradient::paintEvent(QPaintEvent* event) {
  if (bitmap_.size() != size()) UpdateBitmap();
  if (bitmap_.isNull()) return;
  QPainter canvas(this);
  canvas.drawImage(event->rect(), bitmap_, event->rect());
}
