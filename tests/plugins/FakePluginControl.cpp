#include "plugins/FakePluginControl.h"

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define NORVANE_HEAP_FROM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NORVANE_HEAP_FROM_ASAN 1
#endif
#endif

#ifdef NORVANE_HEAP_FROM_ASAN
// Part of the sanitizer runtime's allocator interface (not every compiler
// ships its header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace norvane::test {

FakeControl& Fake() {
  static FakeControl control;
  return control;
}

std::size_t HeapBytesInUse() {
#ifdef NORVANE_HEAP_FROM_ASAN
  // The sanitizer replaces the allocator; mallinfo2 would report nothing.
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

}  // namespace norvane::test
