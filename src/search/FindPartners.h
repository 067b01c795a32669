// The difference measure between two image signatures and the choice of every
// record's most similar later record.
#pragma once

#include <cstdint>
#include <vector>

#include "scan/FileRecord.h"
#include "search/SearchView.h"

namespace norvane {

struct Settings;

// The parameters of the measure, taken from the settings.
struct DifferenceParams {
  std::int32_t threshold = 100;  // T; only T x T is used, so its sign does not matter
  double weightV = 1.0;          // weight of the three deviation terms of every cell
  double weightA = 1.0;          // weight of the aspect term
};

DifferenceParams DifferenceParamsFrom(const Settings& settings);

// L = T x T, formed in 64 bits (a 32-bit product overflows beyond |T| = 46340)
// and used as a double.
double DifferenceLimit(std::int32_t threshold);

// height x 100 / width in 64 bits, truncated toward zero; width must be > 0.
std::int64_t AspectValue(const FileRecord& record);

// Squared distance D² of two records with width > 0, p the earlier one:
// the aspect term (a_p - a_q) x WA x (a_p - a_q), then per cell in order the
// six squared differences, the three deviation terms times WV, each added as
// soon as it is formed. Once D² exceeds `limit` after a cell the remaining
// cells are skipped (every term is non-negative, so the outcome is the same);
// the value returned is then only known to be above the limit.
double SquaredDistance(const FileRecord& p, const FileRecord& q, const DifferenceParams& params,
                       double limit);
// The same with the aspect values of p and q already formed.
double SquaredDistance(const FileRecord& p, const FileRecord& q, std::int64_t aspectP,
                       std::int64_t aspectQ, const DifferenceParams& params, double limit);
// The same on p's grid, unpacked, and q's as the record holds it.
double SquaredDistance(const SignatureGrid& p, const PackedGrid& q, std::int64_t aspectP,
                       std::int64_t aspectQ, const DifferenceParams& params, double limit);

// Similar when D² <= L; a D² that is not a number is never similar.
inline bool IsSimilar(double squaredDistance, double limit) { return squaredDistance <= limit; }

// The difference A = sqrt(D²) + 1 of a similar pair, unrounded.
double UnroundedDifference(double squaredDistance);

// A truncated toward zero for storing. A threshold near the 32-bit limits can
// give an A beyond the 32-bit range; it is held at the largest value, and so
// is an A that is not a number.
std::int32_t StoredDifference(double unrounded);

// The partner chosen for one record: -1 for none, else the position of the
// later record with the smallest stored difference, the earliest among equals.
struct PartnerChoice {
  std::int32_t partner = -1;
  std::int32_t difference = 0;
  friend bool operator==(const PartnerChoice&, const PartnerChoice&) = default;
};

// The choice for record j by visiting every later record in turn: digests
// compared first (equal texts give 0), then D². The plain definition the
// indexed search must reproduce exactly.
PartnerChoice ChoosePartnerPairwise(const FileList& records, const DifferenceParams& params, int j);
std::vector<PartnerChoice> ChoosePartnersPairwise(const FileList& records,
                                                  const DifferenceParams& params);

// The same choices through a PartnerIndex, the records split across
// `workers` threads (1 or less: the calling thread alone). With a view, the
// calling thread shows "比較中\n\r%d/%d" and pumps messages for every tenth
// decoded record in order as soon as the records up to it are done, and pumps
// at least every 50 ms while it waits; the view is touched from no other thread.
std::vector<PartnerChoice> ChoosePartners(const FileList& records, const DifferenceParams& params,
                                          int workers, SearchView* view);

// Gives every record its partner and difference (partner -1 when none), shows
// progress every tenth record ("比較中\n\r%d/%d") and pumps messages there,
// then writes columns 6 to 8 of every row of the view's list from the record
// position in its column 0 and keeps the selection visible. Records with
// width 0 take part in nothing. The choices are those of
// ChoosePartnersPairwise, found through a PartnerIndex on every hardware
// thread. Always returns 0.
int FindPartners(FileList& records, const DifferenceParams& params, SearchView& view);
int FindPartners(FileList& records, const Settings& settings, SearchView& view);

}  // namespace norvane
