#include "terminal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cctype>

namespace {
constexpr int kBarWidth = 40;
constexpr int kPlainProgressStep = 10;  // without a terminal, a line every 10 %
}  // namespace

TerminalStreams StandardStreams() {
#ifdef _WIN32
  return {stdout, stdin, _isatty(_fileno(stdout)) != 0, _isatty(_fileno(stdin)) != 0, stderr};
#else
  return {stdout, stdin, isatty(fileno(stdout)) != 0, isatty(fileno(stdin)) != 0, stderr};
#endif
}

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

void PrintMessage(std::FILE* out, const std::string& title, const std::string& text) {
  std::fprintf(out, "[%s] %s\n", title.c_str(), TerminalText(text).c_str());
  std::fflush(out);
}

bool AskOkOrCancel(std::FILE* in, std::FILE* prompt) {
  for (;;) {
    std::fputs("[O]K / [A]bbrechen? ", prompt);
    std::fflush(prompt);
    char line[64];
    if (std::fgets(line, sizeof line, in) == nullptr) return false;
    const char answer = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    if (answer == 'o' || answer == '\n') return true;
    if (answer == 'a') return false;
  }
}

TerminalHost::TerminalHost(CliReport& report, platform::Clock& clock, std::function<void()> onTimer,
                           StopRequests* stops)
    : report_(report), stops_(stops), timer_(clock, 100, std::move(onTimer)) {}

void TextReport::ShowHeader(const std::string& title, const std::string& cornerLabel) {
  std::fprintf(streams_.out, "%s\n", title.c_str());
  if (!cornerLabel.empty()) std::fprintf(streams_.out, "%s\n", cornerLabel.c_str());
  std::fflush(streams_.out);
}

void TextReport::ShowSystemMessage(const std::string& text, const std::string& title) {
  Finish();
  PrintMessage(streams_.out, title, text);
}

bool TextReport::AskRetry(const std::string& text) {
  Finish();
  PrintMessage(streams_.out, "Information", text);
  if (!streams_.inIsTerminal) {
    // Nobody can answer: the dialog counts as cancelled rather than waiting forever.
    std::fputs("Keine Eingabe möglich: Abbrechen.\n", streams_.out);
    std::fflush(streams_.out);
    return false;
  }
  return AskOkOrCancel(streams_.in, streams_.out);
}

void TextReport::Beep() {
  if (streams_.outIsTerminal) {
    std::fputc('\a', streams_.out);
    std::fflush(streams_.out);
  }
}

void TextReport::SetStatusLine(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  if (streams_.outIsTerminal) {
    Redraw();
  } else if (!text.empty()) {
    std::fprintf(streams_.out, "%s\n", text.c_str());
    std::fflush(streams_.out);
  }
}

void TextReport::SetGauge(int percent) {
  if (percent == percent_) return;
  percent_ = percent;
  if (streams_.outIsTerminal) {
    Redraw();
  } else if (percent > 0 && (percent == 100 || percent / kPlainProgressStep !=
                                                   lastPrintedPercent_ / kPlainProgressStep)) {
    lastPrintedPercent_ = percent;
    std::fprintf(streams_.out, "Fortschritt: %d %%\n", percent);
    std::fflush(streams_.out);
  } else if (percent == 0) {
    lastPrintedPercent_ = -1;
  }
}

void TextReport::ShowMessageForm(const std::string& text, const std::string& title) {
  Finish();
  PrintMessage(streams_.out, title, text);
}

void TextReport::Redraw() {
  const int filled = percent_ * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::fprintf(streams_.out, "\r\033[2K[%s] %3d %%  %s", bar.c_str(), percent_, status_.c_str());
  std::fflush(streams_.out);
  lineOpen_ = true;
}

void TextReport::Finish() {
  if (!lineOpen_) return;
  std::fputc('\n', streams_.out);
  std::fflush(streams_.out);
  lineOpen_ = false;
}
