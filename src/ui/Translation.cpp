#include "ui/Translation.h"

#include <string>

#include <QCoreApplication>
#include <QTranslator>

// Resources of a static library must be registered by hand; outside any
// namespace, as Q_INIT_RESOURCE requires.
static void InitTranslationResources() { Q_INIT_RESOURCE(i18n); }

namespace norvane::ui {

namespace {
// The one context of the catalogue: every text is translated the same way
// wherever it appears.
constexpr const char* kContext = "Norvane";
}  // namespace

QString Tr(std::string_view japanese) {
  const std::string source(japanese);
  return QCoreApplication::translate(kContext, source.c_str());
}

WindowLanguage::WindowLanguage(Language language) {
  SetLanguage(language);
  if (language != Language::English) return;
  InitTranslationResources();
  auto translator = std::make_unique<QTranslator>();
  // The catalogue is compiled into the program, so it cannot go missing.
  if (translator->load(QStringLiteral(":/i18n/norvane_en.qm")) &&
      QCoreApplication::installTranslator(translator.get())) {
    translator_ = std::move(translator);
  }
}

WindowLanguage::~WindowLanguage() {
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
  SetLanguage(Language::Japanese);
}

}  // namespace norvane::ui
