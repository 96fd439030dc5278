#include "end_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "Main.h"

namespace {

int g_requestPipe[2] = {-1, -1};

void OnEndRequest(int) {
  const int saved = errno;
  const char request = 1;
  (void)!::write(g_requestPipe[1], &request, 1);
  errno = saved;
}

}  // namespace

EndRequests::EndRequests(TMainLoaderForm& main) : main_(main) {
  if (::pipe2(g_requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(g_requestPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char drained[16];
    while (::read(g_requestPipe[0], drained, sizeof drained) > 0) {
    }
    pending_ = true;
    CloseWhenIdle();
  });
  // The update pumps the message loop, so the request arrives during it; this looks again
  // once the update has returned.
  QObject::connect(&idleCheck_, &QTimer::timeout, [this] { CloseWhenIdle(); });
  idleCheck_.start(100);
  struct sigaction action {};
  action.sa_handler = OnEndRequest;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, &previousTerm_);
  ::sigaction(SIGHUP, &action, &previousHangUp_);
}

EndRequests::~EndRequests() {
  if (!notifier_) return;
  ::sigaction(SIGTERM, &previousTerm_, nullptr);
  ::sigaction(SIGHUP, &previousHangUp_, nullptr);
  notifier_.reset();
  for (int& end : g_requestPipe) {
    ::close(end);
    end = -1;
  }
}

void EndRequests::CloseWhenIdle() {
  if (!pending_ || main_.UpdateRunning()) return;
  pending_ = false;
  main_.close();
}
