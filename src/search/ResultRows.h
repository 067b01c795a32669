// The cells of the result list, stored compactly: a list holds one row per
// image of a search, a million rows for a large collection, and nine strings
// per row would cost a heap block per cell and about 300 bytes per row.
//
// Every cell is one 32-bit word: a number of up to 30 bits, or the place of
// the cell's own 64-bit word. A text that is a plain decimal within 32 bits
// ("0", "17", "-5", but not "007", "+5" or "-0") is kept as the number,
// which gives back exactly the same text; a text of the date shape
// "YYYY/MM/DD hh:mm:ss" is kept as its digits; other texts live in one
// shared character arena and the word holds their place and length. Rows are
// slots reached through an order array, so a sort moves four bytes per row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/SearchView.h"

namespace norvane {

// A row of the list as plain texts, one per column.
using ResultRow = std::array<std::string, kColumnCount>;

// The sort key of a number column's cell: the cell read like "%d" (a text
// without a leading number counts as 0); an empty cell stands for 999999 in
// the difference column, so that rows without a partner sort last, and for
// -999999 in the others.
int NumberSortKey(std::string_view cell, int column);

// What a cell holds: a number (its text is the decimal) or a text.
struct CellValue {
  bool isNumber = false;
  int number = 0;
  // The text: valid until the rows next change and while this value lives.
  std::string_view text() const { return formedSize != 0 ? std::string_view(formed, formedSize) : kept; }

  std::string_view kept;     // a text the rows keep as it is
  char formed[19];           // or one formed for this value (a date)
  std::uint8_t formedSize = 0;
};

class ResultRows {
 public:
  int Count() const { return static_cast<int>(order_.size()); }
  void Clear();
  // Inserts a row at `row` (0 .. Count()) whose column 0 holds `text`.
  void Insert(int row, std::string_view text);
  void Erase(int row);
  // Returns whether the cell's text changed. Row and column must exist.
  bool Set(int row, int column, std::string_view text);
  std::string Get(int row, int column) const;
  CellValue Value(int row, int column) const;

  // The order of a stable sort by `column` in `direction` (+1 ascending, -1
  // descending): entry i is the row that goes to position i. As text, cells
  // compare by their ASCII-lower-cased bytes as unsigned values, an empty
  // cell greater than any other; as numbers, by NumberSortKey.
  std::vector<int> SortedOrder(int column, int direction, bool asText) const;
  // Puts row order[i] at position i; `order` is a permutation of the rows.
  void Reorder(const std::vector<int>& order);

  // All rows as plain text rows, and back; one row into `row`, whose
  // strings keep their room.
  std::vector<ResultRow> ToTextRows() const;
  void GetRow(int row, ResultRow& cells) const;
  void Assign(const std::vector<ResultRow>& rows, const std::vector<bool>& removed);

 private:
  using Word = std::uint64_t;  // what a cell holds (see the source)
  using Cell = std::uint32_t;  // a small number, or the place of the cell's word
  using Slot = std::array<Cell, kColumnCount>;
  // Slots and texts are kept in blocks that never move, so that a growing
  // list never copies what it holds.
  static constexpr std::size_t kSlotBlock = 4096;
  static constexpr std::size_t kArenaBlock = std::size_t{1} << 20;
  static constexpr std::size_t kWordBlock = std::size_t{1} << 13;

  Slot& SlotAt(std::uint32_t slot) { return slots_[slot / kSlotBlock][slot % kSlotBlock]; }
  const Slot& SlotAt(std::uint32_t slot) const { return slots_[slot / kSlotBlock][slot % kSlotBlock]; }
  Cell& At(int row, int column) { return SlotAt(order_[static_cast<std::size_t>(row)])[static_cast<std::size_t>(column)]; }
  Cell At(int row, int column) const { return SlotAt(order_[static_cast<std::size_t>(row)])[static_cast<std::size_t>(column)]; }
  std::uint32_t AddSlot(const Slot& slot);
  Word WordOf(Cell cell) const;
  Word& WordAt(std::size_t i) { return words_[i / kWordBlock][i % kWordBlock]; }
  const Word& WordAt(std::size_t i) const { return words_[i / kWordBlock][i % kWordBlock]; }
  // Gives `cell` the value `word`, in the cell itself or in its own word.
  void Store(Cell& cell, Word word);
  void DropWord(Cell cell);
  std::string_view TextOf(Word word) const;  // a word kept in the arena or among the long texts
  CellValue ValueOf(Word word) const;
  Word NewWord(std::string_view text);
  void Release(Word word);
  void CompactIfWasteful() {
    if (wastedBytes_ > (std::size_t{1} << 20) || slotCount_ - order_.size() > 4096 ||
        wastedWords_ > (std::size_t{1} << 16)) {
      Compact();
    }
  }
  void Compact();

  std::vector<std::vector<Slot>> slots_;  // blocks of kSlotBlock slots
  std::size_t slotCount_ = 0;
  std::vector<std::uint32_t> order_;      // the slot of each row
  std::vector<std::string> arena_;        // blocks of the text cells' bytes
  std::size_t arenaBytes_ = 0;
  std::vector<std::string> longTexts_;    // texts too long for a block
  std::size_t wastedBytes_ = 0;           // arena bytes no cell refers to any more
  std::vector<std::vector<Word>> words_;  // blocks of kWordBlock words of cells that are not small numbers
  std::size_t wordCount_ = 0;
  std::size_t wastedWords_ = 0;           // words no cell refers to any more
};

}  // namespace norvane
