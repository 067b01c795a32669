#include "search/ResultRows.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>

#include "base/Ascii.h"
#include "base/Decimal.h"
#include "scan/RecordText.h"

namespace norvane {

int NumberSortKey(std::string_view cell, int column) {
  if (cell.empty()) return column == kColumnDifference ? 999999 : -999999;
  return ReadDecimal(cell).value_or(0);
}

namespace {

// Cell words: the low two bits tell the kind. A text cell keeps its length in
// bits 2 to 23 and its arena offset in bits 24 to 63; a text longer than
// kMaxCellLength is kept apart in the list of long texts and the word keeps
// its index there, so that arena blocks are never left mostly empty. A
// date text is a long cell with bit 63 set and its digits from bit 2 on.
constexpr std::uint64_t kEmptyCell = 0;
constexpr std::uint64_t kNumberTag = 1;
constexpr std::uint64_t kTextTag = 2;
constexpr std::uint64_t kLongTag = 3;
constexpr int kLengthBits = 22;
constexpr std::size_t kMaxCellLength = std::size_t{1} << 16;  // longer texts are kept apart

constexpr std::uint64_t kDateFlag = std::uint64_t{1} << 63;

std::uint64_t Tag(std::uint64_t cell) { return cell & 3; }
bool IsDate(std::uint64_t cell) { return (cell & (kDateFlag | 3)) == (kDateFlag | kLongTag); }
std::uint64_t DateCell(std::uint64_t digits) { return kDateFlag | (digits << 2) | kLongTag; }
std::uint64_t DateDigits(std::uint64_t cell) { return (cell & ~kDateFlag) >> 2; }
// Whether the cell keeps its text in the arena or among the long texts.
bool KeepsText(std::uint64_t cell) { return Tag(cell) == kTextTag || (Tag(cell) == kLongTag && !IsDate(cell)); }
std::size_t Length(std::uint64_t cell) { return static_cast<std::size_t>((cell >> 2) & ((1u << kLengthBits) - 1)); }
std::size_t Offset(std::uint64_t cell) { return static_cast<std::size_t>(cell >> (2 + kLengthBits)); }
std::uint64_t TextCell(std::size_t offset, std::size_t length) {
  return (static_cast<std::uint64_t>(offset) << (2 + kLengthBits)) | (static_cast<std::uint64_t>(length) << 2) | kTextTag;
}
std::uint64_t NumberCell(int value) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) << 2) | kNumberTag;
}
int NumberOf(std::uint64_t cell) { return static_cast<int>(static_cast<std::uint32_t>(cell >> 2)); }

// The 32-bit cells of the slots: 0 when empty, a number from -2^29 to
// 2^29 - 1 shifted left by two with tag 1, or with tag 2 the index of the
// cell's own word (which no other cell shares).
constexpr std::uint32_t kSmallTag = 1;
constexpr std::uint32_t kWordTag = 2;
bool FitsSmall(int value) { return value >= -(1 << 29) && value < (1 << 29); }

// The value of a text that is exactly the decimal of a 32-bit number: an
// optional minus and digits without a leading zero ("0" itself aside).
std::optional<int> PlainDecimal(std::string_view text) {
  if (text.empty() || text.size() > 11) return std::nullopt;
  const bool negative = text[0] == '-';
  std::size_t i = negative ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  if (text[i] == '0') {
    if (text.size() == 1) return 0;
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int>(value);
}

// --- Sorting ------------------------------------------------------------------

struct Item {
  std::uint64_t key;
  std::uint64_t next;      // text sorts: the key one depth further on
  std::uint32_t row;
  std::uint32_t length;    // text sorts: the text's length, capped
};

// Sorts items by key, keeping the order of items with equal keys: a radix
// sort on 16-bit digits for long ranges (digits that all items share are
// skipped), a merge sort for short ones.
void StableSortByKey(Item* first, std::size_t n, std::vector<Item>& buffer) {
  if (n < 2) return;
  if (n <= 16) {
    for (std::size_t i = 1; i < n; ++i) {
      const Item item = first[i];
      std::size_t j = i;
      for (; j > 0 && item.key < first[j - 1].key; --j) first[j] = first[j - 1];
      first[j] = item;
    }
    return;
  }
  if (n < (std::size_t{1} << 14)) {
    std::stable_sort(first, first + n, [](const Item& a, const Item& b) { return a.key < b.key; });
    return;
  }
  constexpr int kDigits = 4;
  constexpr std::size_t kBuckets = 1 << 16;
  std::vector<std::uint32_t> counts(kDigits * kBuckets, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t key = first[i].key;
    for (int d = 0; d < kDigits; ++d) ++counts[d * kBuckets + ((key >> (16 * d)) & 0xFFFF)];
  }
  if (buffer.size() < n) buffer.resize(n);
  Item* from = first;
  Item* to = buffer.data();
  for (int d = 0; d < kDigits; ++d) {
    std::uint32_t* count = &counts[d * kBuckets];
    if (count[(first->key >> (16 * d)) & 0xFFFF] == n) continue;  // one digit for all
    std::uint32_t sum = 0;
    for (std::size_t b = 0; b < kBuckets; ++b) {
      const std::uint32_t c = count[b];
      count[b] = sum;
      sum += c;
    }
    for (std::size_t i = 0; i < n; ++i) to[count[(from[i].key >> (16 * d)) & 0xFFFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
}

// Eight bytes of a text from byte 8 * depth on, lower-cased, as a big-endian
// number; bytes past the end count as 0. Comparing these words depth by depth
// and then the lengths orders texts exactly as comparing their bytes does
// (a text that is a prefix of another comes first).
std::uint64_t Chunk(std::string_view text, std::size_t depth) {
  std::uint64_t word = 0;
  const std::size_t start = 8 * depth;
  for (std::size_t i = start; i < start + 8; ++i) {
    const unsigned char byte = i < text.size() ? static_cast<unsigned char>(LowerAscii(text[i])) : 0;
    word = (word << 8) | byte;
  }
  return word;
}

// Sorts non-empty texts (items[i].row indexes `texts`; key and next are the
// chunks of depths 0 and 1, flipped for a descending sort) one depth at a
// time: each group of equal chunks is sorted by its next chunk, and a group
// whose texts all end within the chunks seen by their length.
void SortTexts(std::vector<Item>& items, const std::vector<std::string_view>& texts, std::uint64_t flip) {
  struct Run {
    std::size_t begin, end, depth;
  };
  std::vector<Item> buffer;
  std::vector<Run> runs{{0, items.size(), 0}};
  while (!runs.empty()) {
    const Run run = runs.back();
    runs.pop_back();
    StableSortByKey(items.data() + run.begin, run.end - run.begin, buffer);
    for (std::size_t i = run.begin; i < run.end;) {
      std::size_t j = i + 1;
      while (j < run.end && items[j].key == items[i].key) ++j;
      if (j - i > 1) {
        std::uint32_t longest = 0;
        for (std::size_t k = i; k < j; ++k) longest = std::max(longest, items[k].length);
        if (longest > 8 * (run.depth + 1)) {
          for (std::size_t k = i; k < j; ++k) {
            items[k].key = run.depth == 0 ? items[k].next : Chunk(texts[items[k].row], run.depth + 1) ^ flip;
          }
          runs.push_back({i, j, run.depth + 1});
        } else {
          for (std::size_t k = i; k < j; ++k) items[k].key = texts[items[k].row].size() ^ flip;
          StableSortByKey(items.data() + i, j - i, buffer);
        }
      }
      i = j;
    }
  }
}

}  // namespace

// --- ResultRows ------------------------------------------------------------------

void ResultRows::Clear() { *this = ResultRows(); }

std::uint32_t ResultRows::AddSlot(const Slot& slot) {
  if (slots_.empty() || slots_.back().size() == kSlotBlock) {
    slots_.emplace_back();
    slots_.back().reserve(kSlotBlock);
  }
  slots_.back().push_back(slot);
  return static_cast<std::uint32_t>(slotCount_++);
}

ResultRows::Word ResultRows::WordOf(Cell cell) const {
  switch (cell & 3) {
    case kSmallTag: return NumberCell(static_cast<std::int32_t>(cell) >> 2);
    case kWordTag: return WordAt(cell >> 2);
    default: return kEmptyCell;
  }
}

void ResultRows::DropWord(Cell cell) {
  if ((cell & 3) == kWordTag) ++wastedWords_;
}

void ResultRows::Store(Cell& cell, Word word) {
  if (word == kEmptyCell || (Tag(word) == kNumberTag && FitsSmall(NumberOf(word)))) {
    DropWord(cell);
    cell = word == kEmptyCell ? 0 : (static_cast<std::uint32_t>(NumberOf(word)) << 2) | kSmallTag;
  } else if ((cell & 3) == kWordTag) {
    WordAt(cell >> 2) = word;
  } else {
    // Blocks never move, so a growing list never copies its words.
    if (words_.empty() || words_.back().size() == kWordBlock) {
      words_.emplace_back();
      words_.back().reserve(kWordBlock);
    }
    words_.back().push_back(word);
    cell = static_cast<std::uint32_t>(wordCount_++ << 2) | kWordTag;
  }
}

std::string_view ResultRows::TextOf(Word cell) const {
  switch (Tag(cell)) {
    case kTextTag: {
      const std::size_t offset = Offset(cell);
      return std::string_view(arena_[offset / kArenaBlock]).substr(offset % kArenaBlock, Length(cell));
    }
    case kLongTag:
      if (IsDate(cell)) return {};  // formed by ValueOf
      return longTexts_[static_cast<std::size_t>(cell >> 2)];
    default:
      return {};
  }
}

ResultRows::Word ResultRows::NewWord(std::string_view text) {
  if (const std::optional<int> number = PlainDecimal(text)) return NumberCell(*number);
  if (text.empty()) return kEmptyCell;
  if (std::uint64_t digits = 0; PackDateText(text, digits)) return DateCell(digits);
  if (text.size() > kMaxCellLength) {
    longTexts_.emplace_back(text);
    return (static_cast<std::uint64_t>(longTexts_.size() - 1) << 2) | kLongTag;
  }
  // A block is reserved whole and never grows past it, so `text` stays valid
  // even when it lies in the arena itself.
  if (arena_.empty() || arena_.back().size() + text.size() > kArenaBlock) {
    arena_.emplace_back();
    arena_.back().reserve(kArenaBlock);
  }
  const std::size_t offset = (arena_.size() - 1) * kArenaBlock + arena_.back().size();
  arena_.back().append(text);
  arenaBytes_ += text.size();
  return TextCell(offset, text.size());
}

void ResultRows::Release(Word cell) {
  if (Tag(cell) == kTextTag) wastedBytes_ += Length(cell);
  if (Tag(cell) == kLongTag && !IsDate(cell)) std::string().swap(longTexts_[static_cast<std::size_t>(cell >> 2)]);
}

void ResultRows::Compact() {
  const std::size_t deadSlots = slotCount_ - order_.size();
  if (wastedBytes_ <= arenaBytes_ / 2 && deadSlots <= order_.size() && wastedWords_ <= wordCount_ / 2) return;
  ResultRows packed;
  packed.order_.resize(order_.size());
  for (std::size_t r = 0; r < order_.size(); ++r) {
    const Slot& old = SlotAt(order_[r]);
    Slot slot{};
    for (std::size_t c = 0; c < slot.size(); ++c) {
      Word word = WordOf(old[c]);
      if (KeepsText(word)) word = packed.NewWord(TextOf(word));
      packed.Store(slot[c], word);
    }
    packed.order_[r] = packed.AddSlot(slot);
  }
  *this = std::move(packed);
}

void ResultRows::Insert(int row, std::string_view text) {
  Slot slot{};
  Store(slot[kColumnPosition], NewWord(text));
  order_.insert(order_.begin() + row, AddSlot(slot));
}

void ResultRows::Erase(int row) {
  for (const Cell cell : SlotAt(order_[static_cast<std::size_t>(row)])) {
    Release(WordOf(cell));
    DropWord(cell);
  }
  order_.erase(order_.begin() + row);
  CompactIfWasteful();
}

bool ResultRows::Set(int row, int column, std::string_view text) {
  Cell& cell = At(row, column);
  const Word word = WordOf(cell);
  if (const std::optional<int> number = PlainDecimal(text)) {
    if (word == NumberCell(*number)) return false;
    Release(word);
    Store(cell, NumberCell(*number));
  } else {
    if (Tag(word) != kNumberTag && ValueOf(word).text() == text) return false;
    if (Tag(word) == kTextTag && Length(word) >= text.size() && !text.empty()) {
      // The old place is this cell's alone: reuse it.
      std::memmove(arena_[Offset(word) / kArenaBlock].data() + Offset(word) % kArenaBlock, text.data(), text.size());
      wastedBytes_ += Length(word) - text.size();
      Store(cell, TextCell(Offset(word), text.size()));
      return true;
    }
    Release(word);
    Store(cell, NewWord(text));
  }
  CompactIfWasteful();
  return true;
}

CellValue ResultRows::ValueOf(Word cell) const {
  CellValue value;
  if (Tag(cell) == kNumberTag) {
    value.isNumber = true;
    value.number = NumberOf(cell);
  } else if (IsDate(cell)) {
    UnpackDateText(DateDigits(cell), value.formed);
    value.formedSize = sizeof value.formed;
  } else {
    value.kept = TextOf(cell);
  }
  return value;
}

CellValue ResultRows::Value(int row, int column) const { return ValueOf(WordOf(At(row, column))); }

std::string ResultRows::Get(int row, int column) const {
  const CellValue value = Value(row, column);
  return value.isNumber ? std::to_string(value.number) : std::string(value.text());
}

std::vector<int> ResultRows::SortedOrder(int column, int direction, bool asText) const {
  // The cells are read in slot order, which is mostly the order their texts
  // were added to the arena: reading them in row order after a sort would
  // wait for memory at nearly every cell.
  const std::size_t n = order_.size();
  constexpr std::uint32_t kNoRow = UINT32_MAX;
  std::vector<std::uint32_t> rowOfSlot(slotCount_, kNoRow);
  for (std::size_t r = 0; r < n; ++r) rowOfSlot[order_[r]] = static_cast<std::uint32_t>(r);
  auto forEachCell = [&](auto&& f) {
    for (std::size_t s = 0; s < slotCount_; ++s) {
      if (rowOfSlot[s] == kNoRow) continue;
      const Cell cell = SlotAt(static_cast<std::uint32_t>(s))[static_cast<std::size_t>(column)];
      f(rowOfSlot[s], ValueOf(WordOf(cell)));
    }
  };
  std::vector<Item> items(n);
  std::vector<Item> buffer;
  std::vector<int> order;
  order.reserve(n);
  if (!asText) {
    forEachCell([&](std::uint32_t row, const CellValue& value) {
      const int key = value.isNumber ? value.number : NumberSortKey(value.text(), column);
      std::uint32_t biased = static_cast<std::uint32_t>(key) ^ 0x80000000u;
      if (direction < 0) biased = ~biased;
      items[row] = {biased, 0, row, 0};
    });
    StableSortByKey(items.data(), items.size(), buffer);
    for (const Item& item : items) order.push_back(static_cast<int>(item.row));
    return order;
  }

  // Number cells in a text column compare by their decimal text, date cells
  // by theirs; both are formed here.
  std::deque<std::string> numberTexts;
  std::deque<std::array<char, DateField::kLength>> dateTexts;
  std::vector<std::string_view> texts(n);
  const std::uint64_t flip = direction < 0 ? ~std::uint64_t{0} : 0;
  forEachCell([&](std::uint32_t row, const CellValue& value) {
    std::string_view text = value.kept;
    if (value.isNumber) {
      text = numberTexts.emplace_back(std::to_string(value.number));
    } else if (value.formedSize != 0) {
      std::array<char, DateField::kLength>& formed = dateTexts.emplace_back();
      std::copy_n(value.formed, value.formedSize, formed.begin());
      text = std::string_view(formed.data(), value.formedSize);
    }
    texts[row] = text;
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
    items[row] = {Chunk(text, 0) ^ flip, Chunk(text, 1) ^ flip, row, length};
  });
  // Rows in row order, the empty ones apart: an empty cell counts as greater
  // than any text.
  std::vector<int> empty;
  std::size_t kept = 0;
  for (std::size_t r = 0; r < n; ++r) {
    if (items[r].length == 0) {
      empty.push_back(static_cast<int>(r));
    } else {
      items[kept++] = items[r];
    }
  }
  items.resize(kept);
  SortTexts(items, texts, flip);
  if (direction < 0) order = empty;
  for (const Item& item : items) order.push_back(static_cast<int>(item.row));
  if (direction >= 0) order.insert(order.end(), empty.begin(), empty.end());
  return order;
}

void ResultRows::Reorder(const std::vector<int>& order) {
  std::vector<std::uint32_t> slots(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) slots[i] = order_[static_cast<std::size_t>(order[i])];
  order_ = std::move(slots);
}

void ResultRows::GetRow(int row, ResultRow& cells) const {
  // Rows are mostly read one after another, and after a sort their slots,
  // words and texts lie anywhere: the processor is asked ahead for the slot
  // of a row a little further on, for the words of a nearer one (whose slot
  // has come in by then) and for the texts of a nearer one still.
  const auto ahead = [&](int distance) -> const Slot* {
    const std::size_t r = static_cast<std::size_t>(row) + static_cast<std::size_t>(distance);
    return r < order_.size() ? &SlotAt(order_[r]) : nullptr;
  };
  if (const Slot* far = ahead(12)) __builtin_prefetch(far);
  if (const Slot* middle = ahead(8)) {
    for (const Cell cell : *middle) {
      if ((cell & 3) == kWordTag) __builtin_prefetch(&WordAt(cell >> 2));
    }
  }
  if (const Slot* near = ahead(4)) {
    for (const Cell cell : *near) {
      if ((cell & 3) != kWordTag) continue;
      const Word word = WordAt(cell >> 2);
      if (Tag(word) == kTextTag) {
        const std::size_t offset = Offset(word);
        __builtin_prefetch(arena_[offset / kArenaBlock].data() + offset % kArenaBlock);
      }
    }
  }
  const Slot& slot = SlotAt(order_[static_cast<std::size_t>(row)]);
  char digits[16];
  for (std::size_t c = 0; c < slot.size(); ++c) {
    const CellValue value = ValueOf(WordOf(slot[c]));
    if (value.isNumber) {
      const auto end = std::to_chars(digits, digits + sizeof digits, value.number).ptr;
      cells[c].assign(digits, end);
    } else {
      cells[c].assign(value.text());
    }
  }
}

std::vector<ResultRow> ResultRows::ToTextRows() const {
  std::vector<ResultRow> rows(order_.size());
  for (std::size_t r = 0; r < rows.size(); ++r) GetRow(static_cast<int>(r), rows[r]);
  return rows;
}

void ResultRows::Assign(const std::vector<ResultRow>& rows, const std::vector<bool>& removed) {
  Clear();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r < removed.size() && removed[r]) continue;
    Slot slot{};
    for (std::size_t c = 0; c < slot.size(); ++c) Store(slot[c], NewWord(rows[r][c]));
    order_.push_back(AddSlot(slot));
  }
}

}  // namespace norvane
