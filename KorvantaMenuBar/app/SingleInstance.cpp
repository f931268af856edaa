#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QStandardPaths>

namespace kmb {

namespace {
constexpr int askTimeoutMs = 800;

QString defaultLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/korvanta-menubar.lock");
}
} // namespace

SingleInstance::SingleInstance(QString lockPath, QObject* parent)
    : QObject(parent), m_lockPath(lockPath.isEmpty() ? defaultLockPath() : std::move(lockPath))
{
}

bool SingleInstance::claim()
{
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // A lock left by a crashed instance is stale (its PID is gone) and is taken over.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        // An unusable runtime directory must not keep the utility from starting.
        if (m_lock->error() != QLockFile::LockFailedError)
            m_lock.reset();
        else
            return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportScriptableSlots);
        bus.registerService(QLatin1String(serviceName));
    }
    return true;
}

bool SingleInstance::askRunningInstanceToShowDashboard()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
                                       QLatin1String(serviceName), QStringLiteral("ShowDashboard"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, askTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::ShowDashboard()
{
    emit showDashboardRequested();
}

} // namespace kmb
