#include "status/BoundedFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace kmb {

namespace {

constexpr int openFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileError tooLarge(qint64 maxBytes)
{
    return {0, QStringLiteral("larger than %1 bytes").arg(maxBytes)};
}

// Fills buffer until it is full or the file ends. The count read, or -1 with errno set.
qint64 readFully(int fd, char* buffer, qint64 size)
{
    qint64 filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, buffer + filled, std::size_t(size - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1; // EAGAIN included: never wait for the file
        }
        if (got == 0)
            break;
        filled += got;
    }
    return filled;
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        reset(other.m_fd);
        other.m_fd = -1;
    }
    return *this;
}

void FileDescriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

FileError FileError::fromErrno(int error)
{
    return {error, QString::fromLocal8Bit(std::strerror(error))};
}

FileIdentity FileIdentity::of(const struct stat& status)
{
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

BoundedFile::BoundedFile(const QByteArray& nativePath)
{
    open(nativePath);
}

BoundedFile::BoundedFile(const QString& path)
{
    open(QFile::encodeName(path));
}

void BoundedFile::open(const QByteArray& nativePath)
{
    if (nativePath.isEmpty()) {
        m_error = FileError::fromErrno(ENOENT);
        return;
    }
    FileDescriptor fd(::open(nativePath.constData(), openFlags));
    if (!fd.isOpen()) {
        m_error = FileError::fromErrno(errno);
        return;
    }
    if (::fstat(fd.get(), &m_status) != 0) {
        m_error = FileError::fromErrno(errno);
        return;
    }
    if (!S_ISREG(m_status.st_mode)) {
        m_error = {0, QStringLiteral("not a regular file")};
        return;
    }
    m_fd = std::move(fd);
}

std::optional<FileIdentity> BoundedFile::currentIdentity() const
{
    struct stat status {};
    if (!isOpen() || ::fstat(m_fd.get(), &status) != 0)
        return std::nullopt;
    return FileIdentity::of(status);
}

FileBytes BoundedFile::readAll(qint64 maxBytes)
{
    if (!isOpen())
        return {std::nullopt, m_error};
    if (m_status.st_size > maxBytes)
        return {std::nullopt, tooLarge(maxBytes)};
    // One byte beyond the expected size, so that the end is seen without growing; kernel
    // files report a size of 0 and grow the buffer as they are read.
    QByteArray bytes(qsizetype(std::min<qint64>(m_status.st_size, maxBytes) + 1),
                     Qt::Uninitialized);
    qint64 used = 0;
    while (true) {
        const qint64 got = readFully(m_fd.get(), bytes.data() + used, bytes.size() - used);
        if (got < 0)
            return {std::nullopt, FileError::fromErrno(errno)};
        used += got;
        if (used < bytes.size())
            break;
        if (used > maxBytes)
            return {std::nullopt, tooLarge(maxBytes)};
        bytes.resize(qsizetype(std::min<qint64>(qint64(bytes.size()) * 2, maxBytes + 1)));
    }
    bytes.truncate(qsizetype(used));
    return {std::move(bytes), {}};
}

FileBytes BoundedFile::readPrefix(qint64 maxBytes)
{
    if (!isOpen())
        return {std::nullopt, m_error};
    QByteArray bytes(qsizetype(std::max<qint64>(maxBytes, 0)), Qt::Uninitialized);
    const qint64 got = readFully(m_fd.get(), bytes.data(), bytes.size());
    if (got < 0)
        return {std::nullopt, FileError::fromErrno(errno)};
    bytes.truncate(qsizetype(got));
    return {std::move(bytes), {}};
}

FileBytes readRegularFile(const QString& path, qint64 maxBytes)
{
    return BoundedFile(path).readAll(maxBytes);
}

std::optional<FileIdentity> regularFileIdentity(const QByteArray& nativePath)
{
    struct stat status {};
    if (nativePath.isEmpty() || ::stat(nativePath.constData(), &status) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileIdentity::of(status);
}

KeptOpenFile::KeptOpenFile(const QString& path) : m_nativePath(QFile::encodeName(path)) {}

std::optional<QByteArray> KeptOpenFile::read(qint64 maxBytes)
{
    if (m_fd.isOpen() && !stillCurrent())
        m_fd.reset();
    if (m_fd.isOpen()) {
        if (std::optional<QByteArray> bytes = readFromStart(maxBytes))
            return bytes;
    }
    // Not open yet, replaced, or the read failed: open what the path names now.
    if (!reopen())
        return std::nullopt;
    std::optional<QByteArray> bytes = readFromStart(maxBytes);
    if (!bytes)
        m_fd.reset();
    return bytes;
}

bool KeptOpenFile::reopen()
{
    BoundedFile file(m_nativePath);
    m_fd.reset();
    if (!file.isOpen())
        return false;
    struct statfs volume {};
    m_generated = ::fstatfs(file.descriptor(), &volume) == 0 &&
                  (volume.f_type == PROC_SUPER_MAGIC || volume.f_type == SYSFS_MAGIC);
    m_openedAs = FileIdentity::of(file.status());
    m_fd = file.releaseDescriptor();
    return true;
}

bool KeptOpenFile::stillCurrent() const
{
    // A generated file is never rewritten in place; its device going away shows as a failing
    // read.
    return m_generated || regularFileIdentity(m_nativePath) == m_openedAs;
}

std::optional<QByteArray> KeptOpenFile::readFromStart(qint64 maxBytes) const
{
    QByteArray bytes(qsizetype(std::max<qint64>(maxBytes, 0)), Qt::Uninitialized);
    // One read: a generated file comes whole (up to the buffer) in the first read from 0.
    ssize_t got = 0;
    do {
        got = ::pread(m_fd.get(), bytes.data(), std::size_t(bytes.size()), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    bytes.truncate(qsizetype(got));
    return bytes;
}

} // namespace kmb
