// An index over the records of a search that finds every record's partner
// without comparing it with every later record.
//
// D² is a sum of non-negative terms that starts with the aspect term, and the
// mean terms alone are a squared Euclidean distance. Any orthonormal set of
// projections of the means therefore has a squared distance of at most D²
// (Bessel's inequality), and the aspect term is at most D² by itself. The
// index offers a dozen such projections (per channel the sum of the 16 values
// / 4 and a top-to-bottom and a left-to-right gradient) and keeps the three
// that spread the records most: the first as the sort key, the other two as
// a grid of cells when they spread widely enough for cells to help. Per block
// of positions and per cell, the entries are sorted by key; a record looks at
// the cells within reach, each with a key window of half-width
// sqrt(L - the squared distance to the cell). A candidate in a window must
// pass, in turn, a bound from the sums of absolute code differences per
// group of eight (several candidates per instruction sequence), then the
// aspect term plus a squared bound from the codes; all are widened for
// rounding. Before the codes, unless they are split, the three chosen
// projections, held as floats, turn away the candidates of a window that lie
// outside the ball of the reach around the record (about two in three,
// where cells vary together); the candidates within it are gathered over
// all the windows and filtered by their codes many at a time. With that
// test, neighbouring records of a cell also share their windows, found once
// for all of them. When a sample shows that the first half of the codes
// alone turns most candidates away (cells that vary independently, say),
// the codes are held split and that half is filtered first, which reads half
// the bytes. A candidate that passes these necessary conditions still goes
// through the exact SquaredDistance; the bounds only skip pairs that cannot
// be similar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "scan/FileRecord.h"
#include "search/FindPartners.h"
#include "search/PartnerKernel.h"

namespace norvane {

class PartnerIndex {
 public:
  // Reads the records; they must stay unchanged while the index is used.
  // Built on up to `workers` threads.
  PartnerIndex(const FileList& records, const DifferenceParams& params, int workers = 1);

  // The choice for record j, equal to ChoosePartnerPairwise. Safe to call
  // from several threads at once.
  PartnerChoice Choose(int j) const;

  // The same for every record of block b (positions b x blockSize() up to the
  // next block), written into choices[position - b x blockSize()]. The
  // records of a block are taken in the order of their cells and keys, so
  // neighbouring queries read the same candidates from the cache. Safe for
  // different blocks at once.
  void ChooseBlock(int b, std::span<PartnerChoice> choices) const;
  int blockSize() const { return blockSize_; }
  int blocks() const { return blocks_; }

  // False when the bounds cannot be trusted (negative or non-finite weights,
  // means so large that their sums overflow); Choose then compares pair by pair.
  bool indexed() const { return indexed_; }
  // Whether the codes are held split, their fronts filtered first.
  bool split() const { return split_; }
  // Whether candidates are tested against the ball of the projections.
  bool ball() const { return ball_; }

 private:
  void Build(int workers);
  // Fills nextIdentical_.
  void LinkIdenticalDigests();
  // What a record's place in the index is computed from: its chosen
  // projections (the key, then the values of the two cell axes) and its
  // aspect value. Formed again when needed rather than held per record.
  // The fractions of its coded values serve the finer bound of a scan.
  struct Point {
    double key = 0, value2 = 0, value3 = 0;
    std::int64_t aspect = 0;
    partner::FineFractions fractions;
  };
  // The fractions are left 0 unless asked for: only a scan needs them.
  Point PointOf(const FileRecord& record, bool withFractions) const;
  // The same from the record's grid, already unpacked.
  Point PointOf(const FileRecord& record, const SignatureGrid& grid, bool withFractions) const;
  // The point's three projections, each times the root of its weight, as
  // the floats the ball test compares.
  partner::BallCenter Scaled(const Point& point) const;
  // How far a candidate may be from a record and still count, for a limit
  // of D²: the half-width of the key window, the widened limit for the
  // lower bounds of D², and the largest code bounds.
  struct Reach {
    double limit = 0;  // the limit widened for rounding, for the projections
    double key = 0;
    double bound = 0;
    std::int32_t grouped = 0;  // the largest grouped SAD bound
    int front = 0;             // the largest front SAD, for split codes
    std::int32_t squared = 0;
    float ball = 0;            // the squared radius for the floats of the projections
  };
  Reach ReachFor(double limit) const;
  // The reach for a candidate that could still replace `best`: the full one
  // while there is no partner, else one for the partner's difference.
  Reach ReachBeside(const PartnerChoice& best) const;
  // The grid of the record a scan is for, unpacked when a candidate first
  // needs it: many scans turn every candidate away by the bounds alone.
  struct QueryGrid {
    const PackedGrid* packed = nullptr;
    std::optional<SignatureGrid> grid;
    const SignatureGrid& get() {
      if (!grid) packed->Unpack(grid.emplace());
      return *grid;
    }
  };
  // A record a scan is for: its entry `row`, its position j, its point,
  // code and grid, the best partner found so far and ReachBeside(*best),
  // which is kept so when the best changes.
  //
  // With the ball test, the entries within its ball are gathered over the
  // windows into `picks` (room for kPickRoom and the slack of the filters)
  // and go through the code filter many at a time.
  struct Query {
    std::size_t row = 0;
    int j = 0;
    const Point* point = nullptr;
    partner::MeanCode code;
    QueryGrid grid;
    PartnerChoice* best = nullptr;
    Reach reach;
    std::uint32_t* picks = nullptr;
    std::size_t picked = 0;
  };
  static constexpr std::size_t kPickRoom = 256;
  // The picks buffer of one query: the room and the filters' slack.
  static constexpr std::size_t kPicksSize = kPickRoom + partner::kBallSlack;
  // Judges the entries of block b within reach of each of the queries,
  // which are entries of one cell of their own block, and keeps the best of
  // each. The windows are found once for all of them: the window of a cell
  // spans those of every query, and each query's candidates in it are then
  // judged by its own ball and bounds. `cursors`, when not null, holds per
  // cell of block b where the previous window of that cell began and ended
  // (offsets within the cell; any values are correct, near ones fast;
  // without, each window is searched from its cell's start).
  void Scan(std::span<Query> queries, std::size_t b, std::size_t* cursors) const;
  // Without the ball test: judges the entries [from, to) of block b,
  // sorted by key, for `query`.
  void ScanCell(Query& query, std::size_t b, std::size_t from, std::size_t to) const;
  // With the ball test: adds the entries [from, to) within the query's ball
  // to its picks, and judges the picks of block b when they fill up.
  void Gather(Query& query, std::size_t b, std::size_t from, std::size_t to) const;
  void Flush(Query& query, std::size_t b) const;
  // Judges the entries passed[0 .. found) of block b, which passed the code
  // filter, by the rest of the bounds and then by D²; narrows the query's
  // reach when its best partner changes, and says whether it did.
  bool Judge(Query& query, std::size_t b, partner::PassedCode* passed, std::size_t found) const;

  // Whether filtering by the fronts of the codes first would turn away most
  // candidates, judged on a sample of the entries and their neighbours.
  bool FrontsPay() const;
  // Puts the codes of every block into the split form.
  void SplitCodes(int workers);
  // The code of entry k of block b, in either form.
  partner::MeanCode CodeOf(std::size_t b, std::size_t k) const;
  // Where the fronts and the backs of block b's entries begin, when split.
  const std::uint8_t* Fronts(std::size_t b) const;
  const std::uint8_t* Backs(std::size_t b) const;

  const FileList& records_;
  DifferenceParams params_;
  double limit_ = 0;
  Reach full_;            // the reach for L itself
  double maxScale_ = 0;   // largest sum of the magnitudes of a record's luma means
  int coded_ = 0;         // code bytes that stand for values
  bool indexed_ = false;
  int blockSize_ = 1;
  int blocks_ = 0;
  std::vector<std::int32_t> nextIdentical_;  // next later record with an equal digest, or -1
  std::vector<std::int32_t> slot_;           // entry of a record, -1 when never similar
  // The grid of one of the two cell axes: a projection of weight 1, or the
  // aspect value of weight WA.
  struct Axis {
    double weight = 1;
    double root = 1;   // sqrt(weight)
    double low = 0;    // smallest value
    double width = 0;  // of a cell
    int cells = 1;
    int Cell(double value) const;
    // How far, in this axis's values, an entry can be for a key reach.
    double Reach(double key) const;
  };
  Axis axis2_, axis3_;
  int chosen_[3] = {0, 0, 0};  // the projections of the key and of the two cell axes
  int cells_ = 1;  // axis2_.cells x axis3_.cells
  // The values of the two cell axes the entries hold, per cell of a
  // block: the smallest and the largest.
  struct Box {
    double low2, high2, low3, high3;
  };
  // The entries, per block of positions and cell, sorted by key.
  std::vector<double> keys_;  // the first projection
  std::vector<std::int32_t> positions_;
  std::vector<std::int32_t> aspects_;  // clamped to 32 bits: exact unless at a limit
  // The code of every entry; when split_, per block, the fronts of its
  // entries followed by their backs.
  std::vector<partner::MeanCode> codes_;
  bool split_ = false;
  // Scaled() of every entry, one array per projection, while ball_: the
  // floats are then finite and small enough to square, and ballSlack_ is
  // how far their distance can lie beyond the exact one.
  std::vector<float> scaled_[3];
  bool ball_ = false;
  double ballSlack_ = 0;
  std::vector<std::size_t> blockBegin_;  // entries of block b: [blockBegin_[b], blockBegin_[b + 1])
  // Entries of cell c of block b: [cellBegin_[b x (cells_ + 1) + c], the next).
  std::vector<std::size_t> cellBegin_;
  std::vector<Box> boxes_;  // of cell c of block b at b x cells_ + c
};

}  // namespace norvane
