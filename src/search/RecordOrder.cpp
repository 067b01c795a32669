#include "search/RecordOrder.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>
#include <string_view>

namespace norvane {

namespace {

// Byte order of two texts: unsigned byte values up to the shorter length,
// then the shorter first. std::string_view compares through char_traits<char>,
// which compares as unsigned char, but spelling it out keeps the rule obvious.
int CompareBytes(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

bool RecordOrder::operator()(const FileRecord& a, const FileRecord& b) const {
  switch (static_cast<OrderMode>(mode_)) {
    case OrderMode::NameAscending: return CompareBytes(a.name, b.name) < 0;
    case OrderMode::NameDescending: return CompareBytes(a.name, b.name) > 0;
    case OrderMode::SizeAscending: return a.size < b.size;
    case OrderMode::SizeDescending: return a.size > b.size;
    case OrderMode::DateAscending: return Compare(a.date, b.date) < 0;
    case OrderMode::DateDescending: return Compare(a.date, b.date) > 0;
    case OrderMode::WidthAscending: return a.width < b.width;
    case OrderMode::WidthDescending: return a.width > b.width;
    case OrderMode::HeightAscending: return a.height < b.height;
    case OrderMode::HeightDescending: return a.height > b.height;
    case OrderMode::None: break;
  }
  return false;
}

// The positions are sorted and every record then moves once, to its place:
// a merge sort of the records themselves would move each (grid and all) on
// every pass and hold half the list again in its buffer.
void SortRecords(FileList& records, int mode) {
  if (mode < 1 || mode > 10) return;  // nothing would move
  std::vector<std::uint32_t> from(records.size());
  std::iota(from.begin(), from.end(), 0u);
  const RecordOrder before(mode);
  std::stable_sort(from.begin(), from.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return before(records[a], records[b]); });
  // Position i takes the record at from[i]: each cycle of the permutation
  // is followed once, and a place that has its record is marked as its own.
  for (std::size_t start = 0; start < records.size(); ++start) {
    if (from[start] == start) continue;
    FileRecord held = std::move(records[start]);
    std::size_t to = start;
    while (from[to] != start) {
      const std::size_t next = from[to];
      records[to] = std::move(records[next]);
      from[to] = static_cast<std::uint32_t>(to);
      to = next;
    }
    records[to] = std::move(held);
    from[to] = static_cast<std::uint32_t>(to);
  }
}

}  // namespace norvane
