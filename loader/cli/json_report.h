// loader-cli --json: one JSON object per line for each thing the update tells, for programs
// that drive loader-cli. The texts are the program's own, unchanged (UTF-8, the CR LF of
// message texts kept as \r\n):
//
//   {"type":"update","title":"Granit V1.22"}            ("label" too when the image has one)
//   {"type":"status","text":"Vorbereitung..."}          each change of the status line
//   {"type":"progress","percent":60}                    each change of the progress gauge
//   {"type":"message","title":"Fehler","text":"..."}    each message (dialog or message box)
//   {"type":"retry","text":"...","answer":"cancel"}     the adapter retry dialog and its answer
//   {"type":"result","result":"ready","status":0}       last: how the run ended, exit status
#pragma once

#include <string>

#include "terminal.h"

// `text` as a JSON string literal, quotes included: UTF-8 passes unchanged, quote, backslash
// and control characters are escaped, and a byte that is not part of valid UTF-8 becomes
// U+FFFD, so the line is always valid JSON.
std::string JsonString(const std::string& text);

class JsonReport final : public CliReport {
 public:
  explicit JsonReport(TerminalStreams streams) : streams_(streams) {}

  void SetStatusLine(const std::string& text) override;
  void SetGauge(int percent) override;
  void ShowMessageForm(const std::string& text, const std::string& title) override;
  void ShowHeader(const std::string& title, const std::string& cornerLabel) override;
  void ShowSystemMessage(const std::string& text, const std::string& title) override;
  // Asks on the terminal (on the error stream, keeping the output JSON) when the input is one;
  // otherwise nobody can answer and the dialog counts as cancelled.
  bool AskRetry(const std::string& text) override;
  void Beep() override {}
  void ShowResult(const std::string& result, int status) override;

 private:
  void Line(const std::string& fields);

  TerminalStreams streams_;
  std::string status_;
  int percent_ = 0;
};
