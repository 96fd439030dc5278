// The main window: a whole update against the simulated module, the keyboard start, the
// message dialog for every ending, the timer, closing, the settings and the window position.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include "ColorBtns.h"
#include "Gauges.h"
#include "Gradient.h"
#include "main_form.h"
#include "window_rig.h"

namespace window_test {
namespace {

constexpr const char* kPortsAuto = "[Options]\nIO_Auto=1\nUseDevice=0\n";

struct Shown {
  std::string text;
  std::string title;
};

// How a test closes the message dialog.
enum class Closing { kOkButton, kSpace, kEnter, kKeypadEnter, kEscape, kCloseBox };

void CloseMessageForm(TMessageForm& form, Closing closing) {
  switch (closing) {
    case Closing::kOkButton:
      QTest::mouseClick(form.Button1, Qt::LeftButton, {}, QPoint(56, 16));
      break;
    case Closing::kSpace:
      QTest::keyClick(&form, Qt::Key_Space);
      break;
    case Closing::kEnter:
      QTest::keyClick(&form, Qt::Key_Return);
      break;
    case Closing::kKeypadEnter:
      QTest::keyClick(&form, Qt::Key_Enter, Qt::KeypadModifier);
      break;
    case Closing::kEscape:
      QTest::keyClick(&form, Qt::Key_Escape);
      break;
    case Closing::kCloseBox:
      form.close();
      break;
  }
}

// Records every showing of the message dialog and closes it the given way.
std::shared_ptr<std::vector<Shown>> WatchMessages(WindowRig& rig, Closing closing) {
  auto shown = std::make_shared<std::vector<Shown>>();
  TMessageForm* form = rig.messages.get();
  new OnShow(form, [form, shown, closing] {
    shown->push_back({form->Label1->text().toStdString(), form->windowTitle().toStdString()});
    CloseMessageForm(*form, closing);
  });
  return shown;
}

// --- A whole update --------------------------------------------------------------------------

TEST(MainWindowUpdate, BuiltInImageRunsToReady) {
  WindowRig rig(BuiltInImage(), kPortsAuto);
  rig.Show();
  std::vector<bool> enabledDuringRun;
  rig.onPump = [&] { enabledDuringRun.push_back(rig.form->AnyButtonEnabled()); };
  QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
  rig.onPump = nullptr;

  EXPECT_TRUE(rig.module->Programmed());
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_EQ(rig.form->statusLines,
            (std::vector<std::string>{"Suche CI Modul...", "Vorbereitung...", "Integritätstest...",
                                      "Modul wird programmiert...", "Ready"}));
  EXPECT_EQ(rig.form->Label6->text(), "Ready");
  EXPECT_EQ(rig.form->Label6->geometry().right() + 1, 361) << "status line grows to the left";
  // Disabled from the first status line to the last.
  for (bool enabled : rig.form->buttonsAtStatus) EXPECT_FALSE(enabled);
  ASSERT_FALSE(enabledDuringRun.empty());
  EXPECT_EQ(std::count(enabledDuringRun.begin(), enabledDuringRun.end(), true), 0);
  EXPECT_TRUE(rig.form->AllButtonsEnabled());
  EXPECT_EQ(rig.form->ProgressBar1->Progress(), 100);
  EXPECT_EQ(rig.form->gauge.front(), 0);
  EXPECT_EQ(std::vector<int>(rig.form->gauge.end() - 7, rig.form->gauge.end()),
            (std::vector<int>{60, 65, 70, 76, 81, 87, 100}));
  EXPECT_EQ(rig.Closes(), 1);
  EXPECT_TRUE(rig.messages->isHidden()) << "success shows no dialog";
}

struct KeyStart {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  bool starts;
};

class MainWindowKeys : public ::testing::TestWithParam<KeyStart> {};

TEST_P(MainWindowKeys, IdleWindowStartsOnSpaceAndEnterOnly) {
  SmallImage small;
  WindowRig rig(small.View(), kPortsAuto);
  rig.Show();
  QTest::keyClick(rig.form.get(), GetParam().key, GetParam().modifiers);
  EXPECT_EQ(rig.module->Programmed(), GetParam().starts);
  EXPECT_EQ(rig.form->statusLines.empty(), !GetParam().starts);
  if (GetParam().starts) {
    EXPECT_EQ(rig.form->Label6->text(), "Ready");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Window, MainWindowKeys,
    ::testing::Values(KeyStart{"Space", Qt::Key_Space, Qt::NoModifier, true},
                      KeyStart{"Return", Qt::Key_Return, Qt::NoModifier, true},
                      KeyStart{"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, true},
                      KeyStart{"Escape", Qt::Key_Escape, Qt::NoModifier, false},
                      KeyStart{"LetterS", Qt::Key_S, Qt::NoModifier, false},
                      KeyStart{"Tab", Qt::Key_Tab, Qt::NoModifier, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MainWindowUpdate, NothingStartsOrClosesWhileRunning) {
  SmallImage small;
  WindowRig rig(small.View(), kPortsAuto);
  rig.Show();
  bool tried = false;
  bool visibleAfterClose = false;
  rig.onPump = [&] {
    if (tried || rig.form->statusLines.size() < 2) return;  // once "Vorbereitung..." shows
    tried = true;
    QTest::keyClick(rig.form.get(), Qt::Key_Space);
    QTest::keyClick(rig.form.get(), Qt::Key_Return);
    QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
    QTest::mouseClick(rig.form->Color95Button1, Qt::LeftButton, {}, QPoint(36, 12));
    QTest::mouseClick(rig.form->Color95Button2, Qt::LeftButton, {}, QPoint(36, 12));
    rig.form->close();  // the close box
    visibleAfterClose = rig.form->isVisible();
  };
  rig.form->Button1Click();
  rig.onPump = nullptr;

  EXPECT_TRUE(tried);
  EXPECT_TRUE(visibleAfterClose) << "the close is refused while an update runs";
  EXPECT_TRUE(rig.options->isHidden());
  EXPECT_EQ(
      std::count(rig.form->statusLines.begin(), rig.form->statusLines.end(), "Suche CI Modul..."),
      1)
      << "exactly one run";
  EXPECT_TRUE(rig.module->Programmed());
  EXPECT_EQ(rig.Closes(), 1);
  EXPECT_EQ(rig.SettingsText().find("[Desktop]"), std::string::npos)
      << "no settings written mid-run";

  // Once idle, the close goes through: settings written, one more ModuleClose.
  rig.form->close();
  EXPECT_FALSE(rig.form->isVisible());
  EXPECT_EQ(rig.Closes(), 2);
  EXPECT_NE(rig.SettingsText().find("UseDevice=0"), std::string::npos);
}

// --- Every ending tells its message in the dialog ----------------------------------------------

struct Ending {
  const char* name;
  std::function<void(WindowRig&)> arrange;
  const char* text;  // the message, with \r\n as the procedure writes it
  const char* title;
  Closing closing;
};

class MainWindowMessages : public ::testing::TestWithParam<Ending> {};

TEST_P(MainWindowMessages, DialogShowsTextAndCaptionAndClosesTheGivenWay) {
  SmallImage small;
  WindowRig rig(small.View(), kPortsAuto);
  GetParam().arrange(rig);
  rig.Show();
  auto shown = WatchMessages(rig, GetParam().closing);
  rig.form->Button1Click();

  ASSERT_EQ(shown->size(), 1u);
  QString expected = QString::fromUtf8(GetParam().text);
  expected.replace("\r\n", "\n");
  EXPECT_EQ(QString::fromStdString(shown->front().text), expected);
  EXPECT_EQ(shown->front().title, GetParam().title);
  EXPECT_TRUE(rig.messages->isHidden());
  // Idle again: buttons enabled, status line empty, gauge 0.
  EXPECT_TRUE(rig.form->AllButtonsEnabled());
  EXPECT_EQ(rig.form->Label6->text(), "");
  EXPECT_EQ(rig.form->ProgressBar1->Progress(), 0);
  EXPECT_FALSE(rig.module->Programmed());
}

const char* const kNoModule =
    "Common Interface Modul nicht gefunden oder nicht bereit.\r\nStellen Sie sicher, dass die "
    "PCMCIA Hardware richtig installiert ist.\r\nBeachten Sie bitte, dass mit diesem Programm "
    "nur Morvane Module getestet werden können !";

INSTANTIATE_TEST_SUITE_P(
    Window, MainWindowMessages,
    ::testing::Values(
        Ending{"NoModule", [](WindowRig& rig) { rig.module->Remove(); }, kNoModule, "Fehler",
               Closing::kOkButton},
        Ending{
            "NoDriver",
            [](WindowRig& rig) {
              platform::ProfileAtPath(rig.settingsPath)->WriteString("Options", "UseDevice", "1");
            },
            "Gerät nicht vorhanden oder nicht bereit !\r\nStellen Sie sicher, dass der "
            "Gerätetreiber richtig installiert ist.\r\nBeachten Sie bitte, dass mit diesem "
            "Programm nur Morvane Module getestet werden können !",
            "Fehler", Closing::kSpace},
        Ending{"PortsRefused", [](WindowRig& rig) { rig.ports.DenyAccess(true); },
               "IO-Zugriff verweigert !\r\nDer passende Gerätetreiber muß installiert und "
               "ausgewählt sein !\r\n(Nur unter Windows 95 und 98 ist die Benutzung des Programms "
               "ohne Gerätetreiber erlaubt)",
               "Fehler", Closing::kEnter},
        Ending{"WrongModule", [](WindowRig& rig) { rig.module->SilenceAt(1); },
               "Möglicherweise wurde ein falsches Modul gesteckt !\r\nBeachten Sie bitte, dass mit "
               "diesem Programm nur Morvane Module upgedatet werden können !",
               "Fehler", Closing::kKeypadEnter},
        Ending{"InitialisationRefused",
               [](WindowRig& rig) { rig.module->AnswerAt(1, std::string("2101029000B3")); },
               "Fehler während der Modul-Initialisierung aufgetreten", "Fehler", Closing::kEscape},
        Ending{"IntegrityFailed", [](WindowRig& rig) { rig.module->FailIntegrity(); },
               "Integritätstest fehlgeschlagen", "Fehler", Closing::kCloseBox},
        Ending{"SameSoftware", [](WindowRig& rig) { rig.module->SetFinalText("OK   "); },
               "Die Software im Modul war identisch !", "Information", Closing::kOkButton},
        Ending{"FlashError", [](WindowRig& rig) { rig.module->SetFinalText("Bad!!"); },
               "Flash-Schreibfehler aufgetreten.", "Fehler", Closing::kEscape}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Timer ---------------------------------------------------------------------------------------

TEST(MainWindowTimer, CountdownEndsAtExactlyZero) {
  struct Case {
    std::int32_t start;
    std::vector<std::int32_t> afterTicks;
  };
  SmallImage small;
  WindowRig rig(small.View());
  for (const Case& c : {Case{250, {150, 50, 0, 0}}, Case{100, {0, 0}}, Case{101, {1, 0}},
                        Case{0, {0}}, Case{-5, {-5, -5}}}) {
    rig.link->TimeoutCountdown = c.start;
    for (std::int32_t expected : c.afterTicks) {
      rig.form->Timer1Timer();
      EXPECT_EQ(rig.link->TimeoutCountdown, expected) << "from " << c.start;
    }
  }
}

TEST(MainWindowTimer, RunsEvery100MsFromCreation) {
  SmallImage small;
  BareLink bare;
  TMainLoaderForm form(bare.link, bare.host, *bare.profile, small.View());
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 100);
  // The running timer itself lowers the countdown: 250 reaches 0 after three of its ticks
  // (the wait ends on the value, its bound only stops a broken connection from hanging).
  bare.link.TimeoutCountdown = 250;
  EXPECT_TRUE(QTest::qWaitFor([&] { return bare.link.TimeoutCountdown == 0; }, 10000));
}

// --- Creation, settings, closing
// -------------------------------------------------------------------

TEST(MainWindowCreation, SetsIOBaseAndShowsTheHeader) {
  SmallImage small;
  WindowRig rig(small.View());
  EXPECT_EQ(rig.link->IOBase, 800);
  const HeaderTexts header =
      MainWindowHeader(ImageTitle, ImageVendor, ImageNote, PublicBuild, "Morvane Update");
  EXPECT_EQ(rig.form->Label5->text().toStdString(), header.title);
  EXPECT_EQ(rig.form->Label7->isVisibleTo(rig.form.get()), header.cornerVisible);
  EXPECT_FALSE(rig.form->Label4->isVisibleTo(rig.form.get()));
  EXPECT_FALSE(rig.form->Label1->isVisibleTo(rig.form.get()));
  EXPECT_EQ(rig.form->Label3->text().toStdString(),
            header.internalBuildLine ? "Nur für interne Verwendung !"
                                     : "Infos at " + std::string(MakerWebAddress));
  EXPECT_EQ(rig.form->windowTitle().toStdString(), MainWindowCaption(MakerNotice));
  EXPECT_EQ(MainWindowCaption(""), "Morvane Loader XP USB");
  EXPECT_EQ(MainWindowCaption("- X"), "Morvane Loader XP USB - X");
}

// The Qt window places, captions and colours its controls as the shared layout table says
// (the Win32 window's pictures are compared with it in win32_pictures_test).
TEST(MainWindowCreation, FollowsTheLayoutTable) {
  SmallImage small;
  WindowRig rig(small.View());
  TMainLoaderForm& f = *rig.form;
  using namespace main_form;
  EXPECT_EQ(f.size(), QSize(kClientSize.Width, kClientSize.Height));
  EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed size";
  struct Placed {
    QWidget* control;
    ControlPlace where;
  };
  for (const Placed& p :
       {Placed{f.DfGradient1, kDfGradient1}, Placed{f.Label5, kLabel5},
        Placed{f.Color95Button1, kColor95Button1}, Placed{f.Button1, kButton1},
        Placed{f.Color95Button2, kColor95Button2}, Placed{f.ProgressBar1, kProgressBar1}}) {
    EXPECT_EQ(p.control->geometry(), ToQRect(p.where.Rect()))
        << p.control->objectName().toStdString();
  }
  struct Anchored {
    QWidget* control;
    TPoint at;
  };
  for (const Anchored& p : {Anchored{f.Label3, kLabel3}, Anchored{f.Label2, kLabel2},
                            Anchored{f.Fortschritt, kFortschritt}}) {
    EXPECT_EQ(p.control->pos(), QPoint(p.at.X, p.at.Y)) << p.control->objectName().toStdString();
  }
  EXPECT_EQ(f.Fortschritt->text().toStdString(), kProgressCaption);
  EXPECT_EQ(f.Label5->font().pixelSize(), kLabel5Font.pixels);
  EXPECT_EQ(f.Button1->font().pixelSize(), kButton1Font.pixels);
  EXPECT_EQ(f.font().pixelSize(), kDefaultFormFont.pixels);
  EXPECT_EQ(f.font().bold(), kDefaultFormFont.bold);
  EXPECT_EQ(f.palette().color(QPalette::Window), ToQColor(kFormBackground));
  EXPECT_EQ(f.palette().color(QPalette::WindowText), ToQColor(kFormText));
}

struct SettingsCase {
  const char* name;
  const char* before;  // nullptr: no file
  std::uint16_t ioBase;
  bool autoProbe;
  bool swapbox;
  bool useDriver;
  std::vector<const char*> afterContains;  // lines the file holds after "Exit"
};

class MainWindowSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(MainWindowSettings, LoadedOnShowAndWrittenOnExit) {
  SmallImage small;
  WindowRig rig(small.View(), GetParam().before);
  rig.link->AutoProbe = !GetParam().autoProbe;  // shown to be loaded, not left over
  rig.Show();
  EXPECT_EQ(rig.link->IOBaseSetting, GetParam().ioBase);
  EXPECT_EQ(rig.link->AutoProbe, GetParam().autoProbe);
  EXPECT_EQ(rig.link->SwapboxMode, GetParam().swapbox);
  EXPECT_EQ(rig.link->UseDriver, GetParam().useDriver);
  EXPECT_EQ(rig.Closes(), 0);

  QTest::mouseClick(rig.form->Color95Button2, Qt::LeftButton, {}, QPoint(36, 12));  // "Exit"
  EXPECT_FALSE(rig.form->isVisible());
  EXPECT_EQ(rig.Closes(), 1);
  const std::string after = rig.SettingsText();
  const QPoint at = rig.form->pos();
  EXPECT_NE(after.find("[Desktop]\nLeft=" + std::to_string(at.x()) +
                       "\nTop=" + std::to_string(at.y()) + "\n"),
            std::string::npos)
      << after;
  for (const char* line : GetParam().afterContains) {
    EXPECT_NE(after.find(line), std::string::npos) << line << " missing in\n" << after;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Window, MainWindowSettings,
    ::testing::Values(SettingsCase{"NoFile",
                                   nullptr,
                                   800,
                                   true,
                                   false,
                                   true,
                                   {"IO_Base=800\nIO_Auto=1\nSCM_Swap=0\nUseDevice=1\n"}},
                      SettingsCase{
                          "HexAddressWrittenBackInDecimal",
                          "; mine\n[Options]\nIO_Base=0x340\nIO_Auto=0\n[Other]\nKeep=yes\n",
                          832,
                          false,
                          false,
                          true,
                          {"; mine\n", "IO_Base=832\n", "IO_Auto=0\n", "[Other]\nKeep=yes\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MainWindowClosing, UnwritableSettingsStillCloseTheLink) {
  SmallImage small;
  WindowRig rig(small.View());
  std::filesystem::create_directory(rig.settingsPath);  // a folder where the file should be
  rig.Show();
  rig.form->close();
  EXPECT_FALSE(rig.form->isVisible());
  EXPECT_EQ(rig.Closes(), 1);
}

TEST(MainWindowPosition, StoredWhenOnScreenElseCentred) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  struct Case {
    std::string file;
    bool centred;
    QPoint stored;
  };
  const std::vector<Case> cases = {
      {"", true, {}},
      {"[Desktop]\nLeft=40\nTop=30\n", false, {40, 30}},
      {"[Desktop]\nLeft=5000\nTop=30\n", true, {}},
      {"[Desktop]\nLeft=40\nTop=-400\n", true, {}},
      {"[Desktop]\nLeft=-3000\nTop=-3000\n", true, {}},
      // The title bar's middle of a window this far out is past the integer range.
      {"[Desktop]\nLeft=2147483647\nTop=2147483647\n", true, {}},
      {"[Desktop]\nLeft=2147483600\nTop=30\n", true, {}},
      {"[Desktop]\nLeft=-2147483648\nTop=-2147483648\n", true, {}},
  };
  for (const Case& c : cases) {
    SmallImage small;
    WindowRig rig(small.View(), c.file.empty() ? nullptr : c.file.c_str());
    rig.Show();
    const QSize outer = rig.form->frameGeometry().size();
    const QPoint centred = screen.topLeft() + QPoint((screen.width() - outer.width()) / 2,
                                                     (screen.height() - outer.height()) / 2);
    EXPECT_EQ(rig.form->pos(), c.centred ? centred : c.stored) << c.file;
  }
}

}  // namespace
}  // namespace window_test
