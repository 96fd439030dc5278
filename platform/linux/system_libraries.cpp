#include <dlfcn.h>
#include <unistd.h>

#include <array>

#include "library_loader.h"

namespace platform {
namespace {

class LinuxLibraries final : public LibraryLoader {
 public:
  LibraryHandle Load(const std::string& nameOrPath) override {
    return ::dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  void* Find(LibraryHandle library, const char* name) override {
    return library == nullptr ? nullptr : ::dlsym(library, name);
  }
  void Unload(LibraryHandle library) override {
    if (library != nullptr) ::dlclose(library);
  }
  std::string ProgramFolder() override {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return "./";
    std::string file(path.data(), static_cast<std::size_t>(length));
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? "./" : file.substr(0, slash + 1);
  }
};

}  // namespace

LibraryLoader& SystemLibraries() {
  static LinuxLibraries libraries;
  return libraries;
}

}  // namespace platform
