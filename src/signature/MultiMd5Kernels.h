// Private to src/signature: the round constants and the block functions of
// each instruction set of the multi-buffer MD5, included only by its
// sources. The vector kernels live in files compiled
// with their own instruction-set flags and must only be called after the
// processor was checked for those features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "signature/MultiMd5.h"

namespace norvane::md5detail {

inline constexpr std::uint32_t kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// The integer part of 2^32 * |sin(i + 1)| for step i, i in radians.
inline constexpr std::uint32_t kSine[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u, 0xfd469501u,
    0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u, 0xa679438eu, 0x49b40821u,
    0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du, 0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u,
    0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu, 0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au,
    0xfffa3942u, 0x8771f681u, 0x6d9d6122u, 0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u,
    0x289b7ec6u, 0xeaa127fau, 0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u,
    0xf4292244u, 0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu, 0xeb86d391u,
};

// Left-rotation amount of step i: four per round, repeated four times.
constexpr int Shift(int step) {
  constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  return kShifts[step / 16][step % 4];
}

// The message word step i adds.
constexpr int WordIndex(int step) {
  const int i = step % 16;
  switch (step / 16) {
    case 0: return i;
    case 1: return (5 * i + 1) % 16;
    case 2: return (3 * i + 5) % 16;
    default: return (7 * i) % 16;
  }
}

// Lane-sliced state: word w of lane l is state[w * kMaxLanes + l].
// blocks[l] is lane l's first block; it advances by steps[l] bytes per block
// (64 for a lane with data, 0 for an idle lane that points at a dummy block).
// Runs `count` blocks on every lane.
void CompressAvx2(std::uint32_t* state, const std::uint8_t* const* blocks, const std::size_t* steps,
                  std::size_t count);
void CompressAvx512(std::uint32_t* state, const std::uint8_t* const* blocks, const std::size_t* steps,
                    std::size_t count);

// One lane, `count` consecutive blocks at `blocks`, portable code.
void CompressScalar(std::uint32_t (&abcd)[4], const std::uint8_t* blocks, std::size_t count);

}  // namespace norvane::md5detail
