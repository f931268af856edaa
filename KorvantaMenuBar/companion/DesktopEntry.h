#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// Reading a freedesktop.org desktop file far enough to launch the program
// it describes: the [Desktop Entry] keys we use, the Exec quoting rules and field codes.
// All functions are pure and accept arbitrary bytes.
namespace kmb {

struct DesktopEntry {
    std::optional<QString> exec; // string escapes already undone; quoting still in place
    std::optional<QString> tryExec;
    std::optional<QString> name;
    std::optional<QString> icon;
    std::optional<QString> path;
    bool hidden = false;
};

struct DesktopEntryParse {
    std::optional<DesktopEntry> entry;
    QString error; // set when entry is empty
};

// Parses the first [Desktop Entry] group. Unlocalised keys only; the first occurrence of a
// key wins; lines that are neither comments, group headers nor "Key=Value" are ignored. A
// file with NUL bytes, invalid UTF-8 or no [Desktop Entry] group is rejected.
DesktopEntryParse parseDesktopEntry(QByteArrayView bytes);

// Undoes the string-value escapes \s \n \t \r \\; any other backslash is kept as it is.
QString unescapeDesktopString(QStringView value);

struct FieldCodeValues {
    QString icon;            // for %i; nothing is added when empty
    QString name;            // for %c
    QString desktopFilePath; // for %k
};

struct ExecCommand {
    QString program;
    QStringList arguments;
};

struct ExecExpansion {
    std::optional<ExecCommand> command;
    QString error; // set when command is empty
};

// Splits an (already unescaped) Exec value into a program and arguments without a shell:
// words are separated by space, tab or newline; double quotes group, and inside them \" \`
// \$ \\ stand for the escaped character. Field codes are expanded outside quotes only:
// %f %F %u %U (no files to pass) and the deprecated %d %D %n %N %v %m vanish, %i becomes
// "--icon <Icon>" (it must stand alone), %c the Name, %k the desktop file's path, %% a
// percent sign. A word made only of codes that expand to nothing disappears. Unbalanced
// quotes, an unknown or dangling code, or no program at all make the line invalid.
ExecExpansion expandExecLine(QStringView exec, const FieldCodeValues& values);

struct DesktopLaunchPlan {
    enum class Kind { Launch, Hidden, Invalid };
    Kind kind = Kind::Invalid;
    // Set whenever the file parsed, so a failing TryExec can take precedence over a broken
    // Exec line.
    std::optional<QString> tryExec;
    std::optional<QString> workingDirectory; // the Path key
    ExecCommand command;                     // Launch only; caller's arguments appended
    QString error;                           // Invalid only
};

// Everything the launcher needs from a desktop file's bytes. `arguments` follow the
// arguments of the Exec line.
DesktopLaunchPlan planDesktopLaunch(QByteArrayView bytes, const QString& desktopFilePath,
                                    const QStringList& arguments);

} // namespace kmb
