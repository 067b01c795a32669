#include "search/FindPartners.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "search/RecordingView.h"

namespace norvane {
namespace {

using test::RecordingView;

// A decoded 100 x 100 record whose grid is all zero and whose digest is its
// own, so only what a test changes makes it similar to another.
FileRecord Rec(const std::string& name, std::int32_t width = 100, std::int32_t height = 100) {
  FileRecord r;
  r.name = name;
  r.width = width;
  r.height = height;
  r.digest = "digest-" + name;
  return r;
}

struct Fixture {
  Settings settings;
  RecordingView view{settings};
  FileList records;

  // Lists the records in their order, row k holding position k, as the
  // search does before the comparison.
  void FillList() {
    for (std::size_t k = 0; k < records.size(); ++k) {
      view.table.InsertRow(static_cast<int>(k), std::to_string(k));
    }
  }
  void Run(std::int32_t threshold = 100, double weightV = 1.0, double weightA = 1.0) {
    FillList();
    FindPartners(records, DifferenceParams{threshold, weightV, weightA}, view);
  }
  std::int32_t Partner(std::size_t j) const { return records[j].partner; }
  std::int32_t Difference(std::size_t j) const { return records[j].difference; }
};

TEST(DifferenceTest, SimilarityBoundaryAndDifferenceValues) {
  struct Case {
    const char* what;
    std::int32_t threshold;
    double weightV;
    SignatureCell delta;  // added to cell 9 of the later record
    std::int32_t partner;
    std::int32_t difference;
  };
  const Case cases[] = {
      {"D2 == L is similar with T + 1", 100, 1.0, {100, 0, 0, 0, 0, 0}, 1, 101},
      {"just above L is not similar", 100, 1.0, {100.000001, 0, 0, 0, 0, 0}, -1, 0},
      {"negative T acts like |T|", -100, 1.0, {100, 0, 0, 0, 0, 0}, 1, 101},
      {"deviations are weighted", 100, 0.25, {0, 0, 0, 0, 0, 120}, 1, 61},
      {"T x T beyond 32 bits", 50000, 1.0, {49999, 0, 0, 0, 0, 0}, 1, 50000},
      {"largest threshold holds the difference", INT32_MIN, 1.0, {2147483648.0, 0, 0, 0, 0, 0},
       1, INT32_MAX},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.records = {Rec("a"), Rec("b")};
    f.records[1].grid[9] = c.delta;
    f.Run(c.threshold, c.weightV);
    EXPECT_EQ(f.Partner(0), c.partner) << c.what;
    if (c.partner >= 0) {
      EXPECT_EQ(f.Difference(0), c.difference) << c.what;
    }
  }
}

TEST(DifferenceTest, TermsAreSummedInTheirOrderWithoutReassociation) {
  // Adding 1e16 first and the small terms afterwards loses them; a sum in
  // another order would keep them. The expected value is formed term by term.
  FileRecord p = Rec("p");
  FileRecord q = Rec("q");
  p.grid[0].meanY = 1e8;
  p.grid[0].meanCb = 1;
  p.grid[0].meanCr = 1;
  p.grid[0].sdevY = 1;
  const DifferenceParams params{INT32_MAX, 1.5, 1.0};
  const double limit = DifferenceLimit(params.threshold);
  double expected = 0;
  expected += 1e8 * 1e8;
  expected += 1.0;
  expected += 1.0;
  expected += 1.0 * 1.0 * 1.5;
  EXPECT_EQ(SquaredDistance(p, q, params, limit), expected);
  EXPECT_EQ(SquaredDistance(q, p, params, limit), expected);
}

TEST(DifferenceTest, AspectTermUsesTruncatedPercentagesIn64Bits) {
  // 640 x 480 has a = 75, 480 x 640 has a = 133: 58 x 58 before any cell.
  const FileRecord landscape = Rec("l", 640, 480);
  const FileRecord portrait = Rec("p", 480, 640);
  EXPECT_EQ(AspectValue(landscape), 75);
  EXPECT_EQ(AspectValue(portrait), 133);
  const double bigLimit = DifferenceLimit(1000);
  EXPECT_EQ(SquaredDistance(landscape, portrait, DifferenceParams{}, bigLimit), 58.0 * 58.0);
  EXPECT_EQ(SquaredDistance(landscape, portrait, DifferenceParams{100, 1.0, 0.5}, bigLimit),
            58.0 * 0.5 * 58.0);

  // height x 100 beyond 32 bits: 30,000,000 x 100 = 3e9.
  const FileRecord tall = Rec("t", 1, 30000000);
  EXPECT_EQ(AspectValue(tall), 3000000000LL);
  const FileRecord square = Rec("s");
  EXPECT_EQ(SquaredDistance(tall, square, DifferenceParams{}, std::numeric_limits<double>::infinity()),
            2999999900.0 * 2999999900.0);

  // A wrapped 32-bit aspect value would bring the tall image within the
  // largest threshold; the true distance (9e18) is beyond it (4.6e18).
  Fixture f;
  f.records = {tall, square};
  f.Run(INT32_MAX);
  EXPECT_EQ(f.Partner(0), -1);
}

// A later record whose only distance to "a" is sqrt(d2) in one mean.
FileRecord AtDistance(const std::string& name, double d2) {
  FileRecord r = Rec(name);
  r.grid[0].meanY = std::sqrt(d2);
  return r;
}

TEST(DifferenceTest, TiesKeepTheEarliestAndOnlyAStrictlySmallerDifferenceReplaces) {
  // A = 7.2 and 7.9 both store 7: the earlier stays; 6.99 stores 6 and replaces it.
  {
    Fixture f;
    f.records = {Rec("a"), AtDistance("b", 6.2 * 6.2), AtDistance("c", 6.9 * 6.9)};
    f.Run();
    EXPECT_EQ(f.Partner(0), 1);
    EXPECT_EQ(f.Difference(0), 7);
  }
  {
    Fixture f;
    f.records = {Rec("a"), AtDistance("b", 6.2 * 6.2), AtDistance("c", 6.9 * 6.9),
                 AtDistance("d", 5.99 * 5.99)};
    f.Run();
    EXPECT_EQ(f.Partner(0), 3);
    EXPECT_EQ(f.Difference(0), 6);
  }
  // An identical image displaces a similar partner found before it; the first
  // identical one is kept against later identical ones.
  {
    Fixture f;
    f.records = {Rec("a"), AtDistance("b", 0.25), Rec("c"), Rec("d"), AtDistance("e", 0)};
    f.records[2].digest = f.records[0].digest;
    f.records[3].digest = f.records[0].digest;
    f.Run();
    EXPECT_EQ(f.Partner(0), 2);
    EXPECT_EQ(f.Difference(0), 0);
    // Only the earlier record of a pair is updated; c pairs forward with d.
    EXPECT_EQ(f.Partner(2), 3);
    EXPECT_EQ(f.Difference(2), 0);
    EXPECT_EQ(f.Partner(4), -1);
  }
}

TEST(DifferenceTest, UndecodedRecordsAndNotANumberNeverPair) {
  Fixture f;
  f.records = {Rec("a"), Rec("zero", 0, 0), Rec("nan"), Rec("last-zero", 0, 0)};
  // Equal digests would pair them if width 0 were not checked on both sides.
  f.records[1].digest = f.records[0].digest;
  f.records[3].digest = f.records[2].digest;
  f.records[2].grid[4].sdevY = std::numeric_limits<double>::quiet_NaN();
  f.Run(1000000);
  EXPECT_EQ(f.Partner(0), -1);  // "nan" is never similar, "zero" is undecoded
  EXPECT_EQ(f.Partner(1), -1);
  EXPECT_EQ(f.Partner(2), -1);  // followed only by an undecoded record
  EXPECT_EQ(f.Partner(3), -1);

  // A NaN grid still counts as identical through its digest.
  Fixture g;
  g.records = {Rec("a"), Rec("b")};
  g.records[0].grid[0].meanY = std::numeric_limits<double>::quiet_NaN();
  g.records[1].digest = g.records[0].digest;
  g.Run();
  EXPECT_EQ(g.Partner(0), 1);
  EXPECT_EQ(g.Difference(0), 0);
}

TEST(DifferenceTest, ColumnsFollowTheRecordNamedInColumnZero) {
  Fixture f;
  f.records = {Rec("a"), Rec("b"), AtDistance("c", 9), Rec("d", 0, 0)};
  f.records[1].digest = "x";  // a pairs with b (difference 1), b with c (4)
  // Rows in another order than the records, one row naming no valid record.
  const char* positions[] = {"2", "0", "junk", "1", "3", "4"};
  for (int k = 0; k < 6; ++k) {
    f.view.table.InsertRow(k, positions[k]);
    for (int c = kColumnPartnerName; c <= kColumnPartner; ++c) f.view.table.SetText(k, c, "stale");
  }
  FindPartners(f.records, DifferenceParams{}, f.view);

  const std::vector<std::vector<std::string>> expected = {
      {"", "", ""}, {"b", "1", "1"}, {"", "", ""}, {"c", "4", "2"}};
  for (int k = 0; k < 4; ++k) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(f.view.table.GetText(k, kColumnPartnerName + c), expected[k][c]) << k << "," << c;
    }
  }
  // Only n = 4 rows are written: the rows past the records keep their texts.
  EXPECT_EQ(f.view.table.GetText(4, kColumnPartnerName), "stale");
  EXPECT_EQ(f.view.log.back(), "ListKeepSelectionVisible");
}

TEST(DifferenceTest, ProgressEveryTenthDecodedRecordWithLfCr) {
  Fixture f;
  for (int i = 0; i < 25; ++i) f.records.push_back(Rec("r" + std::to_string(i)));
  f.records[10].width = 0;  // skipped, progress included
  f.Run();
  const std::vector<std::string> expected = {"比較中\n\r1/25", "比較中\n\r21/25"};
  EXPECT_EQ(f.view.statusTexts, expected);
  EXPECT_EQ(f.view.Calls("PumpMessages").size(), 2u);
}

TEST(DifferenceTest, StoredDifferenceTruncatesAndSaturates) {
  EXPECT_EQ(StoredDifference(7.999), 7);
  EXPECT_EQ(StoredDifference(2147483648.0), INT32_MAX);
  // Only a negative weight gives D² below 0 and so an A that is not a number.
  EXPECT_EQ(StoredDifference(std::numeric_limits<double>::quiet_NaN()), INT32_MAX);
  EXPECT_EQ(DifferenceLimit(46341), 46341.0 * 46341.0);
  EXPECT_EQ(DifferenceLimit(INT32_MIN), 4611686018427387904.0);
}

}  // namespace
}  // namespace norvane
