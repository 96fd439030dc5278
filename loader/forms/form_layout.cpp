#include "form_layout.h"

#include <utility>

void ApplyFormGradientLook(TGradient& look) {
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

ColorButtonLook FormButtonLook(std::string caption) {
  ColorButtonLook look;
  look.style = bsEllipse;
  look.color = clNavy;
  look.font_color = kFormText;
  look.options = boShowMouseFocus | boDitherPattern;
  look.layout = blGlyphBottom;
  look.caption = std::move(caption);
  return look;
}
