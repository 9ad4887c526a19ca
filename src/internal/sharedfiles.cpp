// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "logging_p.h"
#include "sharedfiles_p.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace VokImage {
namespace SharedFiles {

namespace {

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == geteuid();
}

// A file in a shared location that nobody but root and the caller could have written.
bool trustedInSharedLocation(const struct stat &st)
{
    return trustedOwner(st.st_uid) && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

// True when the mode of @p st lets the caller read the file.
bool readableByCaller(const struct stat &st)
{
    const uid_t self = geteuid();
    if (self == 0)
        return true;
    if (st.st_uid == self)
        return st.st_mode & S_IRUSR;
    bool member = st.st_gid == getegid();
    if (!member) {
        gid_t groups[256];
        const int count = ::getgroups(256, groups);
        member = std::find(groups, groups + qMax(0, count), st.st_gid) != groups + qMax(0, count);
    }
    return st.st_mode & (member ? S_IRGRP : S_IROTH);
}

} // namespace

namespace {

// The judgement of inspectSharedDirectory() on @p st; @p repair is set when the directory is
// trusted only once it is made sticky.
DirectoryState judgeShared(const struct stat &st, bool *repair)
{
    *repair = false;
    if (!S_ISDIR(st.st_mode) || !trustedOwner(st.st_uid))
        return DirectoryState::Untrusted;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) {
        if (st.st_uid != geteuid())
            return DirectoryState::Untrusted;
        *repair = true;
    }
    return DirectoryState::Trusted;
}

DirectoryState sharedDirectory(const QString &path, bool secure)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? DirectoryState::Missing : DirectoryState::Untrusted;
    bool repair = false;
    const DirectoryState state = judgeShared(st, &repair);
    if (repair && secure && ::chmod(native.constData(), (st.st_mode & 07777) | S_ISVTX) != 0)
        return DirectoryState::Untrusted;
    return state;
}

} // namespace

DirectoryState inspectSharedDirectory(const QString &path)
{
    return sharedDirectory(path, false);
}

DirectoryState secureSharedDirectory(const QString &path)
{
    return sharedDirectory(path, true);
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
    return secureSharedDirectory(path) == DirectoryState::Trusted;
}

bool isTrustedFile(const QString &path)
{
    return isTrustedFileAt(AT_FDCWD, path);
}

bool isTrustedFileAt(int dirFd, const QString &name)
{
    struct stat st;
    if (::fstatat(dirFd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
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

namespace {

// A folder that only root and the caller can change: theirs, and closed to writing by others
// unless sticky (then nobody else can rename or remove what lies in it).
bool folderTrusted(const struct stat &st)
{
    if (!S_ISDIR(st.st_mode) || !trustedOwner(st.st_uid))
        return false;
    if (st.st_mode & S_ISVTX)
        return true;
    if (st.st_mode & S_IWOTH)
        return false;
    // A group of the caller's own (Debian's user private groups) is not others.
    return !(st.st_mode & S_IWGRP) || st.st_gid == getegid();
}

// Opens (and with @p create makes) the folder @p name in @p parentFd without following a link.
FileDescriptor openFolderAt(int parentFd, const QByteArray &name, bool create, struct stat *st)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor fd(::openat(parentFd, name.constData(), flags));
    if (!fd.isValid() && errno == ENOENT && create
        && (::mkdirat(parentFd, name.constData(), 0700) == 0 || errno == EEXIST))
        fd = FileDescriptor(::openat(parentFd, name.constData(), flags));
    if (fd.isValid() && ::fstat(fd.get(), st) != 0)
        return FileDescriptor();
    return fd;
}

// The caller's own folder, with others' write access taken away.
bool ownFolder(const FileDescriptor &fd, const struct stat &st)
{
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return !(st.st_mode & (S_IWGRP | S_IWOTH)) || ::fchmod(fd.get(), st.st_mode & 07755) == 0;
}

FileDescriptor refuse(DirectoryState *state, DirectoryState why)
{
    if (state)
        *state = why;
    return FileDescriptor();
}

// The walk of openPrivateDirectory(); with @p create false a missing folder ends it (Missing).
FileDescriptor walkPrivate(const QString &path, bool create, DirectoryState *state)
{
    if (!path.startsWith(QLatin1Char('/')))
        return refuse(state, DirectoryState::Untrusted);
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return refuse(state, DirectoryState::Untrusted);
    FileDescriptor current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!current.isValid() || ::fstat(current.get(), &st) != 0 || !folderTrusted(st))
        return refuse(state, DirectoryState::Untrusted);
    for (int i = 0; i < parts.size(); ++i) {
        const bool last = i == parts.size() - 1;
        FileDescriptor next
            = openFolderAt(current.get(), QFile::encodeName(parts.at(i)), create, &st);
        if (!next.isValid())
            return refuse(
                state, errno == ENOENT ? DirectoryState::Missing : DirectoryState::Untrusted);
        if (last ? !ownFolder(next, st) : !folderTrusted(st))
            return refuse(state, DirectoryState::Untrusted);
        current = std::move(next);
    }
    if (state)
        *state = DirectoryState::Trusted;
    return current;
}

// The folder of "<home>/.cache/vokimage" for @p home.
QString cacheUnder(const QString &home)
{
    return QDir::cleanPath(home) + QLatin1String("/.cache/vokimage");
}

QString passwordHome()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    struct passwd entry;
    struct passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_dir && found->pw_dir[0] == '/')
        return QFile::decodeName(found->pw_dir);
    return QString();
}

// True when a folder on the way to @p path, as far as it exists, is a link or another user's.
bool passesForeignFolder(const QString &path)
{
    QString current;
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        current += QLatin1Char('/') + part;
        struct stat st;
        if (::lstat(QFile::encodeName(current).constData(), &st) != 0)
            return false;
        if (S_ISLNK(st.st_mode) || !trustedOwner(st.st_uid))
            return true;
    }
    return false;
}

} // namespace

QString privateCacheDir()
{
    const QString configured = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    QString dir;
    if (configured.startsWith(QLatin1Char('/'))) {
        dir = QDir::cleanPath(configured) + QLatin1String("/vokimage");
    } else {
        const QString home = QFile::decodeName(qgetenv("HOME"));
        dir = home.startsWith(QLatin1Char('/')) ? cacheUnder(home) : QString();
    }
    // Root is never steered through the folders of a HOME or XDG_CACHE_HOME of another user.
    if (geteuid() == 0 && !dir.isEmpty() && passesForeignFolder(dir))
        dir.clear();
    if (dir.isEmpty()) {
        const QString home = passwordHome();
        if (!home.isEmpty())
            dir = cacheUnder(home);
    }
    return dir;
}

FileDescriptor openPrivateDirectory(const QString &path, bool create, DirectoryState *state)
{
    return walkPrivate(path, create, state);
}

FileDescriptor openPrivateSubdirectory(
    int parentFd, const QString &name, bool create, DirectoryState *state)
{
    struct stat st;
    FileDescriptor fd = openFolderAt(parentFd, QFile::encodeName(name), create, &st);
    if (!fd.isValid())
        return refuse(state, errno == ENOENT ? DirectoryState::Missing : DirectoryState::Untrusted);
    if (!ownFolder(fd, st))
        return refuse(state, DirectoryState::Untrusted);
    if (state)
        *state = DirectoryState::Trusted;
    return fd;
}

FileDescriptor openPrivateCache(bool create, DirectoryState *state)
{
    const QString dir = privateCacheDir();
    if (dir.isEmpty())
        return refuse(state, DirectoryState::Untrusted);
    return openPrivateDirectory(dir, create, state);
}

FileDescriptor openSharedDirectory(const QString &path, bool create, DirectoryState *state)
{
    DirectoryState found = secureSharedDirectory(path);
    if (found == DirectoryState::Missing && create)
        found = ensureSharedDirectory(path) ? DirectoryState::Trusted : DirectoryState::Untrusted;
    FileDescriptor fd;
    if (found == DirectoryState::Trusted) {
        fd = FileDescriptor(::open(
            QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        // What was judged is what is open.
        if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !folderTrusted(st)) {
            fd = FileDescriptor();
            found = DirectoryState::Untrusted;
        }
    }
    if (state)
        *state = found;
    return fd;
}

bool readableByEveryone(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    struct stat st;
    if (resolved.isEmpty() || ::stat(QFile::encodeName(resolved).constData(), &st) != 0
        || !(st.st_mode & S_IROTH))
        return false;
    for (QString dir = QFileInfo(resolved).path();; dir = QFileInfo(dir).path()) {
        if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
        if (dir == QLatin1String("/"))
            return true;
    }
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
    const QString &path, const QByteArrayList &pieces, bool sync, QString *error, mode_t mode)
{
    const QFileInfo target(path);
    const FileDescriptor dir(::open(
        QFile::encodeName(target.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.isValid()) {
        if (error)
            *error = QString::fromLocal8Bit(strerror(errno));
        return WriteResult::OpenFailed;
    }
    return writeAtomicallyAt(dir.get(), target.fileName(), pieces, sync, mode, error);
}

template <typename Make> void AtomicFile::makeTemporary(Make make)
{
    for (int attempt = 0; attempt < 100 && !m_file.isValid(); ++attempt) {
        m_temporary = '.' + m_final + '.'
            + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        if (!make() && errno != EEXIST)
            break;
    }
    if (!m_file.isValid()) {
        m_errno = errno;
        m_temporary.clear();
    }
}

AtomicFile::AtomicFile(int dirFd, const QString &name, mode_t mode)
    : m_dirFd(dirFd)
    , m_final(QFile::encodeName(name))
{
    // A fresh name beside the target, made exclusively: nothing planted there is opened.
    makeTemporary([&] {
        m_file = FileDescriptor(::openat(dirFd, m_temporary.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, PrivateFileMode));
        return m_file.isValid();
    });
    if (m_file.isValid() && ::fchmod(m_file.get(), mode & ~currentUmask()) != 0) {
        m_errno = errno;
        ::unlinkat(dirFd, m_temporary.constData(), 0);
        m_file = FileDescriptor();
        m_temporary.clear();
    }
}

AtomicFile::AtomicFile(int dirFd, const QString &name, const AtomicFile &same)
    : m_dirFd(dirFd)
    , m_final(QFile::encodeName(name))
{
    if (!same.isOpen())
        return;
    // The open file itself is linked, through /proc, not whatever its name leads to by now; a
    // new name is made exclusively, as linkat() never replaces one.
    const QByteArray open = "/proc/self/fd/" + QByteArray::number(same.m_file.get());
    makeTemporary([&] {
        if (::linkat(AT_FDCWD, open.constData(), dirFd, m_temporary.constData(), AT_SYMLINK_FOLLOW)
            != 0)
            return false;
        m_file = FileDescriptor(::dup(same.m_file.get()));
        if (!m_file.isValid())
            ::unlinkat(dirFd, m_temporary.constData(), 0);
        return m_file.isValid();
    });
    m_linked = m_file.isValid();
}

AtomicFile::~AtomicFile()
{
    if (m_file.isValid() && !m_committed)
        ::unlinkat(m_dirFd, m_temporary.constData(), 0);
}

bool AtomicFile::write(const QByteArray &data)
{
    if (m_linked) {
        m_errno = EBADF;
        m_failed = true;
    }
    for (qint64 done = 0; !m_failed && m_file.isValid() && done < data.size();) {
        const ssize_t n
            = ::write(m_file.get(), data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : ENOSPC;
            m_failed = true;
            break;
        }
        done += n;
        m_size += n;
    }
    return m_file.isValid() && !m_failed;
}

WriteResult AtomicFile::commit(bool sync)
{
    if (!m_file.isValid())
        return WriteResult::OpenFailed;
    if (m_failed)
        return WriteResult::WriteFailed;
    if (sync && ::fsync(m_file.get()) != 0) {
        m_errno = errno;
        return WriteResult::WriteFailed;
    }
    if (::renameat(m_dirFd, m_temporary.constData(), m_dirFd, m_final.constData()) != 0) {
        m_errno = errno;
        return WriteResult::RenameFailed;
    }
    m_committed = true;
    return WriteResult::Written;
}

QString AtomicFile::error() const
{
    return QString::fromLocal8Bit(strerror(m_errno));
}

WriteResult writeAtomicallyAt(int dirFd, const QString &name, const QByteArrayList &pieces,
    bool sync, mode_t mode, QString *error)
{
    AtomicFile file(dirFd, name, mode);
    for (const QByteArray &piece : pieces)
        if (!file.write(piece))
            break;
    const WriteResult result = file.commit(sync);
    if (result != WriteResult::Written && error)
        *error = file.error();
    return result;
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
    if (directory) {
        listFd.release();
        // The copy shares its position with the descriptor, which an earlier listing moved.
        ::rewinddir(directory);
    }
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
    , m_released(std::exchange(other.m_released, 0))
{ }

MappedFile &MappedFile::operator=(MappedFile &&other) noexcept
{
    MappedFile old(std::move(*this));
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_released = std::exchange(other.m_released, 0);
    return *this;
}

QByteArray MappedFile::bytes() const
{
    return m_data ? QByteArray::fromRawData(static_cast<const char *>(m_data), int(m_size))
                  : QByteArray();
}

void MappedFile::release(qint64 from, qint64 to)
{
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t first = (size_t(qMax<qint64>(0, from)) + page - 1) / page * page;
    const size_t end = qMin(size_t(qMax<qint64>(0, to)), m_size) / page * page;
    // The part up to m_released is given up already.
    const size_t start = first <= m_released ? m_released : first;
    if (m_data && end > start) {
        ::madvise(static_cast<char *>(m_data) + start, end - start, MADV_DONTNEED);
        if (first <= m_released)
            m_released = end;
    }
}

bool existsAt(int dirFd, const QString &name)
{
    struct stat st;
    return ::fstatat(dirFd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool mapNoFollowAt(int dirFd, const QString &name, qint64 maxSize, MappedFile *file, uid_t *owner)
{
    const FileDescriptor fd(::openat(dirFd, QFile::encodeName(name).constData(),
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
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
    if (shared && !trustedInSharedLocation(st)) {
        if (error)
            *error = QStringLiteral("in a folder others can write to, and not owned by root or "
                                    "this user alone");
        return false;
    }
    *data = bytes;
    return true;
}

bool acceptableFileAt(int dirFd, const char *name, bool shared, qint64 maxSize)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, shared ? AT_SYMLINK_NOFOLLOW : 0) != 0)
        return false;
    return S_ISREG(st.st_mode) && st.st_size <= maxSize && readableByCaller(st)
        && (!shared || trustedInSharedLocation(st));
}

bool settingsFileState(const QString &path, QString *reason)
{
    reason->clear();
    // Where others can write, the file is taken as readFile() takes one: no link followed, and
    // only root's or the caller's, so that nobody else can put a FIFO under its name.
    const bool shared = inSharedLocation(path);
    const FileDescriptor fd(openForReading(path, !shared));
    if (!fd.isValid()) {
        if (errno == ELOOP && shared)
            *reason = QStringLiteral("a link in a folder others can write to");
        else if (errno != ENOENT)
            *reason = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxSettingsFileSize) {
        if (!shared || trustedInSharedLocation(st))
            return true;
        *reason = QStringLiteral("in a folder others can write to, and not owned by root or this "
                                 "user alone");
        return false;
    }
    *reason = QStringLiteral("is not a regular file of at most %1 bytes").arg(MaxSettingsFileSize);
    return false;
}

bool settingsFileReadable(const QString &path)
{
    QString reason;
    if (settingsFileState(path, &reason))
        return true;
    if (reason.startsWith(QLatin1String("is not")))
        vokWarning(config) << "Error settings file refused:" << path << qPrintable(reason);
    else if (!reason.isEmpty())
        vokWarning(config) << "Error settings file refused:" << path << reason;
    return false;
}

namespace {

socklen_t abstractAddress(const QByteArray &name, sockaddr_un *address)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    const size_t length = qMin(size_t(name.size()), sizeof address->sun_path - 1);
    std::memcpy(address->sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

FileDescriptor streamSocket()
{
    return FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

} // namespace

FileDescriptor holdAbstractName(const QByteArray &name, int backlog)
{
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, &address);
    FileDescriptor fd = streamSocket();
    if (!fd.isValid() || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(fd.get(), backlog) != 0)
        return FileDescriptor();
    return fd;
}

FileDescriptor connectAbstractName(const QByteArray &name, struct ucred *peer)
{
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, &address);
    FileDescriptor fd = streamSocket();
    socklen_t size = sizeof *peer;
    if (fd.isValid() && ::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), length) == 0
        && ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, peer, &size) == 0)
        return fd;
    const int error = errno;
    fd = FileDescriptor();
    errno = error;
    return fd;
}

void visitFiles(int dirFd,
    const std::function<void(
        int folderFd, const QString &folder, const char *name, const struct stat &)> &visit)
{
    const std::unique_ptr<DIR, DirectoryCloser> directory = listEntries(dirFd);
    if (!directory)
        return;
    // Names first: the visitor may remove what it is shown.
    QByteArrayList files;
    QByteArrayList folders;
    while (const struct dirent *entry = ::readdir(directory.get())) {
        const char *name = entry->d_name;
        if (strcmp(name, ".") && strcmp(name, ".."))
            files.append(QByteArray(name));
    }
    for (const QByteArray &name : qAsConst(files)) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode))
            visit(dirFd, QString(), name.constData(), st);
        else if (S_ISDIR(st.st_mode))
            folders.append(name);
    }
    for (const QByteArray &folder : qAsConst(folders)) {
        const FileDescriptor sub(
            ::openat(dirFd, folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!sub.isValid() || ::fstat(sub.get(), &st) != 0 || !trustedOwner(st.st_uid))
            continue;
        const std::unique_ptr<DIR, DirectoryCloser> inner = listEntries(sub.get());
        if (!inner)
            continue;
        const QString folderName = QFile::decodeName(folder);
        while (const struct dirent *entry = ::readdir(inner.get())) {
            struct stat fileSt;
            if (::fstatat(sub.get(), entry->d_name, &fileSt, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(fileSt.st_mode))
                visit(sub.get(), folderName, entry->d_name, fileSt);
        }
    }
}

bool removeOwnFilesAt(int dirFd, bool subdirectories, RemoveCount *count)
{
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || !trustedOwner(st.st_uid))
        return false;
    const uid_t self = geteuid();
    visitFiles(
        dirFd, [&](int folderFd, const QString &folder, const char *name, const struct stat &file) {
            if (!folder.isEmpty() && !subdirectories)
                return;
            if ((self == 0 || file.st_uid == self) && ::unlinkat(folderFd, name, 0) == 0)
                ++count->removed;
            else
                ++count->kept;
        });
    return true;
}

} // namespace SharedFiles
} // namespace VokImage
