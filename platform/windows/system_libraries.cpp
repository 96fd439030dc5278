// Libraries on Windows: LoadLibraryA, GetProcAddress, FreeLibrary; the program folder from
// GetModuleFileNameA.
#include <windows.h>

#include <vector>

#include "library_loader.h"

namespace platform {
namespace {

class WindowsLibraries final : public LibraryLoader {
 public:
  // A bare file name names a library of the system ("winusb.dll"): it is loaded from the system
  // directory by its full path, so that a file of that name beside the program or in the
  // working directory is never taken for it. Paths load as given.
  LibraryHandle Load(const std::string& nameOrPath) override {
    std::string path = nameOrPath;
    if (nameOrPath.find_first_of("\\/:") == std::string::npos) {
      char system[MAX_PATH] = {};
      const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
      if (length == 0 || length >= MAX_PATH) return nullptr;
      path = std::string(system, length) + "\\" + nameOrPath;
    }
    return reinterpret_cast<LibraryHandle>(::LoadLibraryA(path.c_str()));
  }
  void* Find(LibraryHandle library, const char* name) override {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
  }
  void Unload(LibraryHandle library) override {
    if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
  }
  std::string ProgramFolder() override {
    // GetModuleFileNameA cuts a path that does not fit and then returns the buffer's size, so
    // the buffer grows until the whole path fits.
    std::vector<char> path(MAX_PATH);
    DWORD length = 0;
    for (;;) {
      length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return ".\\";
      if (length < path.size()) break;
      if (path.size() >= 32768) return ".\\";  // longer than any Windows path
      path.resize(path.size() * 2);
    }
    const std::string file(path.data(), length);
    const auto separator = file.find_last_of("\\/");
    return separator == std::string::npos ? ".\\" : file.substr(0, separator + 1);
  }
};

}  // namespace

LibraryLoader& SystemLibraries() {
  static WindowsLibraries libraries;
  return libraries;
}

}  // namespace platform
