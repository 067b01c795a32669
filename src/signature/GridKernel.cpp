#include "signature/GridKernel.h"

#include "base/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define NORVANE_GRID_AVX2 1
#include <immintrin.h>
#endif

namespace norvane::grid {
namespace {

// Luma weights and colour-difference scales. Every product below is one
// IEEE multiplication of a whole number by one of these, so a table of the
// products per byte value holds exactly the values the formula gives.
constexpr double kGreenWeight = 0.587;
constexpr double kRedWeight = 0.299;
constexpr double kBlueWeight = 0.114;
constexpr double kCbScale = 0.564;
constexpr double kCrScale = 0.713;

struct ProductTables {
  double green[256];
  double red[256];
  double blue[256];
  double level[256];
};

ProductTables MakeTables() {
  ProductTables t{};
  for (int i = 0; i < 256; ++i) {
    const double v = i;
    t.green[i] = v * kGreenWeight;
    t.red[i] = v * kRedWeight;
    t.blue[i] = v * kBlueWeight;
    t.level[i] = v;
  }
  return t;
}

const ProductTables& Tables() {
  static const ProductTables tables = MakeTables();
  return tables;
}

}  // namespace

void AccumulateBgrRowPortable(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums) {
  const ProductTables& t = Tables();
  // Local copies let the compiler keep the 24 sums in registers.
  BandSums s = sums;
  const std::uint8_t* cell[4];
  for (int c = 0; c < 4; ++c) cell[c] = row + c * cellWidth * 3;
  for (std::int64_t j = 0; j < cellWidth; ++j) {
    for (int c = 0; c < 4; ++c) {
      const std::uint8_t* p = cell[c] + j * 3;
      // Y = G * 0.587 + R * 0.299 + B * 0.114, added in this order.
      const double y = (t.green[p[1]] + t.red[p[2]]) + t.blue[p[0]];
      const double cb = (t.level[p[0]] - y) * kCbScale;
      const double cr = (t.level[p[2]] - y) * kCrScale;
      s.y[c] += y;
      s.cb[c] += cb;
      s.cr[c] += cr;
      s.yy[c] += y * y;
      s.cbcb[c] += cb * cb;
      s.crcr[c] += cr * cr;
    }
  }
  sums = s;
}

#ifdef NORVANE_GRID_AVX2

namespace {

inline std::uint32_t LoadFour(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline std::uint32_t LoadThree(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
}

struct Avx2State {
  __m256d y, cb, cr, yy, cbcb, crcr;
};

// One pixel of each of the four cells, lane c = cell c. The bytes are
// widened to whole-number doubles and multiplied by the same constants as the
// scalar formula; lane by lane the operations and their order are the same,
// and no fused multiply-add is ever formed (the target does not enable FMA).
__attribute__((target("avx2"), always_inline)) inline void Avx2Pixel(__m128i pixel, Avx2State& s) {
  const __m128i pickB = _mm_setr_epi8(0, -1, -1, -1, 4, -1, -1, -1, 8, -1, -1, -1, 12, -1, -1, -1);
  const __m128i pickG = _mm_setr_epi8(1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1);
  const __m128i pickR = _mm_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  const __m256d b = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixel, pickB));
  const __m256d g = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixel, pickG));
  const __m256d r = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixel, pickR));
  const __m256d y = _mm256_add_pd(
      _mm256_add_pd(_mm256_mul_pd(g, _mm256_set1_pd(kGreenWeight)),
                    _mm256_mul_pd(r, _mm256_set1_pd(kRedWeight))),
      _mm256_mul_pd(b, _mm256_set1_pd(kBlueWeight)));
  const __m256d cb = _mm256_mul_pd(_mm256_sub_pd(b, y), _mm256_set1_pd(kCbScale));
  const __m256d cr = _mm256_mul_pd(_mm256_sub_pd(r, y), _mm256_set1_pd(kCrScale));
  s.y = _mm256_add_pd(s.y, y);
  s.cb = _mm256_add_pd(s.cb, cb);
  s.cr = _mm256_add_pd(s.cr, cr);
  s.yy = _mm256_add_pd(s.yy, _mm256_mul_pd(y, y));
  s.cbcb = _mm256_add_pd(s.cbcb, _mm256_mul_pd(cb, cb));
  s.crcr = _mm256_add_pd(s.crcr, _mm256_mul_pd(cr, cr));
}

}  // namespace

__attribute__((target("avx2"))) void AccumulateBgrRowAvx2(const std::uint8_t* row,
                                                          std::int64_t cellWidth, BandSums& sums) {
  if (cellWidth <= 0) return;
  Avx2State s{_mm256_loadu_pd(sums.y),  _mm256_loadu_pd(sums.cb),   _mm256_loadu_pd(sums.cr),
              _mm256_loadu_pd(sums.yy), _mm256_loadu_pd(sums.cbcb), _mm256_loadu_pd(sums.crcr)};
  const std::uint8_t* p0 = row;
  const std::uint8_t* p1 = row + cellWidth * 3;
  const std::uint8_t* p2 = row + cellWidth * 6;
  const std::uint8_t* p3 = row + cellWidth * 9;
  // Four bytes are loaded per pixel; the fourth belongs to the next pixel and
  // is dropped. The last pixel of a cell row may end the buffer, so it is
  // loaded three bytes at a time.
  const std::int64_t last = cellWidth - 1;
  for (std::int64_t o = 0; o < last * 3; o += 3) {
    Avx2Pixel(_mm_setr_epi32(static_cast<int>(LoadFour(p0 + o)), static_cast<int>(LoadFour(p1 + o)),
                             static_cast<int>(LoadFour(p2 + o)), static_cast<int>(LoadFour(p3 + o))),
              s);
  }
  const std::int64_t o = last * 3;
  Avx2Pixel(_mm_setr_epi32(static_cast<int>(LoadThree(p0 + o)), static_cast<int>(LoadThree(p1 + o)),
                           static_cast<int>(LoadThree(p2 + o)), static_cast<int>(LoadThree(p3 + o))),
            s);
  _mm256_storeu_pd(sums.y, s.y);
  _mm256_storeu_pd(sums.cb, s.cb);
  _mm256_storeu_pd(sums.cr, s.cr);
  _mm256_storeu_pd(sums.yy, s.yy);
  _mm256_storeu_pd(sums.cbcb, s.cbcb);
  _mm256_storeu_pd(sums.crcr, s.crcr);
}

#else

void AccumulateBgrRowAvx2(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums) {
  AccumulateBgrRowPortable(row, cellWidth, sums);
}

#endif

void AccumulateBgrRow(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums) {
  if (CpuHasAvx2()) {
    AccumulateBgrRowAvx2(row, cellWidth, sums);
  } else {
    AccumulateBgrRowPortable(row, cellWidth, sums);
  }
}

}  // namespace norvane::grid
