#include "Gauges.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "qt_canvas.h"

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
}

template <typename T>
void TGauge::SetLook(T GaugeLook::*field, T value) {
  if (look_.*field == value) return;
  look_.*field = value;
  repaint();
}

void TGauge::SetKind(TGaugeKind value) {
  SetLook(&GaugeLook::kind, value);
}

void TGauge::SetShowText(bool value) {
  SetLook(&GaugeLook::show_text, value);
}

void TGauge::SetBorderStyle(TBorderStyle value) {
  SetLook(&GaugeLook::border_style, value);
}

void TGauge::SetForeColor(TColor value) {
  SetLook(&GaugeLook::fore_color, value);
}

void TGauge::SetBackColor(TColor value) {
  SetLook(&GaugeLook::back_color, value);
}

void TGauge::SetMinValue(int value) {
  if (range_.SetMinValue(value, loading_)) repaint();
}

void TGauge::SetMaxValue(int value) {
  if (range_.SetMaxValue(value, loading_)) repaint();
}

void TGauge::SetProgress(int value) {
  if (range_.SetProgress(value)) repaint();
}

void TGauge::AddProgress(int value) {
  const std::int64_t sum = std::int64_t{range_.Progress()} + value;
  SetProgress(static_cast<int>(std::clamp<std::int64_t>(sum, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max())));
}

QImage TGauge::RenderPicture() const {
  if (width() <= 0 || height() <= 0) return QImage();
  QtCanvas canvas(TSize{width(), height()}, clBlack, font());
  PaintGauge(canvas, look_, PercentDone());
  return *canvas.Image();
}

void TGauge::paintEvent(QPaintEvent*) {
  const QImage picture = RenderPicture();
  if (picture.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, picture);
}
