// The difference measure and the pair-by-pair choice it defines, and what
// FindPartners shows.
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
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// A decoded record whose grid is all zero but for a luma mean of sqrt(d2)
// in cell 9, with a digest of its own.
FileRecord Rec(const std::string& name, double d2 = 0, std::int32_t width = 100,
               std::int32_t height = 100) {
  FileRecord r;
  r.name = name, r.width = width, r.height = height, r.digest = "digest-" + name;
  r.grid.Modify([&](SignatureGrid& grid) { grid[9].meanY = std::sqrt(d2); });
  return r;
}

TEST(DifferenceTest, BoundaryDifferencesAndTies) {
  // Record "a", then records that differ from it in cell 9 by `deltas`
  // (identical to "a" by digest where bit k of `identical` is set).
  struct Case {
    std::int32_t threshold;
    double weightV;
    std::vector<SignatureCell> deltas;
    std::int32_t partner, difference;
    int identical = 0;
  } const cases[] = {
      {100, 1.0, {{100, 0, 0, 0, 0, 0}}, 1, 101},          // D² == L is similar, A = T + 1
      {100, 1.0, {{100.000001, 0, 0, 0, 0, 0}}, -1, 0},    // just above L
      {-100, 1.0, {{100, 0, 0, 0, 0, 0}}, 1, 101},         // negative T acts like |T|
      {100, 0.25, {{0, 0, 0, 0, 0, 120}}, 1, 61},          // deviations weighted
      {50000, 1.0, {{49999, 0, 0, 0, 0, 0}}, 1, 50000},    // T x T beyond 32 bits
      {INT32_MIN, 1.0, {{2147483648.0, 0, 0, 0, 0, 0}}, 1, INT32_MAX},  // A held at the largest
      // A = 7.2 and 7.9 both store 7: the earlier stays; 6.99 stores 6 and
      // replaces it. An identical image displaces a similar partner, and the
      // first identical one is kept.
      {100, 1.0, {{6.2, 0, 0, 0, 0, 0}, {6.9, 0, 0, 0, 0, 0}}, 1, 7},
      {100, 1.0, {{6.2, 0, 0, 0, 0, 0}, {6.9, 0, 0, 0, 0, 0}, {5.99, 0, 0, 0, 0, 0}}, 3, 6},
      {100, 1.0, {{0.5, 0, 0, 0, 0, 0}, {}, {}, {}}, 2, 0, 0b0110},
  };
  for (const Case& c : cases) {
    FileList records = {Rec("a")};
    for (const SignatureCell& delta : c.deltas) {
      records.push_back(Rec(std::to_string(records.size())));
      records.back().grid.Modify([&](SignatureGrid& grid) { grid[9] = delta; });
      if (c.identical >> (records.size() - 2) & 1) records.back().digest = records[0].digest;
    }
    EXPECT_EQ(ChoosePartnersPairwise(records, {c.threshold, c.weightV, 1.0})[0],
              (PartnerChoice{c.partner, c.difference})) << c.threshold;
  }
  EXPECT_EQ(StoredDifference(kNan), INT32_MAX);  // only from negative weights
}

TEST(DifferenceTest, TermsInTheirOrderAndTheAspectIn64Bits) {
  // Adding 1e16 first loses the small terms; another order would keep them.
  FileRecord p = Rec("p", 1e16), q = Rec("q");
  p.grid.Modify([](SignatureGrid& grid) { grid[9].meanCb = grid[9].meanCr = grid[9].sdevY = 1; });
  EXPECT_EQ(SquaredDistance(p, q, {INT32_MAX, 1.5, 1.0}, 1e300), ((1e16 + 1.0) + 1.0) + 1.5);
  // 640 x 480 has a = 75, 480 x 640 a = 133; 1 x 30,000,000 a = 3e9: a
  // wrapped 32-bit value would bring it within the largest threshold.
  EXPECT_EQ(SquaredDistance(Rec("l", 0, 640, 480), Rec("p", 0, 480, 640), {100, 1.0, 0.5}, 1e300),
            58.0 * 0.5 * 58.0);
  EXPECT_EQ(ChoosePartnersPairwise({Rec("t", 0, 1, 30000000), Rec("s")}, {INT32_MAX, 1, 1})[0].partner, -1);
}

TEST(DifferenceTest, UndecodedRecordsAndNotANumberNeverPair) {
  // Equal digests would pair "zero" and "a", "last-zero" and "nan", if width
  // 0 were not checked on both sides; "b" has a NaN but pairs by digest.
  FileList records = {Rec("a"),    Rec("zero", 0, 0, 0), Rec("nan"), Rec("last-zero", 0, 0, 0),
                      Rec("b"),    Rec("c", 1e14)};
  records[1].digest = records[0].digest;
  records[3].digest = records[2].digest;
  records[2].grid.Modify([](SignatureGrid& grid) { grid[4].sdevY = kNan; });
  records[4].grid.Modify([](SignatureGrid& grid) { grid[0].meanY = kNan; });
  records[5].digest = records[4].digest;
  const std::vector<PartnerChoice> choices = ChoosePartnersPairwise(records, {1000000, 1, 1});
  for (std::size_t j = 0; j < 6; ++j) EXPECT_EQ(choices[j].partner, j == 4 ? 5 : -1) << j;
}

TEST(DifferenceTest, ColumnsFollowTheRecordNamedInColumnZeroAndProgressEveryTenth) {
  Settings settings;
  RecordingView view{settings};
  FileList records = {Rec("a"), Rec("b"), Rec("c", 9), Rec("d", 0, 0, 0)};
  records[1].digest = "x";  // a pairs with b (difference 1), b with c (4)
  // Rows in another order than the records, one naming no valid record.
  const char* positions[] = {"2", "0", "junk", "1", "3", "4"};
  for (int k = 0; k < 6; ++k) {
    view.table.InsertRow(k, positions[k]);
    for (int c = kColumnPartnerName; c <= kColumnPartner; ++c) view.table.SetText(k, c, "stale");
  }
  FindPartners(records, DifferenceParams{}, view);
  const char* expected[] = {"", "", "", "b", "1", "1", "", "", "", "c", "4", "2", "stale"};
  for (int k = 0; k < 13; ++k) EXPECT_EQ(view.table.GetText(k / 3, kColumnPartnerName + k % 3), expected[k]) << k;
  EXPECT_EQ(view.log.back(), "ListKeepSelectionVisible");

  RecordingView progress{settings};
  records.assign(25, Rec("r"));
  records[10].width = 0;  // skipped, progress included
  FindPartners(records, DifferenceParams{}, progress);
  EXPECT_EQ(progress.statusTexts, (std::vector<std::string>{"比較中\n\r1/25", "比較中\n\r21/25"}));
  EXPECT_EQ(progress.Calls("PumpMessages").size(), 2u);
}

}  // namespace
}  // namespace norvane
