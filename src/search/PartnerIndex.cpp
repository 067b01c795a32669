#include "search/PartnerIndex.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace norvane {

namespace {

// Margins that widen every bound past what rounding can take away. A sum of
// at most 16 doubles is within 16 x 2^-53 of its terms' magnitude, far inside
// kScaleMargin; D² itself is at most about 100 roundings away from the exact
// sum of its terms, far inside kRelativeMargin.
constexpr double kRelativeMargin = 1e-9;
constexpr double kScaleMargin = 1e-12;
constexpr double kTiny = 1e-300;  // covers rounding among subnormal numbers
constexpr double kFloatLimit = 1e30;  // luma means beyond this skip the float test
// A float difference shrunk by this can only be below the exact one.
constexpr float kFloatShrink = 1.0f - 1.0f / 4194304.0f;  // 1 - 2^-22

// Positions per block. A record looks only at later blocks and at the later
// part of its own, so about half the candidates of the key window are skipped
// without looking at their positions.
constexpr int kMinBlockSize = 2048;
constexpr int kMaxBlocks = 128;

bool MeansFinite(const SignatureGrid& grid) {
  for (const SignatureCell& c : grid) {
    if (!std::isfinite(c.meanY) || !std::isfinite(c.meanCb) || !std::isfinite(c.meanCr)) {
      return false;
    }
  }
  return true;
}

// |x| - margin, or 0 when the margin covers it: never more than the exact
// projection difference the rounded x stands for.
double Shrunk(double x, double margin) {
  const double s = std::fabs(x) - margin;
  return s > 0 ? s : 0.0;
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

  slot_.assign(static_cast<std::size_t>(n), -1);
  entries_.clear();
  blockBegin_.assign(static_cast<std::size_t>(blocks) + 1, 0);

  for (int b = 0; b < blocks; ++b) {
    const std::size_t first = entries_.size();
    blockBegin_[static_cast<std::size_t>(b)] = first;
    const int end = std::min(n, (b + 1) * blockSize_);
    for (int p = b * blockSize_; p < end; ++p) {
      const FileRecord& r = records_[static_cast<std::size_t>(p)];
      // A mean that is infinite or not a number makes its term of D² with
      // any other record infinite or not a number: never similar.
      if (r.width <= 0 || !MeansFinite(r.grid)) continue;
      Entry e{};
      double sumY = 0, sumCb = 0, sumCr = 0, scale = 0, maxLuma = 0;
      for (int c = 0; c < kGridCells; ++c) {
        const SignatureCell& cell = r.grid[static_cast<std::size_t>(c)];
        sumY += cell.meanY;
        sumCb += cell.meanCb;
        sumCr += cell.meanCr;
        maxLuma = std::max(maxLuma, std::fabs(cell.meanY));
        scale += std::fabs(cell.meanY) + std::fabs(cell.meanCb) + std::fabs(cell.meanCr);
      }
      // Finite means whose sums overflow: the bounds would be meaningless.
      if (!std::isfinite(scale)) {
        entries_.clear();
        return;
      }
      // A float holds a luma mean within 2^-24 of its magnitude; the error
      // bound is rounded well up. Beyond float range the test is switched off.
      if (maxLuma < kFloatLimit) {
        for (int c = 0; c < kGridCells; ++c) {
          e.luma[c] = static_cast<float>(r.grid[static_cast<std::size_t>(c)].meanY);
        }
        e.lumaError = static_cast<float>(maxLuma * 2.5e-7) + 1e-44f;
      } else {
        e.lumaError = std::numeric_limits<float>::infinity();
      }
      e.key = sumY * 0.25;
      e.cb = sumCb * 0.25;
      e.cr = sumCr * 0.25;
      e.scale = scale;
      e.aspect = AspectValue(r);
      e.position = p;
      maxScale_ = std::max(maxScale_, scale);
      entries_.push_back(e);
    }
    std::sort(entries_.begin() + static_cast<std::ptrdiff_t>(first), entries_.end(),
              [](const Entry& x, const Entry& y) { return x.key < y.key; });
  }
  blockBegin_[static_cast<std::size_t>(blocks)] = entries_.size();
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    slot_[static_cast<std::size_t>(entries_[k].position)] = static_cast<std::int32_t>(k);
  }
  window_ = std::sqrt(limit_ * (1 + kRelativeMargin)) * (1 + kRelativeMargin);
  indexed_ = true;
}

void PartnerIndex::Scan(const Entry& row, std::size_t begin, std::size_t end, int j,
                        PartnerChoice& best) const {
  const double reach = window_ + kScaleMargin * (row.scale + maxScale_) + kTiny;
  const double low = row.key - reach;
  const double high = row.key + reach;
  const double bound = limit_ * (1 + kRelativeMargin);
  // A float sum of 16 squares is within 2e-6 of its exact value.
  const float floatBound = static_cast<float>(limit_ * (1 + 1e-5));
  const FileRecord& p = records_[static_cast<std::size_t>(j)];
  auto it = std::lower_bound(entries_.begin() + static_cast<std::ptrdiff_t>(begin),
                             entries_.begin() + static_cast<std::ptrdiff_t>(end), low,
                             [](const Entry& e, double key) { return e.key < key; });
  const auto stop = entries_.begin() + static_cast<std::ptrdiff_t>(end);
  for (; it != stop && it->key <= high; ++it) {
    const Entry& c = *it;
    if (c.position <= j) continue;
    // The aspect term exactly as D² starts.
    const double da = static_cast<double>(row.aspect - c.aspect);
    double lower = da * params_.weightA * da;
    if (!(lower <= bound)) continue;
    // The luma terms in float, each difference shrunk by what the rounding
    // to float can have added; a difference that is not a number counts 0.
    const float error = row.lumaError + c.lumaError;
    float parts[kGridCells];
    for (int m = 0; m < kGridCells; ++m) {
      const float d = std::fabs(row.luma[m] - c.luma[m]) * kFloatShrink - error;
      parts[m] = d > 0 ? d * d : 0.0f;
    }
    for (int m = 0; m < 8; ++m) parts[m] += parts[m + 8];
    for (int m = 0; m < 4; ++m) parts[m] += parts[m + 4];
    const float luma = (parts[0] + parts[1]) + (parts[2] + parts[3]);
    if (luma > floatBound) continue;
    // The colour sums are projections, shrunk by what rounding of the two
    // records' sums can add.
    const double margin = kScaleMargin * (row.scale + c.scale) + kTiny;
    double s = Shrunk(row.cb - c.cb, margin);
    lower += s * s;
    s = Shrunk(row.cr - c.cr, margin);
    lower += s * s;
    if (!(lower <= bound)) continue;

    const double d2 = SquaredDistance(p, records_[static_cast<std::size_t>(c.position)], params_,
                                      limit_);
    if (!IsSimilar(d2, limit_)) continue;
    const std::int32_t stored = StoredDifference(UnroundedDifference(d2));
    if (best.partner < 0 || stored < best.difference ||
        (stored == best.difference && c.position < best.partner)) {
      best.partner = c.position;
      best.difference = stored;
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
  const Entry& entry = entries_[static_cast<std::size_t>(slot)];
  const std::size_t blocks = blockBegin_.size() - 1;
  // No later record has an equal digest, so every candidate is judged by D².
  for (std::size_t b = static_cast<std::size_t>(j / blockSize_); b < blocks; ++b) {
    Scan(entry, blockBegin_[b], blockBegin_[b + 1], j, best);
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
      const Entry& entry = entries_[k];
      if (nextIdentical_[static_cast<std::size_t>(entry.position)] >= 0) continue;
      Scan(entry, blockBegin_[other], blockBegin_[other + 1], entry.position, best[k - first]);
    }
  }
  for (std::size_t k = first; k < last; ++k) {
    const int j = entries_[k].position;
    if (nextIdentical_[static_cast<std::size_t>(j)] < 0) choices[static_cast<std::size_t>(j)] = best[k - first];
  }
}

}  // namespace norvane
