#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/Subprocess.h"
#include "image/DecodedImage.h"
#include "move/BatchMove.h"
#include "search/ResultTable.h"
#include "scan/FolderScan.h"
#include "signature/SignatureExtractor.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::Pattern;
using test::TempDir;

const std::string kCli = NORVANE_CLI_PATH;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// Lines of an output that ends in a line break (the last, empty piece dropped).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// BGR pixels to the R, G, B samples the JPEG writer takes.
std::vector<std::uint8_t> ToRgb(std::vector<std::uint8_t> bgr) {
  for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  return bgr;
}

// Size and date texts as the scan gives them.
std::string SizeText(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "?";
  return std::to_string(static_cast<std::int32_t>(st.st_size));
}
std::string DateText(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "?";
  return FormatScanDate(st.st_mtime, CurrentUtcOffset());
}

// A folder with known duplicates:
//   dup.jpg and dup.bmp  the BMP holds the JPEG's decoded pixels: identical
//   small.bmp, zbig.bmp  zbig is small scaled up twice: same statistics
//   u1.bmp, u2.jpg       unrelated
class CliFolder {
 public:
  CliFolder() {
    const std::vector<std::uint8_t> dup = Pattern(16, 16, 2);
    test::WriteFile(dir.File("dup.jpg"), test::MakeJpeg(16, 16, 3, ToRgb(dup), 90));
    DecodedImage decoded;
    EXPECT_EQ(decoded.LoadImageFile(dir.File("dup.jpg")), LoadResult::LoadOk);
    EXPECT_EQ(decoded.pixelKind, PixelKind::Bgr24);
    std::vector<std::uint8_t> pixels(decoded.Pixels(), decoded.Pixels() + decoded.PixelBytes());
    test::WriteFile(dir.File("dup.bmp"), test::MakeBmp24(16, 16, pixels));

    const std::vector<std::uint8_t> small = Pattern(8, 8, 5);
    std::vector<std::uint8_t> big;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        for (int k = 0; k < 3; ++k) big.push_back(small[static_cast<std::size_t>(((y / 2) * 8 + x / 2) * 3 + k)]);
      }
    }
    test::WriteFile(dir.File("small.bmp"), test::MakeBmp24(8, 8, small));
    test::WriteFile(dir.File("zbig.bmp"), test::MakeBmp24(16, 16, big));
    test::WriteFile(dir.File("u1.bmp"), test::MakeBmp24(12, 12, Pattern(12, 12, 7)));
    test::WriteFile(dir.File("u2.jpg"), test::MakeJpeg(16, 8, 3, ToRgb(Pattern(16, 8, 9)), 90));
  }

  // The row a record without partner prints.
  std::string Row(int position, const std::string& name, int width, int height,
                  const std::string& partnerColumns = "\t\t") const {
    const std::string path = dir.File(name);
    return std::to_string(position) + "\t" + name + "\t" + SizeText(path) + "\t" + DateText(path) + "\t" +
           std::to_string(width) + "\t" + std::to_string(height) + "\t" + partnerColumns;
  }

  TempDir dir;
  TempDir cwd;  // working directory of the program: no settings file unless a test writes one
};

test::ProcessResult Cli(const std::vector<std::string>& args, const std::string& cwd,
                        bool unprivileged = false) {
  std::vector<std::string> full = {kCli};
  full.insert(full.end(), args.begin(), args.end());
  return test::RunProcess(full, cwd, false, unprivileged);
}

// A JSON Lines object of the console, read back: string values decoded with
// lone low surrogates U+DC80..U+DCFF turned back into the bytes they stand
// for, numbers and null kept as their text. Any syntax error fails the test.
std::map<std::string, std::string> ParseJsonObject(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::size_t i = 0;
  auto fail = [&](const char* what) {
    ADD_FAILURE() << what << " at " << i << " in " << line;
    i = line.size();
    return std::string();
  };
  auto hex4 = [&]() {
    unsigned value = 0;
    for (int k = 0; k < 4; ++k) value = value * 16 + static_cast<unsigned>(std::stoi(line.substr(i++, 1), nullptr, 16));
    return value;
  };
  auto str = [&]() -> std::string {
    if (line[i++] != '"') return fail("no string");
    std::string out;
    while (i < line.size() && line[i] != '"') {
      const unsigned char c = static_cast<unsigned char>(line[i++]);
      if (c < 0x20) return fail("raw control character");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char e = line[i++];
      if (e == 'n') out += '\n';
      else if (e == 't') out += '\t';
      else if (e == 'r') out += '\r';
      else if (e == '"' || e == '\\' || e == '/') out += e;
      else if (e == 'u') {
        const unsigned code = hex4();
        if (code >= 0xDC80 && code <= 0xDCFF) out += static_cast<char>(code & 0xFF);
        else if (code < 0x80) out += static_cast<char>(code);
        else return fail("unexpected escape");
      } else return fail("bad escape");
    }
    ++i;
    return out;
  };
  if (line.empty() || line[i++] != '{') return fields;
  while (i < line.size() && line[i] != '}') {
    const std::string key = str();
    if (line[i++] != ':') fail("no colon");
    if (line[i] == '"') {
      fields[key] = str();
    } else {
      const std::size_t end = line.find_first_of(",}", i);
      fields[key] = line.substr(i, end - i);
      i = end;
    }
    if (line[i] == ',') ++i;
  }
  EXPECT_EQ(i + 1, line.size()) << line;
  return fields;
}

// Opens `dir` and its files to every user, for a program run unprivileged.
void OpenToAll(const TempDir& dir) { chmod(dir.path().c_str(), 0777); }

TEST(CliTest, PrintsTheSortedResultListWithHeaderAndKnownDuplicates) {
  CliFolder f;
  const test::ProcessResult r = Cli({"--header", f.dir.path()}, f.cwd.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> expected = {
      "#\t画像名\tサイズ\t日付\t幅\t高\t類似画像名\t画像差\t",
      f.Row(0, "dup.bmp", 16, 16, "dup.jpg\t0\t1"),
      f.Row(2, "small.bmp", 8, 8, "zbig.bmp\t1\t5"),
      f.Row(1, "dup.jpg", 16, 16),
      f.Row(3, "u1.bmp", 12, 12),
      f.Row(4, "u2.jpg", 16, 8),
      f.Row(5, "zbig.bmp", 16, 16),
  };
  EXPECT_EQ(Lines(r.out), expected);
  // Nothing on standard error when it is not a terminal and --progress is absent.
  EXPECT_EQ(r.err, "");
  // The search wrote the folder's signature cache; a second run reuses it and
  // prints the same list.
  EXPECT_EQ(access(f.dir.File("_cache.nrv").c_str(), F_OK), 0);
  const test::ProcessResult again = Cli({"--header", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(again.out, r.out);
  // Recomputed on one thread or on three, list and cache file stay the same.
  const test::Bytes cache = test::ReadFile(f.dir.File("_cache.nrv"));
  for (const char* jobs : {"1", "3"}) {
    const test::ProcessResult fresh = Cli({"--header", "--no-cache", "--jobs", jobs, f.dir.path()}, f.cwd.path());
    EXPECT_EQ(fresh.out, r.out) << jobs;
    EXPECT_EQ(test::ReadFile(f.dir.File("_cache.nrv")), cache) << jobs;
  }
}

TEST(CliTest, SettingsFileOfTheWorkingDirectoryIsReadNeverWrittenAndOverridable) {
  CliFolder f;
  const std::string ini = "; mine\n[general]\ninitialsort=4\nWeightA=1000\n";
  test::WriteFile(f.cwd.File("Norvane.ini"), ini);

  // Size descending: the larger zbig.bmp becomes the row, small.bmp its partner.
  const test::ProcessResult fromFile = Cli({f.dir.path()}, f.cwd.path());
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  const std::vector<std::string> lines = Lines(fromFile.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(Split(lines[1], '\t')[1], "zbig.bmp");
  EXPECT_EQ(Split(lines[1], '\t')[6], "small.bmp");

  const test::ProcessResult overridden = Cli({"--order", "0", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(Split(Lines(overridden.out)[1], '\t')[1], "small.bmp");

  // A threshold of 0 keeps only identical and signature-equal pairs; a
  // large aspect weight separates nothing here, all shapes being equal.
  const test::ProcessResult strict = Cli({"--threshold", "0", "--weight-a", "5000", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(Split(Lines(strict.out)[0], '\t')[7], "0");

  EXPECT_EQ(test::ReadFile(f.cwd.File("Norvane.ini")), test::Bytes(ini.begin(), ini.end()));
}

TEST(CliTest, BadUsageExitsTwoAndAMissingFolderFindsNothing) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus", dir.path()},
      {},
      {"--threshold", "abc", dir.path()},
      {"--weight-a", "4294967296", dir.path()},
      {dir.path(), dir.path()},
      {"--jobs", "0", dir.path()},
      {"--jobs=257", dir.path()},
      {"--jobs", "two", dir.path()},
  };
  for (const auto& args : cases) {
    const test::ProcessResult r = Cli(args, dir.path());
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.exitCode, 2) << joined;
    EXPECT_EQ(r.out, "") << joined;
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_GE(lines.size(), 2u) << joined;
    EXPECT_EQ(lines[0].rfind("norvane-cli: ", 0), 0u) << joined;
    EXPECT_EQ(lines[1].rfind("usage: norvane-cli", 0), 0u) << joined;
  }
  // Values in range pass, also written with "=".
  EXPECT_EQ(Cli({"--threshold=-46341", "--weight-v", "4294967295", "--order=11", "--jobs=256", dir.path()},
                dir.path())
                .exitCode,
            0);
}

// What a script sees: the exit code, and which stream got what.
TEST(CliTest, ExitCodeAndStreamsTellATargetThatCannotBeSearchedFromAnEmptyFolder) {
  TempDir dir;
  test::WriteFile(dir.File("file.jpg"), std::string("not a folder"));
  ASSERT_EQ(mkdir(dir.File("empty").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("locked").c_str(), 0), 0);
  OpenToAll(dir);
  struct Case {
    std::string target;
    int exitCode;
    std::string err;  // the whole error stream
  };
  const std::vector<Case> cases = {
      {dir.File("nowhere"), 1,
       "norvane-cli: cannot search " + dir.File("nowhere") + ": No such file or directory\n"},
      {dir.File("file.jpg"), 1, "norvane-cli: cannot search " + dir.File("file.jpg") + ": Not a directory\n"},
      {dir.File("locked"), 1, "norvane-cli: cannot search " + dir.File("locked") + ": Permission denied\n"},
      {dir.File("empty"), 0, "情報: 画像ファイルが見つかりません。\n"},
  };
  for (const Case& c : cases) {
    const test::ProcessResult r = Cli({"--header", c.target}, dir.path(), /*unprivileged=*/true);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.target;
    EXPECT_EQ(r.err, c.err) << c.target;
    // A folder without images still prints the headings; a failure prints nothing.
    EXPECT_EQ(Lines(r.out).size(), c.exitCode == 0 ? 1u : 0u) << c.target;
  }
  chmod(dir.File("locked").c_str(), 0755);
  // The messages of the search speak English on request.
  EXPECT_EQ(Cli({"--language", "en", dir.File("empty")}, dir.path()).err, "Information: No image files were found.\n");
  test::WriteFile(dir.File("Norvane.ini"), std::string("[General]\nLanguage=en\n"));
  EXPECT_EQ(Cli({dir.File("empty")}, dir.path()).err, "Information: No image files were found.\n");
  EXPECT_EQ(Cli({"--language=ja", dir.File("empty")}, dir.path()).err, "情報: 画像ファイルが見つかりません。\n");
}

TEST(CliTest, AClosedOutputEndsQuietlyWithAFailureAndUnreadablePlacesAreWarnedAbout) {
  CliFolder f;
  // Enough rows that the list cannot vanish into the pipe's buffer.
  for (int i = 0; i < 200; ++i) {
    test::WriteFile(f.dir.File("copy" + std::to_string(i) + ".bmp"), test::ReadFile(f.dir.File("u1.bmp")));
  }
  const test::ProcessResult closed =
      test::RunProcess({kCli, "--no-cache", f.dir.path()}, f.cwd.path(), /*closedOutput=*/true);
  EXPECT_EQ(closed.exitCode, 1);
  EXPECT_EQ(closed.err, "");

  ASSERT_EQ(mkdir(f.dir.File("sub").c_str(), 0), 0);
  ASSERT_EQ(chmod(f.dir.File("u2.jpg").c_str(), 0), 0);
  OpenToAll(f.dir);
  OpenToAll(f.cwd);
  const test::ProcessResult r =
      Cli({"--no-cache", "--subfolders", f.dir.path()}, f.cwd.path(), /*unprivileged=*/true);
  chmod(f.dir.File("sub").c_str(), 0755);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "norvane-cli: warning: cannot list " + f.dir.File("sub") + ": Permission denied\n" +
                       "norvane-cli: warning: cannot open " + f.dir.File("u2.jpg") + ": Permission denied\n");
  // The unreadable file is still listed, without a signature.
  EXPECT_NE(r.out.find(f.Row(204, "u2.jpg", 0, 0)), std::string::npos) << r.out;
}

TEST(CliTest, JsonLinesCarryEveryNameBackByteForByte) {
  CliFolder f;
  // Names a line-based or UTF-8-only reader would mangle; the first two are
  // twins once the invalid byte is replaced by U+FFFD.
  const std::vector<std::string> names = {"\xff.bmp", "\xef\xbf\xbd.bmp", "tab\there.bmp", "line\nbreak \"q\".bmp",
                                          "back\\slash.bmp"};
  for (const std::string& name : names) {
    test::WriteFile(f.dir.File(name), test::ReadFile(f.dir.File("u1.bmp")));
  }
  const test::ProcessResult r = Cli({"--no-cache", "--format", "json", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(r.exitCode, 0);
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u + names.size());
  std::map<std::string, std::map<std::string, std::string>> byName;
  for (const std::string& line : lines) {
    // The output itself is UTF-8: the invalid byte travels as an escape.
    EXPECT_EQ(line.find('\xff'), std::string::npos) << line;
    std::map<std::string, std::string> fields = ParseJsonObject(line);
    EXPECT_EQ(fields.size(), 11u) << line;
    EXPECT_EQ(fields["path"], f.dir.File(fields["name"])) << line;
    byName[fields["name"]] = fields;
  }
  for (const std::string& name : names) {
    ASSERT_EQ(byName.count(name), 1u) << name;
    // Each copy of u1.bmp is paired with an identical later copy; only the
    // last one in name order ("\xff.bmp") has no later image left.
    if (name == names[0]) continue;
    EXPECT_EQ(byName[name]["difference"], "0") << name;
    EXPECT_EQ(byName[name]["partner_path"], f.dir.File(byName[name]["partner_name"])) << name;
  }
  EXPECT_EQ(byName["u2.jpg"]["width"], "16");
  EXPECT_EQ(byName["u2.jpg"]["partner"], "null");
  EXPECT_EQ(byName["u2.jpg"]["partner_path"], "null");
}

// The options a text names: every "--word" (in roff written "\-\-word").
std::set<std::string> OptionNames(std::string text) {
  for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.replace(at, 2, "-");
  std::set<std::string> names;
  for (std::size_t at = 0; (at = text.find("--", at)) != std::string::npos;) {
    std::size_t end = at + 2;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
    if (end > at + 2) names.insert(text.substr(at, end - at));
    at = end;
  }
  return names;
}

TEST(CliTest, HelpManualPageAndCompletionNameTheSameOptions) {
  TempDir dir;
  const test::ProcessResult help = Cli({"--help"}, dir.path());
  ASSERT_EQ(help.exitCode, 0);
  const std::set<std::string> options = OptionNames(help.out);
  EXPECT_GE(options.size(), 15u);
  const std::string resources = NORVANE_RESOURCES;
  for (const std::string file : {"/man/norvane-cli.1", "/completion/norvane-cli"}) {
    const test::Bytes bytes = test::ReadFile(resources + file);
    EXPECT_EQ(OptionNames(std::string(bytes.begin(), bytes.end())), options) << file;
  }
  // The exit codes of the help are those of the manual page.
  const test::Bytes page = test::ReadFile(resources + "/man/norvane-cli.1");
  const std::string pageText(page.begin(), page.end());
  for (const char* code : {"0", "1", "2", "3", "130"}) {
    EXPECT_NE(help.out.find(std::string("  ") + code + "  "), std::string::npos) << code;
    EXPECT_NE(pageText.find(std::string(".B ") + code + "\n"), std::string::npos) << code;
  }
}

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CliTest, MovesAreThoseOfTheBatchMoveOnThePrintedList) {
  struct Case {
    int limit;
    const char* side;
    bool dryRun;
    bool clash;  // the move folder already holds the first image's name
  };
  const std::vector<Case> cases = {{0, "right", false, false}, {0, "left", false, true},
                                   {1000, "right", true, false}, {-1, "right", false, false}};
  for (const Case& c : cases) {
    CliFolder f;
    TempDir moveTo;
    const std::string label = std::to_string(c.limit) + c.side + (c.dryRun ? " dry" : "");
    // What the batch move picks from the list this search prints.
    const test::ProcessResult list = Cli({"--no-cache", f.dir.path()}, f.cwd.path());
    ResultTable table;
    FileList records;
    for (const std::string& line : Lines(list.out)) {
      const std::vector<std::string> cells = Split(line, '\t');
      ASSERT_EQ(cells.size(), 9u) << line;
      table.InsertRow(table.RowCount(), cells[0]);
      for (int column = 1; column < kColumnCount; ++column) table.SetText(table.RowCount() - 1, column, cells[column]);
      const int position = std::stoi(cells[0]);
      if (records.size() <= static_cast<std::size_t>(position)) records.resize(position + 1);
      records[position].path = f.dir.File(cells[1]);
      records[position].partner = cells[8].empty() ? -1 : std::stoi(cells[8]);
    }
    std::vector<std::string> expected;
    BatchMove(table.rows(), records, c.limit, std::string(c.side) == "left" ? kLeftSide : kRightSide,
              [&](const std::string& path) {
                expected.push_back(path);
                return MoveOutcome{true, {}, {}};
              });
    if (c.limit >= 0) {
      EXPECT_FALSE(expected.empty()) << label;
    }
    const std::string clashName = expected.empty() ? "" : expected[0].substr(f.dir.path().size() + 1);
    if (c.clash) test::WriteFile(moveTo.File(clashName), std::string("mine"));

    const std::vector<std::string> before = FolderNames(f.dir.path());
    std::vector<std::string> args = {"--no-cache", "--move-to", moveTo.path(), "--max-difference",
                                     std::to_string(c.limit), "--side", c.side, f.dir.path()};
    if (c.dryRun) args.insert(args.begin(), "--dry-run");
    const test::ProcessResult r = Cli(args, f.cwd.path());
    EXPECT_EQ(r.exitCode, 0) << label << r.err;
    std::vector<std::string> printed;
    for (const std::string& line : Lines(r.out)) {
      const std::vector<std::string> fields = Split(line, '\t');
      printed.push_back(fields.at(1));
      if (c.dryRun) {
        EXPECT_EQ(fields.size(), 2u) << line;
        EXPECT_EQ(fields[0], "would move") << line;
        continue;
      }
      ASSERT_EQ(fields.size(), 3u) << line;
      EXPECT_EQ(fields[0], "moved");
      EXPECT_FALSE(std::filesystem::exists(fields[1])) << line;
      EXPECT_TRUE(std::filesystem::exists(fields[2])) << line;
      const std::string name = fields[1].substr(f.dir.path().size() + 1);
      const std::string stem = name.substr(0, name.rfind('.'));
      EXPECT_EQ(fields[2], moveTo.File(c.clash && name == clashName ? stem + " (2)" + name.substr(stem.size()) : name));
    }
    EXPECT_EQ(printed, expected) << label;
    if (c.dryRun) {
      EXPECT_EQ(FolderNames(f.dir.path()), before) << label;
      EXPECT_TRUE(FolderNames(moveTo.path()).empty()) << label;
    }
    if (c.clash) {
      EXPECT_EQ(test::ReadFile(moveTo.File(clashName)), test::Bytes({'m', 'i', 'n', 'e'})) << label;
    }
  }
  // A move folder that is not there ends the run before anything moves.
  CliFolder f;
  const test::ProcessResult r = Cli({"--trash", "--move-to", f.dir.File("x"), "--max-difference", "0", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(r.exitCode, 2);
  const test::ProcessResult missing =
      Cli({"--move-to", f.dir.File("nowhere"), "--max-difference", "0", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(FolderNames(f.dir.path()).size(), 6u);
  // A folder that refuses the moves: each failure is named, the exit code
  // says so, and every image stays.
  TempDir locked;
  OpenToAll(f.dir);
  OpenToAll(f.cwd);
  chmod(locked.path().c_str(), 0555);
  const test::ProcessResult refused = Cli({"--no-cache", "--move-to", locked.path(), "--max-difference", "0", f.dir.path()},
                                          f.cwd.path(), /*unprivileged=*/true);
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("norvane-cli: cannot move " + f.dir.path()), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("Permission denied"), std::string::npos) << refused.err;
  EXPECT_TRUE(FolderNames(locked.path()).empty());
}

TEST(CliTest, SignatureModePrintsEveryValueExactly) {
  CliFolder f;
  test::WriteFile(f.dir.File("notes.txt"), std::string("text"));
  const std::vector<std::string> files = {f.dir.File("dup.jpg"), f.dir.File("u1.bmp"),
                                          f.dir.File("gone.bmp"), f.dir.File("notes.txt")};
  const test::ProcessResult r = Cli({"--signature", files[0], files[1], files[2], files[3]}, f.cwd.path());
  EXPECT_EQ(r.exitCode, 1);  // two files do not load
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u);

  for (int i = 0; i < 2; ++i) {
    const std::vector<std::string> fields = Split(lines[static_cast<std::size_t>(i)], '\t');
    ASSERT_EQ(fields.size(), 6u + 96u);
    DecodedImage image;
    ASSERT_EQ(image.LoadImageFile(files[static_cast<std::size_t>(i)]), LoadResult::LoadOk);
    FileRecord record;
    SignatureExtractor::Extract(record, image);
    EXPECT_EQ(fields[0], files[static_cast<std::size_t>(i)]);
    EXPECT_EQ(fields[1], "0");
    EXPECT_EQ(fields[2], std::to_string(static_cast<int>(image.pixelKind)));
    EXPECT_EQ(fields[3], std::to_string(image.width));
    EXPECT_EQ(fields[4], std::to_string(image.height));
    EXPECT_EQ(fields[5], record.digest);
    std::size_t k = 6;
    for (const SignatureCell& cell : record.grid) {
      for (double expected : {cell.meanY, cell.meanCb, cell.meanCr, cell.sdevY, cell.sdevCb, cell.sdevCr}) {
        const double printed = std::strtod(fields[k].c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&printed, &expected, sizeof printed), 0) << fields[k] << " field " << k;
        ++k;
      }
    }
  }
  EXPECT_EQ(lines[2], files[2] + "\t4\t0\t0\t0\t");
  EXPECT_EQ(lines[3], files[3] + "\t8\t0\t0\t0\t");
}

}  // namespace
}  // namespace norvane
