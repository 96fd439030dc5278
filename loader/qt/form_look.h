// The look shared by the three windows (form_layout.h) applied to Qt widgets.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include "form_layout.h"

class QWidget;
class TDfGradient;
class TColor95Button;

// Gives "MS Sans Serif" and "Arial" metric-compatible faces where the system lacks them.
// Call once after the application object exists.
void InstallFontSubstitutes();

// A font of the windows.
QFont FormFont(const FontSpec& spec);
// "MS Sans Serif", bold, 11 pixels.
QFont DefaultFormFont();

// Colours and font of a window and, through inheritance, of all its controls.
void ApplyFormLook(QWidget& form);
// The banded background (ApplyFormGradientLook).
void ApplyGradientLook(TDfGradient& gradient);
// The windows' button look (FormButtonLook) with `caption` in `font`.
void ApplyButtonLook(TColor95Button& button, const char* caption, const FontSpec& font);
