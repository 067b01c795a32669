// Sixteen MD5 lanes in the 32-bit words of two 256-bit registers. Compiled with
// -mavx2; called only after the processor reported AVX2.
#include <immintrin.h>

#include <utility>

#include "signature/MultiMd5Kernels.h"

namespace norvane::md5detail {
namespace {

// Two groups of eight lanes, one 256-bit register each.
constexpr int kGroups = 2;
constexpr int kLanes = 8 * kGroups;

template <int S>
inline __m256i Rotl(__m256i x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, S), _mm256_srli_epi32(x, 32 - S));
}

// Turns eight rows (one lane's eight words each) into eight columns (one word
// of all eight lanes each).
inline void Transpose8(__m256i r[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
  const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
  const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
  const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
  const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// One step on both groups of eight lanes. Each group's step is a chain of
// dependent instructions; running two independent chains side by side keeps
// the vector units busy while either waits for its previous result.
template <int I>
inline void Step(__m256i (&a)[kGroups], const __m256i (&b)[kGroups], const __m256i (&c)[kGroups],
                 const __m256i (&d)[kGroups], const __m256i (*w)[16]) {
  // Constant-evaluated, so no out-of-line copy of these helpers is ever
  // compiled with this file's instruction set.
  constexpr int kWord = WordIndex(I);
  constexpr int kShift = Shift(I);
  const __m256i constant = _mm256_set1_epi32(static_cast<int>(kSine[I]));
  for (int g = 0; g < kGroups; ++g) {
    __m256i f;
    if constexpr (I < 16) {
      f = _mm256_xor_si256(d[g], _mm256_and_si256(b[g], _mm256_xor_si256(c[g], d[g])));  // (b & c) | (~b & d)
    } else if constexpr (I < 32) {
      f = _mm256_or_si256(_mm256_and_si256(b[g], d[g]), _mm256_andnot_si256(d[g], c[g]));  // (b & d) | (c & ~d)
    } else if constexpr (I < 48) {
      f = _mm256_xor_si256(b[g], _mm256_xor_si256(c[g], d[g]));
    } else {
      f = _mm256_xor_si256(c[g], _mm256_or_si256(b[g], _mm256_xor_si256(d[g], _mm256_set1_epi32(-1))));
    }
    // Adding the word and constant to a first keeps only one addition
    // between f and the rotation on the chain.
    const __m256i early = _mm256_add_epi32(a[g], _mm256_add_epi32(w[g][kWord], constant));
    a[g] = _mm256_add_epi32(b[g], Rotl<kShift>(_mm256_add_epi32(early, f)));
  }
}

template <std::size_t... I>
inline void AllSteps(__m256i (&a)[kGroups], __m256i (&b)[kGroups], __m256i (&c)[kGroups], __m256i (&d)[kGroups],
                     const __m256i (*w)[16], std::index_sequence<I...>) {
  // The four words take turns as the one being replaced: a, d, c, b.
  ((I % 4 == 0   ? Step<I>(a, b, c, d, w)
    : I % 4 == 1 ? Step<I>(d, a, b, c, w)
    : I % 4 == 2 ? Step<I>(c, d, a, b, w)
                 : Step<I>(b, c, d, a, w)),
   ...);
}

}  // namespace

void CompressAvx2(std::uint32_t* state, const std::uint8_t* const* blocks, const std::size_t* steps,
                  std::size_t count) {
  __m256i a[kGroups], b[kGroups], c[kGroups], d[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    a[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 0 * kMaxLanes + 8 * g));
    b[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 1 * kMaxLanes + 8 * g));
    c[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 2 * kMaxLanes + 8 * g));
    d[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 3 * kMaxLanes + 8 * g));
  }
  const std::uint8_t* p[kLanes];
  for (int l = 0; l < kLanes; ++l) p[l] = blocks[l];
  for (std::size_t n = 0; n < count; ++n) {
    __m256i w[kGroups][16];
    for (int g = 0; g < kGroups; ++g) {
      for (int l = 0; l < 8; ++l) {
        const std::uint8_t* block = p[8 * g + l];
        w[g][l] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
        w[g][8 + l] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
      }
      Transpose8(w[g]);
      Transpose8(w[g] + 8);
    }
    for (int l = 0; l < kLanes; ++l) p[l] += steps[l];
    __m256i a0[kGroups], b0[kGroups], c0[kGroups], d0[kGroups];
    for (int g = 0; g < kGroups; ++g) {
      a0[g] = a[g];
      b0[g] = b[g];
      c0[g] = c[g];
      d0[g] = d[g];
    }
    AllSteps(a, b, c, d, w, std::make_index_sequence<64>{});
    for (int g = 0; g < kGroups; ++g) {
      a[g] = _mm256_add_epi32(a[g], a0[g]);
      b[g] = _mm256_add_epi32(b[g], b0[g]);
      c[g] = _mm256_add_epi32(c[g], c0[g]);
      d[g] = _mm256_add_epi32(d[g], d0[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 0 * kMaxLanes + 8 * g), a[g]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 1 * kMaxLanes + 8 * g), b[g]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 2 * kMaxLanes + 8 * g), c[g]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 3 * kMaxLanes + 8 * g), d[g]);
  }
}

}  // namespace norvane::md5detail
