// Seeds for the cache file and settings file fuzz targets.
#include <cstring>

#include "seeds/SeedRegistry.h"

namespace norvane::fuzz {
namespace {

test::Bytes CacheFile(int records) {
  test::Bytes bytes = {'N', 'R', 'V', 0, '1', '0', '3', 0};
  for (int r = 0; r < records; ++r) {
    test::Bytes record(1120, 0);
    const std::string name = "photo" + std::to_string(r) + ".jpg";
    std::memcpy(record.data(), name.data(), name.size());
    std::memcpy(record.data() + 256, "2026/12/06 10:00:00", 19);
    record[276] = 0x10;
    record[280] = 64;
    record[284] = 48;
    std::memcpy(record.data() + 288, "0123456789abcdef0123456789abcdef", 32);
    for (int i = 0; i < 96; ++i) {
      const double v = i * 1.5 - 20;
      std::memcpy(record.data() + 352 + 8 * i, &v, 8);
    }
    test::PutBytes(bytes, record);
  }
  return bytes;
}

test::Bytes Text(const char* text) { return test::Bytes(text, text + std::strlen(text)); }

const SeedRegistrar cacheSeeds("fuzz_cache", [] {
  test::Bytes torn = CacheFile(2);
  torn.resize(torn.size() - 300);
  return std::vector<Seed>{{"empty", CacheFile(0)}, {"two", CacheFile(2)}, {"torn", torn}};
});

const SeedRegistrar settingsSeeds("fuzz_settings", [] {
  return std::vector<Seed>{
      {"lf", Text("[General]\nSearchFolder=/home/user/Pictures\nThresHold=100\nEnableCache=1\n"
                  "; a comment\n[WindowPos]\nLeft=100\n")},
      {"crlf", Text("\xEF\xBB\xBF[general]\r\nthreshold = 90 \r\nMoveFolder=\"  spaced  \"\r\n\r\n[Other]\r\nx=y")},
  };
});

}  // namespace
}  // namespace norvane::fuzz
