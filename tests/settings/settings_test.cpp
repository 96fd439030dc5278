// The settings file: value forms, the profile file's reading and writing rules, loading the
// link settings and the window position, and saving them in order.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "settings.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "settings-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, error);
    fs::remove_all(path_, error);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A link with nothing behind it: the settings only touch its record.
struct IdleLink {
  sim::VirtualClock clock;
  sim::SimPortSpace ports;
  sim::SimHost host{clock, [] {}};
  struct NoDevices : platform::DeviceIo {
    platform::DeviceHandle Open(const std::string&) override {
      return platform::kInvalidDeviceHandle;
    }
    bool Control(platform::DeviceHandle, std::uint32_t, const void*, std::uint32_t, void*,
                 std::uint32_t, std::uint32_t*) override {
      return false;
    }
    void Close(platform::DeviceHandle) override {}
  } devices;
  struct NoLibraries : platform::LibraryLoader {
    platform::LibraryHandle Load(const std::string&) override { return nullptr; }
    void* Find(platform::LibraryHandle, const char*) override { return nullptr; }
    void Unload(platform::LibraryHandle) override {}
    std::string ProgramFolder() override { return "/"; }
  } libraries;
  ModuleLink link{LinkServices{clock, ports, devices, libraries, host}};
};

// --- Value forms ------------------------------------------------------------------------

struct IntegerCase {
  const char* text;
  std::int32_t expected;
};

class IntegerForms : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerForms, ParseAsTheProfileReaderDoes) {
  EXPECT_EQ(ParseSettingsInteger(GetParam().text, -77), GetParam().expected)
      << "text \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IntegerForms,
    ::testing::Values(IntegerCase{"800", 800}, IntegerCase{"0", 0}, IntegerCase{"-5", -5},
                      IntegerCase{"+7", 7}, IntegerCase{"0x340", 832}, IntegerCase{"0X340", 832},
                      IntegerCase{"0x0", 0}, IntegerCase{"$340", 832}, IntegerCase{"$ff", 255},
                      IntegerCase{"$FFFFFFFF", -1}, IntegerCase{"-$10", -77},
                      IntegerCase{"0340", 340},  // a leading zero alone is still decimal
                      IntegerCase{"2147483647", 2147483647},
                      IntegerCase{"-2147483648", -2147483647 - 1},
                      // not numbers: the default
                      IntegerCase{"", -77}, IntegerCase{"0x", -77}, IntegerCase{"0X", -77},
                      IntegerCase{"$", -77}, IntegerCase{"-", -77}, IntegerCase{"abc", -77},
                      IntegerCase{"12a", -77}, IntegerCase{"0x1G", -77}, IntegerCase{"x10", -77},
                      IntegerCase{"1 2", -77}, IntegerCase{"2147483648", -77},
                      IntegerCase{"99999999999999999999", -77}, IntegerCase{"$123456789", -77},
                      IntegerCase{"0x-1", -77}, IntegerCase{"--1", -77}, IntegerCase{"+$10", -77},
                      IntegerCase{"-0x10", -77}, IntegerCase{"$-1", -77}));

// --- The profile file -----------------------------------------------------------------------

struct ReadCase {
  const char* name;
  const char* file;  // nullptr: no file
  const char* section;
  const char* key;
  const char* expected;  // with the default "dflt"
};

class ProfileReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReading, FindsTheValueAsThePlatformDoes) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  if (GetParam().file != nullptr) WriteText(path, GetParam().file);
  auto profile = platform::ProfileAtPath(path);
  EXPECT_EQ(profile->ReadString(GetParam().section, GetParam().key, "dflt", 1024),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProfileReading,
    ::testing::Values(
        ReadCase{"NoFile", nullptr, "Options", "IO_Base", "dflt"},
        ReadCase{"Plain", "[Options]\nIO_Base=800\n", "Options", "IO_Base", "800"},
        ReadCase{"CrLf", "[Options]\r\nIO_Base=800\r\n", "Options", "IO_Base", "800"},
        ReadCase{"NoFinalLineEnd", "[Options]\nIO_Base=800", "Options", "IO_Base", "800"},
        ReadCase{"NamesIgnoreCase", "[options]\nio_base=801\n", "Options", "IO_Base", "801"},
        ReadCase{"BlanksDropped", "  [ Options ]  \n  IO_Base  =  802  \n", "Options", "IO_Base",
                 "802"},
        ReadCase{"QuotesDropped", "[Options]\nIO_Base=\"803\"\n", "Options", "IO_Base", "803"},
        ReadCase{"SingleQuotes", "[Options]\nIO_Base='804'\n", "Options", "IO_Base", "804"},
        ReadCase{"UnpairedQuoteKept", "[Options]\nIO_Base=\"805\n", "Options", "IO_Base", "\"805"},
        ReadCase{"EmptyValue", "[Options]\nIO_Base=\n", "Options", "IO_Base", ""},
        ReadCase{"KeyInOtherSection", "[Desktop]\nIO_Base=1\n[Options]\nLeft=2\n", "Options",
                 "IO_Base", "dflt"},
        ReadCase{"FirstKeyWins", "[Options]\nIO_Base=1\nIO_Base=2\n", "Options", "IO_Base", "1"},
        ReadCase{"FirstSectionWins", "[Options]\nX=1\n[Options]\nIO_Base=2\n", "Options", "IO_Base",
                 "dflt"},
        ReadCase{"CommentIsNoKey", "[Options]\n;IO_Base=9\nIO_Base=3\n", "Options", "IO_Base", "3"},
        ReadCase{"ValueWithEquals", "[Options]\nK=a=b\n", "Options", "K", "a=b"},
        ReadCase{"MissingSection", "[Desktop]\nLeft=1\n", "Options", "IO_Base", "dflt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileBuffer, ValuesAreCutToTheBuffer) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  WriteText(path, "[Options]\nLong=" + std::string(1500, '7') + "\n");
  auto profile = platform::ProfileAtPath(path);
  EXPECT_EQ(profile->ReadString("Options", "Long", "", 1024), std::string(1023, '7'));
  EXPECT_EQ(profile->ReadString("Options", "Missing", "abcdef", 4), "abc");
  // A number longer than the buffer is no number once cut: the default.
  EXPECT_EQ(ReadSettingsInteger(*profile, "Options", "Long", 5), 5);
}

struct WriteCase {
  const char* name;
  const char* before;  // nullptr: no file
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

class ProfileWriting : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriting, ChangesOnlyTheKeysLine) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  if (GetParam().before != nullptr) WriteText(path, GetParam().before);
  auto profile = platform::ProfileAtPath(path);
  ASSERT_TRUE(profile->WriteString(GetParam().section, GetParam().key, GetParam().value));
  EXPECT_EQ(ReadText(path), GetParam().after);
  EXPECT_EQ(profile->ReadString(GetParam().section, GetParam().key, "?", 1024), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProfileWriting,
    ::testing::Values(
        WriteCase{"CreatesTheFile", nullptr, "Desktop", "Left", "424", "[Desktop]\nLeft=424\n"},
        WriteCase{"ReplacesTheValue", "; mine\n[Options]\nIO_Base=0x340\nOther=1\n", "Options",
                  "IO_Base", "832", "; mine\n[Options]\nIO_Base=832\nOther=1\n"},
        WriteCase{"KeepsOtherSectionsAndComments",
                  "[User]\nName=x ; kept\n\n; note\n[Options]\nIO_Auto=1\n\n[Tail]\nT=1\n",
                  "Options", "SCM_Swap", "0",
                  "[User]\nName=x ; kept\n\n; note\n[Options]\nIO_Auto=1\nSCM_Swap=0\n\n[Tail]\n"
                  "T=1\n"},
        WriteCase{"AppendsSection", "[User]\nName=x\n", "Desktop", "Top", "178",
                  "[User]\nName=x\n\n[Desktop]\nTop=178\n"},
        WriteCase{"MatchesNamesIgnoringCase", "[OPTIONS]\nio_auto=1\n", "Options", "IO_Auto", "0",
                  "[OPTIONS]\nIO_Auto=0\n"},
        WriteCase{"KeepsWindowsLineEnds", "[Options]\r\nIO_Auto=1\r\n", "Options", "UseDevice", "1",
                  "[Options]\r\nIO_Auto=1\r\nUseDevice=1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWriting, FailedWritesReportFalseAndLeaveNoDebris) {
  TempFolder folder;
  WriteText(folder.File("plain"), "not a folder");
  fs::create_directory(folder.File("Morvane.ini"));
  // A file standing where the folder should be, and a folder where the file should be.
  for (const std::string& path :
       {folder.File("plain") + "/Morvane.ini", folder.File("Morvane.ini")}) {
    auto profile = platform::ProfileAtPath(path);
    EXPECT_FALSE(profile->WriteString("Options", "IO_Base", "832")) << path;
    EXPECT_EQ(profile->ReadString("Options", "IO_Base", "dflt", 1024), "dflt") << path;
  }
  EXPECT_EQ(ReadText(folder.File("plain")), "not a folder");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
}

TEST(ProfileWriting, UnwritableFolderFailsAndKeepsTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  WriteText(path, "[Options]\nIO_Base=800\n");
  fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  auto profile = platform::ProfileAtPath(path);
  EXPECT_FALSE(profile->WriteString("Options", "IO_Base", "832"));
  fs::permissions(folder.Path(), fs::perms::owner_all);
  EXPECT_EQ(ReadText(path), "[Options]\nIO_Base=800\n");
}

TEST(ProfileWriting, KeepsTheFilesPermissions) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  WriteText(path, "[Options]\nIO_Base=800\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(platform::ProfileAtPath(path)->WriteString("Options", "IO_Base", "832"));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// A read-only file is not changed, as the Windows write fails on it; a linked file is written
// through the link, which stays a link.
TEST(ProfileWriting, FailsOnAReadOnlyFileAndWritesThroughLinks) {
  struct Case {
    const char* name;
    bool readOnly;
    std::vector<std::pair<const char*, const char*>> links;  // link name -> what it points to
    const char* written;  // the file that ends up holding the value; nullptr: the write fails
  };
  const Case cases[] = {
      {"read-only", true, {}, nullptr},
      {"link", false, {{"Morvane.ini", "real.ini"}}, "real.ini"},
      {"chain of links", false, {{"Morvane.ini", "a.ini"}, {"a.ini", "real.ini"}}, "real.ini"},
      {"link to a read-only file", true, {{"Morvane.ini", "real.ini"}}, nullptr},
      {"dangling link", false, {{"Morvane.ini", "sub/new.ini"}}, "sub/new.ini"},
      {"loop", false, {{"Morvane.ini", "a.ini"}, {"a.ini", "Morvane.ini"}}, nullptr},
  };
  const char* const before = "[Options]\nIO_Base=800\n";
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string file = folder.File(c.links.empty() ? "Morvane.ini" : "real.ini");
    if (std::string(c.name) != "dangling link") WriteText(file, before);
    fs::create_directory(folder.File("sub"));
    for (const auto& [link, target] : c.links) fs::create_symlink(target, folder.File(link));
    if (c.readOnly) fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);

    auto profile = platform::ProfileAtPath(folder.File("Morvane.ini"));
    IdleLink idle;
    EXPECT_EQ(SaveSettings(*profile, {1, 2}, idle.link), c.written != nullptr) << c.name;
    for (const auto& [link, target] : c.links)
      EXPECT_TRUE(fs::is_symlink(folder.File(link))) << c.name << ": " << link;
    if (c.written == nullptr) {
      if (fs::exists(file)) {
        EXPECT_EQ(ReadText(file), before) << c.name;
      }
      EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()),
                static_cast<std::ptrdiff_t>(c.links.size() + 1 + (fs::exists(file) ? 1 : 0)))
          << c.name << ": no debris";
    } else {
      EXPECT_EQ(profile->ReadString("Desktop", "Top", "?", 1024), "2") << c.name;
      EXPECT_NE(ReadText(folder.File(c.written)).find("Top=2"), std::string::npos) << c.name;
    }
  }
}

// Only a regular file, after links, is a settings file: anything else reads as no file at once
// (a FIFO without a writer never holds the program, a device is never read) and is never
// written over.
TEST(HostileSettingsFiles, AnythingButARegularFileIsNoFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
  };
  const Case cases[] = {
      {"FIFO without a writer",
       [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"directory", [](const std::string& p) { fs::create_directory(p); }},
      {"socket",
       [](const std::string& p) {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, p.c_str(), sizeof address.sun_path - 1);
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(s);
       }},
      {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }},
      {"link to /dev/urandom", [](const std::string& p) { fs::create_symlink("/dev/urandom", p); }},
      {"link to a FIFO",
       [](const std::string& p) {
         ASSERT_EQ(::mkfifo((p + ".fifo").c_str(), 0600), 0);
         fs::create_symlink(p + ".fifo", p);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::string path = folder.File("m.ini");  // short: a socket path has little room
    c.make(path);
    const auto typeBefore = fs::symlink_status(path).type();
    auto profile = platform::ProfileAtPath(path);
    EXPECT_EQ(profile->ReadString("Options", "IO_Base", "dflt", 1024), "dflt");
    EXPECT_FALSE(profile->WriteString("Options", "IO_Base", "832"));
    EXPECT_EQ(fs::symlink_status(path).type(), typeBefore);
  }
}

// A large file is read in pieces: the memory the read takes does not grow with the file.
TEST(HostileSettingsFiles, ALargeFileIsReadWithBoundedMemory) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  {
    std::ofstream out(path, std::ios::binary);
    const std::string filler(1 << 20, 'x');
    for (int i = 0; i < 24; ++i) out << "[Filler]\n" << filler << "\n";  // 24 lines of 1 MiB
    out << "[Options]\nIO_Base=832\n";
  }
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(platform::ProfileAtPath(path)->ReadString("Options", "IO_Base", "?", 1024), "832");
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 4 * 1024) << "kB more at the peak";
}

TEST(ProfileWriting, RefusesTextsThatWouldNotReadBack) {
  TempFolder folder;
  auto profile = platform::ProfileAtPath(folder.File("Morvane.ini"));
  EXPECT_FALSE(profile->WriteString("Options", "IO_Base", "1\n[Evil]"));
  EXPECT_FALSE(profile->WriteString("Options", "A=B", "1"));
  EXPECT_FALSE(fs::exists(folder.File("Morvane.ini")));
}

// --- Where the file lives ------------------------------------------------------------------

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsLocation, ConfigFolderOfTheUser) {
  TempFolder folder;
  const std::string home = folder.File("home");
  const std::string config = folder.File("config");
  struct Case {
    const char* xdg;
    std::string expectedFolder;
  };
  for (const Case& c : {Case{config.c_str(), config}, Case{nullptr, home + "/.config"},
                        Case{"relative/ignored", home + "/.config"}}) {
    ScopedEnvironment homeVariable("HOME", home.c_str());
    ScopedEnvironment xdgVariable("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(platform::ProfileFolder(), c.expectedFolder);
    ASSERT_TRUE(OpenSettingsFile()->WriteString("Desktop", "Left", "1"));
    EXPECT_EQ(ReadText(c.expectedFolder + "/Morvane.ini"), "[Desktop]\nLeft=1\n");
    fs::remove(c.expectedFolder + "/Morvane.ini");
  }
}

// --- Loading ---------------------------------------------------------------------------------

struct LoadCase {
  const char* name;
  const char* file;  // nullptr: no file
  std::uint16_t ioBase;
  bool autoProbe;
  bool swapbox;
  bool useDriver;
};

class LinkSettingsLoading : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LinkSettingsLoading, FillsTheLinkRecord) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  if (GetParam().file != nullptr) WriteText(path, GetParam().file);
  IdleLink idle;
  // Start from the opposite of the expectation so that every field is shown to be written.
  idle.link.IOBaseSetting = static_cast<std::uint16_t>(~GetParam().ioBase);
  idle.link.AutoProbe = !GetParam().autoProbe;
  idle.link.SwapboxMode = !GetParam().swapbox;
  idle.link.UseDriver = !GetParam().useDriver;
  LoadLinkSettings(idle.link, *platform::ProfileAtPath(path));
  EXPECT_EQ(idle.link.IOBaseSetting, GetParam().ioBase);
  EXPECT_EQ(idle.link.AutoProbe, GetParam().autoProbe);
  EXPECT_EQ(idle.link.SwapboxMode, GetParam().swapbox);
  EXPECT_EQ(idle.link.UseDriver, GetParam().useDriver);
  EXPECT_EQ(GetParam().file == nullptr, !fs::exists(path)) << "loading never writes";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LinkSettingsLoading,
    ::testing::Values(
        LoadCase{"NoFile", nullptr, 800, true, false, true},
        LoadCase{"EmptyFile", "", 800, true, false, true},
        LoadCase{"AllSet", "[Options]\nIO_Base=864\nIO_Auto=0\nSCM_Swap=1\nUseDevice=0\n", 864,
                 false, true, false},
        LoadCase{"HexWithPrefix", "[Options]\nIO_Base=0x340\n", 832, true, false, true},
        LoadCase{"HexWithDollar", "[Options]\nIO_Base=$300\n", 768, true, false, true},
        LoadCase{"KeptIn16Bits", "[Options]\nIO_Base=70000\n", 70000 & 0xFFFF, true, false, true},
        LoadCase{"NegativeIn16Bits", "[Options]\nIO_Base=-1\n", 0xFFFF, true, false, true},
        LoadCase{"NotNumbersGiveDefaults",
                 "[Options]\nIO_Base=abc\nIO_Auto=yes\nSCM_Swap=true\nUseDevice=no\n", 800, true,
                 false, true},
        LoadCase{"AnyNonZeroIsTrue", "[Options]\nIO_Auto=0\nSCM_Swap=2\nUseDevice=-1\n", 800, false,
                 true, true},
        LoadCase{"HexBooleans", "[Options]\nSCM_Swap=0x1\nUseDevice=$0\n", 800, true, true, false},
        LoadCase{"WrongSection", "[Desktop]\nIO_Base=864\nIO_Auto=0\n", 800, true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowPositionLoading, StoredOrCurrentPerCoordinate) {
  struct Case {
    const char* file;
    WindowPosition expected;
  };
  const WindowPosition current{424, 178};
  for (const Case& c : {Case{nullptr, {424, 178}}, Case{"[Desktop]\nLeft=10\nTop=20\n", {10, 20}},
                        Case{"[Desktop]\nTop=-30\n", {424, -30}},
                        Case{"[Desktop]\nLeft=x\nTop=0x20\n", {424, 32}}}) {
    TempFolder folder;
    const std::string path = folder.File("Morvane.ini");
    if (c.file != nullptr) WriteText(path, c.file);
    EXPECT_EQ(LoadWindowPosition(*platform::ProfileAtPath(path), current), c.expected)
        << (c.file ? c.file : "(no file)");
  }
}

// --- Saving ----------------------------------------------------------------------------------

TEST(SettingsSaving, WritesEveryKeyInOrder) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  IdleLink idle;
  idle.link.IOBaseSetting = 0x340;
  idle.link.AutoProbe = false;
  idle.link.SwapboxMode = true;
  idle.link.UseDriver = false;
  EXPECT_TRUE(SaveSettings(*platform::ProfileAtPath(path), {-5, 700}, idle.link));
  EXPECT_EQ(ReadText(path),
            "[Desktop]\nLeft=-5\nTop=700\n\n[Options]\nIO_Base=832\nIO_Auto=0\nSCM_Swap=1\n"
            "UseDevice=0\n");
}

TEST(SettingsSaving, RoundTripKeepsTheUsersLines) {
  TempFolder folder;
  const std::string path = folder.File("Morvane.ini");
  WriteText(path, "; written by hand\n[Options]\nIO_Base=0x340\nComment=keep me\n\n[Mine]\nA=1\n");
  IdleLink idle;
  auto profile = platform::ProfileAtPath(path);
  LoadLinkSettings(idle.link, *profile);
  EXPECT_EQ(idle.link.IOBaseSetting, 832);
  EXPECT_TRUE(SaveSettings(*profile, {1, 2}, idle.link));
  EXPECT_EQ(ReadText(path),
            "; written by hand\n[Options]\nIO_Base=832\nComment=keep me\nIO_Auto=1\nSCM_Swap=0\n"
            "UseDevice=1\n\n[Mine]\nA=1\n\n[Desktop]\nLeft=1\nTop=2\n");
}

// A profile whose n-th write fails; records what was written.
class FailingProfile final : public platform::PrivateProfile {
 public:
  explicit FailingProfile(int failAt) : failAt_(failAt) {}
  std::string ReadString(const std::string&, const std::string&, const std::string& fallback,
                         std::size_t) override {
    return fallback;
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    ++attempts_;
    if (attempts_ == failAt_) return false;
    written_.push_back(section + "/" + key + "=" + value);
    return true;
  }
  int attempts_ = 0;
  std::vector<std::string> written_;

 private:
  int failAt_;
};

TEST(SettingsSaving, FirstFailedWriteEndsTheSaving) {
  const std::vector<std::string> all = {"Desktop/Left=424",    "Desktop/Top=178",
                                        "Options/IO_Base=800", "Options/IO_Auto=1",
                                        "Options/SCM_Swap=0",  "Options/UseDevice=1"};
  for (int failAt = 1; failAt <= 7; ++failAt) {
    IdleLink idle;
    idle.link.IOBaseSetting = 800;
    idle.link.AutoProbe = true;
    idle.link.UseDriver = true;
    FailingProfile profile(failAt);
    const bool saved = SaveSettings(profile, {424, 178}, idle.link);
    const std::size_t done = static_cast<std::size_t>(std::min(failAt - 1, 6));
    EXPECT_EQ(saved, failAt == 7) << "fail at " << failAt;
    EXPECT_EQ(profile.attempts_, std::min(failAt, 6)) << "no write after the failed one";
    EXPECT_EQ(profile.written_, std::vector<std::string>(all.begin(), all.begin() + done));
  }
}

}  // namespace
