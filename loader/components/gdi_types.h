// Colours, points, sizes and rectangles in the conventions of the window system the components
// were first drawn for. No toolkit: both window front ends and the painting algorithms use them.
//
//   TColor navy = clNavy;                        // 0x00BBGGRR: red in the low byte
//   TRect r{0, 0, 369, 161};                     // right and bottom are exclusive
#pragma once

#include <cstdint>

// A colour value: 0x00BBGGRR. Values with the top bit set (0x80000000 | index) name a system
// colour; ColorToRGB resolves those to a fixed classic palette.
using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
// The golden text colour of the windows (red 208, green 192, blue 0).
inline constexpr TColor clGold = 0x00C0D0;
// System colours.
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clWindow = 0x80000005;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clWindowFrame = 0x80000006;

constexpr int RedOf(TColor c) {
  return static_cast<int>(c & 0xFF);
}
constexpr int GreenOf(TColor c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(TColor c) {
  return static_cast<int>((c >> 16) & 0xFF);
}
// Builds a colour from components, each clamped to 0..255.
constexpr TColor MakeColor(int red, int green, int blue) {
  auto clamp = [](int v) { return static_cast<TColor>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return clamp(red) | (clamp(green) << 8) | (clamp(blue) << 16);
}

// Resolves a system colour to its plain value; plain values come back unchanged.
TColor ColorToRGB(TColor color);

struct TPoint {
  int X = 0;
  int Y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

struct TSize {
  int Width = 0;
  int Height = 0;
  friend constexpr bool operator==(const TSize&, const TSize&) = default;
};

// A rectangle as left, top, right, bottom; right and bottom lie just outside the area.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  constexpr int Width() const { return Right - Left; }
  constexpr int Height() const { return Bottom - Top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Shrink(const TRect& r, int n) {
  return TRect{r.Left + n, r.Top + n, r.Right - n, r.Bottom - n};
}
