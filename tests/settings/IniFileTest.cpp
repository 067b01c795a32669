#include <gtest/gtest.h>

#include <string>

#include "settings/IniFile.h"

namespace norvane {
namespace {

TEST(IniFileLookup, NamesIgnoreAsciiCaseAndFirstSectionAndKeyWin) {
  const IniFile file = IniFile::Parse(
      "Orphan=before any section\n"
      "[ general ]  ; trailing note\n"
      "  thresHOLD =  7 \t\n"
      "ThresHold=8\n"
      "[General]\n"
      "ThresHold=9\n"
      "Extra=only in the second\n"
      "[Broken\n"
      "Key=in General still\n");
  EXPECT_EQ("7", file.Get("General", "ThresHold"));
  EXPECT_EQ(std::nullopt, file.Get("General", "Extra"));
  EXPECT_EQ(std::nullopt, file.Get("General", "Orphan"));
  // A "[" line without "]" is not a header, so its lines stay in the section before.
  EXPECT_EQ(std::nullopt, file.Get("Broken", "Key"));
  EXPECT_EQ(std::nullopt, file.Get("Other", "ThresHold"));
  EXPECT_EQ("1", IniFile::Parse("\xEF\xBB\xBF[General]\nA=1\n").Get("General", "A"));
}

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

}  // namespace
}  // namespace norvane
