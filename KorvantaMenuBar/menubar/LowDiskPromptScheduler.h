#pragma once

#include "menubar/DayRecordStore.h"
#include "menubar/PopupWindow.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace kmb {

class SystemStatusMonitor;

// The once-a-day low-disk prompt: when it is due, the check that looks for it 0.8 s after
// launch and then every minute, the day record, and the prompt's popup.
class LowDiskPromptScheduler : public QObject {
    Q_OBJECT

public:
    static constexpr int firstLowDiskCheckDelayMs = 800;
    static constexpr int lowDiskCheckIntervalMs = 60'000;
    static constexpr QSize lowDiskPopoverSize{338, 202};

    // Where a check may show the prompt; nullopt while it must not (no tray icon yet, the
    // dashboard is open). A null rectangle centres the prompt on the screen.
    using CheckAnchor = std::function<std::optional<QRect>()>;
    // Today as "yyyy-MM-dd".
    using DayString = std::function<QString()>;

    LowDiskPromptScheduler(SystemStatusMonitor* monitor, DayRecordStore dayRecord,
                           CheckAnchor checkAnchor, DayString currentDayString,
                           QObject* parent = nullptr);
    ~LowDiskPromptScheduler() override;

    void startLowDiskSpaceMonitoring();
    void checkLowDiskSpace();
    bool shouldShowLowDiskPrompt() const;
    bool hasShownLowDiskPromptToday() const;
    void showLowDiskPrompt(const QRect& anchor);
    void dismissLowDiskPrompt();

    bool isPromptShown() const { return m_lowDiskPopover && m_lowDiskPopover->isShown(); }

signals:
    // The prompt's open button.
    void openCompanionRequested();
    void lowDiskPopoverClosedByOutsidePress(QPoint globalPosition);

private:
    QPointer<SystemStatusMonitor> m_systemMonitor;
    DayRecordStore m_dayRecord;
    CheckAnchor m_checkAnchor;
    DayString m_currentDayString;
    QPointer<PopupWindow> m_lowDiskPopover;
    QPointer<QTimer> m_lowDiskPromptTimer;
};

} // namespace kmb
