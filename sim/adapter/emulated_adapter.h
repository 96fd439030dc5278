// An emulated USB CI adapter behind cibridge's USB seam: an EZ-USB FX2 with a PCMCIA slot.
//
// It starts cold, as the FX2 comes up without its program: the chip's default descriptors, no
// interrupt IN pipe, and nothing but the firmware-load request 0xA0 (CPUCS at 0xE600 held and
// released, code memory written). When the CPU is released it checks that code memory holds
// the adapter program as the library carries it (the four ID bytes at 0x108 may differ), then
// leaves the bus and comes back with the program's own descriptors and the IDs written there,
// running the program's command handling (firmware/core compiled for the host) with the
// simulated CI module in its slot.
//
// USB behaves as the library sees it through WinUSB: per-pipe transfer time-outs, partial
// reads that keep the rest of a packet, a flush that drops it, and a pipe reset (clear halt)
// that also makes the program drop replies still waiting in its endpoint buffers. A read waits
// on the clock while the program works, so module delays and time-outs take their real time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ci_module.h"
#include "ci_slot.h"
#include "clock.h"
#include "command_core.h"
#include "usb_backend.h"

namespace sim {

class EmulatedAdapter final : public cibridge::UsbBackend {
 public:
  // `program` is the adapter program as the library carries it; `module` may be null (empty
  // slot). The IDs are the adapter's own, under which it comes up cold.
  EmulatedAdapter(platform::Clock& clock, CiModule* module, std::span<const std::uint8_t> program,
                  std::uint16_t vendorId = 0x1B0D, std::uint16_t productId = 0x5F10);
  ~EmulatedAdapter() override;

  // The program was downloaded earlier and runs already.
  void StartWarm();

  // --- Fault knobs and timing ---
  // After its program starts, the adapter is off the bus this long (the program's own
  // disconnect time is 1.5 s).
  void SetReenumerationMs(std::uint32_t milliseconds) { reenumerationMs_ = milliseconds; }
  // After its program starts, the adapter stays invisible to this many searches.
  void SetReturnAfterSearches(int searches) { returnAfterSearches_ = searches; }
  // After its program starts, the adapter never comes back.
  void SetNeverReturns(bool never) { neverReturns_ = never; }
  // Time every USB transfer takes on the bus.
  void SetTransferLatencyUs(std::uint32_t microseconds) { latencyUs_ = microseconds; }
  // Receives a line for each step of the adapter's life worth telling (download, program
  // start, re-enumeration, module reset, configuration, negotiation); the demo prints them.
  void SetEventSink(std::function<void(const std::string&)> sink) { events_ = std::move(sink); }
  void Unplug() { plugged_ = false; }
  void Plug() { plugged_ = true; }

  // --- What happened ---
  bool ProgramRunning() const { return running_; }
  int ProgramStarts() const { return programStarts_; }
  // The last download held something other than the adapter program.
  bool ProgramMismatch() const { return programMismatch_; }
  std::uint16_t VendorId() const;
  std::uint16_t ProductId() const;
  std::string DevicePath() const;
  int Searches() const { return searches_; }
  int CommandFrames() const { return commandFrames_; }
  firmware::CiSlot& Slot() { return *slot_; }

  // --- The USB seam ---
  cibridge::UsbHandle GetClassDevices(const cibridge::Guid& interfaceClass) override;
  bool EnumDeviceInfo(cibridge::UsbHandle deviceInfoSet, std::uint32_t memberIndex) override;
  bool EnumDeviceInterfaces(cibridge::UsbHandle deviceInfoSet, const cibridge::Guid& interfaceClass,
                            std::uint32_t memberIndex,
                            cibridge::DeviceInterfaceData* interfaceData) override;
  bool GetDeviceInterfaceDetail(cibridge::UsbHandle deviceInfoSet,
                                const cibridge::DeviceInterfaceData& interfaceData,
                                char* pathBuffer, std::uint32_t pathBufferSize,
                                std::uint32_t* requiredSize) override;
  bool DestroyDeviceInfoList(cibridge::UsbHandle deviceInfoSet) override;
  cibridge::UsbHandle CreateDeviceFile(const char* devicePath) override;
  bool CloseDeviceFile(cibridge::UsbHandle deviceFile) override;
  bool Initialize(cibridge::UsbHandle deviceFile, cibridge::UsbHandle* interfaceHandle) override;
  bool Free(cibridge::UsbHandle interfaceHandle) override;
  bool QueryInterfaceSettings(cibridge::UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                              cibridge::UsbInterfaceDescriptor* descriptor) override;
  bool SetCurrentAlternateSetting(cibridge::UsbHandle interfaceHandle,
                                  std::uint8_t alternateSetting) override;
  bool QueryPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                 std::uint8_t pipeIndex, cibridge::PipeInformation* pipe) override;
  bool SetPipePolicy(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint32_t policy,
                     std::uint32_t valueLength, const void* value) override;
  bool ResetPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId) override;
  bool FlushPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId) override;
  bool WritePipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* data,
                 std::uint32_t length, std::uint32_t* lengthTransferred) override;
  bool ReadPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                std::uint32_t length, std::uint32_t* lengthTransferred) override;
  bool ControlTransfer(cibridge::UsbHandle interfaceHandle, const cibridge::SetupPacket& setup,
                       std::uint8_t* buffer, std::uint32_t length,
                       std::uint32_t* lengthTransferred) override;

  static constexpr std::size_t kCodeMemory = 8192;
  static constexpr std::uint16_t kCpuCs = 0xE600;

 private:
  struct Setting {
    cibridge::UsbInterfaceDescriptor descriptor;
    std::vector<cibridge::PipeInformation> pipes;
  };

  bool OnBus();
  bool ValidInterface(cibridge::UsbHandle interfaceHandle);
  std::vector<Setting> Settings() const;
  bool HasPipe(std::uint8_t pipeId) const;
  void HoldCpu();
  void ReleaseCpu();
  void Latency();
  void Tell(const std::string& event);
  void OnReply(std::vector<std::uint8_t> frame);
  void WaitOut(std::uint32_t timeoutMs);
  std::uint32_t Timeout(std::uint8_t pipeId) const;

  platform::Clock& clock_;
  std::vector<std::uint8_t> program_;
  std::uint16_t coldVendorId_;
  std::uint16_t coldProductId_;
  std::unique_ptr<firmware::CiSlot> slot_;
  std::unique_ptr<firmware::CommandCore> core_;

  std::vector<std::uint8_t> code_ = std::vector<std::uint8_t>(kCodeMemory, 0x00);
  bool plugged_ = true;
  bool running_ = false;
  bool cpuHeld_ = false;
  bool programMismatch_ = false;
  int programStarts_ = 0;
  std::uint32_t connection_ = 1;  // a new one at every (re-)enumeration
  std::uint32_t backAtMs_ = 0;
  int searchesAtStart_ = 0;
  int searches_ = 0;
  int commandFrames_ = 0;
  std::uint32_t reenumerationMs_ = 1500;
  int returnAfterSearches_ = 0;
  bool neverReturns_ = false;
  std::uint32_t latencyUs_ = 0;

  std::map<cibridge::UsbHandle, std::uint32_t> deviceSets_;  // set -> members
  std::uint8_t alternateSetting_ = 0;
  std::map<std::uint8_t, std::uint32_t> timeouts_;
  int coldOutPackets_ = 0;
  std::deque<std::vector<std::uint8_t>> replies_;  // the program's interrupt IN buffers
  std::vector<std::uint8_t> partial_;              // rest of a packet the host read in part
  cibridge::UsbHandle nextSet_ = 0x5E70;
  std::function<void(const std::string&)> events_;
  std::uint8_t lastCommand_ = 0;
  std::uint32_t bytesDownloaded_ = 0;
  bool announcedReturn_ = true;
};

}  // namespace sim
