// Searches run in the window, on Qt's offscreen platform.
//   BM_WindowVsConsole   10,000 JPEGs of 48 x 36 in one folder, no cache: a
//                        press of Start in the window, then norvane-cli
//                        --no-cache on the same folder. Counter: window /
//                        console (both wall times, measured in one run).
//   BM_WindowStalls      24 photo-like JPEGs of 1 to 2 megapixels and four of
//                        about 50 megapixels, no cache: a press of Start while
//                        a 10 ms timer ticks on the window's thread. Counters:
//                        the longest gap between two ticks (the event loop's
//                        worst stall, the search's end and the display of row
//                        0's pair included) and the 99th percentile of gaps.
//   BM_FitLargePicture   one 54-megapixel picture fitted into a 500 x 400
//                        pane, as a pane does at its first paint.
// The folders are generated once, outside the timed parts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "BenchSupport.h"
#include "gather/SignatureGatherer.h"
#include "settings/Settings.h"
#include "ui/MainWindow.h"
#include "ui/PaneDrawing.h"

namespace norvane::ui {
namespace {

using Clock = std::chrono::steady_clock;

using bench::TempTree;

// A photo-like picture, as the console benchmark makes them.
QImage Photo(int width, int height, int seed) {
  const std::vector<std::uint8_t> rgb = bench::PhotoPixels(width, height, seed);
  return QImage(rgb.data(), width, height, width * 3, QImage::Format_RGB888).copy();
}

bool Save(const QImage& image, const std::string& path) {
  return image.save(QString::fromStdString(path), "JPG", 90);
}

TempTree& SmallFolder() {
  static TempTree folder;
  static bool made = false;
  if (made || folder.root().empty()) return folder;
  made = true;
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/small%05d.jpg", i);
    folder.ok = Save(Photo(48, 36, i % 9000), folder.root() + name) && folder.ok;
  }
  return folder;
}

TempTree& LargeFolder() {
  static TempTree folder;
  static bool made = false;
  if (made || folder.root().empty()) return folder;
  made = true;
  const std::pair<int, int> sizes[] = {{1152, 864}, {1280, 960}, {1440, 1080}, {1632, 1224}};
  for (int i = 0; i < 24; ++i) {
    const auto [w, h] = sizes[i % 4];
    char name[32];
    std::snprintf(name, sizeof name, "/photo%02d.jpg", i);
    folder.ok = Save(Photo(w, h, i), folder.root() + name) && folder.ok;
  }
  for (int i = 0; i < 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/large%d.jpg", i);
    // 8688 x 5792: about 50 megapixels; the first two are the same picture.
    folder.ok = Save(Photo(8688, 5792, 100 + std::max(i, 1)), folder.root() + name) && folder.ok;
  }
  return folder;
}

// A window of its own settings file, cache off, messages answered silently.
struct BenchWindow {
  TempTree work;
  std::unique_ptr<MainWindow> window;
  BenchWindow() {
    window = std::make_unique<MainWindow>(work.root() + "/Norvane.ini");
    window->SetInformHook([](std::string_view, std::string_view) {});
    window->SetAskHook([](std::string_view, std::string_view) { return false; });
    window->settings().EnableCache = false;
    window->resize(1000, 800);
    window->show();
    QApplication::processEvents();
  }
  // A press of Start; returns when the search has ended.
  void Search(const std::string& folder) {
    window->searchEdit().setText(QString::fromStdString(folder));
    window->startButton().click();
  }
};

void BM_WindowVsConsole(benchmark::State& state) {
  TempTree& folder = SmallFolder();
  if (!folder.ok) {
    state.SkipWithError("could not write the pictures");
    return;
  }
  BenchWindow bench;
  double window = 0, console = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    bench.Search(folder.root());
    window += std::chrono::duration<double>(Clock::now() - start).count();
    if (bench.window->ListRowCount() != 10000) {
      state.SkipWithError("the window listed the wrong number of rows");
      return;
    }
    const bench::CliRun run = bench::RunCli({"--no-cache", folder.root()});
    if (!run.ok) {
      state.SkipWithError("norvane-cli failed");
      return;
    }
    console += run.seconds;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["window_s"] = window / n;
  state.counters["console_s"] = console / n;
  state.counters["window/console"] = window / console;
}
BENCHMARK(BM_WindowVsConsole)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

void BM_WindowStalls(benchmark::State& state) {
  TempTree& folder = LargeFolder();
  if (!folder.ok) {
    state.SkipWithError("could not write the pictures");
    return;
  }
  BenchWindow bench;
  std::vector<double> gaps;
  for (auto _ : state) {
    QTimer ticker;
    QElapsedTimer clock;
    qint64 last = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      gaps.push_back(static_cast<double>(now - last) * 1e-6);
      last = now;
    });
    ticker.start(10);
    // The ticks come from the search's own event handling; the stretch from
    // the press to the first tick and from the last tick to the end count.
    clock.start();
    bench.Search(folder.root());
    ticker.stop();
    gaps.push_back(static_cast<double>(clock.nsecsElapsed() - last) * 1e-6);
  }
  if (gaps.empty()) {
    state.SkipWithError("the timer never ticked");
    return;
  }
  std::sort(gaps.begin(), gaps.end());
  state.counters["ticks"] = static_cast<double>(gaps.size());
  state.counters["max_gap_ms"] = gaps.back();
  state.counters["p99_gap_ms"] = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
}
BENCHMARK(BM_WindowStalls)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

void BM_FitLargePicture(benchmark::State& state) {
  DecodedImage image;
  if (image.AllocatePixels(9000, 6000, PixelKind::Bgr24) != LoadResult::LoadOk) {
    state.SkipWithError("no memory for the picture");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(FittedBitmap(image, 500, 400));
}
BENCHMARK(BM_FitLargePicture)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace norvane::ui

int main(int argc, char** argv) {
  norvane::ReusePictureMemory();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
