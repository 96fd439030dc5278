#include "form_look.h"

#include <QPalette>
#include <QWidget>

#include "ColorBtns.h"
#include "Gradient.h"

void InstallFontSubstitutes() {
  // fontconfig maps "Arial" to Liberation Sans by itself; the substitutes below make the
  // choice explicit so that metrics do not depend on the machine's font configuration.
  QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
  QFont::insertSubstitution("Arial", "Liberation Sans");
}

QFont FormFont(const QString& family, int pixels, bool bold) {
  QFont font(family);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFont DefaultFormFont() {
  return FormFont("MS Sans Serif", 11, true);
}

void ApplyFormLook(QWidget& form) {
  QPalette palette = form.palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Window, kFormNavy);
    palette.setColor(group, QPalette::Base, kFormNavy);
    palette.setColor(group, QPalette::Button, kFormNavy);
    palette.setColor(group, QPalette::WindowText, kFormGold);
    palette.setColor(group, QPalette::Text, kFormGold);
    palette.setColor(group, QPalette::ButtonText, kFormGold);
    palette.setColor(group, QPalette::Highlight, kFormGold);
    palette.setColor(group, QPalette::HighlightedText, kFormNavy);
  }
  palette.setColor(QPalette::Disabled, QPalette::Window, kFormNavy);
  palette.setColor(QPalette::Disabled, QPalette::Base, kFormNavy);
  palette.setColor(QPalette::Disabled, QPalette::Button, kFormNavy);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(128, 128, 128));
  form.setPalette(palette);
  form.setAutoFillBackground(true);
  form.setFont(DefaultFormFont());
}

void ApplyGradientLook(TDfGradient& gradient) {
  TGradient& look = gradient.Gradient();
  look.SetGradientStyle(gsLine);
  look.SetLineSize(1);
  look.SetColor1(clNavy);
  look.SetColor2(clWhite);
  look.SetColor3(clNavy);
  look.SetColor4(clWhite);
  look.SetColor5(clNavy);
  look.SetColorCount(2);
  look.SetLineDirection(diHorizonal);
}

void ApplyButtonLook(TColor95Button& button, const QString& caption, const QFont& font) {
  button.SetCaption(caption);
  button.SetStyle(bsEllipse);
  button.SetColor(clNavy);
  button.SetLayout(blGlyphBottom);
  button.SetOptions(boShowMouseFocus | boDitherPattern);
  button.SetFont(font);
  button.SetFontColor(clGold);
}
