// Shared body of the fuzz targets: the input is written to a file whose name
// carries the type key, loaded with LoadImageFile, and every output byte is
// read so that uninitialised or out-of-bounds memory is caught by the sanitizers.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/DecodedImage.h"

namespace norvane::fuzz {

inline std::string FuzzPath(const char* extension) {
  static const std::string path = [extension] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/norvane-fuzz-" + std::to_string(getpid()) + "." +
           extension;
  }();
  return path;
}

inline int FuzzLoad(const std::uint8_t* data, std::size_t size, const char* extension) {
  const std::string path = FuzzPath(extension);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  DecodedImage image;
  if (image.LoadImageFile(path) == LoadResult::LoadOk) {
    const std::uint8_t* pixels = image.Pixels();
    const std::size_t expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                                 static_cast<std::size_t>(BytesPerPixel(image.pixelKind));
    if (image.PixelBytes() != expected || (expected > 0 && pixels == nullptr)) __builtin_trap();
    unsigned sum = 0;
    for (std::size_t i = 0; i < expected; ++i) sum += pixels[i];
    // Branching on the sum makes MemorySanitizer-style checks see every byte.
    if (sum == 0xFFFFFFFFu) std::fputc(0, stderr);
  }
  std::remove(path.c_str());
  return 0;
}

}  // namespace norvane::fuzz
