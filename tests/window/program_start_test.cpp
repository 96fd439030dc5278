// Program start: the application title, the three windows and their globals, and the end of
// the message loop when the main window closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "ColorBtns.h"
#include "program_start.h"
#include "window_rig.h"

namespace window_test {
namespace {

TEST(ProgramStart, TitleWindowsAndTheEndOfTheLoop) {
  SetUpApplication();
  EXPECT_EQ(QApplication::applicationName(), "Morvane Public-Loader XP USB");

  SmallImage small;
  BareLink bare;
  ModuleLink& link = bare.link;
  link.IOBase = 0;
  {
    LoaderWindows windows(link, bare.host, *bare.profile, small.View());
    EXPECT_EQ(MainLoaderForm, &windows.Main());
    EXPECT_EQ(OptForm, &windows.Options());
    EXPECT_EQ(MessageForm, &windows.Messages());
    EXPECT_EQ(link.IOBase, 800) << "creating the main window ran FormCreate";
    EXPECT_TRUE(windows.Options().isHidden());
    EXPECT_TRUE(windows.Messages().isHidden());

    windows.Main().show();
    EXPECT_TRUE(link.AutoProbe) << "showing the main window loaded the settings";
    QTimer::singleShot(0, [&] {
      QTest::mouseClick(windows.Main().Color95Button2, Qt::LeftButton, {}, QPoint(36, 12));
    });
    QTimer watchdog;  // ends a loop that the close failed to end, so the test fails, not hangs
    bool watchdogFired = false;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
      watchdogFired = true;
      QApplication::quit();
    });
    watchdog.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(watchdogFired);
    EXPECT_FALSE(windows.Main().isVisible());
  }
  EXPECT_EQ(MainLoaderForm, nullptr);
  EXPECT_EQ(OptForm, nullptr);
  EXPECT_EQ(MessageForm, nullptr);
  EXPECT_NE(ReadText(bare.settingsPath).find("[Options]\nIO_Base=800\n"), std::string::npos);
  EXPECT_EQ(bare.clock.SleptMs(), 1500u) << "one ModuleClose at the close";
}

}  // namespace
}  // namespace window_test
