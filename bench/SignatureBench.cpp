// Cost of a signature on a 12-megapixel colour picture: the MD5 of its
// pixels alone, the grid alone, and the whole extraction, which computes both
// in one pass and should cost little more than the MD5.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "image/DecodedImage.h"
#include "signature/GridKernel.h"
#include "signature/PixelDigest.h"
#include "signature/SignatureExtractor.h"

namespace norvane {
namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

const DecodedImage& Picture() {
  static const DecodedImage image = [] {
    DecodedImage picture;
    picture.AllocatePixels(kWidth, kHeight, PixelKind::Bgr24);
    std::mt19937 rng(2024);
    auto* bytes = const_cast<std::uint8_t*>(picture.Pixels());
    for (std::size_t i = 0; i < picture.PixelBytes(); ++i) bytes[i] = static_cast<std::uint8_t>(rng());
    return picture;
  }();
  return image;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Picture().PixelBytes()));
}

void BM_Md5Alone(benchmark::State& state) {
  const DecodedImage& image = Picture();
  char out[kDigestTextLength + 1];
  for (auto _ : state) {
    PixelDigester().HexDigest(image.Pixels(), image.PixelBytes(), out);
    benchmark::DoNotOptimize(out);
  }
  SetBytes(state);
}

void BM_GridAlone(benchmark::State& state) {
  const DecodedImage& image = Picture();
  SignatureGrid grid;
  for (auto _ : state) {
    ComputeSignatureGrid(image, grid);
    benchmark::DoNotOptimize(grid);
  }
  SetBytes(state);
}

// The grid with the portable row kernel, as on a processor without AVX2.
void BM_GridPortableKernel(benchmark::State& state) {
  const DecodedImage& image = Picture();
  const std::int64_t cellWidth = kWidth / 4;
  const std::size_t stride = static_cast<std::size_t>(kWidth) * 3;
  for (auto _ : state) {
    grid::BandSums sums;
    for (int y = 0; y < kHeight; ++y) grid::AccumulateBgrRowPortable(image.Pixels() + y * stride, cellWidth, sums);
    benchmark::DoNotOptimize(sums);
  }
  SetBytes(state);
}

void BM_Extract(benchmark::State& state) {
  const DecodedImage& image = Picture();
  FileRecord record;
  for (auto _ : state) {
    SignatureExtractor::Extract(record, image);
    benchmark::DoNotOptimize(record);
  }
  SetBytes(state);
}

BENCHMARK(BM_Md5Alone)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_GridAlone)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_GridPortableKernel)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Extract)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace norvane
