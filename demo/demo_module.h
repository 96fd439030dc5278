// The demo's module: a simulated CI module that expects the update built into this program
// (Datas), as a module fresh from the factory, not yet holding it.
#pragma once

#include <memory>

#include "ci_module.h"
#include "clock.h"

// A real module's pace: 2 ms for a preparation message, 1 ms for a chunk, 0.4 s for the
// integrity test and 1.5 s for programming itself.
inline constexpr sim::ModuleTiming kDemoModulePace{2'000, 1'000, 400'000, 1'500'000};

// The module on `clock`, answering at `pace` (a test's stand-in may want it at once: {}).
std::unique_ptr<sim::CiModule> MakeDemoModule(platform::Clock& clock,
                                              const sim::ModuleTiming& pace = kDemoModulePace);
