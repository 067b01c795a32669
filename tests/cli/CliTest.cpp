// The console program run as a subprocess: its list, its streams and exit
// codes, its JSON Lines, its moves and its signature dump.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <tuple>

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

const std::string kHeadings = "#\t画像名\tサイズ\t日付\t幅\t高\t類似画像名\t画像差\t\n";

struct Output {
  int exitCode = -1;  // the exit status, or 128 + signal number
  std::string out, err;
  bool operator==(const Output&) const = default;
};
void PrintTo(const Output& o, std::ostream* os) { *os << "exit " << o.exitCode << ", out:\n" << o.out << "err:\n" << o.err; }

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
  std::vector<char*> argv(args.size() + 1);
  std::transform(args.begin(), args.end(), argv.begin(), [](std::string& a) { return a.data(); });
  const pid_t pid = fork();
  if (pid == 0 && chdir(cwd.c_str()) == 0 &&
      (!unprivileged || geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0)) &&
      dup2(closedOutput ? closedPipe.get() : out.get(), STDOUT_FILENO) >= 0 && dup2(err.get(), STDERR_FILENO) >= 0) {
    execv(argv[0], argv.data());
  }
  if (pid == 0) _exit(127);
  int status = 0;
  waitpid(pid, &status, 0);
  const test::Bytes o = test::ReadFile(streams.File("out")), e = test::ReadFile(streams.File("err"));
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), {o.begin(), o.end()}, {e.begin(), e.end()}};
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) c == separator ? parts.emplace_back() : parts.back() += c;
  return parts;
}

// Lines of an output that ends in a line break.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  lines.pop_back();
  return lines;
}

// Opens folders to every user, for a program run unprivileged.
void OpenToAll(std::initializer_list<const TempDir*> dirs) {
  for (const TempDir* dir : dirs) chmod(dir->path().c_str(), 0777);
}

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
           "\t" + partner + "\n";
  }

  TempDir dir, cwd;  // cwd: the program's working directory, without a settings file unless a test writes one
};

TEST(CliTest, PrintsTheSortedResultListWithHeaderAndKnownDuplicates) {
  CliFolder f;
  // No progress on a standard error that is not a terminal, without --progress.
  const Output r = Cli({"--header", f.dir.path()}, f.cwd.path());
  EXPECT_EQ(r, (Output{0, kHeadings + f.Row(0, "dup.bmp", 16, 16, "dup.jpg\t0\t1") +
                              f.Row(2, "small.bmp", 8, 8, "zbig.bmp\t1\t5") + f.Row(1, "dup.jpg", 16, 16) +
                              f.Row(3, "u1.bmp", 12, 12) + f.Row(4, "u2.jpg", 16, 8) + f.Row(5, "zbig.bmp", 16, 16), ""}));
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
  EXPECT_EQ(Lines(Cli({f.dir.path()}, f.cwd.path()).out).at(2) + "\n", f.Row(2, "zbig.bmp", 16, 16));
  EXPECT_EQ(Cli({"--header", "--order", "0", "--threshold=100", f.dir.path()}, f.cwd.path()).out, r.out);
  EXPECT_EQ(test::ReadFile(f.cwd.File("Norvane.ini")), test::Bytes(ini.begin(), ini.end()));
}

// What a script sees: the exit code, and which stream got what.
TEST(CliTest, ExitCodeAndStreamsTellBadUsageAndATargetThatCannotBeSearchedFromAnEmptyFolder) {
  TempDir dir;
  test::WriteFile(dir.File("file.jpg"), std::string("not a folder"));
  ASSERT_EQ(mkdir(dir.File("empty").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("locked").c_str(), 0), 0);
  OpenToAll({&dir});
  const std::string usage = Cli({"--help"}, dir.path()).out, none = "情報: 画像ファイルが見つかりません。\n";
  const std::string empty = dir.File("empty"), nowhere = dir.File("nowhere"), noSuch = ": No such file or directory\n";
  // The arguments, the exit code and the standard error; after a failure, its
  // text follows "norvane-cli: ", and for bad usage the usage text follows it.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--bogus", empty}, 2, "unknown option: --bogus\n"},
      {{}, 2, "missing folder\n"},
      {{"--threshold", "abc", empty}, 2, "--threshold: not an integer in range: abc\n"},
      {{"--weight-a", "4294967296", empty}, 2, "--weight-a: not an integer in range: 4294967296\n"},
      {{empty, empty}, 2, "more than one folder: " + empty + "\n"},
      {{"--jobs", "0", empty}, 2, "--jobs: not an integer in range: 0\n"},
      {{"--jobs=257", empty}, 2, "--jobs: not an integer in range: 257\n"},
      {{"--header", "--format", "json", empty}, 2, "--header goes with --format tsv only\n"},
      {{"--trash", "--move-to", empty, "--max-difference", "0", empty}, 2, "--move-to and --trash exclude each other\n"},
      {{nowhere}, 1, "cannot search " + nowhere + noSuch},
      {{dir.File("file.jpg")}, 1, "cannot search " + dir.File("file.jpg") + ": Not a directory\n"},
      {{dir.File("locked")}, 1, "cannot search " + dir.File("locked") + ": Permission denied\n"},
      {{"--move-to", nowhere, "--max-difference", "0", empty}, 1, "cannot move into " + nowhere + noSuch},
      {{"--header", empty}, 0, none},
      {{"--threshold=-46341", "--weight-v", "4294967295", "--order=11", "--jobs=256", empty}, 0, none},
      {{"--language", "en", empty}, 0, "Information: No image files were found.\n"},
  };
  for (const auto& [args, exitCode, err] : cases) {
    // Only a folder without images prints something: the headings.
    EXPECT_EQ(Cli(args, dir.path(), /*unprivileged=*/true),
              (Output{exitCode, exitCode == 0 && args[0] == "--header" ? kHeadings : "",
                      exitCode == 0 ? err : "norvane-cli: " + err + (exitCode == 2 ? usage : "")}));
  }
  chmod(dir.File("locked").c_str(), 0755);
  // The language of the settings file counts; the option wins over it.
  test::WriteFile(dir.File("Norvane.ini"), std::string("[General]\nLanguage=en\n"));
  EXPECT_EQ(Cli({empty}, dir.path()).err, "Information: No image files were found.\n");
  EXPECT_EQ(Cli({"--language=ja", empty}, dir.path()).err, none);
}

TEST(CliTest, AClosedOutputEndsQuietlyWithAFailureAndUnreadablePlacesAreWarnedAbout) {
  CliFolder f;
  EXPECT_EQ(Cli({"--no-cache", f.dir.path()}, f.cwd.path(), false, /*closedOutput=*/true), (Output{1, "", ""}));

  ASSERT_EQ(mkdir(f.dir.File("sub").c_str(), 0), 0);
  ASSERT_EQ(chmod(f.dir.File("u2.jpg").c_str(), 0), 0);
  OpenToAll({&f.dir, &f.cwd});
  const Output r = Cli({"--no-cache", "--subfolders", f.dir.path()}, f.cwd.path(), /*unprivileged=*/true);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "norvane-cli: warning: cannot list " + f.dir.File("sub") + ": Permission denied\n" +
                       "norvane-cli: warning: cannot open " + f.dir.File("u2.jpg") + ": Permission denied\n");
  // The unreadable file is still listed, without a signature.
  EXPECT_NE(r.out.find(f.Row(4, "u2.jpg", 0, 0)), std::string::npos) << r.out;
}

// A cell of the list as a JSON string: the list's escapes of tabs, line
// breaks and backslashes are JSON's own; quotes and the bytes of the names
// below that are not UTF-8 need escapes of their own.
std::string Json(std::string text) {
  for (const auto& [from, to] : {std::pair{"\"", "\\\""}, {"\x1f", "\\u001f"}, {"\xff", "\\udcff"}, {"\xc0\xaf", "\\udcc0\\udcaf"}})
    text = std::regex_replace(text, std::regex(from), to);
  return "\"" + text + "\"";
}

TEST(CliTest, JsonLinesCarryEveryNameBackByteForByte) {
  CliFolder f;
  // Copies of u1.bmp under names a line-based or UTF-8-only reader would
  // mangle: the first two are twins once the invalid byte is replaced by
  // U+FFFD, the third is an overlong "/", then a tab, a line break and
  // quotes, a backslash, a control character.
  for (const char* name : {"\xff.bmp", "\xef\xbf\xbd.bmp", "\xc0\xaf.bmp", "t\tb.bmp", "l\nb \"q\".bmp", "b\\s.bmp", "u\x1f.bmp"})
    test::WriteFile(f.dir.File(name), test::ReadFile(f.dir.File("u1.bmp")));
  const std::vector<std::string> rows = Lines(Cli({"--no-cache", f.dir.path()}, f.cwd.path()).out);
  const std::string json = Cli({"--no-cache", "--format", "json", f.dir.path()}, f.cwd.path()).out;
  ASSERT_EQ(rows.size(), 13u);
  std::string expected;
  std::size_t identical = 0;
  for (const std::string& row : rows) {
    const std::vector<std::string> c = Split(row, '\t');  // nine cells: tabs and line breaks in names are escaped
    ASSERT_EQ(c.size(), 9u) << row;
    identical += c[7] == "0";
    expected += "{\"position\":" + c[0] + ",\"name\":" + Json(c[1]) + ",\"path\":" + Json(f.dir.path() + "/" + c[1]) +
                ",\"size\":" + c[2] + ",\"date\":" + Json(c[3]) + ",\"width\":" + c[4] + ",\"height\":" + c[5] +
                (c[8].empty() ? ",\"partner\":null,\"partner_name\":null,\"partner_path\":null,\"difference\":null}\n"
                              : ",\"partner\":" + c[8] + ",\"partner_name\":" + Json(c[6]) + ",\"partner_path\":" +
                                    Json(f.dir.path() + "/" + c[6]) + ",\"difference\":" + c[7] + "}\n");
  }
  EXPECT_EQ(json, expected);
  EXPECT_EQ(identical, 8u);  // each copy but the last in name order, and dup.bmp
}

// The options a text names: every "--word" (in roff written "\-\-word").
std::set<std::string> OptionNames(const std::string& text) {
  const std::string plain = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  const std::regex option("--[a-z0-9][a-z0-9-]*");
  return {std::sregex_token_iterator(plain.begin(), plain.end(), option), std::sregex_token_iterator()};
}

TEST(CliTest, HelpManualPageAndCompletionNameTheSameOptions) {
  TempDir dir;
  const Output help = Cli({"--help"}, dir.path());
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
  // The limit, the side, a dry run, and whether the move folder already holds the first image's name.
  for (const auto& [limit, side, dryRun, clash] : {std::tuple{0, "right", false, false}, {0, "left", false, true},
                                                   {1000, "right", true, false}, {-1, "right", false, false}}) {
    SCOPED_TRACE(testing::Message() << limit << side << dryRun);
    CliFolder f;
    TempDir moveTo;
    // What the batch move picks from the list this search prints.
    std::vector<ResultRow> rows;
    FileList records(6);
    std::vector<std::string> expected, printed;
    for (const std::string& line : Lines(Cli({"--no-cache", f.dir.path()}, f.cwd.path()).out)) {
      const std::vector<std::string> cells = Split(line, '\t');
      std::copy_n(cells.begin(), kColumnCount, rows.emplace_back().begin());
      std::tie(records.at(std::stoul(cells[0])).folder, records.at(std::stoul(cells[0])).name) = std::tie(f.dir.path(), cells[1]);
      records.at(std::stoul(cells[0])).partner = cells[8].empty() ? -1 : std::stoi(cells[8]);
    }
    const Mover pick = [&](const std::string& path) { return expected.push_back(path), MoveOutcome{true, {}, {}}; };
    BatchMove(rows, records, limit, side[0] == 'l' ? kLeftSide : kRightSide, pick);
    EXPECT_EQ(expected.empty(), limit < 0);
    const std::string first = expected.empty() ? "" : expected[0].substr(f.dir.path().size() + 1);
    if (clash) test::WriteFile(moveTo.File(first), std::string("mine"));

    std::vector<std::string> args = {"--no-cache", "--move-to", moveTo.path(), "--max-difference", std::to_string(limit),
                                     "--side", side, f.dir.path()};
    if (dryRun) args.insert(args.begin(), "--dry-run");
    const Output r = Cli(args, f.cwd.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& line : Lines(r.out)) {
      printed.push_back(Split(line, '\t').at(1));
      std::string name = printed.back().substr(f.dir.path().size() + 1);
      if (clash && name == first) name.insert(name.rfind('.'), " (2)");
      EXPECT_EQ(line, dryRun ? "would move\t" + printed.back() : "moved\t" + printed.back() + "\t" + moveTo.File(name));
      EXPECT_EQ(access(moveTo.File(name).c_str(), F_OK) == 0, !dryRun) << line;
    }
    EXPECT_EQ(printed, expected);
    // Six images and the cache, less those moved; a name already taken keeps its file.
    EXPECT_EQ(test::FolderEntries(f.dir.path()).size(), 7 - (dryRun ? 0 : printed.size()));
    EXPECT_EQ(!first.empty() && test::ReadFile(moveTo.File(first)) == test::Bytes({'m', 'i', 'n', 'e'}), clash);
  }
  // A folder that refuses the moves: each failure is named, the exit code
  // says so, and every image stays.
  CliFolder f;
  TempDir locked;
  OpenToAll({&f.dir, &f.cwd});
  chmod(locked.path().c_str(), 0555);
  EXPECT_EQ(Cli({"--no-cache", "--move-to", locked.path(), "--max-difference", "0", f.dir.path()}, f.cwd.path(), true),
            (Output{3, "", "norvane-cli: cannot move " + f.dir.File("dup.jpg") + ": Permission denied\n"}));
  EXPECT_EQ(test::FolderEntries(f.dir.path()).size(), 7u);
}

TEST(CliTest, SignatureModePrintsEveryValueExactly) {
  CliFolder f;
  test::WriteFile(f.dir.File("notes.txt"), std::string("text"));
  const std::vector<std::string> files = {"dup.jpg", "u1.bmp", "gone.bmp", "notes.txt"};
  const Output r = Cli({"--signature", files[0], files[1], files[2], files[3]}, f.dir.path());
  EXPECT_EQ(r.exitCode, 1);  // two files do not load
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 0; i < 2; ++i) {
    DecodedImage image;
    FileRecord record;
    ASSERT_EQ(image.LoadImageFile(f.dir.File(files[i])), LoadResult::LoadOk);
    SignatureExtractor::Extract(record, image);
    std::string expected = files[i] + "\t0\t" + std::to_string(static_cast<int>(image.pixelKind)) + "\t" +
                           std::to_string(image.width) + "\t" + std::to_string(image.height) + "\t" + record.digest;
    const std::vector<std::string> fields = Split(lines[i], '\t');
    ASSERT_EQ(fields.size(), 6u + 96u);
    // Each value printed reads back as exactly the same double.
    const SignatureGrid grid = record.grid.unpacked();
    for (std::size_t k = 0; k < 96; ++k) {
      const SignatureCell& cell = grid[k / 6];
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
