// The hardware layer of the command handling for the host: the hal_* functions the core calls,
// routed to the CommandCore whose call is in progress.
#include "command_core.h"

#include <mutex>

#include "ci_hal.h"

namespace firmware {

// Puts one CommandCore's state in place for the length of a call into the core.
struct CoreBinding {
  explicit CoreBinding(CommandCore& core) : lock(Mutex()), previous(current) {
    ci_host = core.state_;
    current = &core;
  }
  ~CoreBinding() {
    current->state_ = ci_host;
    current = previous;
  }
  CoreBinding(const CoreBinding&) = delete;
  CoreBinding& operator=(const CoreBinding&) = delete;

  static std::recursive_mutex& Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
  }

  static platform::Clock& Clock() { return current->clock_; }
  static CiSlot& Slot() { return current->slot_; }
  static void Reply(std::vector<std::uint8_t> frame) {
    if (current->replies_) current->replies_(std::move(frame));
  }

  static CommandCore* current;
  std::lock_guard<std::recursive_mutex> lock;
  CommandCore* previous;
};

CommandCore* CoreBinding::current = nullptr;

CommandCore::CommandCore(platform::Clock& clock, CiSlot& slot, ReplySink replies)
    : clock_(clock), slot_(slot), replies_(std::move(replies)) {}

void CommandCore::Start() {
  CoreBinding binding(*this);
  ci_host_init();
}

void CommandCore::Command(const std::vector<std::uint8_t>& frame) {
  CoreBinding binding(*this);
  ci_host_command(frame.data(), static_cast<std::uint16_t>(frame.size()));
}

void CommandCore::Poll() {
  CoreBinding binding(*this);
  ci_host_poll();
}

bool CommandCore::Busy() {
  CoreBinding binding(*this);
  return ci_host_busy() != 0;
}

}  // namespace firmware

using firmware::CoreBinding;

extern "C" {

uint16_t hal_ms(void) {
  return static_cast<uint16_t>(CoreBinding::Clock().TickCount());
}

uint8_t hal_card_present(void) {
  return CoreBinding::Slot().CardPresent() ? 1 : 0;
}

uint16_t hal_card_reset_begin(void) {
  CoreBinding::Slot().ResetCard();
  return 0;  // the host slot has no power switch to wait for
}

void hal_card_reset_end(void) {}

uint8_t hal_card_ready(void) {
  return CoreBinding::Slot().CardReady() ? 1 : 0;
}

uint8_t hal_attr_read(uint16_t address) {
  return CoreBinding::Slot().ReadAttribute(address);
}

void hal_attr_write(uint16_t address, uint8_t value) {
  CoreBinding::Slot().WriteAttribute(address, value);
}

uint8_t hal_io_read(uint16_t address) {
  return CoreBinding::Slot().ReadIo(address);
}

void hal_io_write(uint16_t address, uint8_t value) {
  CoreBinding::Slot().WriteIo(address, value);
}

void hal_reply(uint8_t state, uint8_t code, const uint8_t* payload, uint8_t length) {
  std::vector<std::uint8_t> frame{0x00, state, code, length};
  frame.insert(frame.end(), payload, payload + length);
  CoreBinding::Reply(std::move(frame));
}

}  // extern "C"
