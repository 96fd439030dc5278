// s51 (Debian's sdcc-ucsim), the classic 8051's simulator, as the reference the FX2's 8051
// core is compared with: programs go to it as Intel HEX, commands as a script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace test::s51 {

// Writes `image` (code from address 0) as Intel HEX.
void WriteIntelHex(const std::string& path, const std::vector<std::uint8_t>& image);

// Runs s51 as an 8052 on the command script, handing each line of its output to `line`;
// false if it could not be started or did not end well within `timeoutSeconds`.
bool Run(const std::string& executable, const std::string& script, int timeoutSeconds,
         const std::function<void(const std::string&)>& line);

}  // namespace test::s51
