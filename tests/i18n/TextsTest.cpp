#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "i18n/Texts.h"

namespace norvane {
namespace {

// Whether `text` holds a Japanese character in UTF-8: U+3000 to U+9FFF (the
// ideographic space, kana, CJK ideographs) or U+FF00 to U+FFFF (the full- and
// half-width forms).
bool HasJapanese(std::string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]), next = static_cast<unsigned char>(text[i + 1]);
    if ((lead >= 0xE3 && lead <= 0xE9) || (lead == 0xEF && next >= 0xBC)) return true;
  }
  return false;
}

// The string literals of a C++ source with \r \n \t \" resolved; line
// comments and character literals such as '"' are skipped.
std::vector<std::string> StringLiterals(const std::string& code) {
  static const std::regex token(R"re(//[^\n]*|'\\?.'|"((\\.|[^"\\])*)")re");
  std::vector<std::string> literals;
  for (std::sregex_iterator m(code.begin(), code.end(), token), end; m != end; ++m) {
    if (!(*m)[1].matched) continue;
    std::string& literal = literals.emplace_back((*m)[1]);
    for (const auto& [escape, c] : {std::pair{"\\r", '\r'}, {"\\n", '\n'}, {"\\t", '\t'}, {"\\\"", '"'}}) {
      for (std::size_t at; (at = literal.find(escape)) != std::string::npos;) literal.replace(at, 2, 1, c);
    }
  }
  return literals;
}

TEST(TextsTest, EveryJapaneseTextOfTheProgramHasAnEnglishTranslation) {
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(NORVANE_SOURCE_DIR)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || !(path.ends_with(".cpp") || path.ends_with(".h"))) continue;
    std::ifstream in(path, std::ios::binary);
    for (const std::string& literal : StringLiterals(std::string(std::istreambuf_iterator<char>(in), {}))) {
      if (!HasJapanese(literal)) continue;
      ++seen;
      const std::optional<std::string_view> english = EnglishFor(literal);
      EXPECT_TRUE(english && !english->empty() && !HasJapanese(*english))
          << path << ": no English for \"" << literal << "\"";
    }
  }
  EXPECT_GE(seen, 40);  // the window, its dialogs and the search show more than forty
}

TEST(TextsTest, TheChosenLanguageDecidesWhatIsShown) {
  EXPECT_EQ(ParseLanguage("EN"), Language::English);
  EXPECT_EQ(ParseLanguage("japanese"), Language::Japanese);
  EXPECT_EQ(ParseLanguage("de"), std::nullopt);
  EXPECT_EQ(Localize("開始"), "開始");  // Japanese is the default
  SetLanguage(Language::English);
  // Line breaks and placeholders are kept; a text without translation stays.
  EXPECT_EQ(Localize("左画像\r\n%1\r\nを移動します。"), "The left image\r\n%1\r\nwill be moved.");
  EXPECT_EQ(Localize("not in the catalogue"), "not in the catalogue");
  SetLanguage(Language::Japanese);
  EXPECT_EQ(Localize("開始"), "開始");
}

}  // namespace
}  // namespace norvane
