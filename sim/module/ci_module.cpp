#include "ci_module.h"

#include <algorithm>

#include "hex.h"

namespace sim {
namespace {

constexpr std::uint8_t kPreparationPrefix[] = {0x13, 0x01, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x86};
constexpr std::size_t kPreparationSlice = 64;
constexpr std::size_t kPreparationMessage = sizeof(kPreparationPrefix) + 1 + kPreparationSlice;
constexpr std::size_t kChunk = 128;
constexpr std::size_t kMainCapacity = 179328;

const std::vector<std::uint8_t> kPreparationAccepted = CiModule::Bytes("2101029000B2");
const std::vector<std::uint8_t> kChunkAccepted = CiModule::Bytes("2201029000B1");
const std::vector<std::uint8_t> kIntegrityPassed = CiModule::Bytes("2201029001B0");
const std::vector<std::uint8_t> kIntegrityFailed = CiModule::Bytes("2201029002B3");
const std::vector<std::uint8_t> kReadError = CiModule::Bytes("22010290FE4C");

std::uint32_t Milliseconds(std::uint32_t microseconds) {
  return (microseconds + 999) / 1000;
}

}  // namespace

ModuleImage ModuleImage::FromUpdate(const std::uint8_t* initData, std::size_t initDataLength,
                                    std::int32_t initSize, const std::uint8_t* mainData,
                                    std::size_t mainDataLength, std::int32_t mainSize) {
  ModuleImage image;
  const auto blockLength = std::min<std::size_t>(initDataLength, initSize > 0 ? initSize : 0);
  image.initBlock.assign(initData, initData + blockLength);
  const std::size_t chunks =
      mainSize > 0 ? (static_cast<std::size_t>(mainSize) + kChunk - 1) / kChunk : 0;
  image.transferStream.resize(chunks * kChunk, 0);
  const std::size_t stored = std::min(mainDataLength, kMainCapacity);
  for (std::size_t i = 0; i < image.transferStream.size() && i < stored; ++i)
    image.transferStream[i] = mainData[i];
  return image;
}

CiModule::CiModule(platform::Clock& clock, ModuleImage image)
    : clock_(clock), image_(std::move(image)) {}

std::vector<std::uint8_t> CiModule::Bytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(HexValue(hex.substr(i, 2))));
  return bytes;
}

std::vector<std::uint8_t> CiModule::TextAnswer(const std::string& fiveCharacters) {
  std::vector<std::uint8_t> answer{0x22, 0x01, 0x02};
  for (std::size_t i = 0; i < 5; ++i)
    answer.push_back(i < fiveCharacters.size() ? static_cast<std::uint8_t>(fiveCharacters[i])
                                               : ' ');
  std::uint8_t check = 0;
  for (auto byte : answer) check ^= byte;
  answer.push_back(check);
  return answer;
}

bool CiModule::AnswerReady() const {
  if (preciseNowUs_) return answerPending_ && preciseNowUs_() >= answerReadyAtUs_;
  const auto now = clock_.TickCount();
  return answerPending_ && static_cast<std::int32_t>(now - answerReadyAtMs_) >= 0;
}

void CiModule::Answer(std::uint32_t delayUs) {
  answerRead_ = 0;
  answerPending_ = true;
  answerReadyAtMs_ = clock_.TickCount() + Milliseconds(delayUs);
  if (preciseNowUs_) answerReadyAtUs_ = preciseNowUs_() + delayUs;
  workedUs_ += delayUs;
}

std::uint64_t CiModule::WorkedUs() const {
  std::lock_guard lock(mutex_);
  return workedUs_;
}

std::uint8_t CiModule::ReadRegister(int offset) {
  std::lock_guard lock(mutex_);
  if (!present_) return 0xFF;
  const bool ready = AnswerReady();
  switch (offset & 3) {
    case 0: {
      if (!ready || answerRead_ >= answer_.size()) return 0;
      const std::uint8_t byte = answer_[answerRead_++];
      if (answerRead_ >= answer_.size()) answerPending_ = false;
      return byte;
    }
    case 1: {
      // FR: free to take a message, that is not still working on the last one. It stays set
      // while the host holds HC, so a host may set HC and then test FR before writing.
      const bool working = answerPending_ && !ready;
      return static_cast<std::uint8_t>((ready ? kDataAvailable : 0) | (working ? 0 : kFree));
    }
    case 2:
      return ready ? static_cast<std::uint8_t>(answer_.size() & 0xFF) : 0;
    default:
      return ready ? static_cast<std::uint8_t>(answer_.size() >> 8) : 0;
  }
}

void CiModule::WriteRegister(int offset, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  if (!present_) return;
  switch (offset & 3) {
    case 0:
      if (command_ & kHostControl) incoming_.push_back(value);
      return;
    case 1: {
      const std::uint8_t previous = command_;
      command_ = value;
      if (value & kReset) {
        // The module restarts with the software it holds; its update dialogue begins afresh.
        ++resets_;
        incoming_.clear();
        answer_.clear();
        answerPending_ = false;
        RestartDialogue();
      }
      if (value & kSizeRead) {
        answer_ = {static_cast<std::uint8_t>(bufferSize_ >> 8),
                   static_cast<std::uint8_t>(bufferSize_ & 0xFF)};
        Answer(0);
      }
      if (!(previous & kHostControl) && (value & kHostControl)) {
        incoming_.clear();
        answerPending_ = false;  // a new message replaces an answer that nobody collected
      }
      // Clearing HC ends the host's write; with SW set it carried the buffer size.
      if ((previous & kHostControl) && !(value & kHostControl))
        EndHostWrite((previous & kSizeWrite) != 0);
      return;
    }
    default:
      return;  // the size registers announce the length; the module counts the bytes itself
  }
}

void CiModule::RestartDialogue() {
  // The messages of the dialogue before: a module that stays in its slot for many updates
  // keeps only the last one's.
  messages_ = {};
  phase_ = Phase::kPreparation;
  expectedSequence_ = 0;
  chunk_ = 0;
  preparationConfirmed_ = 0;
  transferConfirmed_ = 0;
  corrupted_ = false;
  integrityPassed_ = false;
}

void CiModule::EndHostWrite(bool sizeWrite) {
  if (sizeWrite) {
    negotiatedSize_ =
        incoming_.size() >= 2 ? static_cast<std::uint16_t>((incoming_[0] << 8) | incoming_[1]) : 0;
    incoming_.clear();
    return;
  }
  HandleMessage(incoming_);
  incoming_.clear();
}

void CiModule::HandleMessage(const std::vector<std::uint8_t>& message) {
  const int number = ++messageCount_;
  messages_.push_back(message);
  if (removeAt_ && *removeAt_ == number) {
    present_ = false;
    return;
  }
  std::uint32_t delayUs = 0;
  std::vector<std::uint8_t> answer;
  switch (phase_) {
    case Phase::kPreparation:
      answer = Preparation(message, delayUs);
      break;
    case Phase::kTransfer:
      answer = Transfer(message, delayUs);
      break;
    case Phase::kProgramming:
      answer = Programming(message, delayUs);
      break;
    case Phase::kDone:
      corrupted_ = true;
      answer = kReadError;
      break;
  }
  if (silentAt_.count(number)) return;
  if (auto it = answerAt_.find(number); it != answerAt_.end()) answer = it->second;
  if (auto it = delayAt_.find(number); it != delayAt_.end()) delayUs = it->second;
  answer_ = std::move(answer);
  Answer(delayUs);
}

std::vector<std::uint8_t> CiModule::Preparation(const std::vector<std::uint8_t>& message,
                                                std::uint32_t& delayUs) {
  delayUs = timing_.preparationUs;
  if (message.size() != kPreparationMessage ||
      !std::equal(std::begin(kPreparationPrefix), std::end(kPreparationPrefix), message.begin())) {
    corrupted_ = true;
    return kReadError;
  }
  const int sequence = message[sizeof(kPreparationPrefix)];
  if (sequence == 0) {  // a block starts (again)
    expectedSequence_ = 0;
    preparationConfirmed_ = 0;
  }
  const std::size_t offset = static_cast<std::size_t>(sequence) * kPreparationSlice;
  const auto* slice = message.data() + sizeof(kPreparationPrefix) + 1;
  if (sequence != expectedSequence_ || offset + kPreparationSlice > image_.initBlock.size() ||
      !std::equal(slice, slice + kPreparationSlice,
                  image_.initBlock.begin() + static_cast<std::ptrdiff_t>(offset))) {
    corrupted_ = true;
    return kReadError;
  }
  ++expectedSequence_;
  preparationConfirmed_ += kPreparationSlice;
  if (preparationConfirmed_ == image_.initBlock.size()) {
    phase_ = Phase::kTransfer;
    return TextAnswer("Ready");
  }
  return kPreparationAccepted;
}

std::vector<std::uint8_t> CiModule::Transfer(const std::vector<std::uint8_t>& message,
                                             std::uint32_t& delayUs) {
  const std::size_t chunks = image_.transferStream.size() / kChunk;
  const std::size_t offset = chunk_ * kChunk;
  const bool last = chunk_ + 1 >= chunks;
  delayUs = last ? timing_.integrityUs : timing_.chunkUs;
  if (message.size() != kChunk || offset + kChunk > image_.transferStream.size() ||
      !std::equal(message.begin(), message.end(),
                  image_.transferStream.begin() + static_cast<std::ptrdiff_t>(offset))) {
    corrupted_ = true;
  } else {
    transferConfirmed_ += kChunk;
  }
  ++chunk_;
  if (!last) return kChunkAccepted;
  phase_ = Phase::kProgramming;
  const bool intact = !corrupted_ && transferConfirmed_ == image_.transferStream.size();
  integrityPassed_ = intact && !failIntegrity_;
  return integrityPassed_ ? kIntegrityPassed : kIntegrityFailed;
}

std::vector<std::uint8_t> CiModule::Programming(const std::vector<std::uint8_t>& message,
                                                std::uint32_t& delayUs) {
  delayUs = timing_.programmingUs;
  phase_ = Phase::kDone;
  if (message.size() != 1 || message[0] != 0x00) {
    corrupted_ = true;
    return kReadError;
  }
  std::string verdict;
  if (finalText_) {
    verdict = *finalText_;
  } else if (!integrityPassed_) {
    // An image that failed its integrity test is never programmed.
    programmed_ = false;
    return kReadError;
  } else {
    verdict = software_ == image_ ? "OK   " : "Ready";
  }
  programmed_ = verdict == "Ready";
  if (programmed_) software_ = image_;
  return TextAnswer(verdict);
}

void CiModule::SetBufferSize(std::uint16_t size) {
  std::lock_guard lock(mutex_);
  bufferSize_ = size;
}
void CiModule::SilenceAt(int message) {
  std::lock_guard lock(mutex_);
  silentAt_.insert(message);
}
void CiModule::AnswerAt(int message, std::vector<std::uint8_t> answer) {
  std::lock_guard lock(mutex_);
  answerAt_[message] = std::move(answer);
}
void CiModule::AnswerAt(int message, const std::string& hexAnswer) {
  AnswerAt(message, Bytes(hexAnswer));
}
void CiModule::DelayAt(int message, std::uint32_t microseconds) {
  std::lock_guard lock(mutex_);
  delayAt_[message] = microseconds;
}
void CiModule::RemoveAt(int message) {
  std::lock_guard lock(mutex_);
  removeAt_ = message;
}
void CiModule::Remove() {
  std::lock_guard lock(mutex_);
  present_ = false;
}
void CiModule::SetFinalText(const std::string& text) {
  std::lock_guard lock(mutex_);
  finalText_ = text;
}
void CiModule::SetCardSoftware(const ModuleImage& software) {
  std::lock_guard lock(mutex_);
  software_ = software;
  newCardSoftware_ = software;
}
void CiModule::Insert() {
  std::lock_guard lock(mutex_);
  if (present_) return;
  present_ = true;
  software_ = newCardSoftware_;
  command_ = 0;
  incoming_.clear();
  answer_.clear();
  answerPending_ = false;
  negotiatedSize_ = 0;
  programmed_ = false;
  RestartDialogue();
}
bool CiModule::Present() const {
  std::lock_guard lock(mutex_);
  return present_;
}
int CiModule::MessageCount() const {
  std::lock_guard lock(mutex_);
  return messageCount_;
}
std::vector<std::vector<std::uint8_t>> CiModule::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}
std::uint16_t CiModule::NegotiatedSize() const {
  std::lock_guard lock(mutex_);
  return negotiatedSize_;
}
int CiModule::ResetCount() const {
  std::lock_guard lock(mutex_);
  return resets_;
}
bool CiModule::ReceivedImageIntact() const {
  std::lock_guard lock(mutex_);
  return !corrupted_ && preparationConfirmed_ == image_.initBlock.size() &&
         transferConfirmed_ == image_.transferStream.size();
}
std::size_t CiModule::PreparationBytesConfirmed() const {
  std::lock_guard lock(mutex_);
  return preparationConfirmed_;
}
std::size_t CiModule::TransferBytesConfirmed() const {
  std::lock_guard lock(mutex_);
  return transferConfirmed_;
}
bool CiModule::Programmed() const {
  std::lock_guard lock(mutex_);
  return programmed_;
}
bool CiModule::HoldsImage() const {
  std::lock_guard lock(mutex_);
  return software_ == image_;
}

}  // namespace sim
