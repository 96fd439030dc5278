// The message dialog without a toolkit: its layout table and the keys that close it.
#pragma once

#include "form_layout.h"

namespace message_form {

inline constexpr TSize kClientSize{416, 132};
inline constexpr TPoint kScreenPosition{304, 292};
inline constexpr ControlPlace kLabel1{16, 16, 385, 57};
inline constexpr ControlPlace kButton1{152, 85, 113, 33};
inline constexpr const char* kLayoutCaption = "Meldung";
inline constexpr const char* kButton1Caption = "OK";

}  // namespace message_form

// FormKeyPress: Space and Enter close the dialog as "OK" does, Escape closes it too.
inline bool MessageKeyCloses(int character) {
  return character == ' ' || character == '\r' || character == 27;
}
