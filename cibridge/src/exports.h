// Declarations of the ten exports the library core defines, for code linked with the core
// (the updater itself binds them by name at run time through the types in cibridge_api.h).
#pragma once

#include <cstdint>

#include "cibridge_api.h"

extern "C" {
int32_t CIBRIDGE_CALL SearchUSBAdapter(char* pathBuffer);
int32_t CIBRIDGE_CALL USBAdapterOpen(const char* path);
int32_t CIBRIDGE_CALL USBAdapterClose(void);
int32_t CIBRIDGE_CALL USBAdapterCIReset(void);
int32_t CIBRIDGE_CALL GetCIStatus(void);
int32_t CIBRIDGE_CALL WriteCOR(int32_t address, int32_t value, int32_t ioBase);
int32_t CIBRIDGE_CALL NegociateCI(int32_t size, int32_t* answeredSize);
int32_t CIBRIDGE_CALL SetTimeout(int32_t milliseconds);
int32_t CIBRIDGE_CALL WriteExchange(const uint8_t* payload, int32_t length, uint8_t* answer,
                                    int32_t* answerLength);
int32_t CIBRIDGE_CALL LoadFirmware(int32_t adapterIds);
}
