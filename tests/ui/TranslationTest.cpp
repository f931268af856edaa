#include "UiTestSupport.h"

#include "menubar/MenuBarController.h"
#include "status/BatterySampling.h"
#include "status/SystemStatusMonitor.h"
#include "views/AboutWindowView.h"
#include "views/AppIconView.h"
#include "views/LowDiskSpacePromptView.h"
#include "views/MenuBarPanelView.h"
#include "views/PlainButton.h"
#include "views/Translations.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTranslator>

namespace kmb {
namespace {

using test::findNamed;
using test::labelText;

TEST(UiLanguage, TheFirstLanguageWithTextsDecides)
{
    const struct {
        QStringList languages;
        UiTranslation expected;
    } cases[] = {
        {{"en-US", "en-Latn-US", "en"}, UiTranslation::english},
        {{"en-GB", "en-Latn-GB"}, UiTranslation::english},
        {{"zh-CN", "zh-Hans-CN", "zh"}, UiTranslation::source},
        {{"zh-TW"}, UiTranslation::source},
        // LANG=C, LANG=POSIX or nothing set: Qt reports the C locale.
        {{"C"}, UiTranslation::source},
        {{}, UiTranslation::source},
        // No texts in German: the source texts, unless English is also on the list.
        {{"de-DE", "de-Latn-DE", "de"}, UiTranslation::source},
        {{"de", "de-Latn-DE", "de-DE", "en", "en-Latn-US", "en-US"}, UiTranslation::english},
        {{"zh-CN", "zh-Hans-CN", "zh", "en", "en-Latn-US", "en-US"}, UiTranslation::source},
        {{"C", "en"}, UiTranslation::english},
    };
    for (const auto& row : cases)
        EXPECT_EQ(translationFor(row.languages), row.expected)
            << row.languages.join(QLatin1Char(',')).toStdString();
}

// Characters of the source language: none may be left on screen in the English UI.
bool hasChinese(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// Every text a widget tree puts on screen or hands to a screen reader.
QStringList visibleTexts(const QWidget* root)
{
    QStringList texts;
    QList<const QWidget*> widgets{root};
    for (const QWidget* child : root->findChildren<QWidget*>())
        widgets << child;
    for (const QWidget* widget : widgets) {
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        texts << widget->accessibleName() << widget->accessibleDescription();
    }
    texts.removeAll(QString());
    return texts;
}

// Texts that do not fit are cut off at the label's edge: the English wording must fit
// the places the design gives the Chinese one.
void expectTextsFit(const QWidget* root)
{
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty())
            continue;
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->contentsRect().width())
                << label->objectName().toStdString() << ": " << line.toStdString();
    }
    for (const PlainTextButton* button : root->findChildren<PlainTextButton*>()) {
        if (!button->isVisibleTo(root))
            continue;
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width())
            << button->objectName().toStdString() << ": " << button->text().toStdString();
    }
}

class EnglishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        ASSERT_TRUE(translator.load(englishTranslationResource()))
            << "the English table is not embedded at "
            << englishTranslationResource().toStdString();
        ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    }
    void TearDown() override
    {
        QCoreApplication::removeTranslator(&translator);
        QLocale::setDefault(QLocale::system());
    }

    // A monitor with the widest figures the tiles normally show.
    std::unique_ptr<SystemStatusMonitor> wideMonitor()
    {
        auto sampler = std::make_unique<test::ChosenSampler>();
        sampler->memory = 999'000'000'000;
        sampler->volume =
            VolumeReading{QStringLiteral("Macintosh HD"), 999'990'000'000, 2'000'000'000'000};
        sampler->cleaned = 999'990'000'000;
        PowerSourceDescription onMains;
        onMains.currentCapacity = 100;
        onMains.maxCapacity = 100;
        onMains.powerSourceState = acPowerState();
        sampler->battery = batteryTexts(onMains);
        sampler->cpuLoad = QStringLiteral("100%");
        sampler->cpuTemperature = QStringLiteral("95°C");
        auto monitor = std::make_unique<SystemStatusMonitor>(std::move(sampler));
        monitor->refresh();
        return monitor;
    }

    QTranslator translator;
};

TEST_F(EnglishTest, DashboardReadsInEnglishAndNamesStay)
{
    auto monitor = wideMonitor();
    MenuBarPanelView panel(
        monitor.get(), [] {}, [] {}, [] { return nullptr; });
    panel.show();
    const auto card = [&panel](const char* name, const char* part) {
        return labelText(findNamed(&panel, name), part);
    };
    EXPECT_EQ(labelText(&panel, "headerTitle"), QStringLiteral("Korvanta"));
    EXPECT_EQ(labelText(&panel, "headerSubtitle"), QStringLiteral("Click to open Korvanta"));
    EXPECT_EQ(card("volumeCard", "cardTitle"), QStringLiteral("Macintosh HD"));
    EXPECT_EQ(card("volumeCard", "cardValue"), QStringLiteral("Free: 999.99 GB"));
    EXPECT_EQ(card("memoryCard", "cardTitle"), QStringLiteral("Memory"));
    EXPECT_EQ(card("batteryCard", "cardTitle"), QStringLiteral("Battery"));
    EXPECT_EQ(card("batteryCard", "cardValue"), QStringLiteral("Charged"));
    EXPECT_EQ(card("batteryCard", "cardDetail"), QStringLiteral("100%"));
    EXPECT_EQ(card("cpuCard", "cardTitle"), QStringLiteral("CPU"));
    EXPECT_EQ(card("cpuCard", "cardValue"), QStringLiteral("Load: 100%"));
    for (const char* name : {"volumeCard", "memoryCard"})
        EXPECT_EQ(findNamed<QAbstractButton>(findNamed(&panel, name), "cardButton")->text(),
                  QStringLiteral("Free Up"));
    EXPECT_EQ(labelText(&panel, "cleanedTotalText"),
              QStringLiteral("999.99 GB of junk cleaned so far"));
    EXPECT_EQ(findNamed(&panel, "settingsButton")->accessibleName(), QStringLiteral("Settings"));

    for (const QString& text : visibleTexts(&panel))
        EXPECT_FALSE(hasChinese(text)) << "untranslated: " << text.toStdString();
    expectTextsFit(&panel);
    test::saveGrab(panel.grab(), QStringLiteral("dashboard-en.png"));
}

TEST_F(EnglishTest, LowDiskPromptReadsInEnglish)
{
    LowDiskSpacePromptView prompt(
        QStringLiteral("Macintosh HD"), 12'340'000'000, 500'000'000'000, [] {}, [] {});
    prompt.show();
    EXPECT_EQ(labelText(&prompt, "promptHeadline"), QStringLiteral("Your disk is almost full!"));
    EXPECT_EQ(labelText(&prompt, "promptHint"),
              QStringLiteral("Remove unneeded items with Korvanta."));
    EXPECT_EQ(labelText(&prompt, "promptAvailable"), QStringLiteral("Free: 12.34 GB"));
    EXPECT_EQ(findNamed<QAbstractButton>(&prompt, "ignoreButton")->text(),
              QStringLiteral("Ignore"));
    EXPECT_EQ(findNamed<QAbstractButton>(&prompt, "openButton")->text(),
              QStringLiteral("Open Korvanta"));
    for (const QString& text : visibleTexts(&prompt))
        EXPECT_FALSE(hasChinese(text)) << "untranslated: " << text.toStdString();
    expectTextsFit(&prompt);
    test::saveGrab(prompt.grab(), QStringLiteral("prompt-en.png"));
}

TEST_F(EnglishTest, AboutWindowAndSettingsMenuReadInEnglish)
{
    AboutWindowView about(aboutVersionText(QStringLiteral("1.2.0"), QStringLiteral("37")),
                          appIconResource());
    about.show();
    EXPECT_EQ(labelText(&about, "aboutName"), QStringLiteral("Korvanta Menu Bar"));
    EXPECT_EQ(labelText(&about, "aboutVersion"), QStringLiteral("Version 1.2.0 (37)"));
    EXPECT_EQ(labelText(&about, "aboutCopyright").section(QLatin1Char('\n'), 1),
              QStringLiteral("All rights reserved."));
    for (const QString& text : visibleTexts(&about))
        EXPECT_FALSE(hasChinese(text)) << "untranslated: " << text.toStdString();
    expectTextsFit(&about);

    QTemporaryDir dir;
    MenuBarController::Dependencies dependencies;
    dependencies.sampler = std::make_unique<test::ChosenSampler>();
    dependencies.settingsPath = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    dependencies.useTray = false;
    MenuBarController controller(std::move(dependencies));
    controller.setupSettingsMenu();
    QStringList entries;
    for (const QAction* action : controller.settingsMenu()->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(entries,
              (QStringList{QStringLiteral("About Korvanta"), QStringLiteral("Send Feedback…"),
                           QStringLiteral("-"), QStringLiteral("Quit")}));
}

TEST_F(EnglishTest, BatteryTextsOfTheSamplerTranslate)
{
    PowerSourceDescription charging;
    charging.currentCapacity = 40;
    charging.maxCapacity = 100;
    charging.isCharging = true;
    EXPECT_EQ(batteryTexts(charging).statusText, QStringLiteral("Charging"));
    PowerSourceDescription onBattery = charging;
    onBattery.isCharging = false;
    EXPECT_EQ(batteryTexts(onBattery).statusText, QStringLiteral("On Battery"));
    EXPECT_EQ(batteryTexts(std::nullopt).statusText, QStringLiteral("Unavailable"));
    // The figure is no word: it reads the same in every language.
    EXPECT_EQ(batteryTexts(charging).percentText, QStringLiteral("40%"));
}

TEST(SourceTexts, WithoutATranslatorTheTextsAreShownAsWritten)
{
    // The table is embedded, yet nothing shows it until it is installed.
    QTranslator english;
    ASSERT_TRUE(english.load(englishTranslationResource()));
    LowDiskSpacePromptView prompt(
        QStringLiteral("data"), 1, 2, [] {}, [] {});
    EXPECT_EQ(labelText(&prompt, "promptHeadline"), QStringLiteral("磁盘空间快用完了！"));
    EXPECT_EQ(batteryTexts(std::nullopt).statusText, QStringLiteral("不可用"));
}

} // namespace
} // namespace kmb
