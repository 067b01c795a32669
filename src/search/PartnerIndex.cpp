#include "search/PartnerIndex.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cfloat>
#include <cstring>
#include <string_view>
#include <thread>
#include <utility>
#include <functional>

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
// part of its own, so about half the candidates of a window are skipped
// without looking at their positions. Few blocks keep the cost of visiting
// the cells of every block small; blocks of at most kMaxBlockSize keep the
// candidates of one in the cache; several blocks let threads share the work.
constexpr int kMinBlockSize = 2048;
constexpr int kMaxBlockSize = 32768;
constexpr int kBlocks = 8;

// The codes are split, and the fronts filtered first, when at most this
// share of the candidates of a sample pass by their fronts: reading the
// backs of the rest one by one costs more than it saves beyond it.
constexpr double kFrontShare = 0.2;

// Records of a cell whose scans share their windows, when the ball test
// judges each one's candidates.
constexpr std::size_t kTile = 32;

// Candidates handed to the code filter at a time.
constexpr std::size_t kFilterChunk = 256;

// The projections on offer, per channel of values (the three means and, when
// coded, the luma deviation): the sum / 4, then the gradients from top to
// bottom and from left to right, each with weights 3, 1, -1, -3 per row or
// column of cells (orthogonal to the sum and to each other) / sqrt(80).
constexpr int kShapes = 3;
constexpr int kChannels = 4;
constexpr int kProjections = kShapes * kChannels;
// Beside them, the aspect value, whose term WA x (difference)² is part of
// D² apart from the means: a cell axis of weight WA.
constexpr int kAspectValue = kProjections;
constexpr int kValues = kProjections + 1;
constexpr double kGradientWeights[4] = {3, 1, -1, -3};

// A cell axis is used when its spread (standard deviation over the records)
// is at least kMinCellSpread x sqrt(L): narrower, every record reaches every
// cell. Its cells are kCellWidth x sqrt(L) wide (narrower cells cut the
// windows more but cost more visits than they save), those of the aspect
// kAspectCellWidth x sqrt(L / WA) (its few whole values want narrow cells),
// and at most kMaxCells of them.
constexpr double kMinCellSpread = 0.35;
constexpr double kCellWidth = 1.0;
constexpr double kAspectCellWidth = 0.1;
constexpr int kMaxCells = 24;

// The ball test is used when every scaled projection is below this: the
// sum of three squares of floats then stays far from overflowing.
constexpr double kBallValueLimit = 1e18;

bool GridFinite(const SignatureGrid& grid) {
  for (const SignatureCell& c : grid) {
    if (!std::isfinite(c.meanY) || !std::isfinite(c.meanCb) || !std::isfinite(c.meanCr) ||
        !std::isfinite(c.sdevY) || !std::isfinite(c.sdevCb) || !std::isfinite(c.sdevCr)) {
      return false;
    }
  }
  return true;
}

// The value of every projection on offer for one grid. Each is a sum of 16
// terms with weights of at most 3 in magnitude, then one multiplication; it
// is within 16 x 4 x 2^-53 x (the sum of the magnitudes of the values) of the
// exact projection on the exact unit vector, far inside kScaleMargin.
void Projections(const SignatureGrid& grid, double* out) {
  const double gradientScale = 1.0 / std::sqrt(80.0);
  for (int ch = 0; ch < kChannels; ++ch) {
    double sum = 0, down = 0, across = 0;
    for (int c = 0; c < kGridCells; ++c) {
      const SignatureCell& cell = grid[static_cast<std::size_t>(c)];
      const double x = ch == 0 ? cell.meanY : ch == 1 ? cell.meanCb : ch == 2 ? cell.meanCr : cell.sdevY;
      sum += x;
      down += kGradientWeights[c / 4] * x;
      across += kGradientWeights[c % 4] * x;
    }
    out[ch * kShapes] = sum * 0.25;
    out[ch * kShapes + 1] = down * gradientScale;
    out[ch * kShapes + 2] = across * gradientScale;
  }
}

// The first of the n sorted keys that is not below x (`above`: that is above
// x), without branches that depend on the keys: the windows are short and
// their ends random, so predicted branches would mostly be missed.
template <bool above>
std::size_t Bound(const double* keys, std::size_t n, double x) {
  const double* base = keys;
  while (n > 1) {
    const std::size_t half = n / 2;
    const bool right = above ? !(x < base[half - 1]) : base[half - 1] < x;
    base = right ? base + half : base;
    n -= half;
  }
  const bool right = n == 1 && (above ? !(x < *base) : *base < x);
  return static_cast<std::size_t>(base - keys) + (right ? 1 : 0);
}

// The same bound searched outward from `hint`, a position in [0, n] that is
// usually close to the answer: the window of the previous record in the
// same cell. Steps of 1, 2, 4, ... find an interval that holds the answer,
// then Bound searches it; the few keys read are near each other, unlike
// those of a search over the whole cell.
template <bool above>
std::size_t Gallop(const double* keys, std::size_t n, std::size_t hint, double x) {
  const auto before = [&](std::size_t i) { return above ? !(x < keys[i]) : keys[i] < x; };
  hint = std::min(hint, n);
  std::size_t low = 0, high = n;  // the answer lies in [low, high]
  if (hint < n && before(hint)) {
    low = hint + 1;
    for (std::size_t step = 1;; step *= 2) {
      const std::size_t probe = low + step - 1;
      if (probe >= n) break;
      if (!before(probe)) {
        high = probe;
        break;
      }
      low = probe + 1;
    }
  } else {
    high = hint;
    for (std::size_t step = 1;; step *= 2) {
      if (step > high) break;
      const std::size_t probe = high - step;
      if (before(probe)) {
        low = probe + 1;
        break;
      }
      high = probe;
    }
  }
  return low + Bound<above>(keys + low, high - low, x);
}

// Runs task(0) to task(count - 1) on up to `workers` threads, the calling
// one among them, and returns when all are done.
template <typename Task>
void RunTasks(int count, int workers, const Task& task) {
  std::atomic<int> next{0};
  const auto work = [&] {
    for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) task(i);
  };
  std::vector<std::thread> helpers;
  for (int w = 1; w < std::min(workers, count); ++w) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
}

// An aspect value held in 32 bits for the bound of its term: clamping moves
// no two values further apart, so the difference of clamped values is at
// most the real one.
std::int32_t ClampedAspect(std::int64_t aspect) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(aspect, INT32_MIN, INT32_MAX));
}

// D² of two grids with finite values and the aspect term `aspect`, its terms
// formed exactly as SquaredDistance forms them but summed in six independent
// chains rather than in order, so that the processor overlaps the additions.
// A sum of at most 97 non-negative terms in any order is within 97 x 2^-53
// of the exact sum, and so is the ordered one: when this one is above
// limit x (1 + kRelativeMargin), the ordered D² is above the limit too.
// q's cells are read from its packed form one at a time: most candidates
// that come this far are still turned away, and unpacking the whole grid of
// each would cost more than the sum itself.
double QuickSquaredDistance(const SignatureGrid& p, const PackedGrid& q, double aspect,
                            double weightV) {
  // Pairs of neighbouring values, two chains per instruction; a mean's term
  // is its square times 1, which is the square itself.
  using Pair = double __attribute__((vector_size(16)));
  const Pair means = {1.0, 1.0}, mixed = {1.0, weightV}, deviations = {weightV, weightV};
  Pair first = {aspect, 0}, second = {0, 0}, third = {0, 0};
  for (std::size_t c = 0; c < kGridCells; ++c) {
    const SignatureCell& a = p[c];
    SignatureCell b;
    q.UnpackCell(static_cast<int>(c), b);
    const Pair d1 = Pair{a.meanY, a.meanCb} - Pair{b.meanY, b.meanCb};
    const Pair d2 = Pair{a.meanCr, a.sdevY} - Pair{b.meanCr, b.sdevY};
    const Pair d3 = Pair{a.sdevCb, a.sdevCr} - Pair{b.sdevCb, b.sdevCr};
    first += d1 * d1 * means;
    second += d2 * d2 * mixed;
    third += d3 * d3 * deviations;
  }
  const Pair sum = (first + second) + third;
  return sum[0] + sum[1];
}

}  // namespace

partner::BallCenter PartnerIndex::Scaled(const Point& point) const {
  return partner::BallCenter{static_cast<float>(point.key), static_cast<float>(point.value2 * axis2_.root),
                             static_cast<float>(point.value3 * axis3_.root), 0};
}

PartnerIndex::Point PartnerIndex::PointOf(const FileRecord& record, bool withFractions) const {
  return PointOf(record, record.grid.unpacked(), withFractions);
}

PartnerIndex::Point PartnerIndex::PointOf(const FileRecord& record, const SignatureGrid& grid,
                                          bool withFractions) const {
  double v[kValues];
  Projections(grid, v);
  const std::int64_t aspect = AspectValue(record);
  v[kAspectValue] = static_cast<double>(aspect);
  Point point{v[chosen_[0]], v[chosen_[1]], v[chosen_[2]], aspect, {}};
  if (withFractions) point.fractions = partner::EncodeFractions(grid, coded_ == partner::kCodeBytes);
  return point;
}

double PartnerIndex::Axis::Reach(double key) const {
  // An entry within reach has weight x gap² <= limit, gap <= key / sqrt(weight);
  // the margins cover the rounding of the square root and the division.
  if (weight == 1.0) return key;
  return key / std::sqrt(weight) * (1 + kRelativeMargin) + 1;
}

int PartnerIndex::Axis::Cell(double value) const {
  if (cells <= 1) return 0;
  // Rounding may put a value next to a cell edge into the neighbouring cell;
  // the boxes hold the values that are really there, so nothing depends on it.
  const double c = std::floor((value - low) / width);
  if (!(c >= 0)) return 0;
  return c >= cells - 1 ? cells - 1 : static_cast<int>(c);
}

PartnerIndex::PartnerIndex(const FileList& records, const DifferenceParams& params, int workers)
    : records_(records), params_(params), limit_(DifferenceLimit(params.threshold)) {
  Build(std::max(workers, 1));
}

void PartnerIndex::LinkIdenticalDigests() {
  // Every record that takes part, by a hash of its digest's key (equal
  // texts have equal keys, different texts different ones) and then by
  // position; within a run of equal hashes, by key (stable, so equal keys
  // stay in the order of their positions). Each record then links to the
  // next one with the same key. Sixteen bytes per record, and no node per
  // text as a hash table would need.
  const std::size_t n = records_.size();
  nextIdentical_.assign(n, -1);
  struct Hashed {
    std::uint64_t hash;
    std::int32_t position;
    bool operator<(const Hashed& o) const {
      return hash != o.hash ? hash < o.hash : position < o.position;
    }
  };
  std::vector<Hashed> hashed;
  hashed.reserve(n);
  const std::hash<std::string_view> hash;
  for (std::size_t j = 0; j < n; ++j) {
    const FileRecord& r = records_[j];
    if (r.width > 0) hashed.push_back(Hashed{hash(r.digest.key()), static_cast<std::int32_t>(j)});
  }
  std::sort(hashed.begin(), hashed.end());
  const auto key = [&](const Hashed& h) { return records_[static_cast<std::size_t>(h.position)].digest.key(); };
  for (std::size_t run = 0; run < hashed.size();) {
    std::size_t end = run + 1;
    while (end < hashed.size() && hashed[end].hash == hashed[run].hash) ++end;
    if (end - run > 1) {
      std::stable_sort(hashed.begin() + static_cast<std::ptrdiff_t>(run),
                       hashed.begin() + static_cast<std::ptrdiff_t>(end),
                       [&](const Hashed& a, const Hashed& b) { return key(a) < key(b); });
      for (std::size_t k = run; k + 1 < end; ++k) {
        if (key(hashed[k]) == key(hashed[k + 1])) {
          nextIdentical_[static_cast<std::size_t>(hashed[k].position)] = hashed[k + 1].position;
        }
      }
    }
    run = end;
  }
}

void PartnerIndex::Build(int workers) {
  const int n = static_cast<int>(records_.size());

  blockSize_ = std::clamp((n + kBlocks - 1) / kBlocks, kMinBlockSize, kMaxBlockSize);
  blocks_ = n == 0 ? 0 : (n + blockSize_ - 1) / blockSize_;
  const int blocks = blocks_;
  // Equal digests: the first later record with the same text, whatever the
  // shapes and grids.
  LinkIdenticalDigests();

  // Every term of D² is non-negative only with non-negative weights; a
  // non-finite weight makes sums the bounds do not describe.
  const bool weightsSound = std::isfinite(params_.weightA) && params_.weightA >= 0 &&
                            std::isfinite(params_.weightV) && params_.weightV >= 0;
  if (!weightsSound) return;
  // The luma deviations are coded, and projected, when their weight makes
  // each of their terms at least the squared difference itself.
  const bool deviationsCoded = params_.weightV >= 1.0;
  coded_ = deviationsCoded ? partner::kCodeBytes : partner::kCodedMeans;
  const int offered = deviationsCoded ? kProjections : kProjections - kShapes;

  // The records that can be similar to another, and the spread of every
  // projection over them, from running sums: the projections themselves are
  // formed again below for the three chosen ones only, so that no table of
  // every projection of every record is ever held. Block by block, on
  // several threads, and the blocks' sums added in their order, so that
  // the outcome does not depend on the threads.
  struct BlockSums {
    double sums[kValues] = {}, squares[kValues] = {};
    double lows[kValues], highs[kValues];
    double maxScale = 0;  // largest sum of the magnitudes of a record's projected values
    bool overflow = false;
    std::vector<std::int32_t> members;
  };
  std::vector<BlockSums> parts(static_cast<std::size_t>(blocks));
  RunTasks(blocks, workers, [&](int b) {
    BlockSums& part = parts[static_cast<std::size_t>(b)];
    std::fill(part.lows, part.lows + kValues, HUGE_VAL);
    std::fill(part.highs, part.highs + kValues, -HUGE_VAL);
    const int end = std::min(n, (b + 1) * blockSize_);
    for (int p = b * blockSize_; p < end; ++p) {
      const FileRecord& r = records_[static_cast<std::size_t>(p)];
      // A value that is infinite or not a number makes its term of D² with
      // any other record infinite or not a number, whatever the weights:
      // never similar.
      if (r.width <= 0) continue;
      const SignatureGrid grid = r.grid.unpacked();
      if (!GridFinite(grid)) continue;
      double scale = 0;
      for (const SignatureCell& cell : grid) {
        scale += std::fabs(cell.meanY) + std::fabs(cell.meanCb) + std::fabs(cell.meanCr);
        if (deviationsCoded) scale += std::fabs(cell.sdevY);
      }
      // Finite values whose sums overflow: the projections would be meaningless.
      if (!std::isfinite(scale)) {
        part.overflow = true;
        return;
      }
      part.maxScale = std::max(part.maxScale, scale);
      double v[kValues];
      Projections(grid, v);
      v[kAspectValue] = static_cast<double>(AspectValue(r));
      part.members.push_back(p);
      for (int d = 0; d < kValues; ++d) {
        part.sums[d] += v[d];
        part.squares[d] += v[d] * v[d];
        part.lows[d] = std::min(part.lows[d], v[d]);
        part.highs[d] = std::max(part.highs[d], v[d]);
      }
    }
  });
  slot_.assign(static_cast<std::size_t>(n), -1);
  blockBegin_.assign(static_cast<std::size_t>(blocks) + 1, 0);
  std::vector<std::int32_t> members;
  members.reserve(static_cast<std::size_t>(n));
  double sums[kValues] = {}, squares[kValues] = {};
  double lows[kValues], highs[kValues];
  std::fill(lows, lows + kValues, HUGE_VAL);
  std::fill(highs, highs + kValues, -HUGE_VAL);
  double maxScale = 0;
  for (int b = 0; b < blocks; ++b) {
    BlockSums& part = parts[static_cast<std::size_t>(b)];
    if (part.overflow) return;
    blockBegin_[static_cast<std::size_t>(b)] = members.size();
    members.insert(members.end(), part.members.begin(), part.members.end());
    part.members = {};
    maxScale = std::max(maxScale, part.maxScale);
    for (int d = 0; d < kValues; ++d) {
      sums[d] += part.sums[d];
      squares[d] += part.squares[d];
      lows[d] = std::min(lows[d], part.lows[d]);
      highs[d] = std::max(highs[d], part.highs[d]);
    }
  }
  blockBegin_[static_cast<std::size_t>(blocks)] = members.size();
  parts = {};
  // The projections that spread the records most (the sums of squares only
  // choose; no bound depends on them).
  int* const chosen = chosen_;
  double spread[kValues] = {};
  {
    const std::size_t m = members.size();
    for (int d = 0; d < kValues; ++d) {
      if (d >= offered && d != kAspectValue) continue;
      const double mean = m == 0 ? 0 : sums[d] / static_cast<double>(m);
      spread[d] = m == 0 ? 0 : std::sqrt(std::max(0.0, squares[d] / static_cast<double>(m) - mean * mean));
    }
    // The aspect spreads the records as far as its weight lets it.
    spread[kAspectValue] *= std::sqrt(params_.weightA);
    int order[kValues];
    for (int d = 0; d < kValues; ++d) order[d] = d;
    std::stable_sort(order, order + offered, [&](int x, int y) { return spread[x] > spread[y]; });
    // The key is the projection that spreads most; the aspect is only a cell axis.
    std::swap(order[offered], order[kAspectValue]);
    std::stable_sort(order + 1, order + offered + 1, [&](int x, int y) { return spread[x] > spread[y]; });
    for (int k = 0; k < 3; ++k) chosen[k] = order[k];
  }
  const double root = std::sqrt(limit_);
  // The axis of chosen projection `column` (1 or 2).
  const auto makeAxis = [&](int column) {
    const int d = chosen[column];
    // The weight counts even with one cell: the boxes still bound the gaps.
    Axis axis;
    axis.weight = d == kAspectValue ? params_.weightA : 1.0;
    axis.root = std::sqrt(axis.weight);
    if (members.empty() || !(spread[d] > 0) || !(spread[d] >= kMinCellSpread * root)) return axis;
    const double low = lows[d], high = highs[d];
    // Aspect values are whole numbers of a few kinds: narrow cells part them.
    const double part = d == kAspectValue ? kAspectCellWidth / std::sqrt(params_.weightA) : kCellWidth;
    const double width = std::max(part * root, (high - low) / kMaxCells);
    if (!(width > 0) || !std::isfinite(width)) return axis;
    axis.low = low;
    axis.width = width;
    axis.cells = std::min(kMaxCells, static_cast<int>(std::floor((high - low) / width)) + 1);
    return axis;
  };
  axis2_ = makeAxis(1);
  axis3_ = makeAxis(2);
  cells_ = axis2_.cells * axis3_.cells;

  cellBegin_.assign(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(cells_ + 1), 0);
  boxes_.assign(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(cells_), Box{});
  keys_.resize(members.size());
  positions_.resize(members.size());
  aspects_.resize(members.size());
  // Room the code filters may read past the last window, of whole codes or
  // of fronts, and the ball test past the last of its floats.
  codes_.resize(members.size() + std::max(partner::kCodeSlack, (partner::kFrontSlack + 1) / 2));
  for (std::vector<float>& scaled : scaled_) scaled.assign(members.size() + partner::kBallSlack, 0.0f);
  // Blocks with a projection too large for the floats, whose squares must
  // stay finite.
  std::vector<char> beyondFloats(static_cast<std::size_t>(blocks), 0);

  // The entries of every block, sorted by cell and key; each block fills
  // its own part of the arrays, so the blocks are built on several threads.
  RunTasks(blocks, workers, [&](int b) {
    struct Entry {
      int cell;
      double key;
      std::int32_t member;  // within the block
      bool operator<(const Entry& o) const {
        return cell != o.cell ? cell < o.cell : key != o.key ? key < o.key : member < o.member;
      }
    };
    const std::size_t first = blockBegin_[static_cast<std::size_t>(b)];
    const std::size_t last = blockBegin_[static_cast<std::size_t>(b) + 1];
    std::vector<Entry> order;
    std::vector<Point> points;  // of the members of the block, in position order
    order.reserve(last - first);
    points.reserve(last - first);
    for (std::size_t m = first; m < last; ++m) {
      const FileRecord& record = records_[static_cast<std::size_t>(members[m])];
      const SignatureGrid grid = record.grid.unpacked();
      const Point point = PointOf(record, grid, false);
      order.push_back(Entry{axis2_.Cell(point.value2) * axis3_.cells + axis3_.Cell(point.value3),
                            point.key, static_cast<std::int32_t>(points.size())});
      points.push_back(point);
      // The code is formed while the grid is at hand, at the member's
      // place; the codes move to their entries below.
      codes_[m] = partner::EncodeMeans(grid, deviationsCoded);
    }
    std::sort(order.begin(), order.end());
    std::size_t* begins = &cellBegin_[static_cast<std::size_t>(b) * static_cast<std::size_t>(cells_ + 1)];
    Box* boxes = &boxes_[static_cast<std::size_t>(b) * static_cast<std::size_t>(cells_)];
    std::size_t k = 0;
    for (int c = 0; c < cells_; ++c) {
      begins[c] = first + k;
      Box box{HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
      for (; k < order.size() && order[k].cell == c; ++k) {
        const Point& point = points[static_cast<std::size_t>(order[k].member)];
        const std::int32_t p = members[first + static_cast<std::size_t>(order[k].member)];
        slot_[static_cast<std::size_t>(p)] = static_cast<std::int32_t>(first + k);
        box.low2 = std::min(box.low2, point.value2);
        box.high2 = std::max(box.high2, point.value2);
        box.low3 = std::min(box.low3, point.value3);
        box.high3 = std::max(box.high3, point.value3);
        keys_[first + k] = point.key;
        positions_[first + k] = p;
        aspects_[first + k] = ClampedAspect(point.aspect);
        if (std::fabs(point.key) < kBallValueLimit && std::fabs(point.value2 * axis2_.root) < kBallValueLimit &&
            std::fabs(point.value3 * axis3_.root) < kBallValueLimit) {
          const partner::BallCenter scaled = Scaled(point);
          scaled_[0][first + k] = scaled.a;
          scaled_[1][first + k] = scaled.b;
          scaled_[2][first + k] = scaled.c;
        } else {
          beyondFloats[static_cast<std::size_t>(b)] = 1;
        }
      }
      boxes[c] = box;
    }
    begins[cells_] = first + k;
    // Entry k takes the code of member order[k].member: the permutation is
    // carried out one cycle at a time, in place.
    partner::MeanCode* codes = &codes_[first];
    std::vector<bool> placed(order.size());
    for (std::size_t start = 0; start < order.size(); ++start) {
      if (placed[start]) continue;
      const partner::MeanCode held = codes[start];
      for (std::size_t at = start;;) {
        placed[at] = true;
        const std::size_t from = static_cast<std::size_t>(order[at].member);
        if (from == start) {
          codes[at] = held;
          break;
        }
        codes[at] = codes[from];
        at = from;
      }
    }
  });

  // Every projection is on a unit vector: two records further apart than
  // sqrt(L) in it, or in the three together, are not similar. Every value
  // may be off by the rounding of its sum.
  maxScale_ = maxScale;
  // How far the floats' distance can lie beyond the exact one of the
  // projections: per projection, twice (once per side) the rounding to a
  // float (2^-24 of the largest magnitude, taken twice over for the
  // roundings before it) and the margin of the computed projection itself.
  double slack = 0;
  for (int axis = 0; axis < 3; ++axis) {
    float top = 0;
    for (const float value : scaled_[axis]) top = std::max(top, std::fabs(value));
    const double root = axis == 0 ? 1.0 : axis == 1 ? axis2_.root : axis3_.root;
    const double one = static_cast<double>(top) * 0x1p-23 + root * (kScaleMargin * maxScale_ + kTiny);
    slack += one * one;
  }
  ballSlack_ = 2 * std::sqrt(slack) * (1 + kRelativeMargin);
  full_ = ReachFor(limit_);
  indexed_ = true;
  if (FrontsPay()) SplitCodes(workers);
  // Split codes turn most candidates away by their fronts already.
  ball_ = !split_ && std::find(beyondFloats.begin(), beyondFloats.end(), 1) == beyondFloats.end();
  if (!ball_) {
    for (std::vector<float>& scaled : scaled_) scaled = {};
  }
}

bool PartnerIndex::FrontsPay() const {
  // Entries spread evenly over all, each with up to kNeighbours of the next
  // entries of its cell within the key's reach, as a window would hold them.
  constexpr std::size_t kSamples = 4096, kNeighbours = 32;
  const std::size_t stride = std::max<std::size_t>(1, keys_.size() / kSamples);
  std::size_t candidates = 0, passed = 0;
  for (std::size_t b = 0; b < static_cast<std::size_t>(blocks_); ++b) {
    const std::size_t* begins = &cellBegin_[b * static_cast<std::size_t>(cells_ + 1)];
    for (int c = 0; c < cells_; ++c) {
      const std::size_t end = begins[c + 1];
      for (std::size_t k = (begins[c] + stride - 1) / stride * stride; k < end; k += stride) {
        for (std::size_t m = k + 1; m < std::min(end, k + 1 + kNeighbours) && keys_[m] - keys_[k] <= full_.key; ++m) {
          ++candidates;
          if (partner::FrontSad(codes_[k], codes_[m].bytes) <= full_.front) ++passed;
        }
      }
    }
  }
  return candidates > 0 && static_cast<double>(passed) <= kFrontShare * static_cast<double>(candidates);
}

void PartnerIndex::SplitCodes(int workers) {
  RunTasks(blocks_, workers, [&](int b) {
    const std::size_t first = blockBegin_[static_cast<std::size_t>(b)];
    const std::size_t count = blockBegin_[static_cast<std::size_t>(b) + 1] - first;
    std::uint8_t* base = reinterpret_cast<std::uint8_t*>(codes_.data() + first);
    constexpr std::size_t half = partner::kFrontBytes;
    std::vector<std::uint8_t> backs(count * half);
    for (std::size_t i = 0; i < count; ++i) std::memcpy(&backs[i * half], base + i * 2 * half + half, half);
    // Each front moves to a place no later than its own.
    for (std::size_t i = 0; i < count; ++i) std::memmove(base + i * half, base + i * 2 * half, half);
    if (count > 0) std::memcpy(base + count * half, backs.data(), backs.size());
  });
  split_ = true;
}

const std::uint8_t* PartnerIndex::Fronts(std::size_t b) const {
  return reinterpret_cast<const std::uint8_t*>(codes_.data() + blockBegin_[b]);
}

const std::uint8_t* PartnerIndex::Backs(std::size_t b) const {
  return Fronts(b) + (blockBegin_[b + 1] - blockBegin_[b]) * partner::kFrontBytes;
}

partner::MeanCode PartnerIndex::CodeOf(std::size_t b, std::size_t k) const {
  return split_ ? partner::JoinHalves(Fronts(b), Backs(b), k - blockBegin_[b]) : codes_[k];
}

PartnerIndex::Reach PartnerIndex::ReachFor(double limit) const {
  Reach reach;
  // The computed D² of a pair is within about 100 roundings of its exact
  // value, so a pair that counts has an exact D² of at most `limit` widened.
  reach.limit = limit * (1 + kRelativeMargin);
  // The difference of two computed projections is within 2 kScaleMargin
  // maxScale of the exact one (kTiny for the subnormal range); that margin
  // also covers the rounding of key ± key reach and of the differences
  // taken below, all below 2^-52 of a value of at most maxScale.
  reach.key = std::sqrt(reach.limit) * (1 + kRelativeMargin) + 2 * kScaleMargin * maxScale_ + kTiny;
  reach.bound = limit * (1 + kBoundMargin) + 1;
  // Per group of eight values, the part of D² they stand for is at least
  // (SAD - 8)² / 8; the parts add up to at most D².
  const double grouped = 8 * reach.bound;
  reach.grouped = grouped >= 2147483647.0 ? INT32_MAX : static_cast<std::int32_t>(grouped);
  // SAD - n < sum |differences| <= sqrt(n D²) over the n values of a front.
  const double front = partner::kFrontBytes + 1 + std::sqrt(partner::kFrontBytes * limit) * (1 + kBoundMargin);
  reach.front = front >= 32767.0 ? 32767 : static_cast<int>(front);
  reach.squared = reach.bound >= 2147483647.0 ? INT32_MAX : static_cast<std::int32_t>(reach.bound);
  // The projections of a pair that counts are within sqrt(reach.limit) of
  // each other, their floats within that plus the slack; a few roundings of
  // the float sum of squares are covered by the last factor. Rounded up.
  const double radius = std::sqrt(reach.limit) + ballSlack_;
  const double ball = radius * radius * (1 + 0x1p-18);
  reach.ball = static_cast<float>(std::min(ball, static_cast<double>(FLT_MAX)));
  if (static_cast<double>(reach.ball) < ball) reach.ball = std::nextafter(reach.ball, HUGE_VALF);
  return reach;
}

PartnerIndex::Reach PartnerIndex::ReachBeside(const PartnerChoice& best) const {
  // A candidate replaces the partner only with a stored difference
  // trunc(sqrt(D²) + 1) no larger than the partner's, d. A computed D² of at
  // least d² has a square root of at least d (the root is correctly rounded
  // and d² is exact), and adding 1 keeps it at least d + 1: such a
  // candidate cannot win. D² up to d² covers every candidate that can.
  if (best.partner < 0 || best.difference >= 65536) return full_;
  const double d = static_cast<double>(best.difference);
  const double limit = d * d;
  return limit < limit_ ? ReachFor(limit) : full_;
}

void PartnerIndex::Scan(std::span<Query> queries, std::size_t b, std::size_t* cursors) const {
  // The widest reach of the queries (each only narrows as partners are
  // found), and the ranges of their values: every window below spans the
  // windows of all of them.
  Reach reach = queries[0].reach;
  double low2 = HUGE_VAL, high2 = -HUGE_VAL, low3 = HUGE_VAL, high3 = -HUGE_VAL;
  double lowKey = HUGE_VAL, highKey = -HUGE_VAL;
  for (const Query& query : queries) {
    if (query.reach.limit > reach.limit) reach = query.reach;
    low2 = std::min(low2, query.point->value2);
    high2 = std::max(high2, query.point->value2);
    low3 = std::min(low3, query.point->value3);
    high3 = std::max(high3, query.point->value3);
    lowKey = std::min(lowKey, keys_[query.row]);
    highKey = std::max(highKey, keys_[query.row]);
  }
  // The cells whose values can lie within reach: Cell never decreases as
  // its value grows, so those between the cells of value ± reach.
  const double reach2 = axis2_.Reach(reach.key), reach3 = axis3_.Reach(reach.key);
  const int first2 = axis2_.Cell(low2 - reach2), last2 = axis2_.Cell(high2 + reach2);
  const int first3 = axis3_.Cell(low3 - reach3), last3 = axis3_.Cell(high3 + reach3);
  const std::size_t* begins = &cellBegin_[b * static_cast<std::size_t>(cells_ + 1)];
  const Box* boxes = &boxes_[b * static_cast<std::size_t>(cells_)];
  const double margin = 2 * kScaleMargin * maxScale_ + kTiny;
  // The key window of cell c for the reach, empty when the cell is out of
  // reach.
  const auto window = [&](int c, std::size_t& from, std::size_t& to, double& half) {
    from = begins[c];
    to = begins[c + 1];
    if (from == to) return false;
    // The distance of the queries' values from the box of the cell's
    // values, less the rounding margin, is at most the exact distance in
    // that axis from any entry of the cell to any of the queries.
    const Box& box = boxes[c];
    const double gap2 = std::max(0.0, std::max(box.low2 - high2, low2 - box.high2) - margin);
    const double gap3 = std::max(0.0, std::max(box.low3 - high3, low3 - box.high3) - margin);
    // The key projection, the other two and the aspect term together are at
    // most D²; what the two gaps take leaves the reach of the key. (1 -
    // kRelativeMargin) covers the rounding of the products and their sum,
    // which may only make them look larger.
    const double taken = (axis2_.weight * (gap2 * gap2) + axis3_.weight * (gap3 * gap3)) *
                         (1 - kRelativeMargin);
    const double rest = reach.limit - taken;
    if (rest < 0) return false;
    half = std::sqrt(rest) * (1 + kRelativeMargin) + margin;
    return true;
  };
  // With cursors, each cell's window is searched from where the previous
  // window in that cell lay (its start, then its end); without, from the
  // cell's start.
  const auto search = [&](int c, std::size_t from, std::size_t to, double half) {
    std::size_t* cursor = cursors == nullptr ? nullptr : cursors + 2 * static_cast<std::size_t>(c);
    const std::size_t low = from + Gallop<false>(&keys_[from], to - from, cursor ? cursor[0] : 0, lowKey - half);
    const std::size_t skipped = low - from;
    const std::size_t high =
        low + Gallop<true>(&keys_[low], to - low, cursor ? std::max(cursor[1], skipped) - skipped : 0, highKey + half);
    if (cursor != nullptr) {
      cursor[0] = skipped;
      cursor[1] = high - from;
    }
    for (Query& query : queries) {
      if (ball_) {
        Gather(query, b, low, high);
      } else {
        ScanCell(query, b, low, high);
      }
    }
  };
  // The queries' own cell first: a partner found there narrows the reach
  // for all the others.
  const Point& point = *queries[0].point;
  const int own = axis2_.Cell(point.value2) * axis3_.cells + axis3_.Cell(point.value3);
  std::size_t from = 0, to = 0;
  double half = 0;
  if (window(own, from, to, half)) search(own, from, to, half);
  for (int c2 = first2; c2 <= last2; ++c2) {
    for (int c = c2 * axis3_.cells + first3, end = c2 * axis3_.cells + last3; c <= end; ++c) {
      if (c != own && window(c, from, to, half)) search(c, from, to, half);
    }
  }
  for (Query& query : queries) Flush(query, b);
}

void PartnerIndex::ScanCell(Query& query, std::size_t b, std::size_t from, std::size_t to) const {
  const partner::MeanCode& code = query.code;
  const Reach& reach = query.reach;
  partner::PassedCode passed[kFilterChunk];
  for (std::size_t chunk = from; chunk < to; chunk += kFilterChunk) {
    const std::size_t count = std::min(kFilterChunk, to - chunk);
    std::size_t found = 0;
    if (split_) {
      const std::size_t at = (chunk - blockBegin_[b]) * partner::kFrontBytes;
      found = partner::FilterSplitCodes(code, Fronts(b) + at, Backs(b) + at, count, reach.front, reach.grouped,
                                        reach.squared, passed);
    } else {
      found = partner::FilterCodes(code, &codes_[chunk], count, nullptr, reach.grouped, reach.squared, passed);
    }
    for (std::size_t s = 0; s < found; ++s) passed[s].offset += static_cast<std::uint32_t>(chunk);
    if (Judge(query, b, passed, found)) {
      // The rest of this window only needs to reach the new partner (the
      // key window of the whole reach is wider than any cell's).
      to = static_cast<std::size_t>(
          std::upper_bound(keys_.begin() + static_cast<std::ptrdiff_t>(chunk + count),
                           keys_.begin() + static_cast<std::ptrdiff_t>(to), query.point->key + reach.key) -
          keys_.begin());
    }
  }
}

void PartnerIndex::Gather(Query& query, std::size_t b, std::size_t from, std::size_t to) const {
  partner::BallCenter center = Scaled(*query.point);
  for (std::size_t chunk = from; chunk < to; chunk += kFilterChunk) {
    const std::size_t count = std::min(kFilterChunk, to - chunk);
    if (query.picked + count > kPickRoom) Flush(query, b);
    center.radius2 = query.reach.ball;
    query.picked += partner::WithinBall(&scaled_[0][chunk], &scaled_[1][chunk], &scaled_[2][chunk], count, center,
                                        static_cast<std::uint32_t>(chunk), query.picks + query.picked);
  }
}

void PartnerIndex::Flush(Query& query, std::size_t b) const {
  // Gather lets the ball test write a chunk past the last pick, and the
  // padding below is for the code filter, within the slack after kPickRoom.
  static_assert(partner::kCodeSlack <= partner::kBallSlack && kFilterChunk <= kPickRoom);
  if (query.picked == 0) return;
  // The code filter reads whole groups: past the last pick, the first.
  std::fill_n(query.picks + query.picked, partner::kCodeSlack, query.picks[0]);
  partner::PassedCode passed[kPickRoom];
  const std::size_t found = partner::FilterCodes(query.code, codes_.data(), query.picked, query.picks,
                                                 query.reach.grouped, query.reach.squared, passed);
  query.picked = 0;
  Judge(query, b, passed, found);
}

bool PartnerIndex::Judge(Query& query, std::size_t b, partner::PassedCode* passed, std::size_t found) const {
  const Point& point = *query.point;
  const partner::MeanCode& code = query.code;
  const int j = query.j;
  PartnerChoice& best = *query.best;
  Reach& reach = query.reach;
  const std::int64_t aspect = point.aspect;
  const std::int32_t clamped = ClampedAspect(aspect);
  bool improved = false;
  // The candidates that remain after the aspect term and the squared code
  // bound; their grids are fetched before the first is compared.
  std::size_t kept = 0;
  for (std::size_t s = 0; s < found; ++s) {
    const std::size_t k = passed[s].offset;
    const std::int32_t position = positions_[k];
    if (position <= j) continue;
    const double da = static_cast<double>(std::int64_t{clamped} - aspects_[k]);
    const double lower = da * params_.weightA * da + static_cast<double>(passed[s].squared);
    if (!(lower <= reach.bound)) continue;
    // The record's grid is read below.
    records_[static_cast<std::size_t>(position)].grid.Prefetch();
    passed[kept++].offset = static_cast<std::uint32_t>(k);
  }
  for (std::size_t s = 0; s < kept; ++s) {
    const std::size_t k = passed[s].offset;
    const std::int32_t position = positions_[k];
    // A computed D² above difference² of the partner found so far cannot
    // win (see ReachBeside), so the sum may stop there: a D² above `cut` is
    // only known to be above it and is passed over. The square is exact.
    double cut = limit_;
    if (best.partner >= 0 && best.difference < 65536) {
      const double d = static_cast<double>(best.difference);
      cut = std::min(limit_, d * d);
    }
    const FileRecord& q = records_[static_cast<std::size_t>(position)];
    // The held value is exact unless it was clamped.
    const std::int32_t held = aspects_[k];
    const std::int64_t aspectQ = held != INT32_MIN && held != INT32_MAX ? held : AspectValue(q);
    const double da = static_cast<double>(aspect - aspectQ);
    const double aspectTerm = da * params_.weightA * da;
    // Many candidates here are still not similar. The distance of the
    // record's values to the candidate's code intervals turns away about
    // half of them at the cost of one code comparison; the margins are
    // those of reach.bound.
    const double fine = static_cast<double>(partner::FineSquaredBound(code, point.fractions, CodeOf(b, k))) / 256;
    if (aspectTerm + fine > cut * (1 + kBoundMargin) + 1) continue;
    const SignatureGrid& grid = query.grid.get();
    // An unordered sum turns most of the rest away sooner than the
    // ordered one.
    if (QuickSquaredDistance(grid, q.grid, aspectTerm, params_.weightV) > cut * (1 + kRelativeMargin)) {
      continue;
    }
    const double d2 = SquaredDistance(grid, q.grid, aspect, aspectQ, params_, cut);
    if (!(d2 <= cut) || !IsSimilar(d2, limit_)) continue;
    const std::int32_t stored = StoredDifference(UnroundedDifference(d2));
    if (best.partner < 0 || stored < best.difference || (stored == best.difference && position < best.partner)) {
      best.partner = position;
      best.difference = stored;
      improved = true;
    }
  }
  if (improved) reach = ReachBeside(best);
  return improved;
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
  // No later record has an equal digest, so every candidate is judged by D².
  const Point point = PointOf(row, true);
  const std::size_t own = static_cast<std::size_t>(j / blockSize_);
  // On the stack: a search on one thread chooses every record here.
  std::uint32_t picks[kPicksSize];
  Query query{static_cast<std::size_t>(slot), j, &point, CodeOf(own, static_cast<std::size_t>(slot)),
              QueryGrid{&row.grid, std::nullopt}, &best, ReachBeside(best), picks, 0};
  for (std::size_t b = own; b < static_cast<std::size_t>(blocks_); ++b) Scan({&query, 1}, b, nullptr);
  return best;
}

void PartnerIndex::ChooseBlock(int b, std::span<PartnerChoice> choices) const {
  const int n = static_cast<int>(records_.size());
  const int start = b * blockSize_, end = std::min(n, start + blockSize_);
  const auto choice = [&](int j) -> PartnerChoice& { return choices[static_cast<std::size_t>(j - start)]; };
  if (!indexed_) {
    for (int j = start; j < end; ++j) choice(j) = Choose(j);
    return;
  }
  // Records outside the index (width 0, never similar) and those with an
  // identical later record need no scan.
  for (int j = start; j < end; ++j) {
    if (slot_[static_cast<std::size_t>(j)] < 0 || nextIdentical_[static_cast<std::size_t>(j)] >= 0) {
      choice(j) = Choose(j);
    }
  }
  const std::size_t first = blockBegin_[static_cast<std::size_t>(b)];
  const std::size_t last = blockBegin_[static_cast<std::size_t>(b) + 1];
  // Block by block of candidates, so that the candidates of one block stay
  // in the cache while every record of this block, in the order of cells
  // and keys, moves along them.
  std::vector<PartnerChoice> best(last - first);
  // Formed in the order of the records, which reads them one after another.
  std::vector<Point> points(last - first);
  for (int j = start; j < end; ++j) {
    const std::int32_t slot = slot_[static_cast<std::size_t>(j)];
    if (slot >= 0) points[static_cast<std::size_t>(slot) - first] = PointOf(records_[static_cast<std::size_t>(j)], true);
  }
  std::vector<std::size_t> cursors(2 * static_cast<std::size_t>(cells_));
  // Neighbouring records of a cell share their windows; with the ball test
  // to judge each record's candidates alone, a window that spans a few of
  // them costs little more than one.
  const std::size_t tileSize = ball_ ? kTile : 1;
  std::vector<Query> tile(tileSize);
  std::vector<std::uint32_t> picks(ball_ ? tileSize * kPicksSize : 0);
  for (std::size_t t = 0; t < tileSize && ball_; ++t) tile[t].picks = &picks[t * kPicksSize];
  const std::size_t* begins = &cellBegin_[static_cast<std::size_t>(b) * static_cast<std::size_t>(cells_ + 1)];
  for (std::size_t other = static_cast<std::size_t>(b); other < static_cast<std::size_t>(blocks_); ++other) {
    std::fill(cursors.begin(), cursors.end(), 0);
    for (int c = 0; c < cells_; ++c) {
      for (std::size_t k = begins[c]; k < begins[c + 1];) {
        std::size_t count = 0;
        for (; k < begins[c + 1] && count < tileSize; ++k) {
          const std::int32_t j = positions_[k];
          if (nextIdentical_[static_cast<std::size_t>(j)] >= 0) continue;
          Query& query = tile[count++];
          query.row = k;
          query.j = j;
          query.point = &points[k - first];
          query.code = CodeOf(static_cast<std::size_t>(b), k);
          query.grid = QueryGrid{&records_[static_cast<std::size_t>(j)].grid, std::nullopt};
          query.best = &best[k - first];
          query.reach = ReachBeside(best[k - first]);
        }
        if (count > 0) Scan({tile.data(), count}, other, cursors.data());
      }
    }
  }
  for (std::size_t k = first; k < last; ++k) {
    const std::int32_t j = positions_[k];
    if (nextIdentical_[static_cast<std::size_t>(j)] < 0) choice(j) = best[k - first];
  }
}

}  // namespace norvane
