// The console program run as a subprocess: its list, its streams and exit
// codes, its JSON Lines, its moves and its signature dump.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/FileDescriptor.h"
#include "image/DecodedImage.h"
#include "move/BatchMove.h"
#include "scan/FolderScan.h"
#include "search/SearchView.h"
#include "signature/SignatureExtractor.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::TempDir;

struct Output {
  int exitCode = -1;  // the exit status, or 128 + signal number
  std::string out, err;
};

// Runs norvane-cli with `args` in `cwd`, its two streams caught in files. With
// `unprivileged`, a test running as root starts it as "nobody" (65534), so
// that permissions refuse it as they refuse any user. With `closedOutput`,
// its standard output is a pipe whose read end is already closed.
Output Cli(std::vector<std::string> args, const std::string& cwd, bool unprivileged = false, bool closedOutput = false) {
  const TempDir streams;
  const UniqueFd out(open(streams.File("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  const UniqueFd err(open(streams.File("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  int fds[2] = {-1, -1};
  if (closedOutput && pipe2(fds, O_CLOEXEC) == 0) close(fds[0]);
  const UniqueFd closedPipe(fds[1]);
  args.insert(args.begin(), NORVANE_CLI_PATH);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const bool drop = unprivileged && geteuid() == 0;
    if (chdir(cwd.c_str()) != 0 || (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) ||
        dup2(closedOutput ? closedPipe.get() : out.get(), STDOUT_FILENO) < 0 || dup2(err.get(), STDERR_FILENO) < 0) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const test::Bytes o = test::ReadFile(streams.File("out")), e = test::ReadFile(streams.File("err"));
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), {o.begin(), o.end()}, {e.begin(), e.end()}};
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

// Lines of an output that ends in a line break.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  lines.pop_back();
  return lines;
}

// Opens `dir` to every user, for a program run unprivileged.
void OpenToAll(const TempDir& dir) { chmod(dir.path().c_str(), 0777); }

// A folder with known duplicates: dup.bmp holds the decoded pixels of
// dup.jpg; zbig.bmp is small.bmp scaled up twice (same statistics); u1.bmp
// and u2.jpg are unrelated.
struct CliFolder {
  CliFolder() {
    test::WriteFile(dir.File("dup.jpg"), test::MakeJpeg(16, 16, 3, test::Pattern(16, 16, 2), 90));
    DecodedImage decoded;
    EXPECT_EQ(decoded.LoadImageFile(dir.File("dup.jpg")), LoadResult::LoadOk);
    test::WriteFile(dir.File("dup.bmp"), test::MakeBmp24(16, 16, {decoded.Pixels(), decoded.Pixels() + decoded.PixelBytes()}));
    const std::vector<std::uint8_t> small = test::Pattern(8, 8, 5);
    std::vector<std::uint8_t> big;
    for (int i = 0; i < 16 * 16 * 3; ++i) big.push_back(small[static_cast<std::size_t>((i / 96 * 8 + i % 48 / 6) * 3 + i % 3)]);
    test::WriteFile(dir.File("small.bmp"), test::MakeBmp24(8, 8, small));
    test::WriteFile(dir.File("zbig.bmp"), test::MakeBmp24(16, 16, big));
    test::WriteFile(dir.File("u1.bmp"), test::MakeBmp24(12, 12, test::Pattern(12, 12, 7)));
    test::WriteFile(dir.File("u2.jpg"), test::MakeJpeg(16, 8, 3, test::Pattern(16, 8, 9), 90));
  }

  // The row of `name`; without partner columns, that of a record without partner.
  std::string Row(int position, const std::string& name, int width, int height, const std::string& partner = "\t\t") const {
    struct stat st {};
    stat(dir.File(name).c_str(), &st);
    return std::to_string(position) + "\t" + name + "\t" + std::to_string(st.st_size) + "\t" +
           FormatScanDate(st.st_mtime, CurrentUtcOffset()) + "\t" + std::to_string(width) + "\t" + std::to_string(height) +
           "\t" + partner;
  }

  TempDir dir;
  TempDir cwd;  // working directory of the program: no settings file unless a test writes one
};

TEST(CliTest, PrintsTheSortedResultListWithHeaderAndKnownDuplicates) {
  CliFolder f;
  const Output r = Cli({"--header", f.dir.path()}, f.cwd.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"#\t画像名\tサイズ\t日付\t幅\t高\t類似画像名\t画像差\t",
                                                    f.Row(0, "dup.bmp", 16, 16, "dup.jpg\t0\t1"),
                                                    f.Row(2, "small.bmp", 8, 8, "zbig.bmp\t1\t5"), f.Row(1, "dup.jpg", 16, 16),
                                                    f.Row(3, "u1.bmp", 12, 12), f.Row(4, "u2.jpg", 16, 8),
                                                    f.Row(5, "zbig.bmp", 16, 16)}));
  EXPECT_EQ(r.err, "");  // no progress when standard error is not a terminal and --progress is absent
  // The search wrote the folder's signature cache, and a second run reuses
  // it; recomputed on one thread or on three, list and cache stay the same.
  const test::Bytes cache = test::ReadFile(f.dir.File("_cache.nrv"));
  EXPECT_FALSE(cache.empty());
  EXPECT_EQ(Cli({"--header", f.dir.path()}, f.cwd.path()).out, r.out);
  for (const char* jobs : {"1", "3"}) {
    EXPECT_EQ(Cli({"--header", "--no-cache", "--jobs", jobs, f.dir.path()}, f.cwd.path()).out, r.out) << jobs;
    EXPECT_EQ(test::ReadFile(f.dir.File("_cache.nrv")), cache) << jobs;
  }
  // The working directory's settings file is read, never written, and the
  // options win over it. Size descending and threshold 0: zbig.bmp comes
  // third, without its partner.
  const std::string ini = "; mine\n[general]\ninitialsort=4\nThresHold=0\n";
  test::WriteFile(f.cwd.File("Norvane.ini"), ini);
  EXPECT_EQ(Lines(Cli({f.dir.path()}, f.cwd.path()).out).at(2), f.Row(2, "zbig.bmp", 16, 16));
  EXPECT_EQ(Cli({"--header", "--order", "0", "--threshold=100", f.dir.path()}, f.cwd.path()).out, r.out);
  EXPECT_EQ(test::ReadFile(f.cwd.File("Norvane.ini")), test::Bytes(ini.begin(), ini.end()));
}

// What a script sees: the exit code, and which stream got what.
TEST(CliTest, ExitCodeAndStreamsTellBadUsageAndATargetThatCannotBeSearchedFromAnEmptyFolder) {
  TempDir dir;
  test::WriteFile(dir.File("file.jpg"), std::string("not a folder"));
  ASSERT_EQ(mkdir(dir.File("empty").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("locked").c_str(), 0), 0);
  OpenToAll(dir);
  const std::string usage = Cli({"--help"}, dir.path()).out, none = "情報: 画像ファイルが見つかりません。\n";
  const std::string empty = dir.File("empty"), nowhere = dir.File("nowhere");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // after "norvane-cli: " and before the usage text, if the exit code says so
    std::size_t outLines;
  };
  const Case cases[] = {
      {{"--bogus", empty}, 2, "unknown option: --bogus\n", 0},
      {{}, 2, "missing folder\n", 0},
      {{"--threshold", "abc", empty}, 2, "--threshold: not an integer in range: abc\n", 0},
      {{"--weight-a", "4294967296", empty}, 2, "--weight-a: not an integer in range: 4294967296\n", 0},
      {{empty, empty}, 2, "more than one folder: " + empty + "\n", 0},
      {{"--jobs", "0", empty}, 2, "--jobs: not an integer in range: 0\n", 0},
      {{"--jobs=257", empty}, 2, "--jobs: not an integer in range: 257\n", 0},
      {{"--header", "--format", "json", empty}, 2, "--header goes with --format tsv only\n", 0},
      {{"--trash", "--move-to", empty, "--max-difference", "0", empty}, 2, "--move-to and --trash exclude each other\n", 0},
      {{nowhere}, 1, "cannot search " + nowhere + ": No such file or directory\n", 0},
      {{dir.File("file.jpg")}, 1, "cannot search " + dir.File("file.jpg") + ": Not a directory\n", 0},
      {{dir.File("locked")}, 1, "cannot search " + dir.File("locked") + ": Permission denied\n", 0},
      {{"--move-to", nowhere, "--max-difference", "0", empty}, 1, "cannot move into " + nowhere + ": No such file or directory\n", 0},
      // A folder without images still prints the headings.
      {{"--header", empty}, 0, none, 1},
      {{"--threshold=-46341", "--weight-v", "4294967295", "--order=11", "--jobs=256", empty}, 0, none, 0},
      {{"--language", "en", empty}, 0, "Information: No image files were found.\n", 0},
  };
  for (const Case& c : cases) {
    const Output r = Cli(c.args, dir.path(), /*unprivileged=*/true);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.err;
    EXPECT_EQ(r.err, c.exitCode == 0 ? c.err : "norvane-cli: " + c.err + (c.exitCode == 2 ? usage : ""));
    EXPECT_EQ(Lines(r.out).size(), c.outLines) << c.err;
  }
  chmod(dir.File("locked").c_str(), 0755);
  // The language of the settings file counts; the option wins over it.
  test::WriteFile(dir.File("Norvane.ini"), std::string("[General]\nLanguage=en\n"));
  EXPECT_EQ(Cli({empty}, dir.path()).err, "Information: No image files were found.\n");
  EXPECT_EQ(Cli({"--language=ja", empty}, dir.path()).err, none);
}

TEST(CliTest, AClosedOutputEndsQuietlyWithAFailureAndUnreadablePlacesAreWarnedAbout) {
  CliFolder f;
  const Output closed = Cli({"--no-cache", f.dir.path()}, f.cwd.path(), false, /*closedOutput=*/true);
  EXPECT_EQ(closed.exitCode, 1);
  EXPECT_EQ(closed.err, "");

  ASSERT_EQ(mkdir(f.dir.File("sub").c_str(), 0), 0);
  ASSERT_EQ(chmod(f.dir.File("u2.jpg").c_str(), 0), 0);
  OpenToAll(f.dir);
  OpenToAll(f.cwd);
  const Output r = Cli({"--no-cache", "--subfolders", f.dir.path()}, f.cwd.path(), /*unprivileged=*/true);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "norvane-cli: warning: cannot list " + f.dir.File("sub") + ": Permission denied\n" +
                       "norvane-cli: warning: cannot open " + f.dir.File("u2.jpg") + ": Permission denied\n");
  // The unreadable file is still listed, without a signature.
  EXPECT_NE(r.out.find(f.Row(4, "u2.jpg", 0, 0)), std::string::npos) << r.out;
}

// The fields of one JSON Lines object: strings decoded (an escape of
// U+DC80..U+DCFF gives back the byte it stands for), numbers and null as
// their text. Anything that is not such an object fails the test.
std::map<std::string, std::string> JsonFields(const std::string& line) {
  static const std::regex field(
      R"re("(\w+)":("(?:[^"\\\x00-\x1f]|\\[nrt"\\]|\\u00[0-7][0-9a-f]|\\udc[89a-f][0-9a-f])*"|-?\d+|null))re");
  std::map<std::string, std::string> fields;
  std::string rebuilt;
  for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it) {
    rebuilt += (rebuilt.empty() ? "{" : ",") + it->str();
    std::string value = (*it)[2], text;
    for (std::size_t i = 1; value[0] == '"' && i + 1 < value.size(); ++i) {
      if (value[i] != '\\') {
        text += value[i];
      } else if (value[++i] == 'u') {
        text += static_cast<char>(std::stoi(value.substr(i + 3, 2), nullptr, 16));
        i += 4;
      } else {
        text += "\n\r\t\"\\"[std::string("nrt\"\\").find(value[i])];
      }
    }
    fields[(*it)[1]] = value[0] == '"' ? text : value;
  }
  EXPECT_EQ(rebuilt + "}", line);
  return fields;
}

TEST(CliTest, JsonLinesCarryEveryNameBackByteForByte) {
  CliFolder f;
  // Names a line-based or UTF-8-only reader would mangle: the first two are
  // twins once the invalid byte is replaced by U+FFFD, the third an overlong "/".
  const std::vector<std::string> names = {"\xff.bmp", "\xef\xbf\xbd.bmp", "\xc0\xaf.bmp", "tab\there.bmp",
                                          "line\nbreak \"q\".bmp", "back\\slash.bmp"};
  for (const std::string& name : names) test::WriteFile(f.dir.File(name), test::ReadFile(f.dir.File("u1.bmp")));
  // As tab-separated cells, every row is one line of nine cells.
  const std::vector<std::string> rows = Lines(Cli({"--no-cache", f.dir.path()}, f.cwd.path()).out);
  EXPECT_EQ(rows.size(), 12u);
  for (const std::string& row : rows) EXPECT_EQ(Split(row, '\t').size(), 9u) << row;

  const std::vector<std::string> lines = Lines(Cli({"--no-cache", "--format", "json", f.dir.path()}, f.cwd.path()).out);
  std::map<std::string, std::map<std::string, std::string>> byName;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\xff\xc0"), std::string::npos) << line;  // the output itself is UTF-8
    std::map<std::string, std::string> fields = JsonFields(line);
    EXPECT_EQ(fields.size(), 11u) << line;
    EXPECT_EQ(fields["path"], f.dir.File(fields["name"])) << line;
    byName[fields["name"]] = fields;
  }
  ASSERT_EQ(byName.size(), 12u);
  for (const std::string& name : names) {
    // Each copy of u1.bmp is paired with an identical later copy; the last
    // one in name order ("\xff.bmp") has no later image left.
    EXPECT_EQ(byName[name]["difference"], name == names[0] ? "null" : "0") << name;
    EXPECT_EQ(byName[name]["partner_path"], name == names[0] ? "null" : f.dir.File(byName[name]["partner_name"])) << name;
  }
  EXPECT_EQ(byName["u2.jpg"]["width"] + byName["u2.jpg"]["partner"] + byName["u2.jpg"]["partner_name"], "16nullnull");
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
  const Output help = Cli({"--help"}, dir.path());
  ASSERT_EQ(help.exitCode, 0);
  EXPECT_GE(OptionNames(help.out).size(), 15u);
  const test::Bytes page = test::ReadFile(NORVANE_RESOURCES "/man/norvane-cli.1");
  const test::Bytes completion = test::ReadFile(NORVANE_RESOURCES "/completion/norvane-cli");
  EXPECT_EQ(OptionNames(std::string(page.begin(), page.end())), OptionNames(help.out));
  EXPECT_EQ(OptionNames(std::string(completion.begin(), completion.end())), OptionNames(help.out));
  // The exit codes of the help are those of the manual page.
  for (const std::string code : {"0", "1", "2", "3", "130"}) {
    EXPECT_NE(help.out.find("  " + code + "  "), std::string::npos) << code;
    EXPECT_NE(std::string(page.begin(), page.end()).find(".B " + code + "\n"), std::string::npos) << code;
  }
}

TEST(CliTest, MovesAreThoseOfTheBatchMoveOnThePrintedList) {
  struct Case {
    int limit;
    const char* side;
    bool dryRun, clash;  // clash: the move folder already holds the first image's name
  };
  for (const Case& c : {Case{0, "right", false, false}, {0, "left", false, true}, {1000, "right", true, false},
                        {-1, "right", false, false}}) {
    SCOPED_TRACE(testing::Message() << c.limit << c.side << c.dryRun);
    CliFolder f;
    TempDir moveTo;
    // What the batch move picks from the list this search prints.
    std::vector<ResultRow> rows;
    FileList records(6);
    std::vector<std::string> expected, printed;
    for (const std::string& line : Lines(Cli({"--no-cache", f.dir.path()}, f.cwd.path()).out)) {
      const std::vector<std::string> cells = Split(line, '\t');
      std::copy_n(cells.begin(), kColumnCount, rows.emplace_back().begin());
      records.at(std::stoul(cells[0])).path = f.dir.File(cells[1]);
      records.at(std::stoul(cells[0])).partner = cells[8].empty() ? -1 : std::stoi(cells[8]);
    }
    BatchMove(rows, records, c.limit, c.side[0] == 'l' ? kLeftSide : kRightSide, [&](const std::string& path) {
      expected.push_back(path);
      return MoveOutcome{true, {}, {}};
    });
    EXPECT_EQ(expected.empty(), c.limit < 0);
    const std::string first = expected.empty() ? "" : expected[0].substr(f.dir.path().size() + 1);
    if (c.clash) test::WriteFile(moveTo.File(first), std::string("mine"));

    std::vector<std::string> args = {"--no-cache", "--move-to", moveTo.path(), "--max-difference", std::to_string(c.limit),
                                     "--side", c.side, f.dir.path()};
    if (c.dryRun) args.insert(args.begin(), "--dry-run");
    const Output r = Cli(args, f.cwd.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& line : Lines(r.out)) {
      printed.push_back(Split(line, '\t').at(1));
      std::string name = printed.back().substr(f.dir.path().size() + 1);
      if (c.clash && name == first) name.insert(name.rfind('.'), " (2)");
      EXPECT_EQ(line, c.dryRun ? "would move\t" + printed.back() : "moved\t" + printed.back() + "\t" + moveTo.File(name));
      EXPECT_EQ(access(moveTo.File(name).c_str(), F_OK) == 0, !c.dryRun) << line;
    }
    EXPECT_EQ(printed, expected);
    // Six images and the cache, less those moved; a name already taken keeps its file.
    EXPECT_EQ(test::FolderEntries(f.dir.path()).size(), 7 - (c.dryRun ? 0 : printed.size()));
    EXPECT_EQ(!first.empty() && test::ReadFile(moveTo.File(first)) == test::Bytes({'m', 'i', 'n', 'e'}), c.clash);
  }
  // A folder that refuses the moves: each failure is named, the exit code
  // says so, and every image stays.
  CliFolder f;
  TempDir locked;
  OpenToAll(f.dir);
  OpenToAll(f.cwd);
  chmod(locked.path().c_str(), 0555);
  const Output refused = Cli({"--no-cache", "--move-to", locked.path(), "--max-difference", "0", f.dir.path()}, f.cwd.path(),
                             /*unprivileged=*/true);
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_EQ(refused.out + refused.err, "norvane-cli: cannot move " + f.dir.File("dup.jpg") + ": Permission denied\n");
  EXPECT_EQ(test::FolderEntries(f.dir.path()).size(), 7u);
}

TEST(CliTest, SignatureModePrintsEveryValueExactly) {
  CliFolder f;
  test::WriteFile(f.dir.File("notes.txt"), std::string("text"));
  const std::vector<std::string> files = {f.dir.File("dup.jpg"), f.dir.File("u1.bmp"), f.dir.File("gone.bmp"),
                                          f.dir.File("notes.txt")};
  const Output r = Cli({"--signature", files[0], files[1], files[2], files[3]}, f.cwd.path());
  EXPECT_EQ(r.exitCode, 1);  // two files do not load
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 0; i < 2; ++i) {
    DecodedImage image;
    FileRecord record;
    ASSERT_EQ(image.LoadImageFile(files[i]), LoadResult::LoadOk);
    SignatureExtractor::Extract(record, image);
    std::string expected = files[i] + "\t0\t" + std::to_string(static_cast<int>(image.pixelKind)) + "\t" +
                           std::to_string(image.width) + "\t" + std::to_string(image.height) + "\t" + record.digest;
    const std::vector<std::string> fields = Split(lines[i], '\t');
    ASSERT_EQ(fields.size(), 6u + 96u);
    // Each value printed reads back as exactly the same double.
    for (std::size_t k = 0; k < 96; ++k) {
      const SignatureCell& cell = record.grid[k / 6];
      const double value = std::array{cell.meanY, cell.meanCb, cell.meanCr, cell.sdevY, cell.sdevCb, cell.sdevCr}[k % 6];
      const double printed = std::strtod(fields[6 + k].c_str(), nullptr);
      EXPECT_EQ(std::memcmp(&printed, &value, sizeof value), 0) << fields[6 + k] << " field " << 6 + k;
      expected += "\t" + fields[6 + k];
    }
    EXPECT_EQ(lines[i], expected);
  }
  EXPECT_EQ(lines[2], files[2] + "\t4\t0\t0\t0\t");
  EXPECT_EQ(lines[3], files[3] + "\t8\t0\t0\t0\t");
}

}  // namespace
}  // namespace norvane
