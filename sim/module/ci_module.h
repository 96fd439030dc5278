// A simulated Morvane CI module: the EN 50221 command interface as four byte-wide registers
// and the module's side of the update dialogue. It compares everything it receives with the
// image it was given, so a test can prove that no byte was lost, reordered or changed.
//
// Like a real module it lives on after an update: a reset of the command interface (RS)
// restarts it with the software it holds, and its update dialogue begins afresh. It keeps the
// image it was last programmed with, so an update with that same image ends in "OK   " (the
// software was identical) and any other in "Ready". Taking the card out and putting one in
// models a new card, holding the software set for new cards (none unless set).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bus_card.h"
#include "clock.h"

namespace sim {

// What the module expects to receive during an update.
struct ModuleImage {
  std::vector<std::uint8_t> initBlock;       // the preparation block it accepts, in order
  std::vector<std::uint8_t> transferStream;  // every chunk byte as sent, a multiple of 128

  // The image as the updater sends it: block 0 of the preparation area (`initSize` bytes) and
  // `mainSize` bytes of the main area in 128-byte chunks, positions past the area's end as 0.
  static ModuleImage FromUpdate(const std::uint8_t* initData, std::size_t initDataLength,
                                std::int32_t initSize, const std::uint8_t* mainData,
                                std::size_t mainDataLength, std::int32_t mainSize);

  friend bool operator==(const ModuleImage&, const ModuleImage&) = default;
};

// How long the module takes to answer each kind of message.
struct ModuleTiming {
  std::uint32_t preparationUs = 0;
  std::uint32_t chunkUs = 0;
  std::uint32_t integrityUs = 0;
  std::uint32_t programmingUs = 0;
};

class CiModule : public BusCard {
 public:
  static constexpr std::uint8_t kHostControl = 0x01;    // HC
  static constexpr std::uint8_t kSizeWrite = 0x02;      // SW
  static constexpr std::uint8_t kSizeRead = 0x04;       // SR
  static constexpr std::uint8_t kReset = 0x08;          // RS
  static constexpr std::uint8_t kDataAvailable = 0x80;  // DA
  static constexpr std::uint8_t kFree = 0x40;           // FR

  CiModule(platform::Clock& clock, ModuleImage image);

  // The four registers: 0 data, 1 command/status, 2 size low, 3 size high.
  std::uint8_t ReadRegister(int offset) override;
  void WriteRegister(int offset, std::uint8_t value) override;

  // --- Fault knobs. Messages are counted from 1 over the whole life of the module. ---
  void SetBufferSize(std::uint16_t size);
  void SilenceAt(int message);
  void AnswerAt(int message, std::vector<std::uint8_t> answer);
  void AnswerAt(int message, const std::string& hexAnswer);
  void DelayAt(int message, std::uint32_t microseconds);
  void RemoveAt(int message);
  void FailIntegrity() { failIntegrity_ = true; }
  // Forces the five characters of the final answer; unset, the module answers "OK   " when it
  // already holds the image it received and "Ready" (programming it) otherwise.
  void SetFinalText(const std::string& text);
  void SetTiming(const ModuleTiming& timing) { timing_ = timing; }
  // The software that this card holds, and that every card inserted later holds.
  void SetCardSoftware(const ModuleImage& software);
  // Times answers in microseconds of `nowUs` instead of the clock's milliseconds, so that in
  // real time a 1 ms answer takes 1 ms and not anything up to the next tick.
  void UsePreciseTime(std::function<std::uint64_t()> nowUs) { preciseNowUs_ = std::move(nowUs); }
  void Remove();
  // After a removal: a new card, holding the software set for new cards, its dialogue fresh.
  void Insert();

  // --- What happened. ---
  bool Present() const override;
  int MessageCount() const;
  // The messages since the last reset of the command interface (one update's).
  std::vector<std::vector<std::uint8_t>> Messages() const;
  std::uint16_t NegotiatedSize() const;
  int ResetCount() const;
  // Every preparation and transfer byte arrived in order and unchanged, and nothing else did.
  bool ReceivedImageIntact() const;
  std::size_t PreparationBytesConfirmed() const;
  std::size_t TransferBytesConfirmed() const;
  // The last final exchange programmed the module (its answer was "Ready").
  bool Programmed() const;
  // The card holds the image it was given, by programming or from the start.
  bool HoldsImage() const;
  const ModuleImage& Image() const { return image_; }
  // The module's own working time: the sum of the answer delays of every message so far.
  std::uint64_t WorkedUs() const;

  // Answers of the dialogue, as byte strings.
  static std::vector<std::uint8_t> TextAnswer(const std::string& fiveCharacters);
  static std::vector<std::uint8_t> Bytes(const std::string& hex);

 private:
  enum class Phase { kPreparation, kTransfer, kProgramming, kDone };

  void EndHostWrite(bool sizeWrite);
  void HandleMessage(const std::vector<std::uint8_t>& message);
  std::vector<std::uint8_t> Preparation(const std::vector<std::uint8_t>& message,
                                        std::uint32_t& delayUs);
  std::vector<std::uint8_t> Transfer(const std::vector<std::uint8_t>& message,
                                     std::uint32_t& delayUs);
  std::vector<std::uint8_t> Programming(const std::vector<std::uint8_t>& message,
                                        std::uint32_t& delayUs);
  bool AnswerReady() const;
  void RestartDialogue();
  // Makes the answer in answer_ pending, ready `delayUs` from now.
  void Answer(std::uint32_t delayUs);

  platform::Clock& clock_;
  ModuleImage image_;
  mutable std::mutex mutex_;

  bool present_ = true;
  std::uint16_t bufferSize_ = 128;
  std::uint8_t command_ = 0;
  std::vector<std::uint8_t> incoming_;
  std::vector<std::uint8_t> answer_;
  std::size_t answerRead_ = 0;
  bool answerPending_ = false;
  std::uint32_t answerReadyAtMs_ = 0;
  std::uint64_t answerReadyAtUs_ = 0;
  std::function<std::uint64_t()> preciseNowUs_;
  std::uint64_t workedUs_ = 0;
  std::uint16_t negotiatedSize_ = 0;
  int resets_ = 0;

  Phase phase_ = Phase::kPreparation;
  int expectedSequence_ = 0;
  std::size_t chunk_ = 0;
  std::size_t preparationConfirmed_ = 0;
  std::size_t transferConfirmed_ = 0;
  bool corrupted_ = false;
  bool integrityPassed_ = false;
  bool programmed_ = false;
  bool failIntegrity_ = false;
  std::optional<std::string> finalText_;
  std::optional<ModuleImage> software_;         // what the card holds
  std::optional<ModuleImage> newCardSoftware_;  // what a newly inserted card holds
  ModuleTiming timing_;

  int messageCount_ = 0;
  std::vector<std::vector<std::uint8_t>> messages_;
  std::set<int> silentAt_;
  std::map<int, std::vector<std::uint8_t>> answerAt_;
  std::map<int, std::uint32_t> delayAt_;
  std::optional<int> removeAt_;
};

}  // namespace sim
