// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <zlib.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace VokImage;
using namespace TestPaths;

namespace {
const QString Wallpaper = QStringLiteral("/tmp/wallpaper.png");
const QColor Blue(30, 90, 160);

PropertyMap mapOf(const QSize &size, const QString &path = Wallpaper)
{
    return wallpaperMap(path, QRect(QPoint(), size));
}

QString keptPath(const PropertyMap &map)
{
    return Cache::privateCacheDir() + QStringLiteral("/kept/") + Cache::getFileName(map);
}

bool isSolid(const QImage &image, const QSize &size, const QColor &colour)
{
    return image.size() == size && largestDifference(image, solidImage(size, colour)) == 0;
}

int entryCount(const QString &dir)
{
    return QDir(dir)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

// A file of @p size bytes that occupies no disk space.
bool writeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

// A picture of @p kind: "noise", "gradient", "translucent", "rgb888" or "straight".
QImage testPicture(const QString &kind, const QSize &size)
{
    QRandomGenerator rng(7);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            QRgb c = qRgb(x * 255 / size.width(), y * 255 / size.height(), 128);
            if (kind == QLatin1String("noise"))
                c = rng.generate() | 0xff000000;
            else if (kind == QLatin1String("translucent"))
                c = qPremultiply(qRgba(rng.bounded(256), x, y, (x + y * 7) % 256));
            image.setPixel(x, y, c);
        }
    if (kind == QLatin1String("rgb888"))
        return image.convertToFormat(QImage::Format_RGB888);
    return kind == QLatin1String("straight") ? image.convertToFormat(QImage::Format_ARGB32) : image;
}

// A record as Qt's stream form reads it.
QImage streamRead(const QByteArray &data, const PropertyMap &map)
{
    QDataStream stream(data.mid(Utils::PropertiesToByteArray(map).size()));
    QImage image;
    stream >> image;
    return stream.status() == QDataStream::Ok ? image : QImage();
}

const QList<QRect> StressScreens { QRect(0, 0, 320, 200), QRect(0, 0, 200, 320),
    QRect(1920, 0, 256, 256) };

Image stressRequest(int i)
{
    const QRect screen = StressScreens.at(i / 2 % StressScreens.size());
    return i % 2 ? getOrvBackground(screen) : getBackground(screen);
}

// A child run afresh (not forked, so that Qt's threads work in it) with @p arguments.
std::unique_ptr<QProcess> startChild(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(),
        QStringList { QStringLiteral("--child") } + arguments);
    return process;
}

// "requests P N": N mixed lookups, each against the references and stored again, so that
// eviction runs every time; "store": one large record stored until killed.
int child(const QStringList &arguments)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    if (arguments.value(2) == QLatin1String("read-only")) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 200;
        qputenv("XDG_CACHE_HOME", "/tmp/other-cache");
        MessageLog log;
        const QRect screen(0, 0, 320, 200);
        if (getWallpaper(screen).image.convertToFormat(QImage::Format_RGB32)
                != QImage(QStringLiteral("/tmp/reference-ro.png"))
                       .convertToFormat(QImage::Format_RGB32)
            || log.contains(QStringLiteral("Error ")))
            return 3;
        const Image miss = getLogo(screen);
        return !miss.image.isNull() && log.count(QStringLiteral("Error ")) == 1
                && log.contains(QStringLiteral("Error open file for write"))
                && QFile::exists(QStringLiteral("/tmp/other-cache/vokimage/")
                    + Cache::getFileName(miss.properties))
            ? 0
            : 4;
    }
    if (arguments.value(2) == QLatin1String("store"))
        for (const Image record {
                 mapOf(QSize(900, 600)), testPicture(QStringLiteral("noise"), QSize(900, 600)) };
             ;)
            Cache::saveImageCache(record);
    int failures = 0;
    for (int i = arguments.value(3).toInt(), n = 0; n < arguments.value(4).toInt(); ++i, ++n) {
        const Image record = stressRequest(i);
        failures += record.image.convertToFormat(QImage::Format_RGB32)
            != QImage(QStringLiteral("/tmp/reference-%1.png").arg(i % 6))
                   .convertToFormat(QImage::Format_RGB32);
        Cache::saveImageCache(record);
    }
    return qMin(failures, 100);
}
} // namespace

class TestCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ::umask(022); }

    void init()
    {
        QVERIFY(insideSandbox());
        QFile::remove(CacheDir);
        QDir(CacheDir).removeRecursively();
        QDir(Cache::privateCacheDir()).removeRecursively();
        QVERIFY(writeTestImage(Wallpaper, solidImage(QSize(320, 240), Blue)));
    }

    void storeAndHit()
    {
        const PropertyMap map = mapOf(QSize(64, 48));
        QVERIFY(!Cache::isCacheExists(map));
        MessageLog log;
        const Image first = Cache::getImageCache(map, true);
        QVERIFY(isSolid(first.image, QSize(64, 48), Blue));
        QCOMPARE(first.properties, map);
        QCOMPARE(statOf(CacheDir).st_mode & 07777, mode_t(01777));
        QCOMPARE(statOf(cachePath(map)).st_mode & 0777, mode_t(0644));
        QCOMPARE(entryCount(CacheDir), 1);
        // The file is the map's byte form, then the image in stream form.
        const QByteArray data = readAll(cachePath(map));
        QVERIFY(data.startsWith(Utils::PropertiesToByteArray(map)));
        QVERIFY(isSolid(streamRead(data, map), QSize(64, 48), Blue));
        // A hit reads the file without writing it again.
        QVERIFY(setMtime(cachePath(map), 1000000));
        bool ok = false;
        QCOMPARE(Cache::loadImageCache(map, &ok).properties, map);
        QVERIFY(ok);
        QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(64, 48), Blue));
        QCOMPARE(QFileInfo(cachePath(map)).lastModified().toSecsSinceEpoch(), qint64(1000000));
        QVERIFY(!log.contains(QStringLiteral("Error")));
        QVERIFY(Cache::loadImageCache(mapOf(QSize(10, 10)), nullptr).image.isNull());
        QVERIFY(log.contains(QStringLiteral("Error file not exists")));

        // A changed wallpaper is another map; a failed render stores nothing.
        QVERIFY(setMtime(Wallpaper, 2000000));
        QVERIFY(Cache::getFileName(mapOf(QSize(64, 48))) != Cache::getFileName(map));
        QVERIFY(!Cache::isCacheExists(mapOf(QSize(64, 48))));
        const Image failed
            = Cache::getImageCache(mapOf(QSize(40, 30), QStringLiteral("/tmp/no-such.png")), true);
        QVERIFY(failed.image.isNull() && failed.properties.isEmpty());
        QVERIFY(log.contains(QStringLiteral("Error render image")));
        QCOMPARE(entryCount(CacheDir), 1);
    }

    void encodings_data()
    {
        QTest::addColumn<QSize>("size");
        // One band, and two bands on two threads.
        QTest::newRow("small") << QSize(203, 151);
        QTest::newRow("large") << QSize(1291, 823);
    }

    void encodings()
    {
        QFETCH(QSize, size);
        const qint64 raw = qint64(size.width()) * size.height() * 3;
        for (const QString kind : { "noise", "gradient", "translucent", "rgb888", "straight" }) {
            const PropertyMap map = mapOf(size, QStringLiteral("/tmp/") + kind);
            const QImage picture = testPicture(kind, size);
            MessageLog log;
            QVERIFY(Cache::saveImageCache(Image { map, picture }));
            const QByteArray data = readAll(cachePath(map));
            const QByteArray png = data.mid(Utils::PropertiesToByteArray(map).size() + 4);
            QCOMPARE(data.mid(data.size() - png.size() - 4, 4), QByteArray("\0\0\0\1", 4));
            // RGB for opaque pictures, RGBA otherwise; noise stored, gradients deflated.
            QCOMPARE(int(png.at(25)), kind == QLatin1String("translucent") ? 6 : 2);
            QVERIFY(kind != QLatin1String("noise") || png.size() >= raw);
            QVERIFY(kind != QLatin1String("gradient") || png.size() < raw / 5);
            // Qt's reader gives the picture, and a hit exactly what Qt's reader gives.
            const QImage qtRead = streamRead(data, map);
            QCOMPARE(qtRead.convertToFormat(QImage::Format_ARGB32),
                picture.convertToFormat(QImage::Format_ARGB32));
            bool ok = false;
            const QImage hit = Cache::loadImageCache(map, &ok).image;
            QVERIFY(ok && hit.format() == qtRead.format());
            QCOMPARE(hit, qtRead);
            QVERIFY(!log.contains(QStringLiteral("Error")));
        }
        // Records of Qt's own stream form, 8 and 16 bits deep, are read as Qt reads them.
        for (const QImage::Format format : { QImage::Format_ARGB32, QImage::Format_RGBA64 }) {
            const PropertyMap map = mapOf(size, QStringLiteral("/tmp/qt%1").arg(format));
            QByteArray record = Utils::PropertiesToByteArray(map);
            QDataStream out(&record, QIODevice::WriteOnly | QIODevice::Append);
            out << testPicture(QStringLiteral("translucent"), size).convertToFormat(format);
            QVERIFY(writeAll(cachePath(map), record));
            bool ok = false;
            const QImage hit = Cache::loadImageCache(map, &ok).image;
            QVERIFY(ok && hit.format() == streamRead(record, map).format());
            QCOMPARE(hit, streamRead(record, map));
        }
    }

    void damagedFiles()
    {
        const PropertyMap map = mapOf(QSize(48, 32));
        QVERIFY(!Cache::getImageCache(map, false).image.isNull());
        const QByteArray good = readAll(cachePath(map));
        const int png = Utils::PropertiesToByteArray(map).size() + 4;
        QByteArray bigHeader = good; // IHDR announces 100000 x 100000 pixels
        qToBigEndian<quint32>(100000, bigHeader.data() + png + 16);
        qToBigEndian<quint32>(100000, bigHeader.data() + png + 20);
        QByteArray longChunk = good; // the chunk after IHDR claims more than the file holds
        qToBigEndian<quint32>(0x7fffffff, longChunk.data() + png + 33);
        for (const QByteArray &damaged :
            { good.left(png + 36), good.left(png / 2), good.left(png - 4), bigHeader, longChunk }) {
            QVERIFY(writeAll(cachePath(map), damaged));
            MessageLog log;
            bool ok = true;
            QVERIFY(Cache::loadImageCache(map, &ok).image.isNull() && !ok);
            QVERIFY(log.contains(QStringLiteral("Error image is null")));
            QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(48, 32), Blue));
            QVERIFY(Cache::loadImageCache(map, &ok).image.size() == QSize(48, 32) && ok);
        }
        // A file copied in under another map's name.
        const PropertyMap other = mapOf(QSize(20, 20));
        QVERIFY(QFile::copy(cachePath(map), cachePath(other)));
        MessageLog log;
        bool ok = true;
        QVERIFY(Cache::loadImageCache(other, &ok).image.isNull() && !ok);
        QVERIFY(log.contains(QStringLiteral("Error properties not equal")));
        QCOMPARE(Cache::getImageCache(other, false).image.size(), QSize(20, 20));
    }

    void damagedPixels()
    {
        // One changed byte among the stored rows decodes, yet the chunks' CRCs find it, in
        // files small and large (rows expanded by two threads), shared and kept.
        for (const QSize &size : { QSize(64, 48), QSize(1400, 1000) }) {
            const PropertyMap map = mapOf(size, QStringLiteral("/tmp/noise"));
            const QImage picture = testPicture(QStringLiteral("noise"), size);
            QVERIFY(Cache::saveImageCache(Image { map, picture }));
            const QByteArray data = readAll(cachePath(map));
            for (const int at :
                { data.size() / 5, data.size() / 2, data.size() * 4 / 5, data.size() - 20 }) {
                QByteArray damaged = data;
                damaged[at] = char(damaged[at] ^ 0x10);
                QVERIFY(writeAll(cachePath(map), damaged));
                bool ok = true;
                QVERIFY2(Cache::loadImageCache(map, &ok).image.isNull() && !ok,
                    qPrintable(QString::number(at)));
                // The same damage in a kept copy is neither served nor put back.
                QVERIFY(writeAll(keptPath(map), damaged) && QFile::remove(cachePath(map)));
                QVERIFY(Cache::getImageCache(map, false).image.isNull());
                QVERIFY(!QFile::exists(cachePath(map)));
            }
            // Undamaged, the kept copy is served and put back.
            QVERIFY(writeAll(keptPath(map), data));
            Cache::Origin origin = Cache::Origin::None;
            QCOMPARE(Cache::getImageCache(map, false, &origin).image,
                picture.convertToFormat(QImage::Format_RGB32));
            QCOMPARE(origin, Cache::Origin::PrivateCache);
            QVERIFY(QFile::exists(cachePath(map)));
            // A first row of another filter than none, its CRC made right, decodes as Qt does.
            QByteArray filtered = data;
            const int idat = Utils::PropertiesToByteArray(map).size() + 4 + 8 + 25;
            QCOMPARE(filtered.mid(idat + 4, 4), QByteArray("IDAT"));
            filtered[idat + 8 + 2 + 5] = 1; // Sub, after the zlib and stored block headers
            const quint32 length = qFromBigEndian<quint32>(filtered.constData() + idat);
            qToBigEndian(
                quint32(crc32(0, reinterpret_cast<const Bytef *>(filtered.constData()) + idat + 4,
                    length + 4)),
                filtered.data() + idat + 8 + length);
            QVERIFY(writeAll(cachePath(map), filtered));
            bool ok = false;
            const QImage hit = Cache::loadImageCache(map, &ok).image;
            QVERIFY(ok && hit != picture.convertToFormat(hit.format()));
            QCOMPARE(hit,
                QImage::fromData(filtered.mid(idat - 33), "PNG").convertToFormat(hit.format()));
        }
    }

    void cacheDirUnusable()
    {
        const PropertyMap map = mapOf(QSize(32, 32));
        const Image red { map, solidImage(QSize(32, 32), Qt::red) };
        const QString privateFile
            = Cache::privateCacheDir() + QLatin1Char('/') + Cache::getFileName(map);
        // A file in its place: the private directory takes the record and serves it.
        QVERIFY(writeAll(CacheDir, "not a directory"));
        MessageLog log;
        QVERIFY(Cache::saveImageCache(red));
        QVERIFY(log.contains(QStringLiteral("Error cache dir is not trusted")));
        Cache::Origin origin = Cache::Origin::None;
        QVERIFY(isSolid(Cache::getImageCache(map, false, &origin).image, QSize(32, 32), Qt::red));
        QCOMPARE(origin, Cache::Origin::PrivateCache);
        QVERIFY(QFile::remove(privateFile));
        QVERIFY(isSolid(Cache::getImageCache(map, false, &origin).image, QSize(32, 32), Blue));
        QCOMPARE(origin, Cache::Origin::Rendered);
        QVERIFY(QFile::exists(privateFile));
        QCOMPARE(readAll(CacheDir), QByteArray("not a directory"));
        QCOMPARE(Cache::getCacheSize(), quint64(0));
        // Our own directory that only lacks the sticky bit gets it.
        QVERIFY(QFile::remove(CacheDir) && QDir().mkpath(CacheDir));
        QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 0777), 0);
        QVERIFY(Cache::saveImageCache(red));
        QCOMPARE(statOf(CacheDir).st_mode & 07777, mode_t(01777));
        // A directory of another user, or a link to one, is not used.
        for (const bool link : { false, true }) {
            QDir(CacheDir).removeRecursively();
            QFile::remove(CacheDir);
            QFile::remove(privateFile);
            if (link) {
                QVERIFY(QDir().mkpath(QStringLiteral("/tmp/elsewhere"))
                    && QFile::link(QStringLiteral("/tmp/elsewhere"), CacheDir));
                QVERIFY(writeSparse(QStringLiteral("/tmp/elsewhere/big"), 200 << 20));
            } else {
                QVERIFY(QDir().mkpath(CacheDir));
                QCOMPARE(::chown(QFile::encodeName(CacheDir).constData(), 12345, 12345), 0);
            }
            log.clear();
            QVERIFY(Cache::saveImageCache(red));
            QVERIFY(log.contains(QStringLiteral("Error cache dir is not trusted")));
            QVERIFY(QFile::exists(privateFile));
            QCOMPARE(Cache::getCacheSize(), quint64(0));
            Cache::removeOldFileCache();
            QCOMPARE(entryCount(CacheDir), link ? 1 : 0);
        }
        QFile::remove(CacheDir);
    }

    // Rendered backgrounds are also kept in the private cache: after a reboot (the temporary
    // directory emptied) the kept copy serves, and the shared directory gets it back.
    void keptAcrossReboot_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("ownFileSystem");
        // Small records are stored from memory, large ones written as they are encoded.
        QTest::newRow("small") << QSize(48, 32) << false;
        QTest::newRow("large") << QSize(1200, 900) << false;
        QTest::newRow("large, private cache elsewhere") << QSize(1200, 900) << true;
    }

    void keptAcrossReboot()
    {
        QFETCH(QSize, size);
        QFETCH(bool, ownFileSystem);
        const QByteArray elsewhere("/tmp/elsewhere");
        if (ownFileSystem) {
            QVERIFY(QDir().mkpath(QString::fromLatin1(elsewhere)));
            if (::mount("tmpfs", elsewhere.constData(), "tmpfs", 0, "mode=0700") != 0)
                QSKIP("cannot mount a file system here");
            qputenv("XDG_CACHE_HOME", elsewhere);
        }
        const auto restore = qScopeGuard([&] {
            if (ownFileSystem && qunsetenv("XDG_CACHE_HOME"))
                ::umount(elsewhere.constData());
        });
        const PropertyMap map = mapOf(size);
        // A picture stored alone is not kept.
        QVERIFY(Cache::saveImageCache(Image { map, solidImage(size, Qt::red) }));
        QVERIFY(!QFile::exists(keptPath(map)));
        QVERIFY(QDir(CacheDir).removeRecursively());
        Cache::Origin origin = Cache::Origin::None;
        const Image rendered = Cache::getImageCache(map, false, &origin);
        QCOMPARE(origin, Cache::Origin::Rendered);
        // A record written as it is encoded is kept as a second name of the shared file on one
        // file system, as a copy otherwise.
        struct stat kept = {}, shared = {};
        QCOMPARE(::stat(QFile::encodeName(keptPath(map)).constData(), &kept), 0);
        QCOMPARE(::stat(QFile::encodeName(cachePath(map)).constData(), &shared), 0);
        QCOMPARE(kept.st_ino == shared.st_ino && kept.st_dev == shared.st_dev,
            size.width() > 1000 && !ownFileSystem);
        QCOMPARE(kept.st_mode, shared.st_mode);
        QCOMPARE(readAll(keptPath(map)), readAll(cachePath(map)));
        QVERIFY(QDir(CacheDir).removeRecursively() && QFile::remove(Wallpaper));
        {
            MessageLog log;
            QCOMPARE(Cache::getImageCache(map, false, &origin)
                         .image.convertToFormat(QImage::Format_RGB32),
                rendered.image.convertToFormat(QImage::Format_RGB32));
            QCOMPARE(origin, Cache::Origin::PrivateCache);
            QVERIFY(log.messages().isEmpty());
        }
        Cache::getImageCache(map, false, &origin);
        QCOMPARE(origin, Cache::Origin::SharedCache);
        // A damaged shared file is not hidden by the kept copy: it is rendered again.
        QVERIFY(writeTestImage(Wallpaper, solidImage(QSize(320, 240), Blue)));
        QVERIFY(writeAll(cachePath(map), "damaged"));
        Cache::getImageCache(map, false, &origin);
        QCOMPARE(origin, Cache::Origin::Rendered);
    }

    void sizeLimit_data()
    {
        QTest::addColumn<QSize>("size");
        // Stored from memory, and written as it is encoded: the same room.
        QTest::newRow("small") << QSize(16, 16);
        QTest::newRow("large") << QSize(1200, 900);
    }

    void sizeLimit()
    {
        QFETCH(QSize, size);
        const QString hidden = CacheDir + QStringLiteral("/.hidden");
        const PropertyMap map = mapOf(size);
        const Image record { map, solidImage(size, Qt::green) };
        QVERIFY(Cache::saveImageCache(record));
        const qint64 own = QFileInfo(cachePath(map)).size();
        // Links and directories neither count nor go; hidden files count, sparse ones by the
        // space they occupy.
        QVERIFY(writeSparse(QStringLiteral("/tmp/outside"), 200 << 20));
        QVERIFY(QFile::link(QStringLiteral("/tmp/outside"), CacheDir + QStringLiteral("/link")));
        QVERIFY(QDir(CacheDir).mkdir(QStringLiteral("sub")));
        QVERIFY(writeSparse(CacheDir + QStringLiteral("/sub/inner"), 200 << 20));
        QVERIFY(writeSparse(CacheDir + QStringLiteral("/.sparse"), 1 << 30));
        QVERIFY(writeAll(hidden, QByteArray(1000, 'h')));
        QCOMPARE(Cache::getCacheSize(), quint64(own + 1000));
        QVERIFY(QFile::remove(CacheDir + QStringLiteral("/.sparse")));
        // Exactly the limit: nothing is evicted. One byte more: the oldest file goes.
        MessageLog log;
        for (const qint64 over : { 0, 1 }) {
            QVERIFY(writeAll(hidden, QByteArray(int(Cache::MaxCacheSize - own + over), 'h')));
            QVERIFY(setMtime(hidden, 1000));
            QVERIFY(Cache::saveImageCache(record));
            QCOMPARE(
                log.contains(QStringLiteral("Cache size is exceeded MAX CACHE SIZE: 104857600")),
                over == 1);
            QCOMPARE(QFile::exists(hidden), over == 0);
        }
        QVERIFY(Cache::isCacheExists(map));
        QVERIFY(QFileInfo(CacheDir + QStringLiteral("/link")).isSymLink());
        QVERIFY(QFile::exists(CacheDir + QStringLiteral("/sub/inner")));
        QCOMPARE(Cache::getCacheSize(), quint64(own));
    }

    void evictionOrder()
    {
        for (const QString &name : words("b a c newest"))
            QVERIFY(writeAll(CacheDir + QLatin1Char('/') + name, "x")
                && setMtime(CacheDir + QLatin1Char('/') + name,
                    name == QLatin1String("newest") ? 5000 : 3000));
        // The oldest go first; of equal times, the greatest name.
        Cache::removeOldFileCache();
        QVERIFY(!QFile::exists(CacheDir + QStringLiteral("/c")));
        Cache::removeOldFileCache();
        QVERIFY(!QFile::exists(CacheDir + QStringLiteral("/b")));
        QCOMPARE(QDir(CacheDir).entryList(QDir::Files), words("a newest"));
        // Files this process may not remove are passed over: the other user's own file goes
        // although root's file is older.
        QDir(CacheDir).removeRecursively();
        const PropertyMap map = mapOf(QSize(8, 8));
        QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(8, 8), Qt::red) }));
        QVERIFY(setMtime(cachePath(map), 1000));
        const int second = runAsOtherUser([]() {
            if (!writeAll(CacheDir + QStringLiteral("/mine"), "y")
                || !setMtime(CacheDir + QStringLiteral("/mine"), 9000))
                return 3;
            Cache::removeOldFileCache();
            return QFile::exists(CacheDir + QStringLiteral("/mine")) ? 4 : 0;
        });
        if (second == -1)
            QSKIP("cannot change identity here");
        QCOMPARE(second, 0);
        QCOMPARE(entryCount(CacheDir), 1);
    }

    void foreignFilesAndLinks()
    {
        const PropertyMap map = mapOf(QSize(24, 16));
        // A link at the file's name is neither followed nor written through.
        QVERIFY(writeAll(QStringLiteral("/tmp/victim"), "precious"));
        QVERIFY(QDir().mkpath(CacheDir)
            && ::chmod(QFile::encodeName(CacheDir).constData(), 01777) == 0);
        QVERIFY(QFile::link(QStringLiteral("/tmp/victim"), cachePath(map)));
        MessageLog log;
        bool ok = true;
        QVERIFY(Cache::loadImageCache(map, &ok).image.isNull() && !ok);
        QVERIFY(log.contains(QStringLiteral("Error open file for read")));
        QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(24, 16), Blue));
        QCOMPARE(readAll(QStringLiteral("/tmp/victim")), QByteArray("precious"));
        QVERIFY(S_ISREG(statOf(cachePath(map)).st_mode));
        // Another user's valid-looking file with another picture, planted or stored by her.
        QVERIFY(Cache::saveImageCache(Image { map, solidImage(QSize(24, 16), Qt::red) }));
        QCOMPARE(::chown(QFile::encodeName(cachePath(map)).constData(), 12345, 12345), 0);
        QVERIFY(Cache::loadImageCache(map, &ok).image.isNull() && !ok);
        QVERIFY(log.contains(QStringLiteral("Error file is not trusted")));
        QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(24, 16), Blue));
        QCOMPARE(QFileInfo(cachePath(map)).ownerId(), geteuid());
        QFile::remove(cachePath(map));
        const int status = runAsOtherUser([map]() {
            return Cache::saveImageCache(Image { map, solidImage(QSize(24, 16), Qt::red) }) ? 0 : 3;
        });
        if (status == -1)
            QSKIP("cannot change identity here");
        QCOMPARE(status, 0);
        QVERIFY(isSolid(Cache::getImageCache(map, false).image, QSize(24, 16), Blue));
    }

    void fullDisk()
    {
        QVERIFY(QDir().mkpath(CacheDir));
        if (::mount(
                "tmpfs", QFile::encodeName(CacheDir).constData(), "tmpfs", 0, "size=256k,mode=1777")
            != 0)
            QSKIP("cannot mount a small file system here");
        qputenv("XDG_CACHE_HOME", "/proc/vok-none"); // no private directory to fall back on
        const auto restore = qScopeGuard([] {
            qunsetenv("XDG_CACHE_HOME");
            ::umount(QFile::encodeName(CacheDir).constData());
        });
        const PropertyMap small = mapOf(QSize(16, 16));
        QVERIFY(!Cache::getImageCache(small, false).image.isNull());
        const QByteArray earlier = readAll(cachePath(small));
        // Noise does not compress: its record cannot fit, and does not replace an earlier file.
        const QImage noise = testPicture(QStringLiteral("noise"), QSize(400, 300));
        MessageLog log;
        QVERIFY(!Cache::saveImageCache(Image { mapOf(QSize(400, 300)), noise }));
        QVERIFY(log.contains(QStringLiteral("Error write file")));
        QVERIFY(!Cache::saveImageCache(Image { small, noise }));
        QCOMPARE(readAll(cachePath(small)), earlier);
        // The caller still gets its picture, and no temporary file is left behind.
        QVERIFY(writeTestImage(QStringLiteral("/tmp/noise.png"), noise));
        QCOMPARE(
            Cache::getImageCache(mapOf(QSize(400, 300), QStringLiteral("/tmp/noise.png")), false)
                .image.size(),
            QSize(400, 300));
        QVERIFY(log.contains(QStringLiteral("Error save image cache")));
        QCOMPARE(entryCount(CacheDir), 1);
    }

    // Eight processes of mixed lookups, every one stored again, over old files far above the
    // limit: every answer right, every cache file whole, the old files evicted.
    void processesAboveLimit()
    {
        QVERIFY(writeTestImage(Wallpaper, gradientImage(QSize(1200, 800))));
        QVERIFY(freshSession());
        QVERIFY(writeTheme(
            "WallPaper=" + Wallpaper.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
        QVERIFY(writeAll(DmSettings, "[background]\npath=" + Wallpaper.toUtf8() + "\n"));
        for (int i = 0; i < 6; ++i)
            QVERIFY(stressRequest(i).image.save(QStringLiteral("/tmp/reference-%1.png").arg(i)));
        for (int i = 0; i < 3000; ++i)
            QVERIFY(
                writeAll(CacheDir + QStringLiteral("/filler-%1").arg(i), QByteArray(100 << 10, 'x'))
                && setMtime(CacheDir + QStringLiteral("/filler-%1").arg(i), 1000 + i));
        std::vector<std::unique_ptr<QProcess>> children;
        for (int p = 0; p < 8; ++p)
            children.push_back(startChild(
                { QStringLiteral("requests"), QString::number(p), QStringLiteral("300") }));
        for (const auto &child : children) {
            QVERIFY(child->waitForFinished(-1));
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
        }
        QVERIFY(QDir(CacheDir).entryList({ QStringLiteral("filler-*") }).size() <= 3000 - 1200);
        int checked = 0;
        for (const QString &name :
            QDir(CacheDir).entryList({ QString(32, QLatin1Char('?')) }, QDir::Files)) {
            const PropertyMap map
                = Utils::ByteArrayToProperties(readAll(CacheDir + QLatin1Char('/') + name));
            bool ok = false;
            QCOMPARE(Cache::getFileName(map), name);
            QVERIFY(!Cache::loadImageCache(map, &ok).image.isNull() && ok);
            ++checked;
        }
        QVERIFY(checked >= 6);
    }

    void killedWhileStoring()
    {
        // Every kill leaves the complete file stored first, or a newer complete one.
        const PropertyMap map = mapOf(QSize(900, 600));
        const QImage noise = testPicture(QStringLiteral("noise"), QSize(900, 600))
                                 .convertToFormat(QImage::Format_RGB32);
        QVERIFY(Cache::saveImageCache(Image { map, noise }));
        quint32 delay = 12345;
        for (int i = 0; i < 50; ++i) {
            const auto child = startChild({ QStringLiteral("store") });
            QVERIFY(child->waitForStarted());
            QThread::usleep(30000 + ((delay = delay * 1103515245u + 12345u) >> 8) % 150000);
            ::kill(pid_t(child->processId()), SIGKILL);
            child->waitForFinished(-1);
            bool ok = false;
            QCOMPARE(
                Cache::loadImageCache(map, &ok).image.convertToFormat(QImage::Format_RGB32), noise);
            QVERIFY(ok);
        }
    }

    // A shared directory this user may not write (root ignores modes: another user asks):
    // hits served, a miss stored in the private directory, the shared files untouched.
    void readOnlyDirectory()
    {
        const QRect screen(0, 0, 320, 200);
        QVERIFY(freshSession());
        QVERIFY(writeTheme(
            "WallPaper=" + Wallpaper.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
        const Image reference = getWallpaper(screen);
        const QString file = cachePath(reference.properties);
        const QByteArray bytes = readAll(file);
        QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 0555), 0);
        QVERIFY(reference.image.save(QStringLiteral("/tmp/reference-ro.png")));
        const auto other = startChild({ QStringLiteral("read-only") });
        QVERIFY(other->waitForFinished(60000));
        const int status = other->exitCode() == 200 ? -1 : other->exitCode();
        QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 01777), 0);
        if (status == -1)
            QSKIP("cannot change identity here");
        QCOMPARE(status, 0);
        QCOMPARE(readAll(file), bytes);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return child(QCoreApplication::arguments());
    TestCache test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_cache.moc"
