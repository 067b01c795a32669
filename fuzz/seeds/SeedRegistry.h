// Seed files for the fuzz corpora. Each seeds/<Format>.cpp registers a
// function that writes a few small valid files for one fuzz target.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace norvane::fuzz {

struct Seed {
  std::string name;
  test::Bytes bytes;
};

using SeedMaker = std::function<std::vector<Seed>()>;

// Registers the seeds of the fuzz target `target` (e.g. "fuzz_bmp").
struct SeedRegistrar {
  SeedRegistrar(const std::string& target, SeedMaker maker);
};

}  // namespace norvane::fuzz
