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

QFont FormFont(const FontSpec& spec) {
  QFont font(QString::fromUtf8(spec.family));
  font.setPixelSize(spec.pixels);
  font.setBold(spec.bold);
  return font;
}

QFont DefaultFormFont() {
  return FormFont(kDefaultFormFont);
}

void ApplyFormLook(QWidget& form) {
  const QColor kFormNavy = ToQColor(kFormBackground);
  const QColor kFormGold = ToQColor(kFormText);
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
  ApplyFormGradientLook(gradient.Gradient());
}

void ApplyButtonLook(TColor95Button& button, const char* caption, const FontSpec& font) {
  const ColorButtonLook look = FormButtonLook(caption);
  button.SetCaption(QString::fromStdString(look.caption));
  button.SetStyle(look.style);
  button.SetColor(look.color);
  button.SetLayout(look.layout);
  button.SetOptions(look.options);
  button.SetFont(FormFont(font));
  button.SetFontColor(look.font_color);
}
