#include "search/SearchView.h"

#include <gtest/gtest.h>

#include "search/ResultTable.h"

namespace norvane {
namespace {

FileRecord Record(std::int32_t width, std::int32_t height, std::int32_t size) {
  FileRecord r;
  r.path = "/photos/夏/a.jpg";
  r.date = "2024/07/01 12:34:56";
  r.width = width;
  r.height = height;
  r.size = size;
  return r;
}

std::string Info(const FileRecord& record) { return InfoText(&record); }

TEST(SearchViewTest, InformationTextHasFourLines) {
  EXPECT_EQ(InfoText(nullptr), "");
  EXPECT_EQ(Info(Record(640, 480, 123456)),
            "/photos/夏/a.jpg\r\n2024/07/01 12:34:56\r\n( 640 * 480 )\r\n123456 BYTE ");
  // Not decoded: an empty third line; the size prints signed.
  EXPECT_EQ(Info(Record(0, 0, -2)), "/photos/夏/a.jpg\r\n2024/07/01 12:34:56\r\n\r\n-2 BYTE ");
  EXPECT_EQ(Info(Record(-1, 5, 7)), "/photos/夏/a.jpg\r\n2024/07/01 12:34:56\r\n\r\n7 BYTE ");
  // Long paths are never cut (the old text buffer held 512 bytes).
  FileRecord longPath = Record(1, 1, 1);
  longPath.path = "/" + std::string(3000, 'x');
  EXPECT_EQ(InfoText(&longPath).substr(0, 3001), longPath.path);
}

TEST(SearchViewTest, CellNumbersReadLikeScanfDecimal) {
  struct Case {
    const char* text;
    std::optional<int> value;
  };
  const Case cases[] = {
      {"17", 17},        {"  -4", -4},      {"+8x", 8},    {"12abc", 12},
      {"", std::nullopt}, {"x1", std::nullopt}, {"-", std::nullopt},
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ResultTableTest, BadPositionsAreIgnored) {
  ResultTable table;
  table.InsertRow(0, "0");
  table.InsertRow(100, "end");  // past the end appends
  table.InsertRow(-1, "never");
  table.SetText(2, 1, "x");
  table.SetText(0, kColumnCount, "x");
  table.DeleteRow(2);
  table.DeleteRow(-1);
  EXPECT_EQ(table.RowCount(), 2);
  EXPECT_EQ(table.GetText(1, 0), "end");
  EXPECT_EQ(table.GetText(0, kColumnCount), "");
  EXPECT_EQ(table.GetText(-1, 0), "");
}

TEST(ResultTableTest, SortByDifferenceIsNumericStableAndPutsEmptyLast) {
  ResultTable table;
  const char* differences[] = {"", "10", "9", "0", "", "9", "junk"};
  for (int i = 0; i < 7; ++i) {
    table.InsertRow(i, std::to_string(i));
    table.SetText(i, kColumnDifference, differences[i]);
  }
  table.SortByDifference();
  std::vector<std::string> order;
  for (const ResultRow& row : table.rows()) order.push_back(row[kColumnPosition]);
  // "junk" reads as 0; equal keys keep their order; empty texts go last.
  EXPECT_EQ(order, (std::vector<std::string>{"3", "6", "2", "5", "1", "0", "4"}));
}

}  // namespace
}  // namespace norvane
