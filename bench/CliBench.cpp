// The console program end to end on generated folders. Every figure a target
// is judged by is a ratio measured within one run of one benchmark, because
// the machine is shared and absolute times drift.
//   BM_ColdSearch   1,000 photo-like JPEGs of 1 to 2 megapixels, no cache:
//                   a plain single-threaded loop that decodes each file and
//                   hashes its pixels (libjpeg + one-stream MD5), then
//                   norvane-cli --jobs 1 and --jobs 2 on the same folder.
//                   Counters: the three times (and decoding alone), jobs1/decode+md5, the speed-up
//                   of --jobs 2 over --jobs 1, and the peak resident memory
//                   of each program run.
//   BM_WarmSearch   10,000 small JPEGs in 10 folders with every signature in
//                   the caches: norvane-cli --subfolders, nothing decoded.
//   BM_WarmSearchLarge/F/N
//                   N tiny JPEGs in each of F folders, every signature in the
//                   caches: 100,000 files in 1,000 folders, and 1,000,000 in
//                   1,000 folders when NORVANE_BENCH_BIG is set in the
//                   environment (`make bench BIG=1`; making that tree takes
//                   a long while). Counters: wall and CPU time, peak memory
//                   and peak memory per file.
// The folders are generated once, outside the timed parts.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "cache/CacheFile.h"
#include "image/DecodedImage.h"
#include "signature/PixelDigest.h"

namespace norvane {
namespace {

using bench::CliRun;
using bench::PhotoPixels;
using bench::RunCli;

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

// A temporary folder tree of generated pictures.
class GeneratedTree : public bench::TempTree {
 public:
  std::vector<std::string> files;

  // Deletes every cache file of the tree.
  void DropCaches() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root(), ec)) {
      if (entry.path().filename() == kCacheFileName) std::filesystem::remove(entry.path(), ec);
    }
  }
};

// 1,000 JPEGs from 1 to 2 megapixels; every tenth repeats the one before.
GeneratedTree& PhotoFolder() {
  static GeneratedTree tree;
  static bool made = false;
  if (made || tree.root().empty()) return tree;
  made = true;
  const std::pair<int, int> sizes[] = {{1152, 864}, {1280, 960}, {1440, 1080}, {1632, 1224}};
  for (int i = 0; i < 1000; ++i) {
    const int seed = (i % 10 == 9) ? i - 1 : i;
    const auto [w, h] = sizes[static_cast<std::size_t>(seed % 4)];
    char name[32];
    std::snprintf(name, sizeof name, "/photo%04d.jpg", i);
    tree.files.push_back(tree.root() + name);
    tree.ok = WriteJpeg(tree.files.back(), w, h, PhotoPixels(w, h, seed)) && tree.ok;
  }
  return tree;
}

// 10,000 JPEGs of 64 x 48 in ten folders of 1,000.
GeneratedTree& ManySmallFiles() {
  static GeneratedTree tree;
  static bool made = false;
  if (made || tree.root().empty()) return tree;
  made = true;
  for (int f = 0; f < 10; ++f) {
    const std::string folder = tree.root() + "/folder" + std::to_string(f);
    std::error_code ec;
    std::filesystem::create_directory(folder, ec);
    for (int i = 0; i < 1000; ++i) {
      const std::string path = folder + "/small" + std::to_string(i) + ".jpg";
      tree.files.push_back(path);
      tree.ok = WriteJpeg(path, 64, 48, PhotoPixels(64, 48, f * 1000 + i)) && tree.ok;
    }
  }
  return tree;
}

// A tiny picture of 4 x 4 flat cells of 4 x 3 pixels: one colour per
// picture, moved up or down per cell, so that pictures differ the way
// unrelated photographs do and few are similar.
std::vector<JSAMPLE> TinyPixels(int seed) {
  std::mt19937 local(static_cast<unsigned>(seed));
  std::uniform_int_distribution<int> colour(40, 215), offset(-40, 40);
  const int base[3] = {colour(local), colour(local), colour(local)};
  int cells[16][3];
  for (auto& cell : cells) {
    for (int c = 0; c < 3; ++c) cell[c] = base[c] + offset(local);
  }
  std::vector<JSAMPLE> rgb(16 * 12 * 3);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) {
      for (int c = 0; c < 3; ++c) rgb[static_cast<std::size_t>((y * 16 + x) * 3 + c)] = static_cast<JSAMPLE>(cells[(y / 3) * 4 + x / 4][c]);
    }
  }
  return rgb;
}

// `files` JPEGs of 16 x 12 in each of `folders` folders, each from its own
// seed, so that nearly every file has pixels (and a digest) of its own.
GeneratedTree& TinyFileTree(int folders, int files) {
  static std::map<std::pair<int, int>, std::unique_ptr<GeneratedTree>> trees;
  std::unique_ptr<GeneratedTree>& slot = trees[{folders, files}];
  if (slot) return *slot;
  slot = std::make_unique<GeneratedTree>();
  GeneratedTree& tree = *slot;
  if (tree.root().empty()) return tree;
  for (int f = 0; f < folders && tree.ok; ++f) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "/folder%04d", f);
    const std::string dir = tree.root() + folder;
    std::error_code ec;
    std::filesystem::create_directory(dir, ec);
    for (int i = 0; i < files; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/tiny%06d.jpg", i);
      tree.ok = WriteJpeg(dir + name, 16, 12, TinyPixels(f * files + i)) && tree.ok;
    }
  }
  return tree;
}

// CPU time of this thread so far.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Decodes every file and hashes its pixels, one file after another on this
// thread: what a search would cost with nothing but libjpeg and one-stream MD5.
// Returns wall seconds; `cpu` gets the thread's CPU seconds.
double DecodeAndHashSeconds(const std::vector<std::string>& files, bool hash, double& cpu) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();
  PixelDigester digester;
  for (const std::string& path : files) {
    DecodedImage image;
    if (image.LoadImageFile(path) != LoadResult::LoadOk) return -1;
    if (!hash) continue;
    char text[kDigestTextLength + 1];
    digester.HexDigest(image.Pixels(), image.PixelBytes(), text);
    benchmark::DoNotOptimize(text);
  }
  cpu = ThreadCpuSeconds() - cpuStart;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ColdSearch(benchmark::State& state) {
  GeneratedTree& tree = PhotoFolder();
  if (!tree.ok || tree.root().empty()) {
    state.SkipWithError("could not generate the JPEG folder");
    return;
  }
  for (auto _ : state) {
    double decodeCpu = 0, baseCpu = 0;
    const double decode = DecodeAndHashSeconds(tree.files, false, decodeCpu);
    const double base = DecodeAndHashSeconds(tree.files, true, baseCpu);
    tree.DropCaches();
    const CliRun one = RunCli({"--jobs", "1", tree.root()});
    tree.DropCaches();
    const CliRun two = RunCli({"--jobs", "2", tree.root()});
    if (base < 0 || !one.ok || !two.ok) {
      state.SkipWithError("decoding or norvane-cli failed");
      return;
    }
    state.SetIterationTime(one.seconds);
    state.counters["decode_s"] = decode;
    state.counters["decode_md5_s"] = base;
    state.counters["jobs1_s"] = one.seconds;
    state.counters["jobs2_s"] = two.seconds;
    state.counters["jobs1_vs_decode_md5"] = one.seconds / base;
    state.counters["jobs2_speedup"] = one.seconds / two.seconds;
    // CPU time is steadier on a busy machine; it cannot show the threads' gain.
    state.counters["decode_cpu_s"] = decodeCpu;
    state.counters["decode_md5_cpu_s"] = baseCpu;
    state.counters["jobs1_cpu_s"] = one.cpuSeconds;
    state.counters["jobs1_vs_decode_md5_cpu"] = one.cpuSeconds / baseCpu;
    state.counters["jobs1_peak_MiB"] = one.peakMib;
    state.counters["jobs2_peak_MiB"] = two.peakMib;
  }
}
BENCHMARK(BM_ColdSearch)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

// Fills the caches of `tree` once, then times warm searches of it.
void TimeWarmSearches(benchmark::State& state, const GeneratedTree& tree, double files) {
  if (!tree.ok || tree.root().empty() || !RunCli({"--subfolders", tree.root()}).ok) {
    state.SkipWithError("could not generate the folders or fill their caches");
    return;
  }
  for (auto _ : state) {
    const CliRun run = RunCli({"--subfolders", tree.root()});
    if (!run.ok) {
      state.SkipWithError("norvane-cli failed");
      return;
    }
    state.SetIterationTime(run.seconds);
    state.counters["cpu_s"] = run.cpuSeconds;
    state.counters["peak_MiB"] = run.peakMib;
    state.counters["bytes_per_file"] = run.peakMib * 1048576.0 / files;
  }
}

void BM_WarmSearch(benchmark::State& state) { TimeWarmSearches(state, ManySmallFiles(), 10000); }
BENCHMARK(BM_WarmSearch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void BM_WarmSearchLarge(benchmark::State& state) {
  const int folders = static_cast<int>(state.range(0));
  const int files = static_cast<int>(state.range(1));
  if (static_cast<long>(folders) * files > 100000 && std::getenv("NORVANE_BENCH_BIG") == nullptr) {
    state.SkipWithError("set NORVANE_BENCH_BIG to make and search this tree");
    return;
  }
  TimeWarmSearches(state, TinyFileTree(folders, files), static_cast<double>(folders) * files);
}
BENCHMARK(BM_WarmSearchLarge)
    ->Args({1000, 100})
    ->Args({1000, 1000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

}  // namespace
}  // namespace norvane
