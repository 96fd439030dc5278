/* The adapter's command handling: it takes the library's command frames, drives the module in
   the slot as an EN 50221 Common Interface host and answers each command with a reply frame.

   Commands never block. A command that has to wait for the module (READY after a reset, FR or
   DA in the command/status register) records what it waits for and returns; ci_host_poll()
   carries it on. The main loop calls ci_host_poll() all the time, so the USB side stays served
   while the module works. */
#ifndef CI_HOST_H
#define CI_HOST_H

#include "fw_compiler.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Command codes (byte 0 of a command frame). */
#define CMD_CI_RESET 0x10
#define CMD_WRITE_DATA 0x20
#define CMD_GET_STATUS 0x50
#define CMD_NEGOTIATE 0x60
#define CMD_WRITE_COR 0x70
#define CMD_READ_DATA 0x80

/* Reply codes (byte 2 of a reply frame). */
#define REPLY_NO_ANSWER 0x00
#define REPLY_MODULE_READY 0x02
#define REPLY_NEGOTIATED 0x04
#define REPLY_STATUS 0x05
#define REPLY_DATA 0x06
#define REPLY_COR_ACCEPTED 0x07
#define REPLY_FAILED 0x10
#define REPLY_ANSWER_KEPT 0x20
#define REPLY_NO_MODULE 0x30
#define REPLY_REJECTED 0x90

/* Bits of the module's command register and status register. */
#define CI_HC 0x01
#define CI_SW 0x02
#define CI_SR 0x04
#define CI_RS 0x08
#define CI_FR 0x40
#define CI_DA 0x80

/* Offsets of the four CI registers from the I/O base. */
#define CI_REG_DATA 0
#define CI_REG_COMMAND 1
#define CI_REG_SIZE_LOW 2
#define CI_REG_SIZE_HIGH 3

/* Bits of the adapter state byte (byte 1 of every reply). */
#define STATE_MODULE_PRESENT 0x01
#define STATE_BASE_CONFIGURED 0x02
#define STATE_LINK_NEGOTIATED 0x04
#define STATE_ANSWER_KEPT 0x08

/* How long the adapter waits for the module, in milliseconds. The library's pipe time-out is
   2000 ms while it resets, configures and negotiates, so those waits stay well below it. A
   message may keep the module busy for up to the longest time-out the updater uses (50 s); the
   wait for its answer ends earlier when the host gives up and sends its next command. */
#define WAIT_READY_MS 1500
#define WAIT_FREE_MS 1000
#define WAIT_SIZE_MS 1000
#define WAIT_ANSWER_MS 60000u
/* After RESET falls a card may leave READY undriven (it reads high) this long before it
   drives it low while it starts up; READY is not sampled earlier. */
#define READY_SETTLE_MS 20

/* Largest answer kept for CMD_READ_DATA: the reply's length byte carries at most 255. */
#define KEPT_ANSWER_MAX 255

/* What a waiting command waits for. */
#define WAIT_NONE 0
#define WAIT_READY 1
#define WAIT_FREE 2
#define WAIT_DATA 3
#define WAIT_TIME 4 /* nothing but the time: the step follows when the span has passed */

struct ci_host_state {
  uint8_t command;  /* the command in progress, 0 when idle */
  uint8_t step;     /* where the command goes on once its wait ends */
  uint8_t wait;     /* WAIT_* */
  uint16_t since;   /* hal_ms() when the wait began */
  uint16_t span;    /* length of the wait in ms */
  uint16_t io_base; /* base of the module's four CI registers, from CMD_WRITE_COR */
  uint16_t size;    /* negotiation: the size proposed by the host, then the result, which
                       bounds every read of a size the module reports */
  uint8_t flags;    /* STATE_* */
  uint8_t kept_length;
  uint8_t kept[KEPT_ANSWER_MAX];
  uint8_t small[2]; /* payload of the status and negotiation replies */
};

/* The whole state of the command handling. The host build saves and restores it to run
   several emulated adapters in one process. */
extern struct ci_host_state FW_XDATA ci_host;

/* Forgets everything: no command, no I/O base, no kept answer. */
void ci_host_init(void);
/* Starts the command in `frame` (`length` bytes as received). The frame is read completely
   before this returns. A command still waiting is abandoned without a reply: the host has
   moved on. */
void ci_host_command(const uint8_t FW_XDATA* frame, uint16_t length);
/* Carries on a waiting command; notices a module that left the slot. */
void ci_host_poll(void);
/* Non-zero while a command waits for the module. */
uint8_t ci_host_busy(void);
/* Drops the waiting command without a reply. */
void ci_host_abandon(void);

#ifdef __cplusplus
}
#endif

#endif
