#include "views/MenuBarPanelView.h"

#include "status/SystemStatusMonitor.h"
#include "views/AppIconView.h"
#include "views/MetricCard.h"
#include "views/Palette.h"
#include "views/PanelButtons.h"
#include "views/PanelContent.h"
#include "views/SettingsMenuButton.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace kmb {

namespace {
constexpr int padding = 14;
constexpr int sectionSpacing = 14;
constexpr int cardSpacing = 12;
constexpr int hairlineGap = 8; // the separator sits this far above the footer

const char* const cardNames[] = {"volumeCard", "memoryCard", "batteryCard", "cpuCard"};
} // namespace

MenuBarPanelView::MenuBarPanelView(SystemStatusMonitor* systemMonitor,
                                   std::function<void()> openApp, std::function<void()> quitMenuBar,
                                   std::function<QMenu*()> settingsMenu, QWidget* parent)
    : QWidget(parent), m_monitor(systemMonitor), m_openApp(std::move(openApp)),
      m_quitMenuBar(std::move(quitMenuBar))
{
    setObjectName(QStringLiteral("MenuBarPanelView"));
    setFixedSize(panelWidth, panelHeight);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(padding, padding, padding, padding);
    root->setSpacing(sectionSpacing);

    const auto open = [this] {
        if (m_openApp)
            m_openApp();
    };

    m_header = new PanelHeaderButton(appIconResource(), this);
    m_header->setObjectName(QStringLiteral("headerButton"));
    connect(m_header, &QAbstractButton::clicked, this, open);
    root->addWidget(m_header);

    const auto contents = panelCards(PanelFigures{}, open);
    for (int row = 0; row < 2; ++row) {
        auto* cards = new QHBoxLayout;
        cards->setSpacing(cardSpacing);
        for (int column = 0; column < 2; ++column) {
            const int index = row * 2 + column;
            m_cards[index] = new MetricCard(contents[index], this);
            m_cards[index]->setObjectName(QLatin1String(cardNames[index]));
            cards->addWidget(m_cards[index]);
        }
        root->addLayout(cards);
    }
    root->addSpacerItem(new QSpacerItem(0, 2, QSizePolicy::Minimum, QSizePolicy::Expanding));

    m_footer = new QWidget(this);
    m_footer->setObjectName(QStringLiteral("panelFooter"));
    auto* footer = new QHBoxLayout(m_footer);
    footer->setContentsMargins(2, 2, 2, 0);
    footer->setSpacing(cardSpacing);
    m_cleanedTotal = new CleanedTotalButton(m_footer);
    m_cleanedTotal->setObjectName(QStringLiteral("cleanedTotalButton"));
    connect(m_cleanedTotal, &QAbstractButton::clicked, this, open);
    footer->addWidget(m_cleanedTotal, 1);
    m_settings = new SettingsMenuButton(std::move(settingsMenu), m_footer);
    m_settings->setObjectName(QStringLiteral("settingsButton"));
    m_settings->setFixedSize(SettingsMenuButton::slotSize, SettingsMenuButton::slotSize);
    footer->addWidget(m_settings, 0, Qt::AlignCenter);
    root->addWidget(m_footer);

    if (m_monitor)
        connect(m_monitor, &SystemStatusMonitor::objectWillChange, this,
                &MenuBarPanelView::scheduleReload);
    reload();
}

void MenuBarPanelView::scheduleReload()
{
    // Closed, the dashboard only notes that its figures are out of date: it spends nothing
    // per pass while it sits in the tray, and showEvent catches up before the first paint.
    if (!isVisible()) {
        m_stale = true;
        return;
    }
    // The notification precedes the store, and a pass sends nine of them: read the monitor
    // once, when control is back in the event loop.
    if (m_reloadPending)
        return;
    m_reloadPending = true;
    QMetaObject::invokeMethod(this, &MenuBarPanelView::reload, Qt::QueuedConnection);
}

void MenuBarPanelView::showEvent(QShowEvent* event)
{
    if (m_stale)
        reload();
    QWidget::showEvent(event);
}

void MenuBarPanelView::reload()
{
    m_reloadPending = false;
    m_stale = false;
    const PanelFigures figures = m_monitor ? readPanelFigures(*m_monitor) : PanelFigures{};
    const auto open = [this] {
        if (m_openApp)
            m_openApp();
    };
    const auto contents = panelCards(figures, open);
    for (std::size_t index = 0; index < m_cards.size(); ++index)
        m_cards[index]->setContent(contents[index]);
    m_cleanedTotal->setTotalText(cleanedTotalText(figures.totalCleanedBytes));
}

void MenuBarPanelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(QPointF(0, 0), QPointF(width(), height()));
    background.setColorAt(0, palette::panelGradientStart());
    background.setColorAt(1, palette::panelGradientEnd());
    painter.fillRect(rect(), background);

    const QRect footer = m_footer->geometry();
    painter.fillRect(QRectF(footer.x(), footer.y() - hairlineGap, footer.width(), 1),
                     palette::footerHairline());
}

} // namespace kmb
