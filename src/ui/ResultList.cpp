#include "ui/ResultList.h"
#include "ui/Translation.h"

#include <algorithm>
#include <numeric>

#include <QHeaderView>
#include <QKeyEvent>

#include "base/Ascii.h"
#include "move/BatchMove.h"

namespace norvane::ui {

namespace {

struct ColumnLook {
  Qt::Alignment alignment;
  int width;
};

// Alignment and pixel width of every column; columns 0 and 8 are hidden.
constexpr std::array<ColumnLook, kColumnCount> kColumnLook{{
    {Qt::AlignLeft, 0},
    {Qt::AlignLeft, 140},
    {Qt::AlignRight, 60},
    {Qt::AlignRight, 120},
    {Qt::AlignRight, 40},
    {Qt::AlignRight, 40},
    {Qt::AlignLeft, 140},
    {Qt::AlignRight, 60},
    {Qt::AlignRight, 0},
}};

bool IsTextColumn(int column) {
  return column == kColumnName || column == kColumnDate || column == kColumnPartnerName;
}


template <typename T>
int Sign(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int CompareCells(std::string_view a, std::string_view b, int column, int direction) {
  if (IsTextColumn(column)) {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return direction;
    if (b.empty()) return -direction;
    // std::string compares its bytes as unsigned char.
    const int order = LowerAscii(a).compare(LowerAscii(b));
    return order > 0 ? direction : (order < 0 ? -direction : 0);
  }
  return Sign(NumberSortKey(a, column), NumberSortKey(b, column)) * direction;
}

// --- ResultModel -------------------------------------------------------------

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !Valid(index.row(), index.column())) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromUtf8(rows_[index.row()][index.column()]);
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(kColumnLook[index.column()].alignment | Qt::AlignVCenter);
  }
  return {};
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) {
    const std::string_view heading = kColumnHeadings[section];
    return Tr(heading);
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(kColumnLook[section].alignment | Qt::AlignVCenter);
  }
  return {};
}

void ResultModel::DeleteAll() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void ResultModel::InsertRow(int row, std::string_view text) {
  if (row < 0) return;
  const int at = std::min(row, RowCount());
  beginInsertRows(QModelIndex(), at, at);
  ResultRow cells;
  cells[kColumnPosition] = std::string(text);
  rows_.insert(rows_.begin() + at, std::move(cells));
  endInsertRows();
}

void ResultModel::SetText(int row, int column, std::string_view text) {
  if (!Valid(row, column)) return;
  std::string& cell = rows_[row][column];
  if (cell == text) return;
  cell.assign(text);
  const QModelIndex changed = index(row, column);
  emit dataChanged(changed, changed, {Qt::DisplayRole});
}

std::string ResultModel::GetText(int row, int column) const {
  if (!Valid(row, column)) return {};
  return rows_[row][column];
}

std::optional<int> ResultModel::RecordOfRow(int row, std::size_t recordCount, int column) const {
  if (!Valid(row, column)) return std::nullopt;
  return RecordOfCell(rows_[row][column], recordCount);
}

int ResultModel::RowOfRecord(int record) const {
  if (record < 0) return -1;
  const auto count = static_cast<std::size_t>(record) + 1;
  for (int row = 0; row < RowCount(); ++row) {
    if (RecordOfRow(row, count) == record) return row;
  }
  return -1;
}

void ResultModel::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void ResultModel::EditRows(const std::function<std::vector<bool>(std::vector<ResultRow>&)>& edit) {
  const std::vector<bool> removed = edit(rows_);
  emit layoutAboutToBeChanged();
  std::vector<int> newRowOf(rows_.size(), -1);
  int kept = 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (r >= removed.size() || !removed[r]) newRowOf[r] = kept++;
  }
  RemoveMarkedRows(rows_, removed);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    const int row = index.isValid() && static_cast<std::size_t>(index.row()) < newRowOf.size()
                        ? newRowOf[static_cast<std::size_t>(index.row())]
                        : -1;
    to.push_back(row >= 0 ? this->index(row, index.column()) : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged();
}

void ResultModel::SortRows(int column, int direction) {
  if (column < 0 || column >= kColumnCount || rows_.size() < 2) return;
  const int n = RowCount();
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);

  // Keys are formed once per row instead of once per comparison; they order
  // exactly as CompareCells does.
  if (IsTextColumn(column)) {
    std::vector<std::string> keys(rows_.size());
    for (int i = 0; i < n; ++i) keys[i] = LowerAscii(rows_[i][column]);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      const std::string& ka = keys[a];
      const std::string& kb = keys[b];
      int cmp;
      if (ka.empty() || kb.empty()) {
        cmp = Sign(ka.empty(), kb.empty());  // empty counts as greater
      } else {
        const int c = ka.compare(kb);
        cmp = c < 0 ? -1 : (c > 0 ? 1 : 0);
      }
      return cmp * direction < 0;
    });
  } else {
    std::vector<int> keys(rows_.size());
    for (int i = 0; i < n; ++i) keys[i] = NumberSortKey(rows_[i][column], column);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return Sign(keys[a], keys[b]) * direction < 0;
    });
  }

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<ResultRow> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> newRowOf(rows_.size());
  for (int r = 0; r < n; ++r) {
    sorted.push_back(std::move(rows_[order[r]]));
    newRowOf[order[r]] = r;
  }
  rows_ = std::move(sorted);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    to.push_back(index.isValid() && index.row() < n ? this->index(newRowOf[index.row()], index.column())
                                                    : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// --- ResultList --------------------------------------------------------------

ResultList::ResultList(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // keeps 100,000 rows cheap to lay out
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);  // sorting is ours: per-column directions
  header()->setSectionsClickable(true);
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  header()->setSortIndicatorShown(false);
  for (int c = 0; c < kColumnCount; ++c) setColumnWidth(c, kColumnLook[c].width);
  // A date is always 19 characters wide; fonts wider than the design's still
  // show it whole.
  setColumnWidth(kColumnDate,
                 std::max(kColumnLook[kColumnDate].width,
                          fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00:00")) + 14));
  setColumnHidden(kColumnPosition, true);
  setColumnHidden(kColumnPartner, true);
  ResetSortDirections();

  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (headerSortEnabled_) {
      SortByColumn(column, 0);
    } else if (sortedColumn_ >= 0) {
      // The header flips its indicator by itself; put it back.
      header()->setSortIndicator(sortedColumn_, SortDirection(sortedColumn_) > 0
                                                    ? Qt::AscendingOrder
                                                    : Qt::DescendingOrder);
    } else {
      header()->setSortIndicatorShown(false);
    }
  });
  connect(this, &QAbstractItemView::clicked, this, [this] { emit pairRequested(); });
}

void ResultList::ResetSortDirections() { sortDirection_.fill(-1); }

int ResultList::SortDirection(int column) const {
  return column >= 0 && column < kDirectionSlots ? sortDirection_[column] : 0;
}

void ResultList::SortByColumn(int column, int request) {
  if (column < 0 || column >= kColumnCount) return;
  int& d = sortDirection_[column];
  d = request > 0 ? 1 : (request < 0 ? -1 : -d);
  model_.SortRows(column, d);
  sortedColumn_ = column;
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(column, d > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int ResultList::CompareRows(int a, int b, int column) const {
  return CompareCells(model_.GetText(a, column), model_.GetText(b, column), column,
                      SortDirection(column));
}

int ResultList::FirstSelectedRow() const {
  const QItemSelectionModel* selection = selectionModel();
  if (selection == nullptr) return -1;
  int first = -1;
  // Ranges, not indexes: a selection of 100,000 rows is a handful of ranges.
  for (const QItemSelectionRange& range : selection->selection()) {
    if (first < 0 || range.top() < first) first = range.top();
  }
  return first;
}

void ResultList::SelectRow(int row) {
  if (row < 0 || row >= model_.RowCount()) return;
  const QModelIndex index = model_.index(row, kColumnName);
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

void ResultList::KeepSelectionVisible() {
  QPalette look = palette();
  look.setColor(QPalette::Inactive, QPalette::Highlight,
                look.color(QPalette::Active, QPalette::Highlight));
  look.setColor(QPalette::Inactive, QPalette::HighlightedText,
                look.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(look);
}

void ResultList::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) {
    event->accept();
    return;
  }
  switch (event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Up:
    case Qt::Key_Down:
      QTreeView::keyReleaseEvent(event);
      emit pairRequested();
      return;
    case Qt::Key_A:
      emit openRequested(kLeftSide);
      break;
    case Qt::Key_S:
      emit openRequested(kRightSide);
      break;
    case Qt::Key_Q:
      emit moveRequested(kLeftSide);
      break;
    case Qt::Key_W:
      emit moveRequested(kRightSide);
      break;
    default:
      QTreeView::keyReleaseEvent(event);
      return;
  }
  event->accept();
}

}  // namespace norvane::ui
