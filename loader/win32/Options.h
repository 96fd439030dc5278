// The options dialog (Win32): how the updater reaches the module. Every use refills it from
// the link's settings; the values are taken over only when it is left with "OK" or Enter.
#pragma once

#include "host.h"
#include "options_form.h"
#include "pcmcia.h"
#include "win32_form.h"

// Control identifiers of the dialog's native controls.
enum OptionsControlId {
  kCheckBox1Id = 101,
  kCheckBox2Id = 102,
  kCheckBox3Id = 103,
  kComboBox1Id = 104,
  kLabel1Id = 105,
};

class TOptForm final : public Win32Form {
 public:
  // `system` shows the address warning (the platform's message box).
  explicit TOptForm(platform::Host& system);
  ~TOptForm() override;

  void LoadFrom(const ModuleLink& link);
  void StoreInto(ModuleLink& link) const;
  // The whole options flow over `owner`: fill, show modally, take the values over on OK.
  bool Edit(ModuleLink& link, HWND owner);

  void CheckBox1Rule();
  void CheckBox3Rule();
  void Button1Click();  // "OK"
  bool FormKeyPress(int character) override;

  HWND Panel1;
  HWND CheckBox3;
  HWND Label1;
  HWND CheckBox1;
  HWND ComboBox1;
  HWND CheckBox2;
  Win32Gradient* DfGradient1;
  Win32ColorButton* Button1;

 protected:
  bool HandleMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

 private:
  // Focus on `preferred` when it can take it, else on the first enabled control in the tab
  // order ("Automatisch", the address, "Gerätetreiber benutzen", "SCM ISA-Swapbox Modus").
  void FocusFirstEnabled(HWND preferred);
  HWND lastFocus_ = nullptr;  // the control that had the focus when the dialog lost it
  OptionsValues Values() const;

  platform::Host& system_;
  HFONT font_;
};
