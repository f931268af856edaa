#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <ctime>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

// The one way this program reads a file: everything runs on the GUI thread, so no read may
// wait. Files are opened with O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY (a FIFO or a
// terminal planted where a file should be neither hangs the open nor becomes ours), checked
// with fstat on that descriptor (what is checked is what is read), must be regular files,
// and are read up to a bound; EINTR is retried, EAGAIN is never waited on.
namespace kmb {

// Owns a POSIX file descriptor and closes it when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1);

private:
    int m_fd;
};

// Why a file gave no bytes, in words a log line can carry.
struct FileError {
    int errorNumber = 0; // errno of the failing call; 0 when the file itself was refused
    QString reason;      // strerror's text, "not a regular file" or "larger than N bytes"

    static FileError fromErrno(int error);
};

// What a read gives: the bytes, or why there are none.
struct FileBytes {
    std::optional<QByteArray> bytes;
    FileError error; // meaningful only without bytes
};

// Which file a path names and what state it is in, to the nanosecond: equal identities
// mean the bytes have not changed (times permitting, see CleanupHistoryReader).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileIdentity of(const struct stat& status);
    bool operator==(const FileIdentity& other) const;
};

// One file opened for reading, checked as described above.
class BoundedFile {
public:
    // Opens and checks; isOpen() tells whether that worked, error() why not.
    explicit BoundedFile(const QByteArray& nativePath);
    explicit BoundedFile(const QString& path);

    bool isOpen() const { return m_fd.isOpen(); }
    const FileError& error() const { return m_error; }
    int descriptor() const { return m_fd.get(); }
    // Hands the open descriptor over; this object is closed afterwards.
    FileDescriptor releaseDescriptor() { return std::move(m_fd); }
    // From the fstat made when the file was opened.
    const struct stat& status() const { return m_status; }
    // fstat again: nullopt when that fails.
    std::optional<FileIdentity> currentIdentity() const;

    // The whole rest of the file; refused as "larger than maxBytes bytes" when there is
    // more, whatever fstat said (a file may grow while it is read).
    FileBytes readAll(qint64 maxBytes);
    // Up to maxBytes from the current position; more in the file is no error.
    FileBytes readPrefix(qint64 maxBytes);

private:
    void open(const QByteArray& nativePath);

    FileDescriptor m_fd;
    FileError m_error;
    struct stat m_status {};
};

// A whole small file at once: open, check, read, close.
FileBytes readRegularFile(const QString& path, qint64 maxBytes);

// The identity of the regular file a path names, symlinks followed, from one stat and
// without opening it; nullopt for anything else (missing, a FIFO, a device, a loop).
std::optional<FileIdentity> regularFileIdentity(const QByteArray& nativePath);

// A file read on every pass, kept open and re-read with pread from offset 0: /proc and sysfs
// generate a file afresh for each read from the start, so one system call reads it. Opened
// again when a read fails (sysfs fails the reads of a device that went away) and, for a file
// that the kernel does not generate (a fake tree, a file mounted over one in /proc), when
// its path no longer names the open file or the file changed (one stat per read).
class KeptOpenFile {
public:
    explicit KeptOpenFile(const QString& path);

    // Up to maxBytes from the start; nullopt when the file cannot be opened or read.
    std::optional<QByteArray> read(qint64 maxBytes);

private:
    bool reopen();
    bool stillCurrent() const;
    std::optional<QByteArray> readFromStart(qint64 maxBytes) const;

    QByteArray m_nativePath;
    FileDescriptor m_fd;
    bool m_generated = false;  // on procfs or sysfs
    FileIdentity m_openedAs{}; // for files that are not generated
};

} // namespace kmb
