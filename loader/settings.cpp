#include "settings.h"

#include <limits>

#include "hex.h"

namespace {

constexpr const char* kLeftKey = "Left";
constexpr const char* kTopKey = "Top";
constexpr const char* kIOBaseKey = "IO_Base";
constexpr const char* kAutoProbeKey = "IO_Auto";
constexpr const char* kSwapboxKey = "SCM_Swap";
constexpr const char* kUseDriverKey = "UseDevice";

}  // namespace

std::unique_ptr<platform::PrivateProfile> OpenSettingsFile() {
  return platform::SystemProfile(kSettingsFileName);
}

std::int32_t ParseSettingsInteger(const std::string& text, std::int32_t defaultValue) {
  std::string_view rest = text;
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  bool hex = false;
  // Only a text that begins with "$" or "0x" is hexadecimal; a sign makes it a decimal text.
  if (!text.empty() && text.front() == '$') {
    hex = true;
    rest.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    rest.remove_prefix(2);
  }
  if (rest.empty()) return defaultValue;

  if (hex) {
    // Eight digits fill the 32 bits: $FFFFFFFF is -1.
    if (rest.size() > 8 || rest.find_first_not_of("0123456789ABCDEFabcdef") != rest.npos) {
      return defaultValue;
    }
    return HexValue(rest);
  }
  std::int64_t value = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return defaultValue;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return defaultValue;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return defaultValue;
  return static_cast<std::int32_t>(value);
}

std::int32_t ReadSettingsInteger(platform::PrivateProfile& profile, const std::string& section,
                                 const std::string& key, std::int32_t defaultValue) {
  return ParseSettingsInteger(profile.ReadString(section, key, "", kSettingsValueBuffer),
                              defaultValue);
}

bool ReadSettingsBool(platform::PrivateProfile& profile, const std::string& section,
                      const std::string& key, bool defaultValue) {
  return ReadSettingsInteger(profile, section, key, defaultValue ? 1 : 0) != 0;
}

void LoadLinkSettings(ModuleLink& link, platform::PrivateProfile& profile) {
  link.IOBaseSetting = static_cast<std::uint16_t>(
      ReadSettingsInteger(profile, kOptionsSection, kIOBaseKey, kDefaultIOBaseSetting));
  link.AutoProbe = ReadSettingsBool(profile, kOptionsSection, kAutoProbeKey, kDefaultAutoProbe);
  link.SwapboxMode = ReadSettingsBool(profile, kOptionsSection, kSwapboxKey, kDefaultSwapboxMode);
  link.UseDriver = ReadSettingsBool(profile, kOptionsSection, kUseDriverKey, kDefaultUseDriver);
}

WindowPosition LoadWindowPosition(platform::PrivateProfile& profile, WindowPosition current) {
  WindowPosition stored;
  stored.left = ReadSettingsInteger(profile, kDesktopSection, kLeftKey, current.left);
  stored.top = ReadSettingsInteger(profile, kDesktopSection, kTopKey, current.top);
  return stored;
}

bool SaveSettings(platform::PrivateProfile& profile, WindowPosition position,
                  const ModuleLink& link) {
  const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
  return profile.WriteString(kDesktopSection, kLeftKey, std::to_string(position.left)) &&
         profile.WriteString(kDesktopSection, kTopKey, std::to_string(position.top)) &&
         profile.WriteString(kOptionsSection, kIOBaseKey, std::to_string(link.IOBaseSetting)) &&
         profile.WriteString(kOptionsSection, kAutoProbeKey, flag(link.AutoProbe)) &&
         profile.WriteString(kOptionsSection, kSwapboxKey, flag(link.SwapboxMode)) &&
         profile.WriteString(kOptionsSection, kUseDriverKey, flag(link.UseDriver));
}
