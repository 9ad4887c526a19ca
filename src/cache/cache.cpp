#include <vokimage/cache.h>
#include <vokimage/render.h>

#include "cache_p.h"
#include "png_p.h"
#include "render/render_p.h"
#include "utils/sharedfiles_p.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

namespace VokImage {
namespace Cache {

namespace {

// Largest cache file that is read; far above any picture the limits let through.
constexpr qint64 MaxCacheFileSize = qint64(1) << 30;

// Room for PNG chunks besides the pixel rows.
constexpr qint64 MaxPngOverhead = 1 << 20;

const QDir::Filters Listing = QDir::Files | QDir::NoSymLinks | QDir::Hidden;

QString filePath(const QString &name)
{
    return CacheDir + QLatin1Char('/') + name;
}

bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// False, with a warning, when the directory exists but may not be used.
bool directoryUsable(SharedFiles::DirectoryState *state = nullptr)
{
    const SharedFiles::DirectoryState s = SharedFiles::directoryState(CacheDir);
    if (state)
        *state = s;
    if (s == SharedFiles::DirectoryState::Untrusted) {
        qWarning() << "Error cache dir is not trusted" << CacheDir;
        return false;
    }
    return true;
}

// The image part of a cache file, appended to @p record: QDataStream's QImage form, a marker
// and a PNG.
bool appendImage(const QImage &image, QByteArray *record)
{
    const char marker[4] = { 0, 0, 0, char(image.isNull() ? 0 : 1) };
    record->append(marker, 4);
    return image.isNull() || appendPng(image, record);
}

// Decodes the image part only when its PNG header announces the @p expected size.
QImage decodeImage(const char *part, qint64 size, const QSize &expected)
{
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (size < 4 + 24 || qFromBigEndian<qint32>(part) == 0)
        return QImage();
    const char *png = part + 4;
    if (memcmp(png, signature, 8) != 0 || memcmp(png + 12, "IHDR", 4) != 0)
        return QImage();
    const quint32 width = qFromBigEndian<quint32>(png + 16);
    const quint32 height = qFromBigEndian<quint32>(png + 20);
    if (qint64(width) != expected.width() || qint64(height) != expected.height())
        return QImage();
    return decodePng(png, size - 4, expected);
}

} // namespace

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
    return exists(filePath(key.name));
}

Image load(const QMap<QString, QVariant> &properties, const Key &key, bool *ok)
{
    auto fail = [ok]() {
        if (ok)
            *ok = false;
        return Image();
    };
    SharedFiles::DirectoryState state;
    if (!directoryUsable(&state))
        return fail();
    const QString path = filePath(key.name);
    if (state == SharedFiles::DirectoryState::Missing || !exists(path)) {
        qWarning() << "Error file not exists" << key.name;
        return fail();
    }
    // No valid file is larger than its map and a PNG of the surface at 16-bit RGBA.
    const QSize surface = surfaceSize(properties);
    const qint64 largest = qMin(MaxCacheFileSize,
        key.bytes.size() + 4 + MaxPngOverhead
            + qint64(qMax(0, surface.width())) * qMax(0, surface.height()) * 9);
    QByteArray data;
    uid_t owner = 0;
    if (!SharedFiles::readNoFollow(path, largest, &data, &owner)) {
        qWarning() << "Error open file for read" << key.name;
        return fail();
    }
    if (owner != 0 && owner != geteuid()) {
        qWarning() << "Error file is not trusted" << key.name;
        return fail();
    }
    if (!data.startsWith(key.bytes)) {
        const QMap<QString, QVariant> stored = Utils::ByteArrayToProperties(data);
        if (stored.isEmpty())
            qWarning() << "Error image is null";
        else
            qWarning() << "Error properties not equal" << stored << properties;
        return fail();
    }
    const QImage image
        = decodeImage(data.constData() + key.bytes.size(), data.size() - key.bytes.size(), surface);
    if (image.isNull()) {
        qWarning() << "Error image is null";
        return fail();
    }
    if (ok)
        *ok = true;
    return Image { properties, image };
}

bool save(const Image &image, const Key &key)
{
    if (getCacheSize() > MaxCacheSize) {
        qWarning() << "Cache size is exceeded MAX CACHE SIZE:" << MaxCacheSize;
        removeOldFileCache();
    }
    SharedFiles::DirectoryState state;
    if (!directoryUsable(&state))
        return false;
    if (state == SharedFiles::DirectoryState::Missing
        && !SharedFiles::ensureSharedDirectory(CacheDir)) {
        qWarning() << "Error create cache dir" << CacheDir;
        return false;
    }
    QByteArray record = key.bytes;
    if (!appendImage(image.image, &record)) {
        qWarning() << "Error encode image" << key.name;
        return false;
    }
    QString reason;
    switch (SharedFiles::writeAtomically(filePath(key.name), record, &reason)) {
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

Image renderAndStore(const QMap<QString, QVariant> &properties, const Key &key)
{
    RenderEngine engine;
    const QImage image = engine.render(properties).toImage();
    if (engine.getStatus() != RenderEngine::Ok) {
        qWarning() << "Error render image" << properties;
        return Image();
    }
    const Image record { properties, image };
    if (!save(record, key))
        qWarning() << "Error save image cache";
    return record;
}

QString getFileName(const QMap<QString, QVariant> &properties)
{
    return keyOf(properties).name;
}

bool isCacheExists(const QMap<QString, QVariant> &properties)
{
    return QFile::exists(filePath(getFileName(properties)));
}

bool saveImageCache(const Image &image)
{
    return save(image, keyOf(image.properties));
}

Image loadImageCache(const QMap<QString, QVariant> &properties, bool *ok)
{
    return load(properties, keyOf(properties), ok);
}

Image getImageCacheWithoutOverloadedLogo(const QMap<QString, QVariant> &properties)
{
    const Key key = keyOf(properties);
    bool ok = false;
    Image record;
    if (exists(key))
        record = load(properties, key, &ok);
    if (ok)
        return record;
    return renderAndStore(properties, key);
}

Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo)
{
    if (overloadLogo && properties.contains(QLatin1String(Keys::ImagePath)))
        return getImageCacheWithOverloadedLogo(properties);
    return getImageCacheWithoutOverloadedLogo(properties);
}

quint64 getCacheSize()
{
    if (SharedFiles::directoryState(CacheDir) != SharedFiles::DirectoryState::Trusted)
        return 0;
    quint64 total = 0;
    const QFileInfoList files = QDir(CacheDir).entryInfoList(Listing, QDir::Size | QDir::Reversed);
    for (const QFileInfo &file : files)
        total += quint64(file.size());
    return total;
}

void removeOldFileCache()
{
    if (SharedFiles::directoryState(CacheDir) != SharedFiles::DirectoryState::Trusted)
        return;
    // The oldest file by modification time (to the millisecond), the greatest name first among
    // equals: QDir's Time | Reversed order, found in one pass without converting times.
    const QStringList names = QDir(CacheDir).entryList(Listing, QDir::Unsorted);
    const uid_t self = geteuid();
    QString oldest;
    qint64 oldestTime = 0;
    for (const QString &name : names) {
        struct stat st;
        if (::lstat(QFile::encodeName(filePath(name)).constData(), &st) != 0
            || !S_ISREG(st.st_mode))
            continue;
        // With the sticky bit only our own files can go (any file for root).
        if (self != 0 && st.st_uid != self)
            continue;
        const qint64 time = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        if (oldest.isNull() || time < oldestTime || (time == oldestTime && name > oldest)) {
            oldest = name;
            oldestTime = time;
        }
    }
    if (oldest.isNull() || !exists(filePath(oldest)))
        return;
    if (!QDir(CacheDir).remove(oldest))
        qWarning() << "Error remove file" << oldest;
}

} // namespace Cache
} // namespace VokImage
