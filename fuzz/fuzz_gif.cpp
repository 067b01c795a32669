// Feeds arbitrary bytes to the shipped GIF plug-in through the format dispatch.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzLoad.h"
#include "image/PluginReader.h"

// libFuzzer reads the coverage counters of every instrumented library after
// each input, so the plug-in must stay mapped between inputs: one reference
// is held for the whole run, and the reader's own load and release per file
// only count references. Without the plug-in the run would test nothing.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static const norvane::PluginLibrary resident =
      norvane::PluginLibrary::Open("ifgif.spi", norvane::DefaultPluginSearchPath());
  if (!resident) {
    std::fprintf(stderr, "fuzz_gif: ifgif.spi not found next to the program or in ../lib/norvane\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return norvane::fuzz::FuzzLoad(data, size, "gif");
}
