// Program start of the window program: the application title and the three
// windows, created in order (main window, options dialog, message dialog). Loader.cpp wraps
// it in the application object and the message loop; tests build it on simulated services.
#pragma once

#include <memory>

#include "Datas.h"
#include "host.h"
#include "pcmcia.h"
#include "private_profile.h"

class TMainLoaderForm;
class TOptForm;
class TMessageForm;

inline constexpr const char* kApplicationTitle = "Morvane Public-Loader XP USB";

// Gives the application its title (what the task bar shows) and the windows' fonts.
void SetUpApplication();

// The three windows for the whole run of the program; the globals MainLoaderForm, OptForm
// and MessageForm point to them while they exist.
class LoaderWindows {
 public:
  LoaderWindows(ModuleLink& link, platform::Host& application, platform::PrivateProfile& settings,
                const UpdateImage& image);
  ~LoaderWindows();
  LoaderWindows(const LoaderWindows&) = delete;
  LoaderWindows& operator=(const LoaderWindows&) = delete;

  TMainLoaderForm& Main() { return *main_; }
  TOptForm& Options() { return *options_; }
  TMessageForm& Messages() { return *messages_; }

 private:
  std::unique_ptr<TMainLoaderForm> main_;
  std::unique_ptr<TOptForm> options_;
  std::unique_ptr<TMessageForm> messages_;
};
