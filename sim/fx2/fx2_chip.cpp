#include "fx2_chip.h"

#include <algorithm>
#include <cstring>

namespace sim::fx2 {
namespace {

// Offsets in the register window 0xE600.
enum : std::uint8_t {
  kCpucs = 0x00,
  kFifoReset = 0x04,
  kEp2Cfg = 0x12,
  kEp4Cfg = 0x13,
  kEp6Cfg = 0x14,
  kEp8Cfg = 0x15,
  kUsbIe = 0x5C,
  kUsbIrq = 0x5D,
  kEpIe = 0x5E,
  kEpIrq = 0x5F,
  kIntSetup = 0x68,
  kUsbCs = 0x80,
  kTogCtl = 0x83,
  kEp0Bch = 0x8A,
  kEp0Bcl = 0x8B,
  kEp4Bch = 0x94,
  kEp4Bcl = 0x95,
  kEp8Bch = 0x9C,
  kEp8Bcl = 0x9D,
  kEp0Cs = 0xA0,
  kEp4Cs = 0xA4,
  kEp8Cs = 0xA6,
  kEp2468Stat = 0xA8,
  kSudPtrH = 0xB3,
  kSudPtrL = 0xB4,
  kSudPtrCtl = 0xB5,
  kSetupDat = 0xB8,
};

// SFRs the chip serves.
enum : std::uint8_t {
  kIoa = 0x80,
  kExif = 0x91,
  kIob = 0x90,
  kIoc = 0xA0,
  kInt2Clr = 0xA1,
  kSfrEp2468Stat = 0xAA,
  kIod = 0xB0,
  kIoe = 0xB1,
  kOea = 0xB2,
  kOee = 0xB6,
};

constexpr std::uint8_t kExifUsbInt = 0x10;
constexpr std::uint8_t kUsbIrqSudav = 0x01, kUsbIrqSutok = 0x04, kUsbIrqUres = 0x10,
                       kUsbIrqHsGrant = 0x20;
constexpr std::uint8_t kEpIrqEp4 = 0x20, kEpIrqEp8 = 0x80;
constexpr std::uint8_t kEp0CsHsnak = 0x80, kEpCsStall = 0x01;
constexpr std::uint16_t kEp0Buf = 0xE740, kEp4Buf = 0xF400, kEp8Buf = 0xFC00;
constexpr std::size_t kBufferSize = 512;
constexpr std::size_t kBuffers = 2;  // endpoints 4 and 8 are double buffered
constexpr std::uint16_t kCodeEnd = 0x2000, kScratchStart = 0xE000, kScratchEnd = 0xE200;

bool IsInRequest(const Setup& setup) {
  return (setup.requestType & 0x80) != 0;
}

}  // namespace

Fx2Chip::Fx2Chip(std::uint16_t vendorId, std::uint16_t productId)
    : cpu_(*this), vendorId_(vendorId), productId_(productId) {
  cpu_.HookXdataPage(0xE6);
  for (std::uint8_t sfr : {kIoa, kIob, kIoc, kInt2Clr, kSfrEp2468Stat, kIod, kIoe})
    cpu_.HookSfr(sfr);
  for (std::uint8_t sfr = kOea; sfr <= kOee; ++sfr) cpu_.HookSfr(sfr);
  // Power-on values: 12 MHz, the endpoints' default configuration, SUDPTR in auto mode.
  regs_[kCpucs] = 0x02;
  regs_[kEp2Cfg] = 0xA2;
  regs_[kEp4Cfg] = 0xA0;
  regs_[kEp6Cfg] = 0xE2;
  regs_[kEp8Cfg] = 0xE0;
  regs_[kSudPtrCtl] = 0x01;
  ports_.latch.fill(0x00);
  cpu_.Reset();
  Rebase();
}

Fx2Chip::~Fx2Chip() = default;

void Fx2Chip::AttachSlot(PcmciaSlot* slot) {
  slot_ = slot;
  if (slot_ != nullptr) slot_->PortsChanged(ports_);
}

// --- Time ---

std::uint64_t Fx2Chip::NowClocks() const {
  if (cpuHeld_) return baseClocks_;
  return baseClocks_ + (cpu_.Cycles() - baseCycles_) * clocksPerCycle_;
}

void Fx2Chip::Rebase() {
  baseClocks_ = NowClocks();
  baseCycles_ = cpu_.Cycles();
}

void Fx2Chip::RunUs(std::uint64_t microseconds) {
  owedClocks_ += static_cast<std::int64_t>(microseconds * 48u);
  if (cpuHeld_) {
    baseClocks_ += static_cast<std::uint64_t>(std::max<std::int64_t>(owedClocks_, 0));
    owedClocks_ = 0;
    return;
  }
  while (owedClocks_ >= static_cast<std::int64_t>(clocksPerCycle_) && !cpuHeld_) {
    const std::uint64_t before = NowClocks();
    cpu_.Run(static_cast<std::uint64_t>(owedClocks_) / clocksPerCycle_);
    owedClocks_ -= static_cast<std::int64_t>(NowClocks() - before);
  }
}

void Fx2Chip::HoldCpu() {
  if (cpuHeld_) return;
  Rebase();
  cpuHeld_ = true;
}

void Fx2Chip::ReleaseCpu() {
  if (!cpuHeld_) return;
  cpu_.Reset();
  baseCycles_ = cpu_.Cycles();
  cpuHeld_ = false;
  ++releases_;
}

// --- Interrupts ---

void Fx2Chip::RaiseUsb(std::uint8_t bits) {
  usbirq_ |= bits;
  UpdateInterrupt();
}

void Fx2Chip::RaiseEp(std::uint8_t bits) {
  epirq_ |= bits;
  UpdateInterrupt();
}

void Fx2Chip::UpdateInterrupt() {
  const std::uint8_t usb = usbirq_ & regs_[kUsbIe];
  const std::uint8_t ep = epirq_ & regs_[kEpIe];
  // With AV2EN the entry to INT2 jumps by the highest-priority pending source (INT2IVEC).
  std::uint8_t vector = 0;
  if (usb != 0)
    vector = static_cast<std::uint8_t>(4 * __builtin_ctz(usb));
  else if (ep != 0)
    vector = static_cast<std::uint8_t>(0x20 + 4 * __builtin_ctz(ep));
  cpu_.SetAutovector(0x43, (regs_[kIntSetup] & 0x08) != 0, vector);
  if ((usb | ep) != 0) cpu_.SfrStorage(kExif) |= kExifUsbInt;
}

// --- Ports ---

std::uint8_t Fx2Chip::Port(int port) {
  const std::uint8_t pins =
      slot_ != nullptr ? slot_->PinLevels(static_cast<PcmciaSlot::Port>(port)) : 0xFF;
  return static_cast<std::uint8_t>((ports_.latch[port] & ports_.oe[port]) |
                                   (pins & ~ports_.oe[port]));
}

void Fx2Chip::PortsChanged() {
  if (slot_ != nullptr) slot_->PortsChanged(ports_);
}

std::uint8_t Fx2Chip::ReadSfr(std::uint8_t address) {
  switch (address) {
    case kIoa:
      return Port(0);
    case kIob:
      return Port(1);
    case kIoc:
      return Port(2);
    case kIod:
      return Port(3);
    case kIoe:
      return Port(4);
    case kSfrEp2468Stat:
      return Ep2468Stat();
    case kInt2Clr:
      return 0;
    default:
      if (address >= kOea && address <= kOee) return ports_.oe[address - kOea];
      return cpu_.SfrStorage(address);
  }
}

void Fx2Chip::WriteSfr(std::uint8_t address, std::uint8_t value) {
  int port = -1;
  switch (address) {
    case kIoa:
      port = 0;
      break;
    case kIob:
      port = 1;
      break;
    case kIoc:
      port = 2;
      break;
    case kIod:
      port = 3;
      break;
    case kIoe:
      port = 4;
      break;
    case kInt2Clr:
      cpu_.SfrStorage(kExif) &= static_cast<std::uint8_t>(~kExifUsbInt);
      return;
    case kSfrEp2468Stat:
      return;
    default:
      if (address >= kOea && address <= kOee) {
        ports_.oe[address - kOea] = value;
        PortsChanged();
      } else {
        cpu_.SfrStorage(address) = value;
      }
      return;
  }
  ports_.latch[port] = value;
  PortsChanged();
}

// --- Endpoints ---

std::uint8_t Fx2Chip::EpCs(int number) {
  const std::size_t packets = number == 4 ? ep4_.packets.size() : ep8_.packets.size();
  const bool stall = number == 4 ? ep4Stall_ : ep8Stall_;
  return static_cast<std::uint8_t>((packets << 4) | (packets == kBuffers ? 0x08 : 0) |
                                   (packets == 0 ? 0x04 : 0) | (stall ? kEpCsStall : 0));
}

std::uint8_t Fx2Chip::Ep2468Stat() const {
  std::uint8_t stat = 0x01 | 0x10;  // endpoints 2 and 6 are never used: empty
  if (ep4_.packets.empty()) stat |= 0x04;
  if (ep4_.packets.size() == kBuffers) stat |= 0x08;
  if (ep8_.packets.empty()) stat |= 0x40;
  if (ep8_.packets.size() == kBuffers) stat |= 0x80;
  return stat;
}

void Fx2Chip::ResetEndpoint(int number) {
  if (number == 4) ep4_.packets.clear();
  if (number == 8) ep8_.packets.clear();
}

bool* Fx2Chip::Toggle(std::uint8_t select) {
  const bool in = (select & 0x10) != 0;
  const int number = select & 0x0F;
  if (!in && number == 4) return &ep4_.toggle;
  if (in && number == 8) return &ep8_.toggle;
  return nullptr;
}

Fx2Chip::Handshake Fx2Chip::OutPacket(std::uint8_t endpoint, std::span<const std::uint8_t> data,
                                      bool toggle) {
  if (endpoint != 0x04 || !(regs_[kEp4Cfg] & 0x80)) return Handshake::kStall;
  if (ep4Stall_) return Handshake::kStall;
  if (nakAll_ || ep4_.packets.size() >= kBuffers) return Handshake::kNak;
  if (toggle != ep4_.toggle) return Handshake::kRepeat;
  ep4_.toggle = !ep4_.toggle;
  const std::size_t size = std::min(data.size(), kBufferSize);
  ep4_.packets.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size));
  if (ep4_.packets.size() == 1)
    std::copy(ep4_.packets.front().begin(), ep4_.packets.front().end(), cpu_.Memory() + kEp4Buf);
  RaiseEp(kEpIrqEp4);
  return Handshake::kAck;
}

std::optional<std::vector<std::uint8_t>> Fx2Chip::InPacket(std::uint8_t endpoint, bool expected,
                                                           Handshake* handshake) {
  *handshake = Handshake::kNak;
  if (endpoint != 0x88 || !(regs_[kEp8Cfg] & 0x80) || ep8Stall_) {
    *handshake = Handshake::kStall;
    return std::nullopt;
  }
  if (nakAll_ || ep8_.packets.empty()) return std::nullopt;
  std::vector<std::uint8_t> packet = std::move(ep8_.packets.front());
  ep8_.packets.pop_front();
  const bool sent = ep8_.toggle;
  ep8_.toggle = !ep8_.toggle;
  RaiseEp(kEpIrqEp8);
  if (sent != expected) {
    *handshake = Handshake::kRepeat;
    return std::nullopt;
  }
  *handshake = Handshake::kAck;
  return packet;
}

// --- The control endpoint ---

void Fx2Chip::BusReset(bool highSpeed) {
  highSpeed_ = highSpeed;
  ep4_.toggle = ep8_.toggle = false;
  controlActive_ = false;
  RaiseUsb(static_cast<std::uint8_t>(kUsbIrqUres | (highSpeed ? kUsbIrqHsGrant : 0)));
}

void Fx2Chip::LoadSetupPacket(const Setup& setup) {
  const std::uint8_t bytes[8] = {setup.requestType,
                                 setup.request,
                                 static_cast<std::uint8_t>(setup.value),
                                 static_cast<std::uint8_t>(setup.value >> 8),
                                 static_cast<std::uint8_t>(setup.index),
                                 static_cast<std::uint8_t>(setup.index >> 8),
                                 static_cast<std::uint8_t>(setup.length),
                                 static_cast<std::uint8_t>(setup.length >> 8)};
  std::memcpy(&regs_[kSetupDat], bytes, 8);
}

void Fx2Chip::StartControl(const Setup& setup, std::span<const std::uint8_t> outData) {
  setup_ = setup;
  controlActive_ = true;
  controlStalled_ = false;
  controlDataDone_ = !IsInRequest(setup) || setup.length == 0;
  controlIn_.clear();
  ep0cs_ &= static_cast<std::uint8_t>(~kEpCsStall);  // a setup packet clears the stall
  const bool firmwareLoad =
      setup.request == 0xA0 && (setup.requestType == 0x40 || setup.requestType == 0xC0);
  const bool setAddress = setup.requestType == 0x00 && setup.request == 0x05;
  if (firmwareLoad || setAddress || !Renumerated()) {
    controlByCore_ = true;
    if (firmwareLoad)
      FirmwareLoad(setup, outData);
    else if (!setAddress)
      CoreSetup(setup, outData);
    controlDataDone_ = true;
    return;
  }
  controlByCore_ = false;
  LoadSetupPacket(setup);
  ep0cs_ |= kEp0CsHsnak;
  setupAtUs_ = NowUs();
  RaiseUsb(kUsbIrqSutok | kUsbIrqSudav);
}

Fx2Chip::ControlState Fx2Chip::Control() const {
  if (!controlActive_) return ControlState::kDone;
  if (controlByCore_) return controlStalled_ ? ControlState::kStalled : ControlState::kDone;
  if (ep0cs_ & kEpCsStall) return ControlState::kStalled;
  if ((ep0cs_ & kEp0CsHsnak) || !controlDataDone_) return ControlState::kPending;
  return ControlState::kDone;
}

void Fx2Chip::FinishControlIn(std::uint16_t count) {
  if (!controlActive_ || controlByCore_ || !IsInRequest(setup_) || controlDataDone_) return;
  const std::size_t room = setup_.length - controlIn_.size();
  const std::size_t taken = std::min<std::size_t>(std::min<std::size_t>(count, 64), room);
  const std::uint8_t* buffer = cpu_.Memory() + kEp0Buf;
  controlIn_.insert(controlIn_.end(), buffer, buffer + taken);
  // A short packet, or all the host asked for, ends the data stage.
  if (count < 64 || controlIn_.size() >= setup_.length) controlDataDone_ = true;
}

void Fx2Chip::FirmwareLoad(const Setup& setup, std::span<const std::uint8_t> outData) {
  const bool out = setup.requestType == 0x40;
  for (std::uint16_t i = 0; i < setup.length; ++i) {
    const auto address = static_cast<std::uint16_t>(setup.value + i);
    const bool memory = address < kCodeEnd || (address >= kScratchStart && address < kScratchEnd);
    if (out) {
      if (i >= outData.size()) break;
      const std::uint8_t value = outData[i];
      if (address == kCpuCs) {
        Rebase();
        regs_[kCpucs] = static_cast<std::uint8_t>(value & 0x1F);
        clocksPerCycle_ = 16;  // the loader's write leaves CLKSPD at 12 MHz
        if (value & 0x01)
          HoldCpu();
        else
          ReleaseCpu();
      } else if (memory) {
        cpu_.Memory()[address] = value;
      }
      // Anything else (0x7F92, the first generation's CPUCS) reaches nothing on the FX2.
    } else {
      std::uint8_t value = 0xFF;
      if (address == kCpuCs)
        value = static_cast<std::uint8_t>((regs_[kCpucs] & 0x1E) | (cpuHeld_ ? 1 : 0));
      else if (memory)
        value = cpu_.Memory()[address];
      controlIn_.push_back(value);
    }
  }
}

std::vector<std::uint8_t> Fx2Chip::DefaultDescriptor(std::uint8_t type,
                                                     std::uint8_t /*index*/) const {
  const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
  const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
  if (type == 1)
    return {18,
            1,
            0x00,
            0x02,
            0xFF,
            0xFF,
            0xFF,
            64,
            lo(vendorId_),
            hi(vendorId_),
            lo(productId_),
            hi(productId_),
            0x01,
            0xA0,
            0,
            0,
            0,
            1};
  if (type != 2) return {};
  // One interface: alternate setting 0 without endpoints, 1 with six bulk endpoints.
  const std::uint16_t packet = highSpeed_ ? 512 : 64;
  std::vector<std::uint8_t> config = {9, 2, 0, 0, 1, 1,    0,    0x80, 50,
                                      9, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0,
                                      9, 4, 0, 1, 6, 0xFF, 0xFF, 0xFF, 0};
  for (std::uint8_t endpoint : {0x01, 0x81, 0x02, 0x04, 0x86, 0x88})
    config.insert(config.end(), {7, 5, endpoint, 2, lo(packet), hi(packet), 0});
  config[2] = static_cast<std::uint8_t>(config.size());
  return config;
}

// The default device's standard requests, served by the USB core while no program has taken
// over the control endpoint.
void Fx2Chip::CoreSetup(const Setup& setup, std::span<const std::uint8_t> /*outData*/) {
  const auto reply = [&](std::vector<std::uint8_t> data) {
    if (data.size() > setup.length) data.resize(setup.length);
    controlIn_ = std::move(data);
  };
  const std::uint8_t recipient = setup.requestType & 0x1F;
  const auto endpoint = static_cast<std::uint8_t>(setup.index);
  if ((setup.requestType & 0x60) != 0) {
    controlStalled_ = true;
    return;
  }
  switch (setup.request) {
    case 0x00:  // GET_STATUS
      reply({static_cast<std::uint8_t>(recipient == 2 && ((endpoint == 0x04 && ep4Stall_) ||
                                                          (endpoint == 0x88 && ep8Stall_))),
             0});
      return;
    case 0x01:  // CLEAR_FEATURE
    case 0x03:  // SET_FEATURE
      if (recipient == 2 && endpoint == 0x04) {
        ep4Stall_ = setup.request == 0x03;
        if (!ep4Stall_) ep4_.toggle = false;
      } else if (recipient == 2 && endpoint == 0x88) {
        ep8Stall_ = setup.request == 0x03;
        if (!ep8Stall_) ep8_.toggle = false;
      }
      return;
    case 0x06: {  // GET_DESCRIPTOR
      auto descriptor = DefaultDescriptor(static_cast<std::uint8_t>(setup.value >> 8),
                                          static_cast<std::uint8_t>(setup.value));
      if (descriptor.empty()) {
        controlStalled_ = true;
        return;
      }
      reply(std::move(descriptor));
      return;
    }
    case 0x08:  // GET_CONFIGURATION
    case 0x0A:  // GET_INTERFACE
      reply({0});
      return;
    case 0x09:  // SET_CONFIGURATION
    case 0x0B:  // SET_INTERFACE
      ep4_.toggle = ep8_.toggle = false;
      return;
    default:
      controlStalled_ = true;
      return;
  }
}

// --- The register window ---

std::uint8_t Fx2Chip::ReadXdata(std::uint16_t address) {
  const auto offset = static_cast<std::uint8_t>(address);
  switch (offset) {
    case kCpucs:
      return static_cast<std::uint8_t>(regs_[kCpucs] & 0x1E);
    case kUsbIrq:
      return usbirq_;
    case kEpIrq:
      return epirq_;
    case kUsbCs:
      return static_cast<std::uint8_t>((usbcs_ & 0x0F) | (highSpeed_ ? 0x80 : 0));
    case kTogCtl: {
      const bool* toggle = Toggle(togSelect_);
      return static_cast<std::uint8_t>((toggle != nullptr && *toggle ? 0x80 : 0) |
                                       (togSelect_ & 0x1F));
    }
    case kEp4Bch:
      return ep4_.packets.empty() ? 0 : static_cast<std::uint8_t>(ep4_.packets.front().size() >> 8);
    case kEp4Bcl:
      return ep4_.packets.empty() ? 0 : static_cast<std::uint8_t>(ep4_.packets.front().size());
    case kEp0Cs:
      return ep0cs_;
    case kEp4Cs:
      return EpCs(4);
    case kEp8Cs:
      return EpCs(8);
    case kEp2468Stat:
      return Ep2468Stat();
    default:
      return regs_[offset];
  }
}

void Fx2Chip::WriteXdata(std::uint16_t address, std::uint8_t value) {
  const auto offset = static_cast<std::uint8_t>(address);
  switch (offset) {
    case kCpucs: {
      // The program sets the clock speed; bit 0 belongs to the USB core's loader.
      Rebase();
      regs_[kCpucs] = static_cast<std::uint8_t>((value & 0x1E) | (regs_[kCpucs] & 0x01));
      static constexpr std::uint32_t kClocks[4] = {16, 8, 4, 4};
      clocksPerCycle_ = kClocks[(value >> 3) & 3];
      return;
    }
    case kFifoReset:
      nakAll_ = (value & 0x80) != 0;
      ResetEndpoint(value & 0x0F);
      return;
    case kUsbIe:
    case kEpIe:
    case kIntSetup:
      regs_[offset] = value;
      UpdateInterrupt();
      return;
    case kUsbIrq:
      usbirq_ &= static_cast<std::uint8_t>(~value);
      UpdateInterrupt();
      return;
    case kEpIrq:
      epirq_ &= static_cast<std::uint8_t>(~value);
      UpdateInterrupt();
      return;
    case kUsbCs: {
      const bool wasConnected = Connected();
      usbcs_ = static_cast<std::uint8_t>(value & 0x0F);
      if (wasConnected && !Connected()) {
        ++disconnects_;
        controlActive_ = false;
      }
      return;
    }
    case kTogCtl: {
      togSelect_ = static_cast<std::uint8_t>(value & 0x1F);
      if (bool* toggle = Toggle(togSelect_)) {
        if (value & 0x20) *toggle = false;
        if (value & 0x40) *toggle = true;
      }
      return;
    }
    case kEp0Bcl:
      regs_[offset] = value;
      FinishControlIn(static_cast<std::uint16_t>((regs_[kEp0Bch] << 8) | value));
      return;
    case kEp4Bcl:
      // Gives the buffer back to the USB core, whether skipped or committed (no FIFO behind).
      if (!ep4_.packets.empty()) {
        ep4_.packets.pop_front();
        if (!ep4_.packets.empty())
          std::copy(ep4_.packets.front().begin(), ep4_.packets.front().end(),
                    cpu_.Memory() + kEp4Buf);
      }
      return;
    case kEp8Bcl: {
      const std::size_t count = std::min<std::size_t>((regs_[kEp8Bch] << 8) | value, kBufferSize);
      if (ep8_.packets.size() < kBuffers)
        ep8_.packets.emplace_back(cpu_.Memory() + kEp8Buf, cpu_.Memory() + kEp8Buf + count);
      return;
    }
    case kEp0Cs:
      if (value & kEp0CsHsnak) {
        ep0cs_ &= static_cast<std::uint8_t>(~kEp0CsHsnak);
        if (controlActive_ && !controlByCore_)
          longestSetupUs_ = std::max(longestSetupUs_, NowUs() - setupAtUs_);
      }
      ep0cs_ = static_cast<std::uint8_t>((ep0cs_ & ~kEpCsStall) | (value & kEpCsStall));
      return;
    case kEp4Cs:
      ep4Stall_ = (value & kEpCsStall) != 0;
      return;
    case kEp8Cs:
      ep8Stall_ = (value & kEpCsStall) != 0;
      return;
    case kEp2468Stat:
      return;
    case kSudPtrL: {
      regs_[offset] = value;
      if (!(regs_[kSudPtrCtl] & 0x01)) return;
      // Auto mode: the core sends the descriptor at SUDPTR, as long as it says, at most what
      // the host asked for.
      const auto from = static_cast<std::uint16_t>((regs_[kSudPtrH] << 8) | value);
      const std::uint8_t* descriptor = cpu_.Memory() + from;
      std::size_t length = descriptor[0];
      if (descriptor[1] == 2 || descriptor[1] == 7) length = descriptor[2] | (descriptor[3] << 8);
      if (controlActive_ && !controlByCore_ && IsInRequest(setup_) && !controlDataDone_) {
        length = std::min<std::size_t>(length, setup_.length);
        length = std::min<std::size_t>(length, 0x10000u - from);
        controlIn_.assign(descriptor, descriptor + length);
        controlDataDone_ = true;
      }
      return;
    }
    default:
      if (offset >= kSetupDat) return;  // SETUPDAT is read-only
      regs_[offset] = value;
      return;
  }
}

}  // namespace sim::fx2
