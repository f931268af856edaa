#pragma once

#include <QString>
#include <optional>

namespace kmb {

// Keeps the day the low-disk prompt was last shown, under "lowDiskSpacePrompt.lastShownDay"
// in the utility's settings file. The day also holds in memory for the life of the
// process, so an unwritable or unreadable settings file still gives once a day.
class DayRecordStore {
public:
    static constexpr char key[] = "lowDiskSpacePrompt.lastShownDay";

    // `settingsPath`: the utility's settings file (INI syntax).
    explicit DayRecordStore(QString settingsPath);

    // The settings file of this user: ~/.config/Korvanta/KorvantaMenuBar.conf.
    static QString defaultSettingsPath();

    std::optional<QString> lastShownDay() const;
    // False when the day could only be kept in memory.
    bool recordShownDay(const QString& day);

    const QString& settingsPath() const { return m_settingsPath; }

private:
    bool settingsFileUsable() const;

    QString m_settingsPath;
    std::optional<QString> m_dayInMemory;
};

} // namespace kmb
