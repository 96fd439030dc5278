// What the kernel stand-in's managers share inside: the calling thread's IRQL, the patience of
// its waits, and the text helpers of its reports.
#pragma once

#include <chrono>
#include <cstdint>
#include <cwctype>
#include <sstream>
#include <string>

#include <ddk/wdm.h>

namespace sim::kernel_internal {

// The IRQL of the calling thread.
inline thread_local KIRQL t_irql = PASSIVE_LEVEL;

// How long the stand-in waits for something that a correct driver makes happen at once, before
// it reports the driver instead of hanging the test.
inline constexpr auto kPatience = std::chrono::seconds(10);

inline std::wstring Folded(const std::wstring& name) {
  std::wstring folded = name;
  for (auto& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return folded;
}

inline std::wstring FromUnicode(PUNICODE_STRING text) {
  if (text == nullptr || text->Buffer == nullptr) return {};
  return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

inline std::string Hex(std::uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << std::uppercase << value;
  return out.str();
}

// Raises the calling thread's IRQL for the lifetime of the object.
class IrqlScope {
 public:
  explicit IrqlScope(KIRQL irql) : saved_(t_irql) { t_irql = irql; }
  ~IrqlScope() { t_irql = saved_; }
  IrqlScope(const IrqlScope&) = delete;
  IrqlScope& operator=(const IrqlScope&) = delete;

 private:
  KIRQL saved_;
};

}  // namespace sim::kernel_internal
