/* The PCMCIA slot on the FX2's port pins (100-pin package). Pin map:

     PD0..PD7  A0..A7    address, output
     PC0..PC7  A8..A15   address, output (A16..A25 are tied low on the board)
     PB0..PB7  D0..D7    data, output during writes, input otherwise
     PA0       CE1#      card enable, output, low active
     PA1       OE#       attribute memory read strobe, output, low active
     PA2       WE#       attribute memory write strobe, output, low active
     PA3       IORD#     I/O read strobe, output, low active
     PA4       IOWR#     I/O write strobe, output, low active
     PA5       REG#      attribute memory and I/O space select, output, low active
     PA6       RESET     card reset, output, high active
     PA7       VCCEN#    slot power switch, output, low switches Vcc on
     PE0       CD1#      card detect 1, input, low when a card is seated
     PE1       CD2#      card detect 2, input, low when a card is seated
     PE2       READY     card ready (IREQ# once configured), input
     PE3       WAIT#     card extends the cycle while low, input
     PE4       CE2#      high: 8-bit access on D0..D7 only, output

   Every access is one 8-bit cycle: address and REG# set up, CE1# low, strobe low for at least
   the card's access time (extended while WAIT# is low, with a bound), data taken or released,
   strobe and CE1# high again. */
#include "ci_hal.h"
#include "fx2regs.h"

#define CE1 PA0
#define OE PA1
#define WE PA2
#define IORD PA3
#define IOWR PA4
#define REG PA5
#define RESET PA6
#define VCCEN PA7

#define PE_CD1 0x01
#define PE_CD2 0x02
#define PE_READY 0x04
#define PE_WAIT 0x08
#define PE_CE2 0x10

/* The card may hold WAIT# for up to 12 us; at 48 MHz one pass is well over 80 ns. */
#define WAIT_PASSES 255

/* RESET stays high this long at a reset of a powered card, and this long after the slot's
   power comes on: the card needs Vcc settled (20 ms after the switch's ramp) before RESET
   falls, and a margin does no harm. */
#define RESET_PULSE_MS 20
#define VCC_SETTLE_MS 100

void pcmcia_bus_init(void) {
  PORTACFG = 0;
  PORTCCFG = 0;
  PORTECFG = 0;
  IOA = 0x3F | 0x80; /* strobes, CE1# and REG# high, RESET low, Vcc off */
  OEA = 0xFF;
  IOC = 0;
  OEC = 0xFF;
  IOD = 0;
  OED = 0xFF;
  OEB = 0x00;
  IOE = PE_CE2;
  OEE = PE_CE2;
}

static void address(uint16_t value) {
  IOD = (uint8_t)value;
  IOC = (uint8_t)(value >> 8);
}

static void strobe_hold(void) {
  uint8_t passes = WAIT_PASSES;
  __asm__("nop\n nop\n nop\n nop");
  while (!(IOE & PE_WAIT) && --passes) {
  }
}

uint8_t hal_card_present(void) {
  if ((IOE & (PE_CD1 | PE_CD2)) == 0) return 1;
  /* No card: power off, so that the next one is not put into a powered slot. */
  RESET = 0;
  VCCEN = 1;
  return 0;
}

uint16_t hal_card_reset_begin(void) {
  RESET = 1;
  if (!VCCEN) return RESET_PULSE_MS;
  VCCEN = 0;
  return VCC_SETTLE_MS;
}

void hal_card_reset_end(void) {
  RESET = 0;
}

uint8_t hal_card_ready(void) {
  return (IOE & PE_READY) != 0;
}

uint8_t hal_attr_read(uint16_t where) {
  uint8_t value;
  address(where);
  OEB = 0x00;
  REG = 0;
  CE1 = 0;
  OE = 0;
  strobe_hold();
  value = IOB;
  OE = 1;
  CE1 = 1;
  REG = 1;
  return value;
}

void hal_attr_write(uint16_t where, uint8_t value) {
  address(where);
  IOB = value;
  OEB = 0xFF;
  REG = 0;
  CE1 = 0;
  WE = 0;
  strobe_hold();
  WE = 1;
  CE1 = 1;
  REG = 1;
  OEB = 0x00;
}

uint8_t hal_io_read(uint16_t where) {
  uint8_t value;
  address(where);
  OEB = 0x00;
  REG = 0;
  CE1 = 0;
  IORD = 0;
  strobe_hold();
  value = IOB;
  IORD = 1;
  CE1 = 1;
  REG = 1;
  return value;
}

void hal_io_write(uint16_t where, uint8_t value) {
  address(where);
  IOB = value;
  OEB = 0xFF;
  REG = 0;
  CE1 = 0;
  IOWR = 0;
  strobe_hold();
  IOWR = 1;
  CE1 = 1;
  REG = 1;
  OEB = 0x00;
}
