#include "button_behaviour.h"

DownChange ButtonBehaviour::SetDown(bool value) {
  if (group_index_ == 0) value = false;
  if (value == down_) return DownChange::None;
  if (down_ && !allow_all_up_) return DownChange::None;
  down_ = value;
  state_ = Resting();
  return value ? DownChange::Latched : DownChange::Released;
}

bool ButtonBehaviour::ReleasedByGroup(const ButtonBehaviour& sender) {
  bool changed = false;
  if (sender.down_ && down_) {
    down_ = false;
    state_ = ButtonState::Up;
    changed = true;
  }
  allow_all_up_ = sender.allow_all_up_;
  return changed;
}

void ButtonBehaviour::SetEnabled(bool enabled) {
  if (enabled) {
    if (state_ == ButtonState::Disabled) state_ = Resting();
  } else {
    state_ = ButtonState::Disabled;
    tracking_ = false;
  }
}

bool ButtonBehaviour::Press(bool enabled) {
  if (!enabled) return false;
  if (state_ != ButtonState::Latched) state_ = ButtonState::Pressed;
  tracking_ = true;
  return true;
}

bool ButtonBehaviour::Track(bool inside) {
  if (!tracking_) return false;
  const ButtonState next = inside && !down_ ? ButtonState::Pressed : Resting();
  if (next == state_) return false;
  state_ = next;
  return true;
}

ButtonRelease ButtonBehaviour::Release(bool inside) {
  ButtonRelease result;
  if (!tracking_) return result;
  tracking_ = false;
  result.handled = true;
  result.click = inside;
  state_ = ButtonState::Up;
  if (group_index_ != 0) {
    if (inside) result.down = SetDown(!down_);
    // Down even when releasing it was refused: keep the latched face.
    if (down_) state_ = ButtonState::Latched;
  }
  return result;
}

bool ButtonBehaviour::Enter(bool show_mouse_focus, bool enabled) {
  if (mouse_in_control_ || !show_mouse_focus || !enabled) return false;
  mouse_in_control_ = true;
  return true;
}

bool ButtonBehaviour::Leave() {
  const bool was = mouse_in_control_;
  mouse_in_control_ = false;
  return was;
}
