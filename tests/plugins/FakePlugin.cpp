// A plug-in library that hands over whatever the test scripted, built under
// several file names into several folders. FAKE_LIBRARY_NAME is its file name;
// with FAKE_WITHOUT_ENTRY it exports no GetPicture.
#include <cstdlib>
#include <cstring>

#include "image/PluginContract.h"
#include "plugins/FakePluginControl.h"

namespace {

using norvane::test::Fake;

__attribute__((constructor)) void OnLoad() { ++Fake().record.loads; }
__attribute__((destructor)) void OnUnload() { ++Fake().record.unloads; }

#ifndef FAKE_WITHOUT_ENTRY
void* HandOver(const std::vector<std::uint8_t>& content, std::size_t minBytes) {
  const std::size_t size = content.size() > minBytes ? content.size() : minBytes;
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block != nullptr && !content.empty()) std::memcpy(block, content.data(), content.size());
  if (block != nullptr) ++Fake().record.blocksHandedOut;
  return block;
}
#endif

}  // namespace

#ifndef FAKE_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) int GetPicture(const char* buf, long len, unsigned int flag,
                                                                 void** info, void** bits,
                                                                 PluginProgress progress, long user) {
  norvane::test::FakeRecord& record = Fake().record;
  const norvane::test::FakeScript& script = Fake().script;
  record.heapAtCall = norvane::test::HeapBytesInUse();
  ++record.calls;
  record.lastLibrary = FAKE_LIBRARY_NAME;
  record.lastBuffer.assign(buf, buf + (len > 0 ? len : 0));
  record.lastLength = len;
  record.lastFlag = flag;
  record.lastProgressWasNull = progress == nullptr;
  record.lastUser = user;
  if (script.status != 0) return script.status;
  *info = script.withoutInfo ? nullptr : HandOver(script.info, script.minBlockBytes);
  *bits = script.withoutBits ? nullptr : HandOver(script.bits, script.minBlockBytes);
  return 0;
}
#endif
