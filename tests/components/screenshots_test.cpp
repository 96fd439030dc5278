// Renders the components as the windows use them and saves the pictures as PNG files, for a
// look by eye (and as a check that every state renders).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

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
  EXPECT_TRUE(
      SaveScreenshot(Scaled(image, 4), QStringLiteral("buttons-up-pressed-lit-disabled-latched")));
}

TEST(Screenshots, ButtonStylesAndGauges) {
  QWidget form;
  form.resize(400, 190);
  form.setAutoFillBackground(true);
  int i = 0;
  for (int style = bsWin31; style <= bsGradient; ++style, ++i) {
    auto* b = new TColor95Button(&form);
    b->setGeometry((i % 4) * 100 + 2, (i / 4) * 30 + 2, 90, 25);
    b->SetCaption(QStringLiteral("Style %1").arg(style));
    b->SetColor(clSilver);
    b->SetStyle(static_cast<TClr95ButtonStyle>(style));
  }
  const TGaugeKind kinds[] = {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle};
  i = 0;
  for (TGaugeKind kind : kinds) {
    auto* g = new TGauge(&form);
    g->setGeometry(i++ * 80 + 2, 100, 70, 70);
    g->SetKind(kind);
    g->SetForeColor(clGold);
    g->SetBackColor(clNavy);
    g->SetProgress(63);
  }
  EXPECT_TRUE(
      SaveScreenshot(Scaled(form.grab().toImage(), 2), QStringLiteral("styles-and-gauges")));
}

TEST(Screenshots, Gradients) {
  QWidget form;
  form.resize(4 * 130, 120);
  const TGradientStyle styles[] = {gsLine, gsLine, gsEllipse, gsRect};
  for (int i = 0; i < 4; ++i) {
    auto* g = new TDfGradient(&form);
    g->setGeometry(i * 130, 0, 120, 120);
    ApplyFormGradient(g->Gradient());
    g->Gradient().SetGradientStyle(styles[i]);
    if (i == 1) g->Gradient().SetLineDirection(diVertical);
    if (i >= 2) g->Gradient().SetColorCount(4);
  }
  EXPECT_TRUE(SaveScreenshot(form.grab().toImage(), QStringLiteral("gradients")));
}

}  // namespace
}  // namespace components_test
