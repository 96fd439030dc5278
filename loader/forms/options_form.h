// The options dialog without a toolkit: its layout table and captions, the two enabling
// rules, the address warning, the keys and the exchange of values with the module link.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "form_layout.h"
#include "pcmcia.h"

namespace options_form {

inline constexpr TSize kClientSize{273, 204};
inline constexpr ControlPlace kPanel1{16, 24, 241, 113};
// Inside Panel1.
inline constexpr ControlPlace kCheckBox3{8, 8, 225, 17};
inline constexpr ControlPlace kLabel1{9, 38, 117, 13};
inline constexpr ControlPlace kCheckBox1{8, 56, 97, 17};
inline constexpr ControlPlace kComboBox1{136, 52, 97, 21};
inline constexpr ControlPlace kCheckBox2{8, 88, 225, 17};
// In the dialog.
inline constexpr ControlPlace kButton1{80, 152, 113, 33};

inline constexpr const char* kCaption = "Optionen";
inline constexpr const char* kCheckBox3Caption = "Ger\xC3\xA4tetreiber benutzen";
inline constexpr const char* kLabel1Caption = "PCMCIA IO-Adresse:";
inline constexpr const char* kCheckBox1Caption = "Automatisch";
inline constexpr const char* kCheckBox2Caption = "SCM ISA-Swapbox Modus";
inline constexpr const char* kButton1Caption = "OK";
inline constexpr std::array<const char*, 5> kAddresses{"0300", "0320", "0340", "0360", "0380"};

inline constexpr const char* kAddressWarning =
    "Die IO-Adresse ist m\xC3\xB6glicherweise unzul\xC3\xA4ssig !";
inline constexpr const char* kWarningTitle = "Warnung";

}  // namespace options_form

// What the dialog shows: the three boxes and the address text.
struct OptionsValues {
  bool checkBox1 = false;  // "Automatisch": AutoProbe
  bool checkBox2 = false;  // "SCM ISA-Swapbox Modus": SwapboxMode
  bool checkBox3 = false;  // "Gerätetreiber benutzen": UseDriver
  std::string comboBox1;   // the I/O address, four hexadecimal digits
};
OptionsValues OptionsValuesOf(const ModuleLink& link);
// Takes the values over; the address is the low 16 bits of HexValue of the text.
void StoreOptionsValues(const OptionsValues& values, ModuleLink& link);

// Rule of CheckBox1: the address box is enabled exactly when "Automatisch" is not ticked.
inline bool ComboBox1EnabledByCheckBox1(bool checkBox1) {
  return !checkBox1;
}
// Rule of CheckBox3.
struct CheckBox3Enabling {
  bool checkBox1;
  bool label1;
  bool comboBox1;
};
CheckBox3Enabling CheckBox3Rule(bool checkBox3, bool checkBox1);

// "OK" warns when "Automatisch" is not ticked and the address is below 0x300, above 0x380
// or not a hexadecimal number.
bool AddressNeedsWarning(bool checkBox1, const std::string& comboBox1);

// FormKeyPress of the dialog, seen before the focused control.
enum class DialogKey { kNone, kOk, kCancel };
DialogKey OptionsDialogKey(int character);
