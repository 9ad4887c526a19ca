// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/cache.h>
#include <vokimage/render.h>

#include "cache_p.h"
#include "render/render_p.h"
#include "utils/sharedfiles_p.h"
#include "vocabulary/keys_p.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace Cache {

namespace {

QString filePath(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The private directory when it exists and is the caller's own; otherwise null.
QString usablePrivateDir()
{
    const QString dir = privateCacheDir();
    if (dir.isEmpty()
        || SharedFiles::privateDirectoryState(dir) != SharedFiles::DirectoryState::Trusted)
        return QString();
    return dir;
}

void warn(QString message)
{
    if (message.endsWith(QLatin1Char(' ')))
        message.chop(1);
    qWarning().noquote() << message;
}

// The record in @p dir; on failure @p why holds the warning. @p beside (may be empty) is given
// the file's contents once they are trusted, and runs on another thread while they decode.
Image loadFrom(const QString &dir, bool shared, const QMap<QString, QVariant> &properties,
    const Key &key, QString *why,
    const std::function<void(const QByteArray &)> &beside
    = std::function<void(const QByteArray &)>())
{
    SharedFiles::MappedFile file;
    uid_t owner = 0;
    if (!SharedFiles::mapNoFollow(
            filePath(dir, key.name), largestRecord(key, surfaceSize(properties)), &file, &owner)) {
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
    const QImage image = decodeRecord(bytes, key, properties, surfaceSize(properties), why);
    if (helper.joinable())
        helper.join();
    return image.isNull() ? Image() : Image { properties, image };
}

// Writes @p record into @p dir as the key's file; false with the warning on failure.
bool writeRecord(const QString &dir, const Key &key, const QByteArrayList &record)
{
    QString reason;
    switch (SharedFiles::writeAtomically(filePath(dir, key.name), record, false, &reason)) {
    case SharedFiles::WriteResult::Written:
        return true;
    case SharedFiles::WriteResult::OpenFailed:
        qWarning() << "Error open file for write" << key.name << reason;
        break;
    case SharedFiles::WriteResult::WriteFailed:
        qWarning() << "Error write file" << key.name << reason;
        break;
    case SharedFiles::WriteResult::RenameFailed:
        qWarning() << "Error replace file" << key.name << reason;
        break;
    }
    return false;
}

// Stores in the shared directory; false, with a warning, when it cannot be used.
bool saveShared(const Key &key, const QByteArrayList &record)
{
    makeRoom(CacheDir);
    switch (SharedFiles::directoryState(CacheDir)) {
    case SharedFiles::DirectoryState::Untrusted:
        qWarning() << "Error cache dir is not trusted" << CacheDir;
        return false;
    case SharedFiles::DirectoryState::Missing:
        if (!SharedFiles::ensureSharedDirectory(CacheDir)) {
            qWarning() << "Error create cache dir" << CacheDir;
            return false;
        }
        break;
    case SharedFiles::DirectoryState::Trusted:
        break;
    }
    return writeRecord(CacheDir, key, record);
}

// The folder of the kept copies in the private cache; null without a private cache.
QString keptDir()
{
    const QString dir = privateCacheDir();
    return dir.isEmpty() ? QString() : dir + QLatin1String("/kept");
}

// A background stored in the shared directory, also kept where it outlives the temporary
// directory. Best effort and silent: the shared copy is stored.
void keepCopy(const Key &key, const QByteArrayList &record)
{
    const QString dir = keptDir();
    if (dir.isEmpty() || !SharedFiles::ensurePrivateDirectory(dir)
        || SharedFiles::privateDirectoryState(privateCacheDir())
            != SharedFiles::DirectoryState::Trusted)
        return;
    quint64 size = 0;
    for (const QByteArray &piece : record)
        size += quint64(piece.size());
    makeRoomQuietly(dir, size);
    SharedFiles::writeAtomically(filePath(dir, key.name), record, false);
}

// Removes the kept copy under the key, if there is one of this user's.
void removeKept(const Key &key)
{
    const QString dir = keptDir();
    if (!dir.isEmpty()
        && SharedFiles::privateDirectoryState(dir) == SharedFiles::DirectoryState::Trusted)
        ::unlink(QFile::encodeName(filePath(dir, key.name)).constData());
}

} // namespace

bool loadKept(
    const QMap<QString, QVariant> &properties, const Key &key, Image *record, Origin *origin)
{
    const QString dir = keptDir();
    if (dir.isEmpty()
        || SharedFiles::directoryState(CacheDir) == SharedFiles::DirectoryState::Untrusted
        || usablePrivateDir().isEmpty()
        || SharedFiles::privateDirectoryState(dir) != SharedFiles::DirectoryState::Trusted
        || !exists(filePath(dir, key.name)))
        return false;
    // The shared directory gets the file back, as a render would have stored it: written while
    // the copy decodes, and taken away again when it does not.
    QString why;
    bool restored = false;
    Image kept = loadFrom(dir, false, properties, key, &why,
        [&key, &restored](const QByteArray &bytes) { restored = saveShared(key, { bytes }); });
    if (kept.image.isNull()) {
        if (restored)
            ::unlink(QFile::encodeName(filePath(CacheDir, key.name)).constData());
        return false;
    }
    *record = std::move(kept);
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

bool exists(const Key &key)
{
    if (exists(filePath(CacheDir, key.name)))
        return true;
    const QString dir = usablePrivateDir();
    return !dir.isEmpty() && exists(filePath(dir, key.name));
}

Image load(const QMap<QString, QVariant> &properties, const Key &key, bool *ok, Origin *origin)
{
    QString why;
    bool found = false;
    Image record;
    if (SharedFiles::directoryState(CacheDir) == SharedFiles::DirectoryState::Trusted
        && exists(filePath(CacheDir, key.name))) {
        found = true;
        record = loadFrom(CacheDir, true, properties, key, &why);
        if (origin && !record.image.isNull())
            *origin = Origin::SharedCache;
    }
    // A file the shared directory could not serve is looked for in the private one.
    const QString dir = record.image.isNull() ? usablePrivateDir() : QString();
    if (!dir.isEmpty() && exists(filePath(dir, key.name))) {
        found = true;
        QString privateWhy;
        record = loadFrom(dir, false, properties, key, &privateWhy);
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

bool save(const Image &image, const Key &key, bool keep)
{
    QByteArrayList record;
    if (!encodeRecord(key, image.image, &record)) {
        qWarning() << "Error encode image" << key.name;
        return false;
    }
    // The kept copy is written on another thread while the shared one is stored; it stays only
    // beside a stored shared copy.
    std::thread keeper;
    if (keep)
        keeper = std::thread([&key, &record] { keepCopy(key, record); });
    const bool shared = saveShared(key, record);
    if (keeper.joinable())
        keeper.join();
    if (shared)
        return true;
    if (keep)
        removeKept(key);
    // Another user's directory or file, or no room: the private directory serves this user.
    const QString dir = privateCacheDir();
    if (dir.isEmpty() || !SharedFiles::ensurePrivateDirectory(dir)) {
        qWarning() << "Error create cache dir" << dir;
        return false;
    }
    makeRoom(dir);
    return writeRecord(dir, key, record);
}

Image renderAndStore(
    const QMap<QString, QVariant> &properties, const Key &key, Origin *origin, StagedRender *staged)
{
    RenderEngine own;
    StagedRender fresh(own);
    const QImage image = (staged ? staged : &fresh)->finish(properties).toImage();
    if ((staged ? staged->engine() : own).getStatus() != RenderEngine::Ok) {
        qWarning() << "Error render image" << properties;
        return Image();
    }
    const Image record { properties, image };
    if (!save(record, key, true))
        qWarning() << "Error save image cache";
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
    const QString name = getFileName(properties);
    if (QFile::exists(filePath(CacheDir, name)))
        return true;
    const QString dir = usablePrivateDir();
    return !dir.isEmpty() && QFile::exists(filePath(dir, name));
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
    bool ok = false;
    Image record;
    if (exists(key))
        record = load(properties, key, &ok, origin);
    else
        ok = loadKept(properties, key, &record, origin);
    if (ok)
        return record;
    return renderAndStore(properties, key, origin);
}

} // namespace

Image getImageCacheWithoutOverloadedLogo(const QMap<QString, QVariant> &properties)
{
    return plainLookup(properties, nullptr);
}

Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo)
{
    return getImageCache(properties, overloadLogo, nullptr);
}

Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo, Origin *origin)
{
    if (origin)
        *origin = Origin::None;
    if (overloadLogo && properties.contains(PropertyKey::ImagePath))
        return overloadedLookup(properties, origin);
    return plainLookup(properties, origin);
}

} // namespace Cache
} // namespace VokImage
