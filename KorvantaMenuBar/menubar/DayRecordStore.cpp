#include "menubar/DayRecordStore.h"
#include "status/FileDescriptor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kmb {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isSettingsLine(QStringView line)
{
    if (line.endsWith(u'\r'))
        line.chop(1);
    for (const QChar c : line) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f)
            return false;
    }
    while (!line.isEmpty() && isBlank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
        return true;
    if (line.startsWith(u'[')) {
        const QStringView name = line.sliced(1).chopped(line.endsWith(u']') ? 1 : 0);
        return line.size() > 2 && line.endsWith(u']') && !name.contains(u'[') &&
               !name.contains(u']');
    }
    const qsizetype equals = line.indexOf(u'=');
    return equals > 0 && !line.first(equals).trimmed().isEmpty();
}

// A day as written by the day formatter ("2026-12-05") needs no INI quoting.
bool isPlainIniValue(const QString& value)
{
    return std::all_of(value.begin(), value.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
               c == u'-' || c == u'.' || c == u'_';
    });
}

} // namespace

DayRecordStore::DayRecordStore(QString settingsPath) : m_settingsPath(std::move(settingsPath)) {}

QString DayRecordStore::defaultSettingsPath()
{
    // Where QSettings keeps the user's settings, worked out without a QSettings: it reads the
    // file as it is constructed, and a FIFO in its place would block the launch for good.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
           QCoreApplication::organizationName() + u'/' + QCoreApplication::applicationName() +
           QStringLiteral(".conf");
}

bool DayRecordStore::looksLikeSettings(QByteArrayView bytes)
{
    if (bytes.contains('\0'))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return false;
    for (const QStringView line : QStringView(text).tokenize(u'\n')) {
        if (!isSettingsLine(line))
            return false;
    }
    return true;
}

DayRecordStore::FileState DayRecordStore::inspect() const
{
    // Non-blocking, so that a FIFO (or a link to one) in its place cannot stall the event
    // loop; fstat on the open file, so that what is checked is what is read.
    const FileDescriptor fd(::open(QFile::encodeName(m_settingsPath).constData(),
                                   O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return errno == ENOENT ? FileState::Missing : FileState::Unusable;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxSettingsBytes)
        return FileState::Unusable;
    QByteArray bytes(maxSettingsBytes + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return FileState::Unusable;
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxSettingsBytes) // grew since fstat
        return FileState::Unusable;
    bytes.truncate(filled);
    return looksLikeSettings(bytes) ? FileState::Settings : FileState::NotSettings;
}

std::optional<QString> DayRecordStore::lastShownDay() const
{
    if (m_dayInMemory)
        return m_dayInMemory;
    // A file that is not settings holds no day: the prompt is due, and showing it
    // replaces the file.
    if (inspect() != FileState::Settings)
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
    switch (inspect()) {
    case FileState::Unusable:
        return false;
    case FileState::Missing:
        if (!QDir().mkpath(QFileInfo(m_settingsPath).absolutePath()))
            return false;
        return writeOnlyTheDay(day);
    case FileState::NotSettings:
        return writeOnlyTheDay(day);
    case FileState::Settings:
        break;
    }
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), day);
    settings.sync();
    if (settings.status() == QSettings::FormatError)
        return writeOnlyTheDay(day);
    return settings.status() == QSettings::NoError;
}

bool DayRecordStore::writeOnlyTheDay(const QString& day) const
{
    // Atomic: a new file takes the old one's place, or nothing changes. QSaveFile refuses
    // an existing file that we may not write, which is then left as it is.
    QSaveFile file(m_settingsPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool plain = isPlainIniValue(day);
    QByteArray text = "[General]\n";
    if (plain)
        text += QByteArray(key) + '=' + day.toLatin1() + '\n';
    if (file.write(text) != text.size() || !file.commit())
        return false;
    if (plain)
        return true;
    // Anything else is quoted the way QSettings reads it back.
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), day);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace kmb
