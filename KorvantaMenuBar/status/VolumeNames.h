#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kmb {

// What a Linux user knows a volume by: its filesystem label, where it is mounted and, for the
// root filesystem, the name of the system installed on it.
struct VolumeNames {
    QString label;      // empty when the filesystem has none
    QString mountPath;  // "/", "/home"; empty when the mount table could not tell
    QString systemName; // NAME of os-release, looked up for "/" only; empty when unknown
};

// The label, else the system's name for the root filesystem, else the last component of the
// mount point, else the placeholder name.
QString volumeDisplayName(const VolumeNames& names);

struct MountEntry {
    QString mountPath; // unescaped
    QString source;    // "/dev/sda2", "tmpfs", ...
};

// The mount holding `path` (absolute, symlinks resolved) according to the text of
// /proc/self/mountinfo: the longest mount point that contains it, the last one mounted where
// several are stacked on the same point. nullopt when no line says.
std::optional<MountEntry> mountHolding(QByteArrayView mountInfo, const QString& path);

// NAME from an os-release file's text; "Linux", the format's default, when it has none.
QString osReleaseName(QByteArrayView osRelease);

// "My\x20Disk" as udev names the links of /dev/disk/by-label: "My Disk".
QString decodeLabelLink(const QString& linkName);

// The names of the volume holding `path` (absolute, symlinks resolved): the mount table under
// procRoot, /dev/disk/by-label and os-release under fileSystemRoot ("/" on this machine).
// Bounded reads of a few small files and one directory; nothing waits.
VolumeNames readVolumeNames(const QString& path, const QString& procRoot,
                            const QString& fileSystemRoot);

} // namespace kmb
