// How the colour button answers the mouse, without a toolkit: pressed while the left button is
// held on it, up again when the mouse is dragged off and pressed when it comes back, a click
// when the left button is released over it, lit while the mouse is over it (boShowMouseFocus),
// and the latched state of a button in a group. The controls (TColor95Button in ColorBtns.h for
// Qt, Win32ColorButton) turn their events into these calls and repaint when one says so.
//
//   ButtonBehaviour b;
//   b.Press(enabled);                               // left button down on the button
//   if (b.Track(ButtonBehaviour::Inside(size, p))) Repaint();
//   const ButtonRelease r = b.Release(ButtonBehaviour::Inside(size, p));
//   if (r.click) OnClick();
#pragma once

#include "button_paint.h"
#include "gdi_types.h"

// What setting the latched state did.
enum class DownChange { None, Latched, Released };

// What releasing the left button did.
struct ButtonRelease {
  bool handled = false;                // the button was tracking the press (repaint it)
  bool click = false;                  // released over the button
  DownChange down = DownChange::None;  // a group button toggled
};

class ButtonBehaviour {
 public:
  // True for a point in a button of `size` (in the button's coordinates). The row just below
  // the button still counts, as it always has for these buttons.
  static bool Inside(TSize size, TPoint p) {
    return p.X >= 0 && p.X < size.Width && p.Y >= 0 && p.Y <= size.Height;
  }

  ButtonState State() const { return state_; }
  bool Tracking() const { return tracking_; }
  bool MouseInControl() const { return mouse_in_control_; }

  // 0: a plain push button; otherwise buttons of one parent with the same index latch
  // exclusively (the control tells the others through ReleasedByGroup).
  int GroupIndex() const { return group_index_; }
  void SetGroupIndex(int value) { group_index_ = value; }
  bool AllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool value) { allow_all_up_ = value; }
  bool Down() const { return down_; }
  // Latches or releases a group button; a plain button is never down, and a down button of a
  // group without AllowAllUp is not released.
  DownChange SetDown(bool value);
  // Another button of the group (`sender`) changed: this one goes up when both are down, and
  // takes the group's AllowAllUp. True when the face changed.
  bool ReleasedByGroup(const ButtonBehaviour& sender);

  // Enabled: the face leaves the disabled state (latched when down). Disabled: the disabled
  // face, and a press being tracked is dropped.
  void SetEnabled(bool enabled);

  // The left button went down on the button. True when the press is tracked (the control then
  // captures the mouse and repaints).
  bool Press(bool enabled);
  // The mouse moved while the button may be tracking a press. True when the face changed.
  bool Track(bool inside);
  // The left button went up.
  ButtonRelease Release(bool inside);

  // The mouse came over the button; true when it is lit now (it was not before).
  bool Enter(bool show_mouse_focus, bool enabled);
  // The mouse left the button; true when it was lit.
  bool Leave();

 private:
  ButtonState Resting() const { return down_ ? ButtonState::Latched : ButtonState::Up; }

  ButtonState state_ = ButtonState::Up;
  bool tracking_ = false;
  bool mouse_in_control_ = false;
  int group_index_ = 0;
  bool allow_all_up_ = false;
  bool down_ = false;
};
