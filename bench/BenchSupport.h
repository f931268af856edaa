#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

// What the benchmark programs share: throw-away directories, history files written by
// make_history.py, a laptop-shaped /sys tree and the process's own memory figures.
namespace kmb::bench {

// Writes dir/relativePath, making its parent directories; aborts the program on failure (a
// benchmark over a half-written tree would measure nothing useful).
void writeFile(const QString& dir, const QString& relativePath, const QByteArray& content);

// Waits until a file changed now is old enough for the history reader to reuse its result.
void waitUntilHistorySettled();

// The files of make_history.py, written once per process into a temporary directory, each
// the history of a data directory of its own; encoding is "xml" or "binary", size "1k", "1m"
// or "16m". The files are settled (old enough to be answered from the reader's cache).
class HistoryFiles {
public:
    static const HistoryFiles& instance();
    QString dataDir(const char* encoding, const char* size) const;
    QString path(const char* encoding, const char* size) const;
    QByteArray bytes(const char* encoding, const char* size) const;

private:
    HistoryFiles();
    QTemporaryDir m_dir;
};

// A /sys tree shaped like a laptop's: AC adapter and BAT0 under power_supply, coretemp with a
// package and eight core inputs among six hwmon devices (acpitz, nvme, iwlwifi, ...), and
// the usual thermal zones. Regular files, so reads cost less than sysfs attributes do.
class LaptopSysTree {
public:
    LaptopSysTree();
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// <dataDir>/Korvanta/CleanupHistory.plist with a small XML history (about 1 KiB).
void writeSmallHistory(const QString& dataDir);

// This process's resident set and proportional set, in KiB (smaps_rollup); -1 when unknown.
struct MemoryFigures {
    std::int64_t rssKiB = -1;
    std::int64_t pssKiB = -1;
};
MemoryFigures currentMemory();

} // namespace kmb::bench
