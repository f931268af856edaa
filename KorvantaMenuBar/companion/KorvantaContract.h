#pragma once

#include <QString>
#include <QStringList>

// What the utility relies on from Korvanta, the cleaner it accompanies.
namespace kmb::korvanta {

inline QString bundleName()
{
    return QStringLiteral("Korvanta.app");
}
inline QString bundleIdentifier()
{
    return QStringLiteral("com.korvanta.Korvanta");
}
inline QString desktopFileId()
{
    return bundleIdentifier() + QStringLiteral(".desktop");
}
inline QStringList openArguments()
{
    return {};
}
inline QStringList feedbackArguments()
{
    return {QStringLiteral("--show-feedback")};
}

// <data dir>/Korvanta/CleanupHistory.plist, data dir standing for Application Support.
inline QString historyFolderName()
{
    return QStringLiteral("Korvanta");
}
inline QString historyFileName()
{
    return QStringLiteral("CleanupHistory.plist");
}
inline QString historyTotalKey()
{
    return QStringLiteral("totalCleanedBytes");
}

} // namespace kmb::korvanta
