#include "Gauges.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

std::string RangeError(std::int64_t low, std::int64_t high) {
  return QString::fromUtf8("Wert muß zwischen %1 und %2 liegen").arg(low).arg(high).toStdString();
}

// Combines `source` into `target` by exclusive-or of the colour bits.
void XorInto(QImage& target, const QImage& source) {
  {
    QPainter canvas(&target);
    canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    canvas.drawImage(0, 0, source);
  }
  // Both pictures are opaque; keep the result opaque (the operation also combines the alpha
  // bytes).
  for (int y = 0; y < target.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
    for (int x = 0; x < target.width(); ++x) line[x] |= 0xFF000000u;
  }
}

// A bitmap the size of `like`, filled with the window frame colour.
QImage MakeLike(const QImage& like) {
  QImage bitmap(like.size(), QImage::Format_RGB32);
  bitmap.fill(ToQColor(clWindowFrame));
  return bitmap;
}

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
}

void TGauge::RepaintNow() {
  repaint();
}

void TGauge::SetKind(TGaugeKind value) {
  if (value == kind_) return;
  kind_ = value;
  RepaintNow();
}

void TGauge::SetShowText(bool value) {
  if (value == show_text_) return;
  show_text_ = value;
  RepaintNow();
}

void TGauge::SetBorderStyle(TBorderStyle value) {
  if (value == border_style_) return;
  border_style_ = value;
  RepaintNow();
}

void TGauge::SetForeColor(TColor value) {
  if (value == fore_color_) return;
  fore_color_ = value;
  RepaintNow();
}

void TGauge::SetBackColor(TColor value) {
  if (value == back_color_) return;
  back_color_ = value;
  RepaintNow();
}

void TGauge::SetMinValue(int value) {
  if (value == min_value_) return;
  if (value > max_value_ && !loading_) {
    throw EInvalidOperation(
        RangeError(-std::numeric_limits<int>::max(), std::int64_t{max_value_} - 1));
  }
  min_value_ = value;
  if (progress_ < value) progress_ = value;
  RepaintNow();
}

void TGauge::SetMaxValue(int value) {
  if (value == max_value_) return;
  if (value < min_value_ && !loading_) {
    throw EInvalidOperation(
        RangeError(std::int64_t{min_value_} + 1, std::numeric_limits<int>::max()));
  }
  max_value_ = value;
  if (progress_ > value) progress_ = value;
  RepaintNow();
}

void TGauge::SetProgress(int value) {
  const int low = std::min(min_value_, max_value_);
  const int high = std::max(min_value_, max_value_);
  value = std::clamp(value, low, high);
  if (value == progress_) return;
  const int before = PercentDone();
  progress_ = value;
  if (PercentDone() != before) RepaintNow();
}

void TGauge::AddProgress(int value) {
  const std::int64_t sum = std::int64_t{progress_} + value;
  SetProgress(static_cast<int>(std::clamp<std::int64_t>(sum, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max())));
}

int TGauge::PercentDone() const {
  if (max_value_ == min_value_) return 0;
  // In 64 bits: the range may span the whole integer range, where 32 bits would overflow.
  const std::int64_t done = std::int64_t{progress_} - min_value_;
  const std::int64_t range = std::int64_t{max_value_} - min_value_;
  return static_cast<int>(done * 100 / range);
}

QImage TGauge::RenderPicture() const {
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) return QImage();

  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  TRect paint{0, 0, w, h};
  if (border_style_ == bsSingle) paint = TRect{1, 1, w - 1, h - 1};

  QImage overlay = MakeLike(image);
  overlay.fill(Qt::black);
  {
    QPainter canvas(&overlay);
    canvas.setRenderHint(QPainter::Antialiasing, false);
    const QColor fore = ToQColor(fore_color_);
    const QColor back = ToQColor(back_color_);
    const int pw = paint.Right - paint.Left + 1;
    const int ph = paint.Bottom - paint.Top + 1;
    const double fraction = PercentDone() * 0.01;
    switch (kind_) {
      case gkText:
        gdi::FillRect(canvas, paint, back);
        break;
      case gkHorizontalBar: {
        gdi::FillRect(canvas, paint, back);
        const int x = std::min(static_cast<int>(std::trunc(pw * fraction)), pw);
        if (x >= 1) gdi::FillRect(canvas, TRect{paint.Left, paint.Top, x, ph}, fore);
        break;
      }
      case gkVerticalBar: {
        gdi::FillRect(canvas, paint, back);
        const int y = std::min(static_cast<int>(std::trunc(ph * fraction)), ph - 1);
        gdi::FillRect(canvas, TRect{paint.Left, ph - y, pw, ph}, fore);
        break;
      }
      case gkPie: {
        // A disc in the back colour with a slice in the fore colour growing clockwise from
        // twelve o'clock.
        const QRectF disc(paint.Left, paint.Top, paint.Width() - 1, paint.Height() - 1);
        canvas.setPen(QPen(Qt::black, 1));
        canvas.setBrush(back);
        canvas.drawEllipse(disc);
        const int span = static_cast<int>(std::lround(-PercentDone() * 3.6 * 16));
        if (span != 0) {
          canvas.setBrush(fore);
          canvas.drawPie(disc, 90 * 16, span);
        }
        break;
      }
      case gkNeedle: {
        // A half disc in the back colour with a needle in the fore colour turning from the
        // left (0%) to the right (100%).
        const QRectF disc(paint.Left, paint.Top, paint.Width() - 1, 2.0 * (paint.Height() - 1));
        canvas.setPen(QPen(Qt::black, 1));
        canvas.setBrush(back);
        canvas.drawPie(disc, 0, 180 * 16);
        const QPointF centre = disc.center();
        const double angle = (180.0 - PercentDone() * 1.8) * M_PI / 180.0;
        const QPointF tip(centre.x() + std::cos(angle) * disc.width() / 2.0,
                          centre.y() - std::sin(angle) * disc.height() / 2.0);
        canvas.setPen(QPen(fore, 1));
        canvas.drawLine(centre, tip);
        break;
      }
    }
  }
  XorInto(image, overlay);

  if (show_text_ && paint.Width() > 0 && paint.Height() > 0) {
    QImage text = MakeLike(image);
    text.fill(Qt::black);
    {
      QFont f = font();
      f.setStyleStrategy(QFont::NoAntialias);
      const QFontMetrics metrics(f);
      const QString label = QString::number(PercentDone()) + QLatin1Char('%');
      const int x = (paint.Right - paint.Left + 1 - metrics.horizontalAdvance(label)) / 2;
      const int y = (paint.Bottom - paint.Top + 1 - metrics.height()) / 2;
      QPainter canvas(&text);
      canvas.setRenderHint(QPainter::Antialiasing, false);
      canvas.setRenderHint(QPainter::TextAntialiasing, false);
      canvas.setClipRect(paint.ToQRect());
      canvas.setFont(f);
      canvas.setPen(Qt::white);
      canvas.setBrush(Qt::NoBrush);
      canvas.drawText(QPoint(x, y + metrics.ascent()), label);
    }
    XorInto(image, text);
  }
  return image;
}

void TGauge::paintEvent(QPaintEvent*) {
  const QImage picture = RenderPicture();
  if (picture.isNull()) return;
  QPainter canvas(this);
  canvas.drawImage(0, 0, picture);
}
