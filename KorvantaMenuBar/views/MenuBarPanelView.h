#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

class QMenu;

namespace kmb {

class CleanedTotalButton;
class MetricCard;
class PanelHeaderButton;
class SettingsMenuButton;
class SystemStatusMonitor;

// The dashboard shown in the tray popup: a header that opens Korvanta, four figure tiles and
// a footer with the cleaned total and the settings gear. Redrawn once per monitor pass while
// shown; brought up to date when it is shown again.
class MenuBarPanelView : public QWidget {
    Q_OBJECT

public:
    static constexpr int panelWidth = 420;
    static constexpr int panelHeight = 384;

    // quitMenuBar is kept for the owner; no control of the panel quits.
    MenuBarPanelView(SystemStatusMonitor* systemMonitor, std::function<void()> openApp,
                     std::function<void()> quitMenuBar, std::function<QMenu*()> settingsMenu,
                     QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void scheduleReload();
    void reload();

    QPointer<SystemStatusMonitor> m_monitor;
    std::function<void()> m_openApp;
    std::function<void()> m_quitMenuBar;
    PanelHeaderButton* m_header = nullptr;
    std::array<MetricCard*, 4> m_cards{};
    QWidget* m_footer = nullptr;
    CleanedTotalButton* m_cleanedTotal = nullptr;
    SettingsMenuButton* m_settings = nullptr;
    bool m_reloadPending = false;
    bool m_stale = false;
};

} // namespace kmb
