// The main window (Win32): title lines, "Optionen", "Start Update", "Exit", the status line and
// the progress gauge. It hosts the update procedure (it is the procedure's view) and keeps the
// module link's 100 ms time-out countdown running with a window timer.
#pragma once

#include "Datas.h"
#include "host.h"
#include "main_form.h"
#include "pcmcia.h"
#include "private_profile.h"
#include "update_view.h"
#include "win32_form.h"

class TOptForm;
class TMessageForm;

class TMainLoaderForm final : public Win32Form, public UpdateView {
 public:
  // `owner` is the application window (whose title the task bar shows). Creating the window
  // runs FormCreate.
  TMainLoaderForm(ModuleLink& link, platform::Host& application, platform::PrivateProfile& profile,
                  const UpdateImage& image, HWND owner);
  ~TMainLoaderForm() override;

  void SetDialogs(TOptForm* options, TMessageForm* messages);

  void FormCreate();
  void FormShow();
  void FormClose();
  void Button1Click();
  void Color95Button1Click();
  void Color95Button2Click();
  void Timer1Timer();
  bool FormKeyPress(int character) override;

  // UpdateView
  void SetStatusLine(const std::string& text) override;
  void SetGauge(int percent) override;
  void SetButtonsEnabled(bool enabled) override;
  void ClearLabel2() override;
  void ShowMessageForm(const std::string& text, const std::string& title) override;

  Win32Gradient* DfGradient1;
  Win32Label* Label5;
  Win32Label* Label3;
  Win32Label* Label7;
  Win32ColorButton* Color95Button1;
  Win32ColorButton* Button1;
  Win32ColorButton* Color95Button2;
  Win32Label* Label6;
  Win32Label* Label2;
  Win32Label* Fortschritt;
  Win32Gauge* ProgressBar1;

 protected:
  bool HandleMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;
  void CloseBox() override;

 private:
  ModuleLink& link_;
  platform::Host& application_;
  platform::PrivateProfile& profile_;
  UpdateImage image_;
  TOptForm* options_ = nullptr;
  TMessageForm* messages_ = nullptr;
  HFONT default_font_;
  HFONT title_font_;
  HFONT web_font_;
  HFONT start_font_;
  HFONT label2_font_;
  MainFormUpdate update_;
  bool closed_ = false;
};
