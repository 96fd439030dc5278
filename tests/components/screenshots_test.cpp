// Renders the components as the windows use them and saves the pictures as PNG files, for a
// look by eye; each picture is also checked for what it must show: the gauge's share, a face of
// its own for every button state, style and gauge kind, and every gradient style.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <string>
#include <vector>

#include "ColorBtns.h"
#include "Gauges.h"
#include "Gradient.h"
#include "components_support.h"

namespace components_test {
namespace {

TColor95Button* FormButton(QWidget* parent, QRect at, const QString& caption, QFont font) {
  auto* b = new TColor95Button(parent);
  b->setGeometry(at);
  b->SetCaption(caption);
  b->SetStyle(bsEllipse);
  b->SetColor(clNavy);
  b->SetLayout(blGlyphBottom);
  b->SetOptions(boShowMouseFocus | boDitherPattern);
  b->SetFont(font);
  b->SetFontColor(clGold);
  return b;
}

// The pairs of `areas` of `image` that show the same pixels, by index ("1=3"); empty when every
// area differs from every other.
std::vector<std::string> SameAreas(const QImage& image, const std::vector<QRect>& areas) {
  std::vector<std::string> same;
  for (std::size_t i = 0; i < areas.size(); ++i)
    for (std::size_t j = i + 1; j < areas.size(); ++j)
      if (image.copy(areas[i]) == image.copy(areas[j]))
        same.push_back(std::to_string(i) + "=" + std::to_string(j));
  return same;
}

QImage Scaled(const QImage& image, int factor) {
  return image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

TEST(Screenshots, MainWindowLayout) {
  QWidget form;
  form.resize(369, 191);
  QPalette palette = form.palette();
  palette.setColor(QPalette::Window, ToQColor(clNavy));
  palette.setColor(QPalette::WindowText, ToQColor(clGold));
  form.setPalette(palette);
  form.setAutoFillBackground(true);
  form.setFont(WindowFont());

  auto* back = new TDfGradient(&form);
  back->setGeometry(2, 16, 369, 161);
  ApplyFormGradient(back->Gradient());

  QFont big(QStringLiteral("Arial"));
  big.setPixelSize(19);
  big.setBold(true);
  FormButton(&form, QRect(8, 56, 73, 25), QStringLiteral("Optionen"), WindowFont());
  FormButton(&form, QRect(64, 72, 273, 49), QStringLiteral("Start Update"), big);
  auto* exit = FormButton(&form, QRect(8, 112, 73, 25), QStringLiteral("E&xit"), WindowFont());
  exit->setEnabled(false);

  auto* label = new QLabel(QStringLiteral("Fortschritt:"), &form);
  label->move(16, 170);
  auto* gauge = new TGauge(&form);
  gauge->setGeometry(88, 170, 273, 13);
  gauge->SetBorderStyle(bsNone);
  gauge->SetForeColor(clGold);
  gauge->SetBackColor(clNavy);
  gauge->SetFont(WindowFont());
  gauge->SetProgress(42);

  const QImage image = form.grab().toImage();
  EXPECT_EQ(image.size(), QSize(369, 191));
  // 42 % of the gauge: gold bar at its left end, navy back at its right end.
  EXPECT_EQ(PixelAt(image, 90, 176), RgbOf(clGold));
  EXPECT_EQ(PixelAt(image, 358, 176), RgbOf(clNavy));
  EXPECT_TRUE(SaveScreenshot(image, QStringLiteral("mainwindow")));
  EXPECT_TRUE(SaveScreenshot(Scaled(image, 3), QStringLiteral("mainwindow-x3")));
}

TEST(Screenshots, ButtonStates) {
  QWidget form;
  form.resize(73 * 5 + 24, 25);
  auto* back = new TDfGradient(&form);
  back->setGeometry(form.rect());
  ApplyFormGradient(back->Gradient());
  std::vector<TColor95Button*> buttons;
  for (int i = 0; i < 5; ++i) {
    buttons.push_back(
        FormButton(&form, QRect(i * 79, 0, 73, 25), QStringLiteral("&Optionen"), WindowFont()));
  }
  // up, pressed, lit, disabled, latched
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(30, 12), QPointF(30, 12), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(buttons[1], &press);
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QCoreApplication::sendEvent(buttons[2], &enter);
  buttons[3]->setEnabled(false);
  buttons[4]->SetGroupIndex(1);
  buttons[4]->SetDown(true);
  const QImage image = form.grab().toImage();
  std::vector<QRect> faces;
  for (auto* b : buttons) faces.push_back(b->geometry());
  EXPECT_EQ(SameAreas(image, faces), std::vector<std::string>{});
  EXPECT_TRUE(
      SaveScreenshot(Scaled(image, 4), QStringLiteral("buttons-up-pressed-lit-disabled-latched")));
}

TEST(Screenshots, ButtonStylesAndGauges) {
  QWidget form;
  form.resize(400, 190);
  form.setAutoFillBackground(true);
  int i = 0;
  std::vector<QRect> styles;
  for (int style = bsWin31; style <= bsGradient; ++style, ++i) {
    auto* b = new TColor95Button(&form);
    b->setGeometry((i % 4) * 100 + 2, (i / 4) * 30 + 2, 90, 25);
    b->SetCaption(QStringLiteral("Style %1").arg(style));
    b->SetColor(clSilver);
    b->SetStyle(static_cast<TClr95ButtonStyle>(style));
    styles.push_back(b->geometry());
  }
  const TGaugeKind kinds[] = {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle};
  i = 0;
  std::vector<QRect> gauges;
  for (TGaugeKind kind : kinds) {
    auto* g = new TGauge(&form);
    g->setGeometry(i++ * 80 + 2, 100, 70, 70);
    g->SetKind(kind);
    g->SetForeColor(clGold);
    g->SetBackColor(clNavy);
    g->SetProgress(63);
    gauges.push_back(g->geometry());
  }
  const QImage image = form.grab().toImage();
  EXPECT_EQ(SameAreas(image, gauges), std::vector<std::string>{});
  // The styles by their top rows, above the captions (which differ anyway): each its own,
  // but bsOwnerDraw without a handler, which draws bsNew's face.
  for (QRect& r : styles) r.setHeight(6);
  EXPECT_EQ(SameAreas(image, styles),
            std::vector<std::string>{std::to_string(bsNew) + "=" + std::to_string(bsOwnerDraw)});
  EXPECT_TRUE(SaveScreenshot(Scaled(image, 2), QStringLiteral("styles-and-gauges")));
}

TEST(Screenshots, Gradients) {
  QWidget form;
  form.resize(4 * 130, 120);
  const TGradientStyle styles[] = {gsLine, gsLine, gsEllipse, gsRect};
  std::vector<QRect> areas;
  for (int i = 0; i < 4; ++i) {
    auto* g = new TDfGradient(&form);
    g->setGeometry(i * 130, 0, 120, 120);
    ApplyFormGradient(g->Gradient());
    g->Gradient().SetGradientStyle(styles[i]);
    if (i == 1) g->Gradient().SetLineDirection(diVertical);
    if (i >= 2) g->Gradient().SetColorCount(4);
    areas.push_back(g->geometry());
  }
  const QImage image = form.grab().toImage();
  EXPECT_EQ(SameAreas(image, areas), std::vector<std::string>{});
  EXPECT_TRUE(SaveScreenshot(image, QStringLiteral("gradients")));
}

}  // namespace
}  // namespace components_test
