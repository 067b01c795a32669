#include "search/RecordOrder.h"

#include <algorithm>
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

void SortRecords(FileList& records, int mode) {
  if (mode < 1 || mode > 10) return;  // nothing would move
  std::stable_sort(records.begin(), records.end(), RecordOrder(mode));
}

}  // namespace norvane
