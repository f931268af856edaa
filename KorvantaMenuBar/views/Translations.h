#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace kmb {

// The texts are written in Chinese; English is the one translation we ship.
enum class UiTranslation { source, english };

// The texts a user gets and the locale their figures are written in, so that a screen speaks
// one language: "0 字节" beside Chinese texts, "0 bytes" beside English ones.
struct UiLanguage {
    UiTranslation translation = UiTranslation::source;
    QLocale locale;
};

// For a user with these languages (most preferred first, as QLocale::uiLanguages() lists
// them): the first of them that we have texts for decides, Chinese meaning the texts as
// written and English the English table. A user who named only other languages (German,
// say) reads English sooner than Chinese; the C locale, or no language at all, keeps the
// texts as written. The locale is the user's own variant of the language chosen (en-GB),
// else Simplified Chinese of China or English of the United States.
UiLanguage uiLanguageFor(const QStringList& uiLanguages);

// Where the compiled English table is embedded.
QString englishTranslationResource();

// Puts the language for these UI languages in effect: installs the English table (or takes
// it out again) and makes the locale the default one, which the views format figures with.
// A table that cannot be loaded leaves the texts as written, with their locale. Returns the
// language in effect. Call it before any view is built.
UiLanguage installTranslations(const QStringList& uiLanguages = QLocale::system().uiLanguages());

} // namespace kmb
