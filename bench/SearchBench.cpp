// The comparison of a whole search and the console program end to end.
//   BM_FindPartners/N           the comparison of a search (indexed, every
//                               hardware thread) on N synthetic records shaped
//                               like a photo collection: clusters of
//                               near-duplicates, some identical files, photo
//                               aspect ratios.
//   BM_FindPartnersPairwise/N   the pair-by-pair choice on the same records,
//                               the plain definition the index must match;
//                               the ratio of the two is the speed-up.
//   BM_CliColdCache     norvane-cli on 500 JPEGs of 2 megapixels, no cache file
//   BM_CliWarmCache     the same with every signature in the cache
// The JPEG folder is generated once, outside the timed part.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "search/FindPartners.h"
#include "search/SearchView.h"

extern char** environ;

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
  const DecodedImage* LoadLeftImage(const FileRecord&) override { return nullptr; }
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

// Records like a real collection: most images unrelated, one in five a
// slightly changed copy (re-encoded, resized) of an earlier one, one in fifty
// a byte-identical copy; landscape, portrait and square shapes.
FileList SyntheticRecords(int n) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mean(16.0, 240.0);
  std::uniform_real_distribution<double> chroma(-40.0, 40.0);
  std::uniform_real_distribution<double> sdev(2.0, 70.0);
  std::normal_distribution<double> noise(0.0, 1.5);
  std::uniform_int_distribution<int> pick(0, 99);
  const std::pair<int, int> shapes[] = {{4000, 3000}, {3000, 4000}, {1920, 1080}, {1080, 1920},
                                        {1600, 1200}, {1024, 1024}, {6000, 4000}};
  std::uniform_int_distribution<int> shape(0, 6);

  FileList records(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FileRecord& r = records[static_cast<std::size_t>(i)];
    r.name = "img" + std::to_string(i) + ".jpg";
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
        for (SignatureCell& c : r.grid) {
          c.meanY += noise(rng);
          c.meanCb += noise(rng);
          c.meanCr += noise(rng);
          c.sdevY += noise(rng);
        }
      }
      continue;
    }
    const auto [w, h] = shapes[shape(rng)];
    r.width = w;
    r.height = h;
    const double base = mean(rng);
    for (SignatureCell& c : r.grid) {
      c.meanY = base + noise(rng) * 20.0;
      c.meanCb = chroma(rng);
      c.meanCr = chroma(rng);
      c.sdevY = sdev(rng);
      c.sdevCb = sdev(rng) / 4.0;
      c.sdevCr = sdev(rng) / 4.0;
    }
  }
  return records;
}

void BM_FindPartners(benchmark::State& state) {
  const FileList prototype = SyntheticRecords(static_cast<int>(state.range(0)));
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
// A million records is left out until the index rejects unrelated pairs in
// bulk: at today's rate that run alone would take most of an hour.
BENCHMARK(BM_FindPartners)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_FindPartnersPairwise(benchmark::State& state) {
  const FileList records = SyntheticRecords(static_cast<int>(state.range(0)));
  int paired = 0;
  for (auto _ : state) {
    const std::vector<PartnerChoice> choices = ChoosePartnersPairwise(records, DifferenceParams{});
    paired = 0;
    for (const PartnerChoice& c : choices) paired += c.partner >= 0 ? 1 : 0;
  }
  state.counters["paired"] = paired;
}
BENCHMARK(BM_FindPartnersPairwise)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// Writes an RGB picture as a JPEG of quality 90.
bool WriteJpeg(const std::string& path, int width, int height, const std::vector<JSAMPLE>& rgb) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(&rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

// 500 photo-like JPEGs of 1632 x 1224 (2 megapixels): smooth gradients with
// grain; every tenth repeats the picture before it, so the comparison has
// identical pairs to find.
class JpegFolder {
 public:
  static constexpr int kFiles = 500;
  static constexpr int kWidth = 1632;
  static constexpr int kHeight = 1224;

  JpegFolder() {
    char pattern[] = "/tmp/norvane-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    path_ = pattern;
    std::vector<JSAMPLE> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (int i = 0; i < kFiles; ++i) {
      const int seed = (i % 10 == 9) ? i - 1 : i;  // every tenth repeats the one before
      std::mt19937 local(static_cast<unsigned>(seed));
      const int r0 = static_cast<int>(local() % 200), g0 = static_cast<int>(local() % 200),
                b0 = static_cast<int>(local() % 200);
      const int fx = 1 + static_cast<int>(local() % 7), fy = 1 + static_cast<int>(local() % 7);
      std::size_t k = 0;
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          const int t = ((x * fx + y * fy) >> 4) & 63;
          const int grain = static_cast<int>((x * 7919u ^ y * 104729u ^ static_cast<unsigned>(seed)) & 15u);
          rgb[k++] = static_cast<JSAMPLE>(r0 + t / 2 + grain);
          rgb[k++] = static_cast<JSAMPLE>(g0 + (y * 50) / kHeight + grain);
          rgb[k++] = static_cast<JSAMPLE>(b0 + (x * 50) / kWidth + grain / 2);
        }
      }
      char name[32];
      std::snprintf(name, sizeof name, "/photo%04d.jpg", i);
      ok_ = WriteJpeg(path_ + name, kWidth, kHeight, rgb) && ok_;
    }
  }
  ~JpegFolder() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  JpegFolder(const JpegFolder&) = delete;
  JpegFolder& operator=(const JpegFolder&) = delete;

  bool ok() const { return ok_ && !path_.empty(); }
  const std::string& path() const { return path_; }
  void DropCache() const {
    std::error_code ec;
    std::filesystem::remove(path_ + "/_cache.nrv", ec);
  }

 private:
  std::string path_;
  bool ok_ = true;
};

JpegFolder& Folder() {
  static JpegFolder folder;
  return folder;
}

// norvane-cli beside this program.
std::string CliPath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "norvane-cli").string();
}

// Runs norvane-cli on the folder with its output thrown away; its exit status.
int RunCli(const std::string& folder) {
  const std::string cli = CliPath();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Run where no settings file can be: the defaults, whatever the caller's directory holds.
  std::vector<std::string> args = {cli, folder};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// CPU seconds used so far by the finished children of this process. The
// machine may be shared: the program's own CPU time is the steadier figure.
double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_CliCache(benchmark::State& state, bool warm) {
  JpegFolder& folder = Folder();
  if (!folder.ok()) {
    state.SkipWithError("could not generate the JPEG folder");
    return;
  }
  if (warm && RunCli(folder.path()) != 0) {  // fill the cache, untimed
    state.SkipWithError("norvane-cli failed");
    return;
  }
  const double cpuBefore = ChildCpuSeconds();
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      folder.DropCache();
      state.ResumeTiming();
    }
    if (RunCli(folder.path()) != 0) {
      state.SkipWithError("norvane-cli failed");
      return;
    }
  }
  state.counters["cli_cpu_s"] =
      benchmark::Counter(ChildCpuSeconds() - cpuBefore, benchmark::Counter::kAvgIterations);
  state.counters["files/s"] =
      benchmark::Counter(JpegFolder::kFiles, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CliColdCache(benchmark::State& state) { BM_CliCache(state, false); }
void BM_CliWarmCache(benchmark::State& state) { BM_CliCache(state, true); }
BENCHMARK(BM_CliColdCache)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_CliWarmCache)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
}  // namespace norvane
