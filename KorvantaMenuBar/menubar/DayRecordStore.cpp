#include "menubar/DayRecordStore.h"

#include <QCoreApplication>
#include <QSettings>

#include <sys/stat.h>

namespace kmb {

DayRecordStore::DayRecordStore(QString settingsPath) : m_settingsPath(std::move(settingsPath)) {}

QString DayRecordStore::defaultSettingsPath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QCoreApplication::organizationName(), QCoreApplication::applicationName())
        .fileName();
}

bool DayRecordStore::settingsFileUsable() const
{
    // Only a regular file (or none yet) is handed to QSettings: a FIFO or device in its
    // place would block the event loop, a directory cannot hold settings.
    struct stat info {};
    if (::stat(m_settingsPath.toLocal8Bit().constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

std::optional<QString> DayRecordStore::lastShownDay() const
{
    if (m_dayInMemory)
        return m_dayInMemory;
    if (!settingsFileUsable())
        return std::nullopt;
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    const QVariant value = settings.value(QLatin1String(key));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

bool DayRecordStore::recordShownDay(const QString& day)
{
    m_dayInMemory = day;
    if (!settingsFileUsable())
        return false;
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), day);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace kmb
