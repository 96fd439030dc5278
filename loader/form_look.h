// The look shared by the three windows: navy background, gold text, the bold 11-pixel
// "MS Sans Serif" default font, the navy-white-navy banded background and the navy ellipse
// buttons.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;
class TDfGradient;
class TColor95Button;

inline const QColor kFormNavy(0, 0, 128);
inline const QColor kFormGold(208, 192, 0);  // 49360 in blue-green-red order

// Gives "MS Sans Serif" and "Arial" metric-compatible faces where the system lacks them.
// Call once after the application object exists.
void InstallFontSubstitutes();

// A font of the windows: `family` at `pixels` pixels high.
QFont FormFont(const QString& family, int pixels, bool bold);
// "MS Sans Serif", bold, 11 pixels.
QFont DefaultFormFont();

// Colours and font of a window and, through inheritance, of all its controls.
void ApplyFormLook(QWidget& form);
// The banded background: horizontal lines of size 1, navy to white to navy.
void ApplyGradientLook(TDfGradient& gradient);
// An ellipse button in navy with gold caption, glyph below the caption, mouse focus, dither.
void ApplyButtonLook(TColor95Button& button, const QString& caption, const QFont& font);
