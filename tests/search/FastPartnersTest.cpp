// The indexed, threaded partner search against the pair-by-pair definition:
// every record must get exactly the same partner and difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/CpuFeatures.h"
#include "search/FindPartners.h"
#include "search/PartnerIndex.h"
#include "search/PartnerKernel.h"

namespace norvane {
namespace {

// What the generated records look like.
struct Shape {
  int clusterPercent = 25;   // copies of an earlier record with small noise
  int identicalPercent = 3;  // copies with the same digest (and sometimes another shape)
  int undecodedPercent = 2;  // width 0
  int nanPercent = 1;        // a grid value that is not a number
  double noise = 2.0;        // spread of the near-duplicates
  bool lattice = false;      // small whole-number means: many exact ties and D² == L
  int shiftPercent = 0;      // copies with every cell moved by `shift`
  SignatureCell shift{};     // (only the means and the luma deviation)
  int wildPercent = 0;       // means far outside 0..255 / -128..127 (beyond the byte codes)
  int brokenDeviationPercent = 0;  // a deviation that is infinite or not a number
  double lumaJitter = 0;     // copies with every luma mean moved by one amount up to this
};

FileList MakeRecords(int n, std::uint64_t seed, const Shape& shape) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_real_distribution<double> level(16.0, 240.0);
  std::uniform_real_distribution<double> chroma(-40.0, 40.0);
  std::uniform_real_distribution<double> spread(2.0, 70.0);
  std::normal_distribution<double> noise(0.0, shape.noise);
  std::uniform_int_distribution<int> small(0, 3);
  const std::pair<int, int> sizes[] = {{640, 480}, {480, 640}, {1920, 1080}, {100, 100},
                                       {101, 100}, {3, 7},     {4000, 3000}};
  std::uniform_int_distribution<int> size(0, 6);

  FileList records(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FileRecord& r = records[static_cast<std::size_t>(i)];
    char digest[33];
    std::snprintf(digest, sizeof digest, "%032x", i);
    r.digest = digest;
    r.name = "r" + std::to_string(i);
    const auto [w, h] = sizes[size(rng)];
    r.width = w;
    r.height = h;
    const int kind = percent(rng);
    if (i > 0 && kind < shape.clusterPercent + shape.identicalPercent) {
      std::uniform_int_distribution<int> earlier(std::max(0, i - 300), i - 1);
      const FileRecord& source = records[static_cast<std::size_t>(earlier(rng))];
      r.grid = source.grid;
      if (kind < shape.identicalPercent) {
        r.digest = source.digest;  // identical pixels, shape kept only half the time
        if (percent(rng) < 50) {
          r.width = source.width;
          r.height = source.height;
        }
        continue;
      }
      r.width = source.width;
      r.height = source.height;
      if (shape.lumaJitter > 0) {
        // D is exactly the distance of the keys: the key window is tight.
        std::uniform_real_distribution<double> amount(-shape.lumaJitter, shape.lumaJitter);
        const double moved = amount(rng);
        for (SignatureCell& c : r.grid) c.meanY += moved;
        continue;
      }
      if (percent(rng) < shape.shiftPercent) {
        for (SignatureCell& c : r.grid) {
          c.meanY += shape.shift.meanY;
          c.meanCb += shape.shift.meanCb;
          c.meanCr += shape.shift.meanCr;
          c.sdevY += shape.shift.sdevY;
        }
        continue;
      }
      for (SignatureCell& c : r.grid) {
        if (shape.lattice) {
          c.meanY += small(rng) == 0 ? 1 : 0;
          c.sdevCb += small(rng) == 0 ? 1 : 0;
        } else {
          c.meanY += noise(rng);
          c.meanCb += noise(rng);
          c.meanCr += noise(rng);
          c.sdevY += noise(rng);
          c.sdevCr += noise(rng);
        }
      }
    } else if (shape.lattice) {
      for (SignatureCell& c : r.grid) {
        c = SignatureCell{static_cast<double>(small(rng)), static_cast<double>(small(rng)), 0,
                          static_cast<double>(small(rng)), 0, 0};
      }
    } else {
      const double base = level(rng);
      for (SignatureCell& c : r.grid) {
        c = SignatureCell{base + noise(rng) * 10, chroma(rng), chroma(rng),
                          spread(rng),        spread(rng) / 4, spread(rng) / 4};
      }
    }
    if (percent(rng) < shape.wildPercent) {
      // Far outside the byte range, or just across a whole number.
      const double wild[] = {-300.5, 700.25, -129.0, 128.0, 255.999999, 256.0, -0.000001, 1e6};
      SignatureCell& c = r.grid[static_cast<std::size_t>(percent(rng) % kGridCells)];
      c.meanY = wild[percent(rng) % 8];
      c.meanCb = wild[percent(rng) % 8];
      c.sdevY = wild[percent(rng) % 8];
    }
    if (percent(rng) < shape.brokenDeviationPercent) {
      const double broken[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity()};
      SignatureCell& c = r.grid[static_cast<std::size_t>(percent(rng) % kGridCells)];
      (percent(rng) < 50 ? c.sdevY : c.sdevCr) = broken[percent(rng) % 3];
    }
    if (percent(rng) < shape.undecodedPercent) r.width = 0;
    if (percent(rng) < shape.nanPercent) {
      r.grid[static_cast<std::size_t>(percent(rng) % kGridCells)].meanCr =
          std::numeric_limits<double>::quiet_NaN();
    }
    if (percent(rng) < 2) r.digest.clear();  // no digest: all empty digests are equal
  }
  return records;
}

// Compares every record's choice and names the first few that differ.
void ExpectSameChoices(const FileList& records, const DifferenceParams& params, int workers,
                       const std::string& what) {
  const std::vector<PartnerChoice> expected = ChoosePartnersPairwise(records, params);
  const std::vector<PartnerChoice> actual = ChoosePartners(records, params, workers, nullptr);
  ASSERT_EQ(actual.size(), expected.size());
  int mismatches = 0;
  int paired = 0;
  for (std::size_t j = 0; j < records.size(); ++j) {
    paired += expected[j].partner >= 0 ? 1 : 0;
    if (actual[j] == expected[j]) continue;
    if (++mismatches <= 5) {
      ADD_FAILURE() << what << ": record " << j << " got " << actual[j].partner << "/"
                    << actual[j].difference << ", expected " << expected[j].partner << "/"
                    << expected[j].difference;
    }
  }
  EXPECT_EQ(mismatches, 0) << what;
  // A run where nothing pairs would prove nothing about the index.
  if (params.threshold != 0) {
    EXPECT_GT(paired, 0) << what;
  }
}

TEST(FastPartnersTest, SameChoicesForThresholdsAndWeights) {
  // Weights below, at and above 1 switch the deviations in and out of the
  // codes; thresholds from 0 (only equal signatures) to beyond any distance.
  Shape wild;
  wild.wildPercent = 5;
  wild.brokenDeviationPercent = 3;
  const FileList records = MakeRecords(250, 1, wild);
  for (std::int32_t t : {0, 1, 12, 100, -100, 250, 46341, INT32_MAX}) {
    for (double wa : {0.0, 0.001, 7.5}) {
      for (double wv : {0.0, 0.999, 1.0, 3.25}) {
        ExpectSameChoices(records, DifferenceParams{t, wv, wa},
                          1, "T " + std::to_string(t) + " WA " + std::to_string(wa) + " WV " +
                                 std::to_string(wv));
      }
    }
  }
}

TEST(FastPartnersTest, SameChoicesWhereDifferencesTieAndHitTheLimitExactly) {
  // Whole-number means of 0 to 3: many candidates share a stored difference
  // and many D² equal L, so the tie rules and the boundary decide.
  Shape lattice;
  lattice.lattice = true;
  lattice.clusterPercent = 40;
  for (std::uint64_t seed : {2u}) {
    const FileList records = MakeRecords(300, seed, lattice);
    for (std::int32_t t : {0, 1, 2, 3, 5, -4}) {
      for (double wa : {0.0, 1.0}) {
        ExpectSameChoices(records, DifferenceParams{t, 1.0, wa}, 1,
                          "lattice seed " + std::to_string(seed) + " T " + std::to_string(t));
      }
    }
  }
  // Whole cells moved by the same amounts put pairs exactly on the edges the
  // index must keep: luma means moved by T / 4 give D² = L with the luma sums
  // exactly T apart (the edge of the candidate window); every mean and luma
  // deviation moved by T / 8 give D² = L where the sum of absolute
  // differences is the largest a similar pair can have; luma deviations
  // moved by 32 are similar only while their weight is small. One unit of
  // threshold more or less takes them in or leaves them out.
  struct Case {
    SignatureCell shift;
    double weightV;
    bool similar;  // the moved copies are similar at T = 100
  };
  for (const Case& c :
       {Case{{25, 0, 0, 0, 0, 0}, 1.0, true}, Case{{25, 0, 0, 0, 0, 0}, 0.0, true},
        Case{{12.5, 12.5, 12.5, 12.5, 0, 0}, 1.0, true},
        Case{{12.5, 12.5, 12.5, 12.5, 0, 0}, 2.0, false}, Case{{0, 0, 0, 32, 0, 0}, 0.6, true},
        Case{{0, 0, 0, 32, 0, 0}, 0.999, false}}) {
    Shape shifted = lattice;
    shifted.shiftPercent = 60;
    shifted.shift = c.shift;
    const FileList records = MakeRecords(400, 8, shifted);
    const std::string what = "shift " + std::to_string(c.shift.meanY) + "/" +
                             std::to_string(c.shift.sdevY) + " WV " + std::to_string(c.weightV);
    for (std::int32_t t : {99, 100, 101, -100}) {
      ExpectSameChoices(records, DifferenceParams{t, c.weightV, 1.0}, 1,
                        what + " T " + std::to_string(t));
    }
    const std::vector<PartnerChoice> choices =
        ChoosePartners(records, DifferenceParams{100, c.weightV, 1.0}, 1, nullptr);
    EXPECT_EQ(std::count_if(choices.begin(), choices.end(),
                            [](const PartnerChoice& p) { return p.difference > 90; }) > 0,
              c.similar)
        << what;
  }
}

TEST(FastPartnersTest, SameChoicesWhenThePartnerFoundFirstIsNotTheLast) {
  // Copies whose luma means all moved by one amount lie exactly as far apart
  // as their keys, in random order of position and key: the partner found
  // so far narrows the window, and a later candidate of equal stored
  // difference at an earlier position must still be found.
  Shape spokes;
  spokes.clusterPercent = 70;
  spokes.identicalPercent = 0;
  spokes.lumaJitter = 9.0;
  for (std::uint64_t seed : {10u}) {
    const FileList records = MakeRecords(500, seed, spokes);
    for (std::int32_t t : {20, 37, 100}) {
      ExpectSameChoices(records, DifferenceParams{t, 1.0, 0.0}, 1,
                        "spokes seed " + std::to_string(seed) + " T " + std::to_string(t));
    }
  }
}

TEST(FastPartnersTest, SameChoicesWithManyIdenticalUndecodedAndBrokenRecords) {
  Shape rough;
  rough.identicalPercent = 20;
  rough.undecodedPercent = 15;
  rough.nanPercent = 10;
  FileList records = MakeRecords(400, 4, rough);
  // Infinite means never pair by D², only by digest.
  records[7].grid[2].meanY = std::numeric_limits<double>::infinity();
  records[8].grid[2].meanY = -std::numeric_limits<double>::infinity();
  records[9].grid = records[7].grid;
  records[9].digest = records[7].digest;
  for (std::int32_t t : {0, 100, 400}) {
    ExpectSameChoices(records, DifferenceParams{t, 1.0, 1.0}, 1, "T " + std::to_string(t));
  }
  const std::vector<PartnerChoice> choices =
      ChoosePartners(records, DifferenceParams{}, 1, nullptr);
  EXPECT_EQ(choices[7], (PartnerChoice{9, 0}));
}

TEST(FastPartnersTest, SameChoicesWhereTheBoundsCannotBeTrusted) {
  const FileList records = MakeRecords(300, 5, Shape{});
  // Negative or non-finite weights make terms of D² negative or NaN; huge
  // finite means overflow the sums the index keeps. Both must still agree.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const DifferenceParams& params :
       {DifferenceParams{100, -1.0, 1.0}, DifferenceParams{100, 1.0, -0.5},
        DifferenceParams{100, nan, 1.0}, DifferenceParams{100, 1.0,
                                                          std::numeric_limits<double>::infinity()}}) {
    ExpectSameChoices(records, params, 1, "weights " + std::to_string(params.weightV) + " " +
                                              std::to_string(params.weightA));
  }
  // Two records with equal grids of huge means and their own digests: the sums
  // overflow, yet D² is 0 and they pair with difference 1.
  FileList huge = records;
  for (SignatureCell& c : huge[100].grid) c.meanY = 1e308;
  huge[101].grid = huge[100].grid;
  huge[101].width = huge[100].width;
  huge[101].height = huge[100].height;
  huge[100].digest = "huge-a";
  huge[101].digest = "huge-b";
  EXPECT_FALSE(PartnerIndex(huge, DifferenceParams{}).indexed());
  ExpectSameChoices(huge, DifferenceParams{}, 1, "overflowing sums");
  EXPECT_EQ(ChoosePartners(huge, DifferenceParams{}, 1, nullptr)[100], (PartnerChoice{101, 1}));
  EXPECT_TRUE(PartnerIndex(records, DifferenceParams{}).indexed());
}

TEST(FastPartnersTest, SameChoicesOnSeveralThreads) {
  // Just enough records for the threaded path.
  Shape shape;
  shape.noise = 4.0;
  const FileList records = MakeRecords(4100, 6, shape);
  for (int workers : {3}) {
    for (std::int32_t t : {100}) {
      ExpectSameChoices(records, DifferenceParams{t, 1.0, 1.0}, workers,
                        std::to_string(workers) + " workers T " + std::to_string(t));
    }
  }
}

// The byte codes of the means: every code distance bounds the true one from
// below, and the vector filter passes exactly the codes the plain one does.
TEST(FastPartnersTest, CodeBoundsHoldAndFilterVariantsAgree) {
  std::mt19937_64 rng(9);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_real_distribution<double> anywhere(-400.0, 700.0);
  std::uniform_real_distribution<double> usual(0.0, 255.0);
  std::uniform_int_distribution<int> whole(-3, 3);
  // Values well inside the ranges, far outside them, and whole numbers with
  // their neighbours just below (where floor changes).
  const auto value = [&](double base) {
    const int kind = percent(rng);
    if (kind < 20) return anywhere(rng);
    if (kind < 40) return std::floor(base) + whole(rng) - (percent(rng) < 50 ? 1e-9 : 0.0);
    return base + usual(rng) / 16;
  };
  std::vector<SignatureGrid> grids(300);
  for (SignatureGrid& grid : grids) {
    const double level = usual(rng);
    for (SignatureCell& c : grid) {
      c = SignatureCell{value(level), value(level - 128), value(-level / 2),
                        value(level / 4), 0, 0};
    }
  }
  for (int k = 1; k < 100; k += 3) grids[static_cast<std::size_t>(k)] = grids[k - 1];  // equal
  for (bool deviations : {false, true}) {
    std::vector<partner::MeanCode> codes;
    for (const SignatureGrid& grid : grids) codes.push_back(partner::EncodeMeans(grid, deviations));
    for (std::size_t a = 0; a < grids.size(); a += 7) {
      for (std::size_t b = 0; b < grids.size(); ++b) {
        double squares = 0, absolute = 0;
        for (int c = 0; c < kGridCells; ++c) {
          const SignatureCell& x = grids[a][static_cast<std::size_t>(c)];
          const SignatureCell& y = grids[b][static_cast<std::size_t>(c)];
          for (double d : {x.meanY - y.meanY, x.meanCb - y.meanCb, x.meanCr - y.meanCr,
                           deviations ? x.sdevY - y.sdevY : 0.0}) {
            squares += d * d;
            absolute += std::fabs(d);
          }
        }
        const int n = deviations ? partner::kCodeBytes : partner::kCodedMeans;
        ASSERT_LE(partner::CodeSquaredLowerBound(codes[a], codes[b]), squares) << a << " " << b;
        ASSERT_LT(partner::CodeSad(codes[a], codes[b]) - n, absolute + 1e-6) << a << " " << b;
      }
    }
    // Every count around the groups of four, limits at and around the
    // values that occur, and limits that pass everything.
    std::vector<partner::PassedCode> portable(codes.size()), vector(codes.size());
    for (std::size_t q = 0; q < 40; q += 3) {
      const int sad = partner::CodeSad(codes[q], codes[q + 5]);
      const std::int32_t squared = partner::CodeSquaredLowerBound(codes[q], codes[q + 5]);
      for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4},
                                std::size_t{7}, std::size_t{9}, codes.size() - q}) {
        for (int sadLimit : {0, sad - 1, sad, 32767}) {
          for (std::int32_t squaredLimit : {0, squared, squared + 1, INT32_MAX}) {
            const std::size_t expected = partner::FilterCodesPortable(
                codes[q], &codes[q], count, sadLimit, squaredLimit, portable.data());
            std::size_t plain = 0;
            for (std::size_t k = 0; k < count; ++k) {
              if (partner::CodeSad(codes[q], codes[q + k]) <= sadLimit &&
                  partner::CodeSquaredLowerBound(codes[q], codes[q + k]) <= squaredLimit) {
                ASSERT_LT(plain, expected);
                EXPECT_EQ(portable[plain].offset, k);
                ++plain;
              }
            }
            ASSERT_EQ(plain, expected);
            if (!CpuHasAvx2()) continue;
            const std::size_t found = partner::FilterCodesAvx2(codes[q], &codes[q], count,
                                                               sadLimit, squaredLimit,
                                                               vector.data());
            ASSERT_EQ(found, expected) << q << " " << count << " " << sadLimit;
            for (std::size_t k = 0; k < found; ++k) {
              EXPECT_EQ(vector[k].offset, portable[k].offset);
              EXPECT_EQ(vector[k].squared, portable[k].squared);
            }
          }
        }
      }
    }
  }
}

// Every vector filter this processor runs passes exactly the codes, and the
// squared bounds, of the plain one: random codes with near and equal copies,
// counts around the groups of four and eight, limits at the values that occur.
TEST(FastPartnersTest, VectorFiltersMatchThePlainOne) {
  std::mt19937_64 rng(17);
  std::uniform_int_distribution<int> byte(0, 255), step(-3, 3), percent(0, 99);
  std::vector<partner::MeanCode> codes(200);
  for (std::size_t k = 0; k < codes.size(); ++k) {
    for (std::uint8_t& b : codes[k].bytes) {
      const int near = k > 0 ? codes[k - 1].bytes[&b - codes[k].bytes] + step(rng) : 0;
      b = static_cast<std::uint8_t>(percent(rng) < 70 ? std::clamp(near, 0, 255) : byte(rng));
    }
    if (percent(rng) < 10 && k > 0) codes[k] = codes[k - 1];
  }
  using Filter = std::size_t (*)(const partner::MeanCode&, const partner::MeanCode*, std::size_t,
                                 int, std::int32_t, partner::PassedCode*);
  std::vector<std::pair<const char*, Filter>> variants;
  if (CpuHasAvx2()) variants.emplace_back("AVX2", partner::FilterCodesAvx2);
  if (CpuHasAvx512()) variants.emplace_back("AVX-512", partner::FilterCodesAvx512);
  std::vector<partner::PassedCode> plain(codes.size()), vector(codes.size());
  for (std::size_t q = 0; q < 60; q += 7) {
    for (std::size_t count : {1, 7, 8, 9, 15, 16, 17, 33, 140}) {
      const std::size_t middle = q + count / 2;
      const int sad = partner::CodeSad(codes[q], codes[middle]);
      const std::int32_t squared = partner::CodeSquaredLowerBound(codes[q], codes[middle]);
      for (int sadLimit : {0, sad - 1, sad, sad + 40, 32767}) {
        for (std::int32_t squaredLimit : {0, squared - 1, squared, INT32_MAX}) {
          const std::size_t expected = partner::FilterCodesPortable(
              codes[q], &codes[q], count, sadLimit, squaredLimit, plain.data());
          for (const auto& [name, filter] : variants) {
            const std::size_t found =
                filter(codes[q], &codes[q], count, sadLimit, squaredLimit, vector.data());
            ASSERT_EQ(found, expected) << name << " " << q << " " << count << " " << sadLimit;
            for (std::size_t k = 0; k < found; ++k) {
              ASSERT_EQ(vector[k].offset, plain[k].offset) << name;
              ASSERT_EQ(vector[k].squared, plain[k].squared) << name;
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace norvane
