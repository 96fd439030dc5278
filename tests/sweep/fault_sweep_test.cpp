// Faults at the exchange points of a whole update, on every transport, through loader-cli's run
// function. The suite runs a sample of points (MORVANE_SWEEP=short, as in the sanitizer build,
// a smaller one); with MORVANE_SWEEP=full (target sweep_full) every one of the 1532 points is
// swept and the counts are printed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sweep_rig.h"

namespace {

using sweep::Fault;
using sweep::Transport;

struct Combination {
  Transport transport;
  Fault fault;
};

std::vector<Combination> Combinations() {
  std::vector<Combination> all;
  for (auto transport : {Transport::kPorts, Transport::kDriver, Transport::kUsb})
    for (auto fault : {Fault::kNoAnswer, Fault::kWrongAnswer, Fault::kModuleRemoved,
                       Fault::kAdapterGone, Fault::kShortReply, Fault::kGarbledReply})
      if (sweep::AppliesTo(fault, transport)) all.push_back({transport, fault});
  return all;
}

bool FullSweep() {
  const char* mode = std::getenv("MORVANE_SWEEP");
  return mode != nullptr && std::string(mode) == "full";
}

// Every kind of point: the first messages of the first steps, a later step, the verdict of the
// preparation, the first chunks, one inside the transfer, the last ordinary chunk, the
// integrity chunk and the programming exchange.
std::vector<int> Points() {
  const char* mode = std::getenv("MORVANE_SWEEP");
  // The sanitizer build's run (each point is a whole update up to it, several times slower
  // there): without the three long runs before the last (inside the transfer, the last
  // ordinary chunk, the integrity chunk).
  if (mode != nullptr && std::string(mode) == "short")
    return {1, 2, 3, 4, 57, 129, 130, 131, 132, 1532};
  if (!FullSweep()) return {1, 2, 3, 4, 57, 129, 130, 131, 132, 777, 1530, 1531, 1532};
  std::vector<int> all;
  for (int point = 1; point <= sweep::kExchangePoints; ++point) all.push_back(point);
  return all;
}

int g_runs = 0;
int g_good = 0;

class FaultSweep : public ::testing::TestWithParam<Combination> {};

TEST_P(FaultSweep, EveryPointEndsWithItsMessageAndOneClose) {
  const auto [transport, fault] = GetParam();
  int good = 0;
  int reported = 0;
  const auto points = Points();
  for (int point : points) {
    const std::string problem = sweep::RunFaultCase(transport, fault, point);
    if (problem.empty()) {
      ++good;
    } else if (++reported <= 5) {
      ADD_FAILURE() << problem;
    }
  }
  g_runs += static_cast<int>(points.size());
  g_good += good;
  std::printf("sweep: %s, %s: %zu points, %d ended as they should\n",
              sweep::TransportName(transport), sweep::FaultName(fault), points.size(), good);
  EXPECT_EQ(good, static_cast<int>(points.size()));
}

INSTANTIATE_TEST_SUITE_P(Sweep, FaultSweep, ::testing::ValuesIn(Combinations()),
                         [](const auto& info) {
                           std::string name =
                               std::string(sweep::TransportName(info.param.transport)) + "_" +
                               sweep::FaultName(info.param.fault);
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

class SweepCounts : public ::testing::Environment {
 public:
  void TearDown() override {
    if (g_runs > 0) std::printf("sweep: %d runs in all, %d ended as they should\n", g_runs, g_good);
  }
};
const auto* const kCounts = ::testing::AddGlobalTestEnvironment(new SweepCounts);

}  // namespace
