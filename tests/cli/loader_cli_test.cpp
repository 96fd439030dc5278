// loader-cli in-process on virtual time: its exit statuses, its plain output and its answers
// to the adapter retry dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

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
    TerminalStreams streams{out, stdin, false, false};
    const int status = RunLoaderCli(
        arguments, streams, {rig->clock, rig->ports, rig->devices, rig->libraries}, *settings);
    output = ReadAll(out);
    std::fclose(out);
    return status;
  }

  std::filesystem::path folder;
  std::unique_ptr<test::LinkRig> rig = std::make_unique<test::LinkRig>();
  std::string output;
};

struct StatusCase {
  const char* name;
  std::function<void(test::LinkRig&)> setUp;
  int status;
  const char* lastLine;
};

TEST_F(LoaderCli, ExitStatusesTellHowTheUpdateEnded) {
  const StatusCase cases[] = {
      {"ready", [](auto&) {}, kCliReady, "Fortschritt: 100 %"},
      {"no module", [](auto& r) { r.ports.AttachModule(nullptr, 0); }, kCliNotOpened,
       "Beachten Sie bitte, dass mit diesem Programm nur Morvane Module getestet werden können !"},
      {"integrity failed", [](auto& r) { r.module->FailIntegrity(); }, kCliFailed,
       "[Fehler] Integritätstest fehlgeschlagen"},
      {"same software", [](auto& r) { r.module->SetFinalText("OK   "); }, kCliAlreadyCurrent,
       "[Information] Die Software im Modul war identisch !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig = std::make_unique<test::LinkRig>();
    c.setUp(*rig);
    EXPECT_EQ(Run(), c.status);
    ASSERT_FALSE(output.empty());
    const auto lastLine = output.substr(output.rfind('\n', output.size() - 2) + 1);
    EXPECT_EQ(lastLine, std::string(c.lastLine) + "\n");
  }
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

TEST_F(LoaderCli, AcceptsOnlyHelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), kCliReady);
  EXPECT_NE(output.find("Rückgabewerte"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), kCliReady);
  EXPECT_EQ(output, "loader-cli 1.22.0, Update Granit V1.22\n");
  EXPECT_EQ(Run({"-v"}), kCliUsage);
  EXPECT_EQ(Run({"extra"}), kCliUsage);
  EXPECT_EQ(rig->module->MessageCount(), 0);
}

struct RetryCase {
  const char* typed;
  bool inputIsTerminal;
  bool again;
};

TEST(TerminalRetryDialog, AnswersFromTheTerminalOrCancels) {
  const RetryCase cases[] = {
      {"o\n", true, true},   {"OK\n", true, true},    {"\n", true, true},
      {"a\n", true, false},  {"x\na\n", true, false}, {"", true, false},  // end of input
      {"o\n", false, false},  // no terminal: nobody can answer, so it counts as cancelled
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
    TerminalHost host({out, in, false, c.inputIsTerminal}, clock, [] {});
    EXPECT_EQ(host.AskRetry("Der gefundene VARAR-Adapter\r\nDrücken Sie OK"), c.again)
        << '"' << c.typed << '"';
    const auto shown = ReadAll(out);
    EXPECT_EQ(shown.rfind("[Information] Der gefundene VARAR-Adapter\nDrücken Sie OK\n", 0), 0u);
    std::fclose(in);
    std::fclose(out);
  }
}

}  // namespace
