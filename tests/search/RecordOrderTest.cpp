#include "search/RecordOrder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestPictures.h"

namespace norvane {
namespace {

FileRecord Rec(const std::string& name, std::int32_t size, const std::string& date, std::int32_t width,
               std::int32_t height, const std::string& folder = "/f") {
  FileRecord r;
  r.folder = folder;
  r.name = name;
  r.path = folder + "/" + name;
  r.size = size;
  r.date = date;
  r.width = width;
  r.height = height;
  return r;
}

// A scan-ordered list: a sub-folder's files first, then the folder's own.
FileList ScanOrdered() {
  return {
      Rec("b.jpg", 300, "2024/01/02 10:00:00", 640, 480, "/f/sub"),
      Rec("d.jpg", 100, "2023/12/31 23:59:59", 0, 0, "/f/sub"),
      Rec("B.jpg", 300, "2024/01/02 10:00:00", 800, 600),
      Rec("a.jpg", 200, "2025/06/01 00:00:00", 320, 240),
      Rec("c.jpg", -5, "2024/01/02 09:59:59", 640, 1000),
  };
}

TEST(RecordOrderTest, EveryModeOrdersByItsKeyAndKeepsScanOrderAmongEqualKeys) {
  struct Case {
    int mode;
    std::vector<std::string> expected;
  };
  // "b.jpg" (sub-folder) and "B.jpg" share size and date: they must keep
  // their scan order under the size and date modes, in both directions.
  const Case cases[] = {
      {1, {"B.jpg", "a.jpg", "b.jpg", "c.jpg", "d.jpg"}},   // 'B' 0x42 before 'a' 0x61
      {3, {"c.jpg", "d.jpg", "a.jpg", "b.jpg", "B.jpg"}},   // size is signed: -5 first
      {4, {"b.jpg", "B.jpg", "a.jpg", "d.jpg", "c.jpg"}},
      {7, {"d.jpg", "a.jpg", "b.jpg", "c.jpg", "B.jpg"}},   // undecoded (width 0) first
      {8, {"B.jpg", "b.jpg", "c.jpg", "a.jpg", "d.jpg"}},   // b before c: equal width 640
      {10, {"c.jpg", "B.jpg", "b.jpg", "a.jpg", "d.jpg"}},  // undecoded last
  };
  for (const Case& c : cases) {
    FileList list = ScanOrdered();
    SortRecords(list, c.mode);
    EXPECT_EQ(test::NamesOf(list), c.expected) << "mode " << c.mode;
  }
}

TEST(RecordOrderTest, NamesCompareAsUnsignedBytesShorterFirst) {
  // Bytes of 0x80 and above sort after ASCII, as unsigned values.
  FileList list = {Rec("\xff", 1, "d", 1, 1), Rec("\xc3\xa9.jpg", 1, "d", 1, 1), Rec("z.jpg", 1, "d", 1, 1),
                   Rec("\x80.jpg", 1, "d", 1, 1), Rec("z", 1, "d", 1, 1)};
  const std::vector<std::string> ascending = {"z", "z.jpg", "\x80.jpg", "\xc3\xa9.jpg", "\xff"};
  SortRecords(list, 1);
  EXPECT_EQ(test::NamesOf(list), ascending);
  SortRecords(list, 2);
  EXPECT_EQ(test::NamesOf(list), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
}

}  // namespace
}  // namespace norvane
