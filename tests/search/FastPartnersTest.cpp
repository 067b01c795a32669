// The indexed, threaded partner search against the pair-by-pair definition:
// every record must get exactly the same partner and difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "base/CpuFeatures.h"
#include "search/FindPartners.h"
#include "search/PartnerIndex.h"
#include "search/PartnerKernel.h"

namespace norvane {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Records whose luma, Cb and Cr levels, top-to-bottom luma ramps and shapes
// spread widely enough for the index to use cells; `copies` percent are
// copies of one of the 40 records before (half of them in another shape),
// moved by `noise` per value, or by `shift` in every cell, `ramp` x (3, 1,
// -1, -3) per row of luma means and one random amount up to `jitter` in
// every luma mean. Whole-number values when `lattice`: exact ties and D² ==
// L. `broken` percent are undecoded, identical to another, infinite, not a
// number or beyond the byte codes.
struct Shape {
  int copies = 40, broken = 0;
  double noise = 2.0, ramp = 0, jitter = 0;
  bool lattice = true;
  SignatureCell shift{};
};

FileList MakeRecords(int n, std::uint64_t seed, const Shape& shape) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> percent(0, 99), small(0, 3), level(0, 240), chroma(-60, 60);
  std::normal_distribution<double> noise(0.0, shape.noise);
  std::uniform_real_distribution<double> jitter(-shape.jitter, shape.jitter);
  const auto value = [&](double x) { return shape.lattice ? x : x + noise(rng); };
  const int sizes[][2] = {{640, 480}, {480, 640}, {100, 100}, {101, 100}, {100, 110}};
  const double rows[] = {3, 1, -1, -3};
  const SignatureCell& s = shape.shift;
  const bool moved = s.meanY + s.meanCb + s.sdevY + shape.ramp + shape.jitter != 0;
  FileList records(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FileRecord& r = records[static_cast<std::size_t>(i)];
    r.digest = std::to_string(i);
    r.width = sizes[i % 5][0], r.height = sizes[i % 5][1];
    SignatureGrid grid;
    if (i > 0 && percent(rng) < shape.copies) {
      const FileRecord& source = records[static_cast<std::size_t>(i - 1 - percent(rng) % std::min(i, 40))];
      if (percent(rng) < 50) r.width = source.width, r.height = source.height;
      grid = source.grid.unpacked();
      const double amount = moved ? jitter(rng) : 0;
      for (std::size_t k = 0; k < kGridCells; ++k) {
        SignatureCell& c = grid[k];
        if (moved) {
          c.meanY += s.meanY + shape.ramp * rows[k / 4] + amount, c.meanCb += s.meanCb;
          c.meanCr += s.meanCr, c.sdevY += s.sdevY;
        } else {
          c.meanY += shape.lattice ? small(rng) / 3 : noise(rng);  // lattice: 1 in 4 cells + 1
          c.meanCb = value(c.meanCb), c.sdevCr = value(c.sdevCr);
        }
      }
    } else {
      const double y = level(rng), cb = chroma(rng), cr = chroma(rng), ramp = chroma(rng) / 3;
      for (std::size_t k = 0; k < kGridCells; ++k) {
        grid[k] = SignatureCell{value(y + ramp * rows[k / 4] + small(rng)), value(cb + small(rng)),
                                  value(cr - small(rng)), value(small(rng) * 5.0), value(small(rng)), 0};
      }
    }
    r.grid = grid;
    if (percent(rng) >= shape.broken) continue;
    SignatureCell& c = grid[static_cast<std::size_t>(percent(rng) % kGridCells)];
    const double odd[] = {kNan, -kInf, -300.5, 1e6, 255.999999, -1e-6};
    const int kind = percent(rng) % 4;
    if (kind == 0) r.width = 0;
    if (kind == 1) r.digest = records[static_cast<std::size_t>(i / 8)].digest;  // often 3 or more alike
    if (kind == 2) c.sdevY = odd[percent(rng) % 6];
    if (kind == 3) c.meanY = odd[percent(rng) % 6], c.meanCb = odd[percent(rng) % 6];
    r.grid = grid;
  }
  return records;
}

// Every record's choice, against the pair-by-pair one, both as records are
// chosen one by one (or by `workers` threads) and block by block, where
// neighbouring records share their scans; a run where nothing pairs would
// prove nothing.
void ExpectSameChoices(const FileList& records, const DifferenceParams& params, int workers = 1) {
  const std::vector<PartnerChoice> expected = ChoosePartnersPairwise(records, params);
  const std::vector<PartnerChoice> actual = ChoosePartners(records, params, workers, nullptr);
  std::vector<PartnerChoice> blockwise(records.size());
  const PartnerIndex index(records, params);
  for (int b = 0; b < index.blocks(); ++b) {
    const std::size_t start = static_cast<std::size_t>(b) * static_cast<std::size_t>(index.blockSize());
    index.ChooseBlock(b, std::span(blockwise).subspan(start, std::min(blockwise.size() - start,
                                                                      static_cast<std::size_t>(index.blockSize()))));
  }
  for (const auto& choices : {actual, blockwise}) {
    std::size_t j = 0;
    while (j < records.size() && choices[j] == expected[j]) ++j;
    EXPECT_EQ(j, records.size()) << "first record that differs, T " << params.threshold << " WV "
                                 << params.weightV << " WA " << params.weightA;
  }
  EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](auto c) { return c.partner >= 0; }));
}

TEST(FastPartnersTest, SameChoicesForThresholdsAndWeights) {
  // Weights below, at and above 1 switch the deviations in and out of the
  // codes and the aspect in and out of the cells; thresholds from 0 (only
  // equal signatures) to beyond any distance. Negative or non-finite
  // weights make terms of D² negative or NaN: the bounds cannot be trusted.
  Shape rough{40, 12, 2.0, 0, 0, false};
  const FileList records = MakeRecords(200, 1, rough);
  int split = 0, whole = 0, ball = 0;  // indexes that held their codes split, and whole; with the ball test
  for (std::int32_t t : {0, 12, 100, -100, 46341, INT32_MAX}) {
    for (double wa : {0.0, 0.001, 7.5, -0.5, kInf}) {
      for (double wv : {0.0, 0.999, 3.25, -1.0, kNan}) {
        ExpectSameChoices(records, {t, wv, wa});
        const PartnerIndex index(records, {t, wv, wa});
        if (index.indexed()) ++(index.split() ? split : whole);
        if (index.ball()) ++ball;
      }
    }
  }
  // Both forms of the codes were held against the pair-by-pair choice.
  EXPECT_GT(split, 0);
  EXPECT_GT(whole, 0);
  EXPECT_GT(ball, 0);
  // Huge finite means overflow the sums the index keeps.
  FileList huge = records;
  huge[100].grid.Modify([](SignatureGrid& grid) {
    for (SignatureCell& c : grid) c.meanY = 1e308;
  });
  (huge[101] = huge[100]).digest = "other";
  EXPECT_FALSE(PartnerIndex(huge, DifferenceParams{}).indexed());
  EXPECT_EQ(ChoosePartners(huge, DifferenceParams{}, 1, nullptr)[100], (PartnerChoice{101, 1}));
  // Deviations too large for the floats of the ball test, whose sums still fit.
  FileList large = records;
  for (int k : {50, 51}) {
    large[static_cast<std::size_t>(k)].grid.Modify([&](SignatureGrid& grid) {
      for (SignatureCell& c : grid) c.sdevY = 1e20 + k % 2 * 2e4;
    });
  }
  // At this threshold the fronts of these records do not pay.
  const DifferenceParams wide{300, 1.0, 1.0};
  const PartnerIndex largeIndex(large, wide);
  EXPECT_TRUE(largeIndex.indexed());
  EXPECT_FALSE(largeIndex.split());
  EXPECT_FALSE(largeIndex.ball());
  EXPECT_TRUE(PartnerIndex(records, wide).ball());
  ExpectSameChoices(large, wide);
  // Just enough records for the threaded path and three blocks, with codes
  // split and whole: records of one block that share their scans meet
  // later blocks with partners found, and reaches narrowed, or not.
  rough.broken = 3;
  const FileList many = MakeRecords(4100, 6, rough);
  ExpectSameChoices(many, DifferenceParams{}, 3);
  EXPECT_TRUE(PartnerIndex(many, wide).ball());
  ExpectSameChoices(many, wide, 3);
}

TEST(FastPartnersTest, SameChoicesWherePairsLieOnTheEdges) {
  // Whole cells moved by the same amounts put pairs exactly on the edges the
  // index must keep: luma means moved by T / 4 give D² = L with the keys T
  // apart, Cb means moved by T / 4 the same across cells, every mean and
  // luma deviation moved by T / 8 the largest code SAD a similar pair can
  // have, luma deviations moved by 32 a pair similar only while their weight
  // is small, a luma ramp of 12.5 D² = 112² - 44 all in one gradient. Luma
  // moved by random amounts gives equal stored differences in random order
  // of keys and positions. Whole-number means give ties; heavy aspect
  // weights make the aspect a cell axis.
  for (const auto& [shift, ramp, jitter] :
       {std::tuple{SignatureCell{25, 0, 0, 0, 0, 0}, 0.0, 0.0},
        {SignatureCell{0, 25, 0, 0, 0, 0}, 0.0, 0.0}, {SignatureCell{12.5, 12.5, 12.5, 12.5, 0, 0}, 0.0, 0.0},
        {SignatureCell{0, 0, 0, 32, 0, 0}, 0.0, 0.0}, {SignatureCell{}, 12.5, 0.0}, {SignatureCell{}, 0.0, 9.0}}) {
    const FileList records = MakeRecords(150, 8, {jitter > 0 ? 70 : 40, 0, 2.0, ramp, jitter, true, shift});
    for (std::int32_t t : {20, 37, 99, 100, 101, 111, 112}) {
      for (double wv : {0.6, 1.0, 2.0}) {
        for (double wa : {1.0, 100.0}) ExpectSameChoices(records, DifferenceParams{t, wv, wa});
      }
    }
  }
  const FileList lattice = MakeRecords(150, 2, Shape{});
  for (std::int32_t t : {1, 2, 3, 5, 100}) {
    for (double wa : {0.0, 30.0}) ExpectSameChoices(lattice, DifferenceParams{t, 1.0, wa});
  }
  // Two partners of record 0 with stored difference 5, all their luma means
  // moved alike so that the whole distance lies along the key: record 2
  // (D² = 24.01) has the lowest key and is met first, record 1 (D² just
  // below 25) the highest, and is the earlier one that wins the tie. Between
  // them 300 records whose deviations alone keep them apart fill more than
  // one batch of candidates, so a reach narrowed below 5² would lose record 1.
  FileList tie = MakeRecords(303, 3, Shape{0, 0, 0, 0, 0, true});
  for (FileRecord& r : tie) r.grid = tie[0].grid, r.width = r.height = 100;
  const auto moveAll = [](FileRecord& r, double SignatureCell::*value, double by) {
    r.grid.Modify([&](SignatureGrid& grid) {
      for (SignatureCell& c : grid) c.*value += by;
    });
  };
  moveAll(tie[1], &SignatureCell::meanY, 4.999 / 4);
  moveAll(tie[2], &SignatureCell::meanY, -4.9 / 4);
  for (std::size_t k = 3; k < tie.size(); ++k) moveAll(tie[k], &SignatureCell::sdevY, 100);
  EXPECT_EQ(ChoosePartners(tie, DifferenceParams{100, 0.5, 1.0}, 1, nullptr)[0], (PartnerChoice{1, 5}));
}

// Every vector filter passes exactly the codes, and squared bounds, of the
// plain one, and so does every filter of split codes less the codes beyond
// its front limit: counts around the groups of 4, 8, 16 and 64, limits at
// the values that occur.
TEST(FastPartnersTest, FilterVariantsAgree) {
  std::vector<partner::MeanCode> codes;
  for (const FileRecord& r : MakeRecords(300, 9, Shape{40, 40, 2.0, 0, 0, false})) {
    codes.push_back(partner::EncodeMeans(r.grid.unpacked(), true));
  }
  std::vector<decltype(&partner::FilterCodesPortable)> variants;
  if (CpuHasAvx2()) variants.push_back(partner::FilterCodesAvx2);
  if (CpuHasAvx512()) variants.push_back(partner::FilterCodesAvx512);
  std::vector<partner::PassedCode> plain(codes.size()), vector(codes.size());
  std::vector<decltype(&partner::FilterCodesPortable)> pickVariants{partner::FilterCodesPortable};
  pickVariants.insert(pickVariants.end(), variants.begin(), variants.end());
  // The same codes split into fronts and backs.
  constexpr std::size_t half = partner::kFrontBytes;
  std::vector<std::uint8_t> fronts((codes.size() + partner::kFrontSlack) * half), backs(codes.size() * half);
  for (std::size_t k = 0; k < codes.size(); ++k) {
    std::memcpy(&fronts[k * half], codes[k].bytes, half);
    std::memcpy(&backs[k * half], codes[k].bytes + half, half);
  }
  std::vector<decltype(&partner::FilterSplitCodesPortable)> splitVariants{partner::FilterSplitCodesPortable};
  if (CpuHasAvx2()) splitVariants.push_back(partner::FilterSplitCodesAvx2);
  if (CpuHasAvx512()) splitVariants.push_back(partner::FilterSplitCodesAvx512);
  for (std::size_t q = 0; q < 60; q += 7) {
    for (std::size_t count : {1, 4, 7, 8, 9, 15, 17, 63, 64, 71, 140}) {
      const std::int32_t grouped = partner::CodeGroupedBound(codes[q], codes[q + count / 2]);
      const std::int32_t squared = partner::CodeSquaredLowerBound(codes[q], codes[q + count / 2]);
      for (std::int32_t groupedLimit : {0, grouped - 1, grouped, INT32_MAX}) {
        for (std::int32_t squaredLimit : {0, squared - 1, squared, INT32_MAX}) {
          const std::size_t expected = partner::FilterCodesPortable(
              codes[q], &codes[q], count, nullptr, groupedLimit, squaredLimit, plain.data());
          for (const auto filter : variants) {
            ASSERT_EQ(filter(codes[q], &codes[q], count, nullptr, groupedLimit, squaredLimit, vector.data()),
                      expected) << q << " " << count << " " << groupedLimit;
            ASSERT_EQ(std::memcmp(vector.data(), plain.data(), expected * sizeof plain[0]), 0);
          }
          // Picked codes (every third of 3 x count, and slack) pass as the
          // same codes one after another do, with their own offsets.
          std::vector<std::uint32_t> picks(count + partner::kCodeSlack, 0);
          std::vector<partner::MeanCode> picked(count);
          for (std::size_t i = 0; i < count; ++i) {
            picks[i] = static_cast<std::uint32_t>(3 * i + 1);
            picked[i] = codes[q + picks[i]];
          }
          std::vector<partner::PassedCode> gathered(count);
          const std::size_t passes = partner::FilterCodesPortable(codes[q], picked.data(), count, nullptr,
                                                                  groupedLimit, squaredLimit, gathered.data());
          for (std::size_t i = 0; i < passes; ++i) gathered[i].offset = picks[gathered[i].offset];
          for (const auto filter : pickVariants) {
            ASSERT_EQ(filter(codes[q], &codes[q], count, picks.data(), groupedLimit, squaredLimit, vector.data()),
                      passes) << q << " " << count;
            ASSERT_EQ(std::memcmp(vector.data(), gathered.data(), passes * sizeof gathered[0]), 0);
          }
          // Split codes pass the same ones, less those whose fronts are
          // beyond the front limit.
          const int front = partner::FrontSad(codes[q], &fronts[(q + count / 2) * half]);
          for (int frontLimit : {0, front - 1, front, 32767}) {
            std::vector<partner::PassedCode> kept;
            for (std::size_t i = 0; i < expected; ++i) {
              if (partner::FrontSad(codes[q], &fronts[(q + plain[i].offset) * half]) <= frontLimit) kept.push_back(plain[i]);
            }
            for (const auto filter : splitVariants) {
              ASSERT_EQ(filter(codes[q], &fronts[q * half], &backs[q * half], count, frontLimit, groupedLimit,
                               squaredLimit, vector.data()),
                        kept.size()) << q << " " << count << " " << frontLimit;
              ASSERT_TRUE(kept.empty() || std::memcmp(vector.data(), kept.data(), kept.size() * sizeof kept[0]) == 0);
            }
          }
        }
      }
    }
  }
}

// Every vector ball test keeps exactly the entries the plain one keeps:
// counts around the steps of 8 and 16, radii at distances that occur.
TEST(FastPartnersTest, BallVariantsAgree) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> spread(-300.0f, 300.0f);
  constexpr std::size_t n = 300;
  std::vector<float> a(n + partner::kBallSlack), b(n + partner::kBallSlack), c(n + partner::kBallSlack);
  for (std::size_t k = 0; k < n; ++k) a[k] = spread(rng), b[k] = spread(rng) / 4, c[k] = spread(rng) / 16;
  std::vector<decltype(&partner::WithinBallPortable)> variants;
  if (CpuHasAvx2()) variants.push_back(partner::WithinBallAvx2);
  if (CpuHasAvx512()) variants.push_back(partner::WithinBallAvx512);
  std::vector<std::uint32_t> plain(n + partner::kBallSlack), vector(n + partner::kBallSlack);
  for (std::size_t first = 0; first < 40; first += 13) {
    for (std::size_t count : {1, 7, 8, 9, 15, 16, 17, 33, 256}) {
      partner::BallCenter center{a[first + count / 3], b[first + count / 3], c[first + count / 3], 0};
      const std::size_t edge = first + count - 1;
      const float da = a[edge] - center.a, db = b[edge] - center.b, dc = c[edge] - center.c;
      const float reach = da * da + db * db + dc * dc;
      for (float radius2 : {0.0f, std::nextafter(reach, 0.0f), reach, 2500.0f, 1e30f}) {
        center.radius2 = radius2;
        // Offsets counted from `first`, a place in a larger array.
        const std::uint32_t at = static_cast<std::uint32_t>(first);
        const std::size_t expected =
            partner::WithinBallPortable(&a[first], &b[first], &c[first], count, center, at, plain.data());
        // The plain test keeps the center itself, and the last entry exactly at its radius.
        EXPECT_EQ(std::count(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(expected), at + count / 3), 1);
        EXPECT_EQ(expected > 0 && plain[expected - 1] == at + count - 1, radius2 >= reach) << count << " " << radius2;
        for (const auto variant : variants) {
          ASSERT_EQ(variant(&a[first], &b[first], &c[first], count, center, at, vector.data()), expected) << count;
          ASSERT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(expected), vector.begin()));
        }
      }
    }
  }
}

// The fine bound lies between the code bound and the exact sum over the
// coded values (at 256 times their scale), values next to whole numbers and
// beyond the code range included, and every variant gives the plain one's.
TEST(FastPartnersTest, FineBoundLiesBetweenTheCodeBoundAndTheExactSum) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> whole(-3, 258), pick(0, 5);
  const double nudges[] = {0, 1e-9, 0.001, 0.5, 0.999, 0.99999999};
  const auto value = [&] { return whole(rng) + (pick(rng) % 2 == 0 ? 1 : -1) * nudges[pick(rng)]; };
  std::vector<decltype(&partner::FineSquaredBoundPortable)> variants;
  if (CpuHasAvx2()) variants.push_back(partner::FineSquaredBoundAvx2);
  if (CpuHasAvx512()) variants.push_back(partner::FineSquaredBoundAvx512);
  for (int round = 0; round < 2000; ++round) {
    SignatureGrid p, q;
    double exact = 0;
    for (int c = 0; c < kGridCells; ++c) {
      SignatureCell &a = p[static_cast<std::size_t>(c)], &b = q[static_cast<std::size_t>(c)];
      a = {value(), value() - 128, value() - 128, value(), 0, 0};
      // Half of the candidates lie so close to the record that the bound
      // must be 0, often across a whole number from it.
      const auto near = [&] { return nudges[pick(rng) % 3] * (pick(rng) % 2 == 0 ? 1 : -1); };
      b = round % 2 == 0 ? SignatureCell{value(), value() - 128, value() - 128, value(), 0, 0}
                         : SignatureCell{a.meanY + near(), a.meanCb + near(), a.meanCr + near(), a.sdevY + near(), 0, 0};
      for (const auto field : {&SignatureCell::meanY, &SignatureCell::meanCb, &SignatureCell::meanCr,
                               &SignatureCell::sdevY}) {
        exact += (a.*field - b.*field) * (a.*field - b.*field);
      }
    }
    const partner::MeanCode code = partner::EncodeMeans(q, true), query = partner::EncodeMeans(p, true);
    const partner::FineFractions fractions = partner::EncodeFractions(p, true);
    const std::int32_t fine = partner::FineSquaredBoundPortable(query, fractions, code);
    EXPECT_LE(fine, 256 * exact * (1 + 1e-12)) << round;
    if (round % 2 == 1) {
      EXPECT_EQ(fine, 0) << round;
    }
    EXPECT_GE(fine, 256 * partner::CodeSquaredLowerBound(query, code)) << round;
    for (const auto variant : variants) ASSERT_EQ(variant(query, fractions, code), fine) << round;
  }
}

}  // namespace
}  // namespace norvane
