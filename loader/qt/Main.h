// The main window: title lines, "Optionen", "Start Update", "Exit", the status line and the
// progress gauge. It hosts the update procedure (it is the procedure's view) and keeps the
// module link's 100 ms time-out countdown running.
#pragma once

#include <QWidget>
#include <string>

#include "Datas.h"
#include "host.h"
#include "main_form.h"
#include "pcmcia.h"
#include "private_profile.h"
#include "update_view.h"

class QLabel;
class QTimer;
class TDfGradient;
class TColor95Button;
class TGauge;
class TOptForm;
class TMessageForm;

class TMainLoaderForm : public QWidget, public UpdateView {
 public:
  // `application` is handed to ModuleOpen and pumped during waits; `profile` is the settings
  // file; `image` is the update the procedure sends. Creating the window runs FormCreate.
  TMainLoaderForm(ModuleLink& link, platform::Host& application, platform::PrivateProfile& profile,
                  const UpdateImage& image, QWidget* parent = nullptr);
  ~TMainLoaderForm() override;

  // The two dialogs, created after this window.
  void SetDialogs(TOptForm* options, TMessageForm* messages);

  // Event handlers.
  void FormCreate();
  void FormShow();
  void FormClose();
  void Button1Click();         // "Start Update": one whole update
  void Color95Button1Click();  // "Optionen"
  void Color95Button2Click();  // "Exit"
  void Timer1Timer();

  bool UpdateRunning() const { return update_.Running(); }

  // UpdateView
  void SetStatusLine(const std::string& text) override;
  void SetGauge(int percent) override;
  void SetButtonsEnabled(bool enabled) override;
  void ClearLabel2() override;
  void ShowMessageForm(const std::string& text, const std::string& title) override;

  // Controls, named as in the layout.
  TDfGradient* DfGradient1;
  QLabel* Label5;
  QLabel* Label3;
  QLabel* Label7;
  TColor95Button* Color95Button1;
  TColor95Button* Button1;
  TColor95Button* Color95Button2;
  QLabel* Label6;
  QLabel* Label2;
  QLabel* Fortschritt;
  TGauge* ProgressBar1;
  QLabel* Label1;
  QLabel* Label4;
  QTimer* Timer1;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // FormKeyPress

 private:
  QPoint CentredPosition() const;

  ModuleLink& link_;
  platform::Host& application_;
  platform::PrivateProfile& profile_;
  UpdateImage image_;
  TOptForm* options_ = nullptr;
  TMessageForm* messages_ = nullptr;
  bool shown_ = false;
  MainFormUpdate update_;
  bool closed_ = false;
};

// The program's main window (created at start-up).
extern TMainLoaderForm* MainLoaderForm;
