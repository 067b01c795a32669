// Writes every registered seed to <out>/<target>/<name>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "seeds/SeedRegistry.h"

namespace norvane::fuzz {
namespace {
std::vector<std::pair<std::string, SeedMaker>>& Registry() {
  static std::vector<std::pair<std::string, SeedMaker>> registry;
  return registry;
}
}  // namespace

SeedRegistrar::SeedRegistrar(const std::string& target, SeedMaker maker) {
  Registry().emplace_back(target, std::move(maker));
}

}  // namespace norvane::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  for (const auto& [target, maker] : norvane::fuzz::Registry()) {
    const fs::path dir = fs::path(argv[1]) / target;
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const auto& seed : maker()) {
      std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
      if (!out) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (dir / seed.name).c_str());
        return 1;
      }
    }
  }
  return 0;
}
