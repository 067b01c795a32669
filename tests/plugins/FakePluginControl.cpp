#include "plugins/FakePluginControl.h"

#include <malloc.h>

#ifdef __SANITIZE_ADDRESS__
// The sanitizer replaces the allocator, so mallinfo2 would report nothing;
// its runtime counts instead (not every compiler ships the header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
std::size_t norvane::test::HeapBytesInUse() { return __sanitizer_get_current_allocated_bytes(); }
#else
std::size_t norvane::test::HeapBytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}
#endif

norvane::test::FakeControl& norvane::test::Fake() {
  static FakeControl control;
  return control;
}
