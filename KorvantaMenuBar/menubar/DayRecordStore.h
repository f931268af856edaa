#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kmb {

// Keeps the day the low-disk prompt was last shown, under "lowDiskSpacePrompt.lastShownDay"
// in the utility's settings file. The day also holds in memory for the life of the
// process, so an unwritable or unreadable settings file still gives once a day.
//
// The file is only ever read with a bounded, non-blocking read, and only a regular file of
// at most maxSettingsBytes is used. One that is not a settings file (random bytes, lines that
// are no setting, NUL bytes, invalid UTF-8) is replaced, atomically, by one that holds just
// the day; a valid one keeps its other settings. Anything else in its place (a directory, a
// FIFO, a device, an oversized or unreadable file) and a file we may not write are left as
// they are.
class DayRecordStore {
public:
    static constexpr char key[] = "lowDiskSpacePrompt.lastShownDay";
    static constexpr qsizetype maxSettingsBytes = 64 * 1024;

    // `settingsPath`: the utility's settings file (INI syntax).
    explicit DayRecordStore(QString settingsPath);

    // The settings file of this user: ~/.config/Korvanta/KorvantaMenuBar.conf.
    static QString defaultSettingsPath();

    std::optional<QString> lastShownDay() const;
    // False when the day could only be kept in memory.
    bool recordShownDay(const QString& day);

    // Whether bytes read as an INI settings file: UTF-8 text without NUL or other control
    // characters (tab and a CR before the newline aside) in which every line is blank, a
    // comment (";" or "#"), a group header "[name]" or "key=value" with a key.
    static bool looksLikeSettings(QByteArrayView bytes);

private:
    enum class FileState {
        Missing,     // nothing there yet
        Settings,    // a regular file that reads as settings
        NotSettings, // a regular file that does not: replaced when the day is recorded
        Unusable,    // anything else: left alone
    };
    FileState inspect() const;
    bool writeOnlyTheDay(const QString& day) const;

    QString m_settingsPath;
    std::optional<QString> m_dayInMemory;
};

} // namespace kmb
