// A small INI-style text file: "[Section]" headers and "Key=value" lines,
// read and changed the way the Windows profile functions do it, so that a file
// a user edited by hand keeps everything we do not touch.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// The text of an INI file as a list of lines. Lookups are ASCII
// case-insensitive for section and key names. Only the first section of a
// name and the first key of a name within it count, as with the Windows
// routines. A line that changes is rewritten as "Key=value"; every other line
// (comments, blank lines, unknown keys and sections, lines before the first
// section) is kept byte for byte, line endings included.
class IniFile {
 public:
  IniFile() = default;

  // Splits `text` into lines. Any text is accepted.
  static IniFile Parse(std::string_view text);

  // The value of `key` in `section`: the text after the first "=", with
  // spaces and tabs (and CR, VT, FF) trimmed from both ends, and then one pair
  // of matching enclosing quotes (" or ') removed. Nothing when the section or
  // the key is absent.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Sets `key` in `section` so that Get returns exactly `value`: the key's
  // first line is replaced in place, or a new line is added after the last
  // key line of the section, or a new section is appended at the end of the
  // file. A value that would not read back unchanged (leading or trailing
  // blanks, enclosing quotes) is written inside double quotes. Returns false,
  // changing nothing, when the section, key or value holds CR, LF or NUL (and
  // when a name is empty, holds "=" or, for a section, "]"): such text would
  // break the line structure of the file.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // The whole file as text.
  std::string Text() const;

 private:
  struct Line {
    std::string text;  // without the line ending
    std::string end;   // "\n", "\r\n" or "" (last line without an ending)
  };

  // Index of the first header line of `section`, or npos.
  std::size_t FindSection(std::string_view section) const;
  // The line ending new lines get: the file's first one, else "\n".
  std::string NewLineEnding() const;

  std::vector<Line> lines_;
};

// Result of reading a file from disk.
enum class IniReadResult {
  Ok,
  Missing,     // no file (or a dangling link) at the path
  CannotRead,  // it exists but is not a readable regular file
  TooLarge,    // above kMaxIniFileBytes
};

// No settings file is anywhere near this size; a bigger file is refused
// instead of being loaded into memory.
inline constexpr std::size_t kMaxIniFileBytes = 16 * 1024 * 1024;

// Reads the file at `path` into `text`.
IniReadResult ReadTextFile(const std::string& path, std::string& text);

// Links followed from one path at most before it counts as a loop.
inline constexpr int kMaxLinkHops = 40;

// Follows the chain of symbolic links that starts at `path` and sets `target`
// to the path of what it names: `path` itself when it is no link, and the
// last link's target when that does not exist (a dangling link). A relative
// link counts from the folder holding the link. Returns 0, or the errno of
// the failing step (ELOOP for a chain of more than kMaxLinkHops links).
int ResolveSymbolicLinks(const std::string& path, std::string& target);

// Replaces the file at `path` with `text` atomically: the text goes into a
// new temporary file in the same folder, which is flushed to disk and renamed
// over `path`. A file reached through symbolic links (even a dangling one) is
// written at the links' target, so the links survive. An existing file keeps
// its permission bits; a new one gets 0666 less the umask. A file that is not
// writable (no write permission bit, refused by access(), a read-only file
// system) or whose folder is not writable is left alone, also for root.
// Returns 0, or the errno of the step that failed; on failure the old file is
// untouched and the temporary file is removed.
int ReplaceFileAtomically(const std::string& path, std::string_view text);

}  // namespace norvane
