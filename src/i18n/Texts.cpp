#include "i18n/Texts.h"

#include "base/Ascii.h"

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

}  // namespace

std::optional<Language> ParseLanguage(std::string_view text) {
  if (EqualsIgnoringAsciiCase(text, "ja") || EqualsIgnoringAsciiCase(text, "japanese")) return Language::Japanese;
  if (EqualsIgnoringAsciiCase(text, "en") || EqualsIgnoringAsciiCase(text, "english")) return Language::English;
  return std::nullopt;
}

void SetLanguage(Language language) { g_language = language; }

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
