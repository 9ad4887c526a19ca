#include "sharedfiles_p.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace SharedFiles {

static bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == geteuid();
}

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
    return S_ISREG(st.st_mode) && trustedOwner(st.st_uid);
}

// The process's umask, read without changing it.
static mode_t currentUmask()
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

WriteResult writeAtomically(const QString &path, const QByteArray &data, QString *error)
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
    if (file.write(data) != data.size() || !file.flush())
        return fail(WriteResult::WriteFailed, file.errorString());
    if (::fsync(file.handle()) != 0)
        return fail(WriteResult::WriteFailed, QString::fromLocal8Bit(strerror(errno)));
    const QByteArray from = QFile::encodeName(file.fileName());
    if (::rename(from.constData(), QFile::encodeName(path).constData()) != 0)
        return fail(WriteResult::RenameFailed, QString::fromLocal8Bit(strerror(errno)));
    file.setAutoRemove(false);
    return WriteResult::Written;
}

bool readNoFollow(const QString &path, qint64 maxSize, QByteArray *data, uid_t *owner)
{
    const int fd = ::open(
        QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxSize;
    if (ok) {
        if (owner)
            *owner = st.st_uid;
        QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
        qint64 done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ok = false;
            else
                done += n;
        }
        if (ok)
            *data = bytes;
    }
    ::close(fd);
    return ok;
}

} // namespace SharedFiles
} // namespace VokImage
