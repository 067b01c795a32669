#include "ui/ResultList.h"
#include "ui/Translation.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>

#include "base/Ascii.h"

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
  return parent.isValid() ? 0 : shown_;
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_ || !Valid(index.row(), index.column())) return {};
  if (role == Qt::DisplayRole) {
    const CellValue cell = rows_.Value(index.row(), index.column());
    if (cell.isNumber) return QString::number(cell.number);
    return QString::fromUtf8(cell.text().data(), static_cast<qsizetype>(cell.text().size()));
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

void ResultModel::HoldChanges(bool hold) {
  hold_ = hold;
  if (!hold_) Announce();
}

void ResultModel::Announce() {
  if (changedFirst_ >= 0) {
    emit dataChanged(index(changedFirst_, 0), index(changedLast_, kColumnCount - 1), {Qt::DisplayRole});
    changedFirst_ = changedLast_ = -1;
  }
  if (shown_ < RowCount()) {
    beginInsertRows(QModelIndex(), shown_, RowCount() - 1);
    shown_ = RowCount();
    endInsertRows();
  }
}

void ResultModel::DeleteAll() {
  if (RowCount() == 0) return;
  beginResetModel();
  rows_.Clear();
  shown_ = 0;
  changedFirst_ = changedLast_ = -1;
  endResetModel();
}

void ResultModel::InsertRow(int row, std::string_view text) {
  if (row < 0) return;
  const int at = std::min(row, RowCount());
  if (hold_ && at >= shown_) {
    rows_.Insert(at, text);
    return;
  }
  Announce();
  beginInsertRows(QModelIndex(), at, at);
  rows_.Insert(at, text);
  ++shown_;
  endInsertRows();
}

void ResultModel::SetText(int row, int column, std::string_view text) {
  if (!Valid(row, column) || !rows_.Set(row, column, text) || row >= shown_) return;
  if (hold_) {
    changedFirst_ = changedFirst_ < 0 ? row : std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
    return;
  }
  const QModelIndex changed = index(row, column);
  emit dataChanged(changed, changed, {Qt::DisplayRole});
}

std::string ResultModel::GetText(int row, int column) const {
  if (!Valid(row, column)) return {};
  return rows_.Get(row, column);
}

std::optional<int> ResultModel::RecordOfRow(int row, std::size_t recordCount, int column) const {
  if (!Valid(row, column)) return std::nullopt;
  const CellValue cell = rows_.Value(row, column);
  if (!cell.isNumber) return RecordOfCell(cell.text(), recordCount);
  // A number cell holds a plain decimal, which reads as its value.
  if (cell.number < 0 || static_cast<std::size_t>(cell.number) >= recordCount) return std::nullopt;
  return cell.number;
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
  if (row >= shown_) {
    rows_.Erase(row);
    return;
  }
  Announce();
  beginRemoveRows(QModelIndex(), row, row);
  rows_.Erase(row);
  --shown_;
  endRemoveRows();
}

void ResultModel::FollowRows(const std::vector<int>& newRowOf) {
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
}

void ResultModel::EditRows(const std::function<std::vector<bool>(std::vector<ResultRow>&)>& edit) {
  Announce();
  std::vector<ResultRow> rows = rows_.ToTextRows();
  const std::vector<bool> removed = edit(rows);
  emit layoutAboutToBeChanged();
  std::vector<int> newRowOf(rows.size(), -1);
  int kept = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r >= removed.size() || !removed[r]) newRowOf[r] = kept++;
  }
  rows_.Assign(rows, removed);
  shown_ = RowCount();
  FollowRows(newRowOf);
  emit layoutChanged();
}

void ResultModel::SortRows(int column, int direction) {
  if (column < 0 || column >= kColumnCount || RowCount() < 2) return;
  Announce();
  // The order matches CompareCells: text columns by lower-cased bytes, the
  // others by NumberSortKey, equal rows in their former order.
  const std::vector<int> order = rows_.SortedOrder(column, direction, IsTextColumn(column));
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  rows_.Reorder(order);
  std::vector<int> newRowOf(order.size());
  for (std::size_t r = 0; r < order.size(); ++r) newRowOf[static_cast<std::size_t>(order[r])] = static_cast<int>(r);
  FollowRows(newRowOf);
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
  model_.Announce();
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
