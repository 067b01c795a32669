// The language of the texts the user sees. Japanese is the default and the
// source of every text; English comes from the translation catalogue
// resources/i18n/norvane_en.ts, which the window loads through Qt and which
// is compiled into a table here for the core and the console.
#pragma once

#include <optional>
#include <string_view>

namespace norvane {

enum class Language { Japanese, English };

// "ja" or "japanese", "en" or "english", in any ASCII case; nothing else.
std::optional<Language> ParseLanguage(std::string_view text);

// Chooses the language for the rest of the run. Called once at start-up,
// before any other thread exists; afterwards the choice is only read.
void SetLanguage(Language language);

// The text to show for a Japanese source text: the text itself in Japanese,
// its translation in English. A text the catalogue lacks is shown as it is
// (a test makes sure every text of the program is in the catalogue).
std::string_view Localize(std::string_view japanese);

// The English translation of `japanese`, or nothing when the catalogue has
// none; independent of the chosen language.
std::optional<std::string_view> EnglishFor(std::string_view japanese);

}  // namespace norvane
