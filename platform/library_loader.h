// Run-time loading of shared libraries.
#pragma once

#include <string>

namespace platform {

using LibraryHandle = void*;

class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;
  // Loads a library by file name or path; nullptr on failure.
  virtual LibraryHandle Load(const std::string& nameOrPath) = 0;
  // The export of that exact name, or nullptr.
  virtual void* Find(LibraryHandle library, const char* name) = 0;
  virtual void Unload(LibraryHandle library) = 0;
  // The folder of the running program file, with its trailing separator.
  virtual std::string ProgramFolder() = 0;
};

LibraryLoader& SystemLibraries();

}  // namespace platform
