#include "scripted_usb.h"

#include <algorithm>
#include <cstring>

namespace sim {

using cibridge::kInvalidHandleValue;
using cibridge::UsbHandle;

const char* UsbOpName(UsbOp op) {
  switch (op) {
    case UsbOp::GetClassDevices:
      return "GetClassDevices";
    case UsbOp::EnumDeviceInfo:
      return "EnumDeviceInfo";
    case UsbOp::EnumDeviceInterfaces:
      return "EnumDeviceInterfaces";
    case UsbOp::GetDeviceInterfaceDetail:
      return "GetDeviceInterfaceDetail";
    case UsbOp::DestroyDeviceInfoList:
      return "DestroyDeviceInfoList";
    case UsbOp::CreateDeviceFile:
      return "CreateDeviceFile";
    case UsbOp::CloseDeviceFile:
      return "CloseDeviceFile";
    case UsbOp::Initialize:
      return "Initialize";
    case UsbOp::Free:
      return "Free";
    case UsbOp::QueryInterfaceSettings:
      return "QueryInterfaceSettings";
    case UsbOp::SetCurrentAlternateSetting:
      return "SetCurrentAlternateSetting";
    case UsbOp::QueryPipe:
      return "QueryPipe";
    case UsbOp::SetPipePolicy:
      return "SetPipePolicy";
    case UsbOp::ResetPipe:
      return "ResetPipe";
    case UsbOp::FlushPipe:
      return "FlushPipe";
    case UsbOp::WritePipe:
      return "WritePipe";
    case UsbOp::ReadPipe:
      return "ReadPipe";
    case UsbOp::ControlTransfer:
      return "ControlTransfer";
  }
  return "?";
}

void ScriptedUsb::SetSetting(std::uint8_t alternateSetting,
                             std::vector<cibridge::PipeInformation> pipes) {
  settings_[alternateSetting] = std::move(pipes);
}

void ScriptedUsb::UseAdapterSettings() {
  settings_.clear();
  SetSetting(0, {});
  SetSetting(1, {{cibridge::UsbdPipeTypeBulk, 0x04, 512, 0},
                 {cibridge::UsbdPipeTypeInterrupt, 0x88, 512, 1}});
}

void ScriptedUsb::FailCall(UsbOp op, int nth) {
  failAt_[op] = nth;
  callCount_[op] = 0;
}

bool ScriptedUsb::Injected(UsbOp op) {
  if (failAlways_[op]) return true;
  const int count = callCount_[op]++;
  auto it = failAt_.find(op);
  return it != failAt_.end() && it->second == count;
}

UsbCall& ScriptedUsb::Record(UsbOp op, bool result) {
  UsbCall call;
  call.op = op;
  call.result = result;
  calls_.push_back(std::move(call));
  return calls_.back();
}

std::vector<UsbCall> ScriptedUsb::CallsOf(UsbOp op) const {
  std::vector<UsbCall> out;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
               [op](const UsbCall& call) { return call.op == op; });
  return out;
}

std::vector<Bytes> ScriptedUsb::WrittenFrames() const {
  std::vector<Bytes> frames;
  for (const UsbCall& call : calls_) {
    if (call.op == UsbOp::WritePipe) frames.push_back(call.data);
  }
  return frames;
}

std::uint32_t ScriptedUsb::PipeTimeout(std::uint8_t pipeId) const {
  auto it = timeouts_.find(pipeId);
  return it == timeouts_.end() ? 0 : it->second;
}

std::size_t ScriptedUsb::QueuedInBytes() const {
  std::size_t total = 0;
  for (const Bytes& packet : inQueue_) total += packet.size();
  return total;
}

bool ScriptedUsb::InterfaceOk(UsbHandle handle) const {
  return !unplugged_ && interfaceBound_ && openFiles_ != 0 && handle == kInterfaceHandle;
}

bool ScriptedUsb::HasPipe(std::uint8_t pipeId) const {
  auto it = settings_.find(currentSetting_);
  if (pipeId == 0 || it == settings_.end()) return false;
  return std::any_of(
      it->second.begin(), it->second.end(),
      [pipeId](const cibridge::PipeInformation& pipe) { return pipe.PipeId == pipeId; });
}

// --- Finding the adapter ---

UsbHandle ScriptedUsb::GetClassDevices(const cibridge::Guid& interfaceClass) {
  const bool ok =
      !Injected(UsbOp::GetClassDevices) && interfaceClass == cibridge::GUID_DEVINTERFACE_CI_ADAPTER;
  Record(UsbOp::GetClassDevices, ok);
  if (!ok) return kInvalidHandleValue;
  ++openSets_;
  return kSetHandle;
}

bool ScriptedUsb::EnumDeviceInfo(UsbHandle deviceInfoSet, std::uint32_t memberIndex) {
  const bool ok = !Injected(UsbOp::EnumDeviceInfo) && deviceInfoSet == kSetHandle &&
                  memberIndex < devices_.size();
  Record(UsbOp::EnumDeviceInfo, ok).index = memberIndex;
  return ok;
}

bool ScriptedUsb::EnumDeviceInterfaces(UsbHandle deviceInfoSet, const cibridge::Guid&,
                                       std::uint32_t memberIndex,
                                       cibridge::DeviceInterfaceData* interfaceData) {
  const bool ok = !Injected(UsbOp::EnumDeviceInterfaces) && deviceInfoSet == kSetHandle &&
                  interfaceData != nullptr && memberIndex < devices_.size();
  if (ok) interfaceData->reserved = memberIndex;
  Record(UsbOp::EnumDeviceInterfaces, ok).index = memberIndex;
  return ok;
}

bool ScriptedUsb::GetDeviceInterfaceDetail(UsbHandle deviceInfoSet,
                                           const cibridge::DeviceInterfaceData& interfaceData,
                                           char* pathBuffer, std::uint32_t pathBufferSize,
                                           std::uint32_t* requiredSize) {
  bool ok = !Injected(UsbOp::GetDeviceInterfaceDetail) && deviceInfoSet == kSetHandle &&
            interfaceData.reserved < devices_.size();
  if (ok) {
    const std::string& path = devices_[interfaceData.reserved];
    const auto needed = static_cast<std::uint32_t>(path.size() + 1);
    if (requiredSize != nullptr) *requiredSize = needed;
    ok = pathBuffer != nullptr && pathBufferSize >= needed;
    if (ok) std::memcpy(pathBuffer, path.c_str(), needed);
  }
  Record(UsbOp::GetDeviceInterfaceDetail, ok).index =
      static_cast<std::uint32_t>(interfaceData.reserved);
  return ok;
}

bool ScriptedUsb::DestroyDeviceInfoList(UsbHandle deviceInfoSet) {
  const bool ok = deviceInfoSet == kSetHandle && openSets_ > 0;
  if (ok) --openSets_;
  Record(UsbOp::DestroyDeviceInfoList, ok);
  return ok;
}

// --- The device file ---

UsbHandle ScriptedUsb::CreateDeviceFile(const char* devicePath) {
  const bool ok = !Injected(UsbOp::CreateDeviceFile) && !unplugged_ && devicePath != nullptr &&
                  std::find(devices_.begin(), devices_.end(), devicePath) != devices_.end();
  UsbCall& call = Record(UsbOp::CreateDeviceFile, ok);
  if (devicePath != nullptr) call.data.assign(devicePath, devicePath + std::strlen(devicePath));
  if (!ok) return kInvalidHandleValue;
  ++openFiles_;
  return kFileHandle;
}

bool ScriptedUsb::CloseDeviceFile(UsbHandle deviceFile) {
  const bool ok = !Injected(UsbOp::CloseDeviceFile) && deviceFile == kFileHandle && openFiles_ != 0;
  if (ok) --openFiles_;
  Record(UsbOp::CloseDeviceFile, ok);
  return ok;
}

// --- The interface and its pipes ---

bool ScriptedUsb::Initialize(UsbHandle deviceFile, UsbHandle* interfaceHandle) {
  const bool injected = Injected(UsbOp::Initialize);
  const bool ok = !injected && !unplugged_ && deviceFile == kFileHandle && openFiles_ != 0 &&
                  interfaceHandle != nullptr;
  Record(UsbOp::Initialize, ok);
  if (!ok) {
    if (interfaceHandle != nullptr && initFailureHandle_) *interfaceHandle = *initFailureHandle_;
    return false;
  }
  interfaceBound_ = true;
  currentSetting_ = 0;
  *interfaceHandle = kInterfaceHandle;
  return true;
}

bool ScriptedUsb::Free(UsbHandle interfaceHandle) {
  const bool ok = !Injected(UsbOp::Free) && interfaceHandle == kInterfaceHandle && interfaceBound_;
  if (ok) interfaceBound_ = false;
  Record(UsbOp::Free, ok);
  return ok;
}

bool ScriptedUsb::QueryInterfaceSettings(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                         cibridge::UsbInterfaceDescriptor* descriptor) {
  auto it = settings_.find(alternateSetting);
  const bool ok = !Injected(UsbOp::QueryInterfaceSettings) && InterfaceOk(interfaceHandle) &&
                  descriptor != nullptr && it != settings_.end();
  if (ok) {
    *descriptor = cibridge::UsbInterfaceDescriptor{};
    descriptor->bLength = 9;
    descriptor->bDescriptorType = 4;
    descriptor->bAlternateSetting = alternateSetting;
    descriptor->bNumEndpoints = static_cast<std::uint8_t>(it->second.size());
    descriptor->bInterfaceClass = 0xFF;
  }
  Record(UsbOp::QueryInterfaceSettings, ok).index = alternateSetting;
  return ok;
}

bool ScriptedUsb::SetCurrentAlternateSetting(UsbHandle interfaceHandle,
                                             std::uint8_t alternateSetting) {
  const bool ok = !Injected(UsbOp::SetCurrentAlternateSetting) && InterfaceOk(interfaceHandle) &&
                  settings_.count(alternateSetting) != 0;
  if (ok) {
    currentSetting_ = alternateSetting;
    inQueue_.clear();
  }
  Record(UsbOp::SetCurrentAlternateSetting, ok).index = alternateSetting;
  return ok;
}

bool ScriptedUsb::QueryPipe(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                            std::uint8_t pipeIndex, cibridge::PipeInformation* pipe) {
  auto it = settings_.find(alternateSetting);
  const bool ok = !Injected(UsbOp::QueryPipe) && InterfaceOk(interfaceHandle) && pipe != nullptr &&
                  it != settings_.end() && pipeIndex < it->second.size();
  if (ok) *pipe = it->second[pipeIndex];
  UsbCall& call = Record(UsbOp::QueryPipe, ok);
  call.index = pipeIndex;
  if (ok) call.pipeId = pipe->PipeId;
  return ok;
}

bool ScriptedUsb::SetPipePolicy(UsbHandle interfaceHandle, std::uint8_t pipeId,
                                std::uint32_t policy, std::uint32_t valueLength,
                                const void* value) {
  const bool ok = !Injected(UsbOp::SetPipePolicy) && InterfaceOk(interfaceHandle) &&
                  HasPipe(pipeId) && value != nullptr;
  UsbCall& call = Record(UsbOp::SetPipePolicy, ok);
  call.pipeId = pipeId;
  call.policy = policy;
  if (value != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    call.data.assign(bytes, bytes + valueLength);
  }
  if (ok && policy == cibridge::PIPE_TRANSFER_TIMEOUT && valueLength == 4) {
    std::uint32_t timeout = 0;
    std::memcpy(&timeout, value, 4);
    timeouts_[pipeId] = timeout;
  }
  return ok;
}

bool ScriptedUsb::ResetPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  const bool ok = !Injected(UsbOp::ResetPipe) && InterfaceOk(interfaceHandle) && HasPipe(pipeId);
  Record(UsbOp::ResetPipe, ok).pipeId = pipeId;
  return ok;
}

bool ScriptedUsb::FlushPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  const bool ok = !Injected(UsbOp::FlushPipe) && InterfaceOk(interfaceHandle) && HasPipe(pipeId);
  if (ok && (pipeId & 0x80) != 0) inQueue_.clear();
  Record(UsbOp::FlushPipe, ok).pipeId = pipeId;
  return ok;
}

bool ScriptedUsb::WritePipe(UsbHandle interfaceHandle, std::uint8_t pipeId,
                            const std::uint8_t* data, std::uint32_t length,
                            std::uint32_t* lengthTransferred) {
  bool ok = !Injected(UsbOp::WritePipe) && InterfaceOk(interfaceHandle) && HasPipe(pipeId) &&
            (pipeId & 0x80) == 0 && data != nullptr;
  std::uint32_t count = 0;
  if (ok && !responses_.empty()) {
    CommandResponse response = std::move(responses_.front());
    responses_.pop_front();
    if (response.writeFails) {
      ok = false;
    } else {
      count = response.written.value_or(length);
      for (Bytes& packet : response.replies) inQueue_.push_back(std::move(packet));
    }
  } else if (ok) {
    count = length;
  }
  if (lengthTransferred != nullptr) *lengthTransferred = count;
  UsbCall& call = Record(UsbOp::WritePipe, ok);
  call.pipeId = pipeId;
  call.length = length;
  if (data != nullptr) call.data.assign(data, data + length);
  return ok;
}

bool ScriptedUsb::ReadPipe(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                           std::uint32_t length, std::uint32_t* lengthTransferred) {
  bool ok = !Injected(UsbOp::ReadPipe) && InterfaceOk(interfaceHandle) && HasPipe(pipeId) &&
            (pipeId & 0x80) != 0 && buffer != nullptr;
  Bytes delivered;
  if (ok && inQueue_.empty()) {
    ok = false;  // nothing arrives: the read ends on the pipe's time-out
    if (clock_ != nullptr) clock_->AdvanceMs(PipeTimeout(pipeId));
  } else if (ok) {
    Bytes& packet = inQueue_.front();
    const std::size_t count = std::min<std::size_t>(packet.size(), length);
    delivered.assign(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(count));
    if (count > 0) std::memcpy(buffer, delivered.data(), count);
    packet.erase(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(count));
    if (packet.empty()) inQueue_.pop_front();
  }
  if (lengthTransferred != nullptr)
    *lengthTransferred = static_cast<std::uint32_t>(delivered.size());
  UsbCall& call = Record(UsbOp::ReadPipe, ok);
  call.pipeId = pipeId;
  call.length = length;
  call.data = std::move(delivered);
  return ok;
}

bool ScriptedUsb::ControlTransfer(UsbHandle interfaceHandle, const cibridge::SetupPacket& setup,
                                  std::uint8_t* buffer, std::uint32_t length,
                                  std::uint32_t* lengthTransferred) {
  const bool ok = !Injected(UsbOp::ControlTransfer) && InterfaceOk(interfaceHandle) &&
                  setup.Length <= length && (setup.Length == 0 || buffer != nullptr);
  UsbCall& call = Record(UsbOp::ControlTransfer, ok);
  call.setup = setup;
  call.length = length;
  std::uint32_t count = 0;
  if (ok && (setup.RequestType & 0x80) != 0) {
    count =
        static_cast<std::uint32_t>(std::min<std::size_t>(setup.Length, deviceDescriptor_.size()));
    if (count > 0) std::memcpy(buffer, deviceDescriptor_.data(), count);
    call.data.assign(buffer, buffer + count);
  } else if (ok) {
    count = setup.Length;
    call.data.assign(buffer, buffer + count);
  }
  if (lengthTransferred != nullptr) *lengthTransferred = count;
  return ok;
}

}  // namespace sim
