#include "adapter_protocol.h"

#include <array>
#include <cstring>
#include <vector>

#include "adapter_program.h"
#include "cibridge_api.h"

namespace cibridge {

namespace {

constexpr std::size_t kHeader = 4;

// Sends one command frame; returns the count written (0 when the write failed).
std::uint32_t SendCommand(CUsbDevice& device, std::uint8_t code, const std::uint8_t* payload,
                          std::uint8_t length) {
  std::array<std::uint8_t, kHeader + 255> frame{};
  frame[0] = code;
  frame[1] = 0x00;
  frame[2] = 0xFF;
  frame[3] = length;
  if (length > 0) std::memcpy(frame.data() + kHeader, payload, length);
  std::uint32_t written = 0;
  if (!device.WriteBulkOut(frame.data(), kHeader + length, &written)) return 0;
  return written;
}

// Reads one reply into a cleared buffer; returns the count read (0 when the read failed).
std::uint32_t ReadReply(CUsbDevice& device, std::uint8_t* buffer, std::uint32_t length) {
  std::memset(buffer, 0, length);
  std::uint32_t read = 0;
  if (!device.ReadInterruptIn(buffer, length, &read)) return 0;
  return read;
}

bool WriteMemoryByte(CUsbDevice& device, std::uint16_t address, std::uint8_t value) {
  SetupPacket setup;
  setup.RequestType = 0x40;
  setup.Request = kFirmwareLoadRequest;
  setup.Value = address;
  setup.Index = 0;
  setup.Length = 1;
  std::uint32_t transferred = 0;
  return device.ControlTransfer(setup, &value, 1, &transferred);
}

// 1 holds the 8051 in reset, 0 lets it run. Both generations' registers are written every
// time, so either generation is served; true when both writes went through.
bool SetCpuReset(CUsbDevice& device, std::uint8_t value) {
  const bool first = WriteMemoryByte(device, kCpuControlFirstGeneration, value);
  const bool fx2 = WriteMemoryByte(device, kCpuControlFx2, value);
  return first && fx2;
}

// Reads the 18-byte device descriptor; false when the device does not answer.
bool ReadDeviceDescriptor(CUsbDevice& device) {
  SetupPacket getDescriptor;
  getDescriptor.RequestType = 0x80;
  getDescriptor.Request = 0x06;
  getDescriptor.Value = 0x0100;
  getDescriptor.Index = 0;
  getDescriptor.Length = 18;
  std::array<std::uint8_t, 18> descriptor{};
  std::uint32_t transferred = 0;
  return device.ControlTransfer(getDescriptor, descriptor.data(), descriptor.size(), &transferred);
}

}  // namespace

std::int32_t ExchangeCiReset(CUsbDevice& device) {
  (void)ReadDeviceDescriptor(device);

  const std::uint8_t resetPayload = 0x0F;
  (void)SendCommand(device, CMD_CI_RESET, &resetPayload, 1);
  std::array<std::uint8_t, 512> reply{};
  (void)ReadReply(device, reply.data(), reply.size());
  return reply[2];
}

std::int32_t ExchangeStatus(CUsbDevice& device) {
  (void)SendCommand(device, CMD_GET_STATUS, nullptr, 0);
  std::array<std::uint8_t, kHeader + 1> reply{};
  (void)ReadReply(device, reply.data(), reply.size());
  if (reply[2] == REPLY_STATUS && reply[3] == 0x01) return reply[4];
  return -1;
}

std::int32_t ExchangeWriteCor(CUsbDevice& device, std::int32_t address, std::int32_t value,
                              std::int32_t ioBase) {
  const std::uint8_t payload[5] = {
      static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>((address >> 8) & 0xFF),
      static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(ioBase & 0xFF),
      static_cast<std::uint8_t>((ioBase >> 8) & 0xFF)};
  (void)SendCommand(device, CMD_WRITE_COR, payload, sizeof payload);
  std::array<std::uint8_t, kHeader> reply{};
  const std::uint32_t read = ReadReply(device, reply.data(), reply.size());
  return (read == kHeader && reply[2] == REPLY_COR_ACCEPTED) ? 1 : 0;
}

std::int32_t ExchangeNegotiate(CUsbDevice& device, std::int32_t size, std::int32_t* answeredSize) {
  // Low byte first, as in the other 16-bit command fields.
  const std::uint8_t payload[2] = {static_cast<std::uint8_t>(size & 0xFF),
                                   static_cast<std::uint8_t>((size >> 8) & 0xFF)};
  (void)SendCommand(device, CMD_NEGOTIATE, payload, sizeof payload);
  std::array<std::uint8_t, kHeader + 2> reply{};
  (void)ReadReply(device, reply.data(), reply.size());
  // The answer carries the negotiated size high byte first.
  if (answeredSize != nullptr) *answeredSize = reply[4] * 256 + reply[5];
  return (reply[2] == REPLY_NEGOTIATED && reply[3] == 0x02) ? 1 : 0;
}

std::int32_t ExchangeMessage(CUsbDevice& device, const std::uint8_t* payload, std::int32_t length,
                             std::uint8_t* answer, std::int32_t* answerLength) {
  if (payload == nullptr || answer == nullptr || answerLength == nullptr || *answerLength <= 0 ||
      length < 0 || length > kMaxExchangePayload) {
    return WX_ERR_ARGUMENT;
  }
  std::array<std::uint8_t, 256> reply{};

  if (length > 0) {
    const std::uint32_t written =
        SendCommand(device, CMD_WRITE_DATA, payload, static_cast<std::uint8_t>(length));
    if (written < kHeader + static_cast<std::uint32_t>(length)) return WX_ERR_SEND;
    // A failed or empty read leaves the buffer cleared, which reads as "no answer".
    (void)ReadReply(device, reply.data(), kHeader);
    if (reply[2] == REPLY_NO_ANSWER) {
      *answerLength = 0;
      return 1;
    }
    if (reply[2] != REPLY_ANSWER_PENDING) return WX_ERR_STATE;
  }

  if (SendCommand(device, CMD_READ_DATA, nullptr, 0) < kHeader) return WX_ERR_POLL;
  // Never read more than the caller's buffer could take with the header, nor more than ours.
  const std::uint32_t capacity = static_cast<std::uint32_t>(*answerLength) < reply.size()
                                     ? static_cast<std::uint32_t>(*answerLength)
                                     : static_cast<std::uint32_t>(reply.size());
  const std::uint32_t read = ReadReply(device, reply.data(), capacity);
  if (read < kHeader) return WX_ERR_SHORT_REPLY;
  const std::uint32_t answerBytes = read - kHeader;
  std::memcpy(answer, reply.data() + kHeader, answerBytes);
  *answerLength = static_cast<std::int32_t>(answerBytes);
  return 1;
}

std::int32_t DownloadAdapterProgram(CUsbDevice& device, std::int32_t ids) {
  // The whole code memory as it is to be written: the program, then 0xFF.
  std::vector<std::uint8_t> memory(kCodeMemorySize, 0xFF);
  std::memcpy(memory.data(), kAdapterProgram, kAdapterProgramSize);

  // -1 is the caller's "IDs unknown"; every other value above 256 (also one whose vendor ID has
  // its top bit set and so reads as negative) carries the vendor ID high and the product ID low.
  const auto raw = static_cast<std::uint32_t>(ids);
  if (ids != -1 && raw > 256) {
    const std::uint8_t marker[4] = {0x0D, 0x1B, 0x10, 0x5F};
    const std::uint8_t replacement[4] = {static_cast<std::uint8_t>((raw >> 16) & 0xFF),
                                         static_cast<std::uint8_t>((raw >> 24) & 0xFF),
                                         static_cast<std::uint8_t>(raw & 0xFF),
                                         static_cast<std::uint8_t>((raw >> 8) & 0xFF)};
    for (std::size_t offset = 0; offset + sizeof marker <= kAdapterProgramSize; ++offset) {
      if (std::memcmp(kAdapterProgram + offset, marker, sizeof marker) == 0) {
        // A marker at offset 0 would lie in the reset vector, not in a descriptor.
        if (offset != 0) std::memcpy(memory.data() + offset, replacement, sizeof replacement);
        break;
      }
    }
  }

  if (!SetCpuReset(device, 1)) return 0;
  for (std::uint32_t address = 0; address < kCodeMemorySize; address += kDownloadChunk) {
    SetupPacket setup;
    setup.RequestType = 0x40;
    setup.Request = kFirmwareLoadRequest;
    setup.Value = static_cast<std::uint16_t>(address);
    setup.Index = 0;
    setup.Length = kDownloadChunk;
    std::uint8_t chunk[kDownloadChunk];
    std::memcpy(chunk, memory.data() + address, kDownloadChunk);
    std::uint32_t transferred = 0;
    if (!device.ControlTransfer(setup, chunk, kDownloadChunk, &transferred)) return 0;
  }
  if (!SetCpuReset(device, 1)) return 0;
  // The released program soon leaves the bus to come back with its own descriptors. When that
  // happens before the status stage of the last release write, the write fails although the
  // CPU runs: a device that no longer answers a descriptor read has left the bus, and the
  // release counts as done.
  const bool first = WriteMemoryByte(device, kCpuControlFirstGeneration, 0);
  const bool fx2 = WriteMemoryByte(device, kCpuControlFx2, 0);
  if (first && fx2) return 1;
  return first && !ReadDeviceDescriptor(device) ? 1 : 0;
}

}  // namespace cibridge
