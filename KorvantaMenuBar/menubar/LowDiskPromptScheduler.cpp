#include "menubar/LowDiskPromptScheduler.h"

#include "menubar/LowDiskSpaceRule.h"
#include "status/QueuedTicks.h"
#include "status/SystemStatusMonitor.h"
#include "views/LowDiskSpacePromptView.h"

namespace kmb {

LowDiskPromptScheduler::LowDiskPromptScheduler(SystemStatusMonitor* monitor,
                                               DayRecordStore dayRecord, CheckPlace checkPlace,
                                               DayString currentDayString, QObject* parent)
    : QObject(parent), m_systemMonitor(monitor), m_dayRecord(std::move(dayRecord)),
      m_checkPlace(std::move(checkPlace)), m_currentDayString(std::move(currentDayString))
{
}

LowDiskPromptScheduler::~LowDiskPromptScheduler()
{
    // A top-level popup has no parent; it goes with its scheduler.
    delete m_lowDiskPopover;
}

void LowDiskPromptScheduler::startLowDiskSpaceMonitoring()
{
    const QPointer<LowDiskPromptScheduler> self(this);
    QTimer::singleShot(firstLowDiskCheckDelayMs, this, [self] {
        if (self)
            self->checkLowDiskSpace();
    });
    delete m_lowDiskPromptTimer;
    m_lowDiskPromptTimer =
        startQueuedTicks(this, lowDiskCheckIntervalMs, [this] { checkLowDiskSpace(); });
}

void LowDiskPromptScheduler::checkLowDiskSpace()
{
    // Never over an open dashboard, never while the tray comes up: the next check tries again.
    const Place place = m_checkPlace();
    if (place.kind == Place::notNow || !shouldShowLowDiskPrompt())
        return;
    if (place.kind == Place::popup) {
        showLowDiskPrompt(place.anchor);
        return;
    }
    m_dayRecord.recordShownDay(m_currentDayString());
    emit notificationDue(m_systemMonitor->diskName(), m_systemMonitor->availableDiskBytes(),
                         m_systemMonitor->totalDiskBytes());
}

bool LowDiskPromptScheduler::shouldShowLowDiskPrompt() const
{
    if (!m_systemMonitor ||
        !isLowDiskSpace(m_systemMonitor->hasSampledDisk(), m_systemMonitor->availableDiskBytes(),
                        m_systemMonitor->totalDiskBytes()))
        return false;
    if (isPromptShown())
        return false;
    return !hasShownLowDiskPromptToday();
}

bool LowDiskPromptScheduler::hasShownLowDiskPromptToday() const
{
    const std::optional<QString> day = m_dayRecord.lastShownDay();
    return day && *day == m_currentDayString();
}

void LowDiskPromptScheduler::showLowDiskPrompt(const QRect& anchor)
{
    if (!m_systemMonitor)
        return;
    // The day is spent as soon as the prompt is about to show, whatever the user does with it.
    m_dayRecord.recordShownDay(m_currentDayString());
    if (!m_lowDiskPopover) {
        m_lowDiskPopover = new PopupWindow(lowDiskPopoverSize);
        m_lowDiskPopover->setObjectName(QStringLiteral("lowDiskPopover"));
        m_lowDiskPopover->setAccessibleName(QStringLiteral("Korvanta"));
        connect(m_lowDiskPopover, &PopupWindow::closedByOutsidePress, this,
                &LowDiskPromptScheduler::lowDiskPopoverClosedByOutsidePress);
        connect(m_lowDiskPopover, &PopupWindow::closedByFocusLoss, this,
                &LowDiskPromptScheduler::lowDiskPopoverClosedByFocusLoss);
    }
    const QPointer<LowDiskPromptScheduler> self(this);
    m_lowDiskPopover->setContent(new LowDiskSpacePromptView(
        m_systemMonitor->diskName(), m_systemMonitor->availableDiskBytes(),
        m_systemMonitor->totalDiskBytes(),
        [self] {
            if (self)
                self->dismissLowDiskPrompt();
        },
        [self] {
            if (self)
                emit self->openCompanionRequested();
        }));
    m_lowDiskPopover->showRelativeTo(anchor);
}

void LowDiskPromptScheduler::dismissLowDiskPrompt()
{
    if (m_lowDiskPopover)
        m_lowDiskPopover->performClose();
}

} // namespace kmb
