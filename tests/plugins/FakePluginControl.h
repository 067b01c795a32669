// Shared state between the tests and the fake plug-in libraries they build.
// It lives in a shared library of its own that the test programs link, so it
// outlives every load and release of a fake plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvane::test {

// What the next GetPicture call of any fake plug-in does.
struct FakeScript {
  int status = 0;                  // returned; non-zero hands nothing over
  std::vector<std::uint8_t> info;  // copied into the info block
  std::vector<std::uint8_t> bits;  // copied into the bits block
  bool withoutInfo = false;        // hand over a null info block
  bool withoutBits = false;        // hand over a null bits block
  std::size_t minBlockBytes = 0;   // pad each block to at least this size with zero bytes
};

// What the fake plug-ins observed and did.
struct FakeRecord {
  int loads = 0;                  // library constructors run
  int unloads = 0;                // library destructors run
  int calls = 0;                  // GetPicture calls
  int blocksHandedOut = 0;        // malloc blocks handed to the caller
  std::string lastLibrary;        // file name of the library that served the last call
  std::vector<std::uint8_t> lastBuffer;  // bytes it was given
  std::size_t heapAtCall = 0;            // HeapBytesInUse() on entry to the last call
  long lastLength = -1;
  unsigned int lastFlag = 0;
  bool lastProgressWasNull = false;
  long lastUser = -1;
};

struct FakeControl {
  FakeScript script;
  FakeRecord record;
};

// The one shared instance.
FakeControl& Fake();

// Bytes of heap memory in use in the whole process, as the allocator counts
// them: a block handed over and never freed shows up here.
std::size_t HeapBytesInUse();

}  // namespace norvane::test
