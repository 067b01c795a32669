#include "cli/CliOptions.h"

#include <charconv>
#include <string_view>

namespace norvane::cli {

namespace {

// A whole argument as a decimal integer within [low, high]: an optional sign
// and digits, nothing else.
template <typename T>
bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, T& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last || value < low || value > high) return false;
  out = static_cast<T>(value);
  return true;
}

}  // namespace

std::string UsageText() {
  return "usage: norvane-cli [options] FOLDER\n"
         "       norvane-cli --signature FILE...\n"
         "Searches FOLDER for similar images and prints the result list, one row per\n"
         "line, the nine columns separated by tabs. Settings come from ./Norvane.ini\n"
         "when present (never written); these options override them:\n"
         "  --subfolders, --no-subfolders   include sub-folders or not\n"
         "  --cache, --no-cache             use the folders' signature cache or not\n"
         "  --threshold N                   similarity threshold (standard 100)\n"
         "  --order N                       left-side priority, 0 to 10\n"
         "  --weight-v N, --weight-a N      weights in thousandths (1000 = 1.0)\n"
         "  --jobs N                        threads that decode images, 1 to 256\n"
         "                                  (standard: one per hardware thread)\n"
         "  --format tsv|json               tab-separated cells (standard), or JSON\n"
         "                                  Lines: one object per row, named fields\n"
         "  --header                        first print the column headings (tsv)\n"
         "  --language ja|en                language of headings and messages\n"
         "                                  (standard: Japanese)\n"
         "  --progress                      progress lines on standard error even\n"
         "                                  when it is not a terminal\n"
         "  --move-to DIR, --trash          move away the images the window's batch\n"
         "                                  move picks, into DIR or the desktop's trash,\n"
         "                                  and print each move instead of the list\n"
         "  --max-difference N              the batch move's limit (needed with them)\n"
         "  --side left|right               which image of a pair goes (standard: right)\n"
         "  --dry-run                       print what would be moved, move nothing\n"
         "  --signature FILE...             decode each file and print its signature\n"
         "  --help, --version\n"
         "Ctrl-C stops between files and prints the results gathered so far.\n"
         "Folders that cannot be listed and files whose permissions refuse them are\n"
         "named in warnings on standard error.\n"
         "Exit status:\n"
         "  0    the search ran (a folder without image files included)\n"
         "  1    FOLDER is missing, is not a folder or cannot be listed, or the\n"
         "       results could not be written (in --signature mode: a file did not load)\n"
         "  2    bad usage\n"
         "  3    an image could not be moved (the others were)\n"
         "  130  interrupted by Ctrl-C\n";
}

bool ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::string& error) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
      if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
        error = "unknown option: " + std::string(arg);
        return false;
      }
      operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value" for the options that take a number.
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto value = [&](std::string_view& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) {
        error = "missing value for " + std::string(name);
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto notInteger = [&](std::string_view text) {
      error = std::string(name) + ": not an integer in range: " + std::string(text);
      return false;
    };
    auto flag = [&](std::optional<bool>& target, bool on) {
      if (inlineValue) {
        error = std::string(name) + " takes no value";
        return false;
      }
      target = on;
      return true;
    };

    if (name == "--subfolders") {
      if (!flag(options.subFolders, true)) return false;
    } else if (name == "--no-subfolders") {
      if (!flag(options.subFolders, false)) return false;
    } else if (name == "--cache") {
      if (!flag(options.cache, true)) return false;
    } else if (name == "--no-cache") {
      if (!flag(options.cache, false)) return false;
    } else if (name == "--threshold" || name == "--order") {
      std::string_view text;
      if (!value(text)) return false;
      std::int32_t number = 0;
      if (!ParseInteger(text, INT32_MIN, INT32_MAX, number)) return notInteger(text);
      (name == "--threshold" ? options.threshold : options.order) = number;
    } else if (name == "--weight-v" || name == "--weight-a") {
      std::string_view text;
      if (!value(text)) return false;
      std::uint32_t number = 0;
      if (!ParseInteger(text, 0, UINT32_MAX, number)) return notInteger(text);
      (name == "--weight-v" ? options.weightV : options.weightA) = number;
    } else if (name == "--jobs") {
      std::string_view text;
      if (!value(text)) return false;
      int number = 0;
      if (!ParseInteger(text, 1, 256, number)) return notInteger(text);
      options.jobs = number;
    } else if (name == "--format") {
      std::string_view text;
      if (!value(text)) return false;
      if (text == "tsv") {
        options.format = OutputFormat::Tsv;
      } else if (text == "json") {
        options.format = OutputFormat::Json;
      } else {
        error = "--format: tsv or json, not " + std::string(text);
        return false;
      }
    } else if (name == "--language") {
      std::string_view text;
      if (!value(text)) return false;
      options.language = ParseLanguage(text);
      if (!options.language) {
        error = "--language: ja or en, not " + std::string(text);
        return false;
      }
    } else if (name == "--move-to") {
      std::string_view text;
      if (!value(text)) return false;
      if (text.empty()) {
        error = "--move-to needs a folder";
        return false;
      }
      if (options.action == MoveAction::Trash) {
        error = "--move-to and --trash exclude each other";
        return false;
      }
      options.action = MoveAction::MoveTo;
      options.moveFolder = std::string(text);
    } else if (name == "--trash" && !inlineValue) {
      if (options.action == MoveAction::MoveTo) {
        error = "--move-to and --trash exclude each other";
        return false;
      }
      options.action = MoveAction::Trash;
    } else if (name == "--max-difference") {
      std::string_view text;
      if (!value(text)) return false;
      std::int32_t number = 0;
      if (!ParseInteger(text, INT32_MIN, INT32_MAX, number)) return notInteger(text);
      options.maxDifference = number;
    } else if (name == "--side") {
      std::string_view text;
      if (!value(text)) return false;
      if (text != "left" && text != "right") {
        error = "--side: left or right, not " + std::string(text);
        return false;
      }
      options.side = text == "left" ? 0 : 1;
    } else if (name == "--dry-run" && !inlineValue) {
      options.dryRun = true;
    } else if (name == "--header" && !inlineValue) {
      options.header = true;
    } else if (name == "--progress" && !inlineValue) {
      options.progress = true;
    } else if (name == "--signature" && !inlineValue) {
      options.mode = CliMode::Signature;
    } else if (name == "--help" && !inlineValue) {
      options.mode = CliMode::Help;
      return true;
    } else if (name == "--version" && !inlineValue) {
      options.mode = CliMode::Version;
      return true;
    } else {
      error = "unknown option: " + std::string(arg);
      return false;
    }
  }

  if (options.mode == CliMode::Signature) {
    if (operands.empty()) {
      error = "--signature needs at least one file";
      return false;
    }
    options.files = std::move(operands);
    return true;
  }
  if ((options.action != MoveAction::None) != options.maxDifference.has_value()) {
    error = "--move-to or --trash goes with --max-difference";
    return false;
  }
  if (options.dryRun && options.action == MoveAction::None) {
    error = "--dry-run goes with --move-to or --trash";
    return false;
  }
  if (options.header && options.format == OutputFormat::Json) {
    error = "--header goes with --format tsv only";
    return false;
  }
  if (operands.empty()) {
    error = "missing folder";
    return false;
  }
  if (operands.size() > 1) {
    error = "more than one folder: " + operands[1];
    return false;
  }
  options.folder = std::move(operands.front());
  return true;
}

}  // namespace norvane::cli
