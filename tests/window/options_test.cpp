// The options dialog: filling from the settings, the two enabling rules on each of their
// events, the address warning, and which ways of leaving take the values over.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include "ColorBtns.h"
#include "hex.h"
#include "options_form.h"
#include "window_rig.h"

namespace window_test {
namespace {

struct Enabled {
  bool checkBox1;
  bool label1;
  bool comboBox1;
  bool operator==(const Enabled&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Enabled& e) {
  return out << "{CheckBox1 " << e.checkBox1 << ", Label1 " << e.label1 << ", ComboBox1 "
             << e.comboBox1 << "}";
}

Enabled EnabledOf(const TOptForm& form) {
  return {form.CheckBox1->isEnabled(), form.Label1->isEnabled(), form.ComboBox1->isEnabled()};
}

void SetLink(ModuleLink& link, bool autoProbe, bool swapbox, bool driver, std::uint16_t base) {
  link.AutoProbe = autoProbe;
  link.SwapboxMode = swapbox;
  link.UseDriver = driver;
  link.IOBaseSetting = base;
}

TEST(OptionsDialog, DefaultsShowTheAddressAndApplyTheRules) {
  SmallImage small;
  WindowRig rig(small.View());  // no settings file
  rig.Show();
  bool inspected = false;
  new OnShow(rig.options.get(), [&] {
    inspected = true;
    TOptForm& o = *rig.options;
    EXPECT_EQ(o.windowTitle(), "Optionen");
    EXPECT_EQ(o.ComboBox1->currentText(), "0320");
    EXPECT_TRUE(o.CheckBox1->isChecked());
    EXPECT_TRUE(o.CheckBox3->isChecked());
    EXPECT_FALSE(o.CheckBox2->isChecked());
    EXPECT_EQ(EnabledOf(o), (Enabled{false, false, false}));
    EXPECT_TRUE(o.CheckBox2->isEnabled());
    QTest::keyClick(&o, Qt::Key_Escape);
  });
  QTest::mouseClick(rig.form->Color95Button1, Qt::LeftButton, {}, QPoint(36, 12));
  EXPECT_TRUE(inspected);
  EXPECT_TRUE(rig.options->isHidden());
}

TEST(OptionsDialog, FollowsTheLayoutTableInTabOrder) {
  SmallImage small;
  WindowRig rig(small.View());
  TOptForm& o = *rig.options;
  using namespace options_form;
  EXPECT_EQ(o.size(), QSize(kClientSize.Width, kClientSize.Height));
  struct Placed {
    QWidget* control;
    ControlPlace where;
  };
  for (const Placed& p :
       {Placed{o.Panel1, kPanel1}, Placed{o.CheckBox3, kCheckBox3}, Placed{o.Label1, kLabel1},
        Placed{o.CheckBox1, kCheckBox1}, Placed{o.ComboBox1, kComboBox1},
        Placed{o.CheckBox2, kCheckBox2}, Placed{o.Button1, kButton1}}) {
    EXPECT_EQ(p.control->geometry(), ToQRect(p.where.Rect()))
        << p.control->objectName().toStdString();
  }
  EXPECT_EQ(o.CheckBox3->text(), "Gerätetreiber benutzen");
  EXPECT_EQ(o.CheckBox2->text(), "SCM ISA-Swapbox Modus");
  EXPECT_EQ(o.CheckBox1->nextInFocusChain(), o.ComboBox1);
  QWidget* afterCombo = o.ComboBox1->nextInFocusChain();
  if (afterCombo == o.ComboBox1->lineEdit()) afterCombo = afterCombo->nextInFocusChain();
  EXPECT_EQ(afterCombo, o.CheckBox3);
  EXPECT_EQ(o.CheckBox3->nextInFocusChain(), o.CheckBox2);
  QStringList items;
  for (int i = 0; i < o.ComboBox1->count(); ++i) items << o.ComboBox1->itemText(i);
  EXPECT_EQ(items, (QStringList{"0300", "0320", "0340", "0360", "0380"}));
}

// --- The enabling rules --------------------------------------------------------------------------

enum class Box { k1, k2, k3 };
enum class Act { kClick, kKeyPress, kFocusIn, kMouseRelease, kMouseMove, kQuietToggle };

struct RuleCase {
  const char* name;
  bool autoProbe, swapbox, driver;  // as the dialog is filled
  Enabled onShow;
  // Steps after showing; kQuietToggle changes a box without any event the rules listen to.
  std::vector<std::pair<Box, Act>> steps;
  Enabled after;
};

QCheckBox* BoxOf(TOptForm& o, Box box) {
  return box == Box::k1 ? o.CheckBox1 : box == Box::k2 ? o.CheckBox2 : o.CheckBox3;
}

void Perform(TOptForm& o, Box box, Act act) {
  QCheckBox* target = BoxOf(o, box);
  const QPoint middle(target->width() / 2, target->height() / 2);
  switch (act) {
    case Act::kClick:
      QTest::mouseClick(target, Qt::LeftButton, {}, middle);
      break;
    case Act::kKeyPress:
      QTest::keyClick(target, Qt::Key_A);  // a key that changes nothing by itself
      break;
    case Act::kFocusIn: {
      QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
      QCoreApplication::sendEvent(target, &focus);
      break;
    }
    case Act::kMouseRelease: {
      QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-5, -5),
                          target->mapToGlobal(QPointF(-5, -5)), Qt::LeftButton, Qt::NoButton,
                          Qt::NoModifier);
      QCoreApplication::sendEvent(target, &release);
      break;
    }
    case Act::kMouseMove:
      QTest::mouseMove(target, middle);
      break;
    case Act::kQuietToggle: {
      const QSignalBlocker quiet(target);
      target->setChecked(!target->isChecked());
      break;
    }
  }
}

class OptionsRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(OptionsRules, EnablingFollowsTheBoxes) {
  SmallImage small;
  WindowRig rig(small.View());
  TOptForm& o = *rig.options;
  const RuleCase& c = GetParam();
  SetLink(*rig.link, c.autoProbe, c.swapbox, c.driver, 0x320);
  o.LoadFrom(*rig.link);
  o.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(EnabledOf(o), c.onShow);
  for (const auto& [box, act] : c.steps) Perform(o, box, act);
  EXPECT_EQ(EnabledOf(o), c.after);
  EXPECT_TRUE(o.CheckBox2->isEnabled());
  o.hide();
}

INSTANTIATE_TEST_SUITE_P(
    Window, OptionsRules,
    ::testing::Values(
        RuleCase{
            "PortsFixedAddress", false, false, false, {true, true, true}, {}, {true, true, true}},
        RuleCase{"TickAutomatischDisablesAddress",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k1, Act::kClick}},
                 {true, true, false}},
        RuleCase{"UntickAutomatischEnablesAddress",
                 true,
                 false,
                 false,
                 {true, true, false},
                 {{Box::k1, Act::kClick}},
                 {true, true, true}},
        RuleCase{"TickDriverDisablesAll",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k3, Act::kClick}},
                 {false, false, false}},
        RuleCase{"UntickDriverKeepsAutomatischRule",
                 true,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k3, Act::kClick}},
                 {true, true, false}},
        RuleCase{"UntickDriverAndAutomatisch",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k3, Act::kClick}},
                 {true, true, true}},
        // The swapbox box runs the rule of "Automatisch", even with the driver ticked.
        RuleCase{"SwapboxClickEnablesAddressUnderDriver",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k2, Act::kClick}},
                 {false, false, true}},
        RuleCase{"SwapboxKeyPress",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k2, Act::kKeyPress}},
                 {false, false, true}},
        RuleCase{"SwapboxFocusEntry",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k2, Act::kFocusIn}},
                 {false, false, true}},
        RuleCase{"SwapboxMouseRelease",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k2, Act::kMouseRelease}},
                 {false, false, true}},
        // Each event of "Automatisch" runs its rule on the box's current state.
        RuleCase{"AutomatischKeyPress",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k1, Act::kQuietToggle}, {Box::k1, Act::kKeyPress}},
                 {true, true, false}},
        RuleCase{"AutomatischFocusEntry",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k1, Act::kQuietToggle}, {Box::k1, Act::kFocusIn}},
                 {true, true, false}},
        RuleCase{"AutomatischMouseRelease",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k1, Act::kQuietToggle}, {Box::k1, Act::kMouseRelease}},
                 {true, true, false}},
        RuleCase{"AutomatischMouseMoveRunsNoRule",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k1, Act::kQuietToggle}, {Box::k1, Act::kMouseMove}},
                 {true, true, true}},
        // Each event of the driver box runs its rule.
        RuleCase{"DriverKeyPress",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k3, Act::kQuietToggle}, {Box::k3, Act::kKeyPress}},
                 {false, false, false}},
        RuleCase{"DriverFocusEntry",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k3, Act::kQuietToggle}, {Box::k3, Act::kFocusIn}},
                 {true, true, true}},
        RuleCase{"DriverMouseMove",
                 false,
                 false,
                 true,
                 {false, false, false},
                 {{Box::k3, Act::kQuietToggle}, {Box::k3, Act::kMouseMove}},
                 {true, true, true}},
        RuleCase{"SwapboxRunsNoDriverRule",
                 false,
                 false,
                 false,
                 {true, true, true},
                 {{Box::k3, Act::kQuietToggle}, {Box::k2, Act::kFocusIn}},
                 {true, true, true}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- "OK", warnings, and leaving
// ------------------------------------------------------------------

enum class Leave { kOkButton, kEnter, kEnterInAddressBox, kEscape, kCloseBox };

void LeaveDialog(TOptForm& o, Leave leave) {
  switch (leave) {
    case Leave::kOkButton:
      QTest::mouseClick(o.Button1, Qt::LeftButton, {}, QPoint(56, 16));
      break;
    case Leave::kEnter:
      QTest::keyClick(o.CheckBox2, Qt::Key_Return);
      break;
    case Leave::kEnterInAddressBox:
      QTest::keyClick(o.ComboBox1->lineEdit(), Qt::Key_Enter, Qt::KeypadModifier);
      break;
    case Leave::kEscape:
      QTest::keyClick(o.CheckBox2, Qt::Key_Escape);
      break;
    case Leave::kCloseBox:
      o.close();
      break;
  }
}

struct AddressCase {
  const char* name;
  bool autoTicked;
  const char* text;
  bool warns;
  std::uint16_t taken;
};

class OptionsAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(OptionsAddress, WarnsOutsideTheRangeAndTakesTheValueAnyway) {
  SmallImage small;
  WindowRig rig(small.View());
  SetLink(*rig.link, !GetParam().autoTicked, false, false, 0x320);
  TOptForm& o = *rig.options;
  new OnShow(&o, [&] {
    if (o.CheckBox1->isChecked() != GetParam().autoTicked) Perform(o, Box::k1, Act::kClick);
    o.ComboBox1->setEditText(GetParam().text);
    LeaveDialog(o, Leave::kOkButton);
  });
  EXPECT_TRUE(o.Edit(*rig.link));
  const auto& shown = rig.host->Messages();
  if (GetParam().warns) {
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Die IO-Adresse ist möglicherweise unzulässig !");
    EXPECT_EQ(shown[0].title, "Warnung");
    EXPECT_TRUE(shown[0].systemModal);
  } else {
    EXPECT_TRUE(shown.empty());
  }
  EXPECT_EQ(rig.link->IOBaseSetting, GetParam().taken);
  EXPECT_EQ(rig.link->AutoProbe, GetParam().autoTicked);
  EXPECT_TRUE(o.isHidden());

  // The next use shows the value taken, as four digits.
  o.LoadFrom(*rig.link);
  EXPECT_EQ(o.ComboBox1->currentText().toStdString(), HexDigits(GetParam().taken, 4));
}

INSTANTIATE_TEST_SUITE_P(
    Window, OptionsAddress,
    ::testing::Values(AddressCase{"Unaligned0310", false, "0310", false, 0x310},
                      AddressCase{"Lowest0300", false, "0300", false, 0x300},
                      AddressCase{"Highest0380", false, "0380", false, 0x380},
                      AddressCase{"LowerCase37f", false, "37f", false, 0x37F},
                      AddressCase{"Above0381", false, "0381", true, 0x381},
                      AddressCase{"Above0400", false, "0400", true, 0x400},
                      AddressCase{"Below0200", false, "0200", true, 0x200},
                      AddressCase{"Below02FF", false, "02FF", true, 0x2FF},
                      AddressCase{"NotHexadecimal", false, "03G0", true, 0xFFFF},
                      AddressCase{"Empty", false, "", true, 0xFFFF},
                      AddressCase{"LongerThan16Bits", false, "10320", true, 0x0320},
                      AddressCase{"AutoNeverWarns", true, "0400", false, 0x400},
                      AddressCase{"AutoNeverWarnsNotHex", true, "zz", false, 0xFFFF}),
    [](const auto& info) { return std::string(info.param.name); });

struct LeaveCase {
  const char* name;
  Leave leave;
  bool taken;
};

class OptionsLeaving : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(OptionsLeaving, OnlyOkAndEnterTakeTheValues) {
  SmallImage small;
  WindowRig rig(small.View());
  SetLink(*rig.link, true, false, true, 0x320);
  TOptForm& o = *rig.options;
  new OnShow(&o, [&] {
    for (Box box : {Box::k3, Box::k1, Box::k2}) Perform(o, box, Act::kClick);  // all flipped
    o.ComboBox1->setEditText("0340");
    LeaveDialog(o, GetParam().leave);
  });
  EXPECT_EQ(o.Edit(*rig.link), GetParam().taken);
  EXPECT_TRUE(o.isHidden());
  if (GetParam().taken) {
    EXPECT_FALSE(rig.link->AutoProbe);
    EXPECT_TRUE(rig.link->SwapboxMode);
    EXPECT_FALSE(rig.link->UseDriver);
    EXPECT_EQ(rig.link->IOBaseSetting, 0x340);
  } else {
    EXPECT_TRUE(rig.link->AutoProbe);
    EXPECT_FALSE(rig.link->SwapboxMode);
    EXPECT_TRUE(rig.link->UseDriver);
    EXPECT_EQ(rig.link->IOBaseSetting, 0x320);
  }
  EXPECT_TRUE(rig.host->Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Window, OptionsLeaving,
                         ::testing::Values(LeaveCase{"OkButton", Leave::kOkButton, true},
                                           LeaveCase{"Enter", Leave::kEnter, true},
                                           LeaveCase{"EnterInAddressBox", Leave::kEnterInAddressBox,
                                                     true},
                                           LeaveCase{"Escape", Leave::kEscape, false},
                                           LeaveCase{"CloseBox", Leave::kCloseBox, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OptionsDialog, EveryUseRefillsFromTheSettings) {
  SmallImage small;
  WindowRig rig(small.View());
  SetLink(*rig.link, false, true, false, 0x360);
  TOptForm& o = *rig.options;
  int uses = 0;
  new OnShow(&o, [&] {
    ++uses;
    EXPECT_FALSE(o.CheckBox1->isChecked());
    EXPECT_TRUE(o.CheckBox2->isChecked());
    EXPECT_FALSE(o.CheckBox3->isChecked());
    EXPECT_EQ(o.ComboBox1->currentText(), "0360");
    Perform(o, Box::k3, Act::kClick);  // changed, then cancelled
    o.ComboBox1->setEditText("zz");
    LeaveDialog(o, Leave::kEscape);
  });
  EXPECT_FALSE(o.Edit(*rig.link));
  EXPECT_FALSE(o.Edit(*rig.link));
  EXPECT_EQ(uses, 2);
}

}  // namespace
}  // namespace window_test
