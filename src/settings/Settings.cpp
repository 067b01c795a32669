#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "base/Decimal.h"
#include "settings/IniFile.h"

namespace norvane {

namespace {

// How a key's text becomes a field and, for the keys that are written, how
// the field becomes text again.
enum class Rule {
  Folder,   // text kept whole, checked with CheckFolderText
  Integer,  // signed 32-bit, written "%d"
  Boolean,  // integer, nonzero is true; written "1" or "0"
  Ratio,    // integer clamped with ClampImgHeightRatio, written clamped
  Weight,   // unsigned 32-bit x 0.001; never written
  Text,     // text kept as it stands; never written
};

using Field = std::variant<std::string Settings::*, std::int32_t Settings::*, bool Settings::*,
                           double Settings::*>;

struct Key {
  const char* section;
  const char* name;
  Rule rule;
  Field field;
};

constexpr const char* kGeneral = "General";
constexpr const char* kWindowPos = "WindowPos";

// Every key of the settings file, in the order it is read and written. The
// defaults are those of DefaultSettings(). This table is the only place that
// names a key.
const std::array<Key, 16> kKeys = {{
    {kGeneral, "SearchFolder", Rule::Folder, &Settings::SearchFolder},
    {kGeneral, "MoveFolder", Rule::Folder, &Settings::MoveFolder},
    {kGeneral, "EnableSubFolder", Rule::Boolean, &Settings::EnableSubFolder},
    {kGeneral, "ThresHold", Rule::Integer, &Settings::ThresHold},
    {kGeneral, "EnableConfirm", Rule::Boolean, &Settings::EnableConfirm},
    {kGeneral, "InitialSort", Rule::Integer, &Settings::InitialSort},
    {kGeneral, "EnableCache", Rule::Boolean, &Settings::EnableCache},
    {kGeneral, "GotoTrashBox", Rule::Boolean, &Settings::GotoTrashBox},
    {kGeneral, "WeightV", Rule::Weight, &Settings::WeightV},
    {kGeneral, "WeightA", Rule::Weight, &Settings::WeightA},
    {kGeneral, "Language", Rule::Text, &Settings::Language},
    {kWindowPos, "Left", Rule::Integer, &Settings::Left},
    {kWindowPos, "Top", Rule::Integer, &Settings::Top},
    {kWindowPos, "Right", Rule::Integer, &Settings::Right},
    {kWindowPos, "Bottom", Rule::Integer, &Settings::Bottom},
    {kWindowPos, "ImgHeightRatio", Rule::Ratio, &Settings::ImgHeightRatio},
}};

// Integer values are read the way the Windows profile routine reads them, so
// that a file written there means the same here: an optional "+" or "-",
// then decimal digits up to the first other character, accumulated modulo
// 2^32 (a number outside the 32-bit range wraps, it is not clamped). Text
// without leading digits ("abc", "-", "0x10" gives 0) reads as 0. An empty
// value counts as absent and leaves the default. The result is the 32 bits;
// signed keys take them as two's complement, WeightV and WeightA as
// unsigned, so "-1" there is 4294967295.
std::optional<std::uint32_t> ParseProfileInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const DecimalPrefix number = ScanDecimal(text, false);
  return number.negative ? 0u - number.low32 : number.low32;
}

std::int32_t AsSigned(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

// Reads one key into `settings`. Returns why a folder text was refused, else Ok.
SettingsResult ReadKey(const IniFile& file, const Key& key, Settings& settings) {
  const std::optional<std::string> text = file.Get(key.section, key.name);
  if (!text) return SettingsResult::Ok;
  if (key.rule == Rule::Folder) {
    const SettingsResult check = CheckFolderText(*text);
    std::string& folder = settings.*std::get<std::string Settings::*>(key.field);
    if (check == SettingsResult::Ok) {
      folder = *text;
    } else {
      folder.clear();
      settings.RefusedKeys.emplace_back(key.name);
    }
    return check;
  }
  if (key.rule == Rule::Text) {
    settings.*std::get<std::string Settings::*>(key.field) = *text;
    return SettingsResult::Ok;
  }
  const std::optional<std::uint32_t> number = ParseProfileInteger(*text);
  if (!number) return SettingsResult::Ok;
  switch (key.rule) {
    case Rule::Integer:
      settings.*std::get<std::int32_t Settings::*>(key.field) = AsSigned(*number);
      break;
    case Rule::Ratio:
      settings.*std::get<std::int32_t Settings::*>(key.field) = ClampImgHeightRatio(AsSigned(*number));
      break;
    case Rule::Boolean:
      settings.*std::get<bool Settings::*>(key.field) = *number != 0;
      break;
    case Rule::Weight:
      settings.*std::get<double Settings::*>(key.field) = static_cast<double>(*number) * 0.001;
      break;
    case Rule::Folder:
    case Rule::Text:
      break;
  }
  return SettingsResult::Ok;
}

std::string FormatInteger(std::int32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
  return buffer;
}

// The text a key is written as; nothing for keys that are never written.
std::optional<std::string> KeyText(const Key& key, const Settings& settings) {
  switch (key.rule) {
    case Rule::Folder:
      return settings.*std::get<std::string Settings::*>(key.field);
    case Rule::Integer:
      return FormatInteger(settings.*std::get<std::int32_t Settings::*>(key.field));
    case Rule::Ratio:
      return FormatInteger(ClampImgHeightRatio(settings.*std::get<std::int32_t Settings::*>(key.field)));
    case Rule::Boolean:
      return std::string(settings.*std::get<bool Settings::*>(key.field) ? "1" : "0");
    case Rule::Weight:
    case Rule::Text:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

SettingsResult CheckFolderText(std::string_view text) {
  if (text.size() > kMaxFolderText) return SettingsResult::TextTooLong;
  if (text.find_first_of("\r\n") != std::string_view::npos) return SettingsResult::TextHasLineBreak;
  if (text.find('\0') != std::string_view::npos) return SettingsResult::TextHasNul;
  return SettingsResult::Ok;
}

std::int32_t ClampImgHeightRatio(std::int32_t ratio) {
  if (ratio >= 85) ratio = 85;
  if (ratio <= 20) ratio = 20;
  return ratio;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error == 0 && found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
      return found->pw_dir;
    }
    return "/";
  }
}

std::string SettingsFilePath() {
  // No fixed buffer: a working directory may be longer than any guess.
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (std::size_t{1} << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  std::string path = buffer.data();
  if (path.empty() || path.front() != '/') return {};  // "(unreachable)/..." when cwd is elsewhere
  if (path.back() != '/') path += '/';
  return path + "Norvane.ini";
}

Settings DefaultSettings() {
  Settings settings;
  settings.SearchFolder = HomeDirectory();
  settings.MoveFolder = settings.SearchFolder;
  return settings;
}

SettingsResult LoadSettings(Settings& settings) {
  std::string settingsFile = std::move(settings.SettingsFile);
  settings = DefaultSettings();
  settings.SettingsFile = std::move(settingsFile);

  std::string text;
  if (settings.SettingsFile.empty()) return SettingsResult::NoSettingsFile;
  switch (ReadTextFile(settings.SettingsFile, text)) {
    case IniReadResult::Ok:
      break;
    case IniReadResult::Missing:
      return SettingsResult::Ok;  // the first run: the first save creates the file
    case IniReadResult::CannotRead:
    case IniReadResult::TooLarge:
      return SettingsResult::CannotRead;
  }
  const IniFile file = IniFile::Parse(text);
  SettingsResult result = SettingsResult::Ok;
  for (const Key& key : kKeys) {
    const SettingsResult keyResult = ReadKey(file, key, settings);
    if (result == SettingsResult::Ok) result = keyResult;
  }
  return result;
}

SettingsResult SaveSettings(const Settings& settings) {
  if (settings.SettingsFile.empty()) return SettingsResult::NoSettingsFile;
  std::string text;
  switch (ReadTextFile(settings.SettingsFile, text)) {
    case IniReadResult::Ok:
    case IniReadResult::Missing:
      break;
    case IniReadResult::CannotRead:
    case IniReadResult::TooLarge:
      // Writing our keys alone would throw away whatever the file holds.
      return SettingsResult::CannotRead;
  }
  IniFile file = IniFile::Parse(text);
  SettingsResult result = SettingsResult::Ok;
  for (const Key& key : kKeys) {
    const std::optional<std::string> value = KeyText(key, settings);
    if (!value) continue;
    if (key.rule == Rule::Folder) {
      // A refused line the user has not replaced by choosing a folder is
      // kept as it is: the empty field only stands for "not loaded".
      if (value->empty() && std::find(settings.RefusedKeys.begin(), settings.RefusedKeys.end(), key.name) !=
                                settings.RefusedKeys.end()) {
        continue;
      }
      const SettingsResult check = CheckFolderText(*value);
      if (check != SettingsResult::Ok) {
        if (result == SettingsResult::Ok) result = check;
        continue;
      }
    }
    file.Set(key.section, key.name, *value);  // cannot fail: every text was checked
  }
  if (ReplaceFileAtomically(settings.SettingsFile, file.Text()) != 0) return SettingsResult::CannotWrite;
  return result;
}

}  // namespace norvane
