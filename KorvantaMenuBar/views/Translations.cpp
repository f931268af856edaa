#include "views/Translations.h"

#include <QCoreApplication>
#include <QTranslator>

namespace kmb {

UiTranslation translationFor(const QStringList& uiLanguages)
{
    for (const QString& name : uiLanguages) {
        switch (QLocale(name).language()) {
        case QLocale::Chinese:
            return UiTranslation::source;
        case QLocale::English:
            return UiTranslation::english;
        default:
            break; // C, POSIX and languages we have no texts for
        }
    }
    return UiTranslation::source;
}

QString englishTranslationResource()
{
    return QStringLiteral(":/i18n/korvanta-menubar_en.qm");
}

UiTranslation installTranslations(const QStringList& uiLanguages)
{
    if (translationFor(uiLanguages) != UiTranslation::english)
        return UiTranslation::source;
    auto* app = QCoreApplication::instance();
    if (!app)
        return UiTranslation::source;
    // Owned by the application; installed once, before any view is built.
    static QTranslator* installed = nullptr;
    if (installed)
        return UiTranslation::english;
    auto* translator = new QTranslator(app);
    if (!translator->load(englishTranslationResource()) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return UiTranslation::source;
    }
    installed = translator;
    return UiTranslation::english;
}

} // namespace kmb
