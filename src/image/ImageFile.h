// What the readers share for getting at a file: opening it safely (and,
// through base/LittleEndian.h, reading little-endian numbers out of its
// headers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/LittleEndian.h"
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

}  // namespace norvane
