#include "window_rig.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "ColorBtns.h"

namespace window_test {
namespace {

// One application object for the whole test program, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application_ = std::make_unique<QApplication>(argc, argv);
    InstallFontSubstitutes();
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "window-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

QString ScreenshotFolder() {
  const QString chosen = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR");
  const QString folder = chosen.isEmpty() ? QStringLiteral(MORVANE_SCREENSHOT_DIR) : chosen;
  QDir().mkpath(folder);
  return folder;
}

OnShow::OnShow(QWidget* watched, std::function<void()> action)
    : QObject(watched), action_(std::move(action)) {
  watched->installEventFilter(this);
}

bool OnShow::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::Show) {
    ++shown_;
    QTimer::singleShot(0, this, [this] {
      if (action_) action_();
    });
  }
  return false;
}

bool WatchedMainForm::AllButtonsEnabled() const {
  return Button1->isEnabled() && Color95Button1->isEnabled() && Color95Button2->isEnabled();
}

bool WatchedMainForm::AnyButtonEnabled() const {
  return Button1->isEnabled() || Color95Button1->isEnabled() || Color95Button2->isEnabled();
}

SmallImage::SmallImage() {
  for (int i = 0; i < 256; ++i) init.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  for (int i = 0; i < 512; ++i) main.push_back(static_cast<std::uint8_t>(i * 13 + 1));
}

WindowRig::WindowRig(const UpdateImage& image_, const char* settings, bool attachModule)
    : settingsPath(folder.File("Morvane.ini")), image(image_) {
  if (settings != nullptr) WriteText(settingsPath, settings);
  module = std::make_unique<sim::CiModule>(
      clock,
      sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                   image.MainData, image.MainDataLength, image.MainDataSize));
  if (attachModule) ports.AttachModule(module.get(), 0x320);
  ports.SetLogging(false);
  host = std::make_unique<sim::SimHost>(clock, [this] {
    if (form) form->Timer1Timer();
  });
  host->SetPumpHook([this] {
    QCoreApplication::processEvents();
    if (onPump) onPump();
  });
  link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, *host});
  profile = platform::ProfileAtPath(settingsPath);
  form = std::make_unique<WatchedMainForm>(*link, *host, *profile, image);
  form->Timer1->stop();  // ticks come from virtual time
  options = std::make_unique<TOptForm>(*host);
  messages = std::make_unique<TMessageForm>();
  form->SetDialogs(options.get(), messages.get());
}

WindowRig::~WindowRig() {
  form->SetDialogs(nullptr, nullptr);
  messages.reset();
  options.reset();
  // Destroying a window that was never closed does not write the settings.
  form.reset();
}

void WindowRig::Show() {
  form->show();
  QCoreApplication::processEvents();
}

int WindowRig::Closes() const {
  return static_cast<int>(clock.SleptMs() / 1500);
}

}  // namespace window_test
