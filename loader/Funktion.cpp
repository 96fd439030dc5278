// The module's command interface: link initialisation, the message exchange, and the two
// register back-ends (direct ports and one driver request per access).
#include <algorithm>

#include "hex.h"
#include "pcmcia.h"
#include "platform_names.h"

namespace {
// Registers of the command interface, as offsets from IOBase.
constexpr std::uint16_t kData = 0;
constexpr std::uint16_t kCommandStatus = 1;
constexpr std::uint16_t kSizeLow = 2;
constexpr std::uint16_t kSizeHigh = 3;
// Command and status bits.
constexpr std::uint8_t kHostControl = 0x01;
constexpr std::uint8_t kSizeWrite = 0x02;
constexpr std::uint8_t kSizeRead = 0x04;
constexpr std::uint8_t kReset = 0x08;
constexpr std::uint8_t kDataAvailable = 0x80;

constexpr std::int32_t kSizeReadTimeout = 1000;
constexpr std::int32_t kSilentTimeout = 1999;
constexpr const char* kTimeoutTitle = "Fehler";
constexpr const char* kTimeoutText = "Timeout, keine Antwort vom Modul";

// Driver control codes of the byte-wide register accesses.
constexpr std::uint32_t kIoctlReadUchar = 0x9C416400;
constexpr std::uint32_t kIoctlWriteUchar = 0x9C41A440;

// A wait first polls flat out, so that a quick answer costs nothing. After that it naps between
// polls, the longer the longer the module has been busy: a module that answers within a few
// milliseconds is noticed within a twentieth of one, while a long wait (the integrity test, the
// programming, a silent module) polls well under a thousand times a second and leaves the
// processor to others. Every nap stays at most about 1 % of the time already waited.
constexpr std::uint32_t kSpinPolls = 256;
struct NapStep {
  std::uint32_t fromMs;  // time waited so far
  std::uint32_t napUs;
};
constexpr NapStep kNapSteps[] = {{0, 20}, {20, 250}, {200, 2000}, {2000, 16000}};

constexpr std::size_t kLibraryAnswerCapacity = 256;

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t RegisterAt(std::uint16_t base, std::uint16_t offset) {
  return static_cast<std::uint16_t>(base + offset);
}
}  // namespace

void ModuleLink::PollPause(PollingWait& wait) {
  PumpMessages();
  if (++wait.polls <= kSpinPolls) return;
  const std::uint32_t waitedMs = services_.clock.TickCount() - wait.startMs;
  std::uint32_t napUs = kNapSteps[0].napUs;
  for (const NapStep& step : kNapSteps)
    if (waitedMs >= step.fromMs) napUs = step.napUs;
  services_.clock.Nap(napUs);
}

bool ModuleLink::WaitForDataAvailable(std::int32_t timeoutMs) {
  TimeoutCountdown = timeoutMs;
  PollingWait wait{services_.clock.TickCount()};
  std::uint8_t status = ReadCiRegister(RegisterAt(IOBase, kCommandStatus));
  while ((status & kDataAvailable) == 0 && TimeoutCountdown > 0) {
    PollPause(wait);
    status = ReadCiRegister(RegisterAt(IOBase, kCommandStatus));
  }
  return TimeoutCountdown != 0;
}

void ModuleLink::ReadAnswer() {
  // The size-low register is read first: the two reads are separate statements because the
  // operands of one expression may be evaluated in either order.
  const std::size_t low = ReadCiRegister(RegisterAt(IOBase, kSizeLow));
  const std::size_t high = ReadCiRegister(RegisterAt(IOBase, kSizeHigh));
  const std::size_t size = (low + 256u * high) & 0x1FF;
  AnswerText.clear();
  AnswerText.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    ExchangeBuffer[i] = ReadCiRegister(RegisterAt(IOBase, kData));
    AppendHexByte(AnswerText, ExchangeBuffer[i]);
  }
}

bool ModuleLink::CiLinkInit() {
  if (AdapterBound) return false;
  const auto command = RegisterAt(IOBase, kCommandStatus);
  if (!SwapboxMode) WriteCiRegister(command, kReset);
  WriteCiRegister(command, 0x00);
  WaitMs(5);
  WriteCiRegister(command, kSizeRead);
  if (!WaitForDataAvailable(kSizeReadTimeout)) return false;

  ReadAnswer();
  const std::size_t size = AnswerText.size() / 2;
  const bool offers128 = size == 2 && ExchangeBuffer[0] == 0x00 && ExchangeBuffer[1] == 0x80;

  WriteCiRegister(command, 0x00);
  WaitMs(2);
  WriteCiRegister(command, kSizeWrite);
  WaitMs(2);
  WriteCiRegister(command, kSizeWrite | kHostControl);
  WaitMs(2);
  WriteCiRegister(RegisterAt(IOBase, kSizeHigh), 0x00);
  WriteCiRegister(RegisterAt(IOBase, kSizeLow), 0x02);
  WriteCiRegister(RegisterAt(IOBase, kData), 0x00);
  WriteCiRegister(RegisterAt(IOBase, kData), 0x80);
  WriteCiRegister(command, kSizeWrite);
  WaitMs(2);
  WriteCiRegister(command, 0x00);
  WaitMs(2);
  return offers128;
}

void ModuleLink::ModuleExchange(std::string_view message, std::int32_t timeoutMs) {
  AnswerText.clear();
  std::size_t count = (message.size() / 2) & 0x1FF;
  if (count == 0) {
    message = "00";
    count = 1;
  }
  for (std::size_t i = 1; i <= count; ++i)
    ExchangeBuffer[i] = static_cast<std::uint8_t>(HexValue(message.substr(2 * i - 2, 2)) & 0xFF);

  if (AdapterBound) {
    try {
      if (Adapter.SetTimeout != nullptr && LibraryTimeout != timeoutMs) {
        CallAdapter(Adapter.SetTimeout, timeoutMs);
        LibraryTimeout = timeoutMs;
      }
      // The library writes the answer into a buffer whose end is fenced: an overrun faults
      // inside the call and counts as a failed exchange.
      std::array<std::uint8_t, kLibraryAnswerCapacity> unfenced{};
      std::uint8_t* const answer =
          answerBuffer_.data() != nullptr ? answerBuffer_.data() : unfenced.data();
      std::int32_t received = static_cast<std::int32_t>(kLibraryAnswerCapacity);
      const std::int32_t result =
          CallAdapter(Adapter.WriteExchange, static_cast<const std::uint8_t*>(&ExchangeBuffer[1]),
                      static_cast<std::int32_t>(count), answer, &received);
      if ((result & 0xFFFF) != 1) received = 0;
      // Whatever length the library reports, no more than the receive buffer holds is taken.
      const std::size_t length = std::min<std::size_t>(received & 0x1FF, kLibraryAnswerCapacity);
      for (std::size_t i = 0; i < length; ++i) {
        ExchangeBuffer[i] = answer[i];
        AppendHexByte(AnswerText, answer[i]);
      }
    } catch (...) {
      TimeoutCountdown = 0;
      AnswerText.clear();
    }
    return;
  }

  WriteCiRegister(RegisterAt(IOBase, kCommandStatus), kHostControl);
  WriteCiRegister(RegisterAt(IOBase, kSizeHigh), static_cast<std::uint8_t>(count >> 8));
  WriteCiRegister(RegisterAt(IOBase, kSizeLow), static_cast<std::uint8_t>(count & 0xFF));
  for (std::size_t i = 1; i <= count; ++i)
    WriteCiRegister(RegisterAt(IOBase, kData), ExchangeBuffer[i]);
  WriteCiRegister(RegisterAt(IOBase, kCommandStatus), 0x00);
  WriteCiRegister(RegisterAt(IOBase, kCommandStatus), 0x00);

  if (!WaitForDataAvailable(timeoutMs)) {
    if (timeoutMs != kSilentTimeout)
      services_.system.ShowSystemMessage(kTimeoutText, kTimeoutTitle, true);
    return;
  }
  ReadAnswer();
}

void ModuleLink::DriverWrite(std::uint16_t address, std::uint8_t value) {
  if (DriverHandle == platform::kInvalidDeviceHandle) return;
  std::uint8_t input[8] = {};
  PutLittleEndian32(input, address);
  input[4] = value;
  std::uint32_t returned = 0;
  services_.devices.Control(DriverHandle, kIoctlWriteUchar, input, sizeof input, nullptr, 0,
                            &returned);
}

void ModuleLink::PortOrDriverWrite(std::uint16_t address, std::uint8_t value) {
  if (UseDriver)
    DriverWrite(address, value);
  else
    services_.ports.Out(address, value);
}

void ModuleLink::WriteCiRegister(std::uint16_t address, std::uint8_t value) {
  if (AdapterBound) return;
  if (SwapboxMode && (address & 0x3) == 0) {
    // The SCM swapbox takes the data byte in two halves: the low nibble through the size-high
    // register of the same base, then the high nibble through the data register.
    PortOrDriverWrite(static_cast<std::uint16_t>((address & 0xFFF8) + 3), value & 0x0F);
    PortOrDriverWrite(address, value & 0xF0);
    return;
  }
  PortOrDriverWrite(address, value);
}

std::uint8_t ModuleLink::ReadCiRegister(std::uint16_t address) {
  if (AdapterBound) return 0xFF;
  if (!UseDriver) return services_.ports.In(address);
  std::uint8_t value = 0xFF;
  if (DriverHandle == platform::kInvalidDeviceHandle) return value;
  std::uint8_t input[4] = {};
  PutLittleEndian32(input, address);
  std::uint8_t output[4] = {};
  std::uint32_t returned = 0;
  if (services_.devices.Control(DriverHandle, kIoctlReadUchar, input, sizeof input, output,
                                sizeof output, &returned))
    value = output[0];
  return value;
}

bool ModuleLink::OpenDriverDevice() {
  if (AdapterBound) return true;
  DriverHandle = platform::kInvalidDeviceHandle;
  if (!UseDriver) return false;
  DriverHandle = services_.devices.Open(platform::kDriverDevicePath);
  return DriverHandle != platform::kInvalidDeviceHandle;
}

void ModuleLink::WaitMs(std::int32_t milliseconds) {
  const std::uint32_t start = services_.clock.TickCount();
  const std::uint32_t end = start + static_cast<std::uint32_t>(milliseconds);
  PollingWait wait{start};
  do {
    PollPause(wait);
  } while (static_cast<std::int32_t>(services_.clock.TickCount() - end) < 0);
}
