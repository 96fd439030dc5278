// One fault at one exchange point of a whole update, on one transport, run through loader-cli's
// run function on virtual time, and the check of how the run ended.
//
// Exchange points are numbered as the module counts messages: preparation 1 to 130 (step k
// sends 2k-1 and 2k), chunks 131 to 1531 (1531 in integrity mode), programming 1532.
#pragma once

#include <string>

namespace sweep {

inline constexpr int kExchangePoints = 1532;

enum class Transport { kPorts, kDriver, kUsb };

enum class Fault {
  kNoAnswer,       // the module stays silent
  kWrongAnswer,    // the module answers "2101029000B3"
  kModuleRemoved,  // the module leaves its slot on receiving the message
  kAdapterGone,    // USB: the adapter leaves the bus during the exchange
  kShortReply,     // USB: the adapter's reply arrives cut to two bytes
  kGarbledReply,   // USB: every byte of the adapter's reply arrives changed
};

const char* TransportName(Transport transport);
const char* FaultName(Fault fault);
bool AppliesTo(Fault fault, Transport transport);

// Runs one update with `fault` at exchange `point` and returns what did not end as it should
// (empty when the run ended with the point's message, one ModuleClose, nothing sent after the
// fault, exit status 2, and on the driver transport a clean verifier).
std::string RunFaultCase(Transport transport, Fault fault, int point);

}  // namespace sweep
