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

TEST(IniFileUpdate, ReplacesInPlaceAndKeepsEveryOtherByte) {
  const std::string before =
      "; my notes\r\n"
      "[General]\r\n"
      "  threshold = 5   ; old\r\n"
      "Mine=keep me\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1";
  IniFile file = IniFile::Parse(before);
  EXPECT_EQ(before, file.Text());
  ASSERT_TRUE(file.Set("GENERAL", "ThresHold", "42"));
  ASSERT_TRUE(file.Set("General", "New", "n"));
  ASSERT_TRUE(file.Set("Other", "y", "2"));
  ASSERT_TRUE(file.Set("WindowPos", "Left", "-3"));
  EXPECT_EQ(
      "; my notes\r\n"
      "[General]\r\n"
      "threshold=42\r\n"
      "Mine=keep me\r\n"
      "New=n\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n"
      "y=2\r\n"
      "\r\n"
      "[WindowPos]\r\n"
      "Left=-3\r\n",
      file.Text());
}

TEST(IniFileUpdate, EveryValueReadsBackExactly) {
  IniFile file;
  for (const std::string value : {"", " lead", "trail\t", "\"quoted\"", "'single'", "\"", "a;b # c", "é/日本"}) {
    ASSERT_TRUE(file.Set("S", "k", value));
    EXPECT_EQ(value, file.Get("S", "k")) << "[" << value << "]";
    EXPECT_EQ(value, IniFile::Parse(file.Text()).Get("S", "k")) << "[" << value << "]";
  }
}

TEST(IniFileUpdate, RefusesTextThatWouldBreakTheLineStructure) {
  IniFile file = IniFile::Parse("[S]\nk=1\n");
  EXPECT_FALSE(file.Set("S", "k", "2\nInjected=1"));
  EXPECT_FALSE(file.Set("S", "k", "2\rInjected=1"));
  EXPECT_FALSE(file.Set("S", "k", std::string("2\0x", 3)));
  EXPECT_FALSE(file.Set("S", "a=b", "1"));
  EXPECT_FALSE(file.Set("S]\n[T", "k", "1"));
  EXPECT_FALSE(file.Set("S", " ", "1"));
  EXPECT_EQ("[S]\nk=1\n", file.Text());
}

}  // namespace
}  // namespace norvane
