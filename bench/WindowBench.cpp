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
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "gather/SignatureGatherer.h"
#include "settings/Settings.h"
#include "ui/MainWindow.h"
#include "ui/PaneDrawing.h"

extern char** environ;

namespace norvane::ui {
namespace {

using Clock = std::chrono::steady_clock;

// A temporary folder removed with the object.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/norvane-winbench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& root() const { return root_; }
  bool ok = true;

 private:
  std::string root_;
};

// A photo-like picture: smooth gradients with grain, different per seed.
QImage Photo(int width, int height, int seed) {
  QImage image(width, height, QImage::Format_RGB888);
  const int r0 = (seed * 37) % 200, g0 = (seed * 91) % 200, b0 = (seed * 53) % 200;
  const int fx = 1 + seed % 7, fy = 1 + (seed / 7) % 7;
  for (int y = 0; y < height; ++y) {
    uchar* p = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const int t = ((x * fx + y * fy) >> 4) & 63;
      const int grain = static_cast<int>((x * 7919u ^ y * 104729u ^ static_cast<unsigned>(seed)) & 15u);
      *p++ = static_cast<uchar>(r0 + t / 2 + grain);
      *p++ = static_cast<uchar>(g0 + (y * 50) / height + grain);
      *p++ = static_cast<uchar>(b0 + (x * 50) / width + grain / 2);
    }
  }
  return image;
}

bool Save(const QImage& image, const std::string& path) {
  return image.save(QString::fromStdString(path), "JPG", 90);
}

TempFolder& SmallFolder() {
  static TempFolder folder;
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

TempFolder& LargeFolder() {
  static TempFolder folder;
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
  TempFolder work;
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

// Wall seconds of norvane-cli beside this program, output thrown away.
double RunCli(std::vector<std::string> args) {
  std::error_code ec;
  const std::string cli = (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "norvane-cli").string();
  args.insert(args.begin(), cli);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_WindowVsConsole(benchmark::State& state) {
  TempFolder& folder = SmallFolder();
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
    const double seconds = RunCli({"--no-cache", folder.root()});
    if (seconds < 0) {
      state.SkipWithError("norvane-cli failed");
      return;
    }
    console += seconds;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["window_s"] = window / n;
  state.counters["console_s"] = console / n;
  state.counters["window/console"] = window / console;
}
BENCHMARK(BM_WindowVsConsole)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

void BM_WindowStalls(benchmark::State& state) {
  TempFolder& folder = LargeFolder();
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
