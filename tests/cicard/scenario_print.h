// Parameterised scenarios print as their names in the test framework's messages. A test file
// brings PrintTo into the namespace of its scenario types (`using cicard_test::PrintTo;`), where
// the framework looks for it.
#pragma once

#include <ostream>

namespace cicard_test {

template <typename Scenario>
requires requires(const Scenario& s) {
  s.name;
}
void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

}  // namespace cicard_test
