/* What the command handling needs from the hardware layer below it: a millisecond tick, the
   PCMCIA slot (card detect, reset and ready, attribute memory, I/O space) and the reply pipe.
   firmware/fx2 implements it on the EZ-USB's ports and endpoints, firmware/host on a simulated
   module. */
#ifndef CI_HAL_H
#define CI_HAL_H

#include "fw_compiler.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Free-running millisecond counter; wraps at 65536. */
uint16_t hal_ms(void);

/* Both card-detect pins report a card. Without a card the slot's power goes off, so that the
   next card is not put into a powered slot. */
uint8_t hal_card_present(void);
/* Raises the card's RESET line, switching the slot's power on first when it was off. Returns
   how long RESET has to stay high, in ms: after a power-up, until Vcc has settled. */
uint16_t hal_card_reset_begin(void);
/* Releases RESET. */
void hal_card_reset_end(void);
/* The card's READY line is high. */
uint8_t hal_card_ready(void);

/* One byte of attribute memory (REG# low, memory cycle). */
uint8_t hal_attr_read(uint16_t address);
void hal_attr_write(uint16_t address, uint8_t value);

/* One byte of I/O space (REG# low, IORD#/IOWR# cycle). */
uint8_t hal_io_read(uint16_t address);
void hal_io_write(uint16_t address, uint8_t value);

/* Sends one reply frame on the interrupt IN endpoint: 0x00, `state`, `code`, `length`, then
   `length` payload bytes. A reply the host does not collect may be discarded. */
void hal_reply(uint8_t state, uint8_t code, const uint8_t FW_XDATA* payload, uint8_t length);

#ifdef __cplusplus
}
#endif

#endif
