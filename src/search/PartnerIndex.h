// An index over the records of a search that finds every record's partner
// without comparing it with every later record.
//
// D² is a sum of non-negative terms that starts with the aspect term, and the
// mean terms alone are a squared Euclidean distance. Any orthonormal set of
// projections of the means therefore has a squared distance of at most D²
// (Bessel's inequality), and the aspect term is at most D² by itself. The
// index keeps, per record, the sum of the 16 luma means / 4 (sorted, so the
// candidates of a record form a window of width 2 √L), the 16 luma means as
// floats and the sums of both colour means / 4, close together for a quick
// lower bound. A candidate that
// passes these necessary conditions, widened for rounding, still goes through
// the exact SquaredDistance; the bounds only skip pairs that cannot be similar.
#pragma once

#include <cstdint>
#include <vector>

#include "scan/FileRecord.h"
#include "search/FindPartners.h"

namespace norvane {

class PartnerIndex {
 public:
  // Reads the records; they must stay unchanged while the index is used.
  PartnerIndex(const FileList& records, const DifferenceParams& params);

  // The choice for record j, equal to ChoosePartnerPairwise. Safe to call
  // from several threads at once.
  PartnerChoice Choose(int j) const;

  // The same for every record of block b (positions b x blockSize() up to the
  // next block), written into choices[position]. The records of a block are
  // taken in the order of their keys, so neighbouring queries read the same
  // candidates from the cache. Safe for different blocks at once.
  void ChooseBlock(int b, std::vector<PartnerChoice>& choices) const;
  int blockSize() const { return blockSize_; }
  int blocks() const { return blocks_; }

  // False when the bounds cannot be trusted (negative or non-finite weights,
  // means so large that their sums overflow); Choose then compares pair by pair.
  bool indexed() const { return indexed_; }

 private:
  struct Entry {
    double key;  // sum of the 16 luma means / 4
    std::int64_t aspect;
    std::int32_t position;
    float lumaError;  // how far a luma value below may be from the mean, +inf: unknown
    double cb;        // sum of the 16 Cb means / 4
    double cr;        // sum of the 16 Cr means / 4
    double scale;     // sum of the magnitudes of all 48 means, for rounding margins
    float luma[kGridCells];  // the luma means rounded to float, a compact first test
  };

  void Build();
  void Scan(const Entry& row, std::size_t begin, std::size_t end, int j,
            PartnerChoice& best) const;

  const FileList& records_;
  DifferenceParams params_;
  double limit_ = 0;
  double window_ = 0;    // half-width of the key window, before the scale margin
  double maxScale_ = 0;  // largest scale of any entry
  bool indexed_ = false;
  int blockSize_ = 1;
  int blocks_ = 0;
  std::vector<std::int32_t> nextIdentical_;  // next later record with an equal digest, or -1
  std::vector<std::int32_t> slot_;           // entry of a record, -1 when never similar
  std::vector<Entry> entries_;               // per block of positions, sorted by key
  std::vector<std::size_t> blockBegin_;      // entries of block b: [blockBegin_[b], blockBegin_[b + 1])
};

}  // namespace norvane
