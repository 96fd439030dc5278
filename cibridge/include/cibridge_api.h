/* The ten exports of the USB CI adapter library, as the updater binds them by name.
   Every export takes 32-bit integers or caller-owned buffers and returns a 32-bit integer. */
#ifndef CIBRIDGE_API_H
#define CIBRIDGE_API_H

#include <stdint.h>

#if defined(_WIN32) && defined(__i386__)
#define CIBRIDGE_CALL __stdcall
#else
#define CIBRIDGE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of WriteExchange besides 1 (success) and 0 (adapter not open). */
enum {
  WX_ERR_ARGUMENT = 49,
  WX_ERR_SEND = 50,
  WX_ERR_STATE = 51,
  WX_ERR_POLL = 52,
  WX_ERR_SHORT_REPLY = 53
};

typedef int32_t(CIBRIDGE_CALL* SearchUSBAdapterFn)(char* pathBuffer);
typedef int32_t(CIBRIDGE_CALL* USBAdapterOpenFn)(const char* path);
typedef int32_t(CIBRIDGE_CALL* USBAdapterCloseFn)(void);
typedef int32_t(CIBRIDGE_CALL* USBAdapterCIResetFn)(void);
typedef int32_t(CIBRIDGE_CALL* GetCIStatusFn)(void);
typedef int32_t(CIBRIDGE_CALL* WriteCORFn)(int32_t address, int32_t value, int32_t ioBase);
typedef int32_t(CIBRIDGE_CALL* NegociateCIFn)(int32_t size, int32_t* answeredSize);
typedef int32_t(CIBRIDGE_CALL* SetTimeoutFn)(int32_t milliseconds);
typedef int32_t(CIBRIDGE_CALL* WriteExchangeFn)(const uint8_t* payload, int32_t length,
                                                uint8_t* answer, int32_t* answerLength);
typedef int32_t(CIBRIDGE_CALL* LoadFirmwareFn)(int32_t adapterIds);

#ifdef __cplusplus
}
#endif

#endif
