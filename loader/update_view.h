// What the update procedure needs of the window that runs it; the main window and the terminal
// program each implement it.
#pragma once

#include <string>

class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void SetStatusLine(const std::string& text) = 0;  // Label6
  virtual void SetGauge(int percent) = 0;                   // ProgressBar1, 0 to 100
  // Button1 ("Start Update"), Color95Button1 ("Optionen") and Color95Button2 ("Exit") together.
  virtual void SetButtonsEnabled(bool enabled) = 0;
  virtual void ClearLabel2() = 0;
  // The modal message dialog; returns when the user closed it.
  virtual void ShowMessageForm(const std::string& text, const std::string& title) = 0;
};
