// Synthetic pictures for tests.
#pragma once

#include <cstdint>
#include <vector>

namespace norvane::test {

// A busy BGR pattern of width x height pixels, top row first: different
// seeds give unrelated pictures.
std::vector<std::uint8_t> Pattern(int width, int height, int seed);

}  // namespace norvane::test
