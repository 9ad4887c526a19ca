// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace VokImage;

using PropertyMap = QMap<QString, QVariant>;

class TestCache : public QObject
{
    Q_OBJECT

private:
    void encodings(const QSize &size);
    void sizeLimitFor(const QSize &size);
    void keptFor(const QSize &size, bool oneFileSystem);

private slots:
    void initTestCase();
    void init();
    void storeAndHit();
    void pictureEncoding();
    void largePictureRoundTrip();
    void damagedPixels();
    void rowsWithOtherFilters();
    void wallpaperChangeAndRenderFailure();
    void damagedFiles();
    void cacheDirUnusable();
    void keptAcrossReboot();
    void sizeLimit();
    void evictionOrder();
    void symlinkAtFileName();
    void symlinkedDirectory();
    void foreignFiles();
    void fullDisk();
    void concurrentProcesses();
};

static const QString Wallpaper = QStringLiteral("/tmp/wallpaper.png");

// A file of @p size bytes that occupies no disk space.
static bool writeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

// A file of @p size bytes of data, all of them on disk.
static bool writeFilled(const QString &path, qint64 size)
{
    return writeAll(path, QByteArray(int(size), 'h'));
}

static QString cachePath(const PropertyMap &map)
{
    return CacheDir + QLatin1Char('/') + Cache::getFileName(map);
}

static bool isRegularFile(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

static PropertyMap wallpaperMap(const QSize &size, const QString &path = Wallpaper)
{
    PropertyMap map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = QRect(QPoint(0, 0), size);
    return map;
}

static bool isSolid(const QImage &image, const QSize &size, const QColor &colour)
{
    if (image.size() != size)
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 7)
        for (int x = 0; x < rgb.width(); x += 7)
            if (QColor(rgb.pixel(x, y)) != colour)
                return false;
    return true;
}

static int entryCount(const QString &dir)
{
    return QDir(dir)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

void TestCache::initTestCase()
{
    ::umask(022);
}

void TestCache::init()
{
    QVERIFY(insideSandbox());
    QFile::remove(CacheDir);
    QDir(CacheDir).removeRecursively();
    QVERIFY(writeTestImage(Wallpaper, solidImage(QSize(320, 240), QColor(30, 90, 160))));
}

// A picture of @p kind: "noise", "gradient", "translucent", "rgb888" or "straight".
static QImage testPicture(const QString &kind, const QSize &size)
{
    QRandomGenerator rng(7);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QRgb c = qRgb(x * 255 / size.width(), y * 255 / size.height(), 128);
            if (kind == QLatin1String("noise"))
                c = rng.generate() | 0xff000000;
            else if (kind == QLatin1String("translucent"))
                c = qPremultiply(qRgba(rng.bounded(256), x, y, (x + y * 7) % 256));
            image.setPixel(x, y, c);
        }
    }
    if (kind == QLatin1String("rgb888"))
        return image.convertToFormat(QImage::Format_RGB888);
    if (kind == QLatin1String("straight"))
        return image.convertToFormat(QImage::Format_ARGB32);
    return image;
}

void TestCache::pictureEncoding()
{
    // A small picture is encoded in one band; one of a million pixels in two, on two threads.
    for (const QSize &size : { QSize(203, 151), QSize(1291, 823) }) {
        QDir(CacheDir).removeRecursively();
        encodings(size);
    }
}

void TestCache::encodings(const QSize &size)
{
    const qint64 raw = qint64(size.width()) * size.height() * 3;
    for (const QString kind : { "noise", "gradient", "translucent", "rgb888", "straight" }) {
        const PropertyMap map = wallpaperMap(size, QStringLiteral("/tmp/") + kind);
        const QImage picture = testPicture(kind, size);
        MessageLog log;
        QVERIFY(Cache::saveImageCache(Image { map, picture }));
        const QByteArray data = readAll(cachePath(map));
        const QByteArray key = Utils::PropertiesToByteArray(map);
        QVERIFY(data.startsWith(key));
        QCOMPARE(data.mid(key.size(), 4), QByteArray("\0\0\0\1", 4));
        const QByteArray png = data.mid(key.size() + 4);
        // Colour type: RGB for opaque pictures, RGBA otherwise.
        const bool translucent = kind == QLatin1String("translucent");
        QCOMPARE(int(png.at(25)), translucent ? 6 : 2);
        if (kind == QLatin1String("noise"))
            QVERIFY2(png.size() >= raw, qPrintable(kind)); // stored, not deflated
        if (kind == QLatin1String("gradient"))
            QVERIFY2(png.size() < raw / 5, qPrintable(kind));

        // Qt's reader gives the picture's pixels, and a hit gives exactly what Qt's reader gives.
        QDataStream stream(data.mid(key.size()));
        QImage qtRead;
        stream >> qtRead;
        QCOMPARE(stream.status(), QDataStream::Ok);
        QCOMPARE(qtRead.convertToFormat(QImage::Format_ARGB32),
            picture.convertToFormat(QImage::Format_ARGB32));
        bool ok = false;
        const Image hit = Cache::loadImageCache(map, &ok);
        QVERIFY(ok);
        QCOMPARE(hit.image.format(), qtRead.format());
        QCOMPARE(hit.image, qtRead);
        QVERIFY(!log.contains(QStringLiteral("Error")));
    }

    // Records written by Qt's own stream form, 8 and 16 bits deep, read as Qt reads them.
    for (const QImage::Format format : { QImage::Format_ARGB32, QImage::Format_RGBA64 }) {
        const PropertyMap map = wallpaperMap(size, QStringLiteral("/tmp/qt%1").arg(format));
        const QImage picture
            = testPicture(QStringLiteral("translucent"), size).convertToFormat(format);
        QByteArray record = Utils::PropertiesToByteArray(map);
        QDataStream out(&record, QIODevice::WriteOnly | QIODevice::Append);
        out << picture;
        QVERIFY(QDir().mkpath(CacheDir));
        QVERIFY(writeAll(cachePath(map), record));
        QDataStream in(record.mid(Utils::PropertiesToByteArray(map).size()));
        QImage qtRead;
        in >> qtRead;
        bool ok = false;
        const Image hit = Cache::loadImageCache(map, &ok);
        QVERIFY(ok);
        QCOMPARE(hit.image.format(), qtRead.format());
        QCOMPARE(hit.image, qtRead);
    }
}

void TestCache::storeAndHit()
{
    const PropertyMap map = wallpaperMap(QSize(64, 48));
    QVERIFY(!Cache::isCacheExists(map));
    MessageLog log;
    const Image first = Cache::getImageCache(map, true);
    QVERIFY(isSolid(first.image, QSize(64, 48), QColor(30, 90, 160)));
    QCOMPARE(first.properties, map);
    QVERIFY(Cache::isCacheExists(map));
    QCOMPARE(QFileInfo(CacheDir).permissions() & QFileDevice::WriteOther, QFileDevice::WriteOther);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(CacheDir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(01777));
    QCOMPARE(::stat(QFile::encodeName(cachePath(map)).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0644));
    QCOMPARE(entryCount(CacheDir), 1);

    // The file is the map's byte form, then the image in stream form.
    const QByteArray data = readAll(cachePath(map));
    const QByteArray key = Utils::PropertiesToByteArray(map);
    QVERIFY(data.startsWith(key));
    QDataStream stream(data.mid(key.size()));
    QImage stored;
    stream >> stored;
    QCOMPARE(stream.status(), QDataStream::Ok);
    QCOMPARE(stored.convertToFormat(QImage::Format_RGB32),
        first.image.convertToFormat(QImage::Format_RGB32));

    // A hit reads the file without writing it again.
    QVERIFY(setMtime(cachePath(map), 1000000));
    bool ok = false;
    const Image loaded = Cache::loadImageCache(map, &ok);
    QVERIFY(ok);
    QCOMPARE(loaded.properties, map);
    const Image again = Cache::getImageCache(map, false);
    QCOMPARE(again.image.convertToFormat(QImage::Format_RGB32),
        first.image.convertToFormat(QImage::Format_RGB32));
    QCOMPARE(QFileInfo(cachePath(map)).lastModified().toSecsSinceEpoch(), qint64(1000000));
    QVERIFY(!log.contains(QStringLiteral("Error")));

    // A missing file and a null ok pointer.
    const PropertyMap other = wallpaperMap(QSize(10, 10));
    QVERIFY(Cache::loadImageCache(other, nullptr).image.isNull());
    QVERIFY(log.contains(QStringLiteral("Error file not exists")));
}

void TestCache::wallpaperChangeAndRenderFailure()
{
    const PropertyMap before = wallpaperMap(QSize(40, 30));
    QVERIFY(!Cache::getImageCache(before, false).image.isNull());
    QVERIFY(setMtime(Wallpaper, 2000000));
    const PropertyMap after = wallpaperMap(QSize(40, 30));
    QVERIFY(Cache::getFileName(after) != Cache::getFileName(before));
    QVERIFY(!Cache::isCacheExists(after));
    QVERIFY(!Cache::getImageCache(after, false).image.isNull());
    QVERIFY(Cache::isCacheExists(before));
    QCOMPARE(entryCount(CacheDir), 2);

    MessageLog log;
    const PropertyMap missing = wallpaperMap(QSize(40, 30), QStringLiteral("/tmp/no-such.png"));
    const Image failed = Cache::getImageCache(missing, true);
    QVERIFY(failed.image.isNull());
    QVERIFY(failed.properties.isEmpty());
    QVERIFY(log.contains(QStringLiteral("Error render image")));
    QVERIFY(!Cache::isCacheExists(missing));
    QCOMPARE(entryCount(CacheDir), 2);
}

void TestCache::damagedFiles()
{
    const PropertyMap map = wallpaperMap(QSize(48, 32));
    const QString path = cachePath(map);
    QVERIFY(!Cache::getImageCache(map, false).image.isNull());
    const QByteArray good = readAll(path);
    const int keySize = Utils::PropertiesToByteArray(map).size();

    struct Damage
    {
        const char *name;
        QByteArray bytes;
        const char *message;
    };
    QByteArray bigHeader = good;
    // The PNG's IHDR announces 100000 x 100000 pixels.
    qToBigEndian<quint32>(100000, bigHeader.data() + keySize + 4 + 16);
    qToBigEndian<quint32>(100000, bigHeader.data() + keySize + 4 + 20);
    QByteArray longChunk = good;
    // The chunk after the header claims more bytes than the file has.
    qToBigEndian<quint32>(0x7fffffff, longChunk.data() + keySize + 4 + 33);
    const QList<Damage> damages {
        { "image part cut", good.left(keySize + 40), "Error image is null" },
        { "map part cut", good.left(keySize / 2), "Error image is null" },
        { "no image", good.left(keySize), "Error image is null" },
        { "huge dimensions", bigHeader, "Error image is null" },
        { "chunk beyond the end", longChunk, "Error image is null" },
    };
    for (const Damage &damage : damages) {
        QVERIFY2(writeAll(path, damage.bytes), damage.name);
        MessageLog log;
        bool ok = true;
        QVERIFY2(Cache::loadImageCache(map, &ok).image.isNull(), damage.name);
        QVERIFY2(!ok, damage.name);
        QVERIFY2(log.contains(QLatin1String(damage.message)), damage.name);
        const Image fresh = Cache::getImageCache(map, false);
        QVERIFY2(isSolid(fresh.image, QSize(48, 32), QColor(30, 90, 160)), damage.name);
        QVERIFY2(Cache::loadImageCache(map, &ok).image.size() == QSize(48, 32) && ok, damage.name);
    }

    // A file copied in under another map's name.
    const PropertyMap other = wallpaperMap(QSize(20, 20));
    QVERIFY(QFile::copy(path, cachePath(other)));
    MessageLog log;
    bool ok = true;
    QVERIFY(Cache::loadImageCache(other, &ok).image.isNull());
    QVERIFY(!ok);
    QVERIFY(log.contains(QStringLiteral("Error properties not equal")));
    QCOMPARE(Cache::getImageCache(other, false).image.size(), QSize(20, 20));
    QVERIFY(Cache::loadImageCache(other, &ok).image.size() == QSize(20, 20) && ok);
}

void TestCache::cacheDirUnusable()
{
    const PropertyMap map = wallpaperMap(QSize(32, 32));
    QVERIFY(writeAll(CacheDir, "not a directory"));
    const QString privateFile
        = Cache::privateCacheDir() + QLatin1Char('/') + Cache::getFileName(map);
    MessageLog log;
    // The private directory takes the file, and serves the next lookup.
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(32, 32), Qt::red) }));
    QVERIFY(log.contains(QStringLiteral("Error cache dir is not trusted")));
    QVERIFY(QFile::exists(privateFile));
    Cache::Origin origin = Cache::Origin::None;
    Image record = Cache::getImageCache(map, false, &origin);
    QVERIFY(isSolid(record.image, QSize(32, 32), Qt::red));
    QCOMPARE(origin, Cache::Origin::PrivateCache);
    QVERIFY(QFile::remove(privateFile));
    record = Cache::getImageCache(map, false, &origin);
    QVERIFY(isSolid(record.image, QSize(32, 32), QColor(30, 90, 160)));
    QCOMPARE(origin, Cache::Origin::Rendered);
    QVERIFY(QFile::exists(privateFile));
    QCOMPARE(readAll(CacheDir), QByteArray("not a directory"));
    QCOMPARE(Cache::getCacheSize(), quint64(0));
    QVERIFY(QFile::remove(CacheDir));
    QCOMPARE(Cache::getCacheSize(), quint64(0));

    // Our own directory that only lacks the sticky bit gets it.
    QVERIFY(QDir().mkpath(CacheDir));
    QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 0777), 0);
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(32, 32), Qt::red) }));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(CacheDir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(01777));

    // A directory owned by another user is not used.
    QDir(CacheDir).removeRecursively();
    QVERIFY(QDir().mkpath(CacheDir));
    QCOMPARE(::chown(QFile::encodeName(CacheDir).constData(), 12345, 12345), 0);
    QVERIFY(QFile::remove(privateFile));
    log.clear();
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(32, 32), Qt::red) }));
    QVERIFY(log.contains(QStringLiteral("Error cache dir is not trusted")));
    QCOMPARE(entryCount(CacheDir), 0);
    QVERIFY(QFile::exists(privateFile));
    QDir(Cache::privateCacheDir()).removeRecursively();
}

void TestCache::largePictureRoundTrip()
{
    // Written band by band as it is encoded, and read back by two threads: the same pixels.
    const QSize size(3840, 2160);
    const PropertyMap map = wallpaperMap(size, QStringLiteral("/tmp/large"));
    const QImage picture = testPicture(QStringLiteral("noise"), size);
    QVERIFY(Cache::saveImageCache(Image { map, picture }));
    bool ok = false;
    QCOMPARE(Cache::loadImageCache(map, &ok).image.convertToFormat(QImage::Format_ARGB32),
        picture.convertToFormat(QImage::Format_ARGB32));
    QVERIFY(ok);
}

void TestCache::damagedPixels()
{
    // One changed byte among the stored pixel rows still decodes: the chunks' CRCs find it, for
    // files small and large (checked by both threads that expand the rows, and after them),
    // shared and kept.
    for (const QSize &size : { QSize(64, 48), QSize(1400, 1000) }) {
        const PropertyMap map = wallpaperMap(size, QStringLiteral("/tmp/noise"));
        const QImage picture = testPicture(QStringLiteral("noise"), size);
        QVERIFY(Cache::saveImageCache(Image { map, picture }));
        QByteArray data = readAll(cachePath(map));
        QVERIFY(data.size() >= size.width() * size.height() * 3);
        for (const int elsewhere : { data.size() / 5, data.size() * 4 / 5, data.size() - 20 }) {
            QByteArray damaged = data;
            damaged[elsewhere] = char(damaged[elsewhere] ^ 0x10);
            QVERIFY(writeAll(cachePath(map), damaged));
            bool ok = true;
            QVERIFY2(Cache::loadImageCache(map, &ok).image.isNull(),
                qPrintable(QString::number(elsewhere)));
            QVERIFY(!ok);
        }
        const int at = data.size() / 2;
        data[at] = char(data[at] ^ 0x10);
        QVERIFY(writeAll(cachePath(map), data));
        MessageLog log;
        bool ok = true;
        QVERIFY(Cache::loadImageCache(map, &ok).image.isNull());
        QVERIFY(!ok);
        QVERIFY(log.contains(QStringLiteral("Error image is null")));

        // The same damage in a kept copy: not served, and not put back into the shared directory
        // (the map's file does not exist, so nothing is rendered and stored either).
        const QString kept
            = Cache::privateCacheDir() + QStringLiteral("/kept/") + Cache::getFileName(map);
        QVERIFY(writeAll(kept, data));
        QVERIFY(QFile::remove(cachePath(map)));
        QVERIFY(Cache::getImageCache(map, false).image.isNull());
        QVERIFY(log.contains(QStringLiteral("Error render image")));
        QVERIFY(!QFile::exists(cachePath(map)));

        // Undamaged, the kept copy is served and put back.
        QVERIFY(writeAll(kept, readAll(kept).replace(at, 1, QByteArray(1, char(data[at] ^ 0x10)))));
        Cache::Origin origin = Cache::Origin::None;
        QCOMPARE(Cache::getImageCache(map, false, &origin).image,
            picture.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(origin, Cache::Origin::PrivateCache);
        QVERIFY(QFile::exists(cachePath(map)));
        QDir(Cache::privateCacheDir()).removeRecursively();
    }
}

void TestCache::rowsWithOtherFilters()
{
    // A file of stored rows whose first row has another filter than none (its CRC made right)
    // decodes as Qt's reader decodes it, small and large.
    for (const QSize &size : { QSize(300, 200), QSize(1400, 1000) }) {
        const PropertyMap map = wallpaperMap(size, QStringLiteral("/tmp/filters"));
        const QImage picture = testPicture(QStringLiteral("noise"), size);
        QVERIFY(Cache::saveImageCache(Image { map, picture }));
        QByteArray data = readAll(cachePath(map));
        const int png = Utils::PropertiesToByteArray(map).size() + 4;
        // The first IDAT chunk follows the signature and IHDR; its data begin with the zlib
        // header and a stored block's header, then the first row's filter byte.
        const int idat = png + 8 + 25;
        QCOMPARE(data.mid(idat + 4, 4), QByteArray("IDAT"));
        const int filter = idat + 8 + 2 + 5;
        QCOMPARE(int(data[filter]), 0);
        data[filter] = 1; // Sub
        const quint32 length = qFromBigEndian<quint32>(data.constData() + idat);
        qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()) + idat + 4,
                         length + 4)),
            data.data() + idat + 8 + length);
        QVERIFY(writeAll(cachePath(map), data));
        bool ok = false;
        const QImage hit = Cache::loadImageCache(map, &ok).image;
        QVERIFY(ok);
        const QImage qtRead = QImage::fromData(data.mid(png), "PNG");
        QCOMPARE(hit, qtRead.convertToFormat(hit.format()));
        QVERIFY(hit != picture.convertToFormat(hit.format()));
    }
}

// Rendered backgrounds are also kept in the private cache: after a reboot (the temporary
// directory emptied) the kept copy serves, and the shared directory gets it back.
void TestCache::keptAcrossReboot()
{
    // Small records are stored from memory, large ones written as they are encoded.
    for (const QSize &size : { QSize(48, 32), QSize(1200, 900) }) {
        QVERIFY(QDir(CacheDir).removeRecursively());
        keptFor(size, true);
    }
    // A private cache on a file system of its own.
    const QByteArray elsewhere("/tmp/elsewhere");
    QVERIFY(QDir().mkpath(QString::fromLatin1(elsewhere)));
    if (::mount("tmpfs", elsewhere.constData(), "tmpfs", 0, "mode=0700") != 0)
        QSKIP("cannot mount a file system here");
    qputenv("XDG_CACHE_HOME", elsewhere);
    const auto restore = qScopeGuard([&elsewhere] {
        qunsetenv("XDG_CACHE_HOME");
        ::umount(elsewhere.constData());
    });
    QVERIFY(QDir(CacheDir).removeRecursively());
    keptFor(QSize(1200, 900), false);
}

void TestCache::keptFor(const QSize &size, bool oneFileSystem)
{
    const PropertyMap map = wallpaperMap(size);
    const QString kept
        = Cache::privateCacheDir() + QStringLiteral("/kept/") + Cache::getFileName(map);
    QDir(Cache::privateCacheDir()).removeRecursively();
    // A picture stored alone is not kept.
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(size, Qt::red) }));
    QVERIFY(!QFile::exists(kept));
    QVERIFY(QDir(CacheDir).removeRecursively());

    Cache::Origin origin = Cache::Origin::None;
    const Image rendered = Cache::getImageCache(map, false, &origin);
    QCOMPARE(origin, Cache::Origin::Rendered);
    QVERIFY(QFile::exists(kept));
    QVERIFY(QFile::exists(cachePath(map)));
    // A record written as it is encoded is kept as a second name of the shared file where both
    // directories are on one file system, and as a copy otherwise.
    struct stat keptFile = {}, sharedFile = {};
    QCOMPARE(::stat(QFile::encodeName(kept).constData(), &keptFile), 0);
    QCOMPARE(::stat(QFile::encodeName(cachePath(map)).constData(), &sharedFile), 0);
    const bool streamed = qint64(size.width()) * size.height() >= qint64(1) << 20;
    QCOMPARE(keptFile.st_dev == sharedFile.st_dev && keptFile.st_ino == sharedFile.st_ino,
        streamed && oneFileSystem);
    QCOMPARE(keptFile.st_mode, sharedFile.st_mode);
    QCOMPARE(readAll(kept), readAll(cachePath(map)));

    QVERIFY(QDir(CacheDir).removeRecursively());
    QVERIFY(QFile::remove(Wallpaper)); // nothing could be rendered now
    {
        MessageLog log;
        const Image record = Cache::getImageCache(map, false, &origin);
        QCOMPARE(origin, Cache::Origin::PrivateCache);
        QCOMPARE(record.image.convertToFormat(QImage::Format_RGB32),
            rendered.image.convertToFormat(QImage::Format_RGB32));
        QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join(QLatin1Char('\n'))));
        QVERIFY(QFile::exists(cachePath(map)));
    }
    Cache::getImageCache(map, false, &origin);
    QCOMPARE(origin, Cache::Origin::SharedCache);

    // A damaged shared file is not hidden by the kept copy: it is rendered again, as before.
    QVERIFY(writeTestImage(Wallpaper, solidImage(QSize(320, 240), QColor(30, 90, 160))));
    QVERIFY(writeAll(cachePath(map), "damaged"));
    MessageLog log;
    Cache::getImageCache(map, false, &origin);
    QCOMPARE(origin, Cache::Origin::Rendered);
    QVERIFY(!log.messages().isEmpty());
    QDir(Cache::privateCacheDir()).removeRecursively();
}

void TestCache::sizeLimit()
{
    // A small record stored from memory, a large one written as it is encoded: the same room.
    QCOMPARE(Cache::MaxCacheSize, quint64(104857600));
    for (const QSize &size : { QSize(16, 16), QSize(1200, 900) }) {
        QVERIFY(QDir(CacheDir).removeRecursively());
        sizeLimitFor(size);
    }
}

void TestCache::sizeLimitFor(const QSize &size)
{
    QVERIFY(QDir().mkpath(CacheDir));
    const PropertyMap map = wallpaperMap(size);
    const Image record { map, solidImage(size, Qt::green) };
    QVERIFY(Cache::saveImageCache(record));
    const qint64 own = QFileInfo(cachePath(map)).size();
    // Links and directories neither count nor go; a hidden file counts.
    QVERIFY(writeSparse(QStringLiteral("/tmp/outside"), 200 << 20));
    QVERIFY(QFile::link(QStringLiteral("/tmp/outside"), CacheDir + QStringLiteral("/link")));
    QVERIFY(QDir(CacheDir).mkdir(QStringLiteral("sub")));
    QVERIFY(writeSparse(CacheDir + QStringLiteral("/sub/inner"), 200 << 20));
    QVERIFY(writeFilled(CacheDir + QStringLiteral("/.hidden"), 1000));
    QCOMPARE(Cache::getCacheSize(), quint64(own + 1000));
    // A sparse file counts by the space it occupies.
    QVERIFY(writeSparse(CacheDir + QStringLiteral("/.sparse"), 1 << 30));
    QCOMPARE(Cache::getCacheSize(), quint64(own + 1000));
    QVERIFY(QFile::remove(CacheDir + QStringLiteral("/.sparse")));

    // Exactly the limit: nothing is evicted.
    QVERIFY(writeFilled(CacheDir + QStringLiteral("/.hidden"), qint64(Cache::MaxCacheSize) - own));
    QVERIFY(setMtime(CacheDir + QStringLiteral("/.hidden"), 1000));
    QCOMPARE(Cache::getCacheSize(), Cache::MaxCacheSize);
    MessageLog log;
    QVERIFY(Cache::saveImageCache(record));
    QVERIFY(!log.contains(QStringLiteral("Cache size is exceeded")));
    QVERIFY(QFile::exists(CacheDir + QStringLiteral("/.hidden")));

    // One byte more: the oldest file goes, then the store writes its own.
    QVERIFY(
        writeFilled(CacheDir + QStringLiteral("/.hidden"), qint64(Cache::MaxCacheSize) - own + 1));
    QVERIFY(setMtime(CacheDir + QStringLiteral("/.hidden"), 1000));
    QVERIFY(Cache::saveImageCache(record));
    QVERIFY(log.contains(QStringLiteral("Cache size is exceeded MAX CACHE SIZE: 104857600")));
    QVERIFY(!QFile::exists(CacheDir + QStringLiteral("/.hidden")));
    QVERIFY(Cache::isCacheExists(map));
    QVERIFY(QFileInfo(CacheDir + QStringLiteral("/link")).isSymLink());
    QVERIFY(QFile::exists(CacheDir + QStringLiteral("/sub/inner")));
    QCOMPARE(Cache::getCacheSize(), quint64(own));
}

void TestCache::evictionOrder()
{
    QVERIFY(QDir().mkpath(CacheDir));
    const QStringList names = words("b a c newest");
    for (const QString &name : names) {
        QVERIFY(writeAll(CacheDir + QLatin1Char('/') + name, "x"));
        QVERIFY(setMtime(
            CacheDir + QLatin1Char('/') + name, name == QLatin1String("newest") ? 5000 : 3000));
    }
    // Equal times: the greatest name is the first to go.
    Cache::removeOldFileCache();
    QVERIFY(!QFile::exists(CacheDir + QStringLiteral("/c")));
    Cache::removeOldFileCache();
    QVERIFY(!QFile::exists(CacheDir + QStringLiteral("/b")));
    QVERIFY(QFile::exists(CacheDir + QStringLiteral("/a")));
    QVERIFY(QFile::exists(CacheDir + QStringLiteral("/newest")));

    // Files this process may not remove are passed over: the other user's own file goes
    // although root's file is older.
    QDir(CacheDir).removeRecursively();
    const PropertyMap map = wallpaperMap(QSize(8, 8));
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(8, 8), Qt::red) }));
    QVERIFY(setMtime(cachePath(map), 1000));
    const int second = runAsOtherUser([]() {
        if (!writeAll(CacheDir + QStringLiteral("/mine"), "y"))
            return 3;
        setMtime(CacheDir + QStringLiteral("/mine"), 9000);
        Cache::removeOldFileCache();
        return QFile::exists(CacheDir + QStringLiteral("/mine")) ? 4 : 0;
    });
    if (second == -1)
        QSKIP("cannot change identity here");
    QCOMPARE(second, 0);
    QCOMPARE(entryCount(CacheDir), 1);
}

void TestCache::symlinkAtFileName()
{
    const QString victim = QStringLiteral("/tmp/victim");
    const QByteArray content("precious data\n");
    QVERIFY(writeAll(victim, content));
    QVERIFY(QDir().mkpath(CacheDir));
    QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 01777), 0);
    const PropertyMap map = wallpaperMap(QSize(24, 24));
    QVERIFY(QFile::link(victim, cachePath(map)));

    // Loading does not follow the link.
    MessageLog log;
    bool ok = true;
    QVERIFY(Cache::loadImageCache(map, &ok).image.isNull());
    QVERIFY(!ok);
    QVERIFY(log.contains(QStringLiteral("Error open file for read")));

    const Image record = Cache::getImageCache(map, false);
    QVERIFY(isSolid(record.image, QSize(24, 24), QColor(30, 90, 160)));
    QCOMPARE(readAll(victim), content);
    QVERIFY(isRegularFile(cachePath(map)));
    QVERIFY(Cache::loadImageCache(map, &ok).image.size() == QSize(24, 24) && ok);
    QCOMPARE(entryCount(CacheDir), 1);
}

void TestCache::symlinkedDirectory()
{
    const QString elsewhere = QStringLiteral("/tmp/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    for (int i = 0; i < 3; ++i)
        QVERIFY(writeSparse(elsewhere + QStringLiteral("/big%1").arg(i), 50 << 20));
    QVERIFY(QFile::link(elsewhere, CacheDir));

    MessageLog log;
    const PropertyMap map = wallpaperMap(QSize(24, 24));
    const Image record = Cache::getImageCache(map, false);
    QVERIFY(isSolid(record.image, QSize(24, 24), QColor(30, 90, 160)));
    QVERIFY(log.contains(QStringLiteral("Error cache dir is not trusted")));
    QCOMPARE(entryCount(elsewhere), 3);
    QCOMPARE(Cache::getCacheSize(), quint64(0));
    Cache::removeOldFileCache();
    QCOMPARE(entryCount(elsewhere), 3);
    QVERIFY(QFileInfo(CacheDir).isSymLink());
}

void TestCache::foreignFiles()
{
    const PropertyMap map = wallpaperMap(QSize(24, 16));
    // Another user's valid-looking file with a different picture.
    QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(24, 16), Qt::red) }));
    QCOMPARE(::chown(QFile::encodeName(cachePath(map)).constData(), 12345, 12345), 0);
    MessageLog log;
    bool ok = true;
    QVERIFY(Cache::loadImageCache(map, &ok).image.isNull());
    QVERIFY(!ok);
    QVERIFY(log.contains(QStringLiteral("Error file is not trusted")));
    const Image record = Cache::getImageCache(map, false);
    QVERIFY(isSolid(record.image, QSize(24, 16), QColor(30, 90, 160)));
    QCOMPARE(QFileInfo(cachePath(map)).ownerId(), geteuid());
    QVERIFY(Cache::loadImageCache(map, &ok).image.size() == QSize(24, 16) && ok);

    // A file written by another user is not served to this one either.
    QFile::remove(cachePath(map));
    const int status = runAsOtherUser([map]() {
        return Cache::saveImageCache(Image { map, solidImage(QSize(24, 16), Qt::red) }) ? 0 : 3;
    });
    if (status == -1)
        QSKIP("cannot change identity here");
    QCOMPARE(status, 0);
    QCOMPARE(QFileInfo(cachePath(map)).ownerId(), uint(65534));
    log.clear();
    QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(24, 16), QColor(30, 90, 160)));
    QVERIFY(log.contains(QStringLiteral("Error file is not trusted")));
}

void TestCache::fullDisk()
{
    QVERIFY(QDir().mkpath(CacheDir));
    if (::mount("tmpfs", QFile::encodeName(CacheDir).constData(), "tmpfs", 0, "size=256k,mode=1777")
        != 0)
        QSKIP("cannot mount a small file system here");
    // No private directory to fall back on either.
    qputenv("XDG_CACHE_HOME", "/proc/vok-none");
    const auto restore = qScopeGuard([] { qunsetenv("XDG_CACHE_HOME"); });
    const PropertyMap small = wallpaperMap(QSize(16, 16));
    QVERIFY(!Cache::getImageCache(small, false).image.isNull());
    const QByteArray earlier = readAll(cachePath(small));

    // Noise does not compress, so its record cannot fit.
    QImage noise(400, 300, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
    const PropertyMap big = wallpaperMap(QSize(400, 300));
    MessageLog log;
    QVERIFY(!Cache::saveImageCache(Image { big, noise }));
    QVERIFY(log.contains(QStringLiteral("Error write file")));
    QVERIFY(!Cache::isCacheExists(big));

    // A failed replacement leaves the earlier file of that name as it was.
    log.clear();
    QVERIFY(!Cache::saveImageCache(Image { small, noise }));
    QVERIFY(log.contains(QStringLiteral("Error ")));
    QCOMPARE(readAll(cachePath(small)), earlier);
    bool ok = false;
    QVERIFY(!Cache::loadImageCache(small, &ok).image.isNull() && ok);

    // The caller still gets its picture, and no temporary file is left behind.
    QVERIFY(writeTestImage(QStringLiteral("/tmp/noise.png"), noise));
    const PropertyMap noisy = wallpaperMap(QSize(400, 300), QStringLiteral("/tmp/noise.png"));
    log.clear();
    const Image record = Cache::getImageCache(noisy, false);
    QCOMPARE(record.image.size(), QSize(400, 300));
    QVERIFY(log.contains(QStringLiteral("Error save image cache")));
    QCOMPARE(entryCount(CacheDir), 1);
    QCOMPARE(::umount(QFile::encodeName(CacheDir).constData()), 0);
}

void TestCache::concurrentProcesses()
{
    const QList<QSize> sizes { QSize(64, 40), QSize(40, 64), QSize(50, 50) };
    const int processes = 4;
    const int requests = 200;
    QList<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < requests; ++i) {
                const QSize size = sizes.at((i + p) % sizes.size());
                const PropertyMap map = wallpaperMap(size);
                // Every few requests the file is stored again, racing with readers.
                const Image record = Cache::getImageCache(map, false);
                if (i % 5 == 0)
                    Cache::saveImageCache(record);
                if (record.properties != map || !isSolid(record.image, size, QColor(30, 90, 160)))
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.append(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
    QCOMPARE(entryCount(CacheDir), sizes.size());
    for (const QSize &size : sizes) {
        bool ok = false;
        QVERIFY(isSolid(
            Cache::loadImageCache(wallpaperMap(size), &ok).image, size, QColor(30, 90, 160)));
        QVERIFY(ok);
    }
}

QTEST_MAIN(TestCache)
#include "tst_cache.moc"
