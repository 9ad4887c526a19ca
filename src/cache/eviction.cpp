// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "cache_p.h"
#include "internal/logging_p.h"

#include "internal/sharedfiles_p.h"

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

// Calls @p visit with the name and status of each regular file directly in the directory open
// on @p dirFd but @p writing; links are not followed.
template <typename Visit> void forEachFile(int dirFd, const QByteArray &writing, Visit visit)
{
    const std::unique_ptr<DIR, SharedFiles::DirectoryCloser> listing
        = SharedFiles::listEntries(dirFd);
    if (!listing)
        return;
    while (const struct dirent *entry = ::readdir(listing.get())) {
        if (!writing.isEmpty() && writing == entry->d_name)
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            visit(entry->d_name, st);
    }
}

bool mayRemove(const struct stat &st)
{
    const uid_t self = geteuid();
    return self == 0 || st.st_uid == self;
}

// What a file weighs: the space it occupies on disk, never above its size, so that a sparse
// file weighs nothing.
quint64 weight(const struct stat &st)
{
    return quint64(qMin<qint64>(st.st_size, qint64(st.st_blocks) * 512));
}

SharedFiles::FileDescriptor openDirectory(const QString &dir)
{
    return SharedFiles::FileDescriptor(::open(
        QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

} // namespace

Weights weigh(int dirFd, const QByteArray &writing)
{
    Weights weights;
    forEachFile(dirFd, writing, [&weights](const char *, const struct stat &st) {
        weights.all += weight(st);
        if (mayRemove(st))
            weights.evictable += weight(st);
    });
    return weights;
}

quint64 evictableSize(int dirFd, const QByteArray &writing)
{
    return weigh(dirFd, writing).evictable;
}

void removeOldest(int dirFd, const QByteArray &writing)
{
    // The oldest file by modification time (to the millisecond), the greatest name first among
    // equals: QDir's Time | Reversed order, found in one pass without converting times.
    QByteArray oldest;
    qint64 oldestTime = 0;
    forEachFile(dirFd, writing, [&](const char *name, const struct stat &st) {
        if (!mayRemove(st))
            return;
        const qint64 time = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        if (oldest.isNull() || time < oldestTime
            || (time == oldestTime && QFile::decodeName(name) > QFile::decodeName(oldest))) {
            oldest = name;
            oldestTime = time;
        }
    });
    if (oldest.isNull())
        return;
    struct stat st;
    if (::fstatat(dirFd, oldest.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return; // another process removed it meanwhile
    if (::unlinkat(dirFd, oldest.constData(), 0) != 0)
        vokWarning(cache) << "Error remove file" << QFile::decodeName(oldest);
}

bool makeRoom(int dirFd, quint64 incoming, const QByteArray &writing)
{
    Weights weights = weigh(dirFd, writing);
    if (weights.all > MaxCacheSize) {
        vokWarning(cache) << "Cache size is exceeded MAX CACHE SIZE:" << MaxCacheSize;
        removeOldest(dirFd, writing);
        weights = weigh(dirFd, writing);
    }
    // Other users' files are not the caller's to remove: when they leave no room, the caller
    // stores elsewhere.
    const quint64 foreign = weights.all - weights.evictable;
    return foreign == 0 || foreign + incoming <= MaxCacheSize;
}

void makeRoomQuietly(int dirFd, quint64 incoming, const QByteArray &writing)
{
    for (quint64 size = evictableSize(dirFd, writing); size + incoming > MaxCacheSize;) {
        removeOldest(dirFd, writing);
        const quint64 after = evictableSize(dirFd, writing);
        if (after >= size)
            break;
        size = after;
    }
}

quint64 getCacheSize()
{
    if (SharedFiles::inspectSharedDirectory(CacheDir) != SharedFiles::DirectoryState::Trusted)
        return 0;
    const SharedFiles::FileDescriptor dir = openDirectory(CacheDir);
    return dir.isValid() ? evictableSize(dir.get()) : 0;
}

void removeOldFileCache()
{
    if (SharedFiles::secureSharedDirectory(CacheDir) != SharedFiles::DirectoryState::Trusted)
        return;
    const SharedFiles::FileDescriptor dir = openDirectory(CacheDir);
    if (dir.isValid())
        removeOldest(dir.get());
}

} // namespace Cache
} // namespace VokImage
