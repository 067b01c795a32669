#include <gtest/gtest.h>

#include <string>

#include "settings/IniFile.h"

namespace norvane {
namespace {

TEST(IniFileLookup, ValuesLoseBlanksAndOnePairOfQuotes) {
  const IniFile file = IniFile::Parse(
      "[S]\r\n"
      "a=\"  spaced  \"\r\n"
      "b='x'\r\n"
      "c=\"unbalanced\r\n"
      "d=\r\n"
      "e=x=y\r\n"
      "no equals sign\r\n");
  EXPECT_EQ("  spaced  ", file.Get("S", "a"));
  EXPECT_EQ("x", file.Get("S", "b"));
  EXPECT_EQ("\"unbalanced", file.Get("S", "c"));
  EXPECT_EQ("", file.Get("S", "d"));
  EXPECT_EQ("x=y", file.Get("S", "e"));
  EXPECT_EQ(std::nullopt, file.Get("S", "no equals sign"));
}

TEST(IniFileUpdate, EveryValueReadsBackExactly) {
  IniFile file;
  for (const std::string value : {"", " lead", "trail\t", "\"quoted\"", "'single'", "\"", "a;b # c", "é/日本"}) {
    ASSERT_TRUE(file.Set("S", "k", value));
    EXPECT_EQ(value, file.Get("S", "k")) << "[" << value << "]";
    EXPECT_EQ(value, IniFile::Parse(file.Text()).Get("S", "k")) << "[" << value << "]";
  }
}

TEST(IniFileLookup, KeysAreFoundAndSetWithinTheirOwnSectionOnly) {
  const char* text = "k=0\n[AB]\nk=1\n[A]\nx=2\n[B]\nk=3\n[A]\nk=4\n";
  const IniFile file = IniFile::Parse(text);
  EXPECT_EQ(std::nullopt, file.Get("A", "k"));  // not from the next section, nor a later [A]
  EXPECT_EQ("3", file.Get("b", "K"));
  EXPECT_EQ("1", file.Get("AB", "k"));
  EXPECT_EQ(std::nullopt, file.Get("", "k"));
  IniFile changed = file;
  ASSERT_TRUE(changed.Set("A", "k", "9"));
  EXPECT_EQ("k=0\n[AB]\nk=1\n[A]\nx=2\nk=9\n[B]\nk=3\n[A]\nk=4\n", changed.Text());
}

}  // namespace
}  // namespace norvane
