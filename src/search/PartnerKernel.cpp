#include "search/PartnerKernel.h"

#include "base/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define NORVANE_PARTNER_AVX2 1
#include <immintrin.h>
// GCC's AVX-512 intrinsics start from a deliberately undefined register
// (_mm512_undefined_epi32), which its own flow analysis then reports as
// (possibly) uninitialised wherever they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#endif

namespace norvane::partner {

namespace {

// floor(x) held within [low, low + 255], shifted to 0..255. floor and the
// comparisons are exact in doubles, so no rounding enters the code; a value
// that is not a number gives 0.
std::uint8_t Code(double x, double low) {
  double f = std::floor(x);
  if (!(f >= low)) f = low;
  if (f > low + 255.0) f = low + 255.0;
  return static_cast<std::uint8_t>(static_cast<int>(f - low));
}

// The L2 term of one coded value.
int SquaredTerm(std::uint8_t a, std::uint8_t b) {
  const int d = std::min(std::max(std::abs(int{a} - int{b}) - 1, 0), 127);
  return d * d;
}

}  // namespace

MeanCode EncodeMeans(const SignatureGrid& grid, bool withLumaDeviations) {
  MeanCode code;
  for (int c = 0; c < kGridCells; ++c) {
    const SignatureCell& cell = grid[static_cast<std::size_t>(c)];
    code.bytes[c] = Code(cell.meanY, 0.0);
    code.bytes[kGridCells + c] = Code(cell.meanCb, -128.0);
    code.bytes[2 * kGridCells + c] = Code(cell.meanCr, -128.0);
    if (withLumaDeviations) code.bytes[3 * kGridCells + c] = Code(cell.sdevY, 0.0);
  }
  return code;
}

FineFractions EncodeFractions(const SignatureGrid& grid, bool withLumaDeviations) {
  // The part of x beyond floor(x), as Code takes it: x - floor(x) is at
  // least 0 and within a rounding of the exact part, and the shrinking
  // keeps 16 x part at or below the exact value; a value that Code clamps
  // gets 0 below the range (X = 0 is then above 16 v, which only weakens
  // the bound for candidates below it, and there are none) and 15 above it.
  const auto fraction = [](double x, double low) -> unsigned {
    const double f = std::floor(x);
    if (!(f >= low)) return 0;
    if (f > low + 255.0) return 15;
    const double part = std::floor(16.0 * (x - f) * (1 - 1e-12));
    return part >= 15 ? 15u : static_cast<unsigned>(part);
  };
  FineFractions fractions;
  const auto put = [&](int k, unsigned value) {
    fractions.nibbles[k % 32] = static_cast<std::uint8_t>(fractions.nibbles[k % 32] | (value << (k < 32 ? 0 : 4)));
  };
  for (int c = 0; c < kGridCells; ++c) {
    const SignatureCell& cell = grid[static_cast<std::size_t>(c)];
    put(c, fraction(cell.meanY, 0.0));
    put(kGridCells + c, fraction(cell.meanCb, -128.0));
    put(2 * kGridCells + c, fraction(cell.meanCr, -128.0));
    if (withLumaDeviations) put(3 * kGridCells + c, fraction(cell.sdevY, 0.0));
  }
  return fractions;
}

std::int32_t FineSquaredBoundPortable(const MeanCode& query, const FineFractions& fractions,
                                      const MeanCode& code) {
  std::int32_t sum = 0;
  for (int k = 0; k < kCodeBytes; ++k) {
    const int x = 16 * query.bytes[k] + ((fractions.nibbles[k % 32] >> (k < 32 ? 0 : 4)) & 15);
    const int low = 16 * code.bytes[k];
    // Below the interval by more than X can lie below 16 v, or above it;
    // code 0 reaches down and code 255 up without end.
    const int below = code.bytes[k] == 0 ? 0 : std::max(low - 1 - x, 0);
    const int above = code.bytes[k] == 255 ? 0 : std::max(x - low - 16, 0);
    sum += (below + above) * (below + above);
  }
  return sum;
}

std::int32_t CodeGroupedBound(const MeanCode& a, const MeanCode& b) {
  std::int32_t sum = 0;
  for (int group = 0; group < kCodeBytes; group += 8) {
    int sad = 0;
    for (int k = group; k < group + 8; ++k) sad += std::abs(int{a.bytes[k]} - int{b.bytes[k]});
    const int over = std::max(sad - 8, 0);
    sum += over * over;
  }
  return sum;
}

std::int32_t CodeSquaredLowerBound(const MeanCode& a, const MeanCode& b) {
  std::int32_t sum = 0;
  for (int k = 0; k < kCodeBytes; ++k) sum += SquaredTerm(a.bytes[k], b.bytes[k]);
  return sum;
}

std::size_t FilterCodesPortable(const MeanCode& query, const MeanCode* codes, std::size_t count,
                                const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                                PassedCode* out) {
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = picks == nullptr ? k : picks[k];
    if (CodeGroupedBound(query, codes[at]) > groupedLimit) continue;
    const std::int32_t squared = CodeSquaredLowerBound(query, codes[at]);
    if (squared > squaredLimit) continue;
    out[found++] = PassedCode{static_cast<std::uint32_t>(at), squared};
  }
  return found;
}

std::size_t WithinBallPortable(const float* a, const float* b, const float* c, std::size_t count,
                               const BallCenter& center, std::uint32_t first, std::uint32_t* out) {
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const float da = a[k] - center.a, db = b[k] - center.b, dc = c[k] - center.c;
    if (da * da + db * db + dc * dc <= center.radius2) out[found++] = first + static_cast<std::uint32_t>(k);
  }
  return found;
}

int FrontSad(const MeanCode& query, const std::uint8_t* front) {
  int sum = 0;
  for (int k = 0; k < kFrontBytes; ++k) sum += std::abs(query.bytes[k] - front[k]);
  return sum;
}

MeanCode JoinHalves(const std::uint8_t* fronts, const std::uint8_t* backs, std::size_t k) {
  MeanCode code;
  std::copy_n(fronts + k * kFrontBytes, kFrontBytes, code.bytes);
  std::copy_n(backs + k * kFrontBytes, kFrontBytes, code.bytes + kFrontBytes);
  return code;
}

std::size_t FilterSplitCodesPortable(const MeanCode& query, const std::uint8_t* fronts,
                                     const std::uint8_t* backs, std::size_t count, int frontLimit,
                                     std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out) {
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (FrontSad(query, fronts + k * kFrontBytes) > frontLimit) continue;
    const MeanCode code = JoinHalves(fronts, backs, k);
    if (CodeGroupedBound(query, code) > groupedLimit) continue;
    const std::int32_t squared = CodeSquaredLowerBound(query, code);
    if (squared > squaredLimit) continue;
    out[found++] = PassedCode{static_cast<std::uint32_t>(k), squared};
  }
  return found;
}

#if NORVANE_PARTNER_AVX2

namespace {

// The codes a vector filter reads: one after another, or those the picks
// name. Code k and the offset written for it.
struct Contiguous {
  const MeanCode* codes;
  const MeanCode& operator[](std::size_t k) const { return codes[k]; }
  std::size_t Offset(std::size_t k) const { return k; }
};
struct Picked {
  const MeanCode* codes;
  const std::uint32_t* picks;
  const MeanCode& operator[](std::size_t k) const { return codes[picks[k]]; }
  std::size_t Offset(std::size_t k) const { return picks[k]; }
};

// Four SAD results as the 16-bit fields of one register. Each SAD (below
// 2^11) sits in the low half of a 64-bit lane, so packing the 32-bit halves
// twice with unsigned saturation keeps every SAD and drops the zeros:
// 128-bit lane l holds the two SADs of lane l of each result in turn.
__attribute__((target("avx2"), always_inline)) inline __m256i PackSads(const __m256i (&sads)[4]) {
  return _mm256_packus_epi32(_mm256_packus_epi32(sads[0], sads[1]), _mm256_packus_epi32(sads[2], sads[3]));
}

// Pairwise sums of the squared terms of 32 bytes, as 16-bit numbers.
__attribute__((target("avx2"), always_inline)) inline __m256i PairSquares(__m256i a, __m256i q) {
  const __m256i distance = _mm256_sub_epi8(_mm256_max_epu8(a, q), _mm256_min_epu8(a, q));
  const __m256i term = _mm256_min_epu8(_mm256_subs_epu8(distance, _mm256_set1_epi8(1)),
                                       _mm256_set1_epi8(127));
  // Both factors at most 127, so the unsigned-by-signed products are the
  // squares, and two of them (at most 32258) fit a 16-bit number.
  return _mm256_maddubs_epi16(term, term);
}

// The squared terms of one code, summed into eight 32-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i SquaredLanes(const MeanCode& code,
                                                                            __m256i q0,
                                                                            __m256i q1) {
  const __m256i* c = reinterpret_cast<const __m256i*>(code.bytes);
  const __m256i ones = _mm256_set1_epi16(1);
  return _mm256_add_epi32(_mm256_madd_epi16(PairSquares(_mm256_load_si256(c), q0), ones),
                          _mm256_madd_epi16(PairSquares(_mm256_load_si256(c + 1), q1), ones));
}

__attribute__((target("avx2"), always_inline)) inline std::int32_t SquaredBound(
    const MeanCode& code, __m256i q0, __m256i q1) {
  const __m256i sums = SquaredLanes(code, q0, q1);
  __m128i t = _mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  t = _mm_add_epi32(t, _mm_unpackhi_epi64(t, t));
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 1));
  return _mm_cvtsi128_si32(t);
}

// The G bound of codes[k..k + 3], in that order. The eight group SADs of a
// code are packed with those of the other three (PackSads): 128-bit lane i
// of the first half's fields holds groups 2i and 2i + 1 of each code in
// turn, of the second half's groups 4 + 2i and 5 + 2i. One multiply-add
// squares and adds the two fields of a code.
template <typename Codes>
__attribute__((target("avx2"), always_inline)) inline __m128i GroupedFour(const Codes& codes, std::size_t k,
                                                                         __m256i q0, __m256i q1) {
  __m256i sads[2][4];
  for (std::size_t i = 0; i < 4; ++i) {
    const __m256i* c = reinterpret_cast<const __m256i*>(codes[k + i].bytes);
    sads[0][i] = _mm256_sad_epu8(_mm256_load_si256(c), q0);
    sads[1][i] = _mm256_sad_epu8(_mm256_load_si256(c + 1), q1);
  }
  const __m256i eight = _mm256_set1_epi16(8);
  __m256i sums = _mm256_setzero_si256();
  for (const auto& half : sads) {
    const __m256i over = _mm256_subs_epu16(PackSads(half), eight);
    // Each field is at most 2040 - 8, so two squares fit a 32-bit lane.
    sums = _mm256_add_epi32(sums, _mm256_madd_epi16(over, over));
  }
  return _mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
}

// One bit per code of codes[k..k + 3], set where its G bound is at most `limit`.
template <typename Codes>
__attribute__((target("avx2"), always_inline)) inline unsigned WithinFour(const Codes& codes, std::size_t k,
                                                                         __m256i q0, __m256i q1, __m128i limit) {
  const __m128i above = _mm_cmpgt_epi32(GroupedFour(codes, k, q0, q1), limit);
  return ~static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(above))) & 0xFu;
}

// The G bound of one code held in two halves.
__attribute__((target("avx2"), always_inline)) inline std::int32_t GroupedBound(__m256i c0, __m256i c1,
                                                                               __m256i q0, __m256i q1) {
  const __m256i eight = _mm256_set1_epi16(8);
  const __m256i first = _mm256_subs_epu16(_mm256_sad_epu8(c0, q0), eight);
  const __m256i second = _mm256_subs_epu16(_mm256_sad_epu8(c1, q1), eight);
  const __m256i squares = _mm256_add_epi64(_mm256_mul_epu32(first, first), _mm256_mul_epu32(second, second));
  const __m128i t = _mm_add_epi64(_mm256_castsi256_si128(squares), _mm256_extracti128_si256(squares, 1));
  return static_cast<std::int32_t>(_mm_cvtsi128_si64(_mm_add_epi64(t, _mm_unpackhi_epi64(t, t))));
}

template <typename Codes>
__attribute__((target("avx2"))) std::size_t FilterCodesWithAvx2(const MeanCode& query, const Codes& codes,
                                                                std::size_t count, std::int32_t groupedLimit,
                                                                std::int32_t squaredLimit, PassedCode* out) {
  const __m256i* q = reinterpret_cast<const __m256i*>(query.bytes);
  const __m256i q0 = _mm256_load_si256(q);
  const __m256i q1 = _mm256_load_si256(q + 1);
  const __m128i bound = _mm_set1_epi32(groupedLimit);
  // As in FilterCodesAvx512: the G bits of 64 codes first, then the squared
  // bounds of the codes within the G limit.
  std::size_t found = 0;
  std::size_t k = 0;
  for (; k < count; k += 64) {
    // Up to 64 codes: whole groups of four, those past the end cleared
    // afterwards (their bytes are read but not used).
    const std::size_t left = count - k;
    const int groups = left >= 64 ? 16 : static_cast<int>((left + 3) / 4);
    std::uint64_t bits = 0;
    for (int g = 0; g < groups; ++g) {
      bits |= std::uint64_t{WithinFour(codes, k + 4 * static_cast<std::size_t>(g), q0, q1, bound)} << (4 * g);
    }
    if (left < 64) bits &= (std::uint64_t{1} << left) - 1;
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t at = k + static_cast<std::size_t>(__builtin_ctzll(bits));
      const std::int32_t squared = SquaredBound(codes[at], q0, q1);
      out[found] = PassedCode{static_cast<std::uint32_t>(codes.Offset(at)), squared};
      found += squared <= squaredLimit ? 1 : 0;
    }
  }
  return found;
}

}  // namespace

__attribute__((target("avx2"))) std::size_t FilterCodesAvx2(const MeanCode& query, const MeanCode* codes,
                                                            std::size_t count, const std::uint32_t* picks,
                                                            std::int32_t groupedLimit, std::int32_t squaredLimit,
                                                            PassedCode* out) {
  return picks == nullptr
             ? FilterCodesWithAvx2(query, Contiguous{codes}, count, groupedLimit, squaredLimit, out)
             : FilterCodesWithAvx2(query, Picked{codes, picks}, count, groupedLimit, squaredLimit, out);
}

namespace {

// For every set of eight bits, the places of the set ones in increasing
// order, one per byte: how WithinBallAvx2 compresses its offsets.
struct Compression {
  std::uint64_t places[256] = {};
};
constexpr Compression MakeCompression() {
  Compression table;
  for (unsigned bits = 0; bits < 256; ++bits) {
    unsigned count = 0;
    for (unsigned i = 0; i < 8; ++i) {
      if ((bits >> i) & 1) table.places[bits] |= std::uint64_t{i} << (8 * count++);
    }
  }
  return table;
}
constexpr Compression kCompression = MakeCompression();

}  // namespace

__attribute__((target("avx2"))) std::size_t WithinBallAvx2(const float* a, const float* b, const float* c,
                                                           std::size_t count, const BallCenter& center,
                                                           std::uint32_t first, std::uint32_t* out) {
  const __m256 ca = _mm256_set1_ps(center.a), cb = _mm256_set1_ps(center.b), cc = _mm256_set1_ps(center.c);
  const __m256 radius2 = _mm256_set1_ps(center.radius2);
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; k += 8) {
    // The same operations in the same order as the plain variant.
    const __m256 da = _mm256_sub_ps(_mm256_loadu_ps(a + k), ca);
    const __m256 db = _mm256_sub_ps(_mm256_loadu_ps(b + k), cb);
    const __m256 dc = _mm256_sub_ps(_mm256_loadu_ps(c + k), cc);
    const __m256 d = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(da, da), _mm256_mul_ps(db, db)), _mm256_mul_ps(dc, dc));
    unsigned bits = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(d, radius2, _CMP_LE_OQ)));
    if (count - k < 8) bits &= (1u << (count - k)) - 1;
    // All eight offsets stored, those within first; the rest are
    // overwritten by the next step or lie past the end.
    const __m128i places = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kCompression.places[bits]));
    const __m256i offsets =
        _mm256_add_epi32(_mm256_cvtepu8_epi32(places), _mm256_set1_epi32(static_cast<int>(first + static_cast<std::uint32_t>(k))));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + found), offsets);
    found += static_cast<std::size_t>(__builtin_popcount(bits));
  }
  return found;
}

namespace {

// The front SADs of split codes k .. k + 3 per 128-bit lane: 32-bit field
// i of lane l holds the SAD of code k + i's bytes in that lane, the two
// fields of PackSads added by one multiply-add.
__attribute__((target("avx2"), always_inline)) inline __m256i FrontLaneSums(const std::uint8_t* fronts, __m256i q0) {
  __m256i sads[4];
  for (int i = 0; i < 4; ++i) {
    sads[i] = _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(fronts + i * kFrontBytes)), q0);
  }
  return _mm256_madd_epi16(PackSads(sads), _mm256_set1_epi16(1));
}

// The bits of the codes of split codes k .. k + 7 whose front SADs are
// within the limit held in every 32-bit field of `bound`.
__attribute__((target("avx2"), always_inline)) inline unsigned FrontsWithinEight(const std::uint8_t* fronts,
                                                                                __m256i q0, __m256i bound) {
  const __m256i low = FrontLaneSums(fronts, q0);
  const __m256i high = FrontLaneSums(fronts + 4 * kFrontBytes, q0);
  // Each front's two lanes added: the SADs of codes 0 .. 7 in order.
  const __m256i sums =
      _mm256_add_epi32(_mm256_permute2x128_si256(low, high, 0x20), _mm256_permute2x128_si256(low, high, 0x31));
  const __m256i above = _mm256_cmpgt_epi32(sums, bound);
  return ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(above))) & 0xFFu;
}

}  // namespace

__attribute__((target("avx2"))) std::size_t FilterSplitCodesAvx2(
    const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs, std::size_t count,
    int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out) {
  const __m256i* q = reinterpret_cast<const __m256i*>(query.bytes);
  const __m256i q0 = _mm256_load_si256(q);
  const __m256i q1 = _mm256_load_si256(q + 1);
  const __m256i bound = _mm256_set1_epi32(frontLimit);
  // The fronts of 64 codes first; the few codes within the front limit then
  // go through the G bound and the squared bound one by one.
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; k += 64) {
    const std::size_t left = count - k;
    const int groups = left >= 64 ? 8 : static_cast<int>((left + 7) / 8);
    std::uint64_t bits = 0;
    for (int g = 0; g < groups; ++g) {
      bits |= std::uint64_t{FrontsWithinEight(fronts + (k + 8 * static_cast<std::size_t>(g)) * kFrontBytes, q0, bound)}
              << (8 * g);
    }
    if (left < 64) bits &= (std::uint64_t{1} << left) - 1;
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t offset = k + static_cast<std::size_t>(__builtin_ctzll(bits));
      const __m256i front = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fronts + offset * kFrontBytes));
      const __m256i back = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(backs + offset * kFrontBytes));
      if (GroupedBound(front, back, q0, q1) > groupedLimit) continue;
      MeanCode code;
      _mm256_store_si256(reinterpret_cast<__m256i*>(code.bytes), front);
      _mm256_store_si256(reinterpret_cast<__m256i*>(code.bytes + kFrontBytes), back);
      const std::int32_t squared = SquaredBound(code, q0, q1);
      out[found] = PassedCode{static_cast<std::uint32_t>(offset), squared};
      found += squared <= squaredLimit ? 1 : 0;
    }
  }
  return found;
}

namespace {

// The fine distances of 16 code bytes (widened to 16 bits) from the query's
// X: the saturating differences are 0 for code 0 below and, since X stays
// below 16 x 256 = 4096, for code 255 above.
__attribute__((target("avx2"), always_inline)) inline __m256i FineDistances(__m256i low, __m256i x) {
  const __m256i below = _mm256_subs_epu16(_mm256_subs_epu16(low, _mm256_set1_epi16(1)), x);
  const __m256i above = _mm256_subs_epu16(x, _mm256_add_epi16(low, _mm256_set1_epi16(16)));
  return _mm256_or_si256(below, above);
}

}  // namespace

__attribute__((target("avx2"))) std::int32_t FineSquaredBoundAvx2(const MeanCode& query,
                                                                 const FineFractions& fractions,
                                                                 const MeanCode& code) {
  const __m128i nibbles[2] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(fractions.nibbles)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(fractions.nibbles + 16))};
  const __m128i mask = _mm_set1_epi8(15);
  __m256i sum = _mm256_setzero_si256();
  for (int k = 0; k < kCodeBytes; k += 16) {
    // Values k .. k + 15: the low halves of bytes k % 32 .. for k < 32.
    const __m128i packed = nibbles[(k / 16) % 2];
    const __m128i part = _mm_and_si128(k < 32 ? packed : _mm_srli_epi16(packed, 4), mask);
    const __m256i x = _mm256_add_epi16(
        _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(query.bytes + k))), 4),
        _mm256_cvtepu8_epi16(part));
    const __m256i low = _mm256_slli_epi16(
        _mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(code.bytes + k))), 4);
    const __m256i d = FineDistances(low, x);
    // d < 4096, so two squares fit a 32-bit lane many times over.
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(d, d));
  }
  __m128i t = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
  t = _mm_add_epi32(t, _mm_unpackhi_epi64(t, t));
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 1));
  return _mm_cvtsi128_si32(t);
}

__attribute__((target("avx512f,avx512bw"))) std::int32_t FineSquaredBoundAvx512(
    const MeanCode& query, const FineFractions& fractions, const MeanCode& code) {
  const __m512i queryBytes = _mm512_load_si512(query.bytes);
  const __m512i codeBytes = _mm512_load_si512(code.bytes);
  const __m256i nibbles = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fractions.nibbles));
  const __m256i mask = _mm256_set1_epi8(15);
  __m512i sum = _mm512_setzero_si512();
  for (int half = 0; half < 2; ++half) {
    const __m256i q = half == 0 ? _mm512_castsi512_si256(queryBytes) : _mm512_extracti64x4_epi64(queryBytes, 1);
    const __m256i c = half == 0 ? _mm512_castsi512_si256(codeBytes) : _mm512_extracti64x4_epi64(codeBytes, 1);
    const __m256i part = _mm256_and_si256(half == 0 ? nibbles : _mm256_srli_epi16(nibbles, 4), mask);
    const __m512i x = _mm512_add_epi16(_mm512_slli_epi16(_mm512_cvtepu8_epi16(q), 4), _mm512_cvtepu8_epi16(part));
    const __m512i low = _mm512_slli_epi16(_mm512_cvtepu8_epi16(c), 4);
    // As in FineDistances.
    const __m512i below = _mm512_subs_epu16(_mm512_subs_epu16(low, _mm512_set1_epi16(1)), x);
    const __m512i above = _mm512_subs_epu16(x, _mm512_add_epi16(low, _mm512_set1_epi16(16)));
    const __m512i d = _mm512_or_si512(below, above);
    sum = _mm512_add_epi32(sum, _mm512_madd_epi16(d, d));
  }
  return _mm512_reduce_add_epi32(sum);
}

namespace {

// The squared bound of one code against the query, all 64 bytes at once.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline std::int32_t SquaredBoundOf512(
    __m512i a, __m512i q) {
  const __m512i distance = _mm512_sub_epi8(_mm512_max_epu8(a, q), _mm512_min_epu8(a, q));
  const __m512i term = _mm512_min_epu8(_mm512_subs_epu8(distance, _mm512_set1_epi8(1)),
                                       _mm512_set1_epi8(127));
  // As in PairSquares: two squares of at most 127 fit a 16-bit number.
  const __m512i pairs = _mm512_maddubs_epi16(term, term);
  return _mm512_reduce_add_epi32(_mm512_madd_epi16(pairs, _mm512_set1_epi16(1)));
}

__attribute__((target("avx512f,avx512bw"), always_inline)) inline std::int32_t SquaredBound512(
    const MeanCode& code, __m512i q) {
  return SquaredBoundOf512(_mm512_load_si512(code.bytes), q);
}

// The eight partial SADs (one per 64-bit lane, each below 2^11) of one code.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i LaneSad512(
    const MeanCode& code, __m512i q) {
  return _mm512_sad_epu8(_mm512_load_si512(code.bytes), q);
}

// The group SADs of codes[k..k + 3] as 16-bit fields: 128-bit lane i holds
// groups 2i and 2i + 1 of each code in turn. Each SAD (below 2^11) sits in
// the low half of a 64-bit lane, so packing the 32-bit halves twice with
// unsigned saturation keeps every SAD and drops the zeros.
template <typename Codes>
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i PackFour512(const Codes& codes,
                                                                                    std::size_t k, __m512i q) {
  const __m512i first = _mm512_packus_epi32(LaneSad512(codes[k], q), LaneSad512(codes[k + 1], q));
  const __m512i second = _mm512_packus_epi32(LaneSad512(codes[k + 2], q), LaneSad512(codes[k + 3], q));
  return _mm512_packus_epi32(first, second);
}

// The G bounds of codes[k..k + 7], in that order. The two fields of a code
// in a 32-bit lane are squared and added by one multiply-add; the lanes of
// a code then add up across the four 128-bit lanes.
template <typename Codes>
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m256i GroupedEight512(const Codes& codes,
                                                                                        std::size_t k, __m512i q) {
  const __m512i eight = _mm512_set1_epi16(8);
  const __m512i low = _mm512_subs_epu16(PackFour512(codes, k, q), eight);       // codes 0 .. 3
  const __m512i high = _mm512_subs_epu16(PackFour512(codes, k + 4, q), eight);  // codes 4 .. 7
  // Each field is at most 2040 - 8, so two squares fit a 32-bit lane.
  const __m512i a = _mm512_madd_epi16(low, low);
  const __m512i b = _mm512_madd_epi16(high, high);
  // The 128-bit lanes of a added up, and those of b: [a, a, b, b], then [a, b].
  const __m512i halves = _mm512_add_epi32(_mm512_shuffle_i32x4(a, b, _MM_SHUFFLE(2, 0, 2, 0)),
                                          _mm512_shuffle_i32x4(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  const __m512i whole = _mm512_add_epi32(halves, _mm512_shuffle_i32x4(halves, halves, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm512_castsi512_si256(_mm512_shuffle_i32x4(whole, whole, _MM_SHUFFLE(2, 0, 2, 0)));
}

// One bit per code of codes[k..k + 7], set where its G bound is at most `limit`.
template <typename Codes>
__attribute__((target("avx512f,avx512bw,avx512vl"), always_inline)) inline unsigned WithinEight512(
    const Codes& codes, std::size_t k, __m512i q, __m256i limit) {
  return static_cast<unsigned>(_mm256_cmple_epi32_mask(GroupedEight512(codes, k, q), limit));
}

// The G bound of one whole code.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline std::int32_t GroupedBound512(__m512i code,
                                                                                             __m512i q) {
  const __m512i over = _mm512_subs_epu16(_mm512_sad_epu8(code, q), _mm512_set1_epi16(8));
  return static_cast<std::int32_t>(_mm512_reduce_add_epi64(_mm512_mul_epu32(over, over)));
}

template <typename Codes>
__attribute__((target("avx512f,avx512bw,avx512vl"))) std::size_t FilterCodesWith512(
    const MeanCode& query, const Codes& codes, std::size_t count, std::int32_t groupedLimit,
    std::int32_t squaredLimit, PassedCode* out) {
  const __m512i q = _mm512_load_si512(query.bytes);
  const __m256i bound = _mm256_set1_epi32(groupedLimit);
  // First the G bounds of 64 codes, their bits gathered in one word without
  // branches; then the squared bounds of the codes within the G limit.
  // Deciding per group of eight made the processor guess, and often miss,
  // which groups go on.
  std::size_t found = 0;
  std::size_t k = 0;
  for (; k < count; k += 64) {
    // Up to 64 codes: whole groups of eight, those past the end cleared
    // afterwards (their bytes are read but not used).
    const std::size_t left = count - k;
    const int groups = left >= 64 ? 8 : static_cast<int>((left + 7) / 8);
    std::uint64_t bits = 0;
    for (int g = 0; g < groups; ++g) {
      bits |= std::uint64_t{WithinEight512(codes, k + 8 * static_cast<std::size_t>(g), q, bound)} << (8 * g);
    }
    if (left < 64) bits &= (std::uint64_t{1} << left) - 1;
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t at = k + static_cast<std::size_t>(__builtin_ctzll(bits));
      const std::int32_t squared = SquaredBound512(codes[at], q);
      out[found] = PassedCode{static_cast<std::uint32_t>(codes.Offset(at)), squared};
      found += squared <= squaredLimit ? 1 : 0;
    }
  }
  return found;
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl"))) std::size_t FilterCodesAvx512(
    const MeanCode& query, const MeanCode* codes, std::size_t count, const std::uint32_t* picks,
    std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out) {
  return picks == nullptr
             ? FilterCodesWith512(query, Contiguous{codes}, count, groupedLimit, squaredLimit, out)
             : FilterCodesWith512(query, Picked{codes, picks}, count, groupedLimit, squaredLimit, out);
}

__attribute__((target("avx512f"))) std::size_t WithinBallAvx512(const float* a, const float* b, const float* c,
                                                                std::size_t count, const BallCenter& center,
                                                                std::uint32_t first, std::uint32_t* out) {
  const __m512 ca = _mm512_set1_ps(center.a), cb = _mm512_set1_ps(center.b), cc = _mm512_set1_ps(center.c);
  const __m512 radius2 = _mm512_set1_ps(center.radius2);
  __m512i offsets = _mm512_add_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                     _mm512_set1_epi32(static_cast<int>(first)));
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; k += 16) {
    // The same operations in the same order as the plain variant.
    const __m512 da = _mm512_sub_ps(_mm512_loadu_ps(a + k), ca);
    const __m512 db = _mm512_sub_ps(_mm512_loadu_ps(b + k), cb);
    const __m512 dc = _mm512_sub_ps(_mm512_loadu_ps(c + k), cc);
    const __m512 d = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(da, da), _mm512_mul_ps(db, db)), _mm512_mul_ps(dc, dc));
    __mmask16 within = _mm512_cmp_ps_mask(d, radius2, _CMP_LE_OQ);
    if (count - k < 16) within &= static_cast<__mmask16>((1u << (count - k)) - 1);
    // Compressed in a register and stored whole: the store that compresses
    // into memory is slow on some processors.
    _mm512_storeu_si512(out + found, _mm512_maskz_compress_epi32(within, offsets));
    found += static_cast<std::size_t>(__builtin_popcount(within));
    offsets = _mm512_add_epi32(offsets, _mm512_set1_epi32(16));
  }
  return found;
}

namespace {

// The four lane sums of each front of split codes k .. k + 7 as 16-bit
// fields: each 512-bit load holds two fronts, so the sums of code 2i + h
// lie in field i of the lanes of half h.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i FrontSadsOfEight(const std::uint8_t* fronts,
                                                                                          __m512i q) {
  __m512i packed = _mm512_setzero_si512();
  for (int i = 0; i < 4; ++i) {
    const __m512i sad = _mm512_sad_epu8(_mm512_loadu_si512(fronts + i * 2 * kFrontBytes), q);
    packed = _mm512_or_si512(packed, _mm512_slli_epi64(sad, 16 * i));
  }
  return packed;
}

// The bits of the codes of split codes k .. k + 15 whose fronts are within
// the limit held in every 16-bit field of `bound`.
__attribute__((target("avx512f,avx512bw,avx512vl,bmi2"), always_inline)) inline unsigned FrontsWithinSixteen512(
    const std::uint8_t* fronts, __m512i q, __m256i bound) {
  __m512i a = FrontSadsOfEight(fronts, q);
  __m512i b = FrontSadsOfEight(fronts + 8 * kFrontBytes, q);
  // Lanes 0 and 1 of each half: the sums of its lanes 0 + 2 and 1 + 3.
  a = _mm512_add_epi64(a, _mm512_permutex_epi64(a, _MM_SHUFFLE(1, 0, 3, 2)));
  b = _mm512_add_epi64(b, _mm512_permutex_epi64(b, _MM_SHUFFLE(1, 0, 3, 2)));
  // 128-bit lane 0: the totals of the first halves of a and b; lane 2: of
  // the second halves.
  const __m512i totals = _mm512_add_epi64(_mm512_unpacklo_epi64(a, b), _mm512_unpackhi_epi64(a, b));
  const __m256i sums = _mm512_castsi512_si256(_mm512_shuffle_i64x2(totals, totals, _MM_SHUFFLE(0, 0, 2, 0)));
  // Fields: codes 0, 2, .. 14, then 1, 3, .. 15.
  const unsigned within = static_cast<unsigned>(_mm256_cmple_epi16_mask(sums, bound));
  return _pdep_u32(within & 0xFFu, 0x5555u) | _pdep_u32(within >> 8, 0xAAAAu);
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl,bmi2"))) std::size_t FilterSplitCodesAvx512(
    const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs, std::size_t count,
    int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out) {
  const __m512i q = _mm512_load_si512(query.bytes);
  const __m256i front = _mm512_castsi512_si256(q);
  const __m512i fronts2 = _mm512_inserti64x4(_mm512_castsi256_si512(front), front, 1);
  const __m256i bound = _mm256_set1_epi16(static_cast<short>(std::min(frontLimit, 32767)));
  // As in FilterSplitCodesAvx2.
  std::size_t found = 0;
  for (std::size_t k = 0; k < count; k += 64) {
    const std::size_t left = count - k;
    const int groups = left >= 64 ? 4 : static_cast<int>((left + 15) / 16);
    std::uint64_t bits = 0;
    for (int g = 0; g < groups; ++g) {
      bits |= std::uint64_t{FrontsWithinSixteen512(fronts + (k + 16 * static_cast<std::size_t>(g)) * kFrontBytes,
                                                   fronts2, bound)}
              << (16 * g);
    }
    if (left < 64) bits &= (std::uint64_t{1} << left) - 1;
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t offset = k + static_cast<std::size_t>(__builtin_ctzll(bits));
      const __m512i code = _mm512_inserti64x4(
          _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(fronts + offset * kFrontBytes))),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(backs + offset * kFrontBytes)), 1);
      if (GroupedBound512(code, q) > groupedLimit) continue;
      const std::int32_t squared = SquaredBoundOf512(code, q);
      out[found] = PassedCode{static_cast<std::uint32_t>(offset), squared};
      found += squared <= squaredLimit ? 1 : 0;
    }
  }
  return found;
}

#else

std::int32_t FineSquaredBoundAvx2(const MeanCode& query, const FineFractions& fractions, const MeanCode& code) {
  return FineSquaredBoundPortable(query, fractions, code);
}

std::int32_t FineSquaredBoundAvx512(const MeanCode& query, const FineFractions& fractions, const MeanCode& code) {
  return FineSquaredBoundPortable(query, fractions, code);
}

std::size_t FilterCodesAvx512(const MeanCode& query, const MeanCode* codes, std::size_t count,
                              const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                              PassedCode* out) {
  return FilterCodesPortable(query, codes, count, picks, groupedLimit, squaredLimit, out);
}

std::size_t FilterCodesAvx2(const MeanCode& query, const MeanCode* codes, std::size_t count,
                            const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                            PassedCode* out) {
  return FilterCodesPortable(query, codes, count, picks, groupedLimit, squaredLimit, out);
}

std::size_t WithinBallAvx2(const float* a, const float* b, const float* c, std::size_t count,
                           const BallCenter& center, std::uint32_t first, std::uint32_t* out) {
  return WithinBallPortable(a, b, c, count, center, first, out);
}

std::size_t WithinBallAvx512(const float* a, const float* b, const float* c, std::size_t count,
                             const BallCenter& center, std::uint32_t first, std::uint32_t* out) {
  return WithinBallPortable(a, b, c, count, center, first, out);
}

std::size_t FilterSplitCodesAvx2(const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs,
                                 std::size_t count, int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit,
                                 PassedCode* out) {
  return FilterSplitCodesPortable(query, fronts, backs, count, frontLimit, groupedLimit, squaredLimit, out);
}

std::size_t FilterSplitCodesAvx512(const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs,
                                   std::size_t count, int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit,
                                   PassedCode* out) {
  return FilterSplitCodesPortable(query, fronts, backs, count, frontLimit, groupedLimit, squaredLimit, out);
}

#endif

std::int32_t FineSquaredBound(const MeanCode& query, const FineFractions& fractions, const MeanCode& code) {
  if (CpuHasAvx512()) return FineSquaredBoundAvx512(query, fractions, code);
  if (CpuHasAvx2()) return FineSquaredBoundAvx2(query, fractions, code);
  return FineSquaredBoundPortable(query, fractions, code);
}

std::size_t FilterCodes(const MeanCode& query, const MeanCode* codes, std::size_t count, const std::uint32_t* picks,
                        std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out) {
  if (CpuHasAvx512()) return FilterCodesAvx512(query, codes, count, picks, groupedLimit, squaredLimit, out);
  if (CpuHasAvx2()) return FilterCodesAvx2(query, codes, count, picks, groupedLimit, squaredLimit, out);
  return FilterCodesPortable(query, codes, count, picks, groupedLimit, squaredLimit, out);
}

std::size_t WithinBall(const float* a, const float* b, const float* c, std::size_t count, const BallCenter& center,
                       std::uint32_t first, std::uint32_t* out) {
  if (CpuHasAvx512()) return WithinBallAvx512(a, b, c, count, center, first, out);
  if (CpuHasAvx2()) return WithinBallAvx2(a, b, c, count, center, first, out);
  return WithinBallPortable(a, b, c, count, center, first, out);
}

std::size_t FilterSplitCodes(const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs,
                             std::size_t count, int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit,
                             PassedCode* out) {
  if (CpuHasAvx512()) {
    return FilterSplitCodesAvx512(query, fronts, backs, count, frontLimit, groupedLimit, squaredLimit, out);
  }
  if (CpuHasAvx2()) return FilterSplitCodesAvx2(query, fronts, backs, count, frontLimit, groupedLimit, squaredLimit, out);
  return FilterSplitCodesPortable(query, fronts, backs, count, frontLimit, groupedLimit, squaredLimit, out);
}

}  // namespace norvane::partner
