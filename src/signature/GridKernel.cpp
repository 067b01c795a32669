#include "signature/GridKernel.h"

#include <algorithm>
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

// Pixels per cell between two pieces handed to the sink: 5 pixels in each of
// the 4 cells are 60 bytes, about one MD5 block, small enough for the
// processor to overlap the digest of a piece with the pixel work around it.
constexpr std::int64_t kSpan = 5;

// Hands the row's bytes to the sink in step with the pixel loop.
class SinkFeeder {
 public:
  SinkFeeder(const std::uint8_t* row, std::size_t rowBytes, const ByteSink* sink)
      : row_(row), rowBytes_(rowBytes), sink_(sink) {}
  // Everything up to the bytes of the first j pixels of all four cells.
  void FeedUpTo(std::int64_t j) {
    if (sink_ == nullptr) return;
    const std::size_t upTo = std::min(rowBytes_, static_cast<std::size_t>(j) * 12);
    if (upTo > fed_) {
      sink_->feed(sink_->context, row_ + fed_, upTo - fed_);
      fed_ = upTo;
    }
  }
  void FeedRest() {
    if (sink_ != nullptr && fed_ < rowBytes_) sink_->feed(sink_->context, row_ + fed_, rowBytes_ - fed_);
    fed_ = rowBytes_;
  }

 private:
  const std::uint8_t* row_;
  std::size_t rowBytes_;
  const ByteSink* sink_;
  std::size_t fed_ = 0;
};

}  // namespace

void AccumulateBgrRowPortable(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums,
                              std::size_t rowBytes, const ByteSink* sink) {
  const ProductTables& t = Tables();
  // Local copies let the compiler keep the 24 sums in registers.
  BandSums s = sums;
  const std::uint8_t* cell[4];
  for (int c = 0; c < 4; ++c) cell[c] = row + c * cellWidth * 3;
  SinkFeeder feeder(row, rowBytes, sink);
  for (std::int64_t j0 = 0; j0 < cellWidth; j0 += kSpan) {
    const std::int64_t j1 = std::min(cellWidth, j0 + kSpan);
    feeder.FeedUpTo(j1);
    for (std::int64_t j = j0; j < j1; ++j) {
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
  }
  feeder.FeedRest();
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
                                                          std::int64_t cellWidth, BandSums& sums,
                                                          std::size_t rowBytes, const ByteSink* sink) {
  SinkFeeder feeder(row, rowBytes, sink);
  if (cellWidth <= 0) {
    feeder.FeedRest();
    return;
  }
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
  for (std::int64_t j0 = 0; j0 < last; j0 += kSpan) {
    const std::int64_t j1 = std::min(last, j0 + kSpan);
    feeder.FeedUpTo(j1);
    for (std::int64_t o = j0 * 3; o < j1 * 3; o += 3) {
      Avx2Pixel(_mm_setr_epi32(static_cast<int>(LoadFour(p0 + o)), static_cast<int>(LoadFour(p1 + o)),
                               static_cast<int>(LoadFour(p2 + o)), static_cast<int>(LoadFour(p3 + o))),
                s);
    }
  }
  const std::int64_t o = last * 3;
  Avx2Pixel(_mm_setr_epi32(static_cast<int>(LoadThree(p0 + o)), static_cast<int>(LoadThree(p1 + o)),
                           static_cast<int>(LoadThree(p2 + o)), static_cast<int>(LoadThree(p3 + o))),
            s);
  feeder.FeedRest();
  _mm256_storeu_pd(sums.y, s.y);
  _mm256_storeu_pd(sums.cb, s.cb);
  _mm256_storeu_pd(sums.cr, s.cr);
  _mm256_storeu_pd(sums.yy, s.yy);
  _mm256_storeu_pd(sums.cbcb, s.cbcb);
  _mm256_storeu_pd(sums.crcr, s.crcr);
}

bool Avx2Available() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

#else

void AccumulateBgrRowAvx2(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums,
                          std::size_t rowBytes, const ByteSink* sink) {
  AccumulateBgrRowPortable(row, cellWidth, sums, rowBytes, sink);
}

bool Avx2Available() { return false; }

#endif

void AccumulateBgrRow(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums,
                      std::size_t rowBytes, const ByteSink* sink) {
  if (Avx2Available()) {
    AccumulateBgrRowAvx2(row, cellWidth, sums, rowBytes, sink);
  } else {
    AccumulateBgrRowPortable(row, cellWidth, sums, rowBytes, sink);
  }
}

}  // namespace norvane::grid
