#include "companion/CompanionLocations.h"

#include "companion/KorvantaContract.h"

namespace kmb {

namespace {

QString joinPath(const QString& directory, const QString& name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name
                                                : directory + QLatin1Char('/') + name;
}

bool isAbsolute(const QString& path)
{
    return path.startsWith(QLatin1Char('/'));
}

} // namespace

QString standardisedPath(const QString& absolutePath)
{
    if (!isAbsolute(absolutePath))
        return {};
    QStringList kept;
    for (const QString& component : absolutePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (component == QLatin1String("."))
            continue;
        if (component == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(component);
    }
    return QLatin1Char('/') + kept.join(QLatin1Char('/'));
}

QString removingLastPathComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QStringList companionCandidatePaths(const QString& bundleDirectory)
{
    const QString bundle = standardisedPath(bundleDirectory);
    if (bundle.isEmpty())
        return {};
    const QString name = korvanta::bundleName();
    const QString contents = joinPath(bundle, QStringLiteral("Contents"));
    const QString up1 = removingLastPathComponent(bundle);
    const QString up2 = removingLastPathComponent(up1);
    const QString up3 = removingLastPathComponent(up2);
    return {
        joinPath(removingLastPathComponent(contents), QStringLiteral("MacOS/") + name),
        standardisedPath(joinPath(contents, QStringLiteral("../../") + name)),
        joinPath(up1, name),
        joinPath(up2, name),
        joinPath(up3, name),
    };
}

QString resolveXdgDataHome(const QString& environmentValue, const QString& homeDirectory)
{
    if (isAbsolute(environmentValue))
        return environmentValue;
    if (!isAbsolute(homeDirectory))
        return {};
    return joinPath(homeDirectory, QStringLiteral(".local/share"));
}

QStringList resolveXdgDataDirs(const QString& environmentValue)
{
    if (environmentValue.isEmpty())
        return {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    QStringList dirs;
    for (const QString& entry : environmentValue.split(QLatin1Char(':'))) {
        if (isAbsolute(entry))
            dirs.append(entry);
    }
    return dirs;
}

QStringList desktopFileCandidatePaths(const QString& dataHome, const QStringList& dataDirs)
{
    const QString relative = QStringLiteral("applications/") + korvanta::desktopFileId();
    QStringList paths;
    if (isAbsolute(dataHome))
        paths.append(joinPath(dataHome, relative));
    for (const QString& dir : dataDirs) {
        if (isAbsolute(dir))
            paths.append(joinPath(dir, relative));
    }
    return paths;
}

QStringList resolveExecutableSearchPath(const std::optional<QString>& environmentValue)
{
    if (!environmentValue)
        return {QStringLiteral("/bin"), QStringLiteral("/usr/bin")};
    QStringList dirs;
    for (const QString& entry : environmentValue->split(QLatin1Char(':'))) {
        if (isAbsolute(entry))
            dirs.append(entry);
    }
    return dirs;
}

} // namespace kmb
