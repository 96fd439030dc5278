#include "stop_requests.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#endif

namespace {

constexpr const char* kFirstRequest =
    "loader-cli: Abbruch angefordert, das Update hält vor der nächsten Nachricht an.\n";
constexpr const char* kWhileProgramming =
    "loader-cli: Das Modul programmiert sich gerade; das Update endet, sobald es fertig ist.\n";
constexpr const char* kFinishing = "loader-cli: Das Update wird gerade beendet, bitte warten.\n";

std::atomic<int> g_requests{0};
std::atomic<bool> g_programming{false};
std::atomic<int> g_errorDescriptor{2};

// Only what a signal handler may do: atomics and one write.
void AnswerRequest() {
  const int count = g_requests.fetch_add(1) + 1;
  const char* text = g_programming.load() ? kWhileProgramming
                     : count == 1         ? kFirstRequest
                                          : kFinishing;
#ifdef _WIN32
  (void)_write(g_errorDescriptor.load(), text, static_cast<unsigned>(std::strlen(text)));
#else
  const int saved = errno;
  (void)!::write(g_errorDescriptor.load(), text, std::strlen(text));
  errno = saved;
#endif
}

#ifdef _WIN32
HANDLE g_runEnded = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      AnswerRequest();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: hold it until the update has stopped (Windows
      // allows a few seconds for that).
      AnswerRequest();
      if (g_runEnded != nullptr) ::WaitForSingleObject(g_runEnded, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}
#else
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kStopSignals.size()> g_previous{};
struct sigaction g_previousPipe {};

void OnStopSignal(int) {
  AnswerRequest();
}
#endif

}  // namespace

StopRequests::StopRequests(std::FILE* errors) {
  g_requests = 0;
  g_programming = false;
#ifdef _WIN32
  g_errorDescriptor = errors != nullptr ? _fileno(errors) : 2;
  g_runEnded = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  g_errorDescriptor = errors != nullptr ? fileno(errors) : 2;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;  // a read or write under way goes on
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (std::size_t i = 0; i < kStopSignals.size(); ++i)
    ::sigaction(kStopSignals[i], &action, &g_previous[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &g_previousPipe);
#endif
}

StopRequests::~StopRequests() {
#ifdef _WIN32
  ::SetEvent(g_runEnded);
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
  for (std::size_t i = 0; i < kStopSignals.size(); ++i)
    ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
  ::sigaction(SIGPIPE, &g_previousPipe, nullptr);
#endif
}

bool StopRequests::Requested() const {
  return g_requests.load() > 0;
}

void StopRequests::ModuleProgramming(bool underway) {
  g_programming = underway;
}
