// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTest>

#include <sys/time.h>

using namespace VokImage;
using namespace TestPaths;

using PropertyMap = QMap<QString, QVariant>;

class TestLogoReuse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void sizeClasses();
    void candidates();
    void variantSwap();
    void currentLogo();
    void overloadedBackground();
    void sharedWallpaperPass();
    void wallpaperEntryServesAnalysis();
    void plainRoads();
    void renderFailure();
};

static const QString Dir = QStringLiteral("/tmp/logos");
static const QSize ScreenSize(800, 600);

static bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

static QString cachePath(const PropertyMap &map)
{
    return CacheDir + QLatin1Char('/') + Cache::getFileName(map);
}

static QString writeWallpaper(const QString &name, const QColor &colour)
{
    const QString path = QStringLiteral("/tmp/") + name + QStringLiteral(".png");
    return writeTestImage(path, solidImage(ScreenSize, colour)) ? path : QString();
}

// A whole-background map as the desktop asks for it.
static PropertyMap backgroundMap(const QString &wallpaper, const QString &logo)
{
    PropertyMap map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(wallpaper));
    map[QLatin1String(Keys::ImageScreen)] = QRect(QPoint(0, 0), ScreenSize);
    map[QLatin1String(Keys::LogoPath)] = logo;
    map[QLatin1String(Keys::LogoScreen)] = QRect(QPoint(0, 0), ScreenSize);
    map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::BottomRight);
    return map;
}

static PropertyMap wallpaperPart(const PropertyMap &map)
{
    PropertyMap part;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        if (it.key().startsWith(QLatin1String("ImageProperty")))
            part.insert(it.key(), it.value());
    return part;
}

void TestLogoReuse::initTestCase()
{
    QVERIFY(insideSandbox());
    QVERIFY(QFileInfo::exists(DarkLogo));
    QVERIFY(QFileInfo::exists(WhiteLogo));
}

void TestLogoReuse::init()
{
    QDir(Dir).removeRecursively();
    QDir(CacheDir).removeRecursively();
}

void TestLogoReuse::sizeClasses()
{
    const QList<QPair<int, const char *>> cases { { -5, "800" }, { 0, "800" }, { 800, "800" },
        { 801, "1280" }, { 1280, "1280" }, { 1281, "1920" }, { 1920, "1920" }, { 1921, "2048" } };
    for (const auto &c : cases)
        QCOMPARE(determineLogoSize(c.first), QString::fromLatin1(c.second));
}

void TestLogoReuse::candidates()
{
    const QString stem = Dir + QStringLiteral("/logo");
    QVERIFY(findLogoPath(stem, 1920, QStringLiteral("white")).isNull());
    QVERIFY(touch(stem + QStringLiteral(".png")));
    for (int width : { 640, 1024, 1920, 3840 })
        for (const QString &variant : AllColors)
            QCOMPARE(findLogoPath(stem, width, variant), stem + QStringLiteral(".png"));
    QVERIFY(touch(stem + QStringLiteral("_white.png")));
    QCOMPARE(
        findLogoPath(stem, 1920, QStringLiteral("white")), stem + QStringLiteral("_white.png"));
    // Size before variant.
    QVERIFY(touch(stem + QStringLiteral("_1920.png")));
    QCOMPARE(findLogoPath(stem, 1920, QStringLiteral("white")), stem + QStringLiteral("_1920.png"));
    QCOMPARE(
        findLogoPath(stem, 1280, QStringLiteral("white")), stem + QStringLiteral("_white.png"));
    QVERIFY(touch(stem + QStringLiteral("_1920_white.png")));
    QCOMPARE(findLogoPath(stem, 1500, QStringLiteral("white")),
        stem + QStringLiteral("_1920_white.png"));

    // A "%" in the stem is not substituted again.
    const QString odd = Dir + QStringLiteral("/a%2b%1");
    QVERIFY(touch(odd + QStringLiteral("_800_dark.png")));
    QCOMPARE(findLogoPath(odd, 640, QStringLiteral("dark")), odd + QStringLiteral("_800_dark.png"));
}

void TestLogoReuse::variantSwap()
{
    const QString dark = Dir + QStringLiteral("/logo_dark.png");
    QVERIFY(touch(dark));
    QCOMPARE(getLogoPath(dark, true), dark);
    QVERIFY(touch(Dir + QStringLiteral("/logo_light.png")));
    QCOMPARE(getLogoPath(dark, true), Dir + QStringLiteral("/logo_light.png"));
    QVERIFY(touch(Dir + QStringLiteral("/logo_white.png")));
    QCOMPARE(getLogoPath(dark, true), Dir + QStringLiteral("/logo_white.png"));
    // No light word to swap.
    QCOMPARE(getLogoPath(dark, false), dark);
    QCOMPARE(getLogoPath(Dir + QStringLiteral("/logo_white.png"), false), dark);

    // Every occurrence is replaced.
    const QString twice = Dir + QStringLiteral("/dark/logo_dark.png");
    QVERIFY(touch(twice));
    QVERIFY(touch(Dir + QStringLiteral("/white/logo_white.png")));
    QCOMPARE(getLogoPath(twice, true), Dir + QStringLiteral("/white/logo_white.png"));

    // Found ignoring case, replaced respecting it.
    const QString capital = Dir + QStringLiteral("/logo_Dark.png");
    QVERIFY(touch(capital));
    QVERIFY(touch(Dir + QStringLiteral("/logo_white.png")));
    QCOMPARE(getLogoPath(capital, true), capital);
}

void TestLogoReuse::currentLogo()
{
    const QImage dark = solidImage(ScreenSize, QColor(20, 20, 30));
    const QImage light = solidImage(ScreenSize, QColor(235, 235, 225));
    QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, dark), WhiteLogo);
    QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, light), DarkLogo);
    QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::BottomRight, light), DarkLogo);
    QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::TopLeft, dark), WhiteLogo);

    // Mixed brightness under the logo counts as dark.
    QImage mixed = light;
    QPainter painter(&mixed);
    for (int x = 0; x < mixed.width(); x += 40)
        painter.fillRect(x, 0, 20, mixed.height(), Qt::black);
    painter.end();
    QCOMPARE(isTextWhiteFor(mixed, mixed.rect()), -1);
    QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, mixed), WhiteLogo);

    // Brightness is judged where the logo goes: a light corner over a dark picture.
    QImage corner = dark;
    QPainter cornerPainter(&corner);
    cornerPainter.fillRect(QRect(0, 0, 500, 200), QColor(240, 240, 240));
    cornerPainter.end();
    QCOMPARE(getCurrentLogoPath(WhiteLogo, LogoPosition::TopLeft, corner), DarkLogo);
    QCOMPARE(getCurrentLogoPath(DarkLogo, LogoPosition::BottomRight, corner), WhiteLogo);

    // A stem that names no file is completed by size class and variant.
    const QString stem = Dir + QStringLiteral("/mark_dark");
    QVERIFY(
        writeTestImage(stem + QStringLiteral("_800.png"), solidImage(QSize(60, 20), Qt::black)));
    QVERIFY(writeTestImage(QString(Dir + QStringLiteral("/mark_white_800.png")),
        solidImage(QSize(60, 20), Qt::white)));
    QCOMPARE(getCurrentLogoPath(stem, LogoPosition::BottomRight, dark),
        Dir + QStringLiteral("/mark_white_800.png"));
    QCOMPARE(getCurrentLogoPath(stem, LogoPosition::BottomRight, light),
        stem + QStringLiteral("_800.png"));

    MessageLog log;
    const QString missing = Dir + QStringLiteral("/none_dark.svg");
    QCOMPARE(getCurrentLogoPath(missing, LogoPosition::BottomRight, dark), missing);
    QVERIFY(log.contains(QStringLiteral("No such logo in file or directory:  \"") + missing));
    // A found file that is not an image gives back the configured path.
    QVERIFY(touch(Dir + QStringLiteral("/broken.png")));
    QCOMPARE(getCurrentLogoPath(Dir + QStringLiteral("/broken"), LogoPosition::BottomRight, dark),
        Dir + QStringLiteral("/broken"));
    QVERIFY(
        log.contains(QStringLiteral("Can't read logo:  \"") + Dir + QStringLiteral("/broken.png")));
}

void TestLogoReuse::overloadedBackground()
{
    const QString wallpaper = writeWallpaper(QStringLiteral("night"), QColor(15, 20, 40));
    const PropertyMap requested = backgroundMap(wallpaper, DarkLogo);
    PropertyMap drawn = requested;
    drawn[QLatin1String(Keys::LogoPath)] = WhiteLogo;

    MessageLog log;
    const Image first = Cache::getImageCache(requested, true);
    QVERIFY(!first.image.isNull());
    QCOMPARE(first.image.size(), ScreenSize);
    QVERIFY(log.contains(QStringLiteral("Overloaded logo:  \"") + WhiteLogo));
    QCOMPARE(first.properties.value(QLatin1String(Keys::LogoPath)).toString(), WhiteLogo);
    QVERIFY(Cache::isCacheExists(drawn));
    QVERIFY(!Cache::isCacheExists(requested));
    // The light logo is drawn: the bottom right corner holds light pixels.
    const QImage picture = first.image.convertToFormat(QImage::Format_RGB32);
    int lightPixels = 0;
    for (int y = ScreenSize.height() / 2; y < ScreenSize.height(); y += 2)
        for (int x = ScreenSize.width() / 2; x < ScreenSize.width(); x += 2)
            lightPixels += qGray(picture.pixel(x, y)) > 150 ? 1 : 0;
    QVERIFY(lightPixels > 50);

    // The same request again is served by the variant search, without drawing.
    QVERIFY(setMtime(cachePath(drawn), 1000000));
    log.clear();
    const Image second = Cache::getImageCache(requested, true);
    QVERIFY(log.contains(QStringLiteral("found in cache with different logo: ")));
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    QCOMPARE(second.properties, drawn);
    QCOMPARE(second.image.convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(QFileInfo(cachePath(drawn)).lastModified().toSecsSinceEpoch(), qint64(1000000));

    // Asking for the drawn variant hits directly.
    log.clear();
    QCOMPARE(Cache::getImageCache(drawn, true).properties, drawn);
    QVERIFY(!log.contains(QStringLiteral("found in cache")));

    // A light wallpaper keeps the dark logo and is stored as requested.
    const QString day = writeWallpaper(QStringLiteral("day"), QColor(230, 230, 220));
    const PropertyMap dayMap = backgroundMap(day, DarkLogo);
    log.clear();
    QCOMPARE(Cache::getImageCache(dayMap, true).properties, dayMap);
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    QVERIFY(Cache::isCacheExists(dayMap));
}

void TestLogoReuse::sharedWallpaperPass()
{
    // A wallpaper with detail, cropped from a larger file, blurred and tinted: the analysis and
    // the final render share the wallpaper pass, and the result is what a render alone gives.
    QImage photo(1000, 700, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb((x * 7 + y) % 256, (x ^ y) % 200, (y * 3) % 120));
    const QString path = QStringLiteral("/tmp/detail.png");
    QVERIFY(writeTestImage(path, photo));
    for (const bool effects : { false, true }) {
        QDir(CacheDir).removeRecursively();
        PropertyMap requested = backgroundMap(path, DarkLogo);
        if (effects) {
            requested[QLatin1String(Keys::ImageBlur)] = 4;
            requested[QLatin1String(Keys::ImageColorOverlay)] = QColor(0, 0, 0, 100);
        }
        const Image first = Cache::getImageCache(requested, true);
        QVERIFY(!first.image.isNull());
        RenderEngine engine;
        const QImage alone = engine.render(first.properties).toImage();
        QCOMPARE(first.image, alone);
    }

    // Another call renders a rewritten file afresh.
    QDir(CacheDir).removeRecursively();
    QVERIFY(writeTestImage(path, solidImage(photo.size(), QColor(200, 30, 30))));
    QVERIFY(setMtime(path, 2000000));
    const Image again = Cache::getImageCache(backgroundMap(path, DarkLogo), true);
    QCOMPARE(QColor(again.image.pixel(10, 10)), QColor(200, 30, 30));
}

void TestLogoReuse::wallpaperEntryServesAnalysis()
{
    // A dark wallpaper whose own cache entry (planted here) is light: the analysis uses that
    // entry instead of rendering the wallpaper, so the dark logo stays.
    const QString wallpaper = writeWallpaper(QStringLiteral("dusk"), QColor(10, 10, 10));
    const PropertyMap requested = backgroundMap(wallpaper, DarkLogo);
    const PropertyMap part = wallpaperPart(requested);
    QVERIFY(Cache::saveImageCache(Image { part, solidImage(ScreenSize, QColor(250, 250, 250)) }));
    MessageLog log;
    const Image record = Cache::getImageCache(requested, true);
    QCOMPARE(record.properties, requested);
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    // The final drawing renders the real wallpaper.
    QCOMPARE(QColor(record.image.pixel(10, 10)), QColor(10, 10, 10));
}

void TestLogoReuse::plainRoads()
{
    const QString wallpaper = writeWallpaper(QStringLiteral("plain"), QColor(15, 20, 40));
    MessageLog log;
    // Without logo overloading asked for, the dark logo stays on the dark wallpaper.
    const PropertyMap map = backgroundMap(wallpaper, DarkLogo);
    QCOMPARE(Cache::getImageCache(map, false).properties, map);
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));

    // A logo alone (no wallpaper) takes the plain road.
    PropertyMap logoOnly = map;
    for (const QString &key : wallpaperPart(map).keys())
        logoOnly.remove(key);
    QDir(CacheDir).removeRecursively();
    QCOMPARE(Cache::getImageCache(logoOnly, true).properties, logoOnly);
    QVERIFY(Cache::isCacheExists(logoOnly));

    // An empty wallpaper path also takes the plain road (and fails to render).
    PropertyMap empty = map;
    empty[QLatin1String(Keys::ImagePath)] = QString();
    log.clear();
    QVERIFY(Cache::getImageCache(empty, true).image.isNull());
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));

    // Variant search: no colour word means no probe; an empty path is reported.
    bool ok = true;
    PropertyMap neutral = map;
    neutral[QLatin1String(Keys::LogoPath)] = QStringLiteral("/usr/share/logo.svg");
    QVERIFY(Cache::searchCacheWithDifferentLogos(neutral, &ok).image.isNull());
    QVERIFY(!ok);
    neutral[QLatin1String(Keys::LogoPath)] = QString();
    log.clear();
    ok = true;
    QVERIFY(Cache::searchCacheWithDifferentLogos(neutral, &ok).image.isNull());
    QVERIFY(!ok);
    QVERIFY(log.contains(QStringLiteral("Error logo path is empty")));
    QVERIFY(Cache::searchCacheWithDifferentLogos(neutral, nullptr).image.isNull());
}

void TestLogoReuse::renderFailure()
{
    const PropertyMap map = backgroundMap(QStringLiteral("/tmp/no-such-wallpaper.png"), DarkLogo);
    MessageLog log;
    const Image record = Cache::getImageCache(map, true);
    QVERIFY(record.image.isNull());
    QVERIFY(record.properties.isEmpty());
    QVERIFY(log.contains(QStringLiteral("Error render image")));
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    QVERIFY(!log.contains(QStringLiteral("logo:")));
    QCOMPARE(QDir(CacheDir).entryList(QDir::Files).size(), 0);
}

QTEST_MAIN(TestLogoReuse)
#include "tst_logoreuse.moc"
