// The files this build makes from its adapter ID list and for Windows: the libusb back end's
// table, the udev rule, and the two INF files, read as Windows reads them (sections, models,
// the device interface GUID, the file lists, the service).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "libusb_backend.h"

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.push_back(Trim(part));
  return parts;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << path;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The build's list, e.g. "1B0D:5F10;04B4:8613", as upper-case pairs.
std::vector<std::string> ConfiguredIds() {
  std::vector<std::string> ids;
  for (const std::string& id : Split(MORVANE_ADAPTER_IDS, ';')) ids.push_back(Upper(id));
  return ids;
}

// An INF file as sections of lines; section names compare without case, as Windows does.
// Comments (from a ';' outside quotes) and blank lines are dropped.
class InfFile {
 public:
  explicit InfFile(const std::string& path) {
    const std::string text = ReadFile(path);
    crlf_ = text.find("\r\n") != std::string::npos &&
            std::count(text.begin(), text.end(), '\n') ==
                static_cast<long>(std::count(text.begin(), text.end(), '\r'));
    std::string section;
    for (const std::string& raw : Split(text, '\n')) {
      std::string line;
      bool quoted = false;
      for (char c : raw) {
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) break;
        line += c;
      }
      line = Trim(line);
      if (line.empty()) continue;
      if (line.front() == '[' && line.back() == ']') {
        section = Upper(line.substr(1, line.size() - 2));
        EXPECT_EQ(sections_.count(section), 0u) << "section listed twice: " << section;
        sections_[section];
      } else {
        EXPECT_FALSE(section.empty()) << "line before the first section: " << line;
        sections_[section].push_back(line);
      }
    }
  }

  bool LinesEndInCrLf() const { return crlf_; }
  bool Has(const std::string& section) const { return sections_.count(Upper(section)) != 0; }
  std::vector<std::string> Lines(const std::string& section) const {
    const auto found = sections_.find(Upper(section));
    return found == sections_.end() ? std::vector<std::string>{} : found->second;
  }
  // The value of "key = value" in a section; empty when absent.
  std::string Value(const std::string& section, const std::string& key) const {
    for (const std::string& line : Lines(section)) {
      const auto equals = line.find('=');
      if (equals != std::string::npos && Upper(Trim(line.substr(0, equals))) == Upper(key)) {
        return Trim(line.substr(equals + 1));
      }
    }
    return "";
  }
  // The %tokens% used outside [Strings] that [Strings] does not define (numbers are the
  // system's folder IDs).
  std::vector<std::string> UndefinedStrings() const {
    std::vector<std::string> undefined;
    for (const auto& [section, lines] : sections_) {
      if (section == "STRINGS") continue;
      for (const std::string& line : lines) {
        for (auto start = line.find('%'); start != std::string::npos;) {
          const auto end = line.find('%', start + 1);
          if (end == std::string::npos) break;
          const std::string token = line.substr(start + 1, end - start - 1);
          if (token.find_first_not_of("0123456789") != std::string::npos &&
              Value("Strings", token).empty()) {
            undefined.push_back(token);
          }
          start = line.find('%', end + 1);
        }
      }
    }
    return undefined;
  }
  // The hardware IDs of a models section: the last fields of "name = install, id[, id...]",
  // each with its install section.
  std::vector<std::pair<std::string, std::string>> Models(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> models;
    for (const std::string& line : Lines(section)) {
      const auto fields = Split(line.substr(line.find('=') + 1), ',');
      for (std::size_t i = 1; i < fields.size(); ++i) models.emplace_back(fields[0], fields[i]);
    }
    return models;
  }

 private:
  std::map<std::string, std::vector<std::string>> sections_;
  bool crlf_ = false;
};

const std::string kFiles = MORVANE_ADAPTER_FILES_DIR;

TEST(AdapterIdList, ReachesTheLibusbTableAndTheUdevRule) {
  const std::vector<std::string> ids = ConfiguredIds();
  ASSERT_EQ(std::size(cibridge::kCiAdapterIds), ids.size());
  std::string rules;
  for (const std::string& line : Split(ReadFile(kFiles + "/70-morvane-ci-adapter.rules"), '\n')) {
    if (!line.empty() && line.front() != '#') rules += line + "\n";
  }
  std::string expectedRules;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    char pair[10];
    std::snprintf(pair, sizeof pair, "%04X:%04X", cibridge::kCiAdapterIds[i].vendor,
                  cibridge::kCiAdapterIds[i].product);
    EXPECT_EQ(pair, ids[i]);
    char rule[160];
    std::snprintf(rule, sizeof rule,
                  "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                  "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                  cibridge::kCiAdapterIds[i].vendor, cibridge::kCiAdapterIds[i].product);
    expectedRules += rule;
  }
  EXPECT_EQ(rules, expectedRules);
}

TEST(AdapterInf, BindsWinUsbWithTheAdapterInterfaceClassOnBothArchitectures) {
  const InfFile inf(kFiles + "/morvane-ci-adapter.inf");
  EXPECT_TRUE(inf.LinesEndInCrLf());
  EXPECT_EQ(inf.Value("Version", "Signature"), "\"$Windows NT$\"");
  EXPECT_EQ(inf.Value("Version", "Class"), "USBDevice");
  EXPECT_EQ(Upper(inf.Value("Version", "ClassGuid")), "{88BAE032-5A81-49F0-BC3D-A4FF138216D6}");
  EXPECT_EQ(inf.Value("Manufacturer", "%ProviderName%"), "Adapter, NTx86, NTamd64");

  std::vector<std::pair<std::string, std::string>> expected;
  for (const std::string& id : ConfiguredIds()) {
    expected.emplace_back("Adapter_Install",
                          "USB\\VID_" + id.substr(0, 4) + "&PID_" + id.substr(5));
  }
  for (const char* models : {"Adapter.NTx86", "Adapter.NTamd64"}) {
    EXPECT_EQ(inf.Models(models), expected) << models;
  }
  EXPECT_EQ(inf.Value("Adapter_Install", "Include"), "winusb.inf");
  EXPECT_EQ(inf.Value("Adapter_Install", "Needs"), "WINUSB.NT");
  EXPECT_EQ(inf.Value("Adapter_Install.Services", "Include"), "winusb.inf");
  EXPECT_EQ(inf.Value("Adapter_Install.Services", "Needs"), "WINUSB.NT.Services");
  EXPECT_EQ(inf.Value("Adapter_Install.HW", "AddReg"), "Adapter_AddReg");
  EXPECT_EQ(inf.Lines("Adapter_AddReg"),
            std::vector<std::string>{
                "HKR,,DeviceInterfaceGUIDs,0x10000,\"{F4D5A772-3AEC-4E57-AE3C-710B7BAF8731}\""});
  EXPECT_EQ(inf.UndefinedStrings(), std::vector<std::string>{});
}

TEST(CicardInf, InstallsTheDriverServiceForTheHostAdapterOnBothArchitectures) {
  const InfFile inf(kFiles + "/cicard.inf");
  EXPECT_TRUE(inf.LinesEndInCrLf());
  EXPECT_EQ(inf.Value("Version", "Class"), "PCMCIA");
  EXPECT_EQ(Upper(inf.Value("Version", "ClassGuid")), "{4D36E977-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(inf.Value("Manufacturer", "%ProviderName%"), "HostAdapter, NTx86, NTamd64");

  std::vector<std::pair<std::string, std::string>> expected;
  for (const std::string& id : Split(MORVANE_CICARD_HARDWARE_IDS, ';')) {
    expected.emplace_back("CiCard_Install", id);
  }
  ASSERT_FALSE(expected.empty());
  for (const char* models : {"HostAdapter.NTx86", "HostAdapter.NTamd64"}) {
    EXPECT_EQ(inf.Models(models), expected) << models;
  }

  // The one file, from the architecture's own folder beside the INF file, into the drivers folder.
  EXPECT_EQ(inf.Value("SourceDisksNames.x86", "1"), "%DiskName%,,,\\x86");
  EXPECT_EQ(inf.Value("SourceDisksNames.amd64", "1"), "%DiskName%,,,\\x64");
  EXPECT_EQ(inf.Lines("SourceDisksFiles"), std::vector<std::string>{"cicard.sys = 1"});
  EXPECT_EQ(inf.Value("DestinationDirs", "DefaultDestDir"), "12");
  EXPECT_EQ(inf.Value("CiCard_Install", "CopyFiles"), "CiCard_Files");
  EXPECT_EQ(inf.Lines("CiCard_Files"), std::vector<std::string>{"cicard.sys"});

  // The service "cicard", a kernel driver started on demand for the adapter, as its function
  // driver (0x2).
  EXPECT_EQ(inf.Value("CiCard_Install.Services", "AddService"),
            "cicard, 0x00000002, CiCard_Service");
  EXPECT_EQ(inf.Value("CiCard_Service", "ServiceType"), "1");
  EXPECT_EQ(inf.Value("CiCard_Service", "StartType"), "3");
  EXPECT_EQ(inf.Value("CiCard_Service", "ErrorControl"), "1");
  EXPECT_EQ(inf.Value("CiCard_Service", "ServiceBinary"), "%12%\\cicard.sys");
  EXPECT_EQ(inf.Value("Strings", "ServiceName"), "\"Generic DVB_CA_Module Driver\"");
  EXPECT_EQ(inf.UndefinedStrings(), std::vector<std::string>{});
}

}  // namespace
