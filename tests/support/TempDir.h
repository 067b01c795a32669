// Temporary folders and small file helpers for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvane::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes the file whole, replacing it; fails the current test on error.
void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& text);
// The whole file, or nothing when it cannot be read.
Bytes ReadFile(const std::string& path);
// Creates a folder and its parents.
void MakeDir(const std::string& path);
// A folder's entry names, sorted, so that stray files show up.
std::vector<std::string> FolderEntries(const std::string& folder);

// Sets (or, given null, removes) an environment variable and puts the old
// value back when it goes away; TZ changes also reach the time functions.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Little-endian appenders for building binary headers by hand.
void PutU16(Bytes& out, std::uint16_t v);
void PutU32(Bytes& out, std::uint32_t v);
void PutI32(Bytes& out, std::int32_t v);
void PutBytes(Bytes& out, const Bytes& more);

}  // namespace norvane::test
