#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// Checks on program files before we execute them.
namespace kmb {

// Why a file with this owner and mode (its type included) must not be run on behalf of
// `currentUid`, or nothing: only a regular file is run; anyone but its owner could swap its
// contents when it is writable by group or others; and a file owned by another user (other
// than root) is theirs to change.
std::optional<QString> refusalToRunFile(const QString& path, uid_t ownerUid, mode_t mode,
                                        uid_t currentUid);

// Why `path` must not be executed, or nothing. Symlinks are followed, so the file checked is
// the one execve() would load: it must pass refusalToRunFile for the effective user and be
// executable.
std::optional<QString> refusalToRunProgram(const QString& path);

// Whether `path` (following symlinks) is a regular file we may execute.
bool isExecutableFile(const QString& path);

// The first `<dir>/<name>` in `searchPath` that is an executable file. A name containing a
// slash is never searched for.
std::optional<QString> findExecutableInPath(const QString& name, const QStringList& searchPath);

} // namespace kmb
