#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kmb {

// Keeps the day the low-disk prompt was last shown, under "lowDiskSpacePrompt.lastShownDay"
// in the [General] group of the utility's settings file (INI syntax, as QSettings writes it).
// The day also holds in memory for the life of the process, so an unwritable or unreadable
// settings file still gives once a day.
//
// The file is read with one bounded, non-blocking read (BoundedFile), and only a regular file
// of at most maxSettingsBytes is used. It is written whole with QSaveFile: a new file takes the
// old one's place, or nothing changes. One that is not a settings file (random bytes, lines
// that are no setting, NUL bytes, invalid UTF-8) is replaced by one that holds just the day; a
// valid one keeps its other lines byte for byte. Anything else in its place (a directory, a
// FIFO, a device, an oversized or unreadable file) and a file we may not write are left alone.
class DayRecordStore {
public:
    static constexpr char key[] = "lowDiskSpacePrompt.lastShownDay";
    static constexpr qsizetype maxSettingsBytes = 64 * 1024;

    explicit DayRecordStore(QString settingsPath);

    // This user's settings file: $XDG_CONFIG_HOME/Korvanta/KorvantaMenuBar.conf.
    static QString defaultSettingsPath();

    std::optional<QString> lastShownDay() const;
    // False when the day could only be kept in memory.
    bool recordShownDay(const QString& day);

    // Whether bytes read as an INI settings file: UTF-8 text without NUL or other control
    // characters (tab and a CR before the newline aside) in which every line is blank, a
    // comment (";" or "#"), a group header "[name]" or "key=value" with a key.
    static bool looksLikeSettings(QByteArrayView bytes);
    // The day in settings text (the last one, unquoted), or nullopt.
    static std::optional<QString> dayIn(QByteArrayView settings);
    // The settings text with the day set: its line replaced, or added to the [General] group.
    static QByteArray withDay(QByteArrayView settings, const QByteArray& day);

private:
    QString m_settingsPath;
    std::optional<QString> m_dayInMemory;
};

} // namespace kmb
