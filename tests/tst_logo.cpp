// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTest>

using namespace VokImage;
using namespace TestPaths;

namespace {
const QString Dir = QStringLiteral("/tmp/logos");
const QSize ScreenSize(800, 600);

bool touch(const QString &path)
{
    return writeAll(path, QByteArray());
}

QString writeWallpaper(const QString &name, const QColor &colour)
{
    const QString path = QStringLiteral("/tmp/") + name + QStringLiteral(".png");
    return writeTestImage(path, solidImage(ScreenSize, colour)) ? path : QString();
}

// A whole-background map as the desktop asks for it.
PropertyMap backgroundMap(const QString &wallpaper, const QString &logo)
{
    PropertyMap map = wallpaperMap(wallpaper, QRect(QPoint(), ScreenSize));
    map[QLatin1String(Keys::LogoPath)] = logo;
    map[QLatin1String(Keys::LogoScreen)] = QRect(QPoint(), ScreenSize);
    map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::BottomRight);
    return map;
}

PropertyMap logoMap(const QString &path, const QRect &screen, LogoPosition position)
{
    PropertyMap map = DefaultLogoProperties;
    map[QLatin1String(Keys::LogoPath)] = path;
    map[QLatin1String(Keys::LogoScreen)] = screen;
    map[QLatin1String(Keys::LogoPosition)] = int(position);
    return map;
}
} // namespace

class TestLogo : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(insideSandbox());
        QDir(Dir).removeRecursively();
        QDir(CacheDir).removeRecursively();
    }

    void placement()
    {
        const QRect screen(0, 0, 1920, 1080);
        QCOMPARE(
            RenderLogo::getLogoArea(screen, TaskbarPosition::Bottom, 48), QRect(0, 0, 1920, 1032));
        QCOMPARE(
            RenderLogo::getLogoArea(screen, TaskbarPosition::Left, 48), QRect(48, 0, 1872, 1080));
        QCOMPARE(RenderLogo::getLogoArea(screen, TaskbarPosition(-1), 48), screen);
        const QRect area(0, 0, 1920, 1032);
        QCOMPARE(
            getLogoPosition(QSize(200, 100), area, LogoPosition::BottomRight), QPoint(1500, 810));
        QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::Center), QPoint(860, 466));
        QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::TopLeft), QPoint(220, 122));
        QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::NotShow), QPoint(0, 0));
        QCOMPARE(fitToScreen(QRect(1900, 10, 100, 50), screen), QPoint(1820, 10));
        QCOMPARE(fitToScreen(QRect(-30, -5, 100, 50), screen), QPoint(0, 0));
        QCOMPARE(fitToScreen(QRect(0, 0, 3000, 50), screen), QPoint(-1080, 0));
        QCOMPARE(getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("-10-20")),
            QPoint(1710, 960));
        QCOMPARE(
            getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("+30+40")), QPoint(30, 40));
        QCOMPARE(
            getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("200x100")), QPoint(0, 0));
        QCOMPARE(
            getLogoPositionX11(QSize(200, 100), QRect(100, 0, 1920, 1080), QStringLiteral("-0-0")),
            QPoint(1720, 980));
        // The inputs the geometry fuzz target once crashed on; far offsets land on the edge.
        const QDir regressions(QStringLiteral(VOK_SOURCE_DIR "/tests/fuzz/regressions/geometry"));
        QVERIFY(!regressions.isEmpty());
        for (const QFileInfo &input : regressions.entryInfoList(QDir::Files))
            QVERIFY(screen.contains(QRect(getLogoPositionX11(QSize(120, 40), screen,
                                              QString::fromUtf8(readAll(input.filePath()))),
                QSize(120, 40))));
        QCOMPARE(getLogoPositionX11(QSize(120, 40), screen, QStringLiteral("+0+99999999999999999")),
            QPoint(0, 1040));
        QCOMPARE(
            getLogoPositionX11(QSize(120, 40), screen, QStringLiteral("-2147483647-2147483647")),
            QPoint(0, 0));
    }

    void drawnClearOfTaskbar()
    {
        QVERIFY(writeTestImage(
            Dir + QStringLiteral("/logo.png"), solidImage(QSize(400, 200), Qt::red)));
        const QRect screen(0, 0, 800, 600);
        for (int edge = 0; edge < 4; ++edge) {
            // BottomRight would cross a Bottom or Right band, TopLeft a Top or Left one.
            PropertyMap map = logoMap(Dir + QStringLiteral("/logo.png"), screen,
                edge < 2 ? LogoPosition::TopLeft : LogoPosition::BottomRight);
            map[QLatin1String(Keys::TaskbarPosition)] = edge;
            map[QLatin1String(Keys::TaskbarHeight)] = 100;
            bool ok = false;
            const QImage image = rendered(map, &ok);
            QVERIFY(ok);
            const QRect free = RenderLogo::getLogoArea(screen, TaskbarPosition(edge), 100);
            QRect red;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y) == QColor(Qt::red))
                        red |= QRect(x, y, 1, 1);
            QCOMPARE(red.size(), QSize(400, 200));
            QVERIFY2(free.contains(red), qPrintable(QString::number(edge)));
        }
        // An SVG logo is drawn at its size class: half width at 1920, whole in a "red" folder.
        for (const QString &name : words("selka_logo_dark.svg red/selka_logo_dark.svg")) {
            QVERIFY(writeAll(Dir + QLatin1Char('/') + name,
                "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='200' viewBox='0 0 400 "
                "200'>"
                "<rect width='400' height='200' fill='#0000ff'/></svg>"));
            const QImage image = rendered(logoMap(
                Dir + QLatin1Char('/') + name, QRect(0, 0, 1920, 1080), LogoPosition::Center));
            int width = 0;
            for (int x = 0; x < image.width(); ++x)
                width += image.pixelColor(x, 516).alpha() > 128 ? 1 : 0;
            QCOMPARE(width, name.startsWith(QLatin1String("red")) ? 384 : 192);
        }
    }

    void brightness()
    {
        QVERIFY(isTextColorBlack(Qt::white) && isTextColorBlack(QColor())
            && !isTextColorBlack(Qt::black));
        QVERIFY(isTextColorBlack(QColor(138, 138, 138)));
        QVERIFY(!isTextColorBlack(QColor(137, 137, 137)));
        QCOMPARE(isTextWhiteFor(solidImage(QSize(600, 600), Qt::black), QRect(0, 0, 600, 600)), 1);
        QCOMPARE(isTextWhiteFor(solidImage(QSize(600, 600), Qt::white), QRect(0, 0, 600, 600)), 0);
        QImage half = solidImage(QSize(600, 600), Qt::white);
        QPainter(&half).fillRect(0, 0, 300, 600, Qt::black);
        QCOMPARE(isTextWhiteFor(half, QRect(0, 0, 600, 600)), -1);
        // Samples outside the image count as light.
        QCOMPARE(
            isTextWhiteFor(solidImage(QSize(10, 10), Qt::black), QRect(1000, 1000, 60, 60)), 0);
        QCOMPARE(containsColor(QStringLiteral("selka_logo_dark.svg"), AllColors),
            QStringLiteral("dark"));
        QCOMPARE(
            containsColor(QStringLiteral("LOGO_WHITE.png"), AllColors), QStringLiteral("white"));
        QVERIFY(containsColor(QStringLiteral("logo.png"), AllColors).isNull());
    }

    void candidates()
    {
        for (const auto &[width, size] :
            QList<QPair<int, const char *>> { { -5, "800" }, { 800, "800" }, { 801, "1280" },
                { 1280, "1280" }, { 1281, "1920" }, { 1920, "1920" }, { 1921, "2048" } })
            QCOMPARE(determineLogoSize(width), QString::fromLatin1(size));
        // Size before variant; a "%" in the stem is not substituted again.
        const QString stem = Dir + QStringLiteral("/logo");
        QVERIFY(findLogoPath(stem, 1920, QStringLiteral("white")).isNull());
        QVERIFY(touch(stem + QStringLiteral(".png")));
        for (const QString &variant : AllColors)
            QCOMPARE(findLogoPath(stem, 3840, variant), stem + QStringLiteral(".png"));
        QVERIFY(touch(stem + QStringLiteral("_white.png"))
            && touch(stem + QStringLiteral("_1920.png")));
        QCOMPARE(
            findLogoPath(stem, 1920, QStringLiteral("white")), stem + QStringLiteral("_1920.png"));
        QCOMPARE(
            findLogoPath(stem, 1280, QStringLiteral("white")), stem + QStringLiteral("_white.png"));
        QVERIFY(touch(stem + QStringLiteral("_1920_white.png")));
        QCOMPARE(findLogoPath(stem, 1500, QStringLiteral("white")),
            stem + QStringLiteral("_1920_white.png"));
        const QString odd = Dir + QStringLiteral("/a%2b%1");
        QVERIFY(touch(odd + QStringLiteral("_800_dark.png")));
        QCOMPARE(
            findLogoPath(odd, 640, QStringLiteral("dark")), odd + QStringLiteral("_800_dark.png"));

        // The light variant: "light", else "white"; every occurrence replaced; found ignoring
        // case, replaced respecting it.
        const QString dark = Dir + QStringLiteral("/v/logo_dark.png");
        QVERIFY(touch(dark));
        QCOMPARE(getLogoPath(dark, true), dark);
        QVERIFY(touch(Dir + QStringLiteral("/v/logo_light.png")));
        QCOMPARE(getLogoPath(dark, true), Dir + QStringLiteral("/v/logo_light.png"));
        QVERIFY(touch(Dir + QStringLiteral("/v/logo_white.png")));
        QCOMPARE(getLogoPath(dark, true), Dir + QStringLiteral("/v/logo_white.png"));
        QCOMPARE(getLogoPath(dark, false), dark);
        QCOMPARE(getLogoPath(Dir + QStringLiteral("/v/logo_white.png"), false), dark);
        QVERIFY(touch(Dir + QStringLiteral("/v/dark/logo_dark.png"))
            && touch(Dir + QStringLiteral("/v/white/logo_white.png")));
        QCOMPARE(getLogoPath(Dir + QStringLiteral("/v/dark/logo_dark.png"), true),
            Dir + QStringLiteral("/v/white/logo_white.png"));
        QVERIFY(touch(Dir + QStringLiteral("/v/logo_Dark.png")));
        QCOMPARE(getLogoPath(Dir + QStringLiteral("/v/logo_Dark.png"), true),
            Dir + QStringLiteral("/v/logo_Dark.png"));
    }

    void currentLogo()
    {
        const QImage dark = solidImage(ScreenSize, QColor(20, 20, 30));
        const QImage light = solidImage(ScreenSize, QColor(235, 235, 225));
        QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, dark), WhiteLogo);
        QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, light), DarkLogo);
        QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::BottomRight, light), DarkLogo);
        QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::TopLeft, dark), WhiteLogo);
        // Stripes under the logo count as dark; brightness is judged where the logo goes.
        QImage mixed = light;
        for (int x = 0; x < mixed.width(); x += 40)
            QPainter(&mixed).fillRect(x, 0, 20, mixed.height(), Qt::black);
        QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, mixed), WhiteLogo);
        QImage corner = dark;
        QPainter(&corner).fillRect(QRect(0, 0, 500, 200), QColor(240, 240, 240));
        QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::TopLeft, corner), DarkLogo);
        QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, corner), WhiteLogo);
        // A stem that names no file is completed by size class and variant.
        const QString stem = Dir + QStringLiteral("/mark_dark");
        QVERIFY(writeTestImage(
            stem + QStringLiteral("_800.png"), solidImage(QSize(60, 20), Qt::black)));
        QVERIFY(writeTestImage(
            Dir + QStringLiteral("/mark_white_800.png"), solidImage(QSize(60, 20), Qt::white)));
        QCOMPARE(getCurrentLogoPath(stem, LogoPosition::BottomRight, dark),
            Dir + QStringLiteral("/mark_white_800.png"));
        QCOMPARE(getCurrentLogoPath(stem, LogoPosition::BottomRight, light),
            stem + QStringLiteral("_800.png"));
        // A missing file, and one that is no image, give back the configured path.
        MessageLog log;
        const QString missing = Dir + QStringLiteral("/none_dark.svg");
        QCOMPARE(getCurrentLogoPath(missing, LogoPosition::BottomRight, dark), missing);
        QVERIFY(log.contains(QStringLiteral("No such logo in file or directory:  \"") + missing));
        QVERIFY(touch(Dir + QStringLiteral("/broken.png")));
        QCOMPARE(
            getCurrentLogoPath(Dir + QStringLiteral("/broken"), LogoPosition::BottomRight, dark),
            Dir + QStringLiteral("/broken"));
        QVERIFY(log.contains(
            QStringLiteral("Can't read logo:  \"") + Dir + QStringLiteral("/broken.png")));
    }

    // The whole background over a dark wallpaper draws and names the light logo, stores it
    // under the drawn map, and serves the requested map from it by the variant search.
    void overloadedBackground()
    {
        const PropertyMap requested
            = backgroundMap(writeWallpaper(QStringLiteral("night"), QColor(15, 20, 40)), DarkLogo);
        PropertyMap drawn = requested;
        drawn[QLatin1String(Keys::LogoPath)] = WhiteLogo;
        MessageLog log;
        const Image first = Cache::getImageCache(requested, true);
        QCOMPARE(first.image.size(), ScreenSize);
        QVERIFY(log.contains(QStringLiteral("Overloaded logo:  \"") + WhiteLogo));
        QCOMPARE(first.properties, drawn);
        QVERIFY(Cache::isCacheExists(drawn) && !Cache::isCacheExists(requested));
        QCOMPARE(first.image, rendered(drawn));
        QVERIFY(setMtime(cachePath(drawn), 1000000));
        log.clear();
        const Image second = Cache::getImageCache(requested, true);
        QVERIFY(log.contains(QStringLiteral("found in cache with different logo: ")));
        QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
        QCOMPARE(second.properties, drawn);
        QCOMPARE(second.image.convertToFormat(QImage::Format_RGB32),
            first.image.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(QFileInfo(cachePath(drawn)).lastModified().toSecsSinceEpoch(), qint64(1000000));
        log.clear();
        QCOMPARE(Cache::getImageCache(drawn, true).properties, drawn);
        QVERIFY(!log.contains(QStringLiteral("found in cache")));
        // A light wallpaper keeps the dark logo and is stored as requested; so is a dark one
        // without overloading, and a logo alone.
        for (const PropertyMap &kept :
            { backgroundMap(writeWallpaper(QStringLiteral("day"), QColor(230, 230, 220)), DarkLogo),
                logoMap(DarkLogo, QRect(QPoint(), ScreenSize), LogoPosition::BottomRight) }) {
            QCOMPARE(Cache::getImageCache(kept, true).properties, kept);
            QVERIFY(Cache::isCacheExists(kept));
        }
        QDir(CacheDir).removeRecursively();
        QCOMPARE(Cache::getImageCache(requested, false).properties, requested);
        QCOMPARE(log.count(QStringLiteral("Overloaded logo")), 0);
    }

    // The analysis and the final render share the wallpaper pass (cropped, blurred, tinted):
    // the result is what a render alone gives; a cache entry of the wallpaper serves the
    // analysis; a failed render stores nothing.
    void sharedWallpaperPass()
    {
        QVERIFY(writeTestImage(QStringLiteral("/tmp/detail.png"), photoImage(QSize(1000, 700))));
        for (const bool effects : { false, true }) {
            QDir(CacheDir).removeRecursively();
            PropertyMap requested = backgroundMap(QStringLiteral("/tmp/detail.png"), DarkLogo);
            if (effects) {
                requested[QLatin1String(Keys::ImageBlur)] = 4;
                requested[QLatin1String(Keys::ImageColorOverlay)] = QColor(0, 0, 0, 100);
            }
            const Image first = Cache::getImageCache(requested, true);
            QVERIFY(!first.image.isNull());
            QCOMPARE(first.image, rendered(first.properties));
        }
        // A dark wallpaper whose own (planted) cache entry is light: the dark logo stays, and
        // the real wallpaper is drawn.
        const PropertyMap requested
            = backgroundMap(writeWallpaper(QStringLiteral("dusk"), QColor(10, 10, 10)), DarkLogo);
        PropertyMap part = requested;
        for (const QString &key : DefaultLogoProperties.keys())
            part.remove(key);
        QVERIFY(
            Cache::saveImageCache(Image { part, solidImage(ScreenSize, QColor(250, 250, 250)) }));
        const Image record = Cache::getImageCache(requested, true);
        QCOMPARE(record.properties, requested);
        QCOMPARE(QColor(record.image.pixel(10, 10)), QColor(10, 10, 10));

        QDir(CacheDir).removeRecursively();
        MessageLog log;
        const Image failed = Cache::getImageCache(
            backgroundMap(QStringLiteral("/tmp/no-such.png"), DarkLogo), true);
        QVERIFY(failed.image.isNull() && failed.properties.isEmpty());
        QVERIFY(log.contains(QStringLiteral("Error render image")));
        QVERIFY(!log.contains(QStringLiteral("logo:")));
        QVERIFY(!QDir(CacheDir).exists() || QDir(CacheDir).entryList(QDir::Files).isEmpty());
        // The variant search: no colour word means no probe; an empty path is reported.
        bool ok = true;
        PropertyMap neutral = requested;
        neutral[QLatin1String(Keys::LogoPath)] = QStringLiteral("/usr/share/logo.svg");
        QVERIFY(Cache::searchCacheWithDifferentLogos(neutral, &ok).image.isNull() && !ok);
        neutral[QLatin1String(Keys::LogoPath)] = QString();
        ok = true;
        QVERIFY(Cache::searchCacheWithDifferentLogos(neutral, &ok).image.isNull() && !ok);
        QVERIFY(log.contains(QStringLiteral("Error logo path is empty")));
    }
};

QTEST_MAIN(TestLogo)
#include "tst_logo.moc"
