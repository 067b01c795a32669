#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "i18n/Texts.h"

namespace norvane {
namespace {

// Whether `text` holds a Japanese character: kana, CJK ideographs, the
// ideographic space, or the full- and half-width forms.
bool HasJapanese(const std::string& text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if ((b0 & 0xF0) != 0xE0) continue;
    const unsigned code = ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
    if ((code >= 0x3000 && code <= 0x9FFF) || (code >= 0xFF00 && code <= 0xFFEF)) return true;
  }
  return false;
}

// The string literals of a C++ source, escapes \r \n \" \\ resolved;
// comments are skipped.
std::vector<std::string> StringLiterals(const std::string& code) {
  std::vector<std::string> literals;
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (code.compare(i, 2, "//") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    if (code[i] == '\'') {  // a character literal such as '"'
      i = code.find('\'', i + (code[i + 1] == '\\' ? 3 : 2));
      if (i == std::string::npos) break;
      continue;
    }
    if (code[i] != '"') continue;
    std::string literal;
    for (++i; i < code.size() && code[i] != '"'; ++i) {
      if (code[i] != '\\') {
        literal += code[i];
        continue;
      }
      const char e = code[++i];
      literal += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
    }
    literals.push_back(literal);
  }
  return literals;
}

TEST(TextsTest, EveryJapaneseTextOfTheProgramHasAnEnglishTranslation) {
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(NORVANE_SOURCE_DIR)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || !(path.ends_with(".cpp") || path.ends_with(".h"))) continue;
    std::ifstream in(path, std::ios::binary);
    std::stringstream code;
    code << in.rdbuf();
    for (const std::string& literal : StringLiterals(code.str())) {
      if (!HasJapanese(literal)) continue;
      ++seen;
      const std::optional<std::string_view> english = EnglishFor(literal);
      EXPECT_TRUE(english && !english->empty() && !HasJapanese(std::string(*english)))
          << path << ": no English for \"" << literal << "\"";
    }
  }
  // The window, its dialogs and the search show more than forty texts.
  EXPECT_GE(seen, 40);
}

TEST(TextsTest, TheChosenLanguageDecidesWhatIsShown) {
  EXPECT_EQ(ParseLanguage("EN"), Language::English);
  EXPECT_EQ(ParseLanguage("japanese"), Language::Japanese);
  EXPECT_EQ(ParseLanguage("de"), std::nullopt);
  EXPECT_EQ(ParseLanguage(""), std::nullopt);

  EXPECT_EQ(Localize("開始"), "開始");  // Japanese is the default
  SetLanguage(Language::English);
  EXPECT_EQ(Localize("開始"), "Start");
  // Texts with line breaks and placeholders keep them.
  EXPECT_EQ(Localize("左画像\r\n%1\r\nを移動します。"), "The left image\r\n%1\r\nwill be moved.");
  EXPECT_EQ(Localize("not in the catalogue"), "not in the catalogue");
  SetLanguage(Language::Japanese);
  EXPECT_EQ(Localize("開始"), "開始");
}

}  // namespace
}  // namespace norvane
