#include "program_start.h"

#include <QApplication>

#include "Main.h"
#include "Options.h"
#include "form_look.h"
#include "msgunit.h"

void SetUpApplication() {
  // The title is also the class of the window's WM_CLASS, which the desktop entry's
  // StartupWMClass names; on Wayland the desktop entry's own name ties the window to it.
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.morvane.loader"));
  InstallFontSubstitutes();
}

LoaderWindows::LoaderWindows(ModuleLink& link, platform::Host& application,
                             platform::PrivateProfile& settings, const UpdateImage& image) {
  main_ = std::make_unique<TMainLoaderForm>(link, application, settings, image);
  MainLoaderForm = main_.get();
  options_ = std::make_unique<TOptForm>(application);
  OptForm = options_.get();
  messages_ = std::make_unique<TMessageForm>();
  MessageForm = messages_.get();
  main_->SetDialogs(options_.get(), messages_.get());
}

LoaderWindows::~LoaderWindows() {
  main_->SetDialogs(nullptr, nullptr);
  MessageForm = nullptr;
  OptForm = nullptr;
  MainLoaderForm = nullptr;
  messages_.reset();
  options_.reset();
  main_.reset();
}
