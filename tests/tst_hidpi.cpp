// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Backgrounds for HiDPI screens: the entry points with a device pixel ratio.

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTest>

#include <algorithm>

#include <cmath>
#include <limits>

using namespace VokImage;
using namespace TestPaths;

namespace {

const QRect TestScreen(0, 0, 640, 400);

QImage argb(const QImage &image)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32);
    copy.setDevicePixelRatio(1);
    return copy;
}

// The rectangle of the pixels more than half opaque.
QRect opaqueBox(const QImage &image)
{
    QRect box;
    const QImage pixels = argb(image);
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
            if (qAlpha(pixels.pixel(x, y)) > 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Pixels neither clear nor opaque: the width of an edge.
int blurredPixels(const QImage &image)
{
    int count = 0;
    const QImage pixels = argb(image);
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) {
            const int alpha = qAlpha(pixels.pixel(x, y));
            count += alpha > 24 && alpha < 232 ? 1 : 0;
        }
    return count;
}

bool near(const QRect &a, const QRect &b, int slack)
{
    return qAbs(a.left() - b.left()) <= slack && qAbs(a.top() - b.top()) <= slack
        && qAbs(a.right() - b.right()) <= slack && qAbs(a.bottom() - b.bottom()) <= slack;
}

} // namespace

class TestHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void wallpaperAtDeviceResolution();
    void ratioOneAndOthers();
    void logoKeepsItsLogicalPlace();
    void sharpLogoFiles();
    void toolScale();
};

void TestHiDpi::initTestCase()
{
    QVERIFY(insideSandbox());
    QVERIFY(QDir().mkpath(Home));
    qputenv("HOME", Home.toLocal8Bit());
    // A fine pattern: any resampling of a ratio-1 picture shows in it.
    QImage pattern(1500, 1000, QImage::Format_RGB32);
    for (int y = 0; y < pattern.height(); ++y)
        for (int x = 0; x < pattern.width(); ++x)
            pattern.setPixel(x, y, qRgb((x * 3) & 255, (y * 5) & 255, ((x ^ y) & 1) * 255));
    QVERIFY(writeTestImage(QStringLiteral("/tmp/pattern.png"), pattern));
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/logos")));
    QVERIFY(writeAll(QStringLiteral("/tmp/logos/ring.svg"),
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"32\">"
        "<ellipse cx=\"32\" cy=\"16\" rx=\"30\" ry=\"14\" fill=\"#f0f0f0\"/></svg>"));
}

void TestHiDpi::init()
{
    QDir(CacheDir).removeRecursively();
}

void TestHiDpi::wallpaperAtDeviceResolution()
{
    for (const char *mode : { "Center", "Title", "Stretch", "Crop" }) {
        QVERIFY(writeTheme(QByteArray("WallPaper=/tmp/pattern.png\nWallPaperPos=") + mode + "\n"));
        const Image high
            = readLookup(Screen(QRect(0, 0, 1920, 1080), 2.0), Lookup::Wallpaper, Lookup::Desktop);
        QCOMPARE(high.image.size(), QSize(3840, 2160));
        QCOMPARE(high.image.devicePixelRatioF(), 2.0);
        // The wallpaper a ratio-1 request for the device size gives.
        const Image device = getWallpaper(QRect(0, 0, 3840, 2160));
        QVERIFY2(argb(high.image) == argb(device.image), mode);
    }
    QCOMPARE(readLookup(Screen(TestScreen, 1.25), Lookup::Wallpaper, Lookup::Desktop).image.size(),
        QSize(800, 500));
    QCOMPARE(readLookup(Screen(QRect(0, 0, 1366, 768), 1.5), Lookup::Wallpaper, Lookup::Desktop)
                 .image.size(),
        QSize(2049, 1152));
    // Unusable ratios are taken as 1.
    for (qreal ratio : { 0.0, -2.0, std::numeric_limits<qreal>::quiet_NaN(),
             std::numeric_limits<qreal>::infinity(), 1000.0 }) {
        MessageLog log;
        const Image image
            = readLookup(Screen(TestScreen, ratio), Lookup::Wallpaper, Lookup::Desktop);
        QCOMPARE(image.image.size(), TestScreen.size());
        QCOMPARE(image.image.devicePixelRatioF(), 1.0);
        QVERIFY(log.contains(QStringLiteral("Error device pixel ratio is not usable")));
    }
    QCOMPARE(readLookup(Screen(QRect(0, 0, 9000, 5000), 2.0), Lookup::Wallpaper, Lookup::Desktop)
                 .image.size(),
        QSize(9000, 5000));
}

void TestHiDpi::ratioOneAndOthers()
{
    QVERIFY(writeTheme("WallPaper=/tmp/pattern.png\nLogoPixmap=/tmp/logos/ring.svg\n"));
    QVERIFY(writeAll(DmSettings,
        "[background]\npath=/tmp/pattern.png\n[background][logo]\npath=/tmp/logos/ring.svg\n"));
    // Ratio 1 through both forms: the same maps, cache file names and bytes.
    using Plain = QMap<QString, QVariant> (*)(const QRect &);
    const QList<std::tuple<Lookup::Layer, Lookup::Side, Plain>> builders {
        { Lookup::Wallpaper, Lookup::Desktop, getWallpaperProperties },
        { Lookup::Logo, Lookup::Desktop, getLogoProperties },
        { Lookup::Wallpaper, Lookup::Greeter, getWallpaperOrvProperties },
        { Lookup::Logo, Lookup::Greeter, getLogoOrvProperties },
    };
    for (const auto &[layer, side, plain] : builders) {
        const QMap<QString, QVariant> one = Lookup(Screen(TestScreen), layer, side).properties();
        QCOMPARE(one, plain(TestScreen));
        QCOMPARE(
            Utils::PropertiesToByteArray(one), Utils::PropertiesToByteArray(plain(TestScreen)));
        const QMap<QString, QVariant> two = Lookup(Screen(TestScreen, 2), layer, side).properties();
        QVERIFY(Cache::getFileName(two) != Cache::getFileName(one));
        QVERIFY(Cache::getFileName(two) != Cache::getFileName(plain(QRect(0, 0, 1280, 800))));
    }
    const Image plain = getBackground(TestScreen);
    const Image one = readLookup(Screen(TestScreen, 1.0), Lookup::Background, Lookup::Desktop);
    QCOMPARE(one.properties, plain.properties);
    QCOMPARE(argb(one.image), argb(plain.image));
    QCOMPARE(one.image.devicePixelRatioF(), 1.0);
    // Ratio 2 has a file of its own, not the ratio-1 one of either size.
    Cache::Origin origin = Cache::Origin::None;
    const Image two
        = readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop, &origin);
    QCOMPARE(origin, Cache::Origin::Rendered);
    QCOMPARE(two.image.size(), QSize(1280, 800));
    getBackground(QRect(0, 0, 1280, 800));
    readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop, &origin);
    QCOMPARE(origin, Cache::Origin::SharedCache);
    const Image greeter = readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Greeter);
    QCOMPARE(greeter.image.size(), QSize(1280, 800));
    QCOMPARE(greeter.image.devicePixelRatioF(), 2.0);
}

void TestHiDpi::logoKeepsItsLogicalPlace()
{
    const QByteArray base = "WallPaper=#203040\nLogoPixmap=/tmp/logos/ring.svg\nTaskbarHeight=60\n";
    for (const char *edge : { "Top", "Left", "Right", "Bottom" }) {
        for (const char *anchor : { "BottomRight", "TopLeft", "Center" }) {
            QVERIFY(
                writeTheme(base + "TaskbarPosition=" + edge + "\nLogoPosition=" + anchor + "\n"));
            const QImage one = getLogo(TestScreen).image;
            const QImage two
                = readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image;
            QCOMPARE(two.size(), TestScreen.size() * 2);
            const QRect logical = opaqueBox(one);
            const QRect device = opaqueBox(two);
            QVERIFY(!logical.isEmpty());
            // The same logical rectangle, within a device pixel.
            const QRect doubled(logical.topLeft() * 2, logical.size() * 2);
            QVERIFY2(
                near(device, doubled, 1), QByteArray(QByteArray(edge) + " " + anchor).constData());
        }
    }
    // Drawn at device resolution: its edge is as thin as at ratio 1, where the ratio-1 logo
    // scaled up has an edge twice as wide.
    QVERIFY(writeTheme(base + "LogoPosition=Center\n"));
    const QImage one = getLogo(TestScreen).image;
    const QImage two = readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image;
    const QImage upscaled
        = argb(one).scaled(two.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY(blurredPixels(two) * 3 < blurredPixels(upscaled) * 2);

    // The light or dark variant is chosen over the same logical area at every ratio.
    for (const char *wallpaper : { "#101010", "#f0f0f0" }) {
        QVERIFY(writeTheme(QByteArray("WallPaper=") + wallpaper
            + "\nLogoPixmap=/usr/share/wallpapers/logo/selka_logo_dark.svg\n"));
        const QString chosen
            = getBackground(TestScreen).properties.value(QLatin1String(Keys::LogoPath)).toString();
        QCOMPARE(readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop)
                     .properties.value(QLatin1String(Keys::LogoPath))
                     .toString(),
            chosen);
        QCOMPARE(chosen.contains(QLatin1String("white")), QByteArray(wallpaper) == "#101010");
    }
}

void TestHiDpi::sharpLogoFiles()
{
    QVERIFY(
        writeTestImage(QStringLiteral("/tmp/logos/badge.png"), solidImage(QSize(40, 20), Qt::red)));
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/logos/badge@2x.png"), solidImage(QSize(80, 40), Qt::blue)));
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/logos/plain.png"), solidImage(QSize(40, 20), Qt::green)));
    QVERIFY(
        writeTheme("WallPaper=#203040\nLogoPixmap=/tmp/logos/badge.png\nLogoPosition=Center\n"));
    const QImage one = argb(getLogo(TestScreen).image);
    const QImage two
        = argb(readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image);
    QCOMPARE(opaqueBox(one).size(), QSize(40, 20));
    QCOMPARE(opaqueBox(two).size(), QSize(80, 40));
    QCOMPARE(one.pixel(opaqueBox(one).center()), QColor(Qt::red).rgb());
    QCOMPARE(two.pixel(opaqueBox(two).center()), QColor(Qt::blue).rgb());
    // Without an @2x file the logo is scaled to its logical size.
    QVERIFY(
        writeTheme("WallPaper=#203040\nLogoPixmap=/tmp/logos/plain.png\nLogoPosition=Center\n"));
    const QImage scaled
        = argb(readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image);
    QCOMPARE(opaqueBox(scaled).size(), QSize(80, 40));
    QCOMPARE(scaled.pixel(opaqueBox(scaled).center()), QColor(Qt::green).rgb());
    // A stem takes the size class of the screen's logical width (640: 800), whatever the ratio.
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/logos/stem_800.png"), solidImage(QSize(40, 20), Qt::green)));
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/logos/stem_1280.png"), solidImage(QSize(40, 20), Qt::blue)));
    QVERIFY(writeTheme("WallPaper=#203040\nLogoPixmap=/tmp/logos/stem\nLogoPosition=Center\n"));
    const QImage stem
        = argb(readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop).image);
    const QRgb *first = reinterpret_cast<const QRgb *>(stem.constBits());
    const QRgb *last = first + stem.width() * stem.height();
    QVERIFY(std::count(first, last, QColor(Qt::green).rgb()) > 0);
    QCOMPARE(std::count(first, last, QColor(Qt::blue).rgb()), 0);
}

void TestHiDpi::toolScale()
{
    QVERIFY(writeTheme("WallPaper=/tmp/pattern.png\n"));
    QProcess tool;
    tool.start(QStringLiteral(VOKIMAGE_TOOL),
        words("background --screen 320x200 --scale 2 -o /tmp/scaled.png"));
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(QImage(QStringLiteral("/tmp/scaled.png")).size(), QSize(640, 400));
    tool.start(QStringLiteral(VOKIMAGE_TOOL), words("properties --screen 320x200 --scale 1.5"));
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardOutput().contains("ImageProperty.devicePixelRatio"));
    tool.start(QStringLiteral(VOKIMAGE_TOOL), words("wallpaper --screen 320x200 --scale abc"));
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 2);
}

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
