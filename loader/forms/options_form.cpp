#include "options_form.h"

#include "hex.h"

OptionsValues OptionsValuesOf(const ModuleLink& link) {
  return OptionsValues{link.AutoProbe, link.SwapboxMode, link.UseDriver,
                       HexDigits(link.IOBaseSetting, 4)};
}

void StoreOptionsValues(const OptionsValues& values, ModuleLink& link) {
  link.AutoProbe = values.checkBox1;
  link.SwapboxMode = values.checkBox2;
  link.UseDriver = values.checkBox3;
  link.IOBaseSetting = static_cast<std::uint16_t>(HexValue(values.comboBox1));
}

CheckBox3Enabling CheckBox3Rule(bool checkBox3, bool checkBox1) {
  return CheckBox3Enabling{!checkBox3, !checkBox3, !checkBox3 && !checkBox1};
}

bool AddressNeedsWarning(bool checkBox1, const std::string& comboBox1) {
  if (checkBox1) return false;
  const std::int32_t address = HexValue(comboBox1);
  // Below 0x300, above 0x380 or not a hexadecimal number at all (-1).
  return static_cast<std::uint32_t>(address) - 768u >= 129u;
}

DialogKey OptionsDialogKey(int character) {
  switch (character) {
    case '\r':
      return DialogKey::kOk;
    case 27:
      return DialogKey::kCancel;
    default:
      return DialogKey::kNone;
  }
}
