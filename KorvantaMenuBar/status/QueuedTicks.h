#pragma once

#include <QTimer>
#include <functional>

namespace kmb {

// A coarse repeating timer, parented to `owner`, whose ticks only post `tick`: it runs in a
// later turn of the event loop, and not at all if `owner` is gone by then.
QTimer* startQueuedTicks(QObject* owner, int intervalMs, std::function<void()> tick);

} // namespace kmb
