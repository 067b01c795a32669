// The order in which the search compares records: the "left-side priority"
// option decides which image of a similar pair becomes the row and which its
// partner, because every record looks for partners only after itself.
#pragma once

#include "scan/FileRecord.h"

namespace norvane {

// Ordering modes of the InitialSort setting. Any other value keeps the order.
enum class OrderMode : int {
  None = 0,
  NameAscending = 1,
  NameDescending = 2,
  SizeAscending = 3,
  SizeDescending = 4,
  DateAscending = 5,
  DateDescending = 6,
  WidthAscending = 7,
  WidthDescending = 8,
  HeightAscending = 9,
  HeightDescending = 10,
};

// Answers whether record a goes before record b under a mode: a strict weak
// order on one key. Names and dates compare as unsigned bytes (a proper prefix
// first); size, width and height as signed 32-bit values. For mode 0 and for
// modes outside 1..10 it never separates two records.
class RecordOrder {
 public:
  explicit RecordOrder(int mode) : mode_(mode) {}
  bool operator()(const FileRecord& a, const FileRecord& b) const;

 private:
  int mode_;
};

// Reorders `records` in place with a stable sort under RecordOrder(mode), so
// records with equal keys keep their previous (scan) order. Nothing else is
// used as a key: the folder plays no part.
void SortRecords(FileList& records, int mode);

}  // namespace norvane
