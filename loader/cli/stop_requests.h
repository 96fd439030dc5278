// Requests to end loader-cli while it updates: Ctrl-C, SIGTERM and SIGHUP on Linux; the
// console's Ctrl-C, Ctrl-Break and close (also log-off and shut-down) on Windows. None of them
// ends the program at once: the update asks before each message and stops there, and once the
// module is programming itself it waits for the verdict first. Each request is answered on the
// error stream at once, so whoever pressed Ctrl-C a second time knows the program is finishing.
//
// While a StopRequests lives, SIGPIPE is ignored too: a pipe closed by its reader makes the
// writes fail instead of ending the update; the program notes it and tells at the end.
#pragma once

#include <cstdio>

class StopRequests {
 public:
  // Installs the handlers; `errors` is where the immediate answers go.
  explicit StopRequests(std::FILE* errors);
  // Puts back what was there before (on Windows it also lets a waiting console close go on).
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  bool Requested() const;
  // Between the message that lets the module program itself and its verdict.
  void ModuleProgramming(bool underway);
};
