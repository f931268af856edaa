#include "views/Translations.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

namespace kmb {

namespace {

// The source texts are Simplified Chinese: a Traditional Chinese user still gets their
// figures in the script of the texts.
QLocale sourceLocale(const QLocale& user)
{
    if (user.language() == QLocale::Chinese && user.script() == QLocale::SimplifiedHanScript)
        return user;
    return QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
}

} // namespace

UiLanguage uiLanguageFor(const QStringList& uiLanguages)
{
    bool namedAnotherLanguage = false;
    for (const QString& name : uiLanguages) {
        const QLocale locale(name);
        switch (locale.language()) {
        case QLocale::Chinese:
            return {UiTranslation::source, sourceLocale(locale)};
        case QLocale::English:
            return {UiTranslation::english, locale};
        case QLocale::C:
        case QLocale::AnyLanguage:
            break; // "C", "POSIX" and names Qt does not know
        default:
            namedAnotherLanguage = true;
            break;
        }
    }
    if (namedAnotherLanguage)
        return {UiTranslation::english, QLocale(QLocale::English, QLocale::UnitedStates)};
    return {UiTranslation::source, sourceLocale(QLocale::c())};
}

QString englishTranslationResource()
{
    return QStringLiteral(":/i18n/korvanta-menubar_en.qm");
}

UiLanguage installTranslations(const QStringList& uiLanguages)
{
    // Owned by the application; loaded once and kept for a later switch back to English.
    static QPointer<QTranslator> english;
    UiLanguage language = uiLanguageFor(uiLanguages);
    auto* app = QCoreApplication::instance();
    if (app && language.translation == UiTranslation::english && !english) {
        auto* translator = new QTranslator(app);
        if (translator->load(englishTranslationResource()))
            english = translator;
        else
            delete translator;
    }
    if (english)
        QCoreApplication::removeTranslator(english);
    if (language.translation == UiTranslation::english &&
        !(english && QCoreApplication::installTranslator(english)))
        language = uiLanguageFor({});
    QLocale::setDefault(language.locale);
    return language;
}

} // namespace kmb
