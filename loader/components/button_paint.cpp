#include "button_paint.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A one-pixel frame just inside r: top and left in `top_left`, bottom and right in
// `bottom_right` (which also takes the top-right and bottom-left corner pixels). Returns r
// shrunk by one pixel.
TRect Frame3D(Canvas& canvas, const TRect& r, TColor top_left, TColor bottom_right) {
  if (r.Width() <= 0 || r.Height() <= 0) return r;
  canvas.FillRect(TRect{r.Left, r.Top, r.Right - 1, r.Top + 1}, top_left);
  canvas.FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1}, top_left);
  canvas.FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, bottom_right);
  canvas.FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, bottom_right);
  return TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
}

TRect PaintFace(Canvas& canvas, const TRect& r, TClr95ButtonStyle style, TColor face_color,
                bool pressed, bool lit) {
  const BevelColors bevel = BevelColorsFor(face_color, pressed);
  const TColor face = face_color;
  const int inset = pressed ? 1 : 0;

  switch (style) {
    case bsEllipse: {
      const TRect e = Shrink(r, 2);
      canvas.FillEllipse(e, face);
      // Two-tone bevel between the upper-right and the lower-left point: the upper-left half
      // lit, the lower-right half shaded (the other way round when pressed).
      const TPoint p{4 * (r.Right / 5), r.Bottom / 5};
      const TPoint q{r.Right / 5, 4 * (r.Bottom / 5)};
      auto arc = [&](TColor color, int width, TPoint from, TPoint to) {
        canvas.Arc(e, from, to, color, width);
      };
      arc(bevel.c1, 2, p, q);
      arc(pressed ? bevel.c3 : bevel.c2, 2, q, p);
      arc(bevel.c4, 1, p, q);
      arc(pressed ? bevel.c2 : bevel.c3, 1, q, p);
      return Shrink(r, 2 + inset);
    }
    case bsNew: {
      canvas.FillRect(r, face);
      const TRect inner = Frame3D(canvas, r, bevel.c4, bevel.c3);
      Frame3D(canvas, inner, bevel.c1, bevel.c2);
      return Shrink(r, 2 + inset);
    }
    case bsWin31: {
      canvas.FillRect(r, face);
      const TRect inner = Frame3D(canvas, r, clBlack, clBlack);
      const TRect bevel_area = Frame3D(canvas, inner, bevel.c1, bevel.c3);
      Frame3D(canvas, bevel_area, bevel.c4, bevel.c2);
      return Shrink(r, 3 + inset);
    }
    case bsTab:
    case bsSideDownTab: {
      canvas.FillRect(r, face);
      const TColor light = bevel.c1;
      const TColor dark = bevel.c3;
      if (style == bsTab) {
        // A tab standing on the bottom edge: open at the bottom.
        canvas.FillRect(TRect{r.Left + 2, r.Top, r.Right - 2, r.Top + 1}, light);
        canvas.FillRect(TRect{r.Left, r.Top + 2, r.Left + 1, r.Bottom}, light);
        canvas.FillRect(TRect{r.Left + 1, r.Top + 1, r.Left + 2, r.Top + 2}, light);
        canvas.FillRect(TRect{r.Right - 1, r.Top + 2, r.Right, r.Bottom}, dark);
        canvas.FillRect(TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Top + 2}, dark);
      } else {
        // A tab hanging on the left edge: open at the left.
        canvas.FillRect(TRect{r.Left, r.Top, r.Right - 2, r.Top + 1}, light);
        canvas.FillRect(TRect{r.Right - 1, r.Top + 2, r.Right, r.Bottom - 2}, dark);
        canvas.FillRect(TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Top + 2}, dark);
        canvas.FillRect(TRect{r.Right - 2, r.Bottom - 2, r.Right - 1, r.Bottom - 1}, dark);
        canvas.FillRect(TRect{r.Left, r.Bottom - 1, r.Right - 2, r.Bottom}, dark);
      }
      return Shrink(r, 2 + inset);
    }
    case bsIE4: {
      canvas.FillRect(r, face);
      // Flat until the mouse is over it or it is held down.
      if (pressed) {
        Frame3D(canvas, r, bevel.c1, bevel.c3);
      } else if (lit) {
        Frame3D(canvas, r, bevel.c1, bevel.c3);
      }
      return Shrink(r, 1 + inset);
    }
    case bsGlass:
    case bsGradient: {
      // A vertical blend: lighter at the top for glass, from the light to the shaded bevel
      // colour for the gradient face (reversed when pressed).
      std::array<TColor, 5> stops{};
      if (style == bsGlass) {
        stops = {Brighten(face_color, pressed ? 16 : 72), face_color, Darken(face_color, 24),
                 face_color, face_color};
      } else {
        stops = {pressed ? bevel.c4 : bevel.c1, pressed ? bevel.c1 : bevel.c2, face_color,
                 face_color, face_color};
      }
      const int segments = style == bsGlass ? 2 : 1;
      for (int y = r.Top; y < r.Bottom; ++y) {
        const int h = std::max(r.Height() - 1, 1);
        const int seg_len = std::max(h / segments, 1);
        const int seg = std::min((y - r.Top) / seg_len, segments - 1);
        const double t = std::min(1.0, static_cast<double>(y - r.Top - seg * seg_len) / seg_len);
        const TColor a = stops[static_cast<std::size_t>(seg)];
        const TColor b = stops[static_cast<std::size_t>(seg + 1)];
        const auto mix = [t](int x, int z) {
          return static_cast<int>(std::lround(x + (z - x) * t));
        };
        const TColor line = MakeColor(mix(RedOf(ColorToRGB(a)), RedOf(ColorToRGB(b))),
                                      mix(GreenOf(ColorToRGB(a)), GreenOf(ColorToRGB(b))),
                                      mix(BlueOf(ColorToRGB(a)), BlueOf(ColorToRGB(b))));
        canvas.FillRect(TRect{r.Left, y, r.Right, y + 1}, line);
      }
      Frame3D(canvas, r, bevel.c3, bevel.c3);
      return Shrink(r, 1 + inset);
    }
    case bsFlat: {
      canvas.FillRect(r, face);
      Frame3D(canvas, r, pressed ? bevel.c2 : bevel.c3, pressed ? bevel.c2 : bevel.c3);
      return Shrink(r, 1 + inset);
    }
    case bsMicroposeGame: {
      canvas.FillRect(r, face);
      TRect inner = Frame3D(canvas, r, clBlack, clBlack);
      inner = Frame3D(canvas, inner, bevel.c1, bevel.c3);
      Frame3D(canvas, inner, bevel.c1, bevel.c3);
      return Shrink(r, 3 + inset);
    }
    case bsOwnerDraw:
      break;
  }
  return r;
}

// The caption in the content area: embossed when disabled, else in the font colour or, with
// boAutoBlackWhiteText, in black or white by the face's grey value.
void DrawCaption(Canvas& canvas, const TRect& bounds, const ColorButtonLook& look,
                 ButtonState state) {
  if (state == ButtonState::Disabled) {
    canvas.DrawCaption(TRect{bounds.Left + 1, bounds.Top + 1, bounds.Right + 1, bounds.Bottom + 1},
                       look.caption, Brighten(look.color, 96));
    canvas.DrawCaption(bounds, look.caption, Darken(look.color, 96));
    return;
  }
  TColor text_color = look.font_color;
  if (look.options & boAutoBlackWhiteText) {
    const TColor c = ColorToRGB(look.color);
    const double grey =
        std::nearbyint((20.0 * RedOf(c) + 50.0 * GreenOf(c) + 30.0 * BlueOf(c)) / 100.0);
    text_color = grey >= 128 ? clBlack : clWhite;
  }
  canvas.DrawCaption(bounds, look.caption, text_color);
}

}  // namespace

TColor Brighten(TColor color, int n) {
  const TColor c = ColorToRGB(color);
  return MakeColor(RedOf(c) + n, GreenOf(c) + n, BlueOf(c) + n);
}

BevelColors BevelColorsFor(TColor face, bool pressed) {
  if (pressed) {
    return BevelColors{Darken(face, 48), Brighten(face, 48), Brighten(face, 64), Darken(face, 96)};
  }
  return BevelColors{Brighten(face, 60), Darken(face, 48), Darken(face, 100), Brighten(face, 12)};
}

BrushPattern MakeDitherPattern(TColor face) {
  BrushPattern dither{};
  const TColor plain = ColorToRGB(face);
  const TColor light = Brighten(face, 128);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      dither[static_cast<std::size_t>(y * 8 + x)] = (x % 2) == (y % 2) ? light : plain;
    }
  }
  return dither;
}

ButtonLayoutResult CalcButtonLayout(TSize client, TSize glyph_size, TSize text_size,
                                    TButtonLayout layout, int margin, int spacing) {
  const bool across = layout == blGlyphLeft || layout == blGlyphRight;
  TPoint glyph_pos;
  TPoint text_pos;
  if (across) {
    glyph_pos.Y = (client.Height - glyph_size.Height + 1) / 2;
    text_pos.Y = (client.Height - text_size.Height + 1) / 2;
  } else {
    glyph_pos.X = (client.Width - glyph_size.Width + 1) / 2;
    text_pos.X = (client.Width - text_size.Width + 1) / 2;
  }
  if (text_size.Width == 0 || glyph_size.Width == 0) spacing = 0;

  const int space = across ? client.Width : client.Height;
  const int glyph_extent = across ? glyph_size.Width : glyph_size.Height;
  const int text_extent = across ? text_size.Width : text_size.Height;
  if (margin == -1) {
    if (spacing == -1) {
      margin = (space - (glyph_extent + text_extent)) / 3;
      spacing = margin;
    } else {
      margin = (space - (glyph_extent + spacing + text_extent) + 1) / 2;
    }
  } else if (spacing == -1) {
    spacing = (space - (margin + glyph_extent) - text_extent) / 2;
  }

  switch (layout) {
    case blGlyphLeft:
      glyph_pos.X = margin;
      text_pos.X = glyph_pos.X + glyph_size.Width + spacing;
      break;
    case blGlyphRight:
      glyph_pos.X = client.Width - margin - glyph_size.Width;
      text_pos.X = glyph_pos.X - spacing - text_size.Width;
      break;
    case blGlyphTop:
      glyph_pos.Y = margin;
      text_pos.Y = glyph_pos.Y + glyph_size.Height + spacing;
      break;
    case blGlyphBottom:
      glyph_pos.Y = client.Height - margin - glyph_size.Height;
      text_pos.Y = glyph_pos.Y - spacing - text_size.Height;
      break;
  }
  return ButtonLayoutResult{glyph_pos, TRect{text_pos.X, text_pos.Y, text_pos.X + text_size.Width,
                                             text_pos.Y + text_size.Height}};
}

void PaintColorButton(Canvas& canvas, TSize size, const ColorButtonLook& look, ButtonState state,
                      bool mouse_in_control, bool enabled,
                      const std::function<void(const TRect&)>& owner_draw,
                      const ButtonGlyph& glyph) {
  const bool pressed = state == ButtonState::Pressed || state == ButtonState::Latched;
  const TRect r{0, 0, size.Width, size.Height};
  TRect content = r;
  if (look.style == bsOwnerDraw && owner_draw) {
    owner_draw(r);
  } else {
    const TClr95ButtonStyle face = look.style == bsOwnerDraw ? bsNew : look.style;
    content = PaintFace(canvas, r, face, look.color, pressed, mouse_in_control && enabled);
  }

  if (state == ButtonState::Latched && (look.options & boDitherPattern) &&
      look.style != bsOwnerDraw) {
    content.Right -= 1;
    content.Bottom -= 1;
    const BrushPattern dither = MakeDitherPattern(look.color);
    if (look.style == bsEllipse) {
      canvas.FillEllipse(Shrink(content, 1), dither);
    } else {
      canvas.FillRect(content, dither);
    }
  }

  if (mouse_in_control && enabled && state != ButtonState::Pressed && look.style != bsIE4) {
    const bool lit = state == ButtonState::Up || state == ButtonState::Latched;
    const TColor color = lit ? Brighten(look.color, 24) : look.color;
    if (look.style == bsEllipse) {
      canvas.FillEllipse(Shrink(content, 1), color);
    } else {
      canvas.FillRect(content, color);
    }
  }

  const TSize text_size = canvas.CaptionExtent(look.caption);
  const ButtonLayoutResult place =
      CalcButtonLayout(TSize{content.Width(), content.Height()}, glyph.size, text_size, look.layout,
                       look.margin, look.spacing);
  if (glyph.draw && glyph.size.Width > 0) {
    glyph.draw(canvas, TPoint{content.Left + place.glyph_pos.X, content.Top + place.glyph_pos.Y},
               state);
  }
  if (look.caption.empty()) return;
  const TRect& t = place.text_bounds;
  DrawCaption(canvas,
              TRect{content.Left + t.Left, content.Top + t.Top, content.Left + t.Right,
                    content.Top + t.Bottom},
              look, state);
}
