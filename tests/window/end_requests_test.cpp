// SIGTERM and SIGHUP to the window program: idle, the main window closes as by its close box
// (settings written, the link closed once); during an update, the update runs to its verdict
// first and the window closes after it.
#include <gtest/gtest.h>

#include <csignal>

#include <QLabel>
#include <QTest>

#include "ColorBtns.h"
#include "end_requests.h"
#include "window_rig.h"

namespace window_test {
namespace {

struct EndRequestCase {
  const char* name;
  int signal;
  bool duringUpdate;
  int closes;  // ModuleClose calls in all: the update's, then the window's
};

TEST(EndRequestsToTheWindow, CloseTheWindowOnceNoUpdateRuns) {
  const EndRequestCase cases[] = {
      {"SIGTERM while idle", SIGTERM, false, 1},
      {"SIGHUP while idle", SIGHUP, false, 1},
      {"SIGTERM during an update", SIGTERM, true, 2},
      {"SIGHUP during an update", SIGHUP, true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmallImage small;
    WindowRig rig(small.View(), "[Options]\nIO_Auto=1\nUseDevice=0\n");
    rig.Show();
    EndRequests requests(*rig.form);
    bool raised = false;
    bool visibleAtVerdict = false;
    if (c.duringUpdate) {
      rig.onPump = [&] {
        if (!raised && rig.module->MessageCount() >= 2) {
          raised = true;
          std::raise(c.signal);
        }
        if (rig.form->Label6->text() == "Ready") visibleAtVerdict = rig.form->isVisible();
      };
      QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
      EXPECT_TRUE(raised);
      EXPECT_TRUE(visibleAtVerdict) << "the window stayed up until the verdict";
      EXPECT_EQ(rig.form->Label6->text(), "Ready");
      EXPECT_TRUE(rig.module->ReceivedImageIntact());
    } else {
      std::raise(c.signal);
    }
    for (int i = 0; i < 20 && rig.form->isVisible(); ++i) QTest::qWait(50);
    EXPECT_FALSE(rig.form->isVisible());
    EXPECT_EQ(rig.Closes(), c.closes);
    EXPECT_NE(rig.SettingsText().find("[Options]\n"), std::string::npos) << rig.SettingsText();
  }
  // Outside an EndRequests the signals have their previous effect again.
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace window_test
