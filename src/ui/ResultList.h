// The result list: one row of nine text cells per image of the last search,
// sorted by any column on a header click, the user's way of choosing a pair.
#pragma once

#include <array>
#include <string>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include <QAbstractTableModel>
#include <QTreeView>

#include "search/ResultTable.h"
#include "search/SearchView.h"
#include "search/ResultRows.h"

namespace norvane::ui {

// Compares two cells of `column` for a sort in `direction` (+1 ascending,
// -1 descending). Text columns (name, date, partner name) compare lower-cased
// bytes as unsigned values, an empty cell counting as greater than any other.
// Number columns read each cell like "%d" (no leading number reads as 0); an
// empty cell stands for 999999 in the difference column and for -999999
// elsewhere. Returns direction, 0 or -direction for a greater, equal or smaller.
// The plain definition of the list order; the tests hold the sort against it.
int CompareCells(std::string_view a, std::string_view b, int column, int direction);

// The rows as a model of text cells for the list view. Every operation here
// sees all rows at once; the view may hear of rows appended while changes are
// held only at the next Announce.
class ResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list operations of the search. A row or column that does not exist
  // is ignored ("" read); an insert past the end appends.
  void DeleteAll();
  void InsertRow(int row, std::string_view text);
  void SetText(int row, int column, std::string_view text);
  std::string GetText(int row, int column) const;
  void DeleteRow(int row);
  int RowCount() const { return rows_.Count(); }

  // While changes are held, rows inserted at the end and cells changed are
  // told to the view in one notification at the next Announce (and when the
  // hold ends) rather than one per call: a search adds a million rows one
  // call at a time. Every other operation announces what is pending first.
  // The window holds changes during a search and announces before it lets
  // the view handle events, so the view is never behind when it paints.
  void HoldChanges(bool hold);
  void Announce();

  // The record a row names in `column` (kColumnPosition: its own record,
  // kColumnPartner: its partner), read with RecordOfCell: nullopt for a row
  // that names none of the `recordCount` records.
  std::optional<int> RecordOfRow(int row, std::size_t recordCount, int column = kColumnPosition) const;
  // The first row whose own record is `record`, or -1.
  int RowOfRecord(int record) const;

  // Runs `edit` on all rows at once: it may change cells and returns which
  // rows leave the list. The view is told once; the selection and the
  // current row follow the rows that stay.
  void EditRows(const std::function<std::vector<bool>(std::vector<ResultRow>&)>& edit);

  // Reorders every row by `column` in `direction` in the order CompareCells
  // defines (the sort itself works on precomputed keys); rows
  // that compare equal keep their order. Selection and current row follow
  // their rows.
  void SortRows(int column, int direction);

 private:
  bool Valid(int row, int column) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < kColumnCount;
  }

  // Moves the persistent indexes (selection, current row) of row r to
  // newRowOf[r], or drops them where that is -1.
  void FollowRows(const std::vector<int>& newRowOf);

  ResultRows rows_;
  int shown_ = 0;  // the rows the view knows of: the first shown_ rows
  bool hold_ = false;
  int changedFirst_ = -1;  // the rows with changes the view has not heard of
  int changedLast_ = -1;
};

// The list control itself.
class ResultList : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int kDirectionSlots = 16;

  explicit ResultList(QWidget* parent = nullptr);

  ResultModel& rows() { return model_; }
  const ResultModel& rows() const { return model_; }

  // Every column back to descending, as before the first sort.
  void ResetSortDirections();
  // Sorts by `column`: request > 0 ascending, < 0 descending, 0 the opposite
  // of the column's current direction.
  void SortByColumn(int column, int request);
  int SortDirection(int column) const;

  // The number of rows the last search produced; not lowered by deletions.
  void SetSearchRowCount(int n) { searchRowCount_ = n; }
  int SearchRowCount() const { return searchRowCount_; }

  // The selected row with the lowest index, or -1.
  int FirstSelectedRow() const;
  // Makes `row` the only selected row and the current (focused) one.
  void SelectRow(int row);
  // Keeps the selection drawn in its active colours without the focus.
  void KeepSelectionVisible();

  // Whether a header click sorts. A search writes cells by row number while
  // it pumps events; a sort in between would put its texts (the partner
  // position among them) into the wrong rows, so the window turns header
  // sorting off for the length of a search.
  void SetHeaderSortEnabled(bool enabled) { headerSortEnabled_ = enabled; }

 signals:
  // The first selected row's pair should be shown (a click, a step key).
  void pairRequested();
  // Keys A / S: open the left (0) or right (1) image in the viewer.
  void openRequested(int side);
  // Keys Q / W: move the left (0) or right (1) image.
  void moveRequested(int side);

 protected:
  // Keys act when released, like the list always has; releases that belong
  // to auto-repeat are ignored, so holding a key acts once.
  void keyReleaseEvent(QKeyEvent* event) override;
  // Typing a letter must not jump to another row: the letters are commands.
  void keyboardSearch(const QString&) override {}

 private:
  ResultModel model_;
  std::array<int, kDirectionSlots> sortDirection_{};
  int searchRowCount_ = 0;
  bool headerSortEnabled_ = true;
  int sortedColumn_ = -1;  // the column of the last sort, for the header's indicator
};

}  // namespace norvane::ui
