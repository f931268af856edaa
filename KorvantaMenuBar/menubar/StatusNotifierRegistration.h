#pragma once

#include <QDBusServiceWatcher>
#include <QObject>
#include <QStringList>

namespace kmb {

// Keeps our tray item registered with the StatusNotifierItem watcher. Qt registers the
// item once when the watcher (re)appears; a watcher that takes its bus name before its
// object is ready lets that single try fail. So after each appearance we check that the
// item is listed and register it again if it is not.
class StatusNotifierRegistration : public QObject {
    Q_OBJECT

public:
    explicit StatusNotifierRegistration(QObject* parent = nullptr);

    // Whether `registeredItems` (as the watcher lists them: a bus name, optionally
    // followed by an object path) holds one of ours.
    static bool listsOurItem(const QStringList& registeredItems, const QString& uniqueName,
                             qint64 pid);

private:
    void scheduleChecks();
    void check();
    void registerAgain();

    QDBusServiceWatcher m_watcher;
};

} // namespace kmb
