#include "views/MenuBarPanelView.h"

#include "status/SystemStatusMonitor.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kmb {

MenuBarPanelView::MenuBarPanelView(SystemStatusMonitor* systemMonitor,
                                   std::function<void()> openApp, std::function<void()> quitMenuBar,
                                   QWidget* parent)
    : QWidget(parent), m_monitor(systemMonitor), m_openApp(std::move(openApp)),
      m_quitMenuBar(std::move(quitMenuBar))
{
    setObjectName(QStringLiteral("MenuBarPanelView"));
    setFixedSize(panelWidth, panelHeight);
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("panelText"));
    layout->addWidget(m_text);
    if (m_monitor)
        connect(m_monitor, &SystemStatusMonitor::objectWillChange, this,
                &MenuBarPanelView::scheduleReload);
    reload();
}

void MenuBarPanelView::scheduleReload()
{
    // The notification precedes the store: read the monitor once control returns.
    if (m_reloadPending)
        return;
    m_reloadPending = true;
    QMetaObject::invokeMethod(this, &MenuBarPanelView::reload, Qt::QueuedConnection);
}

void MenuBarPanelView::reload()
{
    m_reloadPending = false;
    if (!m_monitor)
        return;
    m_text->setText(QStringList{
        m_monitor->diskName(), QString::number(m_monitor->availableDiskBytes()),
        QString::number(m_monitor->availableMemoryBytes()), m_monitor->batteryPercentText(),
        m_monitor->batteryStatusText(), m_monitor->cpuLoadText(), m_monitor->cpuTemperatureText(),
        QString::number(m_monitor->totalCleanedBytes())}
                        .join(QLatin1Char('\n')));
}

} // namespace kmb
