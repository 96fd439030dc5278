#include "emulated_adapter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr std::size_t kIdOffset = 0x108;
constexpr std::uint8_t kCommandPipe = 0x04;
constexpr std::uint8_t kReplyPipe = 0x88;
constexpr std::uint32_t kMicroframeUs = 125;
constexpr std::uint32_t kFrameUs = 1000;
constexpr std::uint32_t kControlTimeoutMs = 5000;  // WinUSB's default for the control pipe
constexpr cibridge::UsbHandle kFileBase = 0xF000;
constexpr cibridge::UsbHandle kInterfaceBase = 0x1000;

// Adds the real time of its scope to a running total in nanoseconds.
class RealTimeSpan {
 public:
  explicit RealTimeSpan(std::uint64_t& totalNs)
      : totalNs_(totalNs), start_(std::chrono::steady_clock::now()) {}
  RealTimeSpan(const RealTimeSpan&) = delete;
  RealTimeSpan& operator=(const RealTimeSpan&) = delete;
  ~RealTimeSpan() {
    totalNs_ += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::steady_clock::now() - start_)
                                               .count());
  }

 private:
  std::uint64_t& totalNs_;
  std::chrono::steady_clock::time_point start_;
};

fx2::Setup ToSetup(const cibridge::SetupPacket& setup) {
  return {setup.RequestType, setup.Request, setup.Value, setup.Index, setup.Length};
}

}  // namespace

EmulatedAdapter::EmulatedAdapter(platform::Clock& clock, CiModule* module,
                                 std::span<const std::uint8_t> program, std::uint16_t vendorId,
                                 std::uint16_t productId)
    : clock_(clock),
      program_(program.begin(), program.end()),
      coldVendorId_(vendorId),
      coldProductId_(productId),
      chip_(std::make_unique<fx2::Fx2Chip>(vendorId, productId)),
      vendorId_(vendorId),
      productId_(productId) {
  program_.resize(kCodeMemory, 0xFF);  // the library writes 0xFF above its image
  slot_ = std::make_unique<fx2::PcmciaSlot>([this] { return chip_->NowUs(); }, module);
  chip_->AttachSlot(slot_.get());
  lastTick_ = clock_.TickCount();
  clockMs_ = lastTick_;
  syncedUs_ = TickUs();
}

EmulatedAdapter::~EmulatedAdapter() = default;

void EmulatedAdapter::Tell(const std::string& event) {
  if (events_) events_(event);
}

void EmulatedAdapter::SetDownloadPatch(std::uint16_t address, std::vector<std::uint8_t> bytes) {
  downloadPatches_[address] = std::move(bytes);
}

// --- Time ---

std::uint64_t EmulatedAdapter::TickUs() {
  const std::uint32_t tick = clock_.TickCount();
  clockMs_ += static_cast<std::uint32_t>(tick - lastTick_);  // the tick count wraps
  lastTick_ = tick;
  return clockMs_ * 1000u;
}

void EmulatedAdapter::CatchUp() {
  const RealTimeSpan span(deviceRealTimeNs_);
  const std::uint64_t now = TickUs();
  if (now > syncedUs_) {
    chip_->RunUs(
        std::min<std::uint64_t>(now - syncedUs_, std::uint64_t{kLongestCatchUpMs} * 1000u));
    syncedUs_ = now;
    ForgoWhatTheChipCannotKeepUpWith();
  }
  Observe();
}

void EmulatedAdapter::ForgoWhatTheChipCannotKeepUpWith() {
  // On the machine's clock, time goes on while the chip runs. Where the chip runs slower than
  // real time (a sanitizer build on a busy machine), owing it that time would make each call
  // run longer than the one before, without end: beyond a short lag it is forgone. On a
  // virtual clock, which stands still while the chip runs, nothing changes.
  const std::uint64_t now = TickUs();
  const std::uint64_t longestLagUs = std::uint64_t{kLongestLagMs} * 1000u;
  if (now > syncedUs_ + longestLagUs) syncedUs_ = now - longestLagUs;
}

void EmulatedAdapter::Spend(std::uint32_t microseconds) {
  const RealTimeSpan span(deviceRealTimeNs_);
  clock_.Nap(microseconds);
  // The clock counts milliseconds: the chip goes on by the nap, but never more than a
  // millisecond ahead of the clock (a nap may return at once, as on Windows).
  const std::uint64_t tick = TickUs();
  const std::uint64_t target =
      std::max(tick, std::min<std::uint64_t>(syncedUs_ + microseconds, tick + 1000u));
  if (target > syncedUs_) {
    chip_->RunUs(target - syncedUs_);
    syncedUs_ = target;
    ForgoWhatTheChipCannotKeepUpWith();
  }
  Observe();
}

std::uint64_t EmulatedAdapter::Deadline(std::uint32_t timeoutMs) {
  return TickUs() + std::uint64_t{timeoutMs} * 1000u;
}

bool EmulatedAdapter::Expired(std::uint64_t deadline) {
  return TickUs() >= deadline;
}

void EmulatedAdapter::Latency() {
  if (latencyUs_ != 0) Spend(latencyUs_);
}

// --- The bus ---

void EmulatedAdapter::Observe() {
  if (chip_->Disconnects() != seenDisconnects_) {
    // The program left the bus; whatever was open on the old connection is gone.
    seenDisconnects_ = chip_->Disconnects();
    ++connection_;
    enumerated_ = false;
    enumerationFailed_ = false;
    timeouts_.clear();
    partial_.clear();
    alternateSetting_ = 0;
    searchesAtReturn_ = searches_;
    connectedAtUs_ = 0;
    announcedReturn_ = false;
    Tell("off the bus for re-enumeration");
  }
  if (chip_->Connected() && connectedAtUs_ == 0 && seenDisconnects_ > 0) connectedAtUs_ = syncedUs_;
}

bool EmulatedAdapter::OnBus() {
  if (!plugged_ || !chip_->Connected()) return false;
  if (seenDisconnects_ > 0) {
    // The host's part of the return: it may take longer, or never show the adapter.
    if (neverReturns_) return false;
    if (syncedUs_ < connectedAtUs_ + std::uint64_t{reenumerationMs_} * 1000u) return false;
    if (returnAfterSearches_ > 0 && searches_ - searchesAtReturn_ <= returnAfterSearches_)
      return false;
  }
  if (!enumerated_ && !enumerationFailed_) Enumerate();
  return enumerated_;
}

// What the host does when a device appears: bus reset, descriptors, configuration.
void EmulatedAdapter::Enumerate() {
  chip_->BusReset(!fullSpeed_);
  outToggle_ = inToggle_ = false;
  std::vector<std::uint8_t> device;
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> config;
  const bool described =
      Control({0x80, 0x06, 0x0100, 0, 64}, {}, &device, kControlTimeoutMs) && device.size() >= 18 &&
      Control({0x80, 0x06, 0x0200, 0, 9}, {}, &head, kControlTimeoutMs) && head.size() >= 4 &&
      Control({0x80, 0x06, 0x0200, 0, static_cast<std::uint16_t>(head[2] | (head[3] << 8))}, {},
              &config, kControlTimeoutMs) &&
      Control({0x00, 0x09, config.size() >= 6 ? config[5] : std::uint8_t{1}, 0, 0}, {}, nullptr,
              kControlTimeoutMs);
  if (!described) {
    enumerationFailed_ = true;  // the host gives up on this connection
    return;
  }
  vendorId_ = static_cast<std::uint16_t>(device[8] | (device[9] << 8));
  productId_ = static_cast<std::uint16_t>(device[10] | (device[11] << 8));
  settings_.clear();
  for (std::size_t at = 0; at + 2 <= config.size();) {
    const std::uint8_t length = config[at];
    const std::uint8_t type = config[at + 1];
    if (length < 2 || at + length > config.size()) break;
    if (type == 4 && length >= 9) {
      Setting setting;
      setting.descriptor = {config[at],     config[at + 1], config[at + 2],
                            config[at + 3], config[at + 4], config[at + 5],
                            config[at + 6], config[at + 7], config[at + 8]};
      settings_.push_back(setting);
    } else if (type == 5 && length >= 7 && !settings_.empty()) {
      settings_.back().pipes.push_back(
          {static_cast<cibridge::UsbPipeType>(config[at + 3] & 3), config[at + 2],
           static_cast<std::uint16_t>(config[at + 4] | (config[at + 5] << 8)), config[at + 6]});
    }
    at += length;
  }
  alternateSetting_ = 0;
  outToggle_ = inToggle_ = false;
  enumerated_ = true;
  if (chip_->Renumerated() && !announcedReturn_) {
    announcedReturn_ = true;
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId_, productId_);
    Tell(std::string("back on the bus with its own descriptors as ") + ids);
  }
}

bool EmulatedAdapter::Control(const fx2::Setup& setup, std::span<const std::uint8_t> outData,
                              std::vector<std::uint8_t>* inData, std::uint32_t timeoutMs) {
  const int disconnects = chip_->Disconnects();
  chip_->StartControl(setup, outData);
  const std::uint64_t deadline = Deadline(timeoutMs);
  while (chip_->Control() == fx2::Fx2Chip::ControlState::kPending) {
    if (Expired(deadline) || chip_->Disconnects() != disconnects) return false;
    Spend(kMicroframeUs);
  }
  if (chip_->Control() == fx2::Fx2Chip::ControlState::kStalled) return false;
  if (inData != nullptr) *inData = chip_->ControlInData();
  // The status stage of a write follows a little later; the device must still be there.
  if (!(setup.requestType & 0x80) && setup.length > 0) {
    const std::uint32_t status =
        statusStageUs_ != 0 ? statusStageUs_ : (fullSpeed_ ? kFrameUs : kMicroframeUs);
    Spend(status);
  }
  return chip_->Disconnects() == disconnects;
}

bool EmulatedAdapter::ValidInterface(cibridge::UsbHandle interfaceHandle) {
  CatchUp();
  return interfaceHandle == kInterfaceBase + static_cast<cibridge::UsbHandle>(connection_) &&
         OnBus();
}

std::uint32_t EmulatedAdapter::Timeout(std::uint8_t pipeId) const {
  const auto it = timeouts_.find(pipeId);
  return it == timeouts_.end() || it->second == 0 ? kEndlessWaitMs : it->second;
}

bool EmulatedAdapter::HasPipe(std::uint8_t pipeId) const {
  for (const auto& setting : settings_) {
    if (setting.descriptor.bAlternateSetting != alternateSetting_) continue;
    for (const auto& pipe : setting.pipes)
      if (pipe.PipeId == pipeId) return true;
  }
  return false;
}

std::string EmulatedAdapter::DevicePath() const {
  char path[128];
  std::snprintf(path, sizeof path,
                "\\\\?\\usb#vid_%04x&pid_%04x#5&2c6a4b1&0&%u#"
                "{f4d5a772-3aec-4e57-ae3c-710b7baf8731}",
                vendorId_, productId_, static_cast<unsigned>(connection_));
  return path;
}

void EmulatedAdapter::StartWarm() {
  std::vector<std::uint8_t> memory = program_;
  memory[kIdOffset] = static_cast<std::uint8_t>(coldVendorId_);
  memory[kIdOffset + 1] = static_cast<std::uint8_t>(coldVendorId_ >> 8);
  memory[kIdOffset + 2] = static_cast<std::uint8_t>(coldProductId_);
  memory[kIdOffset + 3] = static_cast<std::uint8_t>(coldProductId_ >> 8);
  CatchUp();
  const std::uint8_t hold = 1, release = 0;
  chip_->StartControl({0x40, 0xA0, fx2::Fx2Chip::kCpuCs, 0, 1}, {&hold, 1});
  for (std::uint16_t address = 0; address < kCodeMemory; address += 16)
    chip_->StartControl({0x40, 0xA0, address, 0, 16}, {memory.data() + address, 16});
  chip_->StartControl({0x40, 0xA0, fx2::Fx2Chip::kCpuCs, 0, 1}, {&release, 1});
  // Until the program has left the bus and come back (a few seconds at most).
  const auto events = std::move(events_);
  events_ = nullptr;
  for (int ms = 0; ms < 5000 && !(seenDisconnects_ > 0 && chip_->Connected()); ++ms) Spend(1000);
  OnBus();
  events_ = events;
  announcedReturn_ = true;
}

// --- The USB seam ---

cibridge::UsbHandle EmulatedAdapter::GetClassDevices(const cibridge::Guid& interfaceClass) {
  CatchUp();
  ++searches_;
  const bool present = interfaceClass == cibridge::GUID_DEVINTERFACE_CI_ADAPTER && OnBus();
  const cibridge::UsbHandle set = nextSet_++;
  deviceSets_[set] = present ? 1 : 0;
  return set;
}

bool EmulatedAdapter::EnumDeviceInfo(cibridge::UsbHandle deviceInfoSet, std::uint32_t memberIndex) {
  const auto it = deviceSets_.find(deviceInfoSet);
  return it != deviceSets_.end() && memberIndex < it->second;
}

bool EmulatedAdapter::EnumDeviceInterfaces(cibridge::UsbHandle deviceInfoSet,
                                           const cibridge::Guid& interfaceClass,
                                           std::uint32_t memberIndex,
                                           cibridge::DeviceInterfaceData* interfaceData) {
  if (!EnumDeviceInfo(deviceInfoSet, memberIndex) || interfaceData == nullptr ||
      !(interfaceClass == cibridge::GUID_DEVINTERFACE_CI_ADAPTER))
    return false;
  interfaceData->interfaceClass = interfaceClass;
  interfaceData->reserved = memberIndex;
  return true;
}

bool EmulatedAdapter::GetDeviceInterfaceDetail(cibridge::UsbHandle deviceInfoSet,
                                               const cibridge::DeviceInterfaceData& interfaceData,
                                               char* pathBuffer, std::uint32_t pathBufferSize,
                                               std::uint32_t* requiredSize) {
  if (!EnumDeviceInfo(deviceInfoSet, static_cast<std::uint32_t>(interfaceData.reserved)))
    return false;
  const std::string path = DevicePath();
  const auto needed = static_cast<std::uint32_t>(path.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (pathBuffer == nullptr || pathBufferSize < needed) return false;
  std::memcpy(pathBuffer, path.c_str(), needed);
  return true;
}

bool EmulatedAdapter::DestroyDeviceInfoList(cibridge::UsbHandle deviceInfoSet) {
  return deviceSets_.erase(deviceInfoSet) == 1;
}

cibridge::UsbHandle EmulatedAdapter::CreateDeviceFile(const char* devicePath) {
  CatchUp();
  if (devicePath == nullptr || !OnBus() || DevicePath() != devicePath)
    return cibridge::kInvalidHandleValue;
  return kFileBase + static_cast<cibridge::UsbHandle>(connection_);
}

bool EmulatedAdapter::CloseDeviceFile(cibridge::UsbHandle deviceFile) {
  return deviceFile > kFileBase &&
         deviceFile <= kFileBase + static_cast<cibridge::UsbHandle>(connection_);
}

bool EmulatedAdapter::Initialize(cibridge::UsbHandle deviceFile,
                                 cibridge::UsbHandle* interfaceHandle) {
  if (interfaceHandle == nullptr) return false;
  CatchUp();
  if (deviceFile != kFileBase + static_cast<cibridge::UsbHandle>(connection_) || !OnBus())
    return false;
  *interfaceHandle = kInterfaceBase + static_cast<cibridge::UsbHandle>(connection_);
  return true;
}

bool EmulatedAdapter::Free(cibridge::UsbHandle interfaceHandle) {
  return interfaceHandle > kInterfaceBase &&
         interfaceHandle <= kInterfaceBase + static_cast<cibridge::UsbHandle>(connection_);
}

bool EmulatedAdapter::QueryInterfaceSettings(cibridge::UsbHandle interfaceHandle,
                                             std::uint8_t alternateSetting,
                                             cibridge::UsbInterfaceDescriptor* descriptor) {
  if (!ValidInterface(interfaceHandle) || descriptor == nullptr) return false;
  for (const auto& setting : settings_) {
    if (setting.descriptor.bAlternateSetting == alternateSetting) {
      *descriptor = setting.descriptor;
      return true;
    }
  }
  return false;
}

bool EmulatedAdapter::SetCurrentAlternateSetting(cibridge::UsbHandle interfaceHandle,
                                                 std::uint8_t alternateSetting) {
  cibridge::UsbInterfaceDescriptor descriptor;
  if (!QueryInterfaceSettings(interfaceHandle, alternateSetting, &descriptor)) return false;
  if (!Control({0x01, 0x0B, alternateSetting, descriptor.bInterfaceNumber, 0}, {}, nullptr,
               kControlTimeoutMs))
    return false;
  alternateSetting_ = alternateSetting;
  outToggle_ = inToggle_ = false;
  partial_.clear();
  return true;
}

bool EmulatedAdapter::QueryPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                std::uint8_t pipeIndex, cibridge::PipeInformation* pipe) {
  if (!ValidInterface(interfaceHandle) || pipe == nullptr) return false;
  for (const auto& setting : settings_) {
    if (setting.descriptor.bAlternateSetting != alternateSetting) continue;
    if (pipeIndex >= setting.pipes.size()) return false;
    *pipe = setting.pipes[pipeIndex];
    return true;
  }
  return false;
}

bool EmulatedAdapter::SetPipePolicy(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId,
                                    std::uint32_t policy, std::uint32_t valueLength,
                                    const void* value) {
  if (!ValidInterface(interfaceHandle) || value == nullptr) return false;
  if (policy == cibridge::PIPE_TRANSFER_TIMEOUT && valueLength == 4) {
    std::uint32_t milliseconds = 0;
    std::memcpy(&milliseconds, value, 4);
    timeouts_[pipeId] = milliseconds;
  }
  return true;
}

bool EmulatedAdapter::ResetPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId) {
  if (!ValidInterface(interfaceHandle)) return false;
  Latency();
  // Clear halt: the host's toggle goes back to DATA0, the device is told to do the same.
  if (pipeId == kCommandPipe) outToggle_ = false;
  if (pipeId == kReplyPipe) inToggle_ = false;
  return Control({0x02, 0x01, 0, pipeId, 0}, {}, nullptr, kControlTimeoutMs);
}

bool EmulatedAdapter::FlushPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId) {
  if (!ValidInterface(interfaceHandle)) return false;
  if (pipeId & 0x80) partial_.clear();
  return true;
}

bool EmulatedAdapter::WritePipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId,
                                const std::uint8_t* data, std::uint32_t length,
                                std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle) || data == nullptr) return false;
  if (!HasPipe(pipeId) || (pipeId & 0x80) != 0) return false;
  Latency();
  const std::uint32_t packetSize = chip_->HighSpeed() ? 512 : 64;
  const std::uint64_t deadline = Deadline(Timeout(pipeId));
  const std::uint32_t connection = connection_;
  std::uint32_t sent = 0;
  do {
    const std::uint32_t size = std::min(packetSize, length - sent);
    const auto handshake = chip_->OutPacket(pipeId, {data + sent, size}, outToggle_);
    if (handshake == fx2::Fx2Chip::Handshake::kStall) return false;
    if (handshake == fx2::Fx2Chip::Handshake::kNak) {
      if (Expired(deadline) || !plugged_ || connection_ != connection) return false;
      Spend(kMicroframeUs);
      continue;
    }
    // Acknowledged (a repeat is acknowledged too, and its data lost).
    outToggle_ = !outToggle_;
    if (pipeId == kCommandPipe) {
      ++commandFrames_;
      if (size > 0) lastCommand_ = data[sent];
    }
    sent += size;
    if (lengthTransferred != nullptr) *lengthTransferred = sent;
  } while (sent < length);
  return true;
}

void EmulatedAdapter::TellReply(const std::vector<std::uint8_t>& frame) {
  if (!events_ || frame.size() < 4) return;
  const std::uint8_t code = frame[2];
  if (lastCommand_ == 0x10)
    Tell(code == 0x02 ? "module reset, ready" : "module reset, not ready");
  else if (lastCommand_ == 0x70 && code == 0x07)
    Tell("configuration option register written");
  else if (lastCommand_ == 0x60 && code == 0x04 && frame.size() >= 6)
    Tell("buffer size negotiated: " + std::to_string(frame[4] * 256 + frame[5]) + " bytes");
}

bool EmulatedAdapter::ReadPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId,
                               std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle) || buffer == nullptr || length == 0) return false;
  if (!HasPipe(pipeId) || (pipeId & 0x80) == 0) return false;
  Latency();
  const auto deliver = [&](std::vector<std::uint8_t> packet) {
    const auto count = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(packet.size()));
    std::memcpy(buffer, packet.data(), count);
    partial_.assign(packet.begin() + count, packet.end());  // kept for the next read
    if (lengthTransferred != nullptr) *lengthTransferred = count;
    return true;
  };
  if (!partial_.empty()) return deliver(std::move(partial_));
  // The host polls the endpoint every microframe until the program has a packet in it.
  const std::uint64_t deadline = Deadline(Timeout(pipeId));
  const std::uint32_t connection = connection_;
  for (;;) {
    fx2::Fx2Chip::Handshake handshake;
    auto packet = chip_->InPacket(pipeId, inToggle_, &handshake);
    if (handshake == fx2::Fx2Chip::Handshake::kStall) return false;
    if (handshake == fx2::Fx2Chip::Handshake::kAck) {
      inToggle_ = !inToggle_;
      if (pipeId == kReplyPipe) TellReply(*packet);
      return deliver(std::move(*packet));
    }
    if (handshake == fx2::Fx2Chip::Handshake::kRepeat) continue;  // dropped by the host
    if (Expired(deadline) || !plugged_ || connection_ != connection) return false;
    Spend(kMicroframeUs);
  }
}

void EmulatedAdapter::NoticeDownload(const cibridge::SetupPacket& setup, const std::uint8_t* data) {
  if (setup.RequestType != 0x40 || setup.Request != 0xA0 || data == nullptr) return;
  if (setup.Value != fx2::Fx2Chip::kCpuCs) {
    if (setup.Value < kCodeMemory) bytesDownloaded_ += setup.Length;
    return;
  }
  if (setup.Length != 1) return;
  if ((data[0] & 1) && !downloading_) {
    Tell("CPU held for the program download");
    downloading_ = true;
    bytesDownloaded_ = 0;
  } else if (!(data[0] & 1) && chip_->CpuHeld()) {
    downloading_ = false;
    for (const auto& [address, bytes] : downloadPatches_)
      for (std::size_t i = 0; i < bytes.size() && address + i < kCodeMemory; ++i)
        chip_->Cpu().Memory()[address + i] = bytes[i];
    if (bytesDownloaded_ > 0)
      Tell("program started (" + std::to_string(bytesDownloaded_) + " bytes downloaded)");
  }
}

bool EmulatedAdapter::ControlTransfer(cibridge::UsbHandle interfaceHandle,
                                      const cibridge::SetupPacket& setup, std::uint8_t* buffer,
                                      std::uint32_t length, std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle)) return false;
  const std::uint32_t count = std::min<std::uint32_t>(length, setup.Length);
  if (count > 0 && buffer == nullptr) return false;
  Latency();
  const bool in = (setup.RequestType & 0x80) != 0;
  NoticeDownload(setup, buffer);
  std::vector<std::uint8_t> received;
  if (!Control(ToSetup(setup), in ? std::span<const std::uint8_t>() : std::span{buffer, count},
               in ? &received : nullptr, kControlTimeoutMs))
    return false;
  const std::uint32_t moved =
      in ? std::min<std::uint32_t>(count, static_cast<std::uint32_t>(received.size())) : count;
  if (in && moved > 0) std::memcpy(buffer, received.data(), moved);
  if (lengthTransferred != nullptr) *lengthTransferred = moved;
  return true;
}

}  // namespace sim
