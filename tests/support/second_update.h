// Two updates in a row in one program run, as a service technician does them: the same card
// again, a card swapped in between, a first run that broke off. Each transport's test runs
// these scenarios over its own rig; the module restarts at the reset of every ModuleOpen.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Update.h"
#include "ci_module.h"

namespace test {

struct SecondUpdate {
  const char* name;
  std::function<void(sim::CiModule&)> beforeFirst;  // may be empty
  std::function<void(sim::CiModule&)> between;      // may be empty
  UpdateOutcome first;
  UpdateOutcome second;
  const char* message;  // the second run's dialog text, or nullptr for none
  const char* title;
  friend void PrintTo(const SecondUpdate& s, std::ostream* out) { *out << s.name; }
};

inline std::vector<SecondUpdate> SecondUpdates() {
  return {
      {"SameImageAgain",
       {},
       {},
       UpdateOutcome::kReady,
       UpdateOutcome::kAlreadyCurrent,
       "Die Software im Modul war identisch !",
       "Information"},
      {"CardSwapped",
       {},
       [](sim::CiModule& m) {
         m.Remove();
         m.Insert();
       },
       UpdateOutcome::kReady,
       UpdateOutcome::kReady,
       nullptr,
       nullptr},
      // Silent at chunk 700: the first run fails mid-transfer, the second starts afresh.
      {"FirstRunBrokenOff",
       [](sim::CiModule& m) { m.SilenceAt(130 + 700); },
       {},
       UpdateOutcome::kFailed,
       UpdateOutcome::kReady,
       nullptr,
       nullptr},
  };
}

inline std::string SecondUpdateName(const ::testing::TestParamInfo<SecondUpdate>& info) {
  return info.param.name;
}

// Runs `scenario` over `rig`: anything with a `module`, a recording `view` and `RunUpdate()`.
template <typename Rig>
void RunTwice(Rig& rig, const SecondUpdate& scenario) {
  if (scenario.beforeFirst) scenario.beforeFirst(*rig.module);
  ASSERT_EQ(rig.RunUpdate(), scenario.first);
  if (scenario.between) scenario.between(*rig.module);
  const auto messagesBefore = rig.view.messages.size();
  const auto statusBefore = rig.view.statusLines.size();

  EXPECT_EQ(rig.RunUpdate(), scenario.second);
  const bool ready = scenario.second == UpdateOutcome::kReady;
  EXPECT_EQ(std::vector<std::string>(rig.view.statusLines.begin() + statusBefore,
                                     rig.view.statusLines.end()),
            (std::vector<std::string>{"Suche CI Modul...", "Vorbereitung...", "Integritätstest...",
                                      "Modul wird programmiert...", ready ? "Ready" : ""}));
  ASSERT_EQ(rig.view.messages.size(), messagesBefore + (scenario.message ? 1 : 0));
  if (scenario.message) {
    EXPECT_EQ(rig.view.messages.back().text, scenario.message);
    EXPECT_EQ(rig.view.messages.back().title, scenario.title);
  }
  EXPECT_EQ(rig.view.lastGauge, ready ? 100 : 0);
  EXPECT_TRUE(rig.view.buttonsEnabled);
  // The module took the whole image again, and wrote it only when it did not hold it.
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_EQ(rig.module->Programmed(), ready);
  EXPECT_TRUE(rig.module->HoldsImage());
}

}  // namespace test
