#include "status/VolumeNames.h"

#include "status/BoundedFile.h"
#include "status/FallbackTexts.h"
#include "status/KernelFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <charconv>

namespace kmb {

namespace {

// Thousands of mounts (containers, snaps) stay well below this; beyond it the table is not
// believed at all rather than cut at an arbitrary line.
constexpr qint64 mountInfoLimit = 4 << 20;
constexpr qint64 osReleaseLimit = 64 << 10;

// Each `introducer` followed by `digits` digits in `base` stands for the byte they give.
QByteArray unescaped(QByteArrayView text, QByteArrayView introducer, int digits, int base)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    while (!text.isEmpty()) {
        if (text.startsWith(introducer) && text.size() >= introducer.size() + digits) {
            const char* first = text.data() + introducer.size();
            unsigned value = 0;
            const auto [end, error] = std::from_chars(first, first + digits, value, base);
            if (error == std::errc() && end == first + digits) {
                bytes.append(char(value));
                text = text.sliced(introducer.size() + digits);
                continue;
            }
        }
        bytes.append(text.front());
        text = text.sliced(1);
    }
    return bytes;
}

// The kernel writes a space, a tab, a newline and a backslash in a mount point as \ooo.
QString unescapeMountField(QByteArrayView field)
{
    return QFile::decodeName(unescaped(field, "\\", 3, 8));
}

bool mountContains(const QString& mountPath, const QString& path)
{
    if (mountPath == u"/")
        return path.startsWith(u'/');
    return path == mountPath || (path.startsWith(mountPath) && path.at(mountPath.size()) == u'/');
}

// An os-release value as the shell would read it: quotes removed, backslash escapes resolved
// outside single quotes.
QString shellValue(QByteArrayView raw)
{
    QByteArray value;
    char quote = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
            value.append(raw[++i]);
        } else {
            value.append(c);
        }
    }
    return QString::fromUtf8(value).trimmed();
}

QString labelOfDevice(const QString& source, const QString& fileSystemRoot)
{
    if (!source.startsWith(u"/dev/"))
        return {}; // tmpfs, overlay, a network share: no block device, no label
    const QDir root(fileSystemRoot);
    const QString device = QFileInfo(root.filePath(source.mid(1))).canonicalFilePath();
    if (device.isEmpty())
        return {};
    const QString links = root.filePath(QStringLiteral("dev/disk/by-label"));
    for (const QString& link : kernelfiles::listEntries(links, QString())) {
        if (QFileInfo(links + u'/' + link).canonicalFilePath() == device)
            return decodeLabelLink(link);
    }
    return {};
}

QString systemNameUnder(const QString& fileSystemRoot)
{
    // /etc/os-release is the system's own; /usr/lib/os-release the vendor's default.
    const QDir root(fileSystemRoot);
    for (const char* relative : {"etc/os-release", "usr/lib/os-release"}) {
        const FileBytes file =
            readRegularFile(root.filePath(QLatin1String(relative)), osReleaseLimit);
        if (file.bytes)
            return osReleaseName(*file.bytes);
    }
    return {};
}

} // namespace

QString volumeDisplayName(const VolumeNames& names)
{
    if (!names.label.isEmpty())
        return names.label;
    if (names.mountPath == u"/" && !names.systemName.isEmpty())
        return names.systemName;
    const QString last = names.mountPath.section(u'/', -1, -1, QString::SectionSkipEmpty);
    if (!last.isEmpty())
        return last;
    return fallback::diskName();
}

std::optional<MountEntry> mountHolding(QByteArrayView mountInfo, const QString& path)
{
    // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw"
    std::optional<MountEntry> best;
    for (const QByteArray& line :
         QByteArray::fromRawData(mountInfo.data(), mountInfo.size()).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (separator < 0 || separator + 2 >= fields.size())
            continue;
        MountEntry entry{unescapeMountField(fields[4]), unescapeMountField(fields[separator + 2])};
        if (!mountContains(entry.mountPath, path))
            continue;
        if (!best || entry.mountPath.size() >= best->mountPath.size())
            best = std::move(entry);
    }
    return best;
}

QString osReleaseName(QByteArrayView osRelease)
{
    QString name;
    for (const QByteArray& line :
         QByteArray::fromRawData(osRelease.data(), osRelease.size()).split('\n')) {
        if (line.startsWith("NAME="))
            name = shellValue(QByteArrayView(line).sliced(5));
    }
    return name.isEmpty() ? QStringLiteral("Linux") : name;
}

QString decodeLabelLink(const QString& linkName)
{
    return QString::fromUtf8(unescaped(QFile::encodeName(linkName), "\\x", 2, 16));
}

VolumeNames readVolumeNames(const QString& path, const QString& procRoot,
                            const QString& fileSystemRoot)
{
    VolumeNames names;
    const FileBytes table =
        readRegularFile(procRoot + QStringLiteral("/self/mountinfo"), mountInfoLimit);
    if (!table.bytes)
        return names;
    const std::optional<MountEntry> mount = mountHolding(*table.bytes, path);
    if (!mount)
        return names;
    names.mountPath = mount->mountPath;
    names.label = labelOfDevice(mount->source, fileSystemRoot);
    if (names.label.isEmpty() && names.mountPath == u"/")
        names.systemName = systemNameUnder(fileSystemRoot);
    return names;
}

} // namespace kmb
