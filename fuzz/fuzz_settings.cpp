// Feeds arbitrary text to the settings file parser. Every line the program
// does not change must come back byte for byte, and a value that was set must
// read back exactly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  norvane::IniFile ini = norvane::IniFile::Parse(text);
  if (ini.Text() != text) __builtin_trap();

  // Read every key the program knows of, then change one.
  for (const char* key : {"SearchFolder", "ThresHold", "EnableCache", "WeightV"}) {
    static_cast<void>(ini.Get("General", key));
  }
  const std::string value = " \"a value\" with = and ; ";
  if (ini.Set("General", "MoveFolder", value)) {
    if (ini.Get("General", "MoveFolder") != value) __builtin_trap();
    // A second parse of the written text reads the same value.
    if (norvane::IniFile::Parse(ini.Text()).Get("General", "MoveFolder") != value) __builtin_trap();
  }
  return 0;
}
