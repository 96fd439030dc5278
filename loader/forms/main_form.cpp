#include "main_form.h"

#include <limits>

#include "Update.h"

std::string MainWindowCaption(std::string_view makerNotice) {
  std::string caption = "Morvane Loader XP USB";
  if (!makerNotice.empty()) caption.append(" ").append(makerNotice);
  return caption;
}

MainWindowTexts MainTexts() {
  const HeaderTexts header =
      MainWindowHeader(ImageTitle, ImageVendor, ImageNote, PublicBuild, main_form::kLayoutTitle);
  MainWindowTexts texts{header.title, "Infos at " + std::string(MakerWebAddress),
                        header.cornerVisible, header.cornerVisible ? header.cornerLabel : ""};
  if (header.internalBuildLine) texts.webLine = main_form::kInternalUseLine;
  return texts;
}

bool MainKeyStartsUpdate(int character, bool button1Enabled, bool running) {
  return (character == ' ' || character == '\r') && button1Enabled && !running;
}

WindowPosition ChooseMainWindowPosition(WindowPosition stored, WindowPosition centred,
                                        int frameWidth,
                                        const std::function<bool(TPoint)>& onScreen) {
  // In 64 bits: a stored coordinate near the integer limit must not overflow.
  constexpr int kTitleBarMiddle = 8;
  const std::int64_t x = std::int64_t{stored.left} + frameWidth / 2;
  const std::int64_t y = std::int64_t{stored.top} + kTitleBarMiddle;
  constexpr std::int64_t kLow = std::numeric_limits<int>::min();
  constexpr std::int64_t kHigh = std::numeric_limits<int>::max();
  if (x < kLow || x > kHigh || y < kLow || y > kHigh) return centred;
  return onScreen(TPoint{static_cast<int>(x), static_cast<int>(y)}) ? stored : centred;
}

void MainFormUpdate::Run(ModuleLink& link, UpdateView& view, platform::Host& application,
                         const UpdateImage& image) {
  if (running_) return;
  running_ = true;
  UpdateProcedure procedure(link, view, application, image);
  procedure.Run();
  running_ = false;
}

void MainFormClose(platform::PrivateProfile& profile, WindowPosition position, ModuleLink& link) {
  SaveSettings(profile, position, link);  // a failure is ignored
  link.ModuleClose();
}
