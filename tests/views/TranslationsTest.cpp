// Which texts a user's languages give, and the dashboard's words and figures under each.

#include "UiTestSupport.h"

#include "status/FallbackTexts.h"
#include "status/SystemStatusMonitor.h"
#include "views/MenuBarPanelView.h"
#include "views/Translations.h"

#include <QMenu>

using namespace kmb;

TEST(Translations, TheFirstLanguageWeHaveTextsForElseEnglishForAnyOtherLanguage)
{
    const struct {
        QStringList languages;
        UiTranslation translation;
        const char* locale;
    } rows[] = {{{"en-US"}, UiTranslation::english, "en_US"},
                {{"de-DE", "en-GB"}, UiTranslation::english, "en_GB"},
                {{"zh-CN", "en-US"}, UiTranslation::source, "zh_CN"},
                {{"de", "de-DE", "zh", "zh-Hans-CN"}, UiTranslation::source, "zh_CN"},
                {{"zh-TW"}, UiTranslation::source, "zh_CN"},
                {{"de-DE"}, UiTranslation::english, "en_US"},
                {{"C"}, UiTranslation::source, "zh_CN"},
                {{}, UiTranslation::source, "zh_CN"}};
    for (const auto& row : rows) {
        const UiLanguage language = uiLanguageFor(row.languages);
        EXPECT_EQ(language.translation, row.translation) << row.languages.join(',').toStdString();
        EXPECT_EQ(language.locale.name().toStdString(), row.locale)
            << row.languages.join(',').toStdString();
    }
}

TEST(Translations, TheDashboardSpeaksOneLanguage)
{
    const struct {
        QStringList languages;
        const char* grab;
        const char* texts[5]; // header hint, memory title, volume figure, memory figure, total
    } rows[] = {
        {{"C"},
         "dashboard-source",
         {"点击打开 Korvanta", "内存", "可用: 1.50 GB", "可用: 0 字节", "已累计清理 0 字节 垃圾"}},
        {{"en-US"},
         "dashboard-english",
         {"Click to open Korvanta", "Memory", "Free: 1.50 GB", "Free: 0 bytes",
          "0 bytes of junk cleaned so far"}}};
    const QLocale before;
    for (const auto& row : rows) {
        installTranslations(row.languages);
        auto* sampler = new test::ChosenSampler;
        sampler->memory = 0;
        sampler->battery = {QStringLiteral("—"), fallback::batteryUnavailable()};
        sampler->volume = VolumeReading{QStringLiteral("Data"), 1'500'000'000, 500'000'000'000};
        SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
        monitor.refresh();
        QMenu menu;
        MenuBarPanelView panel{&monitor, [] {}, [] {}, [&menu] { return &menu; }};
        panel.show();
        const QWidget* volume = test::findNamed(&panel, "volumeCard");
        const QWidget* memory = test::findNamed(&panel, "memoryCard");
        const QString shown[] = {
            test::labelText(&panel, "headerSubtitle"), test::labelText(memory, "cardTitle"),
            test::labelText(volume, "cardValue"), test::labelText(memory, "cardValue"),
            test::labelText(&panel, "cleanedTotalText")};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(shown[i], QString::fromUtf8(row.texts[i])) << row.grab;
        test::saveGrabs(&panel, QString::fromLatin1(row.grab));
    }
    installTranslations({QStringLiteral("C")}); // the texts as written again
    QLocale::setDefault(before);
}
