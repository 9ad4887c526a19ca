#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <QtEndian>

#include <sys/resource.h>
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

static PropertyMap wallpaperMap(const QString &path)
{
    PropertyMap map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = QRect(0, 0, 320, 200);
    return map;
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
    qInfo("30000x30000 wallpaper refused; max RSS %ld MiB", maxRssMiB());
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
    qInfo("30000x30000 logos (PNG and SVG) left out; max RSS %ld MiB", maxRssMiB());
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
    qInfo("%d-byte PNG announcing 16000x16000 refused as wallpaper and as cache file; max RSS "
          "%ld MiB",
        int(bomb.size()), maxRssMiB());
    QVERIFY(maxRssMiB() < 512);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
