// The canvas of the components painted with QPainter: on a widget (through the widget's
// painter) or on a QImage (an off-screen bitmap). Antialiasing is off, so that every pixel is
// the one the drawing rules give.
//
//   QImage picture(369, 161, QImage::Format_RGB32);
//   QtCanvas canvas(picture);                 // paints into the picture
//   DrawGradient(canvas, TRect{0, 0, 369, 161}, gradient);
//
//   QPainter painter(this);                   // in a paintEvent
//   QtCanvas canvas(painter, TSize{width(), height()});
//   canvas.SetFont(font());
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <memory>
#include <optional>

#include "canvas.h"

class QtCanvas final : public Canvas {
 public:
  // Paints through `painter` on a surface of `size`.
  QtCanvas(QPainter& painter, TSize size);
  // Paints into `image` (which must outlive the canvas).
  explicit QtCanvas(QImage& image);
  // An off-screen bitmap of its own.
  QtCanvas(TSize size, TColor fill, const QFont& font);

  QPainter& Painter() { return *painter_; }
  // The picture behind a bitmap canvas (null for a canvas on a painter).
  const QImage* Image() const { return image_; }
  void SetFont(const QFont& font);

  TSize Size() const override { return size_; }
  void FillRect(const TRect& r, TColor color) override;
  void FillRect(const TRect& r, const BrushPattern& pattern) override;
  void FillEllipse(const TRect& r, TColor color) override;
  void FillEllipse(const TRect& r, const BrushPattern& pattern) override;
  void Arc(const TRect& r, TPoint start, TPoint end, TColor pen, int width) override;
  void Pie(const TRect& r, double start_degrees, double span_degrees, TColor fill,
           TColor outline) override;
  void Line(TPoint from, TPoint to, TColor pen) override;
  std::unique_ptr<Canvas> NewBitmap(TSize size, TColor fill) override;
  void Draw(TPoint at, const Canvas& bitmap, const TRect& source) override;
  void XorDraw(const Canvas& bitmap) override;
  TSize TextExtent(std::string_view text) override;
  TSize CaptionExtent(std::string_view caption) override;
  void WriteText(TPoint at, std::string_view text, TColor color, const TRect& clip) override;
  void DrawCaption(const TRect& bounds, std::string_view caption, TColor color) override;

 private:
  void Begin();

  std::unique_ptr<QImage> own_image_;
  QImage* image_ = nullptr;
  std::optional<QPainter> own_painter_;
  QPainter* painter_ = nullptr;
  TSize size_;
  QFont font_;
};

// The 8 x 8 picture of a brush pattern.
QImage PatternImage(const BrushPattern& pattern);
