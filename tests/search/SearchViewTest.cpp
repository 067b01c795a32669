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

}  // namespace
}  // namespace norvane
