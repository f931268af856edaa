#pragma once

#include "menubar/DayRecordStore.h"
#include "menubar/PopupWindow.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>

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

    // Where a check may show the prompt: under the icon at `anchor` (a null rectangle: where the
    // compositor places it), as a desktop notification (there is no tray), or not now (the
    // dashboard is open, the tray is still coming up).
    struct Place {
        enum Kind { notNow, popup, notification } kind = notNow;
        QRect anchor;
    };
    using CheckPlace = std::function<Place()>;
    // Today as "yyyy-MM-dd".
    using DayString = std::function<QString()>;

    LowDiskPromptScheduler(SystemStatusMonitor* monitor, DayRecordStore dayRecord,
                           CheckPlace checkPlace, DayString currentDayString,
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
    void lowDiskPopoverClosedByFocusLoss();
    // Due while there is no tray: the warning goes out as a notification (its day recorded).
    void notificationDue(const QString& diskName, qint64 availableBytes, qint64 totalBytes);

private:
    QPointer<SystemStatusMonitor> m_systemMonitor;
    DayRecordStore m_dayRecord;
    CheckPlace m_checkPlace;
    DayString m_currentDayString;
    QPointer<PopupWindow> m_lowDiskPopover;
    QPointer<QTimer> m_lowDiskPromptTimer;
};

} // namespace kmb
