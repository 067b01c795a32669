// What the readers share for getting at a file: opening it safely and
// reading little-endian numbers out of its headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image/DecodedImage.h"

namespace norvane {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for binary reading and reports its size in bytes. Only regular
// files are opened: a folder, a FIFO or a device named like an image gives
// CannotOpen, and opening a FIFO never waits for a writer.
LoadResult OpenImageFile(const std::string& path, UniqueFile& file, std::int64_t& size);

inline std::uint16_t GetLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::int32_t GetLeI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetLe32(p)); }

}  // namespace norvane
