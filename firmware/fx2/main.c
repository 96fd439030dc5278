/* The adapter program on the EZ-USB FX2: start-up and re-enumeration, the millisecond timer,
   the control endpoint's standard requests, and the two data endpoints that carry the command
   frames (0x04, bulk OUT) and the replies (0x88, interrupt IN) to and from the command
   handling. The firmware-load request 0xA0 stays with the FX2's own USB core. */
#include "ci_hal.h"
#include "ci_host.h"
#include "descriptors.h"
#include "fx2regs.h"

void pcmcia_bus_init(void);

/* Timer 0 runs from CLKOUT/12 = 4 MHz at 48 MHz: 4000 counts per millisecond. */
#define TIMER_RELOAD (65536u - 4000u)

/* The host's last write of the download releases the CPU; its status stage may follow some
   time later. The program stays on the bus this long first, so that the write completes. */
#define BEFORE_DISCONNECT_MS 20
/* Off the bus this long, so that the host notices the disconnect. */
#define DISCONNECTED_MS 1500

/* Global, so that a simulator run can find it in the link map and skip long waits. */
volatile uint16_t milliseconds;
static volatile __bit setup_pending;
static uint8_t configuration;
static uint8_t alternate_setting;

void timer0_isr(void) __interrupt(1) {
  TH0 = (uint8_t)(TIMER_RELOAD >> 8);
  TL0 = (uint8_t)TIMER_RELOAD;
  ++milliseconds;
}

void usb_isr(void) __interrupt(8) {
  uint8_t pending = USBIRQ;
  EXIF &= (uint8_t)~EXIF_USBINT;
  if (pending & USBIRQ_SUDAV) setup_pending = 1;
  if (pending & USBIRQ_URES) {
    configuration = 0;
    alternate_setting = 0;
  }
  USBIRQ = pending;
}

uint16_t hal_ms(void) {
  uint16_t now;
  ET0 = 0;
  now = milliseconds;
  ET0 = 1;
  return now;
}

void hal_reply(uint8_t state, uint8_t code, const uint8_t __xdata* payload, uint8_t length) {
  uint8_t i;
  /* Both buffers still hold replies the host never fetched: it will reset the pipe before its
     next command, so this reply can go too. */
  if (EP8CS & EPCS_FULL) return;
  EP8FIFOBUF[0] = 0x00;
  EP8FIFOBUF[1] = state;
  EP8FIFOBUF[2] = code;
  EP8FIFOBUF[3] = length;
  for (i = 0; i < length; ++i) EP8FIFOBUF[4 + i] = payload[i];
  EP8BCH = (uint8_t)((4u + length) >> 8);
  SYNCDELAY;
  EP8BCL = (uint8_t)(4u + length);
}

static void arm_command_endpoint(void) {
  EP4BCL = BCL_SKIP;
  SYNCDELAY;
  EP4BCL = BCL_SKIP;
  SYNCDELAY;
}

/* Empties an endpoint's buffers and resets its data toggle: a clear-halt from the host starts
   the pipe afresh, so a reply the host stopped waiting for never answers a later command. */
static void reset_endpoint(uint8_t endpoint) {
  uint8_t number = endpoint & 0x0F;
  FIFORESET = FIFORESET_NAKALL;
  SYNCDELAY;
  FIFORESET = number;
  SYNCDELAY;
  FIFORESET = 0;
  SYNCDELAY;
  TOGCTL = (endpoint & 0x80 ? TOGCTL_IO : 0) | number;
  TOGCTL = (endpoint & 0x80 ? TOGCTL_IO : 0) | number | TOGCTL_R;
  if (number == 4) {
    EP4CS &= (uint8_t)~EPCS_STALL;
    arm_command_endpoint();
  } else {
    EP8CS &= (uint8_t)~EPCS_STALL;
    /* A command still waiting would answer after the reset, and its reply would then be taken
       for the reply to the host's next command. It is abandoned; an answer the module gives
       later stays with the module and is fetched by the next exchange. */
    ci_host_abandon();
  }
}

static volatile __xdata unsigned char* endpoint_cs(uint8_t endpoint) {
  if (endpoint == 0x04) return &EP4CS;
  if (endpoint == 0x88) return &EP8CS;
  if ((endpoint & 0x7F) == 0) return &EP0CS;
  return 0;
}

static void send_ep0(const __code uint8_t* data, uint8_t length, uint8_t type_override) {
  uint8_t wanted = SETUPDAT[6];
  uint8_t i;
  if (SETUPDAT[7] == 0 && wanted < length) length = wanted;
  for (i = 0; i < length; ++i) EP0BUF[i] = data[i];
  if (type_override != 0 && length > 1) EP0BUF[1] = type_override;
  EP0BCH = 0;
  SYNCDELAY;
  EP0BCL = length;
}

static void send_ep0_bytes(uint8_t first, uint8_t second, uint8_t length) {
  EP0BUF[0] = first;
  EP0BUF[1] = second;
  EP0BCH = 0;
  SYNCDELAY;
  EP0BCL = length;
}

/* Returns 0 when the request is not served; the caller stalls it. */
static uint8_t get_descriptor(void) {
  uint8_t high_speed = (USBCS & USBCS_HSM) != 0;
  switch (SETUPDAT[3]) {
    case 0x01:
      send_ep0(device_descriptor, DSCR_DEVICE_LENGTH, 0);
      return 1;
    case 0x02:
      if (high_speed)
        send_ep0(config_descriptor, DSCR_CONFIG_LENGTH, 0);
      else
        send_ep0(other_speed_descriptor, DSCR_OTHER_SPEED_LENGTH, 0x02);
      return 1;
    case 0x06:
      send_ep0(qualifier_descriptor, DSCR_QUALIFIER_LENGTH, 0);
      return 1;
    case 0x07:
      if (high_speed)
        send_ep0(other_speed_descriptor, DSCR_OTHER_SPEED_LENGTH, 0);
      else
        send_ep0(config_descriptor, DSCR_CONFIG_LENGTH, 0x07);
      return 1;
    case 0x03:
      switch (SETUPDAT[2]) {
        case 0:
          send_ep0(string_descriptors, 4, 0);
          return 1;
        case 1:
          send_ep0(string_descriptors + 4, 16, 0);
          return 1;
        case 2:
          send_ep0(string_descriptors + 20, 32, 0);
          return 1;
      }
      return 0;
  }
  return 0;
}

static uint8_t standard_request(void) {
  uint8_t recipient = SETUPDAT[0] & 0x1F;
  volatile __xdata unsigned char* cs;
  switch (SETUPDAT[1]) {
    case 0x00: /* GET_STATUS */
      if (recipient == 2) {
        cs = endpoint_cs(SETUPDAT[4]);
        if (cs == 0) return 0;
        send_ep0_bytes(*cs & EPCS_STALL, 0, 2);
      } else {
        send_ep0_bytes(0, 0, 2); /* bus powered, no remote wake-up */
      }
      return 1;
    case 0x01: /* CLEAR_FEATURE */
      if (recipient == 2 && SETUPDAT[2] == 0) {
        if (SETUPDAT[4] == 0x04 || SETUPDAT[4] == 0x88) {
          reset_endpoint(SETUPDAT[4]);
          return 1;
        }
        return (SETUPDAT[4] & 0x7F) == 0;
      }
      return recipient == 0;
    case 0x03: /* SET_FEATURE */
      if (recipient == 2 && SETUPDAT[2] == 0) {
        cs = endpoint_cs(SETUPDAT[4]);
        if (cs == 0 || cs == &EP0CS) return 0;
        *cs |= EPCS_STALL;
        return 1;
      }
      return recipient == 0;
    case 0x06: /* GET_DESCRIPTOR */
      return get_descriptor();
    case 0x08: /* GET_CONFIGURATION */
      send_ep0_bytes(configuration, 0, 1);
      return 1;
    case 0x09: /* SET_CONFIGURATION */
      if (SETUPDAT[2] > 1) return 0;
      configuration = SETUPDAT[2];
      alternate_setting = 0;
      reset_endpoint(0x04); /* a (re)configuration starts both pipes afresh */
      reset_endpoint(0x88);
      return 1;
    case 0x0A: /* GET_INTERFACE */
      if (SETUPDAT[4] != 0) return 0;
      send_ep0_bytes(alternate_setting, 0, 1);
      return 1;
    case 0x0B: /* SET_INTERFACE */
      if (SETUPDAT[4] != 0 || SETUPDAT[2] > 1) return 0;
      alternate_setting = SETUPDAT[2];
      reset_endpoint(0x04);
      reset_endpoint(0x88);
      return 1;
  }
  return 0;
}

static void serve_setup(void) {
  setup_pending = 0;
  if ((SETUPDAT[0] & 0x60) != 0 || !standard_request()) EP0CS |= EPCS_STALL;
  EP0CS |= EP0CS_HSNAK;
}

static void start_timer(void) {
  CKCON &= (uint8_t)~0x08; /* timer 0 from CLKOUT/12 */
  TMOD = (TMOD & 0xF0) | 0x01;
  TH0 = (uint8_t)(TIMER_RELOAD >> 8);
  TL0 = (uint8_t)TIMER_RELOAD;
  ET0 = 1;
  TR0 = 1;
}

static void configure_endpoints(void) {
  REVCTL = 0;
  SYNCDELAY;
  EP1OUTCFG = 0;
  SYNCDELAY;
  EP1INCFG = 0;
  SYNCDELAY;
  EP2CFG = 0x22; /* not used; 512 bytes, double buffered, so that 0x04 and 0x88 exist */
  SYNCDELAY;
  EP4CFG = 0xA0; /* valid, OUT, bulk */
  SYNCDELAY;
  EP6CFG = 0x62; /* not used */
  SYNCDELAY;
  EP8CFG = 0xF0; /* valid, IN, interrupt */
  SYNCDELAY;
  arm_command_endpoint();
}

void main(void) {
  uint16_t start;
  CPUCS = CPUCS_CLKSPD_48MHZ;
  IFCONFIG = 0xC0; /* internal 48 MHz interface clock, ports mode */
  SYNCDELAY;
  pcmcia_bus_init();
  configure_endpoints();
  ci_host_init();
  start_timer();
  USBIRQ = 0xFF;
  USBIE = USBIRQ_SUDAV | USBIRQ_URES;
  EUSB = 1;
  EA = 1;

  /* Leave the bus and come back with this program's own descriptors. */
  start = hal_ms();
  while ((uint16_t)(hal_ms() - start) < BEFORE_DISCONNECT_MS) {
  }
  USBCS |= USBCS_DISCON | USBCS_RENUM;
  start = hal_ms();
  while ((uint16_t)(hal_ms() - start) < DISCONNECTED_MS) {
  }
  USBCS &= (uint8_t)~USBCS_DISCON;

  for (;;) {
    if (setup_pending) serve_setup();
    if (!(EP2468STAT & EP2468STAT_EP4E)) {
      uint16_t length = ((uint16_t)EP4BCH << 8) | EP4BCL;
      ci_host_command((const uint8_t __xdata*)EP4FIFOBUF, length);
      EP4BCL = BCL_SKIP; /* hand the buffer back for the next frame */
      SYNCDELAY;
    }
    ci_host_poll();
  }
}
