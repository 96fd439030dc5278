// A card in a slot, as whatever holds the slot sees it: whether it is there, and its four
// registers (0 data, 1 command/status, 2 size low, 3 size high). The simulated CI module is such
// a card; the adapter program's host layer and the kernel stand-in's register windows reach a
// card through this interface, without knowing the model behind it.
#pragma once

#include <cstdint>

class BusCard {
 public:
  // Virtual: a card model may be owned and deleted as what it is or as a card.
  virtual ~BusCard() = default;
  virtual bool Present() const = 0;
  virtual std::uint8_t ReadRegister(int offset) = 0;
  virtual void WriteRegister(int offset, std::uint8_t value) = 0;
};
