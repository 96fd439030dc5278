// The settings file: sections of key=value lines, read and written one value at a time the
// way the Windows private-profile functions do it.
//
// Reading and writing follow GetPrivateProfileStringA and WritePrivateProfileStringA:
// - section and key names match without regard to case; the first matching section and the
//   first matching key in it count;
// - blanks around names and values are dropped; a value enclosed in a pair of matching quotes
//   (' or ") loses the quotes;
// - a read copies at most `bufferSize` - 1 characters of the value (the terminating zero takes
//   the last place of the caller's buffer); a missing file, section or key gives the default;
// - a write replaces the key's line, or adds the key at the end of its section, or adds the
//   section at the end of the file; every other line (other sections, keys, comments, blank
//   lines) stays as it was. The file is created by the first write.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class PrivateProfile {
 public:
  virtual ~PrivateProfile() = default;

  // The value of `key` in `section`, cut to `bufferSize` - 1 characters; `defaultValue` (cut
  // the same way) when the file, the section or the key is missing.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue, std::size_t bufferSize) = 0;

  // Sets `key` in `section` to `value`. False when the file could not be written; the file is
  // then left as it was.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;
};

// The profile file `fileName` (a name without a directory) where the platform keeps such
// files: on Windows where the private-profile functions put it, on Linux in
// $XDG_CONFIG_HOME, else in ~/.config.
std::unique_ptr<PrivateProfile> SystemProfile(const std::string& fileName);

// The folder SystemProfile uses for a file named without a directory ("" when none is known).
std::string ProfileFolder();

#ifndef _WIN32
// A profile file at an explicit path, with the same semantics (tests, other folders).
std::unique_ptr<PrivateProfile> ProfileAtPath(const std::string& path);
#endif

}  // namespace platform
