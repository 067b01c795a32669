// Command line of the console front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "i18n/Texts.h"

namespace norvane::cli {

enum class CliMode { Search, Signature, Help, Version };

// How the result list is printed: tab-separated cells, or JSON Lines.
enum class OutputFormat { Tsv, Json };

// What happens to the images the batch move picks: nothing (the result
// list is printed), a move into a folder, or the desktop's trash.
enum class MoveAction { None, MoveTo, Trash };

struct CliOptions {
  CliMode mode = CliMode::Search;
  std::string folder;              // the target folder (search)
  std::vector<std::string> files;  // the files (signature)
  // Overrides of the settings file; unset keeps the file's value.
  std::optional<bool> subFolders;
  std::optional<bool> cache;
  std::optional<std::int32_t> threshold;
  std::optional<std::int32_t> order;
  std::optional<std::uint32_t> weightV;  // thousandths, as in the settings file
  std::optional<std::uint32_t> weightA;
  std::optional<int> jobs;  // threads that decode; unset: the hardware threads
  OutputFormat format = OutputFormat::Tsv;
  std::optional<Language> language;  // unset: the settings file's, else Japanese
  MoveAction action = MoveAction::None;
  std::string moveFolder;                // with MoveTo
  std::optional<std::int32_t> maxDifference;  // the batch move's limit
  int side = 1;                          // 0 left (the row's own image), 1 right (its partner)
  bool dryRun = false;
  bool header = false;
  bool progress = false;  // progress lines also when standard error is not a terminal
};

// Parses argv[1..]. Returns false with a one-line `error` for bad usage.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The usage text, ending in a line break.
std::string UsageText();

}  // namespace norvane::cli
