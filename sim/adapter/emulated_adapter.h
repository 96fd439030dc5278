// An emulated USB CI adapter behind cibridge's USB seam: an EZ-USB FX2 (sim/fx2) with a PC Card
// slot that carries the simulated CI module.
//
// It starts cold, as the FX2 comes up without its program: the chip's USB core answers with its
// default descriptors (alternate setting 1: bulk pipes only, so the library finds no interrupt
// IN pipe) and serves the firmware-load request 0xA0. What the library downloads is what runs:
// when the CPU is released the 8051 core executes code memory, and everything after that (the
// disconnect, the return with the program's own descriptors, the answers on the control
// endpoint, the command frames on 0x04 and the replies on 0x88, the PC Card cycles) is the
// program's own doing. A program that never starts leaves the adapter cold.
//
// Time: the chip runs the machine cycles of the time that passes on the clock. Every seam call
// first lets the chip catch up with the clock; a call that waits for the device (a read, a
// write the device NAKs, a control transfer the program has not answered yet) moves the clock
// on in steps of one high-speed microframe and runs the chip for each, until the device
// answers or the pipe's time-out runs out.
//
// USB behaves as the library sees it through WinUSB: per-pipe transfer time-outs, partial reads
// that keep the rest of a packet, a flush that drops it, data toggles on both sides, and a pipe
// reset that clears the host's toggle and sends CLEAR_FEATURE(ENDPOINT_HALT) to the program.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ci_module.h"
#include "clock.h"
#include "fx2_chip.h"
#include "pcmcia_slot.h"
#include "usb_backend.h"

namespace sim {

class EmulatedAdapter final : public cibridge::UsbBackend {
 public:
  // `program` is the adapter program as the library carries it (StartWarm() loads it);
  // `module` may be null (empty slot). The IDs are the adapter's own, under which it comes up
  // cold.
  EmulatedAdapter(platform::Clock& clock, CiModule* module, std::span<const std::uint8_t> program,
                  std::uint16_t vendorId = 0x1B0D, std::uint16_t productId = 0x5F10);
  ~EmulatedAdapter() override;

  // The program was downloaded earlier: loads it as the library would, releases the CPU and
  // runs the chip (moving the clock on) until the program is back on the bus.
  void StartWarm();

  // --- Fault knobs and timing ---
  // After the program re-enumerates, the host takes this much longer before the adapter shows
  // in searches (the program's own disconnect is part of the program).
  void SetReenumerationMs(std::uint32_t milliseconds) { reenumerationMs_ = milliseconds; }
  // After the program re-enumerates, the adapter stays invisible to this many searches.
  void SetReturnAfterSearches(int searches) { returnAfterSearches_ = searches; }
  // After the program re-enumerates, the host never shows the adapter again.
  void SetNeverReturns(bool never) { neverReturns_ = never; }
  // Time every USB transfer takes on the bus.
  void SetTransferLatencyUs(std::uint32_t microseconds) { latencyUs_ = microseconds; }
  // Time from a control write's data stage to its status stage (default: one microframe at
  // high speed, one frame at full speed); the device must still be on the bus then.
  void SetStatusStageUs(std::uint32_t microseconds) { statusStageUs_ = microseconds; }
  // The host port runs at full speed (enumeration gives no high-speed grant).
  void SetFullSpeed(bool fullSpeed) { fullSpeed_ = fullSpeed; }
  // Bytes put over code memory when the CPU is released, as if the library carried a
  // different program.
  void SetDownloadPatch(std::uint16_t address, std::vector<std::uint8_t> bytes);
  // Receives a line for each step of the adapter's life worth telling (download, program
  // start, re-enumeration, module reset, configuration, negotiation); the demo prints them.
  void SetEventSink(std::function<void(const std::string&)> sink) { events_ = std::move(sink); }
  void Unplug() { plugged_ = false; }
  void Plug() { plugged_ = true; }

  // --- What happened ---
  bool ProgramRunning() const { return !chip_->CpuHeld(); }
  int ProgramStarts() const { return chip_->CpuReleases(); }
  std::uint16_t VendorId() const { return vendorId_; }
  std::uint16_t ProductId() const { return productId_; }
  std::string DevicePath() const;
  int Searches() const { return searches_; }
  int CommandFrames() const { return commandFrames_; }
  // Real time spent letting the device run: the naps for bus transfers and for microframes in
  // which the program had no answer yet, and the chip's runs. The rest of a caller's time is
  // its own.
  std::uint64_t DeviceRealTimeUs() const { return deviceRealTimeNs_ / 1000u; }
  fx2::PcmciaSlot& Slot() { return *slot_; }
  fx2::Fx2Chip& Chip() { return *chip_; }

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
  // The longest wait of a transfer whose pipe has no time-out (WinUSB would wait for ever).
  static constexpr std::uint32_t kEndlessWaitMs = 120'000;
  // After a longer time without any call (a demo window left open), the chip runs only this
  // much of it: the program, idle in its main loop, loses nothing but ticks of its timer.
  static constexpr std::uint32_t kLongestCatchUpMs = 10'000;
  // How far the chip may fall behind the machine's clock while it runs; beyond it the time is
  // forgone (ForgoWhatTheChipCannotKeepUpWith).
  static constexpr std::uint32_t kLongestLagMs = 100;

 private:
  struct Setting {
    cibridge::UsbInterfaceDescriptor descriptor;
    std::vector<cibridge::PipeInformation> pipes;
  };

  // Time.
  std::uint64_t TickUs();  // the clock's milliseconds, in microseconds
  void CatchUp();
  void Spend(std::uint32_t microseconds);
  void ForgoWhatTheChipCannotKeepUpWith();
  // Waits end on the clock (to its millisecond), not on the chip's time.
  std::uint64_t Deadline(std::uint32_t timeoutMs);
  bool Expired(std::uint64_t deadline);
  void Latency();
  // The bus.
  void Observe();
  bool OnBus();
  void Enumerate();
  bool ValidInterface(cibridge::UsbHandle interfaceHandle);
  bool HasPipe(std::uint8_t pipeId) const;
  std::uint32_t Timeout(std::uint8_t pipeId) const;
  // One control transfer through the chip; false when it stalls, times out or the device
  // leaves the bus before its status stage.
  bool Control(const fx2::Setup& setup, std::span<const std::uint8_t> outData,
               std::vector<std::uint8_t>* inData, std::uint32_t timeoutMs);
  void NoticeDownload(const cibridge::SetupPacket& setup, const std::uint8_t* data);
  void TellReply(const std::vector<std::uint8_t>& frame);
  void Tell(const std::string& event);

  platform::Clock& clock_;
  std::vector<std::uint8_t> program_;
  std::uint16_t coldVendorId_;
  std::uint16_t coldProductId_;
  std::unique_ptr<fx2::Fx2Chip> chip_;
  std::unique_ptr<fx2::PcmciaSlot> slot_;

  // Time: the clock as the chip has run up to it.
  std::uint32_t lastTick_ = 0;
  std::uint64_t clockMs_ = 0;
  std::uint64_t syncedUs_ = 0;
  std::uint64_t deviceRealTimeNs_ = 0;

  // The bus as the host sees it.
  bool plugged_ = true;
  bool fullSpeed_ = false;
  std::uint32_t connection_ = 1;  // a new one at every (re-)enumeration
  int seenDisconnects_ = 0;
  bool enumerated_ = false;
  bool enumerationFailed_ = false;
  std::uint64_t connectedAtUs_ = 0;
  std::uint16_t vendorId_;
  std::uint16_t productId_;
  std::vector<Setting> settings_;
  std::uint8_t alternateSetting_ = 0;
  std::map<std::uint8_t, std::uint32_t> timeouts_;
  bool outToggle_ = false;  // the host's data toggles of 0x04 and 0x88
  bool inToggle_ = false;
  std::vector<std::uint8_t> partial_;  // rest of a packet the host read in part

  std::map<cibridge::UsbHandle, std::uint32_t> deviceSets_;  // set -> members
  cibridge::UsbHandle nextSet_ = 0x5E70;
  int searchesAtReturn_ = 0;
  int searches_ = 0;
  int commandFrames_ = 0;
  std::uint32_t reenumerationMs_ = 0;
  int returnAfterSearches_ = 0;
  bool neverReturns_ = false;
  std::uint32_t latencyUs_ = 0;
  std::uint32_t statusStageUs_ = 0;  // 0: one (micro)frame
  std::map<std::uint16_t, std::vector<std::uint8_t>> downloadPatches_;

  std::function<void(const std::string&)> events_;
  std::uint8_t lastCommand_ = 0;
  std::uint32_t bytesDownloaded_ = 0;
  bool downloading_ = false;
  bool announcedReturn_ = true;
};

}  // namespace sim
