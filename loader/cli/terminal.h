// The update in a terminal: the host (message loop, boxes, retry dialog) of loader-cli and the
// report that tells what happens, as text for people or as JSON lines for programs.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "clock.h"
#include "host.h"
#include "interval_ticker.h"
#include "stop_requests.h"
#include "update_view.h"

// Where loader-cli writes and reads; a test can hand it files instead of the terminal.
struct TerminalStreams {
  std::FILE* out = stdout;
  std::FILE* in = stdin;
  bool outIsTerminal = false;  // redraw one status line with a progress bar
  bool inIsTerminal = false;   // the retry dialog may ask
  std::FILE* err = stderr;     // for people, when `out` carries JSON lines
};
TerminalStreams StandardStreams();

// German texts break their lines with CR LF; a terminal wants LF.
std::string TerminalText(const std::string& text);

// Prints a message box or dialog text with its title.
void PrintMessage(std::FILE* out, const std::string& title, const std::string& text);

// The retry dialog's question on a terminal: true for OK (also a bare Enter), false for
// Abbrechen or the end of input. The question goes to `prompt`.
bool AskOkOrCancel(std::FILE* in, std::FILE* prompt);

// What loader-cli tells: the update procedure's view, the host's boxes and retry dialog, and
// how the run ended.
class CliReport : public UpdateView {
 public:
  void SetButtonsEnabled(bool) override {}
  void ClearLabel2() override {}
  // The update's title line, and the corner label when the image has one (empty otherwise).
  virtual void ShowHeader(const std::string& title, const std::string& cornerLabel) = 0;
  virtual void ShowSystemMessage(const std::string& text, const std::string& title) = 0;
  virtual bool AskRetry(const std::string& text) = 0;
  virtual void Beep() = 0;
  // `result` names the ending (see ResultName), `status` is the exit status.
  virtual void ShowResult(const std::string& result, int status) = 0;
};

// For people: on a terminal one line redrawn in place with a progress bar, otherwise each
// status line and every tenth percent on a line of its own; messages with their titles.
class TextReport final : public CliReport {
 public:
  explicit TextReport(TerminalStreams streams) : streams_(streams) {}
  ~TextReport() override { Finish(); }

  void SetStatusLine(const std::string& text) override;
  void SetGauge(int percent) override;
  void ShowMessageForm(const std::string& text, const std::string& title) override;
  void ShowHeader(const std::string& title, const std::string& cornerLabel) override;
  void ShowSystemMessage(const std::string& text, const std::string& title) override;
  bool AskRetry(const std::string& text) override;
  void Beep() override;
  void ShowResult(const std::string&, int) override { Finish(); }
  // Ends the redrawn line so that later output starts on a line of its own.
  void Finish();

 private:
  void Redraw();

  TerminalStreams streams_;
  std::string status_;
  int percent_ = 0;
  int lastPrintedPercent_ = -1;
  bool lineOpen_ = false;
};

class TerminalHost final : public platform::Host {
 public:
  // `onTimer` runs every 100 ms of the clock while the procedure pumps; `stops`, when given,
  // tells the update that the program was asked to end.
  TerminalHost(CliReport& report, platform::Clock& clock, std::function<void()> onTimer,
               StopRequests* stops = nullptr);

  void ProcessMessages() override { timer_.Poll(); }
  void ShowSystemMessage(const std::string& text, const std::string& title, bool) override {
    report_.ShowSystemMessage(text, title);
  }
  bool AskRetry(const std::string& text) override { return report_.AskRetry(text); }
  void Beep() override { report_.Beep(); }
  bool StopRequested() override { return stops_ != nullptr && stops_->Requested(); }
  void ModuleProgramming(bool underway) override {
    if (stops_ != nullptr) stops_->ModuleProgramming(underway);
  }

 private:
  CliReport& report_;
  StopRequests* stops_;
  platform::IntervalTicker timer_;
};
