// The language of the window. Every text of the window is written in
// Japanese in the code and shown through Tr(), which looks it up in the
// English catalogue (resources/i18n/norvane_en.ts, compiled into the program)
// when English was chosen with the settings file's Language key.
#pragma once

#include <memory>
#include <string_view>

#include <QString>

#include "i18n/Texts.h"

class QTranslator;

namespace norvane::ui {

// The text to show for a Japanese source text, in the chosen language.
// Texts the catalogue does not hold (paths, system messages, texts the core
// already put into the chosen language) are shown as they are.
QString Tr(std::string_view japanese);

// Chooses the language of the window and the core for as long as it lives;
// afterwards Japanese applies again. Made before the first widget.
class WindowLanguage {
 public:
  explicit WindowLanguage(Language language);
  ~WindowLanguage();
  WindowLanguage(const WindowLanguage&) = delete;
  WindowLanguage& operator=(const WindowLanguage&) = delete;

 private:
  std::unique_ptr<QTranslator> translator_;
};

}  // namespace norvane::ui
