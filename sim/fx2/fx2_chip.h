// The EZ-USB FX2 around its 8051 core, as far as the adapter program and the chip's documented
// behaviour need it:
//
//   - memory: 8 KB of code and data from 0x0000, the 512-byte scratch RAM at 0xE000, the
//     register window 0xE600..0xE6FF (hooked), EP0BUF at 0xE740 and the endpoint buffers of
//     endpoints 4 (0xF400) and 8 (0xFC00);
//   - CPUCS: the 8051 is held after power-up; the USB core's own firmware-load request 0xA0
//     reads and writes memory and sets or clears CPUCS bit 0 whether or not a program runs;
//     a release starts the program at 0 with the clock speed reset to 12 MHz;
//   - the USB core: the default (cold) device answers standard requests itself; once the
//     program sets RENUM, setup packets go to the program (SETUPDAT, SUDAV through INT2, EP0BUF
//     with EP0BCH/EP0BCL, EP0CS with STALL and HSNAK, SUDPTR); SET_ADDRESS and 0xA0 stay with
//     the core. Endpoint 4 (OUT) and 8 (IN) are double buffered, with byte counts, SKIP,
//     EP2468STAT, EPxCS, FIFORESET, data toggles (TOGCTL), USBIRQ/EPIRQ and the INT2
//     autovector. DISCON takes the chip off the bus; bus reset, high or full speed;
//   - ports A to E with their OE registers, wired to a PcmciaSlot.
//
// Time: the chip keeps its own time in 48 MHz clocks; each machine cycle of the core costs 4
// clocks at 48 MHz, 8 at 24 MHz, 16 at 12 MHz (CPUCS CLKSPD). RunUs() runs the core for that
// much of the chip's time (or lets it pass while the 8051 is held).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "cpu8051.h"
#include "pcmcia_slot.h"

namespace sim::fx2 {

// The 8 bytes of a setup packet, as they arrive in SETUPDAT.
struct Setup {
  std::uint8_t requestType = 0, request = 0;
  std::uint16_t value = 0, index = 0, length = 0;
};

class Fx2Chip final : public Cpu8051Bus {
 public:
  // The cold device's IDs (from a small boot EEPROM on the board).
  Fx2Chip(std::uint16_t vendorId, std::uint16_t productId);
  ~Fx2Chip() override;

  void AttachSlot(PcmciaSlot* slot);
  Cpu8051& Cpu() { return cpu_; }

  // --- Time ---
  void RunUs(std::uint64_t microseconds);
  std::uint64_t NowUs() const { return NowClocks() / 48u; }
  bool CpuHeld() const { return cpuHeld_; }
  // Chip time (us) of the last release of the CPU, and how many there were.
  int CpuReleases() const { return releases_; }

  // --- The bus, as the host sees it ---
  bool Connected() const { return !(usbcs_ & kUsbcsDiscon); }
  bool Renumerated() const { return (usbcs_ & kUsbcsRenum) != 0; }
  bool HighSpeed() const { return highSpeed_; }
  int Disconnects() const { return disconnects_; }
  void BusReset(bool highSpeed);

  // A control transfer: Setup() delivers the setup packet (and, for OUT requests, the data
  // stage); the transfer then stands as Control() tells. Requests the USB core serves itself
  // are done at once.
  enum class ControlState { kPending, kDone, kStalled };
  void StartControl(const Setup& setup, std::span<const std::uint8_t> outData);
  ControlState Control() const;
  const std::vector<std::uint8_t>& ControlInData() const { return controlIn_; }
  // Chip time from the last setup packet to the program's handshake (or stall).
  std::uint64_t LongestSetupUs() const { return longestSetupUs_; }

  // Bulk and interrupt transactions. A packet carries the host's data toggle; the result tells
  // whether the device took it, NAKed it, ignored it as a repeat (toggle mismatch, still
  // acknowledged) or stalled.
  enum class Handshake { kAck, kNak, kStall, kRepeat };
  Handshake OutPacket(std::uint8_t endpoint, std::span<const std::uint8_t> data, bool toggle);
  // An IN packet for the host, or nothing (NAK/STALL in `handshake`). A packet whose toggle
  // differs from `expected` is acknowledged by the host but dropped as a repeat.
  std::optional<std::vector<std::uint8_t>> InPacket(std::uint8_t endpoint, bool expected,
                                                    Handshake* handshake);

  // --- Cpu8051Bus ---
  std::uint8_t ReadXdata(std::uint16_t address) override;
  void WriteXdata(std::uint16_t address, std::uint8_t value) override;
  std::uint8_t ReadSfr(std::uint8_t address) override;
  void WriteSfr(std::uint8_t address, std::uint8_t value) override;

  static constexpr std::uint16_t kCpuCs = 0xE600;
  static constexpr std::uint8_t kUsbcsDiscon = 0x08;
  static constexpr std::uint8_t kUsbcsRenum = 0x02;

 private:
  struct OutEndpoint {
    std::deque<std::vector<std::uint8_t>> packets;  // received, not yet given back
    bool toggle = false;
  };
  struct InEndpoint {
    std::deque<std::vector<std::uint8_t>> packets;  // committed, not yet sent
    bool toggle = false;
  };

  std::uint64_t NowClocks() const;
  void Rebase();
  void HoldCpu();
  void ReleaseCpu();
  void RaiseUsb(std::uint8_t usbirqBits);
  void RaiseEp(std::uint8_t epirqBits);
  void UpdateInterrupt();
  void CoreSetup(const Setup& setup, std::span<const std::uint8_t> outData);
  void FirmwareLoad(const Setup& setup, std::span<const std::uint8_t> outData);
  void PortsChanged();
  std::uint8_t Port(int port);
  void ResetEndpoint(int number);
  void EndpointBufferReset();
  bool* Toggle(std::uint8_t select);
  void FinishControlIn(std::uint16_t count);
  std::uint8_t EpCs(int number);
  std::uint8_t Ep2468Stat() const;
  void LoadSetupPacket(const Setup& setup);
  Setup CurrentSetup() const;
  std::vector<std::uint8_t> DefaultDescriptor(std::uint8_t type, std::uint8_t index) const;

  Cpu8051 cpu_;
  PcmciaSlot* slot_ = nullptr;
  std::uint16_t vendorId_;
  std::uint16_t productId_;

  // Time: clocks at the last rebase, plus the core's cycles since then at the current speed.
  std::uint64_t baseClocks_ = 0;
  std::uint64_t baseCycles_ = 0;
  std::uint32_t clocksPerCycle_ = 16;
  std::int64_t owedClocks_ = 0;

  bool cpuHeld_ = true;
  int releases_ = 0;
  std::array<std::uint8_t, 256> regs_{};  // 0xE6xx storage
  std::uint8_t usbcs_ = 0;
  bool highSpeed_ = true;
  int disconnects_ = 0;
  std::uint8_t usbirq_ = 0, epirq_ = 0;
  std::uint8_t ep0cs_ = 0;
  std::uint8_t togSelect_ = 0;
  bool nakAll_ = false;
  OutEndpoint ep4_;
  InEndpoint ep8_;
  bool ep4Stall_ = false, ep8Stall_ = false;
  PortOutputs ports_;

  // The control transfer in progress.
  bool controlActive_ = false;
  bool controlByCore_ = false;
  bool controlStalled_ = false;
  bool controlDataDone_ = false;
  Setup setup_;
  std::vector<std::uint8_t> controlIn_;
  std::uint64_t setupAtUs_ = 0;
  std::uint64_t longestSetupUs_ = 0;
};

}  // namespace sim::fx2
