// The adapter's command protocol: one command frame on the bulk OUT pipe, one reply frame from
// the interrupt IN pipe, and the download of the adapter program over the default pipe.
//
// Command frame: code, 0x00, 0xFF, payload length n, n payload bytes.
// Reply frame:   0x00, adapter state, reply code, payload length m, m payload bytes.
#pragma once

#include <cstdint>

#include "usb_device.h"

namespace cibridge {

inline constexpr std::uint8_t CMD_CI_RESET = 0x10;
inline constexpr std::uint8_t CMD_WRITE_DATA = 0x20;
inline constexpr std::uint8_t CMD_GET_STATUS = 0x50;
inline constexpr std::uint8_t CMD_NEGOTIATE = 0x60;
inline constexpr std::uint8_t CMD_WRITE_COR = 0x70;
inline constexpr std::uint8_t CMD_READ_DATA = 0x80;

inline constexpr std::uint8_t REPLY_NO_ANSWER = 0x00;
inline constexpr std::uint8_t REPLY_MODULE_READY = 0x02;
inline constexpr std::uint8_t REPLY_NEGOTIATED = 0x04;
inline constexpr std::uint8_t REPLY_STATUS = 0x05;
inline constexpr std::uint8_t REPLY_DATA = 0x06;
inline constexpr std::uint8_t REPLY_COR_ACCEPTED = 0x07;
inline constexpr std::uint8_t REPLY_NOT_READY = 0x10;
inline constexpr std::uint8_t REPLY_ANSWER_PENDING = 0x20;
inline constexpr std::uint8_t REPLY_NO_MODULE = 0x30;
inline constexpr std::uint8_t REPLY_REJECTED = 0x90;

// Largest payload of one message exchange, and the largest answer it can return.
inline constexpr std::int32_t kMaxExchangePayload = 255;
inline constexpr std::int32_t kMaxAnswerPayload = 252;

// Firmware-load vendor request and the CPU control registers of the two EZ-USB generations.
inline constexpr std::uint8_t kFirmwareLoadRequest = 0xA0;
inline constexpr std::uint16_t kCpuControlFirstGeneration = 0x7F92;
inline constexpr std::uint16_t kCpuControlFx2 = 0xE600;
inline constexpr std::uint32_t kCodeMemorySize = 8192;
inline constexpr std::uint32_t kDownloadChunk = 16;

// Reads the device descriptor, sends the reset command and returns the reply code (0 when
// nothing came back).
std::int32_t ExchangeCiReset(CUsbDevice& device);
// The module's command/status byte, or -1 when the reply is not a status reply.
std::int32_t ExchangeStatus(CUsbDevice& device);
// 1 when the adapter accepted the configuration write with exactly a 4-byte 0x07 reply.
std::int32_t ExchangeWriteCor(CUsbDevice& device, std::int32_t address, std::int32_t value,
                              std::int32_t ioBase);
// Stores the answered size in `answeredSize` (when not null, whatever the reply) and returns 1
// when the reply is a negotiation reply.
std::int32_t ExchangeNegotiate(CUsbDevice& device, std::int32_t size, std::int32_t* answeredSize);
// The two-phase message exchange: 1, or one of the codes 49 to 53.
std::int32_t ExchangeMessage(CUsbDevice& device, const std::uint8_t* payload, std::int32_t length,
                             std::uint8_t* answer, std::int32_t* answerLength);
// Downloads the adapter program with the CPU held, the IDs patched in when `ids` carries them.
std::int32_t DownloadAdapterProgram(CUsbDevice& device, std::int32_t ids);

}  // namespace cibridge
