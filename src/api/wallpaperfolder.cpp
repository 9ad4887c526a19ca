// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>

#include "api_p.h"
#include "config/config_p.h"
#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"

#include <QCollator>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace VokImage {

namespace {

using SharedFiles::FileDescriptor;

// The suffixes of the formats Qt's reader has plugins for, in lower case.
const QSet<QByteArray> &pictureSuffixes()
{
    static const QSet<QByteArray> suffixes = [] {
        QSet<QByteArray> set;
        const QList<QByteArray> formats = QImageReader::supportedImageFormats();
        for (const QByteArray &format : formats)
            set.insert(format.toLower());
        set.insert("jpe");
        return set;
    }();
    return suffixes;
}

bool pictureName(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    if (name[0] == '.' || !dot || !dot[1])
        return false;
    char lower[16];
    int length = 0;
    for (const char *c = dot + 1; *c; ++c) {
        if (length == int(sizeof lower))
            return false;
        lower[length++] = char(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    }
    // The suffixes of Qt's own readers are known without asking: the list of all loads every
    // image plugin.
    static const QSet<QByteArray> own { "jpg", "jpeg", "jpe", "png", "gif", "bmp", "svg", "svgz" };
    const QByteArray suffix = QByteArray::fromRawData(lower, length);
    return own.contains(suffix) || pictureSuffixes().contains(suffix);
}

// What tells that a folder's listing may differ: its identity and times, and whether it lies
// where others can write.
QByteArray identityOf(const struct stat &st, bool shared)
{
    return QByteArray::number(qulonglong(st.st_dev)) + ':'
        + QByteArray::number(qulonglong(st.st_ino)) + ':'
        + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':'
        + QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(st.st_ctim.tv_nsec)) + (shared ? ":s" : ":p");
}

struct Cached
{
    QByteArray identity;
    FolderIndex index;
};

std::mutex cacheMutex;
// The last indexes built, by folder: a few folders are in use at a time.
QHash<QString, Cached> cache;
constexpr int CachedFolders = 8;

// Entries read from a folder at the most, whatever they are.
constexpr int MaxEntriesRead = 1000000;

FolderIndex build(const QString &folder, int folderFd, bool shared)
{
    FolderIndex index;
    const std::unique_ptr<DIR, SharedFiles::DirectoryCloser> listing
        = SharedFiles::listEntries(folderFd);
    if (!listing)
        return index;
    // The pictures that have been in the folder longest (the lowest inode numbers): what others
    // add to a shared folder later cannot push the owner's pictures out.
    // A heap of (inode, slot) with the newest of the kept candidates on top; the names are in
    // slots of @c kept, which a dropped candidate hands to the next.
    using Candidate = std::pair<ino_t, int>;
    std::vector<Candidate> oldest;
    std::vector<std::string> kept;
    while (const struct dirent *entry = ::readdir(listing.get())) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
            continue;
        if (++index.entries > MaxEntriesRead) {
            index.entries = MaxEntriesRead;
            index.truncated = true;
            break;
        }
        const unsigned char type = entry->d_type;
        if ((type != DT_REG && type != DT_UNKNOWN && type != DT_LNK)
            || !pictureName(entry->d_name)) {
            ++index.skipped;
            continue;
        }
        // A link where others can write is never followed.
        if (type == DT_LNK && shared) {
            ++index.refused;
            continue;
        }
        int slot = int(kept.size());
        if (slot == MaxFolderPictures) {
            index.truncated = true;
            if (entry->d_ino >= oldest.front().first)
                continue;
            std::pop_heap(oldest.begin(), oldest.end());
            slot = oldest.back().second;
            oldest.pop_back();
        } else {
            kept.emplace_back();
        }
        kept[size_t(slot)].assign(entry->d_name);
        oldest.emplace_back(entry->d_ino, slot);
        std::push_heap(oldest.begin(), oldest.end());
    }
    QStringList names;
    for (const std::string &name : kept) {
        // The rules of the trusted reading, judged without opening: nothing here can block.
        if (SharedFiles::acceptableFileAt(
                folderFd, name.c_str(), shared, SharedFiles::MaxImageFileSize))
            names.append(QFile::decodeName(name.c_str()));
        else
            ++index.refused;
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::sort(names.begin(), names.end(),
        [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString &name : qAsConst(names))
        index.pictures.append(prefix + name);
    if (index.truncated)
        vokWarning(config) << "Error wallpaper folder holds too many entries, only the oldest"
                           << MaxFolderPictures << "pictures of the first" << MaxEntriesRead
                           << "entries are used:" << folder;
    return index;
}

// The picture of @p pictures at @p now for @p interval seconds each; empty when there is none.
QString pictureAt(const QStringList &pictures, qint64 now, int interval)
{
    if (pictures.isEmpty())
        return QString();
    return pictures.at(int((now / qMax(1, interval)) % pictures.size()));
}

} // namespace

FolderIndex indexFolder(const QString &folder)
{
    const FileDescriptor fd(::open(
        QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0)
        return FolderIndex();
    const bool shared = SharedFiles::inSharedLocation(folder + QLatin1String("/."));
    const QByteArray identity = identityOf(st, shared);
    {
        const std::lock_guard<std::mutex> lock(cacheMutex);
        const auto it = cache.constFind(folder);
        if (it != cache.constEnd() && it->identity == identity)
            return it->index;
    }
    FolderIndex index = build(folder, fd.get(), shared);
    // A folder changed within the last second may change again without its time changing: its
    // listing is read again next time.
    if (QDateTime::currentSecsSinceEpoch() - qint64(st.st_mtim.tv_sec) > 1) {
        const std::lock_guard<std::mutex> lock(cacheMutex);
        if (cache.size() >= CachedFolders && !cache.contains(folder))
            cache.erase(cache.begin());
        cache.insert(folder, { identity, index });
    }
    return index;
}

bool isFolder(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0
        && S_ISDIR(st.st_mode);
}

struct WallpaperFolder::Data
{
    QString path;
    int interval = 0;
    FolderIndex index;
    qint64 now = 0;
};

WallpaperFolder::WallpaperFolder(bool greeter)
{
    const QString path = Config::configuredWallpaper(greeter);
    if (!isFolder(path))
        return;
    auto data = std::make_shared<Data>();
    data->path = path;
    data->interval = qMax(1, Config::wallpaperInterval(greeter));
    data->index = indexFolder(path);
    data->now = clockSeconds();
    d = std::move(data);
}

WallpaperFolder::~WallpaperFolder() = default;
WallpaperFolder::WallpaperFolder(const WallpaperFolder &other) = default;
WallpaperFolder &WallpaperFolder::operator=(const WallpaperFolder &other) = default;

bool WallpaperFolder::isNull() const
{
    return !d;
}

QString WallpaperFolder::path() const
{
    return d ? d->path : QString();
}

int WallpaperFolder::interval() const
{
    return d ? d->interval : 0;
}

QStringList WallpaperFolder::pictures() const
{
    return d ? d->index.pictures : QStringList();
}

int WallpaperFolder::skipped() const
{
    return d ? d->index.skipped : 0;
}

int WallpaperFolder::refused() const
{
    return d ? d->index.refused : 0;
}

bool WallpaperFolder::isTruncated() const
{
    return d && d->index.truncated;
}

QString WallpaperFolder::current() const
{
    return d ? pictureAt(d->index.pictures, d->now, d->interval) : QString();
}

qint64 WallpaperFolder::secondsToNextPicture() const
{
    return d ? (d->now / d->interval + 1) * d->interval - d->now : 0;
}

QString pictureOfFolder(const QString &folder, bool greeter)
{
    if (!isFolder(folder))
        return folder;
    return pictureAt(
        indexFolder(folder).pictures, clockSeconds(), Config::wallpaperInterval(greeter));
}

} // namespace VokImage
