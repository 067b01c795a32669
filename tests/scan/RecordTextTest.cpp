#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "scan/FileRecord.h"
#include "scan/FolderScan.h"

namespace norvane {
namespace {

// Bytes of every value, a zero byte first or 0xff first, so that names of
// one seed are prefixes of each other across the inline/block boundary.
std::string Name(std::size_t length, unsigned seed) {
  std::string name(length, '\0');
  for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<char>((i * 97 + seed) & 0xff);
  return name;
}

void ExpectHolds(const NameField& field, const std::string& name) {
  EXPECT_EQ(field.view(), name);
  EXPECT_TRUE(field == name && field == std::string_view(name) && field.str() == name && std::string(field) == name);
  EXPECT_EQ(field.size(), name.size());
  EXPECT_EQ(field.empty(), name.empty());
  // A name of at most 15 bytes takes no heap block.
  const auto* at = reinterpret_cast<const char*>(&field);
  EXPECT_EQ(field.data() >= at && field.data() < at + sizeof field, name.size() <= NameField::kInline);
}

// A name field keeps any bytes exactly through every way of assigning it,
// compares and orders as its text does, and a record's path is folder, "/"
// and the name.
TEST(NameField, HoldsAnyBytesThroughAssignCopyAndMoveAndOrdersAsItsText) {
  std::vector<std::string> names;
  for (const std::size_t length : {0, 1, 2, 14, 15, 16, 17, 255, 4000}) {
    for (const unsigned seed : {0u, 255u}) names.push_back(Name(length, seed));
  }
  names.push_back("photo.jpg");
  for (const std::string& s : names) {
    SCOPED_TRACE(std::to_string(s.size()) + " bytes, the first " + std::to_string(s.empty() ? 0 : s[0] & 0xff));
    NameField a = s;
    ExpectHolds(a, s);
    NameField& alias = a;
    a = alias;
    ExpectHolds(a, s);
    a = std::move(alias);
    ExpectHolds(a, s);
    NameField copy = a;
    ExpectHolds(copy, s);
    NameField moved = std::move(copy);
    ExpectHolds(moved, s);
    std::string taken = s;
    moved = std::move(taken);
    ExpectHolds(moved, s);
    const std::string upToZero(s.c_str());
    ExpectHolds(NameField(s.c_str()), upToZero);
    EXPECT_EQ(a == s.c_str(), s == upToZero);

    FileRecord record;
    record.folder = "/f";
    record.name = std::string(s);
    std::ostringstream out;
    out << record.name;
    EXPECT_EQ(std::make_tuple(record.path(), "/f/" + record.name, record.name + "/", out.str()),
              std::make_tuple("/f/" + s, "/f/" + s, s + "/", s));

    for (const std::string& t : names) {
      NameField b = t;
      EXPECT_EQ(a == b, s == t);
      EXPECT_EQ(NameBefore(a, b), s < t) << t.size();
      b = a;  // over a name of every length
      ExpectHolds(b, s);
      a = t;
      ExpectHolds(a, t);
      a = b;
      ExpectHolds(a, s);
      b = t;
      moved = std::move(b);
      ExpectHolds(moved, t);
      moved = moved.view().substr(t.empty() ? 0 : 1);  // from its own bytes
      ExpectHolds(moved, t.substr(t.empty() ? 0 : 1));
    }
  }
}

}  // namespace
}  // namespace norvane
