// The look shared by the three windows, without a toolkit: navy background, gold text, the
// bold 11-pixel "MS Sans Serif" default font, the navy-white-navy banded background and the
// navy ellipse buttons. Each window's own table (main_form.h, options_form.h,
// message_form.h) places its controls; the Qt and Win32 front ends apply both.
#pragma once

#include <string>

#include "button_paint.h"
#include "gdi_types.h"
#include "gradient_paint.h"

inline constexpr TColor kFormBackground = clNavy;
inline constexpr TColor kFormText = clGold;  // 49360 in blue-green-red order

// A font of the windows: `family` at `pixels` pixels high.
struct FontSpec {
  const char* family;
  int pixels;
  bool bold;
};
inline constexpr FontSpec kDefaultFormFont{"MS Sans Serif", 11, true};

// A control's place in its window's client area.
struct ControlPlace {
  int left;
  int top;
  int width;
  int height;
  constexpr TRect Rect() const { return TRect{left, top, left + width, top + height}; }
};

// The banded background: horizontal lines of size 1, navy to white to navy.
void ApplyFormGradientLook(TGradient& look);

// An ellipse button in navy with gold caption, glyph below the caption, mouse focus, dither.
ColorButtonLook FormButtonLook(std::string caption);
