// The update in a terminal: the host (message loop, boxes, retry dialog) and the view (status
// line, progress, messages) of loader-cli.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "clock.h"
#include "host.h"
#include "interval_ticker.h"
#include "update_view.h"

// Where loader-cli writes and reads; a test can hand it files instead of the terminal.
struct TerminalStreams {
  std::FILE* out = stdout;
  std::FILE* in = stdin;
  bool outIsTerminal = false;  // redraw one status line with a progress bar
  bool inIsTerminal = false;   // the retry dialog may ask
};
TerminalStreams StandardStreams();

// German texts break their lines with CR LF; a terminal wants LF.
std::string TerminalText(const std::string& text);

class TerminalHost final : public platform::Host {
 public:
  // `onTimer` runs every 100 ms of the clock while the procedure pumps.
  TerminalHost(TerminalStreams streams, platform::Clock& clock, std::function<void()> onTimer);

  void ProcessMessages() override { timer_.Poll(); }
  void ShowSystemMessage(const std::string& text, const std::string& title,
                         bool systemModal) override;
  bool AskRetry(const std::string& text) override;
  void Beep() override;

 private:
  TerminalStreams streams_;
  platform::IntervalTicker timer_;
};

class TerminalView final : public UpdateView {
 public:
  explicit TerminalView(TerminalStreams streams) : streams_(streams) {}
  ~TerminalView() override { Finish(); }

  void SetStatusLine(const std::string& text) override;
  void SetGauge(int percent) override;
  void SetButtonsEnabled(bool) override {}
  void ClearLabel2() override {}
  void ShowMessageForm(const std::string& text, const std::string& title) override;
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

// Prints a message box or dialog text with its title.
void PrintMessage(std::FILE* out, const std::string& title, const std::string& text);
