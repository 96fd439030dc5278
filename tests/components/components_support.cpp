#include "components_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <memory>

namespace components_test {
namespace {

// The widgets need one application object for the whole test program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "components_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

Rgb PixelAt(const QImage& image, int x, int y) {
  const QColor c = image.pixelColor(x, y);
  return Rgb{c.red(), c.green(), c.blue()};
}

Rgb RgbOf(TColor color) {
  const TColor c = ColorToRGB(color);
  return Rgb{RedOf(c), GreenOf(c), BlueOf(c)};
}

Rgb XorOf(TColor a, TColor b) {
  return RgbOf((a ^ b) & 0xFFFFFF);
}

std::set<Rgb> ColorsIn(const QImage& image, const QRect& area) {
  std::set<Rgb> colors;
  const QRect clipped = area.intersected(image.rect());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    for (int x = clipped.left(); x <= clipped.right(); ++x) colors.insert(PixelAt(image, x, y));
  }
  return colors;
}

QImage Render(QWidget& widget, TColor background) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(ToQColor(background));
  if (!image.isNull()) widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

bool SaveScreenshot(const QImage& image, const QString& name) {
  QString folder = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR");
  if (folder.isEmpty()) folder = QStringLiteral(MORVANE_SCREENSHOT_FOLDER);
  QDir().mkpath(folder);
  return image.save(folder + QStringLiteral("/components-") + name + QStringLiteral(".png"));
}

QFont WindowFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  font.setBold(true);
  return font;
}

void ApplyFormGradient(TGradient& g) {
  g.SetGradientStyle(gsLine);
  g.SetLineSize(1);
  g.SetColor1(clNavy);
  g.SetColor2(clWhite);
  g.SetColor3(clNavy);
  g.SetColor4(clWhite);
  g.SetColor5(clNavy);
  g.SetColorCount(2);
  g.SetLineDirection(diHorizonal);
}

}  // namespace components_test
