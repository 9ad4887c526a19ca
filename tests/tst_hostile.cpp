// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTest>
#include <QtEndian>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#include <zlib.h>

using namespace VokImage;

using PropertyMap = QMap<QString, QVariant>;

// Pictures that announce far more pixels than they are worth.
class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hugeWallpaper();
    void hugeLogo();
    void decompressionBomb();
    void largeSourcesByParts();
    void largestSourcesBounded();
};

static QByteArray chunk(const char *type, const QByteArray &data)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type, 4) + data;
    out += body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(
        quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))),
        crc.data());
    return out + crc;
}

// A grey-scale PNG of @p width x @p height whose pixel data decompresses from @p rows rows
// of zeros (all of them for a complete picture, fewer for one cut short).
static QByteArray png(quint32 width, quint32 height, quint32 rows)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(width, header.data());
    qToBigEndian<quint32>(height, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 0; // grey
    // Deflated in pieces, so the test itself never holds the decoded size.
    z_stream z {};
    deflateInit(&z, 9);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray packed;
    QByteArray out(1 << 16, '\0');
    qint64 left = qint64(width + 1) * rows;
    do {
        const uInt piece = uInt(qMin<qint64>(left, zeros.size()));
        left -= piece;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        z.avail_in = piece;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            packed.append(out.constData(), out.size() - int(z.avail_out));
        } while (z.avail_out == 0);
    } while (left > 0);
    deflateEnd(&z);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", packed)
        + chunk("IEND", QByteArray());
}

static long maxRssMiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

static PropertyMap wallpaperMap(const QString &path, int position = int(WallPaperPosition::Crop),
    QSize screen = QSize(320, 200))
{
    PropertyMap map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = QRect(QPoint(0, 0), screen);
    map[QLatin1String(Keys::ImagePosition)] = position;
    return map;
}

static QImage rendered(const PropertyMap &map)
{
    RenderEngine engine;
    const QImage image = engine.render(map).toImage();
    return engine.getStatus() == RenderEngine::Ok ? image.convertToFormat(QImage::Format_ARGB32)
                                                  : QImage();
}

// The largest difference of one channel between two pictures of one size.
static int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (int d : { qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q),
                     qAlpha(p) - qAlpha(q) })
                largest = qMax(largest, qAbs(d));
        }
    return largest;
}

// Renders @p map in a child process (this program again: a fork would inherit Qt's thread
// pool without its threads); its exit status, and through @p rss its peak resident memory.
static int renderInChild(const PropertyMap &map, long *rss)
{
    const QString mapFile = QStringLiteral("/tmp/child-map");
    if (!writeAll(mapFile, Utils::PropertiesToByteArray(map)))
        return -1;
    QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    QByteArray child = "--child";
    QByteArray file = QFile::encodeName(mapFile);
    char *argv[] = { self.data(), child.data(), file.data(), nullptr };
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    *rss = readAll(mapFile + QStringLiteral(".rss")).toLong();
    return WEXITSTATUS(status);
}

static PropertyMap logoMap(const QString &path)
{
    PropertyMap map = DefaultLogoProperties;
    map[QLatin1String(Keys::LogoPath)] = path;
    map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 320, 200);
    map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Center);
    return map;
}

void TestHostile::initTestCase()
{
    QVERIFY(insideSandbox());
    QDir(CacheDir).removeRecursively();
}

void TestHostile::hugeWallpaper()
{
    // 30000 x 30000 is 900 million pixels: 3.6 GB once decoded.
    const QString path = QStringLiteral("/tmp/huge.png");
    QVERIFY(writeAll(path, png(30000, 30000, 16)));
    MessageLog log;
    RenderEngine engine;
    engine.render(wallpaperMap(path));
    QCOMPARE(engine.getStatus(), RenderEngine::Error);
    QVERIFY(log.contains(QStringLiteral("Error image is too large:")));
    const Image record = Cache::getImageCache(wallpaperMap(path), false);
    QVERIFY(record.image.isNull());
    QVERIFY(log.contains(QStringLiteral("Error render image")));
    QVERIFY(maxRssMiB() < 512);
}

void TestHostile::hugeLogo()
{
    const QString png30k = QStringLiteral("/tmp/huge_logo.png");
    QVERIFY(writeAll(png30k, png(30000, 30000, 16)));
    const QString svg = QStringLiteral("/tmp/huge_logo.svg");
    QVERIFY(writeAll(svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"30000\" "
        "height=\"30000\"><rect width=\"30000\" height=\"30000\"/></svg>"));
    // The logo is left out; the rest of the picture is drawn.
    for (const QString &path : { png30k, svg }) {
        MessageLog log;
        RenderEngine engine;
        const QImage image = engine.render(logoMap(path)).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QVERIFY(!image.isNull());
        QCOMPARE(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 0);
        QVERIFY(log.contains(QStringLiteral("Error image is too large:")));
    }
    QVERIFY(maxRssMiB() < 512);
}

void TestHostile::decompressionBomb()
{
    // 16000 x 16000 zeros: 256 MB of pixel data in a few hundred kilobytes.
    const QString path = QStringLiteral("/tmp/bomb.png");
    const QByteArray bomb = png(16000, 16000, 16000);
    QVERIFY(bomb.size() < 1024 * 1024);
    QVERIFY(writeAll(path, bomb));
    MessageLog log;
    RenderEngine engine;
    engine.render(wallpaperMap(path));
    QCOMPARE(engine.getStatus(), RenderEngine::Error);
    QVERIFY(log.contains(QStringLiteral("Error image is too large:")));

    // The same bomb as a cache file's image part, under a map of a small screen.
    const PropertyMap map = wallpaperMap(QStringLiteral("/tmp/absent.png"));
    QByteArray file = Utils::PropertiesToByteArray(map);
    file += QByteArray("\0\0\0\1", 4) + bomb;
    QVERIFY(QDir().mkpath(CacheDir));
    QVERIFY(writeAll(CacheDir + QLatin1Char('/') + Cache::getFileName(map), file));
    bool ok = true;
    QVERIFY(Cache::loadImageCache(map, &ok).image.isNull());
    QVERIFY(!ok);
    QVERIFY(log.contains(QStringLiteral("Error image is null")));
    QVERIFY(maxRssMiB() < 512);
}

void TestHostile::largeSourcesByParts()
{
    // Above the size that is decoded whole: the same picture as PNG (decoded by parts or
    // reduced) and as PPM (decoded whole) give the same backgrounds.
    QImage detail(5000, 4000, QImage::Format_RGB32);
    QImage gradient(5000, 4000, QImage::Format_RGB32);
    for (int y = 0; y < detail.height(); ++y) {
        QRgb *a = reinterpret_cast<QRgb *>(detail.scanLine(y));
        QRgb *b = reinterpret_cast<QRgb *>(gradient.scanLine(y));
        for (int x = 0; x < detail.width(); ++x) {
            a[x] = qRgb((x * 7 + y) & 255, (x ^ y) & 255, (x * y >> 8) & 255);
            b[x] = qRgb(x * 255 / 5000, y * 255 / 4000, (x + y) * 255 / 9000);
        }
    }
    const QImage palette = detail.convertToFormat(QImage::Format_Indexed8);
    QVERIFY(detail.save(QStringLiteral("/tmp/detail.png")));
    QVERIFY(detail.save(QStringLiteral("/tmp/detail.ppm")));
    QVERIFY(palette.save(QStringLiteral("/tmp/palette.png")));
    QVERIFY(palette.convertToFormat(QImage::Format_RGB32).save(QStringLiteral("/tmp/palette.ppm")));
    QVERIFY(gradient.save(QStringLiteral("/tmp/gradient.png")));
    QVERIFY(gradient.save(QStringLiteral("/tmp/gradient.ppm")));
    const QSize screen(1280, 800);
    for (const QString &name : words("detail palette")) {
        for (int position : { int(WallPaperPosition::Center), int(WallPaperPosition::Tile) }) {
            const QImage parts
                = rendered(wallpaperMap(QStringLiteral("/tmp/%1.png").arg(name), position, screen));
            QVERIFY(!parts.isNull());
            QCOMPARE(parts,
                rendered(wallpaperMap(QStringLiteral("/tmp/%1.ppm").arg(name), position, screen)));
        }
        PropertyMap logo = logoMap(QStringLiteral("/tmp/%1.png").arg(name));
        const QImage logoParts = rendered(logo);
        logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/%1.ppm").arg(name);
        QVERIFY(!logoParts.isNull());
        QCOMPARE(logoParts, rendered(logo));
    }
    for (int position : { int(WallPaperPosition::Stretch), int(WallPaperPosition::Crop) }) {
        const QImage reduced
            = rendered(wallpaperMap(QStringLiteral("/tmp/gradient.png"), position, screen));
        const QImage whole
            = rendered(wallpaperMap(QStringLiteral("/tmp/gradient.ppm"), position, screen));
        QCOMPARE(reduced.size(), screen);
        QVERIFY(largestDifference(reduced, whole) <= 3);
    }
}

void TestHostile::largestSourcesBounded()
{
    // The largest PNG the limits let through, for every placement on a 3840x2160 screen and
    // as a logo: each render stays within a bound far below the decoded size (512 MiB).
    const QString path = QStringLiteral("/tmp/largest.png");
    QVERIFY(writeAll(path, png(16384, 8192, 8192)));
    const QSize screen(3840, 2160);
    long worst = 0;
    for (int position = 0; position < 4; ++position) {
        long rss = 0;
        QCOMPARE(renderInChild(wallpaperMap(path, position, screen), &rss), 0);
        worst = qMax(worst, rss);
    }
    PropertyMap logo = logoMap(path);
    logo[QLatin1String(Keys::LogoScreen)] = QRect(QPoint(0, 0), screen);
    long rss = 0;
    QCOMPARE(renderInChild(logo, &rss), 0);
    worst = qMax(worst, rss);

    // JPEG: a baseline one as logo is decoded by parts; a progressive one that large is refused
    // (its decoder holds every coefficient).
    QImage photo(8192, 4200, QImage::Format_RGB32);
    photo.fill(QColor(90, 120, 60));
    QImageWriter baseline(QStringLiteral("/tmp/large.jpg"));
    QVERIFY(baseline.write(photo));
    QImageWriter progressive(QStringLiteral("/tmp/progressive.jpg"));
    progressive.setProgressiveScanWrite(true);
    QVERIFY(progressive.write(photo));
    photo = QImage();
    logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/large.jpg");
    QCOMPARE(renderInChild(logo, &rss), 0);
    worst = qMax(worst, rss);
    MessageLog log;
    logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/progressive.jpg");
    RenderEngine engine;
    engine.render(logo);
    QCOMPARE(engine.getStatus(), RenderEngine::Ok);
    QVERIFY(log.contains(QStringLiteral("Error image is too large:")));
    QVERIFY(worst < 400);
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        RenderEngine engine;
        engine.render(Utils::ByteArrayToProperties(readAll(QFile::decodeName(argv[2]))));
        writeAll(QFile::decodeName(argv[2]) + QStringLiteral(".rss"),
            QByteArray::number(qlonglong(peakResidentMiB())));
        return engine.getStatus() == RenderEngine::Ok ? 0 : 1;
    }
    TestHostile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_hostile.moc"
