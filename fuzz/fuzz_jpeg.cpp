// Feeds arbitrary bytes to the JPEG reader through a ".jpg" file.
#include <cstddef>
#include <cstdint>

#include "FuzzLoad.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return norvane::fuzz::FuzzLoad(data, size, "jpg");
}
