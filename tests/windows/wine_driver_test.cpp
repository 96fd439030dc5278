// cicard.sys itself, under Wine's kernel-driver host: installed by plug and play from the
// cicard.inf the setup ships, bound to a child of the PC Card bus stand-in, and serving the
// register requests of loader-cli.exe and loader.exe (UseDevice=1) to the card model behind its
// window. The programs are built with the small image (images/small.image): a request through the
// driver under Wine costs about a millisecond, and the released image's 200,000 requests are
// the driver_full test's.
//
// Checked in the kernel stand-in only: a failed IRP_MJ_CREATE does not fail the open under
// Wine, so the refusal of an open before the start is not seen here (lifecycle_test).
#include <gtest/gtest.h>

#include <string>

#include "wine_driver_rig.h"
#include "wine_fixture.h"

namespace {

using namespace windows_test;

constexpr const char* kSmallImage = "images/small.image";

struct CardScenario {
  const char* name;
  const char* card;    // the card put in (card_model.cpp's options)
  int status;          // loader-cli's exit status
  const char* line;    // what the run ends with
  const char* state;   // what the bus reports afterwards
  bool reachedModule;  // the run's register accesses reached the module
};

const CardScenario kScenarios[] = {
    {"port window", "window=port", kCliReady, "Ready\nFortschritt: 100 %\n",
     "child0=started child1=none card=present", true},
    {"memory window", "window=memory", kCliReady, "Ready\nFortschritt: 100 %\n", "maps=1", true},
    {"port range translated to memory", "window=port-as-memory", kCliReady,
     "Ready\nFortschritt: 100 %\n", "maps=1", true},
    {"no answer: a wrong module", "silent-at=1", kCliFailed,
     "[Fehler] Möglicherweise wurde ein falsches Modul gesteckt !", "messages=1 ", true},
    {"a wrong first answer", "window=memory answer-at=1:2101029000B3", kCliFailed,
     "[Fehler] Fehler während der Modul-Initialisierung aufgetreten", "messages=1 ", true},
    {"no adapter: no child", "cards=0", kCliNotOpened, kDeviceMissing, "child0=none child1=none",
     false},
    // The second child's add-device fails on the device name (Wine logs
    // STATUS_OBJECT_NAME_COLLISION): nothing is attached to it, and the first one serves.
    {"a second adapter", "cards=2", kCliReady, "Ready\nFortschritt: 100 %\n",
     "child0=started child1=no-driver", true},
};

TEST_F(DriverUnderWine, LoaderCliUpdatesThroughTheDriverBinary) {
  for (const auto& c : kScenarios) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(PutCard(c.card, kSmallImage));
    const auto run = Run(tree / "driver-test" / "loader-cli.exe");
    const std::string status = Status();
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_TRUE(Contains(run.output, c.line)) << run.output;
    EXPECT_TRUE(Contains(status, c.state)) << status;
    // Every register access of the run went through cicard.sys to the card: one request each.
    const auto accesses = Number(status, "accesses");
    if (c.reachedModule) {
      ASSERT_TRUE(accesses.has_value()) << status;
      EXPECT_GT(*accesses, c.status == kCliReady ? 2500u : 10u) << status;
    }
    if (c.status == kCliReady) {
      EXPECT_TRUE(Contains(status, "messages=25 intact=yes programmed=yes")) << status;
    }
  }
}

// loader.exe over the driver, worked as a user would (loader_window_driver.exe --update posts
// "Start Update" to its main window): "Ready" at 100 %, every access through cicard.sys.
TEST_F(DriverUnderWine, LoaderWindowUpdatesThroughTheDriverBinary) {
  const VirtualScreen screen;
  if (screen.Display().empty()) GTEST_SKIP() << "no X server for the window (Debian: xvfb)";
  ASSERT_TRUE(UseScreen(screen.Display()));
  ASSERT_TRUE(PutCard("window=port", kSmallImage));
  const auto run =
      Run(tree / "loader-window-test" / "loader_window_driver.exe",
          {"--update", WindowsPath(tree / "driver-test" / "loader.exe"), "C:\\loader-driver"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.output, "ok: the update ends in \"Ready\" at 100 %")) << run.output;
  const std::string status = Status();
  EXPECT_TRUE(Contains(status, "messages=25 intact=yes programmed=yes")) << status;
  EXPECT_GT(Number(status, "accesses").value_or(0), 2500u) << status;
}

// The card is pulled in the middle of the transfer (at its 20th message): the surprise removal
// reaches the driver while a request is in progress, the run ends with the message of that
// point, the driver's window is given back and touched no more, the device is gone for the next
// run, and a new card is updated again.
TEST_F(DriverUnderWine, ACardPulledMidUpdateEndsTheRunAndANewCardUpdates) {
  ASSERT_TRUE(PutCard("window=memory remove-at=20", kSmallImage));
  const auto pulled = Run(tree / "driver-test" / "loader-cli.exe");
  EXPECT_EQ(pulled.status, kCliFailed) << pulled.output;
  EXPECT_TRUE(Contains(pulled.output, "[Fehler] Fehler beim Einlesen der Daten aufgetreten"))
      << pulled.output;
  const std::string status = Status();
  EXPECT_TRUE(Contains(status, "child0=none")) << status;
  EXPECT_TRUE(Contains(status, "card=pulled")) << status;
  EXPECT_TRUE(Contains(status, "messages=20 intact=no programmed=no maps=1 unmaps=1")) << status;
  EXPECT_TRUE(Contains(status, "gone-during-request=yes after-removal=0")) << status;

  const auto after = Run(tree / "driver-test" / "loader-cli.exe");
  EXPECT_EQ(after.status, kCliNotOpened) << after.output;
  EXPECT_TRUE(Contains(after.output, kDeviceMissing)) << after.output;

  ASSERT_TRUE(PutCard("window=memory", kSmallImage));
  const auto again = Run(tree / "driver-test" / "loader-cli.exe");
  EXPECT_EQ(again.status, kCliReady) << again.output;
  EXPECT_TRUE(Contains(Status(), "messages=25 intact=yes programmed=yes")) << Status();
}

}  // namespace
