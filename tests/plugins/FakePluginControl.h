// Shared state between the tests and the fake plug-in libraries they build.
// It lives in a shared library of its own that the test programs link, so it
// outlives every load and release of a fake plug-in.
#pragma once

#include <string>
#include <vector>

namespace norvane::test {

struct FakeControl {
  // What the next GetPicture call of any fake plug-in does: it returns
  // `status`, and unless that is non-zero hands over copies of `info` and
  // `bits` in malloc blocks of at least minBlockBytes (zero beyond the
  // content), or a null block where asked to.
  struct Script {
    int status = 0;
    std::vector<std::uint8_t> info, bits;
    bool withoutInfo = false, withoutBits = false;
    std::size_t minBlockBytes = 0;
  } script;
  // What the fake plug-ins observed and did.
  struct Record {
    int loads = 0, unloads = 0, calls = 0;  // library constructors, destructors, GetPicture calls
    std::string lastLibrary;               // file name of the library that served the last call
    std::vector<std::uint8_t> lastBuffer;  // the bytes it was given
    long lastLength = -1;
    std::size_t heapAtCall = 0;            // HeapBytesInUse() on entry to the last call
  } record;
};
using FakeScript = FakeControl::Script;

// The one shared instance.
FakeControl& Fake();

// Bytes of heap memory in use in the whole process, as the allocator counts
// them: a block handed over and never freed shows up here.
std::size_t HeapBytesInUse();

}  // namespace norvane::test
