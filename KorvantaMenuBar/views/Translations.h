#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace kmb {

// The texts are written in Chinese; English is the one translation we ship.
enum class UiTranslation { source, english };

// Which texts a user with these languages (most preferred first, as
// QLocale::uiLanguages() lists them) gets: the first of them that we have texts for
// decides. Chinese means the texts as written, English the English table; anything else
// (German, the C locale, nothing at all) is passed over, and with no match the texts stay
// as written.
UiTranslation translationFor(const QStringList& uiLanguages);

// Where the compiled English table is embedded.
QString englishTranslationResource();

// Installs the English table into the application when the languages ask for it. Returns
// the choice that is in effect; a table that cannot be loaded leaves the source texts.
UiTranslation installTranslations(const QStringList& uiLanguages = QLocale::system().uiLanguages());

} // namespace kmb
