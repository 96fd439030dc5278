/* The adapter's command handling and its Common Interface host state machine. */
#include "ci_host.h"

#include "ci_hal.h"

struct ci_host_state FW_XDATA ci_host;

static uint8_t present(void) {
  if (hal_card_present()) {
    ci_host.flags |= STATE_MODULE_PRESENT;
    return 1;
  }
  /* A card that left takes its configuration and any answer with it. */
  ci_host.flags = 0;
  ci_host.kept_length = 0;
  return 0;
}

static void reply(uint8_t code, const uint8_t FW_XDATA* payload, uint8_t length) {
  hal_reply(ci_host.flags, code, payload, length);
}

static void finish(uint8_t code) {
  ci_host.command = 0;
  ci_host.wait = WAIT_NONE;
  reply(code, 0, 0);
}

static void finish_silently(void) {
  ci_host.command = 0;
  ci_host.wait = WAIT_NONE;
}

static void wait_for(uint8_t what, uint8_t step, uint16_t span) {
  ci_host.wait = what;
  ci_host.step = step;
  ci_host.span = span;
  ci_host.since = hal_ms();
}

static uint8_t reg_read(uint8_t offset) {
  return hal_io_read(ci_host.io_base + offset);
}

static void reg_write(uint8_t offset, uint8_t value) {
  hal_io_write(ci_host.io_base + offset, value);
}

/* The most bytes the module may send: the negotiated buffer size, or before a negotiation what
   one reply carries. A bogus size from the module must not keep the adapter reading for long,
   away from its control endpoint. */
static uint16_t read_bound(void) {
  return (ci_host.flags & STATE_LINK_NEGOTIATED) ? ci_host.size : KEPT_ANSWER_MAX;
}

/* Reads the answer the module announced with DA: its size, then that many data bytes (up to
   the bound). Bytes beyond what a reply carries are read and dropped so that the module's
   buffer empties. */
static void keep_answer(void) {
  uint16_t size = reg_read(CI_REG_SIZE_LOW);
  uint16_t i;
  size |= (uint16_t)reg_read(CI_REG_SIZE_HIGH) << 8;
  if (size > read_bound()) size = read_bound();
  for (i = 0; i < size; ++i) {
    uint8_t byte = reg_read(CI_REG_DATA);
    if (i < KEPT_ANSWER_MAX) ci_host.kept[i] = byte;
  }
  ci_host.kept_length = size < KEPT_ANSWER_MAX ? (uint8_t)size : KEPT_ANSWER_MAX;
  ci_host.flags |= STATE_ANSWER_KEPT;
}

static void send_kept(void) {
  ci_host.flags &= (uint8_t)~STATE_ANSWER_KEPT;
  reply(REPLY_DATA, ci_host.kept, ci_host.kept_length);
  ci_host.kept_length = 0;
}

void ci_host_init(void) {
  ci_host.command = 0;
  ci_host.step = 0;
  ci_host.wait = WAIT_NONE;
  ci_host.io_base = 0;
  ci_host.size = 0;
  ci_host.flags = 0;
  ci_host.kept_length = 0;
}

uint8_t ci_host_busy(void) {
  return ci_host.command != 0;
}

void ci_host_abandon(void) {
  /* A reset abandoned while RESET is high must not leave the card held in reset. */
  if (ci_host.command == CMD_CI_RESET && ci_host.step == 0) hal_card_reset_end();
  finish_silently();
}

/* Reset: RESET high (power first if needed) for the span the hardware layer asks, released,
   READY left alone while the card may not drive it yet, then waited for. */
static void start_reset(void) {
  ci_host.flags &= STATE_MODULE_PRESENT;
  ci_host.kept_length = 0;
  wait_for(WAIT_TIME, 0, hal_card_reset_begin());
}

static void start_write_cor(const uint8_t FW_XDATA* payload) {
  uint16_t address = payload[0] | ((uint16_t)payload[1] << 8);
  uint8_t value = payload[2];
  ci_host.io_base = payload[3] | ((uint16_t)payload[4] << 8);
  ci_host.flags |= STATE_BASE_CONFIGURED;
  ci_host.flags &= (uint8_t)~STATE_LINK_NEGOTIATED;
  /* Accepted before the register is written; a failure follows as a second reply. */
  reply(REPLY_COR_ACCEPTED, 0, 0);
  hal_attr_write(address, value);
  if (hal_attr_read(address) != value) {
    ci_host.flags &= (uint8_t)~STATE_BASE_CONFIGURED;
    finish(REPLY_FAILED);
    return;
  }
  wait_for(WAIT_FREE, 0, WAIT_FREE_MS);
}

static void start_negotiate(const uint8_t FW_XDATA* payload) {
  /* The proposal is read high byte first. */
  ci_host.size = ((uint16_t)payload[0] << 8) | payload[1];
  ci_host.flags &= (uint8_t)~STATE_LINK_NEGOTIATED;
  reg_write(CI_REG_COMMAND, CI_SR);
  wait_for(WAIT_DATA, 0, WAIT_SIZE_MS);
}

static void start_write_data(const uint8_t FW_XDATA* message, uint8_t length) {
  uint8_t i;
  /* Keep the answer rule: an answer not yet collected, kept here or still held by the module,
     is fetched first, and the message is not written. */
  if (ci_host.flags & STATE_ANSWER_KEPT) {
    finish(REPLY_ANSWER_KEPT);
    return;
  }
  if (reg_read(CI_REG_COMMAND) & CI_DA) {
    keep_answer();
    finish(REPLY_ANSWER_KEPT);
    return;
  }
  reg_write(CI_REG_COMMAND, CI_HC);
  if (!(reg_read(CI_REG_COMMAND) & CI_FR)) {
    reg_write(CI_REG_COMMAND, 0);
    finish(REPLY_ANSWER_KEPT);
    return;
  }
  reg_write(CI_REG_SIZE_LOW, length);
  reg_write(CI_REG_SIZE_HIGH, 0);
  for (i = 0; i < length; ++i) reg_write(CI_REG_DATA, message[i]);
  reg_write(CI_REG_COMMAND, 0);
  ci_host.kept_length = 0;
  ci_host.flags &= (uint8_t)~STATE_ANSWER_KEPT;
  wait_for(WAIT_DATA, 0, WAIT_ANSWER_MS);
}

static void read_data(void) {
  if (ci_host.flags & STATE_ANSWER_KEPT) {
    send_kept();
  } else if (reg_read(CI_REG_COMMAND) & CI_DA) {
    keep_answer();
    send_kept();
  } else {
    reply(REPLY_FAILED, 0, 0);
  }
}

void ci_host_command(const uint8_t FW_XDATA* frame, uint16_t length) {
  uint8_t code;
  uint8_t payload_length;
  uint8_t card = present(); /* every reply tells whether a card is seated */
  if (ci_host.command != 0) ci_host_abandon();
  if (length < 4 || length != 4u + frame[3]) {
    reply(REPLY_REJECTED, 0, 0);
    return;
  }
  code = frame[0];
  payload_length = frame[3];
  if (code != CMD_CI_RESET && code != CMD_WRITE_DATA && code != CMD_GET_STATUS &&
      code != CMD_NEGOTIATE && code != CMD_WRITE_COR && code != CMD_READ_DATA) {
    reply(REPLY_REJECTED, 0, 0);
    return;
  }
  if (!card) {
    reply(REPLY_NO_MODULE, 0, 0);
    return;
  }
  /* The registers are reached only once a configuration write has named their base. */
  if ((code == CMD_GET_STATUS || code == CMD_NEGOTIATE || code == CMD_WRITE_DATA ||
       code == CMD_READ_DATA) &&
      !(ci_host.flags & STATE_BASE_CONFIGURED)) {
    reply(REPLY_FAILED, 0, 0);
    return;
  }
  switch (code) {
    case CMD_CI_RESET:
      ci_host.command = code;
      start_reset();
      break;
    case CMD_WRITE_COR:
      if (payload_length != 5) {
        reply(REPLY_FAILED, 0, 0);
        return;
      }
      ci_host.command = code;
      start_write_cor(frame + 4);
      break;
    case CMD_GET_STATUS:
      ci_host.small[0] = reg_read(CI_REG_COMMAND);
      reply(REPLY_STATUS, ci_host.small, 1);
      return;
    case CMD_NEGOTIATE:
      if (payload_length != 2) {
        reply(REPLY_FAILED, 0, 0);
        return;
      }
      ci_host.command = code;
      start_negotiate(frame + 4);
      break;
    case CMD_WRITE_DATA:
      if (payload_length == 0) {
        reply(REPLY_FAILED, 0, 0);
        return;
      }
      ci_host.command = code;
      start_write_data(frame + 4, payload_length);
      break;
    default: /* CMD_READ_DATA */
      read_data();
      return;
  }
  /* Many waits are over at once; finish those without another turn of the main loop. */
  ci_host_poll();
}

/* The wait of the command in progress has ended with its condition met. */
static void proceed(void) {
  switch (ci_host.command) {
    case CMD_CI_RESET:
      if (ci_host.step == 0) {
        hal_card_reset_end();
        wait_for(WAIT_TIME, 1, READY_SETTLE_MS);
      } else if (ci_host.step == 1) {
        wait_for(WAIT_READY, 2, WAIT_READY_MS);
      } else {
        finish(REPLY_MODULE_READY);
      }
      return;
    case CMD_WRITE_COR:
      if (ci_host.step == 0) {
        /* Reset the command interface; the module is ready again when it reports FR. */
        reg_write(CI_REG_COMMAND, CI_RS);
        reg_write(CI_REG_COMMAND, 0);
        wait_for(WAIT_FREE, 1, WAIT_FREE_MS);
      } else {
        finish_silently();
      }
      return;
    case CMD_NEGOTIATE:
      if (ci_host.step == 0) {
        uint16_t offered = reg_read(CI_REG_SIZE_LOW);
        uint16_t module_size = 0;
        uint16_t i;
        offered |= (uint16_t)reg_read(CI_REG_SIZE_HIGH) << 8;
        /* The size is two bytes; a module that reports more is not read beyond them. */
        for (i = 0; i < offered && i < 2; ++i)
          module_size = (module_size << 8) | reg_read(CI_REG_DATA);
        reg_write(CI_REG_COMMAND, 0);
        if (offered != 2) {
          finish(REPLY_FAILED);
          return;
        }
        if (module_size < ci_host.size) ci_host.size = module_size;
        reg_write(CI_REG_COMMAND, CI_SW);
        wait_for(WAIT_FREE, 1, WAIT_FREE_MS);
      } else {
        reg_write(CI_REG_COMMAND, CI_SW | CI_HC);
        /* The module may have become busy between FR and HC: only a module still free with
           HC set takes the size; otherwise HC goes and the wait for FR goes on, within the
           same span. */
        if (!(reg_read(CI_REG_COMMAND) & CI_FR)) {
          reg_write(CI_REG_COMMAND, CI_SW);
          ci_host.wait = WAIT_FREE;
          return;
        }
        reg_write(CI_REG_SIZE_LOW, 2);
        reg_write(CI_REG_SIZE_HIGH, 0);
        reg_write(CI_REG_DATA, (uint8_t)(ci_host.size >> 8));
        reg_write(CI_REG_DATA, (uint8_t)ci_host.size);
        reg_write(CI_REG_COMMAND, CI_SW);
        reg_write(CI_REG_COMMAND, 0);
        ci_host.flags |= STATE_LINK_NEGOTIATED;
        ci_host.small[0] = (uint8_t)(ci_host.size >> 8);
        ci_host.small[1] = (uint8_t)ci_host.size;
        ci_host.command = 0;
        ci_host.wait = WAIT_NONE;
        reply(REPLY_NEGOTIATED, ci_host.small, 2);
      }
      return;
    default: /* CMD_WRITE_DATA: the module answered */
      keep_answer();
      finish(REPLY_ANSWER_KEPT);
      return;
  }
}

/* The wait of the command in progress ran out. */
static void give_up(void) {
  switch (ci_host.command) {
    case CMD_WRITE_DATA:
      finish(REPLY_NO_ANSWER);
      return;
    case CMD_NEGOTIATE:
      reg_write(CI_REG_COMMAND, 0);
      finish(REPLY_FAILED);
      return;
    case CMD_WRITE_COR:
      ci_host.flags &= (uint8_t)~STATE_BASE_CONFIGURED;
      finish(REPLY_FAILED);
      return;
    default:
      finish(REPLY_FAILED);
      return;
  }
}

void ci_host_poll(void) {
  uint8_t met;
  uint16_t elapsed;
  if (!present()) {
    /* Registers of an empty slot read 0xFF, which would look like DA and FR. */
    if (ci_host.command != 0) finish(REPLY_NO_MODULE);
    return;
  }
  if (ci_host.command == 0) return;
  /* Read once: a tick between two readings would end a timed wait without its step. */
  elapsed = hal_ms() - ci_host.since;
  switch (ci_host.wait) {
    case WAIT_READY:
      met = hal_card_ready();
      break;
    case WAIT_FREE:
      met = (reg_read(CI_REG_COMMAND) & CI_FR) != 0;
      break;
    case WAIT_TIME:
      met = elapsed >= ci_host.span;
      break;
    default:
      met = (reg_read(CI_REG_COMMAND) & CI_DA) != 0;
      break;
  }
  if (met)
    proceed();
  else if (elapsed >= ci_host.span)
    give_up();
}
