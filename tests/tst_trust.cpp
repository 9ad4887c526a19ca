// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Local attackers, second and third rounds: real users made inside the sandbox against the modes
// of stored pictures, the private cache's folders, the SVG reference check, the decoders' bounds,
// pictures that announce more pixels than they are worth, the shared directory's limit, "@2x"
// logos, check, shared wallpaper folders, the watcher and the render limits.

#include "localusers.h"
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

using namespace VokImage;
using namespace TestPaths;

namespace {

// Alice's picture that only she may see (the users are built in another file: no static
// copies of them here).
QString privatePicture()
{
    return Alice.home() + QStringLiteral("/private.png");
}

bool chownTo(const User &user, const QString &path)
{
    return ::chown(QFile::encodeName(path).constData(), user.uid, user.uid) == 0;
}

// The files under /tmp that @p reader may read and that hold a picture with the secret.
QStringList secretsReadableBy(const User &reader)
{
    const Run found = run(&reader, words("find /tmp -type f -readable"));
    QStringList leaks;
    const QList<QByteArray> paths = found.out.split('\n');
    for (const QByteArray &path : paths) {
        const QByteArray data = readAll(QFile::decodeName(path));
        const int png = data.indexOf("\x89PNG");
        if (png >= 0 && showsSecret(QImage::fromData(data.mid(png), "PNG")))
            leaks.append(QFile::decodeName(path));
    }
    return leaks;
}

// The regular files directly in @p dir.
QStringList filesIn(const QString &dir)
{
    QStringList files;
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString &name : names)
        files.append(dir + QLatin1Char('/') + name);
    return files;
}

// Every file below @p dir, relative to it.
QStringList treeOf(const QString &dir)
{
    QStringList tree;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        tree.append(it.next().mid(dir.size()));
    tree.sort();
    return tree;
}

quint32 bigEndian(quint32 value)
{
    return qToBigEndian(value);
}

QByteArray chunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray out;
    const quint32 length = bigEndian(quint32(data.size()));
    out.append(reinterpret_cast<const char *>(&length), 4);
    out.append(type + data);
    const quint32 crc = bigEndian(quint32(crc32(crc32(0, nullptr, 0),
        reinterpret_cast<const Bytef *>(out.constData() + 4), uInt(out.size() - 4))));
    out.append(reinterpret_cast<const char *>(&crc), 4);
    return out;
}

// A grey PNG of @p width x @p height whose pixel data inflates from @p rows rows of zeros (all
// of them for a complete picture, fewer for one cut short), deflated in pieces.
QByteArray png(quint32 width, quint32 height, quint32 rows)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(width, header.data());
    qToBigEndian<quint32>(height, header.data() + 4);
    header[8] = 8;
    z_stream z {};
    deflateInit(&z, 9);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray packed, out(1 << 16, '\0');
    for (qint64 left = qint64(width + 1) * rows; left > 0;) {
        const uInt piece = uInt(qMin<qint64>(left, zeros.size()));
        left -= piece;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        z.avail_in = piece;
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            packed.append(out.constData(), out.size() - int(z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", packed)
        + chunk("IEND", QByteArray());
}

// @p png with @p count zTXt chunks before its pixels, each inflating to @p inflated bytes.
QByteArray withTextChunks(const QByteArray &png, int count, int inflated)
{
    QByteArray zeros(inflated, '\0');
    uLongf size = compressBound(uLong(zeros.size()));
    QByteArray packed(int(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef *>(packed.data()), &size,
        reinterpret_cast<const Bytef *>(zeros.constData()), uLong(zeros.size()), 9);
    packed.resize(int(size));
    const QByteArray text = chunk("zTXt", QByteArray("Comment") + '\0' + '\0' + packed);
    const int idat = png.indexOf("IDAT") - 4;
    QByteArray out = png.left(idat);
    for (int i = 0; i < count; ++i)
        out += text;
    return out + png.mid(idat);
}

// A 16-bit RGBA PNG of @p size, Adam7-interlaced, written row by row (each pass gets the rows).
bool writeInterlacedPng(const QString &path, const QSize &size)
{
    FILE *file = fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row(size_t(size.width()) * 8);
    for (size_t x = 0; x < row.size(); x += 8) {
        const png_byte pixel[8] = { 0x30, 0, 0x60, 0, 0x90, 0, 0xff, 0xff };
        std::copy(pixel, pixel + 8, row.begin() + long(x));
    }
    bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, png_uint_32(size.width()), png_uint_32(size.height()), 16,
            PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
            PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < size.height(); ++y)
                png_write_row(png, row.data());
        png_write_end(png, info);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    fclose(file);
    return ok;
}

struct JpegFailure
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// A grey progressive JPEG of @p size, in memory.
QByteArray progressiveJpeg(const QSize &size)
{
    jpeg_compress_struct info;
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegFailure *>(common->err)->jump, 1);
    };
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    QByteArray out;
    if (!setjmp(failure.jump)) {
        jpeg_mem_dest(&info, &buffer, &length);
        info.image_width = JDIMENSION(size.width());
        info.image_height = JDIMENSION(size.height());
        info.input_components = 1;
        info.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&info);
        jpeg_simple_progression(&info);
        jpeg_start_compress(&info, TRUE);
        std::vector<JSAMPLE> row(size_t(size.width()), 0x80);
        JSAMPROW rows[1] = { row.data() };
        while (info.next_scanline < info.image_height)
            jpeg_write_scanlines(&info, rows, 1);
        jpeg_finish_compress(&info);
        out = QByteArray(reinterpret_cast<const char *>(buffer), int(length));
    }
    jpeg_destroy_compress(&info);
    free(buffer);
    return out;
}

// The pixels of @p image near the pure colour @p colour (within 60 of each channel).
int countOf(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count
                += largestDifference(image.copy(x, y, 1, 1), solidImage(QSize(1, 1), colour)) < 60;
    return count;
}

} // namespace

class TestTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void privatePicturesStayPrivate();
    void rootNeverThroughUserFolders();
    void svgReferencesRefused();
    void decodersBounded();
    void announcedPixels();
    void largeSourcesByParts();
    void largestSourcesBounded();
    void sharedDirectoryBound();
    void highResolutionLogoIsOptional();
    void checkReadsAsTheLibrary();
    void sharedWallpaperFolder();
    void watcherNotStarved();
    void picturesWithinLimits();
    void loginStorm();
};

void TestTrust::initTestCase()
{
    QVERIFY(insideSandbox());
    if (geteuid() != 0)
        QSKIP("making users needs root in the sandbox");
    if (!addUsers())
        QSKIP("useradd cannot add users here");
    QVERIFY(writeTestImage(privatePicture(), solidImage(QSize(64, 64), QColor(255, 0, 255))));
    QVERIFY(chownTo(Alice, privatePicture()));
    QCOMPARE(::chmod(QFile::encodeName(privatePicture()).constData(), 0600), 0);
}

void TestTrust::init()
{
    clearCaches();
    QVERIFY(writeAll(DmSettings, "[background]\n"));
}

// A background drawn from a user's private picture is hers alone, in the shared directory and
// when its kept copy is put back; root's background from system artwork stays served to all.
void TestTrust::privatePicturesStayPrivate()
{
    QVERIFY(writeTheme(Alice, "WallPaper=" + privatePicture().toUtf8() + "\nWallPaperPos=Crop\n"));
    const QString out = Alice.home() + QStringLiteral("/bg.png");
    QCOMPARE(background(&Alice, QStringLiteral("320x200"), out).code, 0);
    QVERIFY(showsSecret(QImage(out)));
    const QStringList stored = filesIn(CacheDir);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(statOf(stored.first()).st_mode & 07777, mode_t(0600));
    QCOMPARE(secretsReadableBy(Mallory), QStringList());

    // After a reboot the kept copy serves and is put back, as closed as it was.
    QDir(CacheDir).removeRecursively();
    const Run again = background(&Alice, QStringLiteral("320x200"), out);
    QVERIFY2(again.out.contains("from private cache"), again.out.constData());
    QCOMPARE(filesIn(CacheDir).size(), 1);
    QCOMPARE(statOf(filesIn(CacheDir).first()).st_mode & 07777, mode_t(0600));
    QCOMPARE(secretsReadableBy(Mallory), QStringList());
    QCOMPARE(secretsReadableBy(Bob), QStringList());

    // A picture of system artwork stays readable: the scan sees what others may read.
    // The greeter's background, rendered by root, is served to another user from the cache.
    clearCaches();
    QCOMPARE(background(nullptr, QStringLiteral("400x300"), QStringLiteral("/tmp/g.png")).code, 0);
    QCOMPARE(statOf(filesIn(CacheDir).first()).st_mode & 07777, mode_t(0644));
    const Run greeter = tool(&Mallory,
        { QStringLiteral("background"), QStringLiteral("--greeter"), QStringLiteral("--screen"),
            QStringLiteral("400x300"), QStringLiteral("-o"),
            Mallory.home() + QStringLiteral("/g.png") });
    QVERIFY2(greeter.out.contains("from cache"), greeter.out.constData());
    QVERIFY(writeTheme(Alice, "WallPaper=/usr/share/wallpapers/vok-default-light.jpg\n"));
    QCOMPARE(background(&Alice, QStringLiteral("320x200"), out).code, 0);
    for (const QString &file : filesIn(CacheDir))
        QCOMPARE(statOf(file).st_mode & 07777, mode_t(0644));
}

// Root's cache clear and greeter render with a user's HOME or XDG_CACHE_HOME whose ".cache" is a
// link to root's folders: nothing there is removed or created; root uses its own private cache.
void TestTrust::rootNeverThroughUserFolders()
{
    const QString doc = QStringLiteral("/usr/share/doc/vok-target");
    for (const QString &file : words("/vokimage/copyright /vokimage/changelog.Debian.gz "
                                     "/vokimage/kept/0123 /vokimage/16:9/x.svg"))
        QVERIFY(writeAll(doc + file, "keep"));
    const QStringList docTree = treeOf(doc);
    const QString etc = QStringLiteral("/etc/vok-etc");
    QVERIFY(QDir().mkpath(etc));
    const QString cacheLink = Alice.home() + QStringLiteral("/.cache");
    const auto linkCacheTo = [&](const QString &target) {
        QFile::remove(cacheLink);
        return run(&Alice, { QStringLiteral("ln"), QStringLiteral("-sfn"), target, cacheLink }).code
            == 0;
    };
    const QList<QMap<QString, QString>> environments {
        { { QStringLiteral("HOME"), Alice.home() } },
        { { QStringLiteral("XDG_CACHE_HOME"), cacheLink } },
    };
    for (const QMap<QString, QString> &environment : environments) {
        const RunOptions options { QString(), environment, 120000 };
        QVERIFY(linkCacheTo(doc));
        const Run clear = tool(nullptr, words("cache clear"), options);
        QVERIFY2(clear.code == 0, clear.err.constData());
        QVERIFY2(clear.out.contains("/tmp/roothome/.cache/vokimage"), clear.out.constData());
        QCOMPARE(treeOf(doc), docTree);

        QVERIFY(linkCacheTo(etc));
        const Run greeter
            = tool(nullptr, words("background --greeter --screen 320x200 -o /tmp/g.png"), options);
        QCOMPARE(greeter.code, 0);
        QCOMPARE(treeOf(etc), QStringList());
        // Root's kept copy went to its own private cache.
        QCOMPARE(filesIn(QStringLiteral("/tmp/roothome/.cache/vokimage/kept")).size(), 1);
        clearCaches();
    }
    QFile::remove(cacheLink);
}

// SVGs in a shared folder that reach for a private picture through an undeclared prefix or an
// upper-case "data:" scheme are refused, plain and gzip-compressed, for a user and for the
// greeter; a clean SVG from the same place still renders.
void TestTrust::svgReferencesRefused()
{
    const QByteArray head = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\"";
    const QByteArray xlink = " xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
    const QByteArray image = "<image x=\"0\" y=\"0\" width=\"64\" height=\"64\" xlink:href=\"";
    const QByteArray target = privatePicture().toUtf8();
    const QList<QPair<const char *, QByteArray>> cases {
        { "undeclared", head + ">" + image + target + "\"/></svg>" },
        { "inkscape",
            head + " inkscape:version=\"1.2\"" + xlink + ">" + image + target + "\"/></svg>" },
        { "DATA", head + xlink + ">" + image + "DATA:/../users/alice/private.png\"/></svg>" },
        { "Data", head + xlink + ">" + image + "Data:/../users/alice/private.png\"/></svg>" },
    };
    // The victims work in /tmp, where the attacker made folders named like the schemes.
    for (const QString &folder : words("/tmp/DATA: /tmp/Data:"))
        QCOMPARE(run(&Mallory, QStringList { QStringLiteral("mkdir"), folder }).code, 0);
    const RunOptions inTmp { QStringLiteral("/tmp"), {}, 120000 };
    QVERIFY(writeAll(DmSettings,
        "[background]\npath=/tmp/evil.svgz\ncolor_overlay=0, 0, 0, 0\n[background][blur]\n"
        "enable=false\n[background][logo]\nenable=false\n"));
    const QStringList gzip { QStringLiteral("sh"), QStringLiteral("-c"),
        QStringLiteral("gzip -c /tmp/evil.svg > /tmp/evil.svgz") };
    for (const auto &[name, svg] : cases) {
        // Qt follows each reference when nothing stops it (a file in a folder of root's own).
        QVERIFY(writeAll(QStringLiteral("/usr/share/wallpapers/evil.svg"), svg));
        const Run shown = tool(nullptr,
            words("render --wallpaper /usr/share/wallpapers/evil.svg --screen 64x64 -o "
                  "/tmp/shown.png"),
            inTmp);
        QVERIFY2(shown.code == 0 && showsSecret(QImage(QStringLiteral("/tmp/shown.png"))), name);
        // The victims' own copies of the attacker's document in /tmp, plain and compressed.
        for (const QString &file : words("/tmp/evil.svg /tmp/evil.svgz /tmp/greeter.png"))
            QFile::remove(file);
        QVERIFY(
            writeAs(Alice, QStringLiteral("/tmp/evil.svg"), svg) && run(&Alice, gzip).code == 0);
        for (const QString &file : words("/tmp/evil.svg /tmp/evil.svgz")) {
            QFile::remove(Alice.home() + QStringLiteral("/svg.png"));
            const Run user = tool(&Alice,
                words("render --screen 64x64 --wallpaper")
                    << file << QStringLiteral("-o") << Alice.home() + QStringLiteral("/svg.png"),
                inTmp);
            QVERIFY2(user.err.contains("refers outside itself"), name);
            QVERIFY2(!showsSecret(QImage(Alice.home() + QStringLiteral("/svg.png"))), name);
        }
        // Root's copy for the greeter.
        QVERIFY(QFile::remove(QStringLiteral("/tmp/evil.svgz")) && run(nullptr, gzip).code == 0);
        clearCaches();
        const Run root = tool(
            nullptr, words("background --greeter --screen 64x64 -o /tmp/greeter.png"), inTmp);
        QVERIFY2(root.err.contains("refers outside itself"), name);
        QVERIFY2(!showsSecret(QImage(QStringLiteral("/tmp/greeter.png"))), name);
        for (const QImage &picture : storedPictures(CacheDir))
            QVERIFY2(!showsSecret(picture), name);
    }
    // A self-contained SVG from the same place renders.
    QVERIFY(writeAs(Alice, QStringLiteral("/tmp/clean.svg"),
        head + xlink + "><rect width=\"64\" height=\"64\" fill=\"#00ff00\"/></svg>"));
    QCOMPARE(tool(&Alice,
                 words("render --wallpaper /tmp/clean.svg --screen 64x64 -o")
                     << Alice.home() + QStringLiteral("/clean.png"),
                 inTmp)
                 .code,
        0);
    QCOMPARE(
        QImage(Alice.home() + QStringLiteral("/clean.png")).pixelColor(32, 32), QColor(0, 255, 0));
}

// Interlaced PNGs, progressive JPEGs behind a parameterless marker and PNG text chunks cost
// no more than their caps allow.
void TestTrust::decodersBounded()
{
    constexpr long Bound = 144; // MiB, the bound docs/security.md states for the rendering process
    const QString adam7 = QStringLiteral("/usr/share/wallpapers/adam7.png");
    QVERIFY(writeInterlacedPng(adam7, QSize(16384, 8192)));
    QVERIFY(QFileInfo(adam7).size() < qint64(128) << 20);
    QVERIFY(writeTestImage(QStringLiteral("/tmp/plain.png"),
        solidImage(QSize(320, 200), QColor(QStringLiteral("#336699")))));
    long wallpaperPeak = 0;
    long logoPeak = 0;
    QCOMPARE(
        renderMeasured(adam7, QString(), QStringLiteral("/tmp/a7-wallpaper.png"), &wallpaperPeak),
        1);
    QCOMPARE(renderMeasured(QStringLiteral("/tmp/plain.png"), adam7,
                 QStringLiteral("/tmp/a7-logo.png"), &logoPeak),
        0);
    QCOMPARE(
        QImage(QStringLiteral("/tmp/a7-logo.png")).pixelColor(160, 100), QColor(0x33, 0x66, 0x99));
    QVERIFY2(wallpaperPeak < Bound && logoPeak < Bound,
        qPrintable(QStringLiteral("%1 and %2 MiB").arg(wallpaperPeak).arg(logoPeak)));

    // A progressive JPEG above its cap, and the same behind a TEM marker (FF 01).
    const QByteArray progressive = progressiveJpeg(QSize(8192, 6144));
    QVERIFY(!progressive.isEmpty());
    const QByteArray tem = progressive.left(2) + QByteArray("\xff\x01", 2) + progressive.mid(2);
    for (const QByteArray &jpeg : { progressive, tem }) {
        QVERIFY(writeAll(QStringLiteral("/usr/share/wallpapers/progressive.jpg"), jpeg));
        long peak = 0;
        QCOMPARE(renderMeasured(QStringLiteral("/usr/share/wallpapers/progressive.jpg"), QString(),
                     QStringLiteral("/tmp/progressive.png"), &peak),
            1);
        QVERIFY2(peak < Bound, qPrintable(QString::number(peak)));
    }

    // 300 zTXt chunks of 7 MiB each cost what the same pixels cost without them.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        solidImage(QSize(320, 200), QColor(QStringLiteral("#884422"))).save(&buffer, "PNG");
    }
    const QByteArray texts = withTextChunks(png, 300, 7 << 20);
    QVERIFY(writeAll(QStringLiteral("/usr/share/wallpapers/text.png"), texts));
    QVERIFY(writeAll(QStringLiteral("/usr/share/wallpapers/bare.png"), png));
    const auto measure = [](const QString &wallpaper, const QString &logo) {
        long peak = 0;
        const int code
            = renderMeasured(wallpaper, logo, QStringLiteral("/tmp/text-out.png"), &peak);
        return code == 0
                && QImage(QStringLiteral("/tmp/text-out.png")).pixelColor(160, 100)
                    == QColor(0x88, 0x44, 0x22)
            ? peak
            : -1;
    };
    const long bare = measure(QStringLiteral("/usr/share/wallpapers/bare.png"), QString());
    const long asWallpaper = measure(QStringLiteral("/usr/share/wallpapers/text.png"), QString());
    const long asLogo = measure(QStringLiteral("/usr/share/wallpapers/bare.png"),
        QStringLiteral("/usr/share/wallpapers/text.png"));
    QVERIFY(bare > 0 && asWallpaper > 0 && asLogo > 0);
    QVERIFY2(asWallpaper < bare + 16 && asLogo < bare + 16,
        qPrintable(QStringLiteral("%1, %2 against %3 MiB").arg(asWallpaper).arg(asLogo).arg(bare)));
}

// Pictures that announce far more pixels than they are worth are refused before they are
// decoded: as wallpaper, as logo (the rest drawn), and as a cache file's picture.
void TestTrust::announcedPixels()
{
    QVERIFY(writeAll(QStringLiteral("/tmp/huge.png"), png(30000, 30000, 16)));
    QVERIFY(writeAll(QStringLiteral("/tmp/huge.svg"),
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"30000\" height=\"30000\">"
        "<rect width=\"30000\" height=\"30000\"/></svg>"));
    // 16000 x 16000 zeros: 256 MB of pixel data in a few hundred kilobytes.
    const QByteArray bomb = png(16000, 16000, 16000);
    QVERIFY(bomb.size() < 1 << 20 && writeAll(QStringLiteral("/tmp/bomb.png"), bomb));
    MessageLog log;
    bool ok = true;
    for (const QString &path : words("/tmp/huge.png /tmp/bomb.png")) {
        rendered(wallpaperMap(path, QRect(0, 0, 320, 200)), &ok);
        QVERIFY(!ok);
    }
    QCOMPARE(log.count(QStringLiteral("Error image is too large:")), 2);
    log.clear();
    QVERIFY(Cache::getImageCache(
        wallpaperMap(QStringLiteral("/tmp/huge.png"), QRect(0, 0, 320, 200)), false)
                .image.isNull());
    QVERIFY(log.contains(QStringLiteral("Error render image")));
    for (const QString &path : words("/tmp/huge.png /tmp/huge.svg")) {
        log.clear();
        PropertyMap logo = DefaultLogoProperties;
        logo[QLatin1String(Keys::LogoPath)] = path;
        logo[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 320, 200);
        logo[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Center);
        const QImage image = rendered(logo, &ok);
        QVERIFY(ok && image.size() == QSize(320, 200) && qAlpha(image.pixel(319, 199)) == 0);
        QVERIFY2(log.contains(QStringLiteral("Error image is too large:")), qPrintable(path));
    }
    const PropertyMap map = wallpaperMap(QStringLiteral("/tmp/absent.png"), QRect(0, 0, 320, 200));
    QVERIFY(writeAll(
        cachePath(map), Utils::PropertiesToByteArray(map) + QByteArray("\0\0\0\1", 4) + bomb));
    QVERIFY(Cache::loadImageCache(map, &ok).image.isNull() && !ok);
    QVERIFY(log.contains(QStringLiteral("Error image is null")));
    QVERIFY(!MeasuresMemory || peakResidentMiB() < 512);
}

// Above the size that is decoded whole, the same picture as PNG (decoded by parts or reduced)
// and as PPM (decoded whole) gives the same backgrounds.
void TestTrust::largeSourcesByParts()
{
    QImage detail(5000, 4000, QImage::Format_RGB32), gradient(5000, 4000, QImage::Format_RGB32);
    for (int y = 0; y < detail.height(); ++y)
        for (int x = 0; x < detail.width(); ++x) {
            detail.setPixel(x, y, qRgb((x * 7 + y) & 255, (x ^ y) & 255, (x * y >> 8) & 255));
            gradient.setPixel(x, y, qRgb(x * 255 / 5000, y * 255 / 4000, (x + y) * 255 / 9000));
        }
    const QImage palette = detail.convertToFormat(QImage::Format_Indexed8);
    for (const auto &[name, image] : { std::make_pair("detail", detail),
             std::make_pair("palette", palette), std::make_pair("gradient", gradient) }) {
        QVERIFY(image.save(QStringLiteral("/tmp/%1.png").arg(QLatin1String(name))));
        QVERIFY(image.convertToFormat(QImage::Format_RGB32)
                    .save(QStringLiteral("/tmp/%1.ppm").arg(QLatin1String(name))));
    }
    const QRect screen(0, 0, 1280, 800);
    for (const QString &name : words("detail palette")) {
        for (const int position : { 0, 1 }) {
            const QImage parts
                = rendered(wallpaperMap(QStringLiteral("/tmp/%1.png").arg(name), screen, position));
            QVERIFY(!parts.isNull());
            QCOMPARE(parts,
                rendered(wallpaperMap(QStringLiteral("/tmp/%1.ppm").arg(name), screen, position)));
        }
        PropertyMap logo = DefaultLogoProperties;
        logo[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 320, 200);
        logo[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Center);
        logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/%1.png").arg(name);
        const QImage logoParts = rendered(logo);
        logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/%1.ppm").arg(name);
        QVERIFY(!logoParts.isNull());
        QCOMPARE(logoParts, rendered(logo));
    }
    for (const int position : { 2, 3 }) {
        const QImage reduced
            = rendered(wallpaperMap(QStringLiteral("/tmp/gradient.png"), screen, position));
        QCOMPARE(reduced.size(), screen.size());
        QVERIFY(largestDifference(reduced,
                    rendered(wallpaperMap(QStringLiteral("/tmp/gradient.ppm"), screen, position)))
            <= 3);
    }
}

// The largest PNG the limits let through, for every placement on a 3840x2160 screen and as a
// logo, and a baseline JPEG as logo, decoded by parts: each render stays far below the decoded
// size (512 MiB); a progressive JPEG that large is refused (its decoder holds every
// coefficient).
void TestTrust::largestSourcesBounded()
{
    QVERIFY(writeAll(QStringLiteral("/tmp/largest.png"), png(16384, 8192, 8192)));
    QImage photo(8192, 4200, QImage::Format_RGB32);
    photo.fill(QColor(90, 120, 60));
    QVERIFY(photo.save(QStringLiteral("/tmp/large.jpg")));
    QImageWriter progressive(QStringLiteral("/tmp/progressive.jpg"));
    progressive.setProgressiveScanWrite(true);
    QVERIFY(progressive.write(photo));
    const QSize screen(3840, 2160);
    long worst = 0, rss = 0;
    for (int position = 0; position < 4; ++position) {
        QCOMPARE(renderMeasured(QStringLiteral("/tmp/largest.png"), QString(), QString(), &rss,
                     screen, position),
            0);
        worst = qMax(worst, rss);
    }
    for (const QString &logo : words("/tmp/largest.png /tmp/large.jpg")) {
        QCOMPARE(renderMeasured(QString(), logo, QString(), &rss, screen), 0);
        worst = qMax(worst, rss);
    }
    QVERIFY2(worst < 400, qPrintable(QString::number(worst)));
    MessageLog log;
    PropertyMap logo = DefaultLogoProperties;
    logo[QLatin1String(Keys::LogoPath)] = QStringLiteral("/tmp/progressive.jpg");
    logo[QLatin1String(Keys::LogoScreen)] = QRect(QPoint(), screen);
    logo[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Center);
    bool ok = false;
    rendered(logo, &ok);
    QVERIFY(ok && log.contains(QStringLiteral("Error image is too large:")));
}

// Eight users with their own photos, two large screens each: the shared directory keeps its
// bound, and every user hits on the second request.
void TestTrust::sharedDirectoryBound()
{
    // A noisy photo: its backgrounds compress as badly as a real one's.
    QImage photo(4000, 2250, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < photo.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = 0xff000000u | (seed >> 8);
        }
    }
    QVERIFY(photo.save(QStringLiteral("/tmp/photo.jpg"), "JPEG", 90));
    QList<User> users;
    for (int i = 0; i < 8; ++i)
        users.append(User { QStringLiteral("user%1").arg(i + 1), uid_t(2111 + i) });
    for (const User &user : qAsConst(users)) {
        QVERIFY(addUser(user));
        const QString own = user.home() + QStringLiteral("/photo.jpg");
        QVERIFY(QFile::copy(QStringLiteral("/tmp/photo.jpg"), own));
        QVERIFY(chownTo(user, own));
        QVERIFY(writeTheme(user, "WallPaper=" + own.toUtf8() + "\n"));
    }
    const QStringList screens = words("--screen 3840x2160 --screen 2560x1440+3840+0");
    // The shared directory as a system makes it at start-up: root's.
    QVERIFY(QDir().mkdir(CacheDir));
    QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 01777), 0);
    qint64 largest = 0;
    for (const User &user : qAsConst(users)) {
        for (int request = 0; request < 2; ++request) {
            const Run result = tool(&user,
                QStringList { QStringLiteral("background") } + screens
                    + QStringList {
                        QStringLiteral("-o"), user.home() + QStringLiteral("/bg.png") });
            QVERIFY2(result.code == 0, result.err.constData());
            QCOMPARE(hits(result.out), request == 0 ? 0 : 2);
        }
        for (const QString &file : filesIn(CacheDir))
            largest = qMax(largest, QFileInfo(file).size());
    }
    qint64 total = 0;
    for (const QString &file : filesIn(CacheDir))
        total += QFileInfo(file).size();
    QVERIFY2(quint64(total) <= Cache::MaxCacheSize + quint64(largest),
        qPrintable(QStringLiteral("%1 bytes in the shared directory").arg(total)));
}

// A planted "@2x" file beside a user's or the greeter's logo takes nothing away, and its
// removal serves no stale picture; the user's own "@2x" file is drawn and named.
void TestTrust::highResolutionLogoIsOptional()
{
    const QString logo = QStringLiteral("/tmp/logo.png");
    const QString sharp = QStringLiteral("/tmp/logo@2x.png");
    QVERIFY(writeTestImage(logo, solidImage(QSize(32, 32), Qt::red)));
    QVERIFY(chownTo(Alice, logo));
    QVERIFY(writeTheme(
        Alice, "WallPaper=#336699\nLogoPixmap=" + logo.toUtf8() + "\nLogoPosition=Center\n"));
    const QString out = Alice.home() + QStringLiteral("/logo-bg.png");
    const QStringList request = words("background --screen 320x200 --scale 2 -o") << out;
    const auto render = [&](const User *user, const QStringList &arguments) {
        const Run result = tool(user, arguments);
        return result.code == 0 ? result : Run();
    };

    Run result = render(&Alice, request);
    const QImage reference = QImage(out).convertToFormat(QImage::Format_RGB32);
    QVERIFY(countOf(reference, Qt::red) > 1000);
    // The attacker's file beside it is refused; the main logo is drawn all the same.
    QVERIFY(writeTestImage(sharp, solidImage(QSize(64, 64), Qt::green)));
    QVERIFY(chownTo(Mallory, sharp));
    result = render(&Alice, request);
    QVERIFY2(result.out.contains("logo /tmp/logo.png"), result.out.constData());
    QCOMPARE(countOf(QImage(out), Qt::green), 0);
    QCOMPARE(QImage(out).convertToFormat(QImage::Format_RGB32), reference);
    QVERIFY(QFile::remove(sharp));
    render(&Alice, request);
    QCOMPARE(QImage(out).convertToFormat(QImage::Format_RGB32), reference);

    // Her own "@2x" file is drawn, and once it is gone the main file is again.
    QVERIFY(writeTestImage(sharp, solidImage(QSize(64, 64), Qt::blue)));
    QVERIFY(chownTo(Alice, sharp));
    result = render(&Alice, request);
    QVERIFY2(result.out.contains("logo /tmp/logo@2x.png"), result.out.constData());
    QVERIFY(countOf(QImage(out), Qt::blue) > 1000);
    QVERIFY(QFile::remove(sharp));
    render(&Alice, request);
    QCOMPARE(QImage(out).convertToFormat(QImage::Format_RGB32), reference);

    // The greeter's logo in a shared place.
    const QString greeterLogo = QStringLiteral("/tmp/glogo.png");
    QVERIFY(writeTestImage(greeterLogo, solidImage(QSize(32, 32), Qt::red)));
    QVERIFY(writeAll(DmSettings,
        "[background]\npath=#336699\ncolor_overlay=0, 0, 0, 0\n[background][blur]\nenable=false\n"
        "[background][logo]\nblur=false\npath="
            + greeterLogo.toUtf8() + "\n"));
    QVERIFY(
        writeTestImage(QStringLiteral("/tmp/glogo@2x.png"), solidImage(QSize(64, 64), Qt::green)));
    QVERIFY(chownTo(Mallory, QStringLiteral("/tmp/glogo@2x.png")));
    result = render(
        nullptr, words("background --greeter --screen 320x200 --scale 2 -o /tmp/greeter-logo.png"));
    QVERIFY2(result.out.contains("logo /tmp/glogo.png"), result.out.constData());
    const QImage drawn(QStringLiteral("/tmp/greeter-logo.png"));
    QVERIFY(countOf(drawn, Qt::red) > 1000);
    QCOMPARE(countOf(drawn, Qt::green), 0);
}

// check looks at files as a render does: a pipe under a logo candidate's name, a gzip SVG bomb
// and a link to a root-only picture are reported refused, at once and in bounded memory.
void TestTrust::checkReadsAsTheLibrary()
{
    // A pipe planted under the first candidate of the logo stem /tmp/logo.
    QCOMPARE(run(&Mallory, words("mkfifo /tmp/logo_1280_white.png")).code, 0);
    QVERIFY(writeTheme(Alice, "WallPaper=#336699\nLogoPixmap=/tmp/logo\n"));
    const RunOptions quick { QString(), {}, 30000 };
    QStringList check = words("check --screen 1280x720");
    Run result = tool(&Alice, check, quick);
    QCOMPARE(result.code, 1);
    QVERIFY2(result.out.contains("/tmp/logo_1280_white.png refused"), result.out.constData());
    QVERIFY(writeAll(DmSettings, "[background]\n[background][logo]\npath=/tmp/logo\n"));
    result = tool(nullptr, check << QStringLiteral("--greeter"), quick);
    check.removeLast();
    QCOMPARE(result.code, 1);
    QVERIFY2(result.out.contains("/tmp/logo_1280_white.png refused"), result.out.constData());

    // A 1 GiB gzip SVG of hers as wallpaper.
    const QString bomb = Alice.home() + QStringLiteral("/bomb.svg");
    QVERIFY(writeAs(Alice, bomb, gzipBomb(qint64(1) << 30)));
    QVERIFY(writeTheme(Alice, "WallPaper=" + bomb.toUtf8() + "\n"));
    result = tool(&Alice, check, quick);
    QVERIFY2(result.out.contains(bomb.toUtf8() + " refused: compressed"), result.out.constData());
    int code = -1;
    const long peak = peakOfCommand(&Alice, QStringList { Tool } + check, &code);
    QCOMPARE(code, 1);
    // 919 MiB when the bomb was inflated. Under a sanitizer, check's shadow memory and the image
    // plugins it loads to list the formats are not measured.
    QVERIFY2(!MeasuresMemory || (peak > 0 && peak < 400), qPrintable(QString::number(peak)));

    // A link to a picture only root may read.
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/root-only")));
    QCOMPARE(::chmod("/tmp/root-only", 0700), 0);
    QVERIFY(writeTestImage(QStringLiteral("/tmp/root-only/secret.png"),
        solidImage(QSize(64, 64), QColor(255, 0, 255))));
    QCOMPARE(run(&Mallory, words("ln -s /tmp/root-only/secret.png /tmp/link.png")).code, 0);
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/link.png\n"));
    result = tool(&Alice, check, quick);
    QCOMPARE(result.code, 1);
    QVERIFY2(!result.out.contains("/tmp/link.png (png"), result.out.constData());
    QVERIFY2(result.out.contains("/tmp/link.png"), result.out.constData());
    QFile::remove(QStringLiteral("/tmp/logo_1280_white.png"));
    QFile::remove(QStringLiteral("/tmp/link.png"));
}

// A wallpaper folder others can write to, where the attacker plants her own picture, a link to
// the victim's private picture, a FIFO, a folder named like a picture, a name she keeps swapping
// between a picture and a FIFO, then 300,000 entries: the victim and the greeter get their own
// pictures every time, none waits, and memory stays bounded.
void TestTrust::sharedWallpaperFolder()
{
    const QString walls = QStringLiteral("/tmp/walls/");
    QVERIFY(QDir().mkpath(walls));
    QCOMPARE(::chmod("/tmp/walls", 01777), 0);
    const User *root = nullptr; // r.png and s.png are root's
    for (const auto &[owner, name, colour] :
        { std::make_tuple(&Alice, "a.png", Qt::green), std::make_tuple(&Mallory, "b.png", Qt::red),
            std::make_tuple(root, "r.png", Qt::yellow),
            std::make_tuple(root, "s.png", Qt::yellow) }) {
        QVERIFY(writeTestImage(walls + QLatin1String(name), solidImage(QSize(64, 48), colour)));
        QVERIFY(!owner || chownTo(*owner, walls + QLatin1String(name)));
    }
    for (const QString &plant : { QStringLiteral("ln -s %1 /tmp/walls/c.png").arg(privatePicture()),
             QStringLiteral("mkfifo /tmp/walls/d.png"), QStringLiteral("mkdir /tmp/walls/x.jpg") })
        QCOMPARE(run(&Mallory, plant.split(QLatin1Char(' '))).code, 0);
    Loop swap(Mallory,
        QStringLiteral("mkfifo /tmp/walls/.f; mv -f /tmp/walls/.f /tmp/walls/e.png; "
                       "cp /tmp/walls/b.png /tmp/walls/.g; mv -f /tmp/walls/.g /tmp/walls/e.png"));
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/walls\nWallPaperInterval=1\n"));
    const QString out = Alice.home() + QStringLiteral("/bg.png");
    const QStringList lookup = QStringList { Tool } + words("background --screen 64x48 -o") << out;
    const auto hers = [&out] {
        const QColor shown = QImage(out).pixelColor(5, 5);
        return shown == QColor(Qt::green) || shown == QColor(Qt::yellow);
    };
    for (int i = 0; i < 4; ++i) {
        const Run result = tool(&Alice, lookup.mid(1), RunOptions { QString(), {}, 30000 });
        QVERIFY2(result.code == 0 && hers(), result.err.constData());
        QThread::msleep(300);
    }
    // Her desktop-entry file in a shared kiosk folder, naming her picture, is not taken.
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/kiosk")));
    QCOMPARE(::chmod("/tmp/kiosk", 01777), 0);
    QVERIFY(writeAs(Mallory, QStringLiteral("/tmp/kiosk/.directory"),
        "[Desktop Entry]\nX-VOK-WallPaper=/tmp/walls/b.png\n"));
    const QString config = Alice.home() + QStringLiteral("/.config");
    QVERIFY(QDir().mkpath(config));
    QVERIFY(chownTo(Alice, config));
    QVERIFY(writeAs(
        Alice, config + QStringLiteral("/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"/tmp/kiosk\"\n"));
    const Run kiosk = tool(&Alice, lookup.mid(1), RunOptions { QString(), {}, 30000 });
    QVERIFY(QFile::remove(config + QStringLiteral("/user-dirs.dirs")));
    QVERIFY2(kiosk.code == 0 && hers(), kiosk.err.constData());
    // Root's greeter takes only root's pictures there, whatever the clock says.
    QVERIFY(writeAll(DmSettings, "[background]\npath=/tmp/walls\ninterval=1\n"));
    qint64 now = 0;
    setClock([&now] { return now; });
    const auto restore = qScopeGuard([] { setClock(nullptr); });
    QColor first;
    for (now = 0; now < 8; ++now) {
        const Image greeter = getOrvWallpaper(QRect(0, 0, 64, 48));
        const QString path
            = greeter.properties.value(QLatin1String(Keys::ImagePath)).value<File>().path;
        QVERIFY2(path == walls + QStringLiteral("r.png") || path == walls + QStringLiteral("s.png"),
            qPrintable(path));
        // Both are yellow under the greeter's overlay.
        QVERIFY(!greeter.image.isNull());
        if (now == 0)
            first = greeter.image.pixelColor(5, 5);
        QCOMPARE(greeter.image.pixelColor(5, 5), first);
    }
    swap.stop();
    // check counts her pictures: Alice's and root's; Mallory's picture and link are refused.
    const Run checked = tool(&Alice, words("check --screen 64x48"));
    QVERIFY2(checked.out.contains("wallpaper folder /tmp/walls: 3 pictures, each shown 1 s")
            && checked.out.contains("pictures refused"),
        checked.out.constData());

    // 300,000 entries of hers, named to sort first and made last.
    int code = -1;
    const long few = peakOfCommand(&Alice, lookup, &code);
    QCOMPARE(code, 0);
    QCOMPARE(run(&Mallory,
                 { QStringLiteral("python3"), QStringLiteral("-c"),
                     QStringLiteral("import os\nfor i in range(300000): "
                                    "os.close(os.open('/tmp/walls/0%06d.png' % i, os.O_CREAT))") })
                 .code,
        0);
    const long many = peakOfCommand(&Alice, lookup, &code);
    QCOMPARE(code, 0);
    QVERIFY(hers());
    // 217 MiB when every entry was listed, sorted and opened.
    QVERIFY2(many < few + 24, qPrintable(QStringLiteral("%1 against %2 MiB").arg(many).arg(few)));
    QVERIFY(QDir(walls).removeRecursively());
}

// Churn in the shared ratio folder of the generated wallpaper does not hold back a palette
// change: the watcher ignores what decides nothing and settles within a second of a change.
void TestTrust::watcherNotStarved()
{
    QVERIFY(writeTheme("WallPaper=vok-default\n"));
    QVERIFY(writeConfig(Palette, "PrimaryColor=#225588\n"));
    BackgroundWatcher watcher;
    const QString ratio = QStringLiteral("/tmp/cache/16:9/");
    const QStringList watched = watcher.watchedFiles();
    QVERIFY2(std::any_of(watched.begin(), watched.end(),
                 [&ratio](const QString &file) { return file.startsWith(ratio); }),
        qPrintable(watched.join(QLatin1Char(' '))));
    QCOMPARE(run(&Mallory, { QStringLiteral("touch"), ratio + QStringLiteral("m") }).code, 0);
    QSignalSpy changed(&watcher, &BackgroundWatcher::changed);
    Loop churn(Mallory, QStringLiteral("touch %1n; rm -f %1n; sleep 0.05").arg(ratio));
    QTest::qWait(500);
    QCOMPARE(changed.count(), 0);
    QVERIFY(writeConfig(Palette, "PrimaryColor=#aa3311\n"));
    // Followed as the churn goes on.
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 5000);
    churn.stop();
}

// Pictures beyond the render limits are never made: Span over a monitor 16000 pixels away, Crop
// of a picture of extreme proportions, and the ids the QML provider hands to the requests.
void TestTrust::picturesWithinLimits()
{
    const QImage photo = gradientImage(QSize(1600, 900));
    QVERIFY(writeTestImage(QStringLiteral("/tmp/span.png"), photo));
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/span.png\nWallPaperPos=Span\n"));
    const auto peak = [](const QStringList &screens) {
        int code = -1;
        QStringList command { Tool, QStringLiteral("background") };
        for (const QString &screen : screens)
            command << QStringLiteral("--screen") << screen;
        command << QStringLiteral("-o") << Alice.home() + QStringLiteral("/part.png");
        const long rss = peakOfCommand(&Alice, command, &code);
        return code == 0 ? rss : -1;
    };
    const long near = peak(words("1920x1080 640x480+1920+0"));
    const long far = peak(words("1920x1080 640x480+16000+16000"));
    // 1.9 GiB when the union was scaled whole.
    QVERIFY2(near > 0 && far > 0 && far < near + 32,
        qPrintable(QStringLiteral("%1 against %2 MiB").arg(far).arg(near)));
    // The far part shows what a whole scale would put there.
    const QImage part(Alice.home() + QStringLiteral("/part-2.png"));
    QCOMPARE(part.size(), QSize(640, 480));
    const double k = qMax(16640 / 1600.0, 16480 / 900.0);
    const double left = ((qRound(1600 * k) - 16640) / 2 + 16000) / k;
    const double top = ((qRound(900 * k) - 16480) / 2 + 16000) / k;
    for (const QPoint &at : { QPoint(0, 0), QPoint(320, 240), QPoint(639, 479) }) {
        const QColor shown = part.pixelColor(at);
        const int red = int((left + (at.x() + 0.5) / k) * 255 / 1599);
        const int green = int((top + (at.y() + 0.5) / k) * 255 / 899);
        QVERIFY2(qAbs(shown.red() - red) <= 2 && qAbs(shown.green() - green) <= 2,
            qPrintable(QStringLiteral("%1 for %2,%3").arg(shown.name()).arg(red).arg(green)));
    }

    // A 160x16000 picture cropped to 1920x1080: its middle, scaled from those rows alone.
    QImage tall(160, 16000, QImage::Format_RGB32);
    tall.fill(Qt::red);
    for (int y = 7900; y < 8100; ++y)
        for (int x = 0; x < 160; ++x)
            tall.setPixel(x, y, qRgb(0, 255, 0));
    QVERIFY(writeTestImage(QStringLiteral("/tmp/tall.png"), tall));
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/tall.png\nWallPaperPos=Fit\n"));
    const long fit = peak({ QStringLiteral("1920x1080") });
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/tall.png\n"));
    const long crop = peak({ QStringLiteral("1920x1080") });
    // 1.4 GiB when the whole picture was scaled to 1920x192000 first.
    QVERIFY2(fit > 0 && crop > 0 && crop < fit + 32,
        qPrintable(QStringLiteral("%1 against %2 MiB").arg(crop).arg(fit)));
    const QImage cropped(Alice.home() + QStringLiteral("/part.png"));
    for (const QPoint &at : { QPoint(0, 0), QPoint(960, 540), QPoint(1919, 1079) })
        QCOMPARE(cropped.pixelColor(at), QColor(0, 255, 0));

    // The QML ids wallpaper/0,0,2048x2048@8 and background/0,0,16384x32767.
    QVERIFY(writeTheme("WallPaper=#336699\n"));
    QFuture<Lookup> ratio
        = Lookup(Screen(QRect(0, 0, 2048, 2048), 8), Lookup::Wallpaper, Lookup::Desktop).request();
    ratio.waitForFinished();
    QCOMPARE(ratio.resultCount(), 1);
    QCOMPARE(ratio.result().image().image.size(), QSize(2048, 2048));
    QFuture<Lookup> huge
        = Lookup(Screen(QRect(0, 0, 16384, 32767), 1), Lookup::Background, Lookup::Desktop)
              .request();
    huge.waitForFinished();
    QCOMPARE(huge.resultCount(), 1);
    QVERIFY(huge.result().image().image.isNull());
    QCOMPARE(huge.result().error(), Lookup::ScreenError);
    QCOMPARE(huge.result().errorString(),
        QStringLiteral("RenderEngine::render() - screen size is too large QSize(16384, 32767)"));
}

namespace {

// @p arguments started as @p user (null: root) in that user's session.
std::unique_ptr<QProcess> startAs(const User *user, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    const QStringList command = commandAs(user, arguments);
    process->setProcessEnvironment(environmentOf(user));
    process->start(command.first(), command.mid(1));
    return process;
}

// The sockets under the name of the render of the system photo's wallpaper for @p screen, which
// a renderer holds and each of its waiters is connected to (other tests' renders are not
// counted: the sandboxes share one network namespace).
int renderClaims(const QSize &screen)
{
    const QString key = Cache::getFileName(getWallpaperProperties(QRect(QPoint(0, 0), screen)));
    return readAll(QStringLiteral("/proc/net/unix")).count("@vokimage-render-" + key.toLatin1());
}

} // namespace

// Sessions starting at once with one system photo: one render for the sessions of one user,
// and for users who start while root renders it. A renderer killed while it renders frees its
// waiter, which renders; another user holding the name of a key delays no victim and makes her
// read nothing.
void TestTrust::loginStorm()
{
    QVERIFY(gradientImage(QSize(6000, 4000))
                .save(QStringLiteral("/usr/share/wallpapers/storm.jpg"), "JPEG", 90));
    const QByteArray theme = "WallPaper=/usr/share/wallpapers/storm.jpg\n";
    for (const User &user : { Alice, Bob, Mallory })
        QVERIFY(writeTheme(user, theme));
    QVERIFY(writeTheme(theme));
    const auto lookup = [](const User *user, const QString &screen) {
        const QString out = (user ? user->home() : Home) + QStringLiteral("/storm.png");
        return startAs(user,
            { Tool, QStringLiteral("wallpaper"), QStringLiteral("--screen"), screen,
                QStringLiteral("-o"), out });
    };
    // The shared directory as a system makes it at start-up: root's.
    const auto systemCache = [] {
        clearCaches();
        return QDir().mkdir(CacheDir)
            && ::chmod(QFile::encodeName(CacheDir).constData(), 01777) == 0;
    };
    QVERIFY(systemCache());
    // Three sessions of one user at once: one render.
    std::vector<std::unique_ptr<QProcess>> sessions;
    for (int i = 0; i < 3; ++i)
        sessions.push_back(lookup(&Alice, QStringLiteral("2560x1440")));
    QByteArray said;
    for (const auto &session : sessions) {
        QVERIFY(session->waitForFinished(60000));
        QCOMPARE(session->exitCode(), 0);
        said += session->readAllStandardOutput();
    }
    QVERIFY2(hits(said) == 2, said.constData());
    // Users whose sessions start while root renders the same system picture wait for it and
    // read root's file; another user's file they would not read, so they wait for no one else.
    QVERIFY(systemCache());
    sessions.clear();
    sessions.push_back(lookup(nullptr, QStringLiteral("3840x2160")));
    QElapsedTimer timer;
    timer.start();
    while (renderClaims(QSize(3840, 2160)) == 0 && timer.elapsed() < 20000)
        QThread::msleep(1);
    for (const User *user : { &Alice, &Bob, &Mallory })
        sessions.push_back(lookup(user, QStringLiteral("3840x2160")));
    said.clear();
    for (const auto &session : sessions) {
        QVERIFY(session->waitForFinished(60000));
        QCOMPARE(session->exitCode(), 0);
        said += session->readAllStandardOutput();
    }
    QVERIFY2(hits(said) == 3, said.constData());
    const QImage first(Home + QStringLiteral("/storm.png"));
    for (const User &user : { Alice, Bob, Mallory })
        QVERIFY(QImage(user.home() + QStringLiteral("/storm.png")) == first);
    QCOMPARE(renderClaims(QSize(3840, 2160)), 0);

    // Root's renderer killed while another session waits for it (connected to its key's name,
    // which lists it again): the waiter goes on and renders.
    QVERIFY(systemCache());
    const std::unique_ptr<QProcess> killed = lookup(nullptr, QStringLiteral("10240x5760"));
    timer.restart();
    const QSize huge(10240, 5760);
    while (renderClaims(huge) == 0 && timer.elapsed() < 20000)
        QThread::msleep(2);
    const std::unique_ptr<QProcess> waiter = lookup(&Alice, QStringLiteral("10240x5760"));
    while (renderClaims(huge) < 2 && timer.elapsed() < 20000)
        QThread::msleep(2);
    QCOMPARE(renderClaims(huge), 2);
    QCOMPARE(::kill(pid_t(killed->processId()), SIGKILL), 0);
    timer.restart();
    QVERIFY(killed->waitForFinished(10000));
    QVERIFY(waiter->waitForFinished(60000));
    QCOMPARE(waiter->exitCode(), 0);
    QVERIFY(waiter->readAllStandardOutput().contains("rendered"));
    QCOMPARE(QImage(Alice.home() + QStringLiteral("/storm.png")).size(), QSize(10240, 5760));

    // Another user holds the name of the victim's key, for a shared and for a private picture.
    const QString holder = QStringLiteral("import socket, sys, time\n"
                                          "s = socket.socket(socket.AF_UNIX)\n"
                                          "s.bind('\\0vokimage-render-' + sys.argv[1])\n"
                                          "s.listen(64)\n"
                                          "print('held', flush=True)\n"
                                          "time.sleep(60)\n");
    for (const QString &wallpaper :
        { QStringLiteral("/usr/share/wallpapers/storm.jpg"), privatePicture() }) {
        QVERIFY(systemCache());
        QVERIFY(writeTheme(Alice, "WallPaper=" + wallpaper.toUtf8() + "\n"));
        QVERIFY(writeTheme("WallPaper=" + wallpaper.toUtf8() + "\n"));
        const QString name = Cache::getFileName(getWallpaperProperties(QRect(0, 0, 1280, 720)));
        const std::unique_ptr<QProcess> held
            = startAs(&Mallory, { QStringLiteral("python3"), QStringLiteral("-c"), holder, name });
        QVERIFY(held->waitForReadyRead(10000));
        const Run victim = tool(&Alice,
            { QStringLiteral("wallpaper"), QStringLiteral("--screen"), QStringLiteral("1280x720"),
                QStringLiteral("-o"), Alice.home() + QStringLiteral("/held.png") },
            RunOptions { QString(), {}, 30000 });
        QVERIFY2(victim.code == 0, victim.err.constData());
        QVERIFY(victim.out.contains("rendered"));
        QCOMPARE(QImage(Alice.home() + QStringLiteral("/held.png")).size(), QSize(1280, 720));
        held->kill();
        held->waitForFinished(5000);
    }
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestTrust test;
    return runAttacks(&test, argc, argv);
}
#include "tst_trust.moc"
