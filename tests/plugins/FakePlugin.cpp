// A plug-in library that hands over whatever the test scripted, built under
// several file names into several folders. FAKE_LIBRARY_NAME is its file name;
// with FAKE_WITHOUT_ENTRY it exports no GetPicture.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/PluginContract.h"
#include "plugins/FakePluginControl.h"

using norvane::test::Fake;

__attribute__((constructor)) static void OnLoad() { ++Fake().record.loads; }
__attribute__((destructor)) static void OnUnload() { ++Fake().record.unloads; }

#ifndef FAKE_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) int GetPicture(const char* buf, long len, unsigned int, void** info,
                                                                 void** bits, PluginProgress, long) {
  auto& [script, record] = Fake();
  record.heapAtCall = norvane::test::HeapBytesInUse();
  ++record.calls;
  record.lastLibrary = FAKE_LIBRARY_NAME;
  record.lastBuffer.assign(buf, buf + std::max(len, 0L));
  record.lastLength = len;
  if (script.status != 0) return script.status;
  const auto handOver = [&](bool without, const std::vector<std::uint8_t>& content) -> void* {
    void* block = without ? nullptr : std::calloc(std::max({content.size(), script.minBlockBytes, std::size_t{1}}), 1);
    if (block == nullptr) return nullptr;
    if (!content.empty()) std::memcpy(block, content.data(), content.size());
    return block;
  };
  *info = handOver(script.withoutInfo, script.info);
  *bits = handOver(script.withoutBits, script.bits);
  return 0;
}
#endif
