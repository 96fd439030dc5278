// A USB seam that tests script transfer by transfer: the devices present, the interface
// settings and pipes they offer, the replies that follow each command written to the bulk OUT
// pipe, and failures of any single operation. Every call is recorded in order.
//
// IN pipes behave as WinUSB's with partial reads: a read takes at most what it asks for from
// the oldest queued packet and the rest stays queued; a flush discards everything queued. The
// packets scripted for a command are queued only once that command has been written, so the
// flush that precedes every command cannot discard them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "usb_backend.h"
#include "virtual_clock.h"

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class UsbOp {
  GetClassDevices,
  EnumDeviceInfo,
  EnumDeviceInterfaces,
  GetDeviceInterfaceDetail,
  DestroyDeviceInfoList,
  CreateDeviceFile,
  CloseDeviceFile,
  Initialize,
  Free,
  QueryInterfaceSettings,
  SetCurrentAlternateSetting,
  QueryPipe,
  SetPipePolicy,
  ResetPipe,
  FlushPipe,
  WritePipe,
  ReadPipe,
  ControlTransfer,
};

const char* UsbOpName(UsbOp op);

struct UsbCall {
  UsbOp op;
  std::uint32_t index = 0;      // member index, setting or pipe index where the call has one
  std::uint8_t pipeId = 0;      // pipe calls
  std::uint32_t policy = 0;     // SetPipePolicy
  std::uint32_t length = 0;     // transfer length asked for
  Bytes data;                   // bytes written, policy value, or bytes delivered by a read
  cibridge::SetupPacket setup;  // ControlTransfer
  bool result = false;
};

// What follows one command written to the bulk OUT pipe.
struct CommandResponse {
  bool writeFails = false;
  std::optional<std::uint32_t> written;  // a short write: the count reported
  std::vector<Bytes> replies;            // packets queued on the interrupt IN pipe
};

class ScriptedUsb final : public cibridge::UsbBackend {
 public:
  // Handles the simulation gives out.
  static constexpr cibridge::UsbHandle kSetHandle = 0x5E7;
  static constexpr cibridge::UsbHandle kFileHandle = 0xF11E;
  static constexpr cibridge::UsbHandle kInterfaceHandle = 0x1F;

  // A failing read moves `clock` on by the pipe's time-out, as a real one takes that long.
  explicit ScriptedUsb(VirtualClock* clock = nullptr) : clock_(clock) {}

  // --- Scripting ---
  // A present device of the adapter class, in enumeration order.
  void AddDevice(std::string path) { devices_.push_back(std::move(path)); }
  void ClearDevices() { devices_.clear(); }
  // The interface settings the device offers (alternate setting -> its pipes).
  void SetSetting(std::uint8_t alternateSetting, std::vector<cibridge::PipeInformation> pipes);
  // Alternate setting 0 without endpoints and 1 with bulk OUT 0x04 and interrupt IN 0x88.
  void UseAdapterSettings();
  // Replies (or failures) for the next commands, one entry per bulk OUT write.
  void Respond(CommandResponse response) { responses_.push_back(std::move(response)); }
  void Reply(Bytes packet) { Respond({false, std::nullopt, {std::move(packet)}}); }
  void NoReply() { Respond({}); }
  // Packets on the interrupt IN pipe right now (before any further write).
  void QueueIn(Bytes packet) { inQueue_.push_back(std::move(packet)); }
  // The device descriptor the default pipe returns.
  void SetDeviceDescriptor(Bytes descriptor) { deviceDescriptor_ = std::move(descriptor); }

  // Failure knobs: the n-th call (0-based) of `op` fails; -1 = never. Counting starts at 0
  // when the knob is set.
  void FailCall(UsbOp op, int nth = 0);
  // Every call of `op` fails from now on.
  void FailAlways(UsbOp op) { failAlways_[op] = true; }
  // WinUsb_Initialize fails and leaves this in the interface handle.
  void SetInitializeFailureHandle(cibridge::UsbHandle handle) { initFailureHandle_ = handle; }
  // The device leaves the bus: every call on its file or interface fails from now on.
  void Unplug() { unplugged_ = true; }

  // --- Inspection ---
  const std::vector<UsbCall>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  std::vector<UsbCall> CallsOf(UsbOp op) const;
  // The frames written to the bulk OUT pipe, in order.
  std::vector<Bytes> WrittenFrames() const;
  std::uint32_t PipeTimeout(std::uint8_t pipeId) const;
  bool FileOpen() const { return openFiles_ != 0; }
  // Device files opened and not yet closed (each open gives out the same handle).
  int OpenFiles() const { return openFiles_; }
  bool InterfaceBound() const { return interfaceBound_; }
  std::size_t QueuedInBytes() const;
  std::size_t OpenSets() const { return openSets_; }

  // --- The seam ---
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

 private:
  // Records the call and decides whether a failure knob makes it fail.
  bool Injected(UsbOp op);
  UsbCall& Record(UsbOp op, bool result);
  bool InterfaceOk(cibridge::UsbHandle handle) const;
  bool HasPipe(std::uint8_t pipeId) const;

  VirtualClock* clock_;
  std::vector<std::string> devices_;
  std::map<std::uint8_t, std::vector<cibridge::PipeInformation>> settings_;
  std::deque<CommandResponse> responses_;
  std::deque<Bytes> inQueue_;
  Bytes deviceDescriptor_;
  std::map<UsbOp, int> failAt_;
  std::map<UsbOp, int> callCount_;
  std::map<UsbOp, bool> failAlways_;
  std::optional<cibridge::UsbHandle> initFailureHandle_;
  std::map<std::uint8_t, std::uint32_t> timeouts_;
  std::vector<UsbCall> calls_;
  std::uint8_t currentSetting_ = 0;
  std::size_t openSets_ = 0;
  int openFiles_ = 0;
  bool interfaceBound_ = false;
  bool unplugged_ = false;
};

}  // namespace sim
