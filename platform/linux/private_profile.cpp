// Profile files on Linux: our own reading and writing of the key=value format, with the
// semantics of the Windows private-profile functions.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "private_profile.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The section name of a header line "[name]", or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  if (close != std::string_view::npos) line = line.substr(0, close);
  return Trim(line);
}

// The key of a "key=value" line, or nothing.
std::optional<std::string_view> KeyName(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, equals));
}

std::string_view ValueOf(std::string_view line) {
  std::string_view value = Trim(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string Cut(std::string_view text, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  return std::string(text.substr(0, bufferSize - 1));
}

// The settings file opened for reading, or -1. Only a regular file (after links) counts: a
// FIFO, a device, a directory or a socket is no file. The type is looked at before the open,
// so no device is ever opened, and again on the open file, which was opened without waiting
// (a FIFO without a writer would otherwise hold the open for ever).
int OpenRegularFile(const std::string& path) {
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return -1;
  const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return -1;
  struct stat opened {};
  if (::fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(file);
    return -1;
  }
  return file;
}

// A file's lines without their line ends, read in pieces of a fixed size, so memory does not
// grow with the file. A line longer than `lineLimit` is seen cut to that length.
class LineReader {
 public:
  LineReader(int file, std::size_t lineLimit) : file_(file), lineLimit_(lineLimit) {}
  ~LineReader() { ::close(file_); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line; false at the end of the file or when reading failed.
  bool Next(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (position_ == filled_ && !Refill()) {
        if (!any) return false;
        break;
      }
      any = true;
      const char* start = buffer_.data() + position_;
      const std::size_t available = filled_ - position_;
      const void* newline = std::memchr(start, '\n', available);
      const std::size_t length =
          newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - start)
                             : available;
      if (line.size() < lineLimit_) line.append(start, std::min(length, lineLimit_ - line.size()));
      position_ += length;
      if (newline != nullptr) {
        ++position_;
        if (length > 0 ? start[length - 1] == '\r' : lastWasReturn_) crLf_ = true;
        lastWasReturn_ = false;
        break;
      }
      lastWasReturn_ = length > 0 && start[length - 1] == '\r';
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
  bool Failed() const { return failed_; }
  bool SawCrLf() const { return crLf_; }

 private:
  bool Refill() {
    for (;;) {
      const ssize_t n = ::read(file_, buffer_.data(), buffer_.size());
      if (n > 0) {
        position_ = 0;
        filled_ = static_cast<std::size_t>(n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      failed_ = n < 0;
      return false;
    }
  }

  int file_;
  std::size_t lineLimit_;
  std::array<char, 64 * 1024> buffer_{};
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool lastWasReturn_ = false;
  bool crLf_ = false;
  bool failed_ = false;
};

// What a read looks at of a line: more than any name or value the program uses.
constexpr std::size_t kReadLineLimit = 64 * 1024;

// The file as lines without their line ends, and the line end it uses (for a write, which
// rewrites it whole).
struct ProfileText {
  std::vector<std::string> lines;
  std::string lineEnd = "\n";
};

std::optional<ProfileText> ReadFile(const std::string& path) {
  const int file = OpenRegularFile(path);
  if (file < 0) return std::nullopt;
  auto reader = std::make_unique<LineReader>(file, std::numeric_limits<std::size_t>::max());
  ProfileText text;
  std::string line;
  while (reader->Next(line)) text.lines.push_back(line);
  if (reader->Failed()) return std::nullopt;
  if (reader->SawCrLf()) text.lineEnd = "\r\n";
  return text;
}

class FileProfile final : public PrivateProfile {
 public:
  explicit FileProfile(std::string path) : path_(std::move(path)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue, std::size_t bufferSize) override {
    const int file = OpenRegularFile(path_);
    if (file < 0) return Cut(defaultValue, bufferSize);
    const auto reader = std::make_unique<LineReader>(file, kReadLineLimit);
    bool inSection = false;
    bool seenSection = false;
    std::string line;
    while (reader->Next(line)) {
      if (const auto name = SectionName(line)) {
        if (seenSection) break;  // only the first section of that name counts
        inSection = SameName(*name, section);
        seenSection = inSection;
        continue;
      }
      if (!inSection) continue;
      const auto name = KeyName(line);
      if (name && SameName(*name, key)) return Cut(ValueOf(line), bufferSize);
    }
    return Cut(defaultValue, bufferSize);
  }

  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    if (value.find_first_of("\r\n") != std::string::npos ||
        key.find_first_of("=\r\n") != std::string::npos ||
        section.find_first_of("]\r\n") != std::string::npos) {
      return false;  // would not read back as written
    }
    ProfileText text;
    std::error_code error;
    if (std::filesystem::exists(path_, error)) {
      auto existing = ReadFile(path_);
      if (!existing) return false;  // never overwrite a file we could not read
      text = std::move(*existing);
    }
    Place(text.lines, section, key, value);
    return Replace(text);
  }

 private:
  static void Place(std::vector<std::string>& lines, const std::string& section,
                    const std::string& key, const std::string& value) {
    const std::string entry = key + "=" + value;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
      const auto name = SectionName(lines[i]);
      if (name && SameName(*name, section)) break;
    }
    if (i == lines.size()) {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
      return;
    }
    std::size_t lastEntry = i;  // the header, or the last non-blank line of the section
    for (std::size_t j = i + 1; j < lines.size() && !SectionName(lines[j]); ++j) {
      const auto name = KeyName(lines[j]);
      if (name && SameName(*name, key)) {
        lines[j] = entry;
        return;
      }
      if (!Trim(lines[j]).empty()) lastEntry = j;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1), entry);
  }

  // The file a write goes to: a symbolic link (or a chain of them) is followed to its target,
  // so the link itself stays a link. Empty when the chain does not end (a loop).
  static std::filesystem::path WriteTarget(const std::string& path) {
    std::filesystem::path target(path);
    for (int hops = 0; hops < kMaxLinkHops; ++hops) {
      std::error_code error;
      if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, error)))
        return target;
      const auto next = std::filesystem::read_symlink(target, error);
      if (error) return {};
      target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return {};
  }

  // A file without write permission for its owner is read-only, as a file with the read-only
  // attribute is on Windows, where the write fails even for an administrator.
  static bool ReadOnly(const std::filesystem::path& target) {
    std::error_code error;
    const auto status = std::filesystem::status(target, error);
    if (error || !std::filesystem::exists(status)) return false;
    return (status.permissions() & std::filesystem::perms::owner_write) ==
               std::filesystem::perms::none ||
           ::access(target.c_str(), W_OK) != 0;
  }

  // Writes the whole file beside the old one and swaps it in, so that a failing write leaves
  // the old file intact. A read-only file is not replaced: the write fails.
  bool Replace(const ProfileText& text) const {
    const std::filesystem::path target = WriteTarget(path_);
    if (target.empty() || ReadOnly(target)) return false;
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    const std::string temporary = target.string() + ".tmp" + std::to_string(::getpid());
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      if (!out) return false;
      for (const std::string& line : text.lines) out << line << text.lineEnd;
      out.close();
      if (!out) {
        std::filesystem::remove(temporary, error);
        return false;
      }
    }
    // The new file keeps the old one's permissions.
    std::error_code statusError;
    const auto status = std::filesystem::status(target, statusError);
    if (!statusError && std::filesystem::exists(status)) {
      std::filesystem::permissions(temporary, status.permissions(), statusError);
    }
    error.clear();
    std::filesystem::rename(temporary, target, error);
    if (error) {
      std::filesystem::remove(temporary, error);
      return false;
    }
    return true;
  }

  static constexpr int kMaxLinkHops = 40;
  std::string path_;
};

}  // namespace

std::string ProfileFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
  return {};
}

std::unique_ptr<PrivateProfile> ProfileAtPath(const std::string& path) {
  return std::make_unique<FileProfile>(path);
}

std::unique_ptr<PrivateProfile> SystemProfile(const std::string& fileName) {
  const std::string folder = ProfileFolder();
  return ProfileAtPath(folder.empty() ? fileName : folder + "/" + fileName);
}

}  // namespace platform
