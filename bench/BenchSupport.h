// What the benchmarks that run the programs share: a temporary folder tree,
// photo-like pixels, and a run of norvane-cli with its time and memory.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace norvane::bench {

// A temporary folder removed with the object; with NORVANE_BENCH_KEEP set
// in the environment it stays, for profiling by hand.
class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/norvane-bench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root_ = pattern;
  }
  ~TempTree() {
    std::error_code ec;
    if (root_.empty()) return;
    if (std::getenv("NORVANE_BENCH_KEEP") != nullptr) {
      std::fprintf(stderr, "kept %s\n", root_.c_str());
      return;
    }
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  bool ok = true;  // every file was written

 private:
  std::string root_;
};

// A photo-like picture as RGB bytes, rows top first: smooth gradients with
// grain, different per seed.
inline std::vector<std::uint8_t> PhotoPixels(int width, int height, int seed) {
  std::mt19937 local(static_cast<unsigned>(seed));
  const int r0 = static_cast<int>(local() % 200), g0 = static_cast<int>(local() % 200),
            b0 = static_cast<int>(local() % 200);
  const int fx = 1 + static_cast<int>(local() % 7), fy = 1 + static_cast<int>(local() % 7);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  std::size_t k = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int t = ((x * fx + y * fy) >> 4) & 63;
      const int grain = static_cast<int>((x * 7919u ^ y * 104729u ^ static_cast<unsigned>(seed)) & 15u);
      rgb[k++] = static_cast<std::uint8_t>(r0 + t / 2 + grain);
      rgb[k++] = static_cast<std::uint8_t>(g0 + (y * 50) / height + grain);
      rgb[k++] = static_cast<std::uint8_t>(b0 + (x * 50) / width + grain / 2);
    }
  }
  return rgb;
}

struct CliRun {
  bool ok = false;        // started and exited with 0
  double seconds = 0;     // wall time
  double cpuSeconds = 0;  // user and system time of the program
  double peakMib = 0;     // peak resident memory of the program
};

// Runs the norvane-cli beside this program with its output thrown away.
inline CliRun RunCli(std::vector<std::string> args) {
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
  CliRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakMib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

}  // namespace norvane::bench
