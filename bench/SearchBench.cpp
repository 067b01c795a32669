// The comparison of a whole search.
//   BM_FindPartners/N           the comparison of a search (indexed, every
//                               hardware thread) on N synthetic records shaped
//                               like a photo collection: clusters of
//                               near-duplicates, some identical files, photo
//                               aspect ratios.
//   BM_FindPartnersPairwise/N   the pair-by-pair choice on the same records,
//                               the plain definition the index must match;
//                               the ratio of the two is the speed-up.
//   BM_FindPartnersPhotoLike/N, BM_FindPartnersPhotoLikePairwise/N
//                               the same on records whose cells are
//                               correlated as in photographs (brightness
//                               gradients, a colour cast, one texture level
//                               per image) rather than independent.
//   BM_FindPartnersTiny/N       the same on records like those of tiny
//                               pictures with one base colour and an offset
//                               per cell in each channel (as the console
//                               bench writes them): all of one shape, the
//                               colour sums spread as widely as the luma one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "search/FindPartners.h"
#include "search/SearchView.h"

namespace norvane {
namespace {

// A view that shows nothing: the bench times the comparison alone.
class SilentView : public SearchView {
 public:
  void CommitEdits() override {}
  void SetStartButton(std::string_view, bool) override {}
  void EnableCommands(bool) override {}
  void SetStatusText(std::string_view) override {}
  bool AskYesNo(std::string_view, std::string_view) override { return false; }
  void Inform(std::string_view, std::string_view) override {}
  void ClearPanes() override {}
  void SetInfoText(int, const FileRecord*) override {}
  const DecodedImage* SetLeftImage(const FileRecord&, std::unique_ptr<DecodedImage>) override {
    return nullptr;
  }
  void RepaintLeftPane() override {}
  void ListDeleteAll() override {}
  void ListInsertRow(int, std::string_view) override {}
  void ListSetText(int, int, std::string_view) override {}
  std::string ListGetText(int, int) override { return {}; }
  void ListDeleteRow(int) override {}
  int ListRowCount() override { return 0; }
  void ListKeepSelectionVisible() override {}
  void SortListByDifference(int) override {}
  void SelectFirstRow() override {}
  void PumpMessages() override {}
};

const std::pair<int, int> kShapes[] = {{4000, 3000}, {3000, 4000}, {1920, 1080}, {1080, 1920},
                                       {1600, 1200}, {1024, 1024}, {6000, 4000}};

// A collection of n records: one in five a slightly changed copy (re-encoded,
// resized) of one of the 2,000 records before it, one in fifty of those a
// byte-identical copy; every other record an unrelated image of a photo
// shape whose cells `fillCells` makes up.
template <typename FillCells>
FileList Collection(int n, std::uint64_t seed, const char* stem, FillCells fillCells) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> noise(0.0, 1.5);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_int_distribution<int> shape(0, 6);

  FileList records(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FileRecord& r = records[static_cast<std::size_t>(i)];
    r.name = stem + std::to_string(i) + ".jpg";
    r.index = i;
    char digest[33];
    std::snprintf(digest, sizeof digest, "%032x", i);
    r.digest = digest;
    const int kind = pick(rng);
    if (i > 0 && kind < 22) {
      std::uniform_int_distribution<int> earlier(std::max(0, i - 2000), i - 1);
      const FileRecord& source = records[static_cast<std::size_t>(earlier(rng))];
      r.width = source.width;
      r.height = source.height;
      r.grid = source.grid;
      if (kind < 2) {
        r.digest = source.digest;
      } else {
        SignatureGrid grid = source.grid.unpacked();
        for (SignatureCell& c : grid) {
          c.meanY += noise(rng);
          c.meanCb += noise(rng);
          c.meanCr += noise(rng);
          c.sdevY += noise(rng);
        }
        r.grid = grid;
      }
      continue;
    }
    const auto [w, h] = kShapes[shape(rng)];
    r.width = w;
    r.height = h;
    SignatureGrid grid;
    fillCells(grid, rng);
    r.grid = grid;
  }
  return records;
}

// Cells independent of each other around one brightness per image, colour
// means and deviations uniform.
FileList SyntheticRecords(int n) {
  return Collection(n, 12345, "img", [](SignatureGrid& grid, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> mean(16.0, 240.0);
    std::uniform_real_distribution<double> chroma(-40.0, 40.0);
    std::uniform_real_distribution<double> sdev(2.0, 70.0);
    std::normal_distribution<double> noise(0.0, 1.5);
    const double base = mean(rng);
    for (SignatureCell& c : grid) {
      c.meanY = base + noise(rng) * 20.0;
      c.meanCb = chroma(rng);
      c.meanCr = chroma(rng);
      c.sdevY = sdev(rng);
      c.sdevCb = sdev(rng) / 4.0;
      c.sdevCr = sdev(rng) / 4.0;
    }
  });
}

// Cells that hang together as in photographs: a brightness around mid-grey
// with a top-to-bottom and a left-to-right gradient, a colour cast shared by
// all cells, one texture level per image, small independent variations per
// cell. Unrelated images are much closer to each other than with independent
// cells, so more of them fall inside the window of a record and more pairs
// are truly similar.
FileList PhotoLikeRecords(int n) {
  return Collection(n, 67890, "photo", [](SignatureGrid& grid, std::mt19937_64& rng) {
    std::normal_distribution<double> base(120.0, 40.0);
    std::normal_distribution<double> vertical(0.0, 25.0);
    std::normal_distribution<double> horizontal(0.0, 10.0);
    std::normal_distribution<double> cast(0.0, 10.0);
    std::normal_distribution<double> cellLuma(0.0, 8.0);
    std::normal_distribution<double> cellChroma(0.0, 4.0);
    std::uniform_real_distribution<double> texture(10.0, 60.0);
    const double level = std::clamp(base(rng), 10.0, 245.0);
    const double down = vertical(rng);
    const double across = horizontal(rng);
    const double cb = cast(rng);
    const double cr = cast(rng);
    const double detail = texture(rng);
    for (int cell = 0; cell < kGridCells; ++cell) {
      SignatureCell& c = grid[static_cast<std::size_t>(cell)];
      const double row = (1.5 - cell / 4) / 1.5;
      const double column = (cell % 4 - 1.5) / 1.5;
      c.meanY = std::clamp(level + down * row + across * column + cellLuma(rng), 0.0, 255.0);
      c.meanCb = cb + cellChroma(rng);
      c.meanCr = cr + cellChroma(rng);
      c.sdevY = std::max(0.0, detail + cellLuma(rng));
      c.sdevCb = std::max(0.0, detail / 4.0 + cellChroma(rng));
      c.sdevCr = std::max(0.0, detail / 4.0 + cellChroma(rng));
    }
  });
}

// Pictures of 16 x 12 pixels whose cells are flat: a base colour uniform in
// each RGB channel, an offset per cell and channel, deviations near 0 from
// the coding noise. Every file has its own pixels.
FileList TinyRecords(int n) {
  std::mt19937_64 rng(24680);
  std::uniform_real_distribution<double> colour(40.0, 215.0), offset(-40.0, 40.0), noise(0.0, 3.0);
  FileList records(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FileRecord& r = records[static_cast<std::size_t>(i)];
    r.name = "tiny" + std::to_string(i) + ".jpg";
    r.index = i;
    char digest[33];
    std::snprintf(digest, sizeof digest, "%032x", i);
    r.digest = digest;
    r.width = 16;
    r.height = 12;
    const double base[3] = {colour(rng), colour(rng), colour(rng)};
    SignatureGrid grid;
    for (SignatureCell& c : grid) {
      const double red = base[0] + offset(rng), green = base[1] + offset(rng),
                   blue = base[2] + offset(rng);
      c.meanY = 0.299 * red + 0.587 * green + 0.114 * blue;
      c.meanCb = (blue - c.meanY) * 0.564;
      c.meanCr = (red - c.meanY) * 0.713;
      c.sdevY = noise(rng);
      c.sdevCb = noise(rng);
      c.sdevCr = noise(rng);
    }
    r.grid = grid;
  }
  return records;
}

// The indexed comparison of a whole search on the records `make` gives.
void RunFindPartners(benchmark::State& state, FileList (*make)(int)) {
  const FileList prototype = make(static_cast<int>(state.range(0)));
  SilentView view;
  int paired = 0;
  for (auto _ : state) {
    state.PauseTiming();
    FileList records = prototype;
    state.ResumeTiming();
    FindPartners(records, DifferenceParams{}, view);
    paired = 0;
    for (const FileRecord& r : records) paired += r.partner >= 0 ? 1 : 0;
  }
  state.counters["paired"] = paired;
  state.counters["pairs/s"] = benchmark::Counter(
      static_cast<double>(state.range(0)) * static_cast<double>(state.range(0) - 1) / 2.0,
      benchmark::Counter::kIsIterationInvariantRate);
}

// The pair-by-pair choice on the records `make` gives.
void RunPairwise(benchmark::State& state, FileList (*make)(int)) {
  const FileList records = make(static_cast<int>(state.range(0)));
  int paired = 0;
  for (auto _ : state) {
    const std::vector<PartnerChoice> choices = ChoosePartnersPairwise(records, DifferenceParams{});
    paired = 0;
    for (const PartnerChoice& c : choices) paired += c.partner >= 0 ? 1 : 0;
  }
  state.counters["paired"] = paired;
}

void BM_FindPartners(benchmark::State& state) { RunFindPartners(state, SyntheticRecords); }
// A million records take somewhat over a minute of processor time.
BENCHMARK(BM_FindPartners)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_FindPartnersPairwise(benchmark::State& state) { RunPairwise(state, SyntheticRecords); }
BENCHMARK(BM_FindPartnersPairwise)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_FindPartnersPhotoLike(benchmark::State& state) { RunFindPartners(state, PhotoLikeRecords); }
BENCHMARK(BM_FindPartnersPhotoLike)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_FindPartnersTiny(benchmark::State& state) { RunFindPartners(state, TinyRecords); }
BENCHMARK(BM_FindPartnersTiny)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_FindPartnersPhotoLikePairwise(benchmark::State& state) {
  RunPairwise(state, PhotoLikeRecords);
}
BENCHMARK(BM_FindPartnersPhotoLikePairwise)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace norvane
