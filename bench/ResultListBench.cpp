// The result list of the window with as many rows as a large search gives.
//   BM_FillList/N        the list operations of a search for N rows: insert,
//                        columns 1 to 8, on a shown list that holds its
//                        changes for the view as the window does during a
//                        search
//   BM_SortList/N/col    one header click's sort of N rows by a column
//                        (1 name, 2 size, 7 difference)
//   BM_BatchMove/N       the batch move's work on the list and the records
//                        for N rows where N/2 images go (the files are not
//                        touched: every move succeeds at once)
// The list is shown on Qt's offscreen platform, so the view's own work on
// inserted and reordered rows is part of the time.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include <QApplication>

#include "move/BatchMove.h"
#include "search/SearchView.h"
#include "ui/ResultList.h"

namespace norvane::ui {
namespace {

void FillRows(ResultList& list, int n) {
  std::mt19937 random(42);
  ResultModel& rows = list.rows();
  rows.HoldChanges(true);
  rows.DeleteAll();
  for (int i = 0; i < n; ++i) {
    rows.InsertRow(i, DecimalText(i));
    rows.SetText(i, kColumnName, "IMG_" + std::to_string(random() % 1000000) + ".jpg");
    rows.SetText(i, kColumnSize, DecimalText(random() % 5000000));
    rows.SetText(i, kColumnDate, "2024/05/17 12:34:56");
    rows.SetText(i, kColumnWidth, "4032");
    rows.SetText(i, kColumnHeight, "3024");
    if (random() % 4 != 0) {
      rows.SetText(i, kColumnPartnerName, "IMG_" + std::to_string(random() % 1000000) + ".jpg");
      rows.SetText(i, kColumnDifference, DecimalText(random() % 600));
      rows.SetText(i, kColumnPartner, DecimalText(random() % n));
    }
  }
  rows.HoldChanges(false);
}

void BM_FillList(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ResultList list;
  list.resize(700, 300);
  list.show();
  for (auto _ : state) {
    FillRows(list, n);
    QApplication::processEvents();  // the view lays out and paints the new rows
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FillList)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SortList(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int column = static_cast<int>(state.range(1));
  ResultList list;
  list.resize(700, 300);
  list.show();
  FillRows(list, n);
  list.SelectRow(n / 2);
  QApplication::processEvents();
  for (auto _ : state) {
    list.SortByColumn(column, 0);  // alternates like repeated header clicks
    QApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SortList)
    ->Args({100000, kColumnName})
    ->Args({100000, kColumnSize})
    ->Args({100000, kColumnDifference})
    ->Args({1000000, kColumnName})
    ->Args({1000000, kColumnSize})
    ->Args({1000000, kColumnDifference})
    ->Unit(benchmark::kMillisecond);

void BM_BatchMove(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ResultList list;
  list.resize(700, 300);
  list.show();
  FileList records(static_cast<std::size_t>(n));
  for (auto _ : state) {
    state.PauseTiming();
    // Rows in the first half pair with one of the second half, a few
    // images being the partner of many rows; the list is sorted by
    // difference, so every pair qualifies for limit 10.
    ResultModel& rows = list.rows();
    rows.DeleteAll();
    for (int i = 0; i < n; ++i) {
      records[static_cast<std::size_t>(i)].name = std::to_string(i);
      records[static_cast<std::size_t>(i)].partner = -1;
      rows.InsertRow(i, DecimalText(i));
      rows.SetText(i, kColumnName, std::to_string(i) + ".jpg");
      if (i < n / 2) {
        const int partner = n / 2 + (i % 7 == 0 ? 0 : i);
        records[static_cast<std::size_t>(i)].partner = partner;
        rows.SetText(i, kColumnPartnerName, std::to_string(partner) + ".jpg");
        rows.SetText(i, kColumnDifference, DecimalText(i % 11));
        rows.SetText(i, kColumnPartner, DecimalText(partner));
      }
    }
    list.SelectRow(n - 1);
    QApplication::processEvents();
    state.ResumeTiming();
    int moved = 0;
    rows.EditRows([&](std::vector<ResultRow>& cells) {
      BatchMoveResult result = BatchMove(cells, records, 10, kRightSide, [](const std::string&) {
        return MoveOutcome{true, {}, {}};
      });
      moved = result.moved;
      return std::move(result.removed);
    });
    QApplication::processEvents();  // the view lays the shorter list out
    benchmark::DoNotOptimize(moved);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_BatchMove)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace norvane::ui

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
