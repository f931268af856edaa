// A volume name too long for its place ends in "…" on the card, and shows whole once it fits.

#include "UiTestSupport.h"

#include "status/SystemStatusMonitor.h"
#include "views/MenuBarPanelView.h"

#include <QMenu>

using namespace kmb;

// Whole when it fits; otherwise a leading part of it and "…", within the label.
static void expectShown(const QLabel* label, const QString& name, bool elided)
{
    const QString shown = label->text();
    if (elided) {
        EXPECT_TRUE(shown.endsWith(u'…') && name.startsWith(shown.chopped(1)))
            << shown.toStdString();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width());
    } else {
        EXPECT_EQ(shown, name);
    }
    EXPECT_EQ(label->accessibleName(), name);
}

TEST(ElidingLabel, ALongVolumeNameIsElidedOnTheCardAndWholeAgainWhenItFits)
{
    const QString longName = QStringLiteral("Family photo archive and backups 2009–2024");
    auto* sampler = new test::ChosenSampler;
    SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
    QMenu menu;
    MenuBarPanelView panel{&monitor, [] {}, [] {}, [&menu] { return &menu; }};
    panel.show();
    for (const QString& name : {longName, QStringLiteral("home"), longName}) {
        sampler->volume = VolumeReading{name, 1'500'000'000, 500'000'000'000};
        monitor.refresh();
        QCoreApplication::processEvents();
        expectShown(test::findNamed<QLabel>(&panel, "cardTitle"), name, name == longName);
    }
    test::saveGrabs(&panel, QStringLiteral("dashboard-long-volume-name"));
}
