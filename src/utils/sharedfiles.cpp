// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "sharedfiles_p.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <limits>
#include <utility>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace SharedFiles {

namespace {

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == geteuid();
}

} // namespace

DirectoryState directoryState(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? DirectoryState::Missing : DirectoryState::Untrusted;
    if (!S_ISDIR(st.st_mode) || !trustedOwner(st.st_uid))
        return DirectoryState::Untrusted;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) {
        if (st.st_uid != geteuid()
            || ::chmod(native.constData(), (st.st_mode & 07777) | S_ISVTX) != 0)
            return DirectoryState::Untrusted;
    }
    return DirectoryState::Trusted;
}

bool isTrustedDirectory(const QString &path)
{
    return directoryState(path) == DirectoryState::Trusted;
}

bool ensureSharedDirectory(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 01777) == 0) {
        // mkdir applies the umask; the sticky, world-writable mode is what sharing needs.
        if (::chmod(native.constData(), 01777) != 0)
            return false;
    } else if (errno != EEXIST) {
        return false;
    }
    return isTrustedDirectory(path);
}

bool isTrustedFile(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) && trustedOwner(st.st_uid) && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

// True when users besides root and the caller may change what the folder @p dir holds.
namespace {

bool folderOpenToOthers(const QString &dir)
{
    struct stat st;
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return false; // a link is judged by its folder and its target's chain
    if (!trustedOwner(st.st_uid) || (st.st_mode & S_IWOTH))
        return true;
    // A group of the caller's own (Debian's user private groups) is not others.
    return (st.st_mode & S_IWGRP) && st.st_gid != getegid();
}

bool chainOpenToOthers(QString dir)
{
    while (!dir.isEmpty()) {
        if (folderOpenToOthers(dir))
            return true;
        if (dir == QLatin1String("/"))
            break;
        const int slash = dir.lastIndexOf(QLatin1Char('/'));
        dir = slash <= 0 ? QStringLiteral("/") : dir.left(slash);
    }
    return false;
}
} // namespace

bool inSharedLocation(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QDir::cleanPath(info.absolutePath());
    if (chainOpenToOthers(folder))
        return true;
    const QString resolved = QFileInfo(folder).canonicalFilePath();
    return !resolved.isEmpty() && resolved != folder && chainOpenToOthers(resolved);
}

QString privateCacheDir()
{
    const QString configured = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (configured.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(configured) + QLatin1String("/vokimage");
    QString home = QFile::decodeName(qgetenv("HOME"));
    if (!home.startsWith(QLatin1Char('/'))) {
        home.clear();
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size_t(size > 0 ? size : 16384));
        struct passwd entry;
        struct passwd *found = nullptr;
        if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
            && found->pw_dir && found->pw_dir[0] == '/')
            home = QFile::decodeName(found->pw_dir);
    }
    if (home.isEmpty())
        return QString();
    return QDir::cleanPath(home) + QLatin1String("/.cache/vokimage");
}

DirectoryState privateDirectoryState(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? DirectoryState::Missing : DirectoryState::Untrusted;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return DirectoryState::Untrusted;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && ::chmod(native.constData(), st.st_mode & 07755) != 0)
        return DirectoryState::Untrusted;
    return DirectoryState::Trusted;
}

bool ensurePrivateDirectory(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    // Missing folders on the way are made 0700, as a cache home is.
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString &part : parts) {
        current += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(current).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return privateDirectoryState(path) == DirectoryState::Trusted;
}

// The process's umask, read without changing it.
namespace {

mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    return 022;
}

} // namespace

WriteResult writeAtomically(const QString &path, const QByteArray &data, QString *error)
{
    return writeAtomically(path, QByteArrayList { data }, true, error);
}

WriteResult writeAtomically(
    const QString &path, const QByteArrayList &pieces, bool sync, QString *error)
{
    const QFileInfo target(path);
    QTemporaryFile file(
        target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1String(".XXXXXX"));
    auto fail = [&](WriteResult result, const QString &why) {
        if (error)
            *error = why;
        return result;
    };
    if (!file.open())
        return fail(WriteResult::OpenFailed, file.errorString());
    if (::fchmod(file.handle(), 0644 & ~currentUmask()) != 0)
        return fail(WriteResult::OpenFailed, QString::fromLocal8Bit(strerror(errno)));
    for (const QByteArray &piece : pieces)
        if (file.write(piece) != piece.size())
            return fail(WriteResult::WriteFailed, file.errorString());
    if (!file.flush())
        return fail(WriteResult::WriteFailed, file.errorString());
    if (sync && ::fsync(file.handle()) != 0)
        return fail(WriteResult::WriteFailed, QString::fromLocal8Bit(strerror(errno)));
    const QByteArray from = QFile::encodeName(file.fileName());
    if (::rename(from.constData(), QFile::encodeName(path).constData()) != 0)
        return fail(WriteResult::RenameFailed, QString::fromLocal8Bit(strerror(errno)));
    file.setAutoRemove(false);
    return WriteResult::Written;
}

// Reads the whole regular file open on @p fd, at most @p maxSize bytes.
namespace {

bool readOpened(
    const FileDescriptor &fd, qint64 maxSize, QByteArray *data, struct stat *st, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (::fstat(fd.get(), st) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    if (!S_ISREG(st->st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (st->st_size > maxSize)
        return fail(QStringLiteral("larger than %1 bytes").arg(maxSize));
    QByteArray bytes(qsizetype(st->st_size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(QString::fromLocal8Bit(strerror(errno)));
        if (n == 0)
            return fail(QStringLiteral("changed while read"));
        done += n;
    }
    *data = bytes;
    return true;
}

int openForReading(const QString &path, bool follow)
{
    return ::open(QFile::encodeName(path).constData(),
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
}
} // namespace

std::unique_ptr<DIR, DirectoryCloser> listEntries(int directoryFd)
{
    // The listing owns a copy of the descriptor once fdopendir() has taken it.
    FileDescriptor listFd(::dup(directoryFd));
    DIR *directory = listFd.isValid() ? ::fdopendir(listFd.get()) : nullptr;
    if (directory)
        listFd.release();
    return std::unique_ptr<DIR, DirectoryCloser>(directory);
}

bool readNoFollow(const QString &path, qint64 maxSize, QByteArray *data, uid_t *owner)
{
    const FileDescriptor fd(openForReading(path, false));
    struct stat st;
    if (!fd.isValid() || !readOpened(fd, maxSize, data, &st, nullptr))
        return false;
    if (owner)
        *owner = st.st_uid;
    return true;
}

MappedFile::~MappedFile()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

MappedFile::MappedFile(MappedFile &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{ }

MappedFile &MappedFile::operator=(MappedFile &&other) noexcept
{
    MappedFile old(std::move(*this));
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    return *this;
}

QByteArray MappedFile::bytes() const
{
    return m_data ? QByteArray::fromRawData(static_cast<const char *>(m_data), int(m_size))
                  : QByteArray();
}

bool mapNoFollow(const QString &path, qint64 maxSize, MappedFile *file, uid_t *owner)
{
    const FileDescriptor fd(openForReading(path, false));
    struct stat st;
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxSize
        || st.st_size > std::numeric_limits<int>::max())
        return false;
    MappedFile mapped;
    if (st.st_size > 0) {
        void *data = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (data == MAP_FAILED)
            return false;
        mapped.m_data = data;
        mapped.m_size = size_t(st.st_size);
    }
    *file = std::move(mapped);
    if (owner)
        *owner = st.st_uid;
    return true;
}

bool readFile(const QString &path, qint64 maxSize, QByteArray *data, QString *error)
{
    const bool shared = inSharedLocation(path);
    const FileDescriptor fd(openForReading(path, !shared));
    if (!fd.isValid()) {
        if (error)
            *error = errno == ELOOP ? QStringLiteral("a link in a folder others can write to")
                                    : QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    QByteArray bytes;
    struct stat st;
    if (!readOpened(fd, maxSize, &bytes, &st, error))
        return false;
    if (shared && (!trustedOwner(st.st_uid) || (st.st_mode & (S_IWGRP | S_IWOTH)))) {
        if (error)
            *error = QStringLiteral("in a folder others can write to, and not owned by root or "
                                    "this user alone");
        return false;
    }
    *data = bytes;
    return true;
}

bool settingsFileState(const QString &path, QString *reason)
{
    reason->clear();
    const FileDescriptor fd(openForReading(path, true));
    if (!fd.isValid()) {
        if (errno != ENOENT)
            *reason = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxSettingsFileSize)
        return true;
    *reason = QStringLiteral("is not a regular file of at most %1 bytes").arg(MaxSettingsFileSize);
    return false;
}

bool settingsFileReadable(const QString &path)
{
    QString reason;
    if (settingsFileState(path, &reason))
        return true;
    if (reason.startsWith(QLatin1String("is not")))
        qWarning() << "Error settings file refused:" << path << qPrintable(reason);
    else if (!reason.isEmpty())
        qWarning() << "Error settings file refused:" << path << reason;
    return false;
}

namespace {

void removeIn(int dirFd, bool subdirectories, RemoveCount *count)
{
    const std::unique_ptr<DIR, DirectoryCloser> directory = listEntries(dirFd);
    if (!directory)
        return;
    const uid_t self = geteuid();
    while (const struct dirent *entry = ::readdir(directory.get())) {
        const char *name = entry->d_name;
        if (!strcmp(name, ".") || !strcmp(name, ".."))
            continue;
        struct stat st;
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            if ((self == 0 || st.st_uid == self) && ::unlinkat(dirFd, name, 0) == 0)
                ++count->removed;
            else
                ++count->kept;
        } else if (S_ISDIR(st.st_mode) && subdirectories) {
            const FileDescriptor sub(
                ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat subSt;
            if (sub.isValid() && ::fstat(sub.get(), &subSt) == 0 && trustedOwner(subSt.st_uid))
                removeIn(sub.get(), false, count);
        }
    }
}

} // namespace

bool removeOwnFiles(const QString &path, bool subdirectories, RemoveCount *count)
{
    const FileDescriptor fd(::open(
        QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid())
        return errno == ENOENT;
    struct stat st;
    const bool trusted = ::fstat(fd.get(), &st) == 0 && trustedOwner(st.st_uid);
    if (trusted)
        removeIn(fd.get(), subdirectories, count);
    return trusted;
}

} // namespace SharedFiles
} // namespace VokImage
