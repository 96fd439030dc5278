#include "emulated_adapter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr std::size_t kIdOffset = 0x108;
constexpr std::size_t kDeviceDescriptor = 0x100;
constexpr std::size_t kConfigDescriptor = 0x134;
constexpr std::uint8_t kCommandPipe = 0x04;
constexpr std::uint8_t kReplyPipe = 0x88;
constexpr std::uint32_t kPacket = 512;
constexpr std::size_t kReplyBuffers = 2;  // the FX2 endpoint is double buffered
constexpr cibridge::UsbHandle kFileBase = 0xF000;
constexpr cibridge::UsbHandle kInterfaceBase = 0x1000;
// The FX2's own interface before a program runs: alternate setting 1 of its default
// descriptors, all bulk, 512 bytes at high speed.
constexpr std::uint8_t kColdPipes[][2] = {{0x01, 2}, {0x81, 2}, {0x02, 2},
                                          {0x04, 2}, {0x86, 2}, {0x88, 2}};

}  // namespace

EmulatedAdapter::EmulatedAdapter(platform::Clock& clock, CiModule* module,
                                 std::span<const std::uint8_t> program, std::uint16_t vendorId,
                                 std::uint16_t productId)
    : clock_(clock),
      program_(program.begin(), program.end()),
      coldVendorId_(vendorId),
      coldProductId_(productId),
      slot_(std::make_unique<firmware::CiSlot>(clock, module)) {
  program_.resize(kCodeMemory, 0xFF);  // the library writes 0xFF above its image
  core_ = std::make_unique<firmware::CommandCore>(
      clock, *slot_, [this](std::vector<std::uint8_t> frame) { OnReply(std::move(frame)); });
}

EmulatedAdapter::~EmulatedAdapter() = default;

void EmulatedAdapter::Tell(const std::string& event) {
  if (events_) events_(event);
}

void EmulatedAdapter::OnReply(std::vector<std::uint8_t> frame) {
  if (events_ && frame.size() >= 4) {
    const std::uint8_t code = frame[2];
    if (lastCommand_ == 0x10)
      Tell(code == 0x02 ? "module reset, ready" : "module reset, not ready");
    else if (lastCommand_ == 0x70 && code == 0x07)
      Tell("configuration option register written");
    else if (lastCommand_ == 0x60 && code == 0x04 && frame.size() >= 6)
      Tell("buffer size negotiated: " + std::to_string(frame[4] * 256 + frame[5]) + " bytes");
  }
  if (replies_.size() < kReplyBuffers) replies_.push_back(std::move(frame));
}

void EmulatedAdapter::StartWarm() {
  code_ = program_;
  code_[kIdOffset] = static_cast<std::uint8_t>(coldVendorId_);
  code_[kIdOffset + 1] = static_cast<std::uint8_t>(coldVendorId_ >> 8);
  code_[kIdOffset + 2] = static_cast<std::uint8_t>(coldProductId_);
  code_[kIdOffset + 3] = static_cast<std::uint8_t>(coldProductId_ >> 8);
  cpuHeld_ = true;
  ReleaseCpu();
  backAtMs_ = clock_.TickCount();  // on the bus already
  announcedReturn_ = true;
}

std::uint16_t EmulatedAdapter::VendorId() const {
  if (programStarts_ == 0) return coldVendorId_;
  return static_cast<std::uint16_t>(code_[kIdOffset] | (code_[kIdOffset + 1] << 8));
}

std::uint16_t EmulatedAdapter::ProductId() const {
  if (programStarts_ == 0) return coldProductId_;
  return static_cast<std::uint16_t>(code_[kIdOffset + 2] | (code_[kIdOffset + 3] << 8));
}

std::string EmulatedAdapter::DevicePath() const {
  char path[128];
  std::snprintf(path, sizeof path,
                "\\\\?\\usb#vid_%04x&pid_%04x#5&2c6a4b1&0&%u#"
                "{f4d5a772-3aec-4e57-ae3c-710b7baf8731}",
                VendorId(), ProductId(), static_cast<unsigned>(connection_));
  return path;
}

bool EmulatedAdapter::OnBus() {
  if (!plugged_ || programMismatch_) return false;
  if (programStarts_ > 0 && running_) {
    if (neverReturns_) return false;
    if (static_cast<std::int32_t>(clock_.TickCount() - backAtMs_) < 0) return false;
    if (searches_ - searchesAtStart_ <= returnAfterSearches_ && returnAfterSearches_ > 0)
      return false;
  }
  return true;
}

bool EmulatedAdapter::ValidInterface(cibridge::UsbHandle interfaceHandle) {
  return interfaceHandle == kInterfaceBase + static_cast<cibridge::UsbHandle>(connection_) &&
         OnBus();
}

void EmulatedAdapter::Latency() {
  if (latencyUs_ != 0) clock_.Nap(latencyUs_);
}

void EmulatedAdapter::WaitOut(std::uint32_t timeoutMs) {
  // A time-out of 0 waits for ever on the platform; nothing can arrive, so fail at once.
  if (timeoutMs != 0) clock_.Nap(timeoutMs * 1000u);
}

std::uint32_t EmulatedAdapter::Timeout(std::uint8_t pipeId) const {
  const auto it = timeouts_.find(pipeId);
  return it == timeouts_.end() ? 0 : it->second;
}

std::vector<EmulatedAdapter::Setting> EmulatedAdapter::Settings() const {
  std::vector<Setting> settings;
  if (programStarts_ == 0) {
    Setting none;
    none.descriptor = {9, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    Setting all;
    all.descriptor = {9, 4, 0, 1, 6, 0xFF, 0xFF, 0xFF, 0};
    for (const auto& pipe : kColdPipes)
      all.pipes.push_back({static_cast<cibridge::UsbPipeType>(pipe[1]), pipe[0], 512, 0});
    settings.push_back(none);
    settings.push_back(all);
    return settings;
  }
  // The program's own configuration descriptor, as the host reads it.
  const std::size_t total = code_[kConfigDescriptor + 2] | (code_[kConfigDescriptor + 3] << 8);
  for (std::size_t at = kConfigDescriptor;
       at + 2 <= kConfigDescriptor + total && at + 2 < kCodeMemory;) {
    const std::uint8_t length = code_[at];
    const std::uint8_t type = code_[at + 1];
    if (length < 2) break;
    if (type == 4 && length >= 9) {
      Setting setting;
      setting.descriptor = {code_[at],     code_[at + 1], code_[at + 2],
                            code_[at + 3], code_[at + 4], code_[at + 5],
                            code_[at + 6], code_[at + 7], code_[at + 8]};
      settings.push_back(setting);
    } else if (type == 5 && length >= 7 && !settings.empty()) {
      settings.back().pipes.push_back(
          {static_cast<cibridge::UsbPipeType>(code_[at + 3] & 3), code_[at + 2],
           static_cast<std::uint16_t>(code_[at + 4] | (code_[at + 5] << 8)), code_[at + 6]});
    }
    at += length;
  }
  return settings;
}

bool EmulatedAdapter::HasPipe(std::uint8_t pipeId) const {
  for (const auto& setting : Settings()) {
    if (setting.descriptor.bAlternateSetting != alternateSetting_) continue;
    for (const auto& pipe : setting.pipes)
      if (pipe.PipeId == pipeId) return true;
  }
  return false;
}

void EmulatedAdapter::HoldCpu() {
  if (!cpuHeld_) {
    Tell("CPU held for the program download");
    bytesDownloaded_ = 0;
  }
  cpuHeld_ = true;
  running_ = false;
}

void EmulatedAdapter::ReleaseCpu() {
  if (!cpuHeld_) return;
  cpuHeld_ = false;
  // The program disconnects at once; whatever was open on the old connection is gone.
  ++connection_;
  alternateSetting_ = 0;
  timeouts_.clear();
  replies_.clear();
  partial_.clear();
  coldOutPackets_ = 0;
  for (std::size_t i = 0; i < kCodeMemory; ++i) {
    if (i >= kIdOffset && i < kIdOffset + 4) continue;
    if (code_[i] != program_[i]) {
      programMismatch_ = true;  // something else runs now; the adapter never comes back
      Tell("CPU released, but code memory does not hold the adapter program");
      return;
    }
  }
  running_ = true;
  ++programStarts_;
  backAtMs_ = clock_.TickCount() + reenumerationMs_;
  searchesAtStart_ = searches_;
  core_->Start();
  announcedReturn_ = false;
  if (bytesDownloaded_ > 0)
    Tell("program started (" + std::to_string(bytesDownloaded_) +
         " bytes downloaded), off the bus for re-enumeration");
}

cibridge::UsbHandle EmulatedAdapter::GetClassDevices(const cibridge::Guid& interfaceClass) {
  ++searches_;
  const bool present = interfaceClass == cibridge::GUID_DEVINTERFACE_CI_ADAPTER && OnBus();
  if (present && !announcedReturn_) {
    announcedReturn_ = true;
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", VendorId(), ProductId());
    Tell(std::string("back on the bus with its own descriptors as ") + ids);
  }
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
  for (const auto& setting : Settings()) {
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
  alternateSetting_ = alternateSetting;
  replies_.clear();  // SET_INTERFACE resets the program's endpoints
  partial_.clear();
  return true;
}

bool EmulatedAdapter::QueryPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                std::uint8_t pipeIndex, cibridge::PipeInformation* pipe) {
  if (!ValidInterface(interfaceHandle) || pipe == nullptr) return false;
  for (const auto& setting : Settings()) {
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
  Latency();
  if (!ValidInterface(interfaceHandle)) return false;
  // The clear-halt reaches the program, which empties the endpoint's buffers.
  if (running_ && pipeId == kReplyPipe) replies_.clear();
  return true;
}

bool EmulatedAdapter::FlushPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId) {
  if (!ValidInterface(interfaceHandle)) return false;
  if (pipeId & 0x80) partial_.clear();
  return true;
}

bool EmulatedAdapter::WritePipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId,
                                const std::uint8_t* data, std::uint32_t length,
                                std::uint32_t* lengthTransferred) {
  Latency();
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle) || data == nullptr) return false;
  if (!HasPipe(pipeId) || (pipeId & 0x80) != 0) return false;
  if (running_ && pipeId == kCommandPipe) {
    // Each packet reaches the program as one frame.
    for (std::uint32_t sent = 0; sent < length; sent += kPacket) {
      const std::uint32_t size = std::min(kPacket, length - sent);
      ++commandFrames_;
      if (size > 0) lastCommand_ = data[sent];
      core_->Command(std::vector<std::uint8_t>(data + sent, data + sent + size));
    }
    if (lengthTransferred != nullptr) *lengthTransferred = length;
    return true;
  }
  // Nobody takes the data: the endpoint's two buffers fill, then transfers time out.
  if (coldOutPackets_ < 2) {
    ++coldOutPackets_;
    if (lengthTransferred != nullptr) *lengthTransferred = length;
    return true;
  }
  WaitOut(Timeout(pipeId));
  return false;
}

bool EmulatedAdapter::ReadPipe(cibridge::UsbHandle interfaceHandle, std::uint8_t pipeId,
                               std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* lengthTransferred) {
  Latency();
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle) || buffer == nullptr || length == 0) return false;
  if (!HasPipe(pipeId) || (pipeId & 0x80) == 0) return false;
  const std::uint32_t timeoutMs = Timeout(pipeId);
  const auto deliver = [&](std::vector<std::uint8_t> packet) {
    const auto count = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(packet.size()));
    std::memcpy(buffer, packet.data(), count);
    partial_.assign(packet.begin() + count, packet.end());  // kept for the next read
    if (lengthTransferred != nullptr) *lengthTransferred = count;
    return true;
  };
  if (!partial_.empty()) return deliver(std::move(partial_));
  if (!(running_ && pipeId == kReplyPipe)) {
    WaitOut(timeoutMs);
    return false;
  }
  // The program's main loop runs while the host waits for its reply.
  const std::uint32_t start = clock_.TickCount();
  for (std::uint32_t step = 0;; ++step) {
    core_->Poll();
    if (!replies_.empty()) {
      auto packet = std::move(replies_.front());
      replies_.pop_front();
      return deliver(std::move(packet));
    }
    const std::uint32_t elapsed = clock_.TickCount() - start;
    if (timeoutMs != 0 && elapsed >= timeoutMs) return false;
    if (!core_->Busy()) {
      // No command in progress: no reply can come.
      if (timeoutMs != 0) WaitOut(timeoutMs - elapsed);
      return false;
    }
    clock_.Nap(step < 100 ? 100 : 1000);
  }
}

bool EmulatedAdapter::ControlTransfer(cibridge::UsbHandle interfaceHandle,
                                      const cibridge::SetupPacket& setup, std::uint8_t* buffer,
                                      std::uint32_t length, std::uint32_t* lengthTransferred) {
  Latency();
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  if (!ValidInterface(interfaceHandle)) return false;
  const std::uint32_t count = std::min<std::uint32_t>(length, setup.Length);
  if (count > 0 && buffer == nullptr) return false;
  const auto done = [&](std::uint32_t moved) {
    if (lengthTransferred != nullptr) *lengthTransferred = moved;
    return true;
  };

  if (setup.Request == 0xA0 && (setup.RequestType == 0x40 || setup.RequestType == 0xC0)) {
    // The FX2's own firmware-load request, served by its USB core whether or not a program
    // runs.
    const std::uint32_t address = setup.Value;
    const bool out = setup.RequestType == 0x40;
    if (address == kCpuCs) {
      if (count != 1) return false;
      if (out) {
        if (buffer[0] & 1)
          HoldCpu();
        else
          ReleaseCpu();
      } else {
        buffer[0] = cpuHeld_ ? 1 : 0;
      }
      return done(1);
    }
    if (address + count <= kCodeMemory) {
      if (out) {
        std::memcpy(code_.data() + address, buffer, count);
        bytesDownloaded_ += count;
      } else {
        std::memcpy(buffer, code_.data() + address, count);
      }
    }
    // Other addresses (0x7F92, the first EZ-USB generation's CPUCS) reach nothing here.
    return done(count);
  }

  if (setup.RequestType == 0x80 && setup.Request == 0x06 && (setup.Value >> 8) == 0x01) {
    std::uint8_t descriptor[18] = {18,
                                   1,
                                   0x00,
                                   0x02,
                                   0xFF,
                                   0xFF,
                                   0xFF,
                                   64,
                                   static_cast<std::uint8_t>(coldVendorId_),
                                   static_cast<std::uint8_t>(coldVendorId_ >> 8),
                                   static_cast<std::uint8_t>(coldProductId_),
                                   static_cast<std::uint8_t>(coldProductId_ >> 8),
                                   0x01,
                                   0xA0,
                                   0,
                                   0,
                                   0,
                                   1};
    if (programStarts_ > 0) std::memcpy(descriptor, code_.data() + kDeviceDescriptor, 18);
    const std::uint32_t moved = std::min<std::uint32_t>(count, 18);
    std::memcpy(buffer, descriptor, moved);
    return done(moved);
  }
  // Other standard requests are acknowledged; anything else stalls.
  if ((setup.RequestType & 0x60) == 0) return done(0);
  return false;
}

}  // namespace sim
