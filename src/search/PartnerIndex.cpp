#include "search/PartnerIndex.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <unordered_map>

namespace norvane {

namespace {

// Margins that widen every bound past what rounding can take away. A sum of
// at most 16 doubles is within 16 x 2^-53 of its terms' magnitude, far inside
// kScaleMargin; D² itself is at most about 100 roundings away from the exact
// sum of its terms, far inside kRelativeMargin and kBoundMargin.
constexpr double kRelativeMargin = 1e-9;
constexpr double kScaleMargin = 1e-12;
constexpr double kTiny = 1e-300;  // covers rounding among subnormal numbers
constexpr double kBoundMargin = 1e-6;

// Positions per block. A record looks only at later blocks and at the later
// part of its own, so about half the candidates of the key window are skipped
// without looking at their positions.
constexpr int kMinBlockSize = 2048;
constexpr int kMaxBlocks = 128;

// Candidates handed to the code filter at a time.
constexpr std::size_t kFilterChunk = 256;

bool GridFinite(const SignatureGrid& grid) {
  for (const SignatureCell& c : grid) {
    if (!std::isfinite(c.meanY) || !std::isfinite(c.meanCb) || !std::isfinite(c.meanCr) ||
        !std::isfinite(c.sdevY) || !std::isfinite(c.sdevCb) || !std::isfinite(c.sdevCr)) {
      return false;
    }
  }
  return true;
}

}  // namespace

PartnerIndex::PartnerIndex(const FileList& records, const DifferenceParams& params)
    : records_(records), params_(params), limit_(DifferenceLimit(params.threshold)) {
  Build();
}

void PartnerIndex::Build() {
  const int n = static_cast<int>(records_.size());

  // Equal digests: the first later record with the same text, whatever the
  // shapes and grids. Walking backwards, the map holds the nearest later one.
  blockSize_ = std::max(kMinBlockSize, (n + kMaxBlocks - 1) / kMaxBlocks);
  blocks_ = n == 0 ? 0 : (n + blockSize_ - 1) / blockSize_;
  const int blocks = blocks_;
  nextIdentical_.assign(static_cast<std::size_t>(n), -1);
  {
    std::unordered_map<std::string_view, std::int32_t> later;
    later.reserve(static_cast<std::size_t>(n));
    for (int j = n - 1; j >= 0; --j) {
      const FileRecord& r = records_[static_cast<std::size_t>(j)];
      if (r.width <= 0) continue;
      auto [it, inserted] = later.try_emplace(r.digest, j);
      if (!inserted) {
        nextIdentical_[static_cast<std::size_t>(j)] = it->second;
        it->second = j;
      }
    }
  }

  // Every term of D² is non-negative only with non-negative weights; a
  // non-finite weight makes sums the bounds do not describe.
  const bool weightsSound = std::isfinite(params_.weightA) && params_.weightA >= 0 &&
                            std::isfinite(params_.weightV) && params_.weightV >= 0;
  if (!weightsSound) return;
  // The luma deviations are coded when their weight makes each of their
  // terms at least the squared difference itself.
  const bool deviationsCoded = params_.weightV >= 1.0;

  slot_.assign(static_cast<std::size_t>(n), -1);
  blockBegin_.assign(static_cast<std::size_t>(blocks) + 1, 0);
  keys_.reserve(static_cast<std::size_t>(n));
  positions_.reserve(static_cast<std::size_t>(n));
  aspects_.reserve(static_cast<std::size_t>(n));
  codes_.reserve(static_cast<std::size_t>(n));

  double maxScale = 0;  // largest sum of the magnitudes of a record's luma means
  std::vector<std::pair<double, std::int32_t>> order;
  for (int b = 0; b < blocks; ++b) {
    blockBegin_[static_cast<std::size_t>(b)] = keys_.size();
    order.clear();
    const int end = std::min(n, (b + 1) * blockSize_);
    for (int p = b * blockSize_; p < end; ++p) {
      const FileRecord& r = records_[static_cast<std::size_t>(p)];
      // A value that is infinite or not a number makes its term of D² with
      // any other record infinite or not a number, whatever the weights:
      // never similar.
      if (r.width <= 0 || !GridFinite(r.grid)) continue;
      double sumY = 0, scale = 0;
      for (const SignatureCell& cell : r.grid) {
        sumY += cell.meanY;
        scale += std::fabs(cell.meanY);
      }
      // Finite means whose sums overflow: the key would be meaningless.
      if (!std::isfinite(scale)) return;
      maxScale = std::max(maxScale, scale);
      order.emplace_back(sumY * 0.25, p);
    }
    std::sort(order.begin(), order.end());
    for (const auto& [key, p] : order) {
      const FileRecord& r = records_[static_cast<std::size_t>(p)];
      slot_[static_cast<std::size_t>(p)] = static_cast<std::int32_t>(keys_.size());
      keys_.push_back(key);
      positions_.push_back(p);
      aspects_.push_back(AspectValue(r));
      codes_.push_back(partner::EncodeMeans(r.grid, deviationsCoded));
    }
  }
  blockBegin_[static_cast<std::size_t>(blocks)] = keys_.size();

  // The key is the projection of the luma means on a unit vector: two
  // records further apart than sqrt(L) in it are not similar. Both keys may
  // be off by the rounding of their sums.
  maxScale_ = maxScale;
  coded_ = deviationsCoded ? partner::kCodeBytes : partner::kCodedMeans;
  full_ = ReachFor(limit_);
  indexed_ = true;
}

PartnerIndex::Reach PartnerIndex::ReachFor(double limit) const {
  Reach reach;
  reach.key = std::sqrt(limit * (1 + kRelativeMargin)) * (1 + kRelativeMargin) +
              2 * kScaleMargin * maxScale_ + kTiny;
  reach.bound = limit * (1 + kBoundMargin) + 1;
  // SAD - n < sum |differences| <= sqrt(n D²) for a pair within the limit.
  const double sad = coded_ + 1 + std::sqrt(coded_ * limit) * (1 + kBoundMargin);
  reach.sad = sad >= 32767.0 ? 32767 : static_cast<int>(sad);
  reach.squared = reach.bound >= 2147483647.0 ? INT32_MAX : static_cast<std::int32_t>(reach.bound);
  return reach;
}

PartnerIndex::Reach PartnerIndex::ReachBeside(const PartnerChoice& best) const {
  // A candidate replaces the partner only with a stored difference
  // floor(sqrt(D²) + 1) no larger than the partner's, so sqrt(D²) below
  // difference + 1 with room for the rounding of the square root: D² up to
  // (difference + 2)² covers every candidate that can still win.
  if (best.partner < 0 || best.difference >= 65536) return full_;
  const double d = static_cast<double>(best.difference) + 2.0;
  const double limit = d * d;
  return limit < limit_ ? ReachFor(limit) : full_;
}

void PartnerIndex::Scan(std::size_t row, std::size_t begin, std::size_t end, int j,
                        PartnerChoice& best) const {
  const double key = keys_[row];
  // The partner found so far narrows what a candidate must reach to win.
  Reach reach = ReachBeside(best);
  const auto first = keys_.begin() + static_cast<std::ptrdiff_t>(begin);
  const auto last = keys_.begin() + static_cast<std::ptrdiff_t>(end);
  const auto low = std::lower_bound(first, last, key - reach.key);
  const auto high = std::upper_bound(low, last, key + reach.key);
  const std::size_t from = static_cast<std::size_t>(low - keys_.begin());
  std::size_t to = static_cast<std::size_t>(high - keys_.begin());
  const partner::MeanCode& code = codes_[row];
  const FileRecord& p = records_[static_cast<std::size_t>(j)];
  const std::int64_t aspect = aspects_[row];
  partner::PassedCode passed[kFilterChunk];
  for (std::size_t chunk = from; chunk < to; chunk += kFilterChunk) {
    const std::size_t count = std::min(kFilterChunk, to - chunk);
    const std::size_t found =
        partner::FilterCodes(code, &codes_[chunk], count, reach.sad, reach.squared, passed);
    bool improved = false;
    for (std::size_t s = 0; s < found; ++s) {
      const std::size_t k = chunk + passed[s].offset;
      const std::int32_t position = positions_[k];
      if (position <= j) continue;
      // The aspect term exactly as D² starts, then the squared code bound
      // of the other terms.
      const double da = static_cast<double>(aspect - aspects_[k]);
      const double lower = da * params_.weightA * da + static_cast<double>(passed[s].squared);
      if (!(lower <= reach.bound)) continue;

      const double d2 = SquaredDistance(p, records_[static_cast<std::size_t>(position)], aspect,
                                        aspects_[k], params_, limit_);
      if (!IsSimilar(d2, limit_)) continue;
      const std::int32_t stored = StoredDifference(UnroundedDifference(d2));
      if (best.partner < 0 || stored < best.difference ||
          (stored == best.difference && position < best.partner)) {
        best.partner = position;
        best.difference = stored;
        improved = true;
      }
    }
    if (improved) {
      // The rest of this window only needs to reach the new partner.
      reach = ReachBeside(best);
      to = static_cast<std::size_t>(
          std::upper_bound(keys_.begin() + static_cast<std::ptrdiff_t>(chunk + count),
                           keys_.begin() + static_cast<std::ptrdiff_t>(to), key + reach.key) -
          keys_.begin());
    }
  }
}

PartnerChoice PartnerIndex::Choose(int j) const {
  const FileRecord& row = records_[static_cast<std::size_t>(j)];
  if (row.width <= 0) return {};
  if (!indexed_) return ChoosePartnerPairwise(records_, params_, j);
  // An identical later record has difference 0, which no similar one can
  // beat, and the nearest one wins the tie.
  const std::int32_t identical = nextIdentical_[static_cast<std::size_t>(j)];
  if (identical >= 0) return PartnerChoice{identical, 0};

  PartnerChoice best;
  const std::int32_t slot = slot_[static_cast<std::size_t>(j)];
  if (slot < 0) return best;
  const std::size_t blocks = blockBegin_.size() - 1;
  // No later record has an equal digest, so every candidate is judged by D².
  for (std::size_t b = static_cast<std::size_t>(j / blockSize_); b < blocks; ++b) {
    Scan(static_cast<std::size_t>(slot), blockBegin_[b], blockBegin_[b + 1], j, best);
  }
  return best;
}

void PartnerIndex::ChooseBlock(int b, std::vector<PartnerChoice>& choices) const {
  const int n = static_cast<int>(records_.size());
  const int end = std::min(n, (b + 1) * blockSize_);
  if (!indexed_) {
    for (int j = b * blockSize_; j < end; ++j) choices[static_cast<std::size_t>(j)] = Choose(j);
    return;
  }
  // Records outside the index (width 0, never similar) and those with an
  // identical later record need no scan.
  for (int j = b * blockSize_; j < end; ++j) {
    if (slot_[static_cast<std::size_t>(j)] < 0 || nextIdentical_[static_cast<std::size_t>(j)] >= 0) {
      choices[static_cast<std::size_t>(j)] = Choose(j);
    }
  }
  const std::size_t blocks = blockBegin_.size() - 1;
  const std::size_t first = blockBegin_[static_cast<std::size_t>(b)];
  const std::size_t last = blockBegin_[static_cast<std::size_t>(b) + 1];
  // Block by block of candidates, so that the candidate window of one
  // block stays in the cache while every record of this block, in key
  // order, moves it along.
  std::vector<PartnerChoice> best(last - first);
  for (std::size_t other = static_cast<std::size_t>(b); other < blocks; ++other) {
    for (std::size_t k = first; k < last; ++k) {
      const std::int32_t j = positions_[k];
      if (nextIdentical_[static_cast<std::size_t>(j)] >= 0) continue;
      Scan(k, blockBegin_[other], blockBegin_[other + 1], j, best[k - first]);
    }
  }
  for (std::size_t k = first; k < last; ++k) {
    const std::int32_t j = positions_[k];
    if (nextIdentical_[static_cast<std::size_t>(j)] < 0) {
      choices[static_cast<std::size_t>(j)] = best[k - first];
    }
  }
}

}  // namespace norvane
