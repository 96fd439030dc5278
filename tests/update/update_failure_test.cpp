// Every way a run can end other than "Ready": the message, its title, and the state it leaves.
#include <gtest/gtest.h>

#include <functional>

#include "link_rig.h"

namespace {

const std::string kEditions =
    "Beachten Sie bitte, dass für jede Modulausführung wie Granit,\r\n"
    "Feder und QX ein eigenes Update verwendet werden muß.";

struct FailureCase {
  const char* name;
  std::function<void(sim::CiModule&)> fault;
  const char* message;  // nullptr: the run ends without a dialog
  const char* title;
  UpdateOutcome outcome = UpdateOutcome::kFailed;
  // The access layer's own "Timeout, keine Antwort vom Modul" boxes, all shown before the
  // procedure's dialog: none for the silent 1999 ms of a step's first message.
  std::size_t timeoutBoxes = 0;
};

// Messages are numbered from 1: preparation 1 to 130 (step k sends 2k-1 and 2k), chunks 131
// to 1531 (the last one in integrity mode), the programming exchange 1532.
const FailureCase kFailures[] = {
    {"no answer to the block's first message", [](auto& m) { m.SilenceAt(1); },
     "Möglicherweise wurde ein falsches Modul gesteckt !\r\nBeachten Sie bitte, dass mit diesem "
     "Programm nur Morvane Module upgedatet werden können !",
     "Fehler"},
    {"no answer to a later first message", [](auto& m) { m.SilenceAt(3); }, nullptr, ""},
    {"wrong first answer", [](auto& m) { m.AnswerAt(1, "2101029000B3"); },
     "Fehler während der Modul-Initialisierung aufgetreten", "Fehler"},
    {"no answer to a second message", [](auto& m) { m.SilenceAt(2); },
     "Es ist ein Fehler während der Kommunikation mit dem CI-Modul aufgetreten !\r\nVersuchen Sie "
     "es noch einmal.",
     "Fehler", UpdateOutcome::kFailed, 1},
    {"the first step refused: the only block", [](auto& m) { m.AnswerAt(2, "22010290FE4C"); },
     "Fehler beim Einlesen der Daten aufgetreten, möglicherweise wurde ein falsches Modul "
     "gesteckt.\r\nBeachten Sie bitte, dass für jede Modulausführung wie Granit,\r\nFeder und QX "
     "ein eigenes Update verwendet werden muß. ",
     "Fehler"},
    {"a later step refused", [](auto& m) { m.AnswerAt(4, "2101029000B3"); },
     "Fehler beim Einlesen der Daten aufgetreten,\r\nwiederholen Sie den Vorgang.", "Fehler"},
    {"module software newer", [](auto& m) { m.AnswerAt(130, "22010290F948"); },
     "Das Update ist mit diesem Modul nicht möglich.\r\nDer Softwarestand im Modul ist aktueller "
     "als der des Updates .",
     "Fehler"},
    {"unsuitable update with error code", [](auto& m) { m.AnswerAt(130, "22010491FCAB1D77"); },
     "Das Update ist nicht für dieses Modul geeignet ! Fehlercode: AB1D\r\n"
     "Beachten Sie bitte, dass für jede Modulausführung wie Granit,\r\nFeder und QX ein eigenes "
     "Update verwendet werden muß.",
     "Fehler"},
    {"unsuitable update without code", [](auto& m) { m.AnswerAt(130, "22010291FC00"); },
     "Das Update ist nicht für dieses Modul geeignet !\r\nBeachten Sie bitte, dass für jede "
     "Modulausführung wie Granit,\r\nFeder und QX ein eigenes Update verwendet werden muß.",
     "Fehler"},
    {"04 and 91FC but too short for a code", [](auto& m) { m.AnswerAt(130, "22010491FC"); },
     "Das Update ist nicht für dieses Modul geeignet !\r\nBeachten Sie bitte, dass für jede "
     "Modulausführung wie Granit,\r\nFeder und QX ein eigenes Update verwendet werden muß.",
     "Fehler"},
    {"read failure verdict", [](auto& m) { m.AnswerAt(130, "22010290FE4C"); },
     "Fehler beim Einlesen der Daten aufgetreten,\r\nwiederholen Sie den Vorgang.", "Fehler"},
    {"a short verdict matches no pattern", [](auto& m) { m.AnswerAt(130, "2201"); },
     "Das Update ist mit diesem Modul nicht möglich.\r\nBitte rufen Sie die Brivon Hotline an "
     "unter 0000 000000 .",
     "Fehler"},
    {"a decoded text other than Ready",
     [](auto& m) { m.AnswerAt(130, sim::CiModule::TextAnswer("Nope!")); },
     "Das Update ist mit diesem Modul nicht möglich.\r\nBitte rufen Sie die Brivon Hotline an "
     "unter 0000 000000 .",
     "Fehler"},
    // Decoded, this answer would be five characters that match no pattern.
    {"a long verdict with 9 as 7th character is not decoded",
     [](auto& m) { m.AnswerAt(130, "22010291FC123456"); },
     "Das Update ist nicht für dieses Modul geeignet !\r\nBeachten Sie bitte, dass für jede "
     "Modulausführung wie Granit,\r\nFeder und QX ein eigenes Update verwendet werden muß.",
     "Fehler"},
    {"wrong answer to the first chunk", [](auto& m) { m.AnswerAt(131, "2101029000B2"); },
     "Fehler beim Einlesen der Daten aufgetreten", "Fehler"},
    {"wrong answer to chunk 1400", [](auto& m) { m.AnswerAt(1530, "2201029001B0"); },
     "Fehler beim Einlesen der Daten aufgetreten", "Fehler"},
    {"the integrity chunk's answer is judged after the loop",
     [](auto& m) { m.AnswerAt(1531, "2201029000B1"); }, "Integritätstest fehlgeschlagen", "Fehler"},
    {"integrity test failed", [](auto& m) { m.FailIntegrity(); }, "Integritätstest fehlgeschlagen",
     "Fehler"},
    {"module already holds this software", [](auto& m) { m.SetFinalText("OK   "); },
     "Die Software im Modul war identisch !", "Information", UpdateOutcome::kAlreadyCurrent},
    {"flash write error", [](auto& m) { m.SetFinalText("Bad!!"); },
     "Flash-Schreibfehler aufgetreten.", "Fehler"},
    {"programming answer unknown", [](auto& m) { m.SetFinalText("Oops?"); },
     "Modulprogrammierung fehlgeschlagen", "Fehler"},
    {"module removed during the transfer", [](auto& m) { m.RemoveAt(500); },
     "Fehler beim Einlesen der Daten aufgetreten", "Fehler"},
};

TEST(UpdateFailures, EachEndsWithItsMessageAndReturnsToIdle) {
  for (const auto& c : kFailures) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    c.fault(*rig.module);
    std::vector<sim::ShownMessage> boxesBeforeDialog;
    rig.view.onMessage = [&] { boxesBeforeDialog = rig.host->Messages(); };
    EXPECT_EQ(rig.RunUpdate(), c.outcome);
    if (c.message == nullptr) boxesBeforeDialog = rig.host->Messages();
    EXPECT_EQ(boxesBeforeDialog.size(), c.timeoutBoxes);
    EXPECT_EQ(rig.host->Messages().size(), c.timeoutBoxes);
    for (const auto& box : boxesBeforeDialog) {
      EXPECT_EQ(box.text, "Timeout, keine Antwort vom Modul");
      EXPECT_EQ(box.title, "Fehler");
    }
    if (c.message == nullptr) {
      EXPECT_TRUE(rig.view.messages.empty());
    } else {
      ASSERT_EQ(rig.view.messages.size(), 1u);
      EXPECT_EQ(rig.view.messages[0].text, c.message);
      EXPECT_EQ(rig.view.messages[0].title, c.title);
    }
    EXPECT_EQ(rig.view.statusLines.back(), "");
    EXPECT_EQ(rig.view.lastGauge, 0);
    EXPECT_TRUE(rig.view.buttonsEnabled);
    EXPECT_EQ(rig.Closes(), 1) << "exactly one ModuleClose after a successful open";
    EXPECT_FALSE(rig.module->Programmed());
  }
}

TEST(UpdateFailures, TheButtonsAreReEnabledOnlyAfterTheDialogClosed) {
  test::LinkRig rig;
  rig.module->SilenceAt(1);
  bool enabledWhileShown = true;
  rig.view.onMessage = [&] { enabledWhileShown = rig.view.buttonsEnabled; };
  rig.RunUpdate();
  EXPECT_FALSE(enabledWhileShown);
}

struct OpenCase {
  const char* name;
  std::function<void(test::LinkRig&)> setUp;
  int openResult;
};

TEST(UpdateOpenFailures, EachOpenResultShowsItsMessageWithoutClosingAgain) {
  const OpenCase cases[] = {
      {"driver missing", [](auto& r) { r.link->UseDriver = true; }, 2},
      {"no module", [](auto& r) { r.ports.AttachModule(nullptr, 0); }, 3},
      {"port access refused", [](auto& r) { r.ports.DenyAccess(true); }, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    c.setUp(rig);
    EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kNotOpened);
    ASSERT_EQ(rig.view.messages.size(), 1u);
    EXPECT_EQ(rig.view.messages[0].text, OpenResultMessage(c.openResult));
    EXPECT_EQ(rig.view.messages[0].title, "Fehler");
    EXPECT_EQ(rig.view.statusLines, (std::vector<std::string>{"Suche CI Modul...", ""}));
    EXPECT_TRUE(rig.view.buttonsEnabled);
    EXPECT_EQ(rig.Closes(), 1) << "only the open's own close";
    EXPECT_EQ(rig.module->MessageCount(), 0);
  }
}

TEST(UpdateOpenFailures, MessagesOfTheOpenResults) {
  EXPECT_EQ(
      OpenResultMessage(1),
      "Modul im USB-CI Adapter konnte nicht initialisiert werden oder wurde nicht gefunden"
      "\r\nBitte stecken Sie das Modul erneut hinein oder stecken Sie den Adapter ggf. erneut "
      "in den USB-Port.");
  EXPECT_EQ(OpenResultMessage(2),
            "Gerät nicht vorhanden oder nicht bereit !\r\nStellen Sie sicher, dass der "
            "Gerätetreiber richtig installiert ist.\r\nBeachten Sie bitte, dass mit diesem "
            "Programm nur Morvane Module getestet werden können !");
  EXPECT_EQ(OpenResultMessage(3),
            "Common Interface Modul nicht gefunden oder nicht bereit.\r\nStellen Sie sicher, dass "
            "die PCMCIA Hardware richtig installiert ist.\r\nBeachten Sie bitte, dass mit diesem "
            "Programm nur Morvane Module getestet werden können !");
  EXPECT_EQ(OpenResultMessage(4),
            "IO-Zugriff verweigert !\r\nDer passende Gerätetreiber muß installiert und ausgewählt "
            "sein !\r\n(Nur unter Windows 95 und 98 ist die Benutzung des Programms ohne "
            "Gerätetreiber erlaubt)");
  for (int unknown : {7, 5, -1, 11})
    EXPECT_EQ(OpenResultMessage(unknown),
              "Es ist ein unbekannter Fehler während der Modulinitialisierung oder USB-Adapter "
              "Initialisierung aufgetreten");
}

// An image whose sizes the build refuses never reaches a product, but the procedure must not
// divide by them: such a run ends as a failure, not with a crash.
TEST(UpdateFailures, ImageSizesOfZeroEndTheRunWithoutDividingByThem) {
  for (const auto& [initSize, mainSize] :
       {std::pair<std::int32_t, std::int32_t>{0, 179328}, {8320, 0}, {-128, 179328}}) {
    const auto image = test::TestImage::Generated(initSize, 8320, mainSize);
    test::LinkRig rig(image.View());
    // The module takes the first step and the first chunk, so the gauge is computed.
    rig.module->AnswerAt(1, "2101029000B2");
    rig.module->AnswerAt(2, "2101029000B2");
    rig.module->AnswerAt(131, "2201029000B1");
    EXPECT_NE(rig.RunUpdate(), UpdateOutcome::kReady) << initSize << " " << mainSize;
    EXPECT_TRUE(rig.view.buttonsEnabled);
    EXPECT_EQ(rig.view.lastGauge, 0);
  }
}

}  // namespace
