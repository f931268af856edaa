#include "companion/ProgramFiles.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kmb {

namespace {

bool statFollowing(const QString& path, struct stat& info)
{
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

std::optional<QString> refusalToRunFile(const QString& path, uid_t ownerUid, mode_t mode,
                                        uid_t currentUid)
{
    if (!S_ISREG(mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    if ((mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("%1 is writable by group or others; refusing to run it").arg(path);
    if (ownerUid != currentUid && ownerUid != 0)
        return QStringLiteral("%1 is owned by another user (uid %2); refusing to run it")
            .arg(path, QString::number(ownerUid));
    return std::nullopt;
}

std::optional<QString> refusalToRunProgram(const QString& path)
{
    struct stat info {};
    if (!statFollowing(path, info)) {
        const int error = errno;
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (auto refusal = refusalToRunFile(path, info.st_uid, info.st_mode, ::geteuid()))
        return refusal;
    if (::access(QFile::encodeName(path).constData(), X_OK) != 0)
        return QStringLiteral("%1 is not executable").arg(path);
    return std::nullopt;
}

bool isExecutableFile(const QString& path)
{
    struct stat info {};
    return statFollowing(path, info) && S_ISREG(info.st_mode) &&
           ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

std::optional<QString> findExecutableInPath(const QString& name, const QStringList& searchPath)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    for (const QString& dir : searchPath) {
        if (!dir.startsWith(QLatin1Char('/')))
            continue;
        const QString candidate =
            dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace kmb
