// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/cache.h>
#include <vokimage/render.h>

#include "cache_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"
#include "render/render_p.h"
#include "singleflight_p.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace Cache {

namespace {

using SharedFiles::FileDescriptor;

// The private directory, opened by the trusted walk; invalid when it is missing or not the
// caller's own.
FileDescriptor privateDir(bool create = false)
{
    return SharedFiles::openPrivateCache(create);
}

// The shared directory when it is trusted.
FileDescriptor sharedDir(bool create = false, SharedFiles::DirectoryState *state = nullptr)
{
    return SharedFiles::openSharedDirectory(CacheDir, create, state);
}

void warn(QString message)
{
    if (message.endsWith(QLatin1Char(' ')))
        message.chop(1);
    vokWarning(cache).noquote() << message;
}

// The files a map's picture is drawn from: the wallpaper, the logo and its high-resolution file.
QStringList sourcesOf(const QMap<QString, QVariant> &properties)
{
    const QVariant wallpaper = properties.value(PropertyKey::ImagePath);
    QStringList sources { wallpaper.userType() == qMetaTypeId<File>() ? wallpaper.value<File>().path
                                                                      : wallpaper.toString() };
    const QString logo = properties.value(PropertyKey::LogoPath).toString();
    sources.append(logo);
    if (properties.contains(PropertyKey::LogoHighResolutionFile))
        sources.append(properties.value(PropertyKey::LogoHighResolutionFile).value<File>().path);
    else if (devicePixelRatioOf(properties, PropertyKey::LogoDevicePixelRatio) > 1)
        sources.append(highResolutionPath(logo));
    return sources;
}

// Others may read a stored picture only when they may read every file it was drawn from.
mode_t modeFor(const QMap<QString, QVariant> &properties)
{
    const QStringList sources = sourcesOf(properties);
    for (const QString &source : sources) {
        if (source.isEmpty() || source.startsWith(QLatin1Char('#')))
            continue; // a colour, or no file
        struct stat st;
        if (::lstat(QFile::encodeName(source).constData(), &st) != 0 && errno == ENOENT)
            continue; // nothing was drawn from it
        if (!SharedFiles::readableByEveryone(source))
            return SharedFiles::PrivateFileMode;
    }
    return SharedFiles::PublicFileMode;
}

// The record in the directory open on @p dirFd; on failure @p why holds the warning. @p beside
// (may be empty) is given the file's contents once they are trusted, and runs on another thread
// while they decode.
Image loadFrom(int dirFd, bool shared, const QMap<QString, QVariant> &properties, const Key &key,
    QString *why,
    const std::function<void(const QByteArray &)> &beside
    = std::function<void(const QByteArray &)>())
{
    SharedFiles::MappedFile file;
    uid_t owner = 0;
    if (!SharedFiles::mapNoFollowAt(
            dirFd, key.name, largestRecord(key, surfaceSize(properties)), &file, &owner)) {
        QDebug(why) << "Error open file for read" << key.name;
        return Image();
    }
    if (owner != geteuid() && (!shared || owner != 0)) {
        QDebug(why) << "Error file is not trusted" << key.name;
        return Image();
    }
    const QByteArray bytes = file.bytes();
    std::thread helper;
    if (beside)
        helper = std::thread([&beside, &bytes] { beside(bytes); });
    // The file's pages are given up behind the decoder, unless the helper reads them too.
    const QImage image = decodeRecord(
        bytes, key, properties, surfaceSize(properties), why,
        beside ? std::function<void(qint64, qint64)>()
               : [&file](qint64 from, qint64 to) { file.release(from, to); });
    if (helper.joinable())
        helper.join();
    return image.isNull() ? Image() : Image { properties, image };
}

// Writes @p record into the directory open on @p dirFd as the key's file; false with the
// warning on failure.
bool writeRecord(int dirFd, const Key &key, const QByteArrayList &record, mode_t mode)
{
    QString reason;
    switch (SharedFiles::writeAtomicallyAt(dirFd, key.name, record, false, mode, &reason)) {
    case SharedFiles::WriteResult::Written:
        return true;
    case SharedFiles::WriteResult::OpenFailed:
        vokWarning(cache) << "Error open file for write" << key.name << reason;
        break;
    case SharedFiles::WriteResult::WriteFailed:
        vokWarning(cache) << "Error write file" << key.name << reason;
        break;
    case SharedFiles::WriteResult::RenameFailed:
        vokWarning(cache) << "Error replace file" << key.name << reason;
        break;
    }
    return false;
}

quint64 sizeOf(const QByteArrayList &record)
{
    quint64 size = 0;
    for (const QByteArray &piece : record)
        size += quint64(piece.size());
    return size;
}

enum class SharedStore { Stored, Failed, NoRoom };

// Stores in the shared directory; Failed, with a warning, when it cannot be used, and NoRoom,
// silently, when other users' files leave no room for the record.
SharedStore saveShared(const Key &key, const QByteArrayList &record, mode_t mode)
{
    SharedFiles::DirectoryState state = SharedFiles::DirectoryState::Missing;
    const FileDescriptor dir = sharedDir(false, &state);
    if (dir.isValid() && !makeRoom(dir.get(), sizeOf(record)))
        return SharedStore::NoRoom;
    switch (state) {
    case SharedFiles::DirectoryState::Untrusted:
        vokWarning(cache) << "Error cache dir is not trusted" << CacheDir;
        return SharedStore::Failed;
    case SharedFiles::DirectoryState::Missing: {
        const FileDescriptor made = sharedDir(true);
        if (!made.isValid()) {
            vokWarning(cache) << "Error create cache dir" << CacheDir;
            return SharedStore::Failed;
        }
        return writeRecord(made.get(), key, record, mode) ? SharedStore::Stored
                                                          : SharedStore::Failed;
    }
    case SharedFiles::DirectoryState::Trusted:
        break;
    }
    return writeRecord(dir.get(), key, record, mode) ? SharedStore::Stored : SharedStore::Failed;
}

const QString KeptFolder = QStringLiteral("kept");

// The private directory of kept copies, made with @p create; invalid when it cannot be used.
FileDescriptor keptDirectory(bool create)
{
    const FileDescriptor base = privateDir(create);
    return base.isValid() ? SharedFiles::openPrivateSubdirectory(base.get(), KeptFolder, create)
                          : FileDescriptor();
}

// A background stored in the shared directory, also kept where it outlives the temporary
// directory. Best effort and silent: the shared copy is stored.
void keepCopy(const Key &key, const QByteArrayList &record, mode_t mode)
{
    const FileDescriptor kept = keptDirectory(true);
    if (!kept.isValid())
        return;
    makeRoomQuietly(kept.get(), sizeOf(record));
    SharedFiles::writeAtomicallyAt(kept.get(), key.name, record, false, mode);
}

// Removes the kept copy under the key, if there is one of this user's.
void removeKept(const Key &key)
{
    const FileDescriptor kept = keptDirectory(false);
    if (kept.isValid())
        ::unlinkat(kept.get(), QFile::encodeName(key.name).constData(), 0);
}

} // namespace

bool loadKept(
    const QMap<QString, QVariant> &properties, const Key &key, Image *record, Origin *origin)
{
    if (SharedFiles::inspectSharedDirectory(CacheDir) == SharedFiles::DirectoryState::Untrusted)
        return false;
    const FileDescriptor kept = keptDirectory(false);
    if (!kept.isValid() || !SharedFiles::existsAt(kept.get(), key.name))
        return false;
    // The shared directory gets the file back, as a render would have stored it: written while
    // the copy decodes, and taken away again when it does not.
    QString why;
    bool restored = false;
    const mode_t mode = modeFor(properties);
    Image copy = loadFrom(
        kept.get(), false, properties, key, &why, [&key, &restored, mode](const QByteArray &bytes) {
            restored = saveShared(key, { bytes }, mode) == SharedStore::Stored;
        });
    if (copy.image.isNull()) {
        if (restored)
            ::unlink(QFile::encodeName(CacheDir + QLatin1Char('/') + key.name).constData());
        return false;
    }
    *record = std::move(copy);
    if (origin)
        *origin = Origin::PrivateCache;
    return true;
}

QString privateCacheDir()
{
    return SharedFiles::privateCacheDir();
}

Key keyOf(const QMap<QString, QVariant> &properties)
{
    Key key;
    key.bytes = Utils::PropertiesToByteArray(properties);
    key.name
        = QString::fromLatin1(QCryptographicHash::hash(key.bytes, QCryptographicHash::Md5).toHex());
    return key;
}

namespace {

// Whether something is named @p name in the shared or the private directory; with
// @p followLinks a link counts only when what it names exists.
bool existsNamed(const QString &name, bool followLinks)
{
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    struct stat st;
    if (::fstatat(
            AT_FDCWD, QFile::encodeName(CacheDir + QLatin1Char('/') + name).constData(), &st, flags)
        == 0)
        return true;
    const FileDescriptor own = privateDir();
    return own.isValid()
        && ::fstatat(own.get(), QFile::encodeName(name).constData(), &st, flags) == 0;
}

} // namespace

bool exists(const Key &key)
{
    return existsNamed(key.name, false);
}

bool loadStored(
    const QMap<QString, QVariant> &properties, const Key &key, Image *record, Origin *origin)
{
    bool ok = false;
    if (exists(key))
        *record = load(properties, key, &ok, origin);
    else
        ok = loadKept(properties, key, record, origin);
    return ok;
}

Image load(const QMap<QString, QVariant> &properties, const Key &key, bool *ok, Origin *origin)
{
    QString why;
    bool found = false;
    Image record;
    const FileDescriptor shared = sharedDir();
    if (shared.isValid() && SharedFiles::existsAt(shared.get(), key.name)) {
        found = true;
        record = loadFrom(shared.get(), true, properties, key, &why);
        if (origin && !record.image.isNull())
            *origin = Origin::SharedCache;
    }
    // A file the shared directory could not serve is looked for in the private one.
    const FileDescriptor own = record.image.isNull() ? privateDir() : FileDescriptor();
    if (own.isValid() && SharedFiles::existsAt(own.get(), key.name)) {
        found = true;
        QString privateWhy;
        record = loadFrom(own.get(), false, properties, key, &privateWhy);
        if (!record.image.isNull()) {
            if (origin)
                *origin = Origin::PrivateCache;
        } else if (why.isEmpty()) {
            why = privateWhy;
        }
    }
    if (!found)
        QDebug(&why) << "Error file not exists" << key.name;
    if (record.image.isNull())
        warn(why);
    if (ok)
        *ok = !record.image.isNull();
    return record;
}

namespace {

// Pictures from this many pixels are written to their files as they are encoded.
constexpr qint64 StreamedPixels = qint64(1) << 20;

enum class Streamed { Stored, NoRoom, NotStored };

// Stores the record of @p image in the shared directory and, with @p keep, its kept copy,
// handing the bytes to both files as they are encoded, so that the record is never whole in
// memory. NoRoom as saveShared(); NotStored, leaving nothing behind, when the directory is not
// one to use as it is or a write fails: the store from memory deals with those as it always has.
Streamed saveStreamed(const Image &image, const Key &key, bool keep, mode_t mode)
{
    SharedFiles::DirectoryState state = SharedFiles::DirectoryState::Missing;
    FileDescriptor dir = sharedDir(false, &state);
    if (state == SharedFiles::DirectoryState::Missing)
        dir = sharedDir(true);
    else if (state != SharedFiles::DirectoryState::Trusted)
        return Streamed::NotStored;
    if (!dir.isValid())
        return Streamed::NotStored;
    SharedFiles::AtomicFile shared(dir.get(), key.name, mode);
    if (!shared.isOpen())
        return Streamed::NotStored;
    // The kept copy is best effort and silent, as keepCopy()'s. Where both directories are on
    // one file system it is a second name of the shared file, written once.
    FileDescriptor keptDir;
    std::optional<SharedFiles::AtomicFile> kept;
    bool linked = false;
    if (keep) {
        keptDir = keptDirectory(true);
        if (keptDir.isValid()) {
            kept.emplace(keptDir.get(), key.name, shared);
            linked = kept->isOpen();
            if (!linked) {
                kept.reset();
                kept.emplace(keptDir.get(), key.name, mode);
            }
        }
    }
    const bool encoded = encodeRecord(key, image.image, [&](const QByteArray &piece) {
        if (kept && !linked)
            kept->write(piece);
        return shared.write(piece);
    });
    if (!encoded)
        return Streamed::NotStored;
    // Room is made as for a record in memory: the file being written is not counted.
    if (!makeRoom(dir.get(), quint64(shared.size()), shared.temporaryName()))
        return Streamed::NoRoom;
    if (shared.commit(false) != SharedFiles::WriteResult::Written)
        return Streamed::NotStored;
    if (kept && kept->isOpen()) {
        makeRoomQuietly(keptDir.get(), quint64(shared.size()), kept->temporaryName());
        kept->commit(false);
    }
    return Streamed::Stored;
}

} // namespace

bool save(const Image &image, const Key &key, bool keep)
{
    const mode_t mode = modeFor(image.properties);
    const Streamed streamed = qint64(image.image.width()) * image.image.height() >= StreamedPixels
        ? saveStreamed(image, key, keep, mode)
        : Streamed::NotStored;
    if (streamed == Streamed::Stored)
        return true;
    QByteArrayList record;
    if (!encodeRecord(key, image.image, &record)) {
        vokWarning(cache) << "Error encode image" << key.name;
        return false;
    }
    if (streamed == Streamed::NotStored) {
        // The kept copy is written on another thread while the shared one is stored; it stays
        // only beside a stored shared copy.
        std::thread keeper;
        if (keep)
            keeper = std::thread([&key, &record, mode] { keepCopy(key, record, mode); });
        const SharedStore shared = saveShared(key, record, mode);
        if (keeper.joinable())
            keeper.join();
        if (shared == SharedStore::Stored)
            return true;
    }
    if (keep)
        removeKept(key);
    // Another user's directory, file or bytes, or no room: the private directory serves this
    // user.
    const FileDescriptor own = privateDir(true);
    if (!own.isValid()) {
        vokWarning(cache) << "Error create cache dir" << privateCacheDir();
        return false;
    }
    makeRoom(own.get(), 0);
    return writeRecord(own.get(), key, record, mode);
}

namespace {

// The stores running in the background, waited for by waitForStores() and at exit.
class BackgroundStores
{
public:
    ~BackgroundStores() { wait(); }

    std::atomic<bool> enabled { false };

    void start(const Image &record, const Key &key)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_waitAtQuit && QCoreApplication::instance()) {
            qAddPostRoutine(waitForStores);
            m_waitAtQuit = true;
        }
        // Stores that are done are joined here, so that a long-running program keeps none.
        for (auto it = m_stores.begin(); it != m_stores.end();) {
            if (*it->done) {
                it->thread.join();
                it = m_stores.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        // Other processes wait for the render's key until it is stored.
        std::shared_ptr<SharedFiles::FileDescriptor> claim = takeRenderClaim();
        m_stores.push_back({ std::thread([record, key, done, claim] {
                                if (!save(record, key, true))
                                    vokWarning(cache) << "Error save image cache";
                                *done = true;
                            }),
            done });
    }

    void wait()
    {
        for (;;) {
            std::vector<Store> running;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                running.swap(m_stores);
            }
            if (running.empty())
                return;
            for (Store &store : running)
                store.thread.join();
        }
    }

private:
    struct Store
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_mutex;
    std::vector<Store> m_stores;
    bool m_waitAtQuit = false;
};

BackgroundStores &backgroundStores()
{
    static BackgroundStores stores;
    return stores;
}

} // namespace

void setStoreInBackground(bool enabled)
{
    backgroundStores().enabled = enabled;
}

void waitForStores()
{
    backgroundStores().wait();
}

Image renderAndStore(
    const QMap<QString, QVariant> &properties, const Key &key, Origin *origin, StagedRender *staged)
{
    RenderEngine own;
    StagedRender fresh(own);
    const QImage image = (staged ? staged : &fresh)->finish(properties).toImage();
    if ((staged ? staged->engine() : own).getStatus() != RenderEngine::Ok) {
        vokWarning(cache) << "Error render image" << properties;
        return Image();
    }
    const Image record { properties, image };
    if (backgroundStores().enabled)
        backgroundStores().start(record, key);
    else if (!save(record, key, true))
        vokWarning(cache) << "Error save image cache";
    if (origin)
        *origin = Origin::Rendered;
    return record;
}

QString getFileName(const QMap<QString, QVariant> &properties)
{
    return keyOf(properties).name;
}

bool isCacheExists(const QMap<QString, QVariant> &properties)
{
    return existsNamed(getFileName(properties), true);
}

bool saveImageCache(const Image &image)
{
    return save(image, keyOf(image.properties));
}

Image loadImageCache(const QMap<QString, QVariant> &properties, bool *ok)
{
    return load(properties, keyOf(properties), ok);
}

namespace {

Image plainLookup(const QMap<QString, QVariant> &properties, Origin *origin)
{
    const Key key = keyOf(properties);
    Image record;
    if (loadStored(properties, key, &record, origin))
        return record;
    return renderAndStore(properties, key, origin);
}

} // namespace

Image sharedLookup(const QMap<QString, QVariant> &properties, bool overloadLogo, Origin *origin)
{
    const Key key = keyOf(properties);
    Image record;
    if (loadStored(properties, key, &record, origin))
        return record;
    return coordinatedLookup(
        key, modeFor(properties) == SharedFiles::PublicFileMode,
        [&properties, overloadLogo](Origin *found) {
            return overloadLogo ? overloadedLookup(properties, found)
                                : plainLookup(properties, found);
        },
        origin);
}

Image getImageCacheWithoutOverloadedLogo(const QMap<QString, QVariant> &properties)
{
    return sharedLookup(properties, false, nullptr);
}

Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo)
{
    return getImageCache(properties, overloadLogo, nullptr);
}

Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo, Origin *origin)
{
    if (origin)
        *origin = Origin::None;
    return sharedLookup(
        properties, overloadLogo && properties.contains(PropertyKey::ImagePath), origin);
}

} // namespace Cache
} // namespace VokImage
