// SIGTERM and SIGHUP ask the main window to close, as its close box does: the settings are
// written and the link closed. During an update the request waits until the update has ended
// (the close box is refused then; a module must not be left half programmed), and then the
// window closes.
#pragma once

#include <signal.h>

#include <QSocketNotifier>
#include <QTimer>
#include <memory>

class TMainLoaderForm;

// One at a time: the signal handler writes into the pipe of the one that lives. The handlers
// it replaced are put back when it ends.
class EndRequests {
 public:
  explicit EndRequests(TMainLoaderForm& main);
  ~EndRequests();
  EndRequests(const EndRequests&) = delete;
  EndRequests& operator=(const EndRequests&) = delete;

 private:
  void CloseWhenIdle();

  TMainLoaderForm& main_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer idleCheck_;
  bool pending_ = false;
  struct sigaction previousTerm_ {};
  struct sigaction previousHangUp_ {};
};
