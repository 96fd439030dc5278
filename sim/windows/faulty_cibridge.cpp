// A hostile adapter library for the Wine tests, <tree>/standins/faulty/cibridge.dll: the ten
// exports of a ready adapter whose module accepts nothing (every exchange answers empty), except
// that the export named by the environment variable MORVANE_FAULTY_EXPORT ends its first call
// the way MORVANE_FAULT names: "segv" (a write to address 0), "abort", "ill" (an undefined
// instruction), "fpe" (a division by zero), "stack" (runaway recursion) or, for WriteExchange,
// "overrun" (4096 bytes written into the answer buffer it was offered). Its exports are called
// as the real library's are (stdcall on i686).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cibridge_api.h"

namespace {

volatile int* volatile nowhere = nullptr;
volatile int zero = 0;
volatile int one = 1;
volatile bool deeper = true;

std::string Environment(const char* name) {
  char value[64] = {};
  const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

__attribute__((noinline)) int Overflow(int depth) {
  volatile char frame[512];
  frame[depth % 512] = static_cast<char>(depth);
  return (deeper ? Overflow(depth + 1) : 0) + frame[0];
}

void MaybeFault(const char* entry, std::uint8_t* answer = nullptr) {
  static bool faulted = false;
  if (faulted || Environment("MORVANE_FAULTY_EXPORT") != entry) return;
  faulted = true;
  const std::string how = Environment("MORVANE_FAULT");
  if (how == "segv") *nowhere = 1;
  if (how == "abort") std::abort();
  if (how == "ill") __builtin_trap();
  if (how == "fpe") zero = one / zero;
  if (how == "stack") zero = Overflow(0);
  if (how == "overrun" && answer != nullptr) std::memset(answer, 0x5A, 4096);
}

constexpr const char* kPath =
    "\\\\?\\usb#vid_1b0d&pid_5f10#6&1&0#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";

}  // namespace

extern "C" {

__declspec(dllexport) int32_t CIBRIDGE_CALL SearchUSBAdapter(char* path) {
  MaybeFault("SearchUSBAdapter");
  std::strcpy(path, kPath);
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL USBAdapterOpen(const char*) {
  MaybeFault("USBAdapterOpen");
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL USBAdapterClose() {
  MaybeFault("USBAdapterClose");
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL USBAdapterCIReset() {
  MaybeFault("USBAdapterCIReset");
  return 2;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL GetCIStatus() {
  return 0;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL WriteCOR(int32_t, int32_t, int32_t) {
  MaybeFault("WriteCOR");
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL NegociateCI(int32_t size, int32_t* answered) {
  MaybeFault("NegociateCI");
  *answered = size;
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL SetTimeout(int32_t) {
  MaybeFault("SetTimeout");
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL
    WriteExchange(const uint8_t*, int32_t, uint8_t* answer, int32_t* length) {
  MaybeFault("WriteExchange", answer);
  *length = 0;
  return 1;
}
__declspec(dllexport) int32_t CIBRIDGE_CALL LoadFirmware(int32_t) {
  MaybeFault("LoadFirmware");
  return 1;
}

}  // extern "C"
