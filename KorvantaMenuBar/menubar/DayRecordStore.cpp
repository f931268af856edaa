#include "menubar/DayRecordStore.h"

#include "status/BoundedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>

namespace kmb {

namespace {

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

bool isSettingsLine(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (std::any_of(line.begin(), line.end(),
                    [](char c) { return (uchar(c) < 0x20 && c != '\t') || c == 0x7f; }))
        return false;
    line = trimmed(line);
    if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
        return true;
    if (line.startsWith('[')) {
        const QByteArrayView name = line.sliced(1).chopped(line.endsWith(']') ? 1 : 0);
        return line.size() > 2 && line.endsWith(']') && !name.contains('[') && !name.contains(']');
    }
    const qsizetype equals = line.indexOf('=');
    return equals > 0 && !trimmed(line.first(equals)).isEmpty();
}

// Calls visit(line, start, end, inGeneral) for each line; keys before any group header are
// in [General], as QSettings reads them.
template <typename Visit> void forEachLine(QByteArrayView text, Visit visit)
{
    bool inGeneral = true;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype newline = text.indexOf('\n', start);
        const qsizetype end = newline < 0 ? text.size() : newline + 1;
        const QByteArrayView line =
            trimmed(text.sliced(start, (newline < 0 ? end : newline) - start));
        if (line.startsWith('['))
            inGeneral = line == "[General]";
        visit(line, start, end, inGeneral);
        start = end;
    }
}

std::optional<QByteArrayView> valueOfKey(QByteArrayView line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0 || trimmed(line.first(equals)) != DayRecordStore::key)
        return std::nullopt;
    return trimmed(line.sliced(equals + 1));
}

// A day as the day formatter writes it ("2026-12-05") needs no INI quoting; nothing else is
// ever recorded.
bool isPlainDay(const QString& day)
{
    return !day.isEmpty() && std::all_of(day.begin(), day.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || c == u'-';
    });
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    // QSaveFile refuses an existing file that we may not write, which is then left as it is.
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
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
    (void)decoder(bytes);
    if (decoder.hasError())
        return false;
    bool valid = true;
    forEachLine(bytes, [&](QByteArrayView line, qsizetype, qsizetype, bool) {
        valid = valid && isSettingsLine(line);
    });
    return valid;
}

std::optional<QString> DayRecordStore::dayIn(QByteArrayView settings)
{
    std::optional<QString> day;
    forEachLine(settings, [&](QByteArrayView line, qsizetype, qsizetype, bool inGeneral) {
        const std::optional<QByteArrayView> value = inGeneral ? valueOfKey(line) : std::nullopt;
        if (!value)
            return;
        QByteArrayView text = *value;
        if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
            text = text.sliced(1).chopped(1);
        day = QString::fromUtf8(text);
    });
    return day;
}

QByteArray DayRecordStore::withDay(QByteArrayView settings, const QByteArray& day)
{
    const QByteArray entry = QByteArray(key) + '=' + day + '\n';
    qsizetype replaceStart = -1, replaceEnd = -1, generalHeaderEnd = -1;
    forEachLine(settings, [&](QByteArrayView line, qsizetype start, qsizetype end, bool inGeneral) {
        if (line == "[General]" && generalHeaderEnd < 0)
            generalHeaderEnd = end;
        if (inGeneral && valueOfKey(line))
            std::tie(replaceStart, replaceEnd) = std::pair(start, end);
    });
    QByteArray text = settings.toByteArray();
    if (replaceStart >= 0)
        return text.replace(replaceStart, replaceEnd - replaceStart, entry);
    if (generalHeaderEnd >= 0) {
        if (!text.sliced(0, generalHeaderEnd).endsWith('\n'))
            text.insert(generalHeaderEnd++, '\n');
        return text.insert(generalHeaderEnd, entry);
    }
    return "[General]\n" + entry + (text.isEmpty() ? QByteArray() : '\n' + text);
}

std::optional<QString> DayRecordStore::lastShownDay() const
{
    if (m_dayInMemory)
        return m_dayInMemory;
    // A file that is not settings holds no day: the prompt is due, and showing it replaces
    // the file.
    const FileBytes read = readRegularFile(m_settingsPath, maxSettingsBytes);
    if (!read.bytes || !looksLikeSettings(*read.bytes))
        return std::nullopt;
    return dayIn(*read.bytes);
}

bool DayRecordStore::recordShownDay(const QString& day)
{
    m_dayInMemory = day;
    if (!isPlainDay(day))
        return false;
    const FileBytes read = readRegularFile(m_settingsPath, maxSettingsBytes);
    if (!read.bytes) {
        if (read.error.errorNumber != ENOENT ||
            !QDir().mkpath(QFileInfo(m_settingsPath).absolutePath()))
            return false; // a directory, a FIFO, too large, unreadable: left alone
        return writeWhole(m_settingsPath, withDay({}, day.toLatin1()));
    }
    const QByteArrayView kept = looksLikeSettings(*read.bytes) ? *read.bytes : QByteArrayView();
    return writeWhole(m_settingsPath, withDay(kept, day.toLatin1()));
}

} // namespace kmb
