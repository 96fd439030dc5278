// The colour button's look, on any canvas: its styles and options, the colour helpers, the
// layout of glyph and caption, and the painting of face, pattern, lighting and caption. The
// controls (TColor95Button in ColorBtns.h for Qt, the Win32 window's own) keep the state and
// hand it to PaintColorButton.
//
//   ColorButtonLook look;                       // bsEllipse, navy, gold caption, ...
//   look.caption = "Start Update";
//   PaintColorButton(canvas, TSize{273, 49}, look, ButtonState::Up, false, true);
#pragma once

#include <functional>
#include <string>

#include "canvas.h"
#include "gdi_types.h"

enum TClr95ButtonStyle {
  bsWin31,
  bsNew,
  bsEllipse,
  bsTab,
  bsIE4,
  bsSideDownTab,
  bsGlass,
  bsFlat,
  bsOwnerDraw,
  bsMicroposeGame,
  bsGradient
};
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonOption : unsigned {
  boShowMouseFocus = 0x1,
  boRepeatable = 0x2,
  boDitherPattern = 0x4,
  boAutoBlackWhiteText = 0x8
};

// A set of TButtonOption.
class TButtonOptions {
 public:
  constexpr TButtonOptions() = default;
  constexpr TButtonOptions(TButtonOption option) : bits_(option) {}
  constexpr bool Has(TButtonOption option) const { return (bits_ & option) != 0; }
  constexpr unsigned Bits() const { return bits_; }
  friend constexpr TButtonOptions operator|(TButtonOptions a, TButtonOptions b) {
    return TButtonOptions(a.bits_ | b.bits_);
  }
  friend constexpr bool operator&(TButtonOptions a, TButtonOption b) { return a.Has(b); }
  friend constexpr bool operator==(TButtonOptions, TButtonOptions) = default;

 private:
  constexpr explicit TButtonOptions(unsigned bits) : bits_(bits) {}
  unsigned bits_ = 0;
};
constexpr TButtonOptions operator|(TButtonOption a, TButtonOption b) {
  return TButtonOptions(a) | TButtonOptions(b);
}

// The state the face is drawn in.
enum class ButtonState { Up = 0, Disabled = 1, Pressed = 2, Latched = 3 };

// Colour helpers of the faces: add n to red, green and blue (each clamped to 0..255).
TColor Brighten(TColor color, int n);
inline TColor Darken(TColor color, int n) {
  return Brighten(color, -n);
}

// The four bevel colours of a face of colour `face`, pressed or not.
struct BevelColors {
  TColor c1, c2, c3, c4;
};
BevelColors BevelColorsFor(TColor face, bool pressed);

// The 8 x 8 dither brush of a latched face: `face` with every pixel whose row and column are
// both even or both odd set to Brighten(face, 128).
BrushPattern MakeDitherPattern(TColor face);

// Where glyph and caption go inside a content area of `client` size.
struct ButtonLayoutResult {
  TPoint glyph_pos;   // top-left of the glyph
  TRect text_bounds;  // the caption's box
};
ButtonLayoutResult CalcButtonLayout(TSize client, TSize glyph_size, TSize text_size,
                                    TButtonLayout layout, int margin, int spacing);

// What a button looks like, apart from its state.
struct ColorButtonLook {
  TClr95ButtonStyle style = bsNew;
  TColor color = clBtnFace;
  TColor font_color = clBlack;
  TButtonOptions options = boShowMouseFocus | boDitherPattern | boAutoBlackWhiteText;
  TButtonLayout layout = blGlyphLeft;
  int margin = -1;
  int spacing = 4;
  std::string caption;
};

// Glyph hooks of a control with a picture: its size, and drawing it in a state at a point.
struct ButtonGlyph {
  TSize size;
  std::function<void(Canvas&, TPoint, ButtonState)> draw;
};

// Paints the whole button of `size`: the face of its style (or `owner_draw` for bsOwnerDraw
// when given), the dither of a latched face, the lighting under the mouse, glyph and caption.
void PaintColorButton(Canvas& canvas, TSize size, const ColorButtonLook& look, ButtonState state,
                      bool mouse_in_control, bool enabled,
                      const std::function<void(const TRect&)>& owner_draw = {},
                      const ButtonGlyph& glyph = {});
