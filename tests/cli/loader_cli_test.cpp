// loader-cli in-process on virtual time: its exit statuses, its plain and JSON output and its
// answers to the adapter retry dialog.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "json_report.h"
#include "link_rig.h"
#include "loader_cli.h"

namespace {

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
  return text;
}

class LoaderCli : public ::testing::Test {
 protected:
  LoaderCli() {
    folder = std::filesystem::temp_directory_path() /
             ("loader-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    WriteSettings("[Options]\nUseDevice=0\nIO_Auto=1\n");
  }
  ~LoaderCli() override { std::filesystem::remove_all(folder); }

  void WriteSettings(const std::string& text) { std::ofstream(folder / "Morvane.ini") << text; }

  int Run(std::vector<std::string> arguments = {}) {
    auto settings = platform::ProfileAtPath((folder / "Morvane.ini").string());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    TerminalStreams streams{out, stdin, false, false, err};
    const int status = RunLoaderCli(
        arguments, streams, {rig->clock, rig->ports, rig->devices, rig->libraries}, *settings);
    output = ReadAll(out);
    errors = ReadAll(err);
    std::fclose(out);
    std::fclose(err);
    return status;
  }

  std::string LastLine() const { return LastLineOf(output); }
  static std::string LastLineOf(const std::string& text) {
    return text.substr(text.rfind('\n', text.size() - 2) + 1);
  }

  std::filesystem::path folder;
  std::unique_ptr<test::LinkRig> rig = std::make_unique<test::LinkRig>();
  std::string output;
  std::string errors;
};

struct StatusCase {
  const char* name;
  std::function<void(test::LinkRig&)> setUp;
  int status;
  const char* lastLine;
  const char* result;  // as the last JSON line names it
};

TEST_F(LoaderCli, ExitStatusesTellHowTheUpdateEnded) {
  const StatusCase cases[] = {
      {"ready", [](auto&) {}, kCliReady, "Fortschritt: 100 %", "ready"},
      {"no module", [](auto& r) { r.ports.AttachModule(nullptr, 0); }, kCliNotOpened,
       "Beachten Sie bitte, dass mit diesem Programm nur Morvane Module getestet werden können !",
       "not-opened"},
      {"integrity failed", [](auto& r) { r.module->FailIntegrity(); }, kCliFailed,
       "[Fehler] Integritätstest fehlgeschlagen", "failed"},
      {"module holds the image", [](auto& r) { r.module->SetCardSoftware(r.module->Image()); },
       kCliAlreadyCurrent, "[Information] Die Software im Modul war identisch !", "identical"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool json : {false, true}) {
      rig = std::make_unique<test::LinkRig>();
      c.setUp(*rig);
      EXPECT_EQ(Run(json ? std::vector<std::string>{"--json"} : std::vector<std::string>{}),
                c.status);
      ASSERT_FALSE(output.empty());
      EXPECT_EQ(LastLine(), json ? "{\"type\":\"result\",\"result\":\"" + std::string(c.result) +
                                       "\",\"status\":" + std::to_string(c.status) + "}\n"
                                 : std::string(c.lastLine) + "\n");
    }
  }
}

TEST_F(LoaderCli, SecondRunAgainstTheSameModuleFindsTheSoftwareIdentical) {
  ASSERT_EQ(Run(), kCliReady);
  EXPECT_EQ(Run(), kCliAlreadyCurrent);
  EXPECT_EQ(LastLine(), "[Information] Die Software im Modul war identisch !\n");
}

TEST_F(LoaderCli, PlainOutputListsTheStatusLinesAndProgress) {
  ASSERT_EQ(Run(), kCliReady);
  EXPECT_EQ(output,
            "Granit V1.22\nSuche CI Modul...\nVorbereitung...\nFortschritt: 10 %\n"
            "Fortschritt: 20 %\nFortschritt: 30 %\nFortschritt: 40 %\nFortschritt: 50 %\n"
            "Fortschritt: 60 %\nFortschritt: 70 %\nFortschritt: 81 %\nIntegritätstest...\n"
            "Modul wird programmiert...\nReady\nFortschritt: 100 %\n");
  EXPECT_TRUE(rig->module->ReceivedImageIntact());
}

TEST_F(LoaderCli, ReadsItsTransportFromTheSettingsFile) {
  WriteSettings("[Options]\nUseDevice=1\n");
  EXPECT_EQ(Run(), kCliNotOpened);
  EXPECT_EQ(rig->devices.opened, std::vector<std::string>{"\\\\.\\DOV_IDDev"});
  EXPECT_NE(output.find("[Fehler] Gerät nicht vorhanden oder nicht bereit !\nStellen Sie"),
            std::string::npos);
}

TEST_F(LoaderCli, AcceptsOnlyJsonHelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), kCliReady);
  EXPECT_NE(output.find("Rückgabewerte"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), kCliReady);
  EXPECT_EQ(output, "loader-cli 1.22.0, Update Granit V1.22\n");
  EXPECT_EQ(Run({"-v"}), kCliUsage);
  EXPECT_EQ(Run({"extra"}), kCliUsage);
  // With --json the output stays JSON; the explanation goes to the error stream.
  EXPECT_EQ(Run({"extra", "--json"}), kCliUsage);
  EXPECT_EQ(output, "{\"type\":\"result\",\"result\":\"usage\",\"status\":64}\n");
  EXPECT_EQ(errors.rfind("Unbekannte Angabe: extra\n", 0), 0u);
  EXPECT_EQ(rig->module->MessageCount(), 0);
}

TEST_F(LoaderCli, JsonLinesTellEveryStatusLineAndProgressStep) {
  ASSERT_EQ(Run({"--json"}), kCliReady);
  std::string expected =
      "{\"type\":\"update\",\"title\":\"Granit V1.22\"}\n"
      "{\"type\":\"status\",\"text\":\"Suche CI Modul...\"}\n"
      "{\"type\":\"status\",\"text\":\"Vorbereitung...\"}\n";
  int last = 0;
  const auto progress = [&](int percent) {
    if (percent != last)
      expected += "{\"type\":\"progress\",\"percent\":" + std::to_string(percent) + "}\n";
    last = percent;
  };
  for (int step = 1; step <= 65; ++step) progress(step * 128 * 60 / 8320);
  for (int percent : {65, 70, 76, 81, 87}) progress(percent);
  expected +=
      "{\"type\":\"status\",\"text\":\"Integritätstest...\"}\n"
      "{\"type\":\"status\",\"text\":\"Modul wird programmiert...\"}\n"
      "{\"type\":\"status\",\"text\":\"Ready\"}\n"
      "{\"type\":\"progress\",\"percent\":100}\n"
      "{\"type\":\"result\",\"result\":\"ready\",\"status\":0}\n";
  EXPECT_EQ(output, expected);
}

TEST_F(LoaderCli, JsonMessagesKeepTheirTextsAndTitles) {
  const auto endsWith = [this](const std::string& tail) {
    return output.size() >= tail.size() &&
           output.compare(output.size() - tail.size(), tail.size(), tail) == 0;
  };
  rig->module->SilenceAt(131);  // the first chunk: the time-out box, then the dialog
  ASSERT_EQ(Run({"--json"}), kCliFailed);
  EXPECT_TRUE(endsWith(
      "{\"type\":\"progress\",\"percent\":60}\n"
      "{\"type\":\"message\",\"title\":\"Fehler\",\"text\":\"Timeout, keine Antwort vom Modul\"}\n"
      "{\"type\":\"status\",\"text\":\"\"}\n{\"type\":\"progress\",\"percent\":0}\n"
      "{\"type\":\"message\",\"title\":\"Fehler\",\"text\":\"Fehler beim Einlesen der Daten "
      "aufgetreten\"}\n{\"type\":\"result\",\"result\":\"failed\",\"status\":2}\n"))
      << output;
  rig = std::make_unique<test::LinkRig>();
  rig->ports.AttachModule(nullptr, 0);
  ASSERT_EQ(Run({"--json"}), kCliNotOpened);
  EXPECT_TRUE(endsWith(
      "{\"type\":\"message\",\"title\":\"Fehler\",\"text\":\"Common Interface Modul nicht "
      "gefunden oder nicht bereit.\\r\\nStellen Sie sicher, dass die PCMCIA Hardware richtig "
      "installiert ist.\\r\\nBeachten Sie bitte, dass mit diesem Programm nur Morvane Module "
      "getestet werden können !\"}\n{\"type\":\"status\",\"text\":\"\"}\n"
      "{\"type\":\"result\",\"result\":\"not-opened\",\"status\":1}\n"))
      << output;
}

// Ports that raise signals at the program, as a user or the system would, once the module has
// received a given number of messages (0: at the first port access, while the link opens).
class SignallingPorts final : public platform::PortIo {
 public:
  SignallingPorts(test::LinkRig& rig, int atMessage, std::vector<int> signals)
      : rig_(rig), atMessage_(atMessage), signals_(std::move(signals)) {}
  std::uint8_t In(std::uint16_t port) override {
    Poke();
    return rig_.ports.In(port);
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    Poke();
    rig_.ports.Out(port, value);
  }

 private:
  void Poke() {
    if (signals_.empty() || rig_.module->MessageCount() < atMessage_) return;
    for (int signal : signals_) std::raise(signal);
    signals_.clear();
  }
  test::LinkRig& rig_;
  int atMessage_;
  std::vector<int> signals_;
};

// Requests to end and lost output, as the user sees them: nothing is sent after the request
// (the module holds exactly the messages it had when the signal came), the link is closed once,
// a message and the result line come last, and the exit status says how it ended.
struct HostileCase {
  const char* name;
  std::vector<int> signals;
  int atMessage;
  const char* output;  // "file", "full" (/dev/full), "pipe" (its reader gone), "closed"
  int status;
  const char* result;
  int messagesSent;
  const char* lastMessage;  // the last message shown, empty for none
  const char* errorText;    // on the error stream
};

TEST_F(LoaderCli, StopsAtTheNextMessageOnRequestAndTellsLostOutput) {
  constexpr const char* kStopped =
      "{\"type\":\"message\",\"title\":\"Information\",\"text\":\"Das Update wurde "
      "abgebrochen, bevor das Modul programmiert wurde.\"}";
  const HostileCase cases[] = {
      {"interrupt while opening",
       {SIGINT},
       0,
       "file",
       kCliStopped,
       "stopped",
       0,
       kStopped,
       "Abbruch angefordert"},
      {"hang-up in the preparation",
       {SIGHUP},
       3,
       "file",
       kCliStopped,
       "stopped",
       3,
       kStopped,
       "Abbruch angefordert"},
      {"termination mid-transfer",
       {SIGTERM},
       700,
       "file",
       kCliStopped,
       "stopped",
       700,
       kStopped,
       "Abbruch angefordert"},
      {"interrupt twice",
       {SIGINT, SIGINT},
       900,
       "file",
       kCliStopped,
       "stopped",
       900,
       kStopped,
       "Das Update wird gerade beendet, bitte warten."},
      // The module programs itself after message 1532: its verdict comes first.
      {"interrupt while programming",
       {SIGINT},
       1532,
       "file",
       kCliReady,
       "ready",
       1532,
       "",
       "Das Modul programmiert sich gerade"},
      {"full disk",
       {},
       0,
       "full",
       kCliOutputLost,
       "ready",
       1532,
       nullptr,
       "Die Ausgabe ging verloren; das Update endete mit \"ready\" (0)."},
      {"reader of the pipe gone",
       {},
       0,
       "pipe",
       kCliOutputLost,
       "ready",
       1532,
       nullptr,
       "Die Ausgabe ging verloren"},
      {"output closed",
       {},
       0,
       "closed",
       kCliOutputLost,
       "ready",
       1532,
       nullptr,
       "Die Ausgabe ging verloren"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig = std::make_unique<test::LinkRig>();
    SignallingPorts ports(*rig, c.atMessage, c.signals);
    auto settings = platform::ProfileAtPath((folder / "Morvane.ini").string());
    std::FILE* out = nullptr;
    const std::string kind = c.output;
    if (kind == "file") out = std::tmpfile();
    if (kind == "full") out = std::fopen("/dev/full", "w");
    if (kind == "closed") out = std::fopen("/dev/null", "r");
    if (kind == "pipe") {
      int ends[2];
      ASSERT_EQ(::pipe(ends), 0);
      ::close(ends[0]);
      out = ::fdopen(ends[1], "w");
    }
    ASSERT_NE(out, nullptr);
    std::FILE* err = std::tmpfile();
    const int status = RunLoaderCli({"--json"}, TerminalStreams{out, stdin, false, false, err},
                                    {rig->clock, ports, rig->devices, rig->libraries}, *settings);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(rig->module->MessageCount(), c.messagesSent);
    EXPECT_EQ(rig->Closes(), 1);
    EXPECT_NE(ReadAll(err).find(c.errorText), std::string::npos) << ReadAll(err);
    if (kind == "file") {
      output = ReadAll(out);
      const std::string result = "{\"type\":\"result\",\"result\":\"" + std::string(c.result) +
                                 "\",\"status\":" + std::to_string(c.status) + "}\n";
      EXPECT_EQ(LastLine(), result);
      const std::string before = output.substr(0, output.size() - result.size());
      if (*c.lastMessage != '\0') {
        EXPECT_EQ(LastLineOf(before), std::string(c.lastMessage) + "\n");
      }
    }
    std::fclose(out);
    std::fclose(err);
  }
}

struct RetryCase {
  const char* typed;
  bool inputIsTerminal;
  bool again;
  bool json = false;
};

TEST(TerminalRetryDialog, AnswersFromTheTerminalOrCancels) {
  const RetryCase cases[] = {
      {"o\n", true, true},       {"OK\n", true, true},       {"\n", true, true},
      {"a\n", true, false},      {"x\na\n", true, false},    {"", true, false},  // end of input
      {"o\n", false, false},  // no terminal: nobody can answer, so it counts as cancelled
      {"o\n", true, true, true}, {"a\n", true, false, true}, {"o\n", false, false, true},
  };
  sim::VirtualClock clock;
  for (const auto& c : cases) {
    std::string typed = c.typed;
    std::FILE* in = fmemopen(typed.data(), typed.size() + 1, "r");
    if (typed.empty()) {
      std::fclose(in);
      in = std::tmpfile();
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const TerminalStreams streams{out, in, false, c.inputIsTerminal, err};
    if (!c.json) {
      TextReport report(streams);
      TerminalHost host(report, clock, [] {});
      EXPECT_EQ(host.AskRetry("Der gefundene VARAR-Adapter\r\nDrücken Sie OK"), c.again)
          << '"' << c.typed << '"';
      EXPECT_EQ(
          ReadAll(out).rfind("[Information] Der gefundene VARAR-Adapter\nDrücken Sie OK\n", 0), 0u);
    } else {
      JsonReport report(streams);
      EXPECT_EQ(report.AskRetry("Der gefundene VARAR-Adapter\r\nDrücken Sie OK"), c.again);
      EXPECT_EQ(ReadAll(out), std::string("{\"type\":\"retry\",\"text\":\"Der gefundene "
                                          "VARAR-Adapter\\r\\nDrücken Sie OK\",\"answer\":\"") +
                                  (c.again ? "ok" : "cancel") + "\"}\n");
      // A person at the terminal sees the question on the error stream.
      EXPECT_EQ(ReadAll(err).empty(), !c.inputIsTerminal);
    }
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
  }
}

struct JsonCase {
  const char* text;
  const char* literal;
};

TEST(JsonString, EscapesWhatJsonRequiresAndKeepsUtf8) {
  const JsonCase cases[] = {
      {"Ready", "\"Ready\""},
      {"Integritätstest...", "\"Integritätstest...\""},
      {"a \"b\" c\\d", "\"a \\\"b\\\" c\\\\d\""},
      {"Zeile\r\nZeile\t!", "\"Zeile\\r\\nZeile\\t!\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
      {"\xF0\x9F\x93\x80", "\"\xF0\x9F\x93\x80\""},   // four bytes, kept
      {"\xFF ok", "\"\\ufffd ok\""},                  // never valid in UTF-8
      {"\xC3", "\"\\ufffd\""},                        // cut short
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},             // overlong
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
      {"\xE4\xF6", "\"\\ufffd\\ufffd\""},             // Latin-1, not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.literal) << c.text;
}

}  // namespace
