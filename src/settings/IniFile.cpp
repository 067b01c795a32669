#include "settings/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Ascii.h"
#include "base/FileDescriptor.h"

namespace norvane {

namespace {

constexpr std::size_t npos = std::string::npos;

// The characters the Windows profile routines skip around names and values.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Names compare without regard to ASCII case; other bytes (UTF-8) must match.
bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

// "[name]" (blanks allowed around the line and the name; anything after the
// last "]" is ignored). Nothing when the line is not a section header.
std::optional<std::string_view> SectionOf(std::string_view line) {
  // Some editors start a UTF-8 file with a byte order mark; it must not hide
  // the first header.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.rfind(']');
  if (close == npos) return std::nullopt;  // read as an ordinary line, as Windows does
  return Trim(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;    // trimmed
  std::string_view value;  // trimmed, quotes still on
};

// "key=value" with a non-empty key. A line without "=" is not a key line.
std::optional<KeyLine> KeyOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  const std::string_view key = Trim(line.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return KeyLine{key, Trim(line.substr(eq + 1))};
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool EnclosedInQuotes(std::string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front();
}

// Lines that only carry text for people: blank lines and ";" or "#" comments.
bool IsContent(std::string_view line) {
  line = Trim(line);
  return !line.empty() && line.front() != ';' && line.front() != '#';
}

bool BreaksLine(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

// The text written after "=" so that Get gives `value` back: reading trims
// blanks and strips one pair of enclosing quotes, so a value that starts or
// ends with a blank, or is itself enclosed in quotes, is quoted once more.
std::string Encode(std::string_view value) {
  const bool needsQuotes =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || EnclosedInQuotes(value));
  std::string out;
  if (needsQuotes) out += '"';
  out += value;
  if (needsQuotes) out += '"';
  return out;
}

// Removes a temporary file when it goes out of scope, unless it was renamed.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

std::uint64_t RandomNumber() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
  static std::uint64_t counter = 0;
  return (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(std::time(nullptr)) ^
         (++counter * 0x9E3779B97F4A7C15ull);
}


// The folder part of a path: "." when it has none, "/" for a file at the root.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    Line line;
    if (lf == npos) {
      line.text.assign(text);
      text = {};
    } else {
      std::string_view body = text.substr(0, lf);
      if (!body.empty() && body.back() == '\r') {
        body.remove_suffix(1);
        line.end = "\r\n";
      } else {
        line.end = "\n";
      }
      line.text.assign(body);
      text.remove_prefix(lf + 1);
    }
    file.lines_.push_back(std::move(line));
  }
  return file;
}

std::size_t IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionOf(lines_[i].text);
    if (name && SameName(*name, section)) return i;
  }
  return npos;
}

std::string IniFile::NewLineEnding() const {
  for (const Line& line : lines_) {
    if (!line.end.empty()) return line.end;
  }
  return "\n";
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  for (std::size_t i = header + 1; i < lines_.size() && !SectionOf(lines_[i].text); ++i) {
    const auto entry = KeyOf(lines_[i].text);
    if (!entry || !SameName(entry->key, key)) continue;
    std::string_view value = entry->value;
    if (EnclosedInQuotes(value)) value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (BreaksLine(section) || BreaksLine(key) || BreaksLine(value)) return false;
  if (Trim(section).empty() || section.find(']') != npos || Trim(key).empty() ||
      key.find('=') != npos) {
    return false;
  }
  const std::string lineEnd = NewLineEnding();
  const std::string newLine = std::string(Trim(key)) + "=" + Encode(value);

  const std::size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty()) {
      if (lines_.back().end.empty()) lines_.back().end = lineEnd;
      if (!Trim(lines_.back().text).empty()) lines_.push_back({"", lineEnd});
    }
    lines_.push_back({"[" + std::string(Trim(section)) + "]", lineEnd});
    lines_.push_back({newLine, lineEnd});
    return true;
  }

  std::size_t insertAfter = header;
  std::size_t i = header + 1;
  for (; i < lines_.size() && !SectionOf(lines_[i].text); ++i) {
    const auto entry = KeyOf(lines_[i].text);
    if (entry && SameName(entry->key, key)) {
      // Keep the key as the user spelled it; only the value changes.
      lines_[i].text = std::string(entry->key) + "=" + Encode(value);
      return true;
    }
    if (IsContent(lines_[i].text)) insertAfter = i;
  }
  if (lines_[insertAfter].end.empty()) lines_[insertAfter].end = lineEnd;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter + 1), Line{newLine, lineEnd});
  return true;
}

std::string IniFile::Text() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += line.end;
  }
  return out;
}

IniReadResult ReadTextFile(const std::string& path, std::string& text) {
  text.clear();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? IniReadResult::Missing : IniReadResult::CannotRead;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return IniReadResult::CannotRead;
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kMaxIniFileBytes) {
    return IniReadResult::TooLarge;
  }
  text.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      text.clear();
      return IniReadResult::CannotRead;
    }
    if (n == 0) break;
    // The file may grow while it is read; the limit still holds.
    if (text.size() + static_cast<std::size_t>(n) > kMaxIniFileBytes) {
      text.clear();
      return IniReadResult::TooLarge;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return IniReadResult::Ok;
}

int ResolveSymbolicLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
      // Nothing under this name yet: a first save, or a dangling link whose
      // target is created. Any other failure is reported.
      return errno == ENOENT ? 0 : errno;
    }
    if (!S_ISLNK(st.st_mode)) return 0;
    // The link text is read whole, whatever its length.
    std::string text(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 256, '\0');
    for (;;) {
      const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
      if (n < 0) return errno;
      if (static_cast<std::size_t>(n) < text.size()) {
        text.resize(static_cast<std::size_t>(n));
        break;
      }
      if (text.size() >= (std::size_t{1} << 20)) return ENAMETOOLONG;
      text.resize(text.size() * 2);
    }
    if (text.empty()) return ENOENT;
    // A relative link counts from the folder that holds the link.
    target = text.front() == '/' ? text : FolderOf(target) + "/" + text;
  }
  return ELOOP;
}

int ReplaceFileAtomically(const std::string& path, std::string_view text) {
  if (path.empty()) return ENOENT;
  // Replace what a link points at; renaming over the link itself would turn
  // a user's link into a plain file.
  std::string target;
  if (const int error = ResolveSymbolicLinks(path, target)) return error;

  // A rename replaces a file regardless of its own permissions, and root
  // passes every permission check: a file or folder the user made read-only
  // is refused here, as the write through the file would be.
  bool keepMode = false;
  mode_t mode = 0;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
    if (::access(target.c_str(), W_OK) != 0) return errno;
    keepMode = true;
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return errno;
  }
  const std::string folder = FolderOf(target);
  if (::stat(folder.c_str(), &st) != 0) return errno;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return errno;

  const std::size_t slash = target.rfind('/');
  const std::string base = slash == npos ? target : target.substr(slash + 1);

  std::string tempPath;
  int fdValue = -1;
  for (int attempt = 0; attempt < 100 && fdValue < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(RandomNumber()));
    tempPath = folder + "/." + base + suffix;
    // Mode 0666 lets the umask decide for a new file, as any program's file.
    fdValue = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fdValue < 0 && errno != EEXIST) return errno;
  }
  if (fdValue < 0) return EEXIST;
  UniqueFd fd(fdValue);
  TempFile temp(tempPath);

  if (keepMode) ::fchmod(fd.get(), mode);  // best effort: the text matters more than its mode
  if (const int error = WriteAll(fd.get(), text.data(), text.size())) return error;
  if (::fsync(fd.get()) != 0) return errno;
  if (const int error = fd.Close()) return error;
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return errno;
  temp.Keep();

  // Make the rename itself durable. The new file is complete either way, so
  // a folder that cannot be synced is not a failure.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return 0;
}

}  // namespace norvane
