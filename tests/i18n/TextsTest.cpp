#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "i18n/Texts.h"

namespace norvane {
namespace {

// Whether `text` holds a Japanese character: kana, CJK ideographs, the
// ideographic space, or the full- and half-width forms.
bool HasJapanese(std::string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if ((byte(0) & 0xF0) != 0xE0) continue;
    const unsigned code = ((byte(0) & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
    if ((code >= 0x3000 && code <= 0x9FFF) || (code >= 0xFF00 && code <= 0xFFEF)) return true;
  }
  return false;
}

// The string literals of a C++ source with \r \n \t \" \\ resolved; line
// comments and character literals such as '"' are skipped.
std::vector<std::string> StringLiterals(const std::string& code) {
  std::vector<std::string> literals;
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (code.compare(i, 2, "//") == 0 || code[i] == '\'') {
      i = code[i] == '/' ? code.find('\n', i) : code.find('\'', i + (code[i + 1] == '\\' ? 3 : 2));
      if (i == std::string::npos) break;
    } else if (code[i] == '"') {
      std::string& literal = literals.emplace_back();
      for (++i; i < code.size() && code[i] != '"'; ++i) {
        const char c = code[i] == '\\' ? code[++i] : '\0';
        literal += c == '\0' ? code[i] : c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
      }
    }
  }
  return literals;
}

TEST(TextsTest, EveryJapaneseTextOfTheProgramHasAnEnglishTranslation) {
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(NORVANE_SOURCE_DIR)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || !(path.ends_with(".cpp") || path.ends_with(".h"))) continue;
    std::stringstream code;
    code << std::ifstream(path, std::ios::binary).rdbuf();
    for (const std::string& literal : StringLiterals(code.str())) {
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
  EXPECT_EQ(ParseLanguage(""), std::nullopt);
  EXPECT_EQ(Localize("開始"), "開始");  // Japanese is the default
  SetLanguage(Language::English);
  EXPECT_EQ(Localize("開始"), "Start");
  // Line breaks and placeholders are kept.
  EXPECT_EQ(Localize("左画像\r\n%1\r\nを移動します。"), "The left image\r\n%1\r\nwill be moved.");
  EXPECT_EQ(Localize("not in the catalogue"), "not in the catalogue");
  SetLanguage(Language::Japanese);
  EXPECT_EQ(Localize("開始"), "開始");
}

}  // namespace
}  // namespace norvane
