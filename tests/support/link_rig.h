// Test fixtures: a ModuleLink on virtual time with a simulated module behind simulated ports,
// doubles for the device and library seams, and a view that records what the update shows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Datas.h"
#include "Update.h"
#include "ci_module.h"
#include "device_io.h"
#include "library_loader.h"
#include "pcmcia.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace test {

// A device seam that records every request. Opens succeed only for paths in `openable`;
// reads answer from `readValue` unless `failRequests` is set.
class RecordingDevices final : public platform::DeviceIo {
 public:
  struct Request {
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::uint32_t outputSize;
  };
  platform::DeviceHandle Open(const std::string& path) override;
  bool Control(platform::DeviceHandle handle, std::uint32_t code, const void* input,
               std::uint32_t inputSize, void* output, std::uint32_t outputSize,
               std::uint32_t* bytesReturned) override;
  void Close(platform::DeviceHandle handle) override { closed.push_back(handle); }

  std::vector<std::string> openable;
  std::vector<std::string> opened;
  std::vector<platform::DeviceHandle> closed;
  std::vector<Request> requests;
  std::uint8_t readValue = 0x5A;
  bool failRequests = false;
};

// A library seam on which nothing loads (no USB runtime, no adapter library).
class NoLibraries final : public platform::LibraryLoader {
 public:
  platform::LibraryHandle Load(const std::string& name) override {
    loads.push_back(name);
    return nullptr;
  }
  void* Find(platform::LibraryHandle, const char*) override { return nullptr; }
  void Unload(platform::LibraryHandle) override {}
  std::string ProgramFolder() override { return "/opt/morvane/"; }
  std::vector<std::string> loads;
};

// An update view that records what the procedure shows.
class RecordingView final : public UpdateView {
 public:
  struct Message {
    std::string text;
    std::string title;
  };
  void SetStatusLine(const std::string& text) override { statusLines.push_back(text); }
  void SetGauge(int percent) override {
    if (gauge.empty() || gauge.back() != percent) gauge.push_back(percent);
    lastGauge = percent;
  }
  void SetButtonsEnabled(bool enabled) override {
    buttonsEnabled = enabled;
    buttonChanges.push_back(enabled);
  }
  void ClearLabel2() override { ++label2Cleared; }
  void ShowMessageForm(const std::string& text, const std::string& title) override {
    messages.push_back({text, title});
    if (onMessage) onMessage();
  }

  std::vector<std::string> statusLines;
  std::vector<int> gauge;  // distinct successive values
  int lastGauge = -1;
  bool buttonsEnabled = true;
  std::vector<bool> buttonChanges;
  int label2Cleared = 0;
  std::vector<Message> messages;
  std::function<void()> onMessage;
};

// The built-in image, or one made for a test.
struct TestImage {
  std::vector<std::uint8_t> init;
  std::vector<std::uint8_t> main;
  std::int32_t initSize;
  std::int32_t mainSize;
  UpdateImage View() const {
    return {init.data(), init.size(), initSize, main.data(), main.size(), mainSize};
  }
  static TestImage Generated(std::int32_t initSize, std::size_t initLength, std::int32_t mainSize,
                             std::size_t mainLength = 179328);
};

// Everything one update needs, on virtual time: the module sits at port 0x320 and is probed
// there with AutoProbe.
class LinkRig {
 public:
  explicit LinkRig(const UpdateImage& image = BuiltInImage());

  ModuleLink& Link() { return *link; }
  UpdateOutcome RunUpdate();
  // Counts ModuleClose calls by watching its 1.5 s pause.
  int Closes() const;

  UpdateImage image;
  sim::VirtualClock clock;
  std::unique_ptr<sim::SimHost> host;
  sim::SimPortSpace ports;
  RecordingDevices devices;
  NoLibraries libraries;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<ModuleLink> link;
  RecordingView view;
};

}  // namespace test
