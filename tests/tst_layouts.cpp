// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// Placements beside the specified ones (Fit, Span, a picture per output, folders) and
// backgrounds for HiDPI screens.
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using namespace VokImage;
using namespace TestPaths;

namespace {
const QColor Primary(16, 32, 48);
const QColor Inside(40, 200, 90);
const QColor Frame(220, 40, 40);
const QRect TestScreen(0, 0, 640, 400);

bool near(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// The rectangle of @p image whose pixels are not near @p bars.
QRect pictureArea(const QImage &image, const QColor &bars)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!near(image.pixelColor(x, y), bars, 2))
                area |= QRect(x, y, 1, 1);
    return area;
}

QImage argb(const QImage &image)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32);
    copy.setDevicePixelRatio(1);
    return copy;
}

// The rectangle of the pixels more than half opaque, and the count of those neither clear nor
// opaque (the width of an edge).
QRect opaqueBox(const QImage &image, int *edge = nullptr)
{
    QRect box;
    const QImage pixels = argb(image);
    int count = 0;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) {
            const int alpha = qAlpha(pixels.pixel(x, y));
            box |= alpha > 128 ? QRect(x, y, 1, 1) : QRect();
            count += alpha > 24 && alpha < 232 ? 1 : 0;
        }
    if (edge)
        *edge = count;
    return box;
}

QString wallpaperPath(const PropertyMap &map)
{
    return map.value(QLatin1String(Keys::ImagePath)).value<File>().path;
}

Image wallpaperAt(const QRect &screen, qreal ratio = 1, const QRect &desktop = QRect(),
    Lookup::Side side = Lookup::Desktop)
{
    return readLookup(namedScreen(screen, ratio, desktop.isValid() ? desktop : screen, QString()),
        Lookup::Wallpaper, side);
}
} // namespace

class TestLayouts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(insideSandbox());
        // A fine pattern: any resampling of a ratio-1 picture shows in it.
        QImage pattern(1500, 1000, QImage::Format_RGB32);
        for (int y = 0; y < pattern.height(); ++y)
            for (int x = 0; x < pattern.width(); ++x)
                pattern.setPixel(x, y, qRgb((x * 3) & 255, (y * 5) & 255, ((x ^ y) & 1) * 255));
        QVERIFY(writeTestImage(QStringLiteral("/tmp/pattern.png"), pattern));
        QVERIFY(writeAll(QStringLiteral("/tmp/logos/ring.svg"),
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"32\">"
            "<ellipse cx=\"32\" cy=\"16\" rx=\"30\" ry=\"14\" fill=\"#f0f0f0\"/></svg>"));
    }

    void init()
    {
        QVERIFY(freshSession());
        QDir(CacheDir).removeRecursively();
        QVERIFY(writeConfig(Palette, "PrimaryColor=" + Primary.name().toUtf8() + "\n"));
    }

    void fit_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("wide on tall")
            << QSize(400, 200) << QSize(300, 600) << 1.0 << QRect(0, 225, 300, 150);
        QTest::newRow("tall on wide")
            << QSize(200, 400) << QSize(600, 300) << 1.0 << QRect(225, 0, 150, 300);
        QTest::newRow("wide on wider")
            << QSize(400, 300) << QSize(800, 450) << 1.0 << QRect(100, 0, 600, 450);
        QTest::newRow("wide on tall at 2")
            << QSize(400, 200) << QSize(300, 600) << 2.0 << QRect(0, 450, 600, 300);
        QTest::newRow("large source")
            << QSize(6000, 3000) << QSize(640, 480) << 1.0 << QRect(0, 80, 640, 320);
    }

    // The picture whole and centred at the largest size that fits; the bars in the theme's
    // primary colour; another cache file than Crop's.
    void fit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, screen);
        QFETCH(qreal, ratio);
        QFETCH(QRect, expected);
        // A frame of 4 pixels, or a hundredth of the width, around a plain inside.
        QImage framed = solidImage(picture, Frame);
        const int frame = qMax(4, picture.width() / 100);
        QPainter(&framed).fillRect(framed.rect().adjusted(frame, frame, -frame, -frame), Inside);
        QVERIFY(writeTestImage(QStringLiteral("/tmp/picture.png"), framed));
        QVERIFY(writeTheme("WallPaper=/tmp/picture.png\nWallPaperPos=Fit\n"));
        const Image record = wallpaperAt(QRect(QPoint(), screen), ratio);
        QCOMPARE(record.properties.value(QLatin1String(Keys::ImagePosition)).toInt(),
            int(WallPaperPosition::Fit));
        QCOMPARE(record.properties.value(QLatin1String(Keys::ImagePrimaryColor)).value<QColor>(),
            Primary);
        QCOMPARE(record.image.size(), screen * ratio);
        QCOMPARE(pictureArea(record.image, Primary), expected);
        QVERIFY(near(record.image.pixelColor(expected.topLeft()), Frame, 40));
        QVERIFY(near(record.image.pixelColor(expected.bottomRight()), Frame, 40));
        QVERIFY(near(record.image.pixelColor(expected.center()), Inside));
        QVERIFY(writeTheme("WallPaper=/tmp/picture.png\nWallPaperPos=Crop\n"));
        QVERIFY(Cache::getFileName(
                    Lookup(Screen(QRect(QPoint(), screen), ratio), Lookup::Wallpaper).properties())
            != Cache::getFileName(record.properties));
    }

    // A photo tagged to be turned is fitted upright; the greeter names Fit in its own key, its
    // bars black without a primary colour.
    void fitTurnedAndForTheGreeter()
    {
        QImage shown = solidImage(QSize(400, 200), Inside);
        QPainter(&shown).fillRect(QRect(0, 0, 100, 100), Frame);
        QVERIFY(writeAll(QStringLiteral("/tmp/turned.jpg"),
            taggedJpeg(shown.transformed(QTransform().rotate(-90)), 6)));
        QVERIFY(writeTheme("WallPaper=/tmp/turned.jpg\nWallPaperPos=Fit\n"));
        const QImage image = getWallpaper(QRect(0, 0, 800, 800)).image;
        QCOMPARE(pictureArea(image, Primary), QRect(0, 200, 800, 400));
        QVERIFY(near(image.pixelColor(50, 250), Frame, 30));
        QVERIFY(near(image.pixelColor(750, 550), Inside, 30));

        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/picture.png"), solidImage(QSize(400, 200), Inside)));
        QVERIFY(writeConfig(DmSettings,
            "[background]\npath=/tmp/picture.png\nposition=Fit\ncolor_overlay=0, 0, 0, "
            "0\n[background][blur]\nenable=false\n"));
        const Image record = getOrvWallpaper(QRect(0, 0, 300, 600));
        QCOMPARE(record.properties.value(QLatin1String(Keys::ImagePosition)).toInt(),
            int(WallPaperPosition::Fit));
        QVERIFY(!record.properties.contains(QLatin1String(Keys::ImagePrimaryColor)));
        QCOMPARE(pictureArea(record.image, Qt::black), QRect(0, 225, 300, 150));
        QVERIFY(writeConfig(DmSettings, "[background]\npath=/tmp/picture.png\n"));
        QCOMPARE(getWallpaperOrvProperties(QRect(0, 0, 300, 600))
                     .value(QLatin1String(Keys::ImagePosition))
                     .toInt(),
            int(WallPaperPosition::Crop));
    }

    void span_data()
    {
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("two of different sizes")
            << QList<QRect> { QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080) } << 1.0;
        QTest::newRow("three, a gap and one below") << QList<QRect> { QRect(0, 0, 1024, 768),
            QRect(1124, 0, 800, 600), QRect(0, 768, 1024, 300) }
                                                    << 1.0;
        QTest::newRow("one above the other at 2")
            << QList<QRect> { QRect(100, 0, 640, 400), QRect(0, 400, 800, 500) } << 2.0;
    }

    // Each screen's part, joined edge to edge, is one crop of the union, pixel for pixel; a
    // picture of the union's size is shown unscaled; another layout is another map.
    void span()
    {
        QFETCH(QList<QRect>, screens);
        QFETCH(qreal, ratio);
        QImage picture(3000, 1200, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x % 251, y % 241, (x * y) % 239));
        QVERIFY(writeTestImage(QStringLiteral("/tmp/panorama.png"), picture));
        QVERIFY(writeTheme("WallPaper=/tmp/panorama.png\nWallPaperPos=Span\n"));
        QRect all;
        for (const QRect &screen : screens)
            all |= screen;
        const QImage whole = argb(wallpaperAt(all, ratio, all).image);
        const QImage exact
            = picture.scaled(all.size() * ratio).convertToFormat(QImage::Format_ARGB32);
        for (const bool unscaled : { false, true }) {
            QVERIFY(!unscaled || writeTestImage(QStringLiteral("/tmp/panorama.png"), exact));
            for (const QRect &screen : screens) {
                const Image part = wallpaperAt(screen, ratio, all);
                const QRect device(
                    (screen.topLeft() - all.topLeft()) * ratio, screen.size() * ratio);
                QVERIFY(argb(part.image) == (unscaled ? exact : whole).copy(device));
                QCOMPARE(part.properties.value(QLatin1String(Keys::ImageDesktop)).toRect(),
                    QRect(all.topLeft() * ratio, all.size() * ratio));
                QVERIFY(Cache::getFileName(
                            wallpaperAt(screen, ratio, all.adjusted(0, 0, 10, 0)).properties)
                    != Cache::getFileName(part.properties));
            }
        }
        // Without Span the maps hold no union.
        QVERIFY(writeTheme("WallPaper=/tmp/panorama.png\n"));
        QVERIFY(!wallpaperAt(screens.first(), ratio, all)
                     .properties.contains(QLatin1String(Keys::ImageDesktop)));
    }

    // The output named in the configuration gets its own picture and placement; others, and
    // calls without a name, the general one.
    void picturePerOutput()
    {
        QVERIFY(
            writeTestImage(QStringLiteral("/tmp/red.png"), solidImage(QSize(400, 300), Qt::red)));
        QVERIFY(
            writeTestImage(QStringLiteral("/tmp/blue.png"), solidImage(QSize(400, 200), Qt::blue)));
        const QRect screen(0, 0, 400, 400);
        const auto output = [&screen](const char *name, Lookup::Layer layer, Lookup::Side side) {
            return readLookup(namedScreen(screen, 1, screen, QLatin1String(name)), layer, side);
        };
        QVERIFY(writeTheme(
            "WallPaper=/tmp/red.png\nWallPaper[HDMI-1]=/tmp/blue.png\nWallPaperPos[HDMI-1]=Fit\n"));
        const Image own = output("HDMI-1", Lookup::Background, Lookup::Desktop);
        QCOMPARE(own.image.pixelColor(200, 200), QColor(Qt::blue));
        QCOMPARE(own.image.pixelColor(200, 20), Primary);
        const Image general = output("DP-2", Lookup::Background, Lookup::Desktop);
        QCOMPARE(general.image.pixelColor(200, 200), QColor(Qt::red));
        QCOMPARE(general.properties, getBackground(screen).properties);
        // The greeter: a group of its own under [background].
        QVERIFY(writeConfig(DmSettings,
            "[background]\npath=/tmp/red.png\ncolor_overlay=0, 0, 0, 0\n"
            "[background][blur]\nenable=false\n[background][HDMI-1]\npath=/tmp/blue.png\n"));
        QCOMPARE(output("HDMI-1", Lookup::Wallpaper, Lookup::Greeter).image.pixelColor(200, 200),
            QColor(Qt::blue));
        QCOMPARE(output("DP-2", Lookup::Wallpaper, Lookup::Greeter).image.pixelColor(200, 200),
            QColor(Qt::red));
        QCOMPARE(output("", Lookup::Wallpaper, Lookup::Greeter).properties,
            getOrvWallpaper(screen).properties);
    }

    // The picture of a folder follows the clock, the same for the desktop and the greeter; a
    // picture shown before comes from the cache; an empty folder is a missing wallpaper.
    void folderChangesWithTime()
    {
        const QString folder = QStringLiteral("/tmp/slides/");
        QVERIFY(
            writeTestImage(folder + QStringLiteral("b.png"), solidImage(QSize(64, 64), Qt::green)));
        QVERIFY(
            writeTestImage(folder + QStringLiteral("a.png"), solidImage(QSize(64, 64), Qt::red)));
        QVERIFY(writeAll(folder + QStringLiteral("c.txt"), "not a picture"));
        QVERIFY(
            writeTestImage(folder + QStringLiteral("d.jpg"), solidImage(QSize(64, 64), Qt::blue)));
        QVERIFY(writeTheme("WallPaper=/tmp/slides\nWallPaperInterval=100\n"));
        QVERIFY(writeConfig(DmSettings, "[background]\npath=/tmp/slides\ninterval=100\n"));
        qint64 now = 0;
        setClock([&now] { return now; });
        const auto restore = qScopeGuard([] { setClock(nullptr); });
        const QRect screen(0, 0, 32, 32);
        for (const auto &[time, file] :
            QList<QPair<qint64, const char *>> { { 0, "a.png" }, { 99, "a.png" }, { 150, "b.png" },
                { 250, "d.jpg" }, { 350, "a.png" }, { 1000050, "b.png" } }) {
            now = time;
            QCOMPARE(wallpaperPath(getWallpaperProperties(screen)), folder + QLatin1String(file));
            QCOMPARE(
                wallpaperPath(getWallpaperOrvProperties(screen)), folder + QLatin1String(file));
        }
        now = 150;
        const WallpaperFolder shown;
        QCOMPARE(shown.path() + QLatin1Char('/'), folder);
        QCOMPARE(shown.pictures().size(), 3);
        QCOMPARE(shown.skipped(), 1);
        QCOMPARE(shown.interval(), 100);
        QCOMPARE(shown.current(), folder + QStringLiteral("b.png"));
        QCOMPARE(shown.secondsToNextPicture(), qint64(50));
        QVERIFY(WallpaperFolder(true).pictures() == shown.pictures());
        Cache::Origin origin = Cache::Origin::None;
        for (const auto &[time, colour, from] :
            { std::make_tuple(0, Qt::red, Cache::Origin::Rendered),
                std::make_tuple(150, Qt::green, Cache::Origin::Rendered),
                std::make_tuple(350, Qt::red, Cache::Origin::SharedCache) }) {
            now = time;
            QCOMPARE(readLookup(Screen(screen), Lookup::Wallpaper, Lookup::Desktop, &origin)
                         .image.pixelColor(5, 5),
                QColor(colour));
            QCOMPARE(origin, from);
        }
        QVERIFY(QDir().mkpath(QStringLiteral("/tmp/empty")));
        QVERIFY(writeTheme("WallPaper=/tmp/empty\n"));
        QVERIFY(getWallpaper(screen).image.isNull());
    }

    // The watcher signals at the boundary of the folder's interval, and at once for a picture
    // added that sorts first.
    void watcherAtTheBoundary()
    {
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/slides/a.png"), solidImage(QSize(64, 64), Qt::red)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/slides/b.png"), solidImage(QSize(64, 64), Qt::blue)));
        QVERIFY(writeTheme("WallPaper=/tmp/slides\nWallPaperInterval=1\n"));
        BackgroundWatcher watcher;
        QSignalSpy spy(&watcher, &BackgroundWatcher::changed);
        QVERIFY(spy.wait(3000));
        const QString shown = wallpaperPath(getWallpaperProperties(QRect(0, 0, 32, 32)));
        QVERIFY(spy.wait(3000));
        QVERIFY(wallpaperPath(getWallpaperProperties(QRect(0, 0, 32, 32))) != shown);
        setClock([] { return qint64(0); });
        const auto restore = qScopeGuard([] { setClock(nullptr); });
        QVERIFY(writeTheme("WallPaper=/tmp/slides\nWallPaperInterval=3600\n"));
        BackgroundWatcher still;
        QSignalSpy follow(&still, &BackgroundWatcher::changed);
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/slides/0.png"), solidImage(QSize(64, 64), Qt::green)));
        QVERIFY(follow.wait(3000));
        QCOMPARE(wallpaperPath(getWallpaperProperties(QRect(0, 0, 32, 32))),
            QStringLiteral("/tmp/slides/0.png"));
    }

    // At ratio 2 a blurred background is the ratio-1 one at twice the resolution; the radius
    // in device pixels alone blurs half as far.
    void blurScalesWithTheRatio()
    {
        QImage checks(640, 400, QImage::Format_RGB32);
        for (int y = 0; y < checks.height(); ++y)
            for (int x = 0; x < checks.width(); ++x)
                checks.setPixel(
                    x, y, ((x / 20 + y / 20) % 2) ? qRgb(250, 250, 250) : qRgb(0, 0, 40));
        QVERIFY(writeTestImage(QStringLiteral("/tmp/checks.png"), checks));
        QVERIFY(writeConfig(DmSettings,
            "[background]\npath=/tmp/"
            "checks.png\n[background][blur]\nradius=8\n[background][logo]\nenable=false\n"));
        const QImage two = wallpaperAt(TestScreen, 2, TestScreen, Lookup::Greeter).image;
        QCOMPARE(two.size(), QSize(1280, 800));
        const QImage expected
            = getOrvWallpaper(TestScreen)
                  .image.scaled(two.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        double scaled = 0, half = 0;
        largestDifference(argb(two), expected, &scaled);
        largestDifference(getOrvWallpaper(QRect(0, 0, 1280, 800)).image, expected, &half);
        QVERIFY2(scaled < 2.25 && half > 2 * scaled,
            qPrintable(QStringLiteral("%1 %2").arg(scaled).arg(half)));
    }

    void wallpaperAtDeviceResolution()
    {
        for (const char *mode : { "Center", "Title", "Stretch", "Crop" }) {
            QVERIFY(
                writeTheme(QByteArray("WallPaper=/tmp/pattern.png\nWallPaperPos=") + mode + "\n"));
            const Image high = wallpaperAt(QRect(0, 0, 1920, 1080), 2.0);
            QCOMPARE(high.image.devicePixelRatioF(), 2.0);
            QVERIFY2(argb(high.image) == argb(getWallpaper(QRect(0, 0, 3840, 2160)).image), mode);
        }
        QCOMPARE(wallpaperAt(TestScreen, 1.25).image.size(), QSize(800, 500));
        QCOMPARE(wallpaperAt(QRect(0, 0, 1366, 768), 1.5).image.size(), QSize(2049, 1152));
        QCOMPARE(wallpaperAt(QRect(0, 0, 9000, 5000), 2.0).image.size(), QSize(9000, 5000));
        // Unusable ratios are taken as 1.
        MessageLog log;
        for (qreal ratio : { 0.0, -2.0, std::numeric_limits<qreal>::quiet_NaN(),
                 std::numeric_limits<qreal>::infinity(), 1000.0 }) {
            const Image image = wallpaperAt(TestScreen, ratio);
            QCOMPARE(image.image.size(), TestScreen.size());
            QCOMPARE(image.image.devicePixelRatioF(), 1.0);
        }
        QCOMPARE(log.count(QStringLiteral("Error device pixel ratio is not usable")), 5);
    }

    // Ratio 1 through both forms: the same maps, names and bytes; ratio 2 a file of its own.
    void ratioOneAndOthers()
    {
        QVERIFY(writeTheme("WallPaper=/tmp/pattern.png\nLogoPixmap=/tmp/logos/ring.svg\n"));
        QVERIFY(writeAll(DmSettings,
            "[background]\npath=/tmp/pattern.png\n[background][logo]\npath=/tmp/logos/ring.svg\n"));
        using Plain = PropertyMap (*)(const QRect &);
        for (const auto &[layer, side, plain] :
            QList<std::tuple<Lookup::Layer, Lookup::Side, Plain>> {
                { Lookup::Wallpaper, Lookup::Desktop, getWallpaperProperties },
                { Lookup::Logo, Lookup::Desktop, getLogoProperties },
                { Lookup::Wallpaper, Lookup::Greeter, getWallpaperOrvProperties },
                { Lookup::Logo, Lookup::Greeter, getLogoOrvProperties } }) {
            const PropertyMap one = Lookup(Screen(TestScreen), layer, side).properties();
            QCOMPARE(
                Utils::PropertiesToByteArray(one), Utils::PropertiesToByteArray(plain(TestScreen)));
            const QString two
                = Cache::getFileName(Lookup(Screen(TestScreen, 2), layer, side).properties());
            QVERIFY(two != Cache::getFileName(one)
                && two != Cache::getFileName(plain(QRect(0, 0, 1280, 800))));
        }
        const Image one = readLookup(Screen(TestScreen, 1.0), Lookup::Background, Lookup::Desktop);
        QCOMPARE(one.properties, getBackground(TestScreen).properties);
        QCOMPARE(one.image.devicePixelRatioF(), 1.0);
        Cache::Origin origin = Cache::Origin::None;
        QCOMPARE(readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop, &origin)
                     .image.size(),
            QSize(1280, 800));
        QCOMPARE(origin, Cache::Origin::Rendered);
        getBackground(QRect(0, 0, 1280, 800));
        readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop, &origin);
        QCOMPARE(origin, Cache::Origin::SharedCache);
        QCOMPARE(readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Greeter)
                     .image.devicePixelRatioF(),
            2.0);
    }

    void logoKeepsItsLogicalPlace()
    {
        const QByteArray base
            = "WallPaper=#203040\nLogoPixmap=/tmp/logos/ring.svg\nTaskbarHeight=60\n";
        for (const char *edge : { "Top", "Left", "Right", "Bottom" })
            for (const char *anchor : { "BottomRight", "TopLeft", "Center" }) {
                QVERIFY(writeTheme(
                    base + "TaskbarPosition=" + edge + "\nLogoPosition=" + anchor + "\n"));
                const QRect logical = opaqueBox(getLogo(TestScreen).image);
                const QRect device = opaqueBox(
                    readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image);
                const QRect doubled(logical.topLeft() * 2, logical.size() * 2);
                QVERIFY2(!logical.isEmpty()
                        && (device.topLeft() - doubled.topLeft()).manhattanLength() <= 2
                        && (device.bottomRight() - doubled.bottomRight()).manhattanLength() <= 2,
                    qPrintable(
                        QStringLiteral("%1 %2").arg(QLatin1String(edge), QLatin1String(anchor))));
            }
        // Drawn at device resolution: its edge as thin as at ratio 1, where the ratio-1 logo
        // scaled up has one twice as wide.
        QVERIFY(writeTheme(base + "LogoPosition=Center\n"));
        const QImage two = readLookup(Screen(TestScreen, 2.0), Lookup::Logo, Lookup::Desktop).image;
        int sharp = 0, upscaled = 0;
        opaqueBox(two, &sharp);
        opaqueBox(argb(getLogo(TestScreen).image)
                      .scaled(two.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
            &upscaled);
        QVERIFY(sharp * 3 < upscaled * 2);
        // The light or dark variant is chosen over the same logical area at every ratio.
        for (const char *wallpaper : { "#101010", "#f0f0f0" }) {
            QVERIFY(writeTheme(
                QByteArray("WallPaper=") + wallpaper + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
            const QString chosen = getBackground(TestScreen)
                                       .properties.value(QLatin1String(Keys::LogoPath))
                                       .toString();
            QCOMPARE(readLookup(Screen(TestScreen, 2.0), Lookup::Background, Lookup::Desktop)
                         .properties.value(QLatin1String(Keys::LogoPath))
                         .toString(),
                chosen);
            QCOMPARE(chosen == WhiteLogo, QByteArray(wallpaper) == "#101010");
        }
    }

    // An "@2x" file is drawn at ratio 2, a logo without one is scaled, and a stem takes the size
    // class of the screen's logical width (640: 800), whatever the ratio.
    void sharpLogoFiles()
    {
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/logos/badge.png"), solidImage(QSize(40, 20), Qt::red)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/logos/badge@2x.png"), solidImage(QSize(80, 40), Qt::blue)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/logos/plain.png"), solidImage(QSize(40, 20), Qt::green)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/logos/stem_800.png"), solidImage(QSize(40, 20), Qt::green)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/logos/stem_1280.png"), solidImage(QSize(40, 20), Qt::blue)));
        for (const auto &[logo, ratio, size, colour] :
            { std::make_tuple("badge.png", 1.0, QSize(40, 20), Qt::red),
                std::make_tuple("badge.png", 2.0, QSize(80, 40), Qt::blue),
                std::make_tuple("plain.png", 2.0, QSize(80, 40), Qt::green),
                std::make_tuple("stem", 2.0, QSize(80, 40), Qt::green) }) {
            QVERIFY(writeTheme(QByteArray("WallPaper=#203040\nLogoPixmap=/tmp/logos/") + logo
                + "\nLogoPosition=Center\n"));
            const QImage image = argb(
                readLookup(Screen(TestScreen, ratio), Lookup::Background, Lookup::Desktop).image);
            QRect box;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    box |= image.pixelColor(x, y) == QColor(colour) ? QRect(x, y, 1, 1) : QRect();
            QCOMPARE(box.size(), size);
        }
    }
};

QTEST_MAIN(TestLayouts)
#include "tst_layouts.moc"
