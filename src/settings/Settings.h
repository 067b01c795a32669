// The program's persisted options and window rectangle, and the settings file
// "Norvane.ini" they live in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// The fields bear the key names of the settings file letter for letter. A
// default-constructed record holds every default except the two folders,
// which default to the user's home directory (see DefaultSettings), and
// except the last two fields, which say where the record lives and what its
// loading refused.
struct Settings {
  std::string SearchFolder;          // target folder of a search
  std::string MoveFolder;            // where moved images go
  std::int32_t ThresHold = 100;      // similarity threshold of the difference measure
  bool EnableCache = true;           // use the per-folder signature cache
  std::int32_t InitialSort = 0;      // chosen ordering, 0-10; -1 when none is selected
  bool EnableSubFolder = true;       // include sub-folders in the scan
  bool EnableConfirm = true;         // ask before moving a single image
  bool GotoTrashBox = false;         // move to the trash instead of the move folder
  std::int32_t ImgHeightRatio = 75;  // percent of the resizable height for the previews, 20-85
  // The main window's restored (normal) rectangle in pixels. Without a saved
  // rectangle the window opens at (100, 100) with size 800 x 700.
  std::int32_t Left = 100;
  std::int32_t Top = 100;
  std::int32_t Right = 900;
  std::int32_t Bottom = 800;
  // Tuning factors of the difference measure. The file holds them in
  // thousandths (1000 = 1.0); they are read but never written back.
  double WeightV = 1.0;
  double WeightA = 1.0;
  // The language of the texts, "ja" or "en" (empty: Japanese). Like the
  // weights it is read but never written: a user sets it in the file.
  std::string Language;
  std::string SettingsFile;  // full path of the settings file, fixed at start-up
  // Names of the folder keys whose text the last load refused. Such a folder
  // starts empty, and while it stays empty a save keeps the key's line as
  // the user wrote it.
  std::vector<std::string> RefusedKeys;
};

// Outcome of loading, saving or checking settings. The numbers are stable.
enum class SettingsResult : int {
  Ok = 0,
  // A folder text is longer than kMaxFolderText bytes. Loading leaves that
  // folder empty; saving leaves that key's line in the file as it was.
  TextTooLong = 1,
  // A folder text holds a line break (CR or LF), which would end the line and
  // could smuggle another key into the file. Handled like TextTooLong.
  TextHasLineBreak = 2,
  // A folder text holds a NUL byte, which no path can contain. Handled like
  // TextTooLong.
  TextHasNul = 3,
  // The settings file exists but cannot be read (permissions, not a regular
  // file, larger than any settings file could be). Loading gives every
  // default; saving refuses to replace a file it could not read.
  CannotRead = 4,
  // The new file could not be written or put in place. The old file, if
  // any, is unchanged and no temporary file is left behind.
  CannotWrite = 5,
  // SettingsFile is empty (the working directory could not be determined).
  NoSettingsFile = 6,
};

// Longest folder text kept, in bytes: a Linux path runs to 4,095 bytes. A
// longer text is refused rather than cut, since a cut path would silently
// name another folder.
inline constexpr std::size_t kMaxFolderText = 4095;

// Ok when `text` may be used and stored as a folder, otherwise why not.
SettingsResult CheckFolderText(std::string_view text);

// ImgHeightRatio brought into 20-85: 85 or more becomes 85, then 20 or less
// becomes 20.
std::int32_t ClampImgHeightRatio(std::int32_t ratio);

// $HOME when set and not empty, otherwise the home directory of the user's
// password entry, otherwise "/".
std::string HomeDirectory();

// The current working directory + "/Norvane.ini"; empty when the working
// directory cannot be determined. Call once at start-up and keep the result
// in Settings::SettingsFile: later directory changes must not move the file.
std::string SettingsFilePath();

// Every default: Settings{} with both folders set to HomeDirectory().
// SettingsFile is left empty.
Settings DefaultSettings();

// Reads every key from settings.SettingsFile into `settings`, starting from
// DefaultSettings() (SettingsFile itself is kept). Never leaves a field
// unset: a missing file, section or key gives the default. A refused folder
// text gives an empty folder, never the default, so that nothing searches or
// receives files in a folder the user did not choose; its key is listed in
// RefusedKeys. The result is Ok (a missing file included), CannotRead, or
// the reason the first refused folder text was refused.
SettingsResult LoadSettings(Settings& settings);

// Writes every key except WeightV, WeightA and Language into settings.SettingsFile,
// replacing values in place and keeping every other line byte for byte. The
// file is replaced atomically. A refused folder text is skipped (its line
// stays as it was) while the other keys are still written; the result then
// names the refusal. A folder that is still empty after its key was refused
// on load (listed in RefusedKeys) is skipped too, silently: its line is kept
// byte for byte. CannotWrite, CannotRead and NoSettingsFile mean nothing was
// changed; a file that cannot be read or written is left alone.
SettingsResult SaveSettings(const Settings& settings);

}  // namespace norvane
