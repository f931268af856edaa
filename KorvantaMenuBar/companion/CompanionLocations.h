#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where Korvanta may be found: the bundle locations relative to our own bundle and the
// directories searched for its desktop file. Pure path arithmetic; nothing touches the disk.
namespace kmb {

// Lexically normalises an absolute path: drops empty and "." components and resolves ".."
// without following symlinks; ".." at the root stays at the root. A relative or empty path
// yields an empty string.
QString standardisedPath(const QString& absolutePath);

// The path without its last component; "/" stays "/". Expects a standardised path.
QString removingLastPathComponent(const QString& path);

// The five places Korvanta's bundle is looked for, in order, given the directory B that
// holds our executable (C = B/Contents):
//   1. C minus its last component + "MacOS/Korvanta.app"
//   2. C + "../../Korvanta.app", standardised
//   3. B minus one component + "Korvanta.app"
//   4. B minus two components + "Korvanta.app"
//   5. B minus three components + "Korvanta.app"
// Duplicates are kept so the order stays fixed. Empty when B is not absolute.
QStringList companionCandidatePaths(const QString& bundleDirectory);

// $XDG_DATA_HOME as the Desktop Entry / base-directory rules read it: unset, empty or
// relative means <home>/.local/share (empty when the home directory is unknown too).
QString resolveXdgDataHome(const QString& environmentValue, const QString& homeDirectory);

// $XDG_DATA_DIRS: unset or empty means /usr/local/share:/usr/share; relative entries are
// ignored.
QStringList resolveXdgDataDirs(const QString& environmentValue);

// The full paths at which Korvanta's desktop file may live, in precedence order:
// <data home>/applications/<id>, then <each data dir>/applications/<id>.
QStringList desktopFileCandidatePaths(const QString& dataHome, const QStringList& dataDirs);

// $PATH split into the absolute directories it names; empty and relative entries (which
// would mean the current directory) are dropped. Unset means the C library's default,
// /bin:/usr/bin.
QStringList resolveExecutableSearchPath(const std::optional<QString>& environmentValue);

} // namespace kmb
