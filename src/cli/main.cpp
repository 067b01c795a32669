// norvane-cli: one search of a folder, exactly as the Start button runs it,
// with the result list printed as tab-separated lines.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleView.h"
#include "cli/SignatureDump.h"
#include "gather/SignatureGatherer.h"
#include "image/PluginReader.h"
#include "search/SearchSession.h"
#include "settings/Settings.h"

namespace norvane::cli {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

extern "C" void OnInterrupt(int) { g_interruptRequested = 1; }

// The first Ctrl-C asks the search to stop between files. The handler resets
// itself, so a second Ctrl-C ends the program at once (the ordering and the
// comparison cannot be stopped otherwise). Interrupted writes of progress
// lines are restarted.
void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

Settings ReadSettings(const CliOptions& options) {
  // Read the settings file like the program does; the console program never writes it.
  Settings settings = DefaultSettings();
  settings.SettingsFile = SettingsFilePath();
  if (!settings.SettingsFile.empty()) LoadSettings(settings);
  if (options.subFolders) settings.EnableSubFolder = *options.subFolders;
  if (options.cache) settings.EnableCache = *options.cache;
  if (options.threshold) settings.ThresHold = *options.threshold;
  if (options.order) settings.InitialSort = *options.order;
  if (options.weightV) settings.WeightV = static_cast<double>(*options.weightV) * 0.001;
  if (options.weightA) settings.WeightA = static_cast<double>(*options.weightA) * 0.001;
  return settings;
}

void PrintRow(const std::array<std::string, kColumnCount>& cells, std::FILE* out) {
  std::string line;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c > 0) line += '\t';
    line += EscapeField(cells[static_cast<std::size_t>(c)]);
  }
  line += '\n';
  std::fputs(line.c_str(), out);
}

int RunSearch(const CliOptions& options) {
  Settings settings = ReadSettings(options);
  ProgressStyle style = ProgressStyle::None;
  if (isatty(STDERR_FILENO)) {
    style = ProgressStyle::Line;
  } else if (options.progress) {
    style = ProgressStyle::Lines;
  }
  ConsoleView view(settings, options.folder, style, stderr);
  SearchSession session(view, settings, DetectPlugins());
  view.Attach(&session);
  if (options.jobs) session.SetJobs(*options.jobs);

  InstallInterruptHandler();
  session.OnStart();
  std::signal(SIGINT, SIG_DFL);

  if (options.header) {
    std::array<std::string, kColumnCount> headings;
    for (int c = 0; c < kColumnCount; ++c) {
      headings[static_cast<std::size_t>(c)] = std::string(kColumnHeadings[static_cast<std::size_t>(c)]);
    }
    PrintRow(headings, stdout);
  }
  for (const ResultRow& row : view.table().rows()) PrintRow(row, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("norvane-cli: writing the results");
    return 1;
  }
  return view.interrupted() || g_interruptRequested ? kExitInterrupted : 0;
}

int Main(int argc, char** argv) {
  ReusePictureMemory();
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) {
    std::fprintf(stderr, "norvane-cli: %s\n%s", error.c_str(), UsageText().c_str());
    return kExitUsage;
  }
  switch (options.mode) {
    case CliMode::Help:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CliMode::Version:
      std::printf("norvane-cli %s\n", NORVANE_VERSION);
      return 0;
    case CliMode::Signature: {
      const int status = DumpSignatures(options.files, stdout);
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
      return status;
    }
    case CliMode::Search:
      break;
  }
  return RunSearch(options);
}

}  // namespace
}  // namespace norvane::cli

int main(int argc, char** argv) { return norvane::cli::Main(argc, argv); }
