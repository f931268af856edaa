#include "status/QueuedTicks.h"

#include <QCoreApplication>
#include <QPointer>

namespace kmb {

QTimer* startQueuedTicks(QObject* owner, int intervalMs, std::function<void()> tick)
{
    auto* timer = new QTimer(owner);
    timer->setInterval(intervalMs);
    timer->setTimerType(Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, owner,
                     [alive = QPointer<QObject>(owner), tick = std::move(tick)] {
                         QMetaObject::invokeMethod(
                             QCoreApplication::instance(),
                             [alive, tick] {
                                 if (alive)
                                     tick();
                             },
                             Qt::QueuedConnection);
                     });
    timer->start();
    return timer;
}

} // namespace kmb
