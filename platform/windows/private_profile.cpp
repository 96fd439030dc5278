// Profile files on Windows: one private-profile call per read or write; a file named without
// a directory lives where those functions keep it (the Windows directory).
#include <windows.h>

#include <vector>

#include "private_profile.h"

namespace platform {
namespace {

class WindowsProfile final : public PrivateProfile {
 public:
  explicit WindowsProfile(std::string fileName) : fileName_(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue, std::size_t bufferSize) override {
    if (bufferSize == 0) return {};
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                 static_cast<DWORD>(bufferSize), fileName_.c_str());
    return std::string(buffer.data(), length);
  }

  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                      fileName_.c_str()) != FALSE;
  }

 private:
  std::string fileName_;
};

}  // namespace

std::string ProfileFolder() {
  char folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  return (length == 0 || length >= MAX_PATH) ? std::string() : std::string(folder, length);
}

std::unique_ptr<PrivateProfile> SystemProfile(const std::string& fileName) {
  return std::make_unique<WindowsProfile>(fileName);
}

}  // namespace platform
