#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;

namespace kmb {

class SystemStatusMonitor;

// The dashboard shown in the tray popup: the monitor's figures, redrawn once per pass.
class MenuBarPanelView : public QWidget {
    Q_OBJECT

public:
    static constexpr int panelWidth = 420;
    static constexpr int panelHeight = 384;

    MenuBarPanelView(SystemStatusMonitor* systemMonitor, std::function<void()> openApp,
                     std::function<void()> quitMenuBar, QWidget* parent = nullptr);

private:
    void scheduleReload();
    void reload();

    QPointer<SystemStatusMonitor> m_monitor;
    std::function<void()> m_openApp;
    std::function<void()> m_quitMenuBar;
    QLabel* m_text = nullptr;
    bool m_reloadPending = false;
};

} // namespace kmb
