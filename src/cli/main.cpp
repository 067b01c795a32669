// norvane-cli: one search of a folder, exactly as the Start button runs it,
// with the result list printed as tab-separated lines.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleView.h"
#include "cli/JsonOutput.h"
#include "cli/SignatureDump.h"
#include "gather/SignatureGatherer.h"
#include "image/PluginReader.h"
#include "base/FileDescriptor.h"
#include "move/BatchMove.h"
#include "move/FileMove.h"
#include "search/SearchSession.h"
#include "settings/Settings.h"

namespace norvane::cli {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMoveFailed = 3;
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

// Returns false once the output can no longer be written. `line` is only
// room to build the line in, kept from row to row.
bool PrintRow(const std::array<std::string, kColumnCount>& cells, std::FILE* out, std::string& line) {
  line.clear();
  for (int c = 0; c < kColumnCount; ++c) {
    if (c > 0) line += '\t';
    AppendEscapedField(line, cells[static_cast<std::size_t>(c)]);
  }
  line += '\n';
  return std::fwrite(line.data(), 1, line.size(), out) == line.size();
}

// 0 when `folder` is a folder that can be listed, otherwise the errno of
// the failure. The window merely finds no images in such a target; a script
// must be able to tell a mistyped path from a folder without pictures.
int CheckTargetFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return errno;
  ::closedir(dir);
  return 0;
}

// Whether opening `path` for reading is refused by its permissions.
bool OpenRefused(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return fd.get() < 0 && (errno == EACCES || errno == EPERM);
}

// The images the result list lacks for a reason the user can fix: folders
// that could not be listed and files whose permissions refused them.
void WarnAboutUnreadable(const SearchSession& session, ConsoleView& view) {
  for (const ScanFailure& failure : session.scanFailures()) {
    view.Warn("cannot list " + failure.folder + ": " + ErrorText(failure.error));
  }
  for (const FileRecord& record : session.records()) {
    if (record.width == 0 && OpenRefused(record.path())) {
      view.Warn("cannot open " + record.path() + ": " + ErrorText(EACCES));
    }
  }
}

// The window's batch move over the result list, with the console's own
// mover: every move (or, in a dry run, every image that would go) is
// printed on standard output as it happens, a failure on standard error
// with its reason; the rest go on.
int RunMoves(const CliOptions& options, SearchSession& session, ConsoleView& view) {
  bool failed = false;
  bool written = true;
  const auto print = [&](const std::string& line) {
    if (written) written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0;
  };
  const bool trash = options.action == MoveAction::Trash;
  const Mover mover = [&](const std::string& path) {
    if (options.dryRun) {
      print(std::string(trash ? "would trash\t" : "would move\t") + EscapeField(path) + "\n");
      return MoveOutcome{true, {}, {}};
    }
    const MoveOutcome outcome = MoveAway(path, trash, options.moveFolder);
    if (outcome.ok) {
      print(trash ? "trashed\t" + EscapeField(path) + "\n"
                  : "moved\t" + EscapeField(path) + "\t" + EscapeField(outcome.destination) + "\n");
    } else {
      failed = true;
      std::fprintf(stderr, "norvane-cli: cannot move %s: %s\n", path.c_str(), outcome.errorText.c_str());
    }
    return outcome;
  };
  std::vector<ResultRow> rows = view.table().TextRows();
  BatchMove(rows, session.records(), *options.maxDifference, options.side, mover);
  if (!written) {
    if (errno != EPIPE) std::perror("norvane-cli: writing the moves");
    return kExitFailure;
  }
  return failed ? kExitMoveFailed : 0;
}

int RunSearch(const CliOptions& options) {
  // A move folder that is not there would fail every single move.
  if (options.action == MoveAction::MoveTo) {
    struct stat target {};
    const int error = ::stat(options.moveFolder.c_str(), &target) != 0 ? errno
                      : S_ISDIR(target.st_mode)                       ? 0
                                                                      : ENOTDIR;
    if (error != 0) {
      std::fprintf(stderr, "norvane-cli: cannot move into %s: %s\n", options.moveFolder.c_str(),
                   ErrorText(error).c_str());
      return kExitFailure;
    }
  }
  if (const int error = CheckTargetFolder(options.folder); error != 0) {
    std::fprintf(stderr, "norvane-cli: cannot search %s: %s\n", options.folder.c_str(), ErrorText(error).c_str());
    return kExitFailure;
  }
  Settings settings = ReadSettings(options);
  // The option wins over the settings file; a value neither names is Japanese.
  SetLanguage(options.language.value_or(ParseLanguage(settings.Language).value_or(Language::Japanese)));
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
  WarnAboutUnreadable(session, view);
  if (options.action != MoveAction::None) {
    if (view.interrupted() || g_interruptRequested) return kExitInterrupted;  // never act on a partial list
    return RunMoves(options, session, view);
  }

  bool written = true;
  std::string line;
  if (options.header) {
    std::array<std::string, kColumnCount> headings;
    for (int c = 0; c < kColumnCount; ++c) {
      headings[static_cast<std::size_t>(c)] = std::string(Localize(kColumnHeadings[static_cast<std::size_t>(c)]));
    }
    written = PrintRow(headings, stdout, line);
  }
  ResultRow row;
  for (int r = 0; r < view.table().RowCount() && written; ++r) {
    view.table().GetRow(r, row);
    if (options.format == OutputFormat::Json) {
      const std::string line = JsonRow(row, session.records()) + "\n";
      written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    } else {
      written = PrintRow(row, stdout, line);
    }
  }
  if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    // A reader that went away (`norvane-cli DIR | head`) is no error worth a
    // message; the exit code still says the list was not written whole.
    if (errno != EPIPE) std::perror("norvane-cli: writing the results");
    return kExitFailure;
  }
  return view.interrupted() || g_interruptRequested ? kExitInterrupted : 0;
}

int Main(int argc, char** argv) {
  ReusePictureMemory();
  // A closed output pipe shows up as a failed write (EPIPE) instead of
  // killing the program in the middle of a line.
  std::signal(SIGPIPE, SIG_IGN);
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
