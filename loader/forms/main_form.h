// The main window without a toolkit: its layout table, captions and fonts, the texts of its
// header lines, the keys that start an update and where the window opens.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Datas.h"
#include "form_layout.h"
#include "gauge_paint.h"
#include "host.h"
#include "pcmcia.h"
#include "settings.h"
#include "update_view.h"

namespace main_form {

inline constexpr TSize kClientSize{369, 191};
inline constexpr ControlPlace kDfGradient1{2, 16, 369, 161};
inline constexpr ControlPlace kLabel5{16, 12, 345, 32};
inline constexpr TPoint kLabel3{124, 40};
inline constexpr ControlPlace kColor95Button1{8, 56, 73, 25};
inline constexpr ControlPlace kButton1{64, 72, 273, 49};
inline constexpr ControlPlace kColor95Button2{8, 112, 73, 25};
// The status line Label6 grows to the left from its right edge.
inline constexpr int kLabel6Right = 361;
inline constexpr int kLabel6Top = 152;
inline constexpr TPoint kLabel2{16, 154};
inline constexpr TPoint kFortschritt{16, 170};
inline constexpr ControlPlace kProgressBar1{88, 170, 273, 13};

inline constexpr FontSpec kLabel5Font{"Arial", 27, true};
inline constexpr FontSpec kLabel3Font{"Arial", 11, false};
inline constexpr FontSpec kButton1Font{"Arial", 19, true};
inline constexpr FontSpec kLabel2Font{"Arial", 11, true};

inline constexpr const char* kLayoutTitle = "Morvane Update";
inline constexpr const char* kInternalUseLine = "Nur f\xC3\xBCr interne Verwendung !";
inline constexpr const char* kOptionsCaption = "Optionen";
inline constexpr const char* kStartCaption = "Start Update";
inline constexpr const char* kExitCaption = "Exit";
inline constexpr const char* kProgressCaption = "Fortschritt:";

inline constexpr int kTimer1IntervalMs = 100;

// ProgressBar1: no border, gold on navy.
inline constexpr GaugeLook kProgressBar1Look{gkHorizontalBar, true, bsNone, clGold, clNavy};

}  // namespace main_form

// Caption of the main window: "Morvane Loader XP USB" and the maker's notice.
std::string MainWindowCaption(std::string_view makerNotice);

// The texts of the header lines as the built-in image and build settings give them.
struct MainWindowTexts {
  std::string title;    // Label5
  std::string webLine;  // Label3
  bool cornerVisible;   // Label7
  std::string corner;
};
MainWindowTexts MainTexts();

// FormKeyPress: a Space or Enter starts the update when "Start Update" is enabled and no run
// is in progress.
bool MainKeyStartsUpdate(int character, bool button1Enabled, bool running);

// Where the window opens: at the stored position when the middle of its title bar lies on a
// screen (`onScreen` asks the window system), else at `centred`. Positions so far out that
// the title bar's middle is no integer coordinate are not on any screen.
WindowPosition ChooseMainWindowPosition(WindowPosition stored, WindowPosition centred,
                                        int frameWidth,
                                        const std::function<bool(TPoint)>& onScreen);

// The update behind "Start Update", one at a time: a click or key pumped during a run must not
// start a second one.
class MainFormUpdate {
 public:
  bool Running() const { return running_; }
  // Runs one whole update unless one is running already.
  void Run(ModuleLink& link, UpdateView& view, platform::Host& application,
           const UpdateImage& image);

 private:
  bool running_ = false;
};

// FormClose: writes the settings file with the window's position (a failure is ignored) and
// closes the link.
void MainFormClose(platform::PrivateProfile& profile, WindowPosition position, ModuleLink& link);
