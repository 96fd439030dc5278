// The updater's settings file "Morvane.ini": the main window's position (section "Desktop")
// and the four transport settings of the module link (section "Options").
//
//   [Desktop]            [Options]
//   Left=<decimal>       IO_Base=<decimal, 800 for 0x320>
//   Top=<decimal>        IO_Auto=0|1   SCM_Swap=0|1   UseDevice=0|1
//
// No window system is needed: the window program and the terminal program both use it.
//
// Typical use:
//   auto profile = OpenSettingsFile();                    // "Morvane.ini" of this user
//   LoadLinkSettings(link, *profile);                     // before the first ModuleOpen
//   WindowPosition at = LoadWindowPosition(*profile, current);   // window program only
//   ...
//   SaveSettings(*profile, windowPosition, link);         // at the program's end
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pcmcia.h"
#include "private_profile.h"

inline constexpr const char* kSettingsFileName = "Morvane.ini";
inline constexpr const char* kDesktopSection = "Desktop";
inline constexpr const char* kOptionsSection = "Options";

// Values are read through a buffer of this many characters.
inline constexpr std::size_t kSettingsValueBuffer = 1024;

// Defaults when the file has no value (or no readable value).
inline constexpr std::uint16_t kDefaultIOBaseSetting = 800;  // 0x320
inline constexpr bool kDefaultAutoProbe = true;
inline constexpr bool kDefaultSwapboxMode = false;
inline constexpr bool kDefaultUseDriver = true;

// The settings file of this user (see platform::SystemProfile for where it lives).
std::unique_ptr<platform::PrivateProfile> OpenSettingsFile();

// An integer value as the settings file holds it: a decimal number with an optional sign; a
// text longer than two characters beginning with "0x" or "0X", or a text beginning with "$",
// is hexadecimal (at most eight digits). Anything else gives `defaultValue`, as does a number
// outside the signed 32-bit range.
std::int32_t ParseSettingsInteger(const std::string& text, std::int32_t defaultValue);

// One integer or boolean of the file; a missing key or an unreadable value gives the default.
// A boolean is read as an integer (default 1 or 0) and is true when it is not 0.
std::int32_t ReadSettingsInteger(platform::PrivateProfile& profile, const std::string& section,
                                 const std::string& key, std::int32_t defaultValue);
bool ReadSettingsBool(platform::PrivateProfile& profile, const std::string& section,
                      const std::string& key, bool defaultValue);

// The four transport settings of the link: IO_Base into IOBaseSetting (kept in 16 bits),
// IO_Auto into AutoProbe, SCM_Swap into SwapboxMode, UseDevice into UseDriver, in that
// order, each with its default. Reads only; never writes the file.
void LoadLinkSettings(ModuleLink& link, platform::PrivateProfile& profile);

// The main window's stored position; `current` supplies each coordinate the file lacks.
struct WindowPosition {
  int left = 0;
  int top = 0;
  bool operator==(const WindowPosition&) const = default;
};
WindowPosition LoadWindowPosition(platform::PrivateProfile& profile, WindowPosition current);

// Writes, in this order, Desktop/Left, Desktop/Top, Options/IO_Base, IO_Auto, SCM_Swap and
// UseDevice: integers in decimal, booleans as "1" or "0", every value whether it changed or
// not. The first write that fails ends the saving and the keys after it are not written;
// the result is then false. Nothing is reported: the caller decides (the window ignores it).
bool SaveSettings(platform::PrivateProfile& profile, WindowPosition position,
                  const ModuleLink& link);
