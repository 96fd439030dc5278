#include "qt_canvas.h"

#include <QBrush>
#include <QFontMetrics>
#include <QPen>
#include <QString>
#include <cmath>
#include <stdexcept>

#include "GdiPaint.h"

namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Text is drawn with plain pixels, as on the classic screens the components imitate.
QFont PlainPixels(const QFont& font) {
  QFont f = font;
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

const QImage& BitmapOf(const Canvas& bitmap) {
  const auto* qt = dynamic_cast<const QtCanvas*>(&bitmap);
  if (qt == nullptr || qt->Image() == nullptr) {
    throw std::invalid_argument("QtCanvas: only its own bitmaps can be drawn");
  }
  return *qt->Image();
}

constexpr int kCaptionFlags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;

}  // namespace

QImage PatternImage(const BrushPattern& pattern) {
  QImage image(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      image.setPixelColor(x, y, ToQColor(pattern[static_cast<std::size_t>(y * 8 + x)]));
    }
  }
  return image;
}

QtCanvas::QtCanvas(QPainter& painter, TSize size) : painter_(&painter), size_(size) {
  Begin();
}

QtCanvas::QtCanvas(QImage& image)
    : image_(&image), size_{image.width(), image.height()}, font_(QFont()) {
  own_painter_.emplace(image_);
  painter_ = &*own_painter_;
  Begin();
}

QtCanvas::QtCanvas(TSize size, TColor fill, const QFont& font)
    : own_image_(std::make_unique<QImage>(size.Width, size.Height, QImage::Format_RGB32)),
      image_(own_image_.get()),
      size_(size),
      font_(font) {
  image_->fill(ToQColor(fill));
  own_painter_.emplace(image_);
  painter_ = &*own_painter_;
  Begin();
}

void QtCanvas::Begin() {
  painter_->setRenderHint(QPainter::Antialiasing, false);
  painter_->setRenderHint(QPainter::TextAntialiasing, false);
  // Shapes are filled without an outline unless a call draws one.
  painter_->setPen(Qt::NoPen);
  SetFont(painter_->font());
}

void QtCanvas::SetFont(const QFont& font) {
  font_ = PlainPixels(font);
  painter_->setFont(font_);
}

void QtCanvas::FillRect(const TRect& r, TColor color) {
  gdi::FillRect(*painter_, r, ToQColor(color));
}

void QtCanvas::FillRect(const TRect& r, const BrushPattern& pattern) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  painter_->fillRect(ToQRect(r), QBrush(PatternImage(pattern)));
}

void QtCanvas::FillEllipse(const TRect& r, TColor color) {
  painter_->save();
  painter_->setBrush(ToQColor(color));
  gdi::FillEllipse(*painter_, r);
  painter_->restore();
}

void QtCanvas::FillEllipse(const TRect& r, const BrushPattern& pattern) {
  painter_->save();
  painter_->setBrush(QBrush(PatternImage(pattern)));
  gdi::FillEllipse(*painter_, r);
  painter_->restore();
}

void QtCanvas::Arc(const TRect& r, TPoint start, TPoint end, TColor pen, int width) {
  painter_->save();
  painter_->setPen(QPen(ToQColor(pen), width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  gdi::Arc(*painter_, r, ToQPoint(start), ToQPoint(end));
  painter_->restore();
}

void QtCanvas::Pie(const TRect& r, double start_degrees, double span_degrees, TColor fill,
                   TColor outline) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  painter_->save();
  painter_->setPen(QPen(ToQColor(outline), 1));
  painter_->setBrush(ToQColor(fill));
  const QRectF box(r.Left, r.Top, r.Width() - 1, r.Height() - 1);
  if (span_degrees >= 360 || span_degrees <= -360) {
    painter_->drawEllipse(box);
  } else if (span_degrees != 0) {
    painter_->drawPie(box, static_cast<int>(std::lround(start_degrees * 16)),
                      static_cast<int>(std::lround(span_degrees * 16)));
  }
  painter_->restore();
}

void QtCanvas::Line(TPoint from, TPoint to, TColor pen) {
  painter_->save();
  painter_->setPen(QPen(ToQColor(pen), 1));
  painter_->drawLine(ToQPoint(from), ToQPoint(to));
  painter_->restore();
}

std::unique_ptr<Canvas> QtCanvas::NewBitmap(TSize size, TColor fill) {
  return std::make_unique<QtCanvas>(size, fill, font_);
}

void QtCanvas::Draw(TPoint at, const Canvas& bitmap, const TRect& source) {
  if (source.Width() <= 0 || source.Height() <= 0) return;
  painter_->drawImage(QRect(at.X, at.Y, source.Width(), source.Height()), BitmapOf(bitmap),
                      ToQRect(source));
}

void QtCanvas::XorDraw(const Canvas& bitmap) {
  painter_->save();
  painter_->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter_->drawImage(0, 0, BitmapOf(bitmap));
  painter_->restore();
  // Both pictures are opaque; the operation also combines the alpha bytes, so the result is
  // made opaque again.
  if (image_ == nullptr) return;
  for (int y = 0; y < image_->height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image_->scanLine(y));
    for (int x = 0; x < image_->width(); ++x) line[x] |= 0xFF000000u;
  }
}

TSize QtCanvas::TextExtent(std::string_view text) {
  const QFontMetrics metrics(font_);
  return TSize{metrics.horizontalAdvance(ToQString(text)), metrics.height()};
}

TSize QtCanvas::CaptionExtent(std::string_view caption) {
  if (caption.empty()) return TSize{};
  const QSize size = QFontMetrics(font_).size(Qt::TextShowMnemonic, ToQString(caption));
  return TSize{size.width(), size.height()};
}

void QtCanvas::WriteText(TPoint at, std::string_view text, TColor color, const TRect& clip) {
  painter_->save();
  painter_->setClipRect(ToQRect(clip));
  painter_->setPen(ToQColor(color));
  painter_->setBrush(Qt::NoBrush);
  painter_->drawText(QPoint(at.X, at.Y + QFontMetrics(font_).ascent()), ToQString(text));
  painter_->restore();
}

void QtCanvas::DrawCaption(const TRect& bounds, std::string_view caption, TColor color) {
  painter_->save();
  painter_->setPen(ToQColor(color));
  painter_->setBrush(Qt::NoBrush);
  painter_->drawText(ToQRect(bounds), kCaptionFlags, ToQString(caption));
  painter_->restore();
}
