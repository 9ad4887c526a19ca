// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "cache_p.h"

#include "utils/sharedfiles_p.h"

#include <vokimage/vocabulary.h>

#include <QDebug>
#include <QFile>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace Cache {

namespace {

// Calls @p visit with the name and status of each regular file directly in @p dir that the
// caller may remove (every one for root); links are not followed.
template <typename Visit> void forEachEvictable(const QString &dir, Visit visit)
{
    const SharedFiles::FileDescriptor fd(::open(
        QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const std::unique_ptr<DIR, SharedFiles::DirectoryCloser> listing
        = fd.isValid() ? SharedFiles::listEntries(fd.get()) : nullptr;
    if (!listing)
        return;
    const uid_t self = geteuid();
    while (const struct dirent *entry = ::readdir(listing.get())) {
        struct stat st;
        if (::fstatat(fd.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(st.st_mode))
            continue;
        if (self != 0 && st.st_uid != self)
            continue;
        visit(entry->d_name, st);
    }
}

} // namespace

quint64 evictableSize(const QString &dir)
{
    quint64 total = 0;
    forEachEvictable(dir, [&total](const char *, const struct stat &st) {
        total += quint64(qMin<qint64>(st.st_size, qint64(st.st_blocks) * 512));
    });
    return total;
}

void removeOldest(const QString &dir)
{
    // The oldest file by modification time (to the millisecond), the greatest name first among
    // equals: QDir's Time | Reversed order, found in one pass without converting times.
    QByteArray oldest;
    qint64 oldestTime = 0;
    forEachEvictable(dir, [&](const char *name, const struct stat &st) {
        const qint64 time = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        if (oldest.isNull() || time < oldestTime
            || (time == oldestTime && QFile::decodeName(name) > QFile::decodeName(oldest))) {
            oldest = name;
            oldestTime = time;
        }
    });
    if (oldest.isNull())
        return;
    const QByteArray path = QFile::encodeName(dir) + '/' + oldest;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return; // another process removed it meanwhile
    if (::unlink(path.constData()) != 0)
        qWarning() << "Error remove file" << QFile::decodeName(oldest);
}

void makeRoom(const QString &dir)
{
    if (evictableSize(dir) > MaxCacheSize) {
        qWarning() << "Cache size is exceeded MAX CACHE SIZE:" << MaxCacheSize;
        removeOldest(dir);
    }
}

void makeRoomQuietly(const QString &dir, quint64 incoming)
{
    for (quint64 size = evictableSize(dir); size + incoming > MaxCacheSize;) {
        removeOldest(dir);
        const quint64 after = evictableSize(dir);
        if (after >= size)
            break;
        size = after;
    }
}

quint64 getCacheSize()
{
    if (SharedFiles::directoryState(CacheDir) != SharedFiles::DirectoryState::Trusted)
        return 0;
    return evictableSize(CacheDir);
}

void removeOldFileCache()
{
    if (SharedFiles::directoryState(CacheDir) == SharedFiles::DirectoryState::Trusted)
        removeOldest(CacheDir);
}

} // namespace Cache
} // namespace VokImage
