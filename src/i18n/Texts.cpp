#include "i18n/Texts.h"

#include <algorithm>
#include <array>
#include <utility>

namespace norvane {

namespace {

struct Translation {
  std::string_view source;
  std::string_view english;
};

constexpr Translation kTranslations[] = {
#include "i18n/TranslationTable.inc"
};

Language g_language = Language::Japanese;

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

std::optional<Language> ParseLanguage(std::string_view text) {
  if (EqualsIgnoreAsciiCase(text, "ja") || EqualsIgnoreAsciiCase(text, "japanese")) return Language::Japanese;
  if (EqualsIgnoreAsciiCase(text, "en") || EqualsIgnoreAsciiCase(text, "english")) return Language::English;
  return std::nullopt;
}

void SetLanguage(Language language) { g_language = language; }

Language CurrentLanguage() { return g_language; }

std::optional<std::string_view> EnglishFor(std::string_view japanese) {
  for (const Translation& t : kTranslations) {
    if (t.source == japanese) return t.english;
  }
  return std::nullopt;
}

std::string_view Localize(std::string_view japanese) {
  if (g_language == Language::Japanese) return japanese;
  return EnglishFor(japanese).value_or(japanese);
}

}  // namespace norvane
