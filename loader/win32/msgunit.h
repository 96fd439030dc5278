// The message dialog through which an update tells its results and errors (Win32).
#pragma once

#include <string>

#include "win32_form.h"

class TMessageForm final : public Win32Form {
 public:
  TMessageForm();
  ~TMessageForm() override;

  // Sets the text and the window caption, shows the dialog modally over `owner` and returns
  // when it has been closed ("OK", Space, Enter, Escape or the close box).
  void ShowMessageForm(const std::string& text, const std::string& title, HWND owner);

  void Button1Click();
  bool FormKeyPress(int character) override;

  Win32Gradient* DfGradient1;
  Win32Label* Label1;
  Win32ColorButton* Button1;

 private:
  HFONT font_;
};
