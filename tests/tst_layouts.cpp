// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// Placements and rules beside the specified ones: Fit, and blur radii at other ratios.
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace VokImage;
using namespace TestPaths;

class TestLayouts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void fitShowsTheWholePicture_data();
    void fitShowsTheWholePicture();
    void fitFollowsTheOrientationTag();
    void fitForTheGreeter();
    void blurScalesWithTheRatio();
    void spanJoinsTheScreens_data();
    void spanJoinsTheScreens();
    void picturePerOutput();
    void folderChangesWithTime();
    void watcherAtTheBoundary();
};

namespace {

const QColor Primary(16, 32, 48);
const QColor Inside(40, 200, 90);
const QColor Frame(220, 40, 40);

// A picture of @p size: a frame (4 pixels, or a hundredth of the width) around a plain inside.
QImage framed(const QSize &size)
{
    const int frame = qMax(4, size.width() / 100);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Frame);
    QPainter(&image).fillRect(image.rect().adjusted(frame, frame, -frame, -frame), Inside);
    return image;
}

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

// A JPEG of @p shown stored turned a quarter clockwise, with the tag (6) that turns it back.
QByteArray turnedJpeg(const QImage &shown)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    shown.transformed(QTransform().rotate(-90)).save(&buffer, "JPEG", 95);
    QByteArray exif(
        "Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    QByteArray segment("\xff\xe1", 2);
    segment += char((exif.size() + 2) >> 8);
    segment += char((exif.size() + 2) & 0xff);
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

} // namespace

void TestLayouts::initTestCase()
{
    QVERIFY(insideSandbox());
}

void TestLayouts::init()
{
    QVERIFY(freshSession());
    QDir(CacheDir).removeRecursively();
    QVERIFY(writeConfig(Palette, "PrimaryColor=" + Primary.name().toUtf8() + "\n"));
}

void TestLayouts::fitShowsTheWholePicture_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide on tall") << QSize(400, 200) << QSize(300, 600) << 1.0
                                  << QRect(0, 225, 300, 150);
    QTest::newRow("tall on wide") << QSize(200, 400) << QSize(600, 300) << 1.0
                                  << QRect(225, 0, 150, 300);
    QTest::newRow("wide on wider")
        << QSize(400, 300) << QSize(800, 450) << 1.0 << QRect(100, 0, 600, 450);
    QTest::newRow("wide on tall at 2")
        << QSize(400, 200) << QSize(300, 600) << 2.0 << QRect(0, 450, 600, 300);
    QTest::newRow("large source") << QSize(6000, 3000) << QSize(640, 480) << 1.0
                                  << QRect(0, 80, 640, 320);
}

// The picture whole and centred at the largest size that fits; the bars in the theme's
// primary colour.
void TestLayouts::fitShowsTheWholePicture()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, screen);
    QFETCH(qreal, ratio);
    QFETCH(QRect, expected);
    const QString path = QStringLiteral("/tmp/picture.png");
    QVERIFY(writeTestImage(path, framed(picture)));
    QVERIFY(writeTheme("WallPaper=" + path.toUtf8() + "\nWallPaperPos=Fit\n"));
    const Image record
        = readLookup(Screen(QRect(QPoint(), screen), ratio), Lookup::Wallpaper, Lookup::Desktop);
    QCOMPARE(record.properties.value(QLatin1String(Keys::ImagePosition)).toInt(),
        int(WallPaperPosition::Fit));
    QCOMPARE(
        record.properties.value(QLatin1String(Keys::ImagePrimaryColor)).value<QColor>(), Primary);
    QCOMPARE(record.image.size(), screen * ratio);
    QCOMPARE(pictureArea(record.image, Primary), expected);
    // Its frame on every side: nothing of the picture is cut.
    QVERIFY(near(record.image.pixelColor(expected.topLeft()), Frame, 40));
    QVERIFY(near(record.image.pixelColor(expected.bottomRight()), Frame, 40));
    QVERIFY(near(record.image.pixelColor(expected.center()), Inside));
    // A placement of its own: another cache file than Crop's.
    QVERIFY(writeTheme("WallPaper=" + path.toUtf8() + "\nWallPaperPos=Crop\n"));
    QVERIFY(Cache::getFileName(
                Lookup(Screen(QRect(QPoint(), screen), ratio), Lookup::Wallpaper, Lookup::Desktop)
                    .properties())
        != Cache::getFileName(record.properties));
}

// A photo tagged to be turned is fitted upright.
void TestLayouts::fitFollowsTheOrientationTag()
{
    QImage shown(400, 200, QImage::Format_RGB32);
    shown.fill(Inside);
    QPainter(&shown).fillRect(QRect(0, 0, 100, 100), Frame); // the top left corner
    const QString path = QStringLiteral("/tmp/turned.jpg");
    QVERIFY(writeAll(path, turnedJpeg(shown)));
    QVERIFY(writeTheme("WallPaper=" + path.toUtf8() + "\nWallPaperPos=Fit\n"));
    const QImage image = getWallpaper(QRect(0, 0, 800, 800)).image;
    // Shown 800x400 from y 200: the red corner at its top left.
    QCOMPARE(pictureArea(image, Primary), QRect(0, 200, 800, 400));
    QVERIFY(near(image.pixelColor(50, 250), Frame, 30));
    QVERIFY(near(image.pixelColor(750, 550), Inside, 30));
}

// The greeter names Fit in its own key; without a primary colour its bars are black.
void TestLayouts::fitForTheGreeter()
{
    const QString path = QStringLiteral("/tmp/picture.png");
    QVERIFY(writeTestImage(path, framed(QSize(400, 200))));
    QVERIFY(writeConfig(DmSettings,
        "[background]\npath=" + path.toUtf8()
            + "\nposition=Fit\ncolor_overlay=0, 0, 0, 0\n[background][blur]\nenable=false\n"));
    const Image record = getOrvWallpaper(QRect(0, 0, 300, 600));
    QCOMPARE(record.properties.value(QLatin1String(Keys::ImagePosition)).toInt(),
        int(WallPaperPosition::Fit));
    QVERIFY(!record.properties.contains(QLatin1String(Keys::ImagePrimaryColor)));
    QCOMPARE(pictureArea(record.image, Qt::black), QRect(0, 225, 300, 150));
    // Without the key the specified placement stays.
    QVERIFY(writeConfig(DmSettings, "[background]\npath=" + path.toUtf8() + "\n"));
    QCOMPARE(getWallpaperOrvProperties(QRect(0, 0, 300, 600))
                 .value(QLatin1String(Keys::ImagePosition))
                 .toInt(),
        int(WallPaperPosition::Crop));
}

// At ratio 2 a blurred background is the ratio-1 one at twice the resolution.
void TestLayouts::blurScalesWithTheRatio()
{
    QImage pattern(640, 400, QImage::Format_RGB32);
    for (int y = 0; y < pattern.height(); ++y)
        for (int x = 0; x < pattern.width(); ++x)
            pattern.setPixel(x, y, ((x / 20 + y / 20) % 2) ? qRgb(250, 250, 250) : qRgb(0, 0, 40));
    const QString path = QStringLiteral("/tmp/checks.png");
    QVERIFY(writeTestImage(path, pattern));
    QVERIFY(writeConfig(DmSettings,
        "[background]\npath=" + path.toUtf8()
            + "\n[background][blur]\nradius=8\n[background][logo]\nenable=false\n"));
    const QRect screen(0, 0, 640, 400);
    const QImage one = getOrvWallpaper(screen).image.convertToFormat(QImage::Format_RGB32);
    const QImage two = readLookup(Screen(screen, 2), Lookup::Wallpaper, Lookup::Greeter)
                           .image.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(two.size(), QSize(1280, 800));
    const QImage expected = one.scaled(two.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const auto meanDifference = [](const QImage &a, const QImage &b) {
        qint64 sum = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q))
                    + qAbs(qBlue(p) - qBlue(q));
            }
        return double(sum) / (3.0 * a.width() * a.height());
    };
    const double scaled = meanDifference(two, expected);
    QVERIFY2(scaled < 3, qPrintable(QString::number(scaled)));
    // The radius in device pixels alone blurs half as far: far from the same picture.
    const QImage halfBlurred
        = getOrvWallpaper(QRect(0, 0, 1280, 800)).image.convertToFormat(QImage::Format_RGB32);
    QVERIFY(meanDifference(halfBlurred, expected) > 2 * scaled);
}

void TestLayouts::spanJoinsTheScreens_data()
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

// Each screen's part, joined edge to edge, is one crop of the union, pixel for pixel.
void TestLayouts::spanJoinsTheScreens()
{
    QFETCH(QList<QRect>, screens);
    QFETCH(qreal, ratio);
    QImage picture(3000, 1200, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 251, y % 241, (x * y) % 239));
    const QString path = QStringLiteral("/tmp/panorama.png");
    QVERIFY(writeTestImage(path, picture));
    QVERIFY(writeTheme("WallPaper=" + path.toUtf8() + "\nWallPaperPos=Span\n"));
    QRect all;
    for (const QRect &screen : screens)
        all |= screen;
    const QImage whole
        = readLookup(namedScreen(all, ratio, all, QString()), Lookup::Wallpaper, Lookup::Desktop)
              .image.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(whole.size(), all.size() * ratio);
    for (const QRect &screen : screens) {
        const Image part = readLookup(
            namedScreen(screen, ratio, all, QString()), Lookup::Wallpaper, Lookup::Desktop);
        const QRect device((screen.topLeft() - all.topLeft()) * ratio, screen.size() * ratio);
        QVERIFY(part.image.convertToFormat(QImage::Format_RGB32) == whole.copy(device));
        QCOMPARE(part.properties.value(QLatin1String(Keys::ImageDesktop)).toRect(),
            QRect(all.topLeft() * ratio, all.size() * ratio));
        // Another layout is another map: no stale part is served.
        const QRect other = all.adjusted(0, 0, 10, 0);
        QVERIFY(Cache::getFileName(Lookup(namedScreen(screen, ratio, other, QString()),
                    Lookup::Wallpaper, Lookup::Desktop)
                                       .properties())
            != Cache::getFileName(part.properties));
    }
    // A picture of the union's size is shown unscaled: each part is its own rectangle of it.
    const QImage exact = picture.scaled(all.size() * ratio);
    QVERIFY(writeTestImage(path, exact));
    for (const QRect &screen : screens) {
        const QRect device((screen.topLeft() - all.topLeft()) * ratio, screen.size() * ratio);
        QImage part = readLookup(
            namedScreen(screen, ratio, all, QString()), Lookup::Wallpaper, Lookup::Desktop)
                          .image.convertToFormat(QImage::Format_RGB32);
        part.setDevicePixelRatio(1);
        QCOMPARE(part, exact.copy(device));
    }
    // Without Span the maps hold no union.
    QVERIFY(writeTheme("WallPaper=" + path.toUtf8() + "\n"));
    QVERIFY(!Lookup(
        namedScreen(screens.first(), ratio, all, QString()), Lookup::Wallpaper, Lookup::Desktop)
                 .properties()
                 .contains(QLatin1String(Keys::ImageDesktop)));
}

// The output named in the configuration gets its own picture and placement; others, and calls
// without a name, the general one.
void TestLayouts::picturePerOutput()
{
    const QString red = QStringLiteral("/tmp/red.png"), blue = QStringLiteral("/tmp/blue.png");
    QVERIFY(writeTestImage(red, solidImage(QSize(400, 300), Qt::red)));
    QVERIFY(writeTestImage(blue, solidImage(QSize(400, 200), Qt::blue)));
    const QRect screen(0, 0, 400, 400);
    QVERIFY(writeTheme("WallPaper=" + red.toUtf8() + "\nWallPaper[HDMI-1]=" + blue.toUtf8()
        + "\nWallPaperPos[HDMI-1]=Fit\n"));
    const Image own = readLookup(namedScreen(screen, 1, screen, QStringLiteral("HDMI-1")),
        Lookup::Background, Lookup::Desktop);
    QCOMPARE(own.image.pixelColor(200, 200), QColor(Qt::blue));
    QCOMPARE(own.image.pixelColor(200, 20), Primary);
    QCOMPARE(own.properties.value(QLatin1String(Keys::ImagePosition)).toInt(),
        int(WallPaperPosition::Fit));
    const Image general = readLookup(namedScreen(screen, 1, screen, QStringLiteral("DP-2")),
        Lookup::Background, Lookup::Desktop);
    QCOMPARE(general.image.pixelColor(200, 200), QColor(Qt::red));
    QCOMPARE(general.properties, getBackground(screen).properties);
    QVERIFY(Cache::getFileName(own.properties) != Cache::getFileName(general.properties));

    // The greeter: a group of its own under [background].
    QVERIFY(writeConfig(DmSettings,
        "[background]\npath=" + red.toUtf8()
            + "\ncolor_overlay=0, 0, 0, 0\n"
              "[background][blur]\nenable=false\n[background][HDMI-1]\npath="
            + blue.toUtf8() + "\n"));
    const Image greeter = readLookup(namedScreen(screen, 1, screen, QStringLiteral("HDMI-1")),
        Lookup::Wallpaper, Lookup::Greeter);
    QCOMPARE(greeter.image.pixelColor(200, 200), QColor(Qt::blue));
    QCOMPARE(readLookup(namedScreen(screen, 1, screen, QStringLiteral("DP-2")), Lookup::Wallpaper,
                 Lookup::Greeter)
                 .image.pixelColor(200, 200),
        QColor(Qt::red));
    QCOMPARE(Lookup(namedScreen(screen, 1, screen, QString()), Lookup::Wallpaper, Lookup::Greeter)
                 .properties(),
        getWallpaperOrvProperties(screen));
}

// The picture of a folder follows the clock, the same for the desktop and the greeter.
void TestLayouts::folderChangesWithTime()
{
    const QString folder = QStringLiteral("/tmp/slides");
    QVERIFY(
        writeTestImage(folder + QStringLiteral("/b.png"), solidImage(QSize(64, 64), Qt::green)));
    QVERIFY(writeTestImage(folder + QStringLiteral("/a.png"), solidImage(QSize(64, 64), Qt::red)));
    QVERIFY(writeAll(folder + QStringLiteral("/c.txt"), "not a picture"));
    QVERIFY(writeTestImage(folder + QStringLiteral("/d.jpg"), solidImage(QSize(64, 64), Qt::blue)));
    QVERIFY(writeTheme("WallPaper=" + folder.toUtf8() + "\nWallPaperInterval=100\n"));
    QVERIFY(writeConfig(DmSettings,
        "[background]\npath=" + folder.toUtf8()
            + "\ninterval=100\ncolor_overlay=0, 0, 0, 0\n[background][blur]\nenable=false\n"));
    qint64 now = 0;
    setClock([&now] { return now; });
    const auto restore = qScopeGuard([] { setClock(nullptr); });
    const QRect screen(0, 0, 32, 32);
    const struct
    {
        qint64 time;
        const char *file;
    } times[] = { { 0, "a.png" }, { 99, "a.png" }, { 150, "b.png" }, { 250, "d.jpg" },
        { 350, "a.png" }, { 1000050, "b.png" } };
    for (const auto &at : times) {
        now = at.time;
        const QString expected = folder + QLatin1Char('/') + QLatin1String(at.file);
        QCOMPARE(
            getWallpaperProperties(screen).value(QLatin1String(Keys::ImagePath)).value<File>().path,
            expected);
        QCOMPARE(getWallpaperOrvProperties(screen)
                     .value(QLatin1String(Keys::ImagePath))
                     .value<File>()
                     .path,
            expected);
    }
    // The folder as check tells it: its pictures, the file skipped, the picture now and next.
    now = 150;
    const WallpaperFolder shown;
    QCOMPARE(shown.path(), folder);
    QCOMPARE(shown.pictures().size(), 3);
    QCOMPARE(shown.skipped(), 1);
    QCOMPARE(shown.interval(), 100);
    QCOMPARE(shown.current(), folder + QStringLiteral("/b.png"));
    QCOMPARE(shown.secondsToNextPicture(), qint64(50));
    QVERIFY(WallpaperFolder(true).pictures() == shown.pictures());
    // A picture shown before comes from the cache.
    now = 0;
    Cache::Origin origin = Cache::Origin::None;
    QCOMPARE(readLookup(Screen(screen, 1), Lookup::Wallpaper, Lookup::Desktop, &origin)
                 .image.pixelColor(5, 5),
        QColor(Qt::red));
    QCOMPARE(origin, Cache::Origin::Rendered);
    now = 150;
    QCOMPARE(readLookup(Screen(screen, 1), Lookup::Wallpaper, Lookup::Desktop, &origin)
                 .image.pixelColor(5, 5),
        QColor(Qt::green));
    now = 350;
    QCOMPARE(readLookup(Screen(screen, 1), Lookup::Wallpaper, Lookup::Desktop, &origin)
                 .image.pixelColor(5, 5),
        QColor(Qt::red));
    QCOMPARE(origin, Cache::Origin::SharedCache);
    // An empty folder falls back as a missing wallpaper does: nothing is drawn.
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/empty")));
    QVERIFY(writeTheme("WallPaper=/tmp/empty\n"));
    const Image empty = getWallpaper(screen);
    QVERIFY(writeTheme("WallPaper=/tmp/missing.png\n"));
    QCOMPARE(empty.image.isNull(), getWallpaper(screen).image.isNull());
    QVERIFY(empty.image.isNull());
}

// The watcher signals at the boundary of the folder's interval.
void TestLayouts::watcherAtTheBoundary()
{
    const QString folder = QStringLiteral("/tmp/slides");
    QVERIFY(writeTestImage(folder + QStringLiteral("/a.png"), solidImage(QSize(64, 64), Qt::red)));
    QVERIFY(writeTestImage(folder + QStringLiteral("/b.png"), solidImage(QSize(64, 64), Qt::blue)));
    QVERIFY(writeTheme("WallPaper=" + folder.toUtf8() + "\nWallPaperInterval=1\n"));
    BackgroundWatcher watcher;
    QSignalSpy spy(&watcher, &BackgroundWatcher::changed);
    QVERIFY(spy.wait(3000));
    const QString shown = getWallpaperProperties(QRect(0, 0, 32, 32))
                              .value(QLatin1String(Keys::ImagePath))
                              .value<File>()
                              .path;
    QVERIFY(spy.wait(3000));
    QVERIFY(getWallpaperProperties(QRect(0, 0, 32, 32))
                .value(QLatin1String(Keys::ImagePath))
                .value<File>()
                .path
        != shown);

    // A picture added that sorts first is followed at once, without a boundary.
    setClock([] { return qint64(0); });
    const auto restore = qScopeGuard([] { setClock(nullptr); });
    QVERIFY(writeTheme("WallPaper=" + folder.toUtf8() + "\nWallPaperInterval=3600\n"));
    BackgroundWatcher still;
    QSignalSpy follow(&still, &BackgroundWatcher::changed);
    QVERIFY(
        writeTestImage(folder + QStringLiteral("/0.png"), solidImage(QSize(64, 64), Qt::green)));
    QVERIFY(follow.wait(3000));
    QCOMPARE(getWallpaperProperties(QRect(0, 0, 32, 32))
                 .value(QLatin1String(Keys::ImagePath))
                 .value<File>()
                 .path,
        folder + QStringLiteral("/0.png"));
}

QTEST_MAIN(TestLayouts)
#include "tst_layouts.moc"
