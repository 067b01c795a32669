// Sixteen MD5 lanes in the 32-bit words of 512-bit registers. Compiled with
// -mavx512f -mavx512bw; called only after the processor reported both.
#include <immintrin.h>

// GCC's AVX-512 intrinsics start from a deliberately undefined register
// (_mm512_undefined_epi32), which its own flow analysis then reports as
// possibly uninitialised wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <utility>

#include "signature/MultiMd5Kernels.h"

namespace norvane::md5detail {
namespace {

constexpr int kLanes = 16;

// Turns sixteen rows (one lane's sixteen words each) into sixteen columns
// (one word of all sixteen lanes each). Within each 128-bit quarter the 32-
// and 64-bit unpacks build 4 x 4 blocks; two rounds of quarter shuffles then
// move the blocks to their places.
inline void Transpose16(__m512i r[16]) {
  __m512i u[16];
  for (int q = 0; q < 4; ++q) {
    const __m512i ta = _mm512_unpacklo_epi32(r[4 * q], r[4 * q + 1]);
    const __m512i tb = _mm512_unpackhi_epi32(r[4 * q], r[4 * q + 1]);
    const __m512i tc = _mm512_unpacklo_epi32(r[4 * q + 2], r[4 * q + 3]);
    const __m512i td = _mm512_unpackhi_epi32(r[4 * q + 2], r[4 * q + 3]);
    // u[4q + e], quarter k: word 4k + e of lanes 4q .. 4q + 3.
    u[4 * q + 0] = _mm512_unpacklo_epi64(ta, tc);
    u[4 * q + 1] = _mm512_unpackhi_epi64(ta, tc);
    u[4 * q + 2] = _mm512_unpacklo_epi64(tb, td);
    u[4 * q + 3] = _mm512_unpackhi_epi64(tb, td);
  }
  for (int e = 0; e < 4; ++e) {
    const __m512i v0 = _mm512_shuffle_i32x4(u[e], u[4 + e], 0x44);
    const __m512i v1 = _mm512_shuffle_i32x4(u[e], u[4 + e], 0xee);
    const __m512i v2 = _mm512_shuffle_i32x4(u[8 + e], u[12 + e], 0x44);
    const __m512i v3 = _mm512_shuffle_i32x4(u[8 + e], u[12 + e], 0xee);
    r[e] = _mm512_shuffle_i32x4(v0, v2, 0x88);
    r[4 + e] = _mm512_shuffle_i32x4(v0, v2, 0xdd);
    r[8 + e] = _mm512_shuffle_i32x4(v1, v3, 0x88);
    r[12 + e] = _mm512_shuffle_i32x4(v1, v3, 0xdd);
  }
}

template <int I>
inline void Step(__m512i& a, __m512i b, __m512i c, __m512i d, const __m512i* w) {
  // Truth tables over (b, c, d) = (0xf0, 0xcc, 0xaa).
  constexpr int kTable = I < 16 ? 0xca    // (b & c) | (~b & d)
                         : I < 32 ? 0xe4  // (b & d) | (c & ~d)
                         : I < 48 ? 0x96  // b ^ c ^ d
                                  : 0x39; // c ^ (b | ~d)
  const __m512i f = _mm512_ternarylogic_epi32(b, c, d, kTable);
  // Constant-evaluated, so no out-of-line copy of these helpers is ever
  // compiled with this file's instruction set.
  constexpr int kWord = WordIndex(I);
  constexpr int kShift = Shift(I);
  // The step is one long dependency chain through b; adding the word and
  // constant to a first keeps only one addition between f and the rotation.
  const __m512i early = _mm512_add_epi32(a, _mm512_add_epi32(w[kWord], _mm512_set1_epi32(static_cast<int>(kSine[I]))));
  const __m512i sum = _mm512_add_epi32(early, f);
  a = _mm512_add_epi32(b, _mm512_rol_epi32(sum, kShift));
}

template <std::size_t... I>
inline void AllSteps(__m512i& a, __m512i& b, __m512i& c, __m512i& d, const __m512i* w,
                     std::index_sequence<I...>) {
  // The four words take turns as the one being replaced: a, d, c, b.
  ((I % 4 == 0   ? Step<I>(a, b, c, d, w)
    : I % 4 == 1 ? Step<I>(d, a, b, c, w)
    : I % 4 == 2 ? Step<I>(c, d, a, b, w)
                 : Step<I>(b, c, d, a, w)),
   ...);
}

}  // namespace

void CompressAvx512(std::uint32_t* state, const std::uint8_t* const* blocks, const std::size_t* steps,
                    std::size_t count) {
  __m512i a = _mm512_loadu_si512(state + 0 * kMaxLanes);
  __m512i b = _mm512_loadu_si512(state + 1 * kMaxLanes);
  __m512i c = _mm512_loadu_si512(state + 2 * kMaxLanes);
  __m512i d = _mm512_loadu_si512(state + 3 * kMaxLanes);
  const std::uint8_t* p[kLanes];
  for (int l = 0; l < kLanes; ++l) p[l] = blocks[l];
  for (std::size_t n = 0; n < count; ++n) {
    __m512i w[16];
    for (int l = 0; l < kLanes; ++l) {
      w[l] = _mm512_loadu_si512(p[l]);
      p[l] += steps[l];
    }
    Transpose16(w);
    const __m512i a0 = a, b0 = b, c0 = c, d0 = d;
    AllSteps(a, b, c, d, w, std::make_index_sequence<64>{});
    a = _mm512_add_epi32(a, a0);
    b = _mm512_add_epi32(b, b0);
    c = _mm512_add_epi32(c, c0);
    d = _mm512_add_epi32(d, d0);
  }
  _mm512_storeu_si512(state + 0 * kMaxLanes, a);
  _mm512_storeu_si512(state + 1 * kMaxLanes, b);
  _mm512_storeu_si512(state + 2 * kMaxLanes, c);
  _mm512_storeu_si512(state + 3 * kMaxLanes, d);
}

}  // namespace norvane::md5detail
