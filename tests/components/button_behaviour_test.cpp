// The colour button's answer to the mouse, as both window front ends get it from
// ButtonBehaviour: one table of event sequences, each step with the face and the light after it.
#include <gtest/gtest.h>

#include <vector>

#include "button_behaviour.h"

namespace components_test {
namespace {

enum class Act { Press, Move, Release, Enter, Leave, Disable, Enable, Latch, Unlatch };
struct Step {
  Act act;
  TPoint at;          // Press, Move, Release: where, in the button's coordinates
  ButtonState state;  // the face after the step
  bool lit;           // the light after the step
};
struct Case {
  const char* name;
  int group;  // 0: a plain push button
  bool mouse_focus;
  std::vector<Step> steps;
  int clicks;
};

constexpr TSize kSize{73, 25};
constexpr TPoint kIn{36, 12};
constexpr TPoint kOut{90, 12};

TEST(ButtonBehaviour, EventSequencesDriveTheFaceTheLightAndTheClick) {
  using S = ButtonState;
  const Case cases[] = {
      {"press and release inside",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false}, {Act::Release, kIn, S::Up, false}},
       1},
      {"release outside: no click",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false},
        {Act::Move, kOut, S::Up, false},
        {Act::Release, kOut, S::Up, false}},
       0},
      {"out and back in: the face follows",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false},
        {Act::Move, kOut, S::Up, false},
        {Act::Move, {10, 3}, S::Pressed, false},
        {Act::Move, {-1, 3}, S::Up, false},
        {Act::Move, kIn, S::Pressed, false},
        {Act::Release, kIn, S::Up, false}},
       1},
      {"released on the right edge: outside",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false}, {Act::Release, {73, 12}, S::Up, false}},
       0},
      {"released on the row below: still inside",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false}, {Act::Release, {36, 25}, S::Up, false}},
       1},
      {"release without a press", 0, true, {{Act::Release, kIn, S::Up, false}}, 0},
      {"moves without a press change nothing", 0, true, {{Act::Move, kIn, S::Up, false}}, 0},
      {"disabled: no press, no light, up again when enabled",
       0,
       true,
       {{Act::Disable, {}, S::Disabled, false},
        {Act::Enter, {}, S::Disabled, false},
        {Act::Press, kIn, S::Disabled, false},
        {Act::Release, kIn, S::Disabled, false},
        {Act::Enable, {}, S::Up, false}},
       0},
      {"disabled while held: the press is dropped",
       0,
       true,
       {{Act::Press, kIn, S::Pressed, false},
        {Act::Disable, {}, S::Disabled, false},
        {Act::Enable, {}, S::Up, false},
        {Act::Release, kIn, S::Up, false}},
       0},
      {"light follows the mouse with mouse focus",
       0,
       true,
       {{Act::Enter, {}, S::Up, true},
        {Act::Press, kIn, S::Pressed, true},
        {Act::Release, kIn, S::Up, true},
        {Act::Leave, {}, S::Up, false}},
       1},
      {"no light without mouse focus", 0, false, {{Act::Enter, {}, S::Up, false}}, 0},
      {"a plain button is never latched", 0, true, {{Act::Latch, {}, S::Up, false}}, 0},
      {"group: a click latches, a refused release keeps the latched face and still clicks",
       1,
       true,
       {{Act::Press, kIn, S::Pressed, false},
        {Act::Release, kIn, S::Latched, false},
        {Act::Press, kIn, S::Latched, false},
        {Act::Release, kIn, S::Latched, false},
        {Act::Unlatch, {}, S::Latched, false}},
       2},
      {"group: dragged off a latched button, released outside: latched, no click",
       1,
       true,
       {{Act::Latch, {}, S::Latched, false},
        {Act::Press, kIn, S::Latched, false},
        {Act::Move, kOut, S::Latched, false},
        {Act::Release, kOut, S::Latched, false}},
       0},
      {"group: disabled and enabled again, a down button is latched again",
       1,
       true,
       {{Act::Latch, {}, S::Latched, false},
        {Act::Disable, {}, S::Disabled, false},
        {Act::Enable, {}, S::Latched, false}},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ButtonBehaviour b;
    b.SetGroupIndex(c.group);
    bool enabled = true;
    int clicks = 0;
    int step_no = 0;
    for (const Step& s : c.steps) {
      SCOPED_TRACE(step_no++);
      const bool inside = ButtonBehaviour::Inside(kSize, s.at);
      switch (s.act) {
        case Act::Press:
          b.Press(enabled);
          break;
        case Act::Move:
          b.Track(inside);
          break;
        case Act::Release:
          if (b.Release(inside).click) ++clicks;
          break;
        case Act::Enter:
          b.Enter(c.mouse_focus, enabled);
          break;
        case Act::Leave:
          b.Leave();
          break;
        case Act::Disable:
        case Act::Enable:
          enabled = s.act == Act::Enable;
          b.SetEnabled(enabled);
          break;
        case Act::Latch:
        case Act::Unlatch:
          b.SetDown(s.act == Act::Latch);
          break;
      }
      EXPECT_EQ(b.State(), s.state);
      EXPECT_EQ(b.MouseInControl(), s.lit);
    }
    EXPECT_EQ(clicks, c.clicks);
  }
}

}  // namespace
}  // namespace components_test
