// MD5 of the decoded pixels of several 2-megapixel colour images (6 MB each):
// OpenSSL's single-stream MD5 over the buffers one after another against the
// multi-buffer hasher over the same buffers, with each instruction set. The
// "bytes_per_second" column compares them directly.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "signature/MultiMd5.h"
#include "signature/PixelDigest.h"

namespace norvane {
namespace {

constexpr std::size_t kImageBytes = 2'000'000 * 3;
constexpr int kMaxImages = 16;

const std::vector<std::vector<std::uint8_t>>& Images() {
  static const std::vector<std::vector<std::uint8_t>> images = [] {
    std::vector<std::vector<std::uint8_t>> all(kMaxImages, std::vector<std::uint8_t>(kImageBytes));
    std::mt19937_64 rng(6);
    for (auto& image : all) {
      for (std::size_t i = 0; i + 8 <= image.size(); i += 8) {
        const std::uint64_t word = rng();
        std::memcpy(image.data() + i, &word, 8);
      }
    }
    return all;
  }();
  return images;
}

// Images of 1 to 2 megapixels, so the lanes finish at different times.
std::vector<Md5Message> MixedMessages(int count) {
  std::vector<Md5Message> messages;
  std::mt19937 rng(12);
  for (int i = 0; i < count; ++i) {
    const std::size_t pixels = 1'000'000 + rng() % 1'000'001;
    messages.push_back({Images()[i % kMaxImages].data(), pixels * 3});
  }
  return messages;
}

std::vector<Md5Message> EqualMessages(int count) {
  std::vector<Md5Message> messages;
  for (int i = 0; i < count; ++i) messages.push_back({Images()[i].data(), kImageBytes});
  return messages;
}

std::int64_t TotalBytes(const std::vector<Md5Message>& messages) {
  std::int64_t total = 0;
  for (const Md5Message& message : messages) total += static_cast<std::int64_t>(message.length);
  return total;
}

void RunSingleStream(benchmark::State& state, const std::vector<Md5Message>& messages) {
  char text[kDigestTextLength + 1];
  for (auto _ : state) {
    for (const Md5Message& message : messages) {
      PixelDigester().HexDigest(message.data, message.length, text);
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * TotalBytes(messages));
}

void RunMultiBuffer(benchmark::State& state, const std::vector<Md5Message>& messages, Md5Backend backend) {
  if (!Md5BackendAvailable(backend)) {
    state.SkipWithError("processor lacks this instruction set");
    return;
  }
  std::vector<Md5Digest> digests(messages.size());
  for (auto _ : state) {
    Md5Many(messages.data(), messages.size(), digests.data(), backend);
    benchmark::DoNotOptimize(digests.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * TotalBytes(messages));
}

// range(0): number of 6 MB images.
void BM_OpenSslOneAfterAnother(benchmark::State& state) {
  RunSingleStream(state, EqualMessages(static_cast<int>(state.range(0))));
}
void BM_MultiBufferAvx2(benchmark::State& state) {
  RunMultiBuffer(state, EqualMessages(static_cast<int>(state.range(0))), Md5Backend::Avx2);
}
void BM_MultiBufferAvx512(benchmark::State& state) {
  RunMultiBuffer(state, EqualMessages(static_cast<int>(state.range(0))), Md5Backend::Avx512);
}

// range(0): number of images of mixed sizes.
void BM_OpenSslMixedSizes(benchmark::State& state) {
  RunSingleStream(state, MixedMessages(static_cast<int>(state.range(0))));
}
void BM_MultiBufferAvx2MixedSizes(benchmark::State& state) {
  RunMultiBuffer(state, MixedMessages(static_cast<int>(state.range(0))), Md5Backend::Avx2);
}
void BM_MultiBufferAvx512MixedSizes(benchmark::State& state) {
  RunMultiBuffer(state, MixedMessages(static_cast<int>(state.range(0))), Md5Backend::Avx512);
}

// One message alone: the lanes idle, the hasher falls back to one lane.
void BM_MultiBufferSingleMessage(benchmark::State& state) {
  const std::vector<Md5Message> one = EqualMessages(1);
  MultiMd5Hasher hasher;
  std::vector<MultiMd5Hasher::Finished> done;
  for (auto _ : state) {
    hasher.Submit(one[0]);
    done.clear();
    hasher.Flush(done);
    benchmark::DoNotOptimize(done.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * TotalBytes(one));
}

BENCHMARK(BM_OpenSslOneAfterAnother)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiBufferAvx2)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiBufferAvx512)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMixedSizes)->Arg(17)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiBufferAvx2MixedSizes)->Arg(17)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiBufferAvx512MixedSizes)->Arg(17)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiBufferSingleMessage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace norvane
