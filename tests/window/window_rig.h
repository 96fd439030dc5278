// Test rig for the window program: a Qt application on the offscreen platform, and the three
// windows on a module link that runs on virtual time with a simulated module at 0x320. Every
// pump of the message queue processes Qt's events, moves the virtual clock on and delivers
// the main window's 100 ms timer tick.
#pragma once

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Datas.h"
#include "Main.h"
#include "Options.h"
#include "ci_module.h"
#include "device_io.h"
#include "form_look.h"
#include "library_loader.h"
#include "msgunit.h"
#include "pcmcia.h"
#include "private_profile.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace window_test {

// No register driver on this machine.
class NoDevices final : public platform::DeviceIo {
 public:
  platform::DeviceHandle Open(const std::string&) override {
    ++opens;
    return platform::kInvalidDeviceHandle;
  }
  bool Control(platform::DeviceHandle, std::uint32_t, const void*, std::uint32_t, void*,
               std::uint32_t, std::uint32_t*) override {
    return false;
  }
  void Close(platform::DeviceHandle) override {}
  int opens = 0;
};

// No USB runtime, no adapter library.
class NoLibraries final : public platform::LibraryLoader {
 public:
  platform::LibraryHandle Load(const std::string&) override { return nullptr; }
  void* Find(platform::LibraryHandle, const char*) override { return nullptr; }
  void Unload(platform::LibraryHandle) override {}
  std::string ProgramFolder() override { return "/nonexistent/"; }
};

// A temporary folder for the settings file.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// Where the tests put their PNG pictures (MORVANE_SCREENSHOT_DIR when set, as for the i686
// window program's).
QString ScreenshotFolder();

// Calls `action` once, the next time `watched` is shown (a modal dialog's exec() is running
// then), from the event loop.
class OnShow : public QObject {
 public:
  OnShow(QWidget* watched, std::function<void()> action);
  bool eventFilter(QObject* watched, QEvent* event) override;
  int Shown() const { return shown_; }

 private:
  std::function<void()> action_;
  int shown_ = 0;
};

// The main window with everything the update shows recorded.
class WatchedMainForm : public TMainLoaderForm {
 public:
  using TMainLoaderForm::TMainLoaderForm;

  void SetStatusLine(const std::string& text) override {
    statusLines.push_back(text);
    buttonsAtStatus.push_back(AllButtonsEnabled());
    TMainLoaderForm::SetStatusLine(text);
  }
  void SetGauge(int percent) override {
    if (gauge.empty() || gauge.back() != percent) gauge.push_back(percent);
    TMainLoaderForm::SetGauge(percent);
  }
  bool AllButtonsEnabled() const;
  bool AnyButtonEnabled() const;

  std::vector<std::string> statusLines;
  std::vector<bool> buttonsAtStatus;
  std::vector<int> gauge;
};

// A small update: two preparation steps and four chunks.
struct SmallImage {
  std::vector<std::uint8_t> init;
  std::vector<std::uint8_t> main;
  SmallImage();
  UpdateImage View() const {
    return {init.data(), init.size(), static_cast<std::int32_t>(init.size()),
            main.data(), main.size(), static_cast<std::int32_t>(main.size())};
  }
};

// The module link alone on virtual time, with no module and a host that pumps nothing, and a
// settings file in a temporary folder: for tests that build the windows themselves.
struct BareLink {
  sim::VirtualClock clock;
  NoDevices devices;
  NoLibraries libraries;
  sim::SimPortSpace ports;
  sim::SimHost host{clock, [] {}};
  ModuleLink link{LinkServices{clock, ports, devices, libraries, host}};
  TempFolder folder;
  std::string settingsPath = folder.File("Morvane.ini");
  std::unique_ptr<platform::PrivateProfile> profile = platform::ProfileAtPath(settingsPath);
};

class WindowRig {
 public:
  // `settings` is the settings file's text before start (nullptr: no file).
  explicit WindowRig(const UpdateImage& image, const char* settings = nullptr,
                     bool attachModule = true);
  ~WindowRig();

  // Shows the main window (FormShow loads the settings).
  void Show();
  // Number of ModuleClose calls so far (each costs one 1.5 s pause; nothing else pauses here).
  int Closes() const;
  std::string SettingsText() const { return ReadText(settingsPath); }

  TempFolder folder;
  std::string settingsPath;
  UpdateImage image;
  sim::VirtualClock clock;
  sim::SimPortSpace ports;
  NoDevices devices;
  NoLibraries libraries;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<sim::SimHost> host;
  std::unique_ptr<ModuleLink> link;
  std::unique_ptr<platform::PrivateProfile> profile;
  std::unique_ptr<WatchedMainForm> form;
  std::unique_ptr<TOptForm> options;
  std::unique_ptr<TMessageForm> messages;
  // Runs at every pump, after Qt's events.
  std::function<void()> onPump;
};

}  // namespace window_test
