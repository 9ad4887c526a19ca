// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/time.h>

using namespace VokImage;
using namespace TestPaths;

using PropertyMap = QMap<QString, QVariant>;

class TestApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void desktopDefaults();
    void desktopNames();
    void desktopDefaultWallpaper();
    void fileAndStringKeys();
    void desktopBackground();
    void greeterDefaults();
    void greeterSettings_data();
    void greeterSettings();
    void greeterBackground();
};

static const QRect TestScreen(0, 0, 640, 360);

static QStringList keysWithPrefix(const PropertyMap &map, const QString &prefix)
{
    QStringList keys;
    for (const QString &key : map.keys())
        if (key.startsWith(prefix))
            keys.append(key);
    return keys;
}

static QString cachePath(const PropertyMap &map)
{
    return CacheDir + QLatin1Char('/') + Cache::getFileName(map);
}

void TestApi::initTestCase()
{
    QVERIFY(insideSandbox());
}

void TestApi::init()
{
    QVERIFY(freshSession());
    QDir(CacheDir).removeRecursively();
}

void TestApi::desktopDefaults()
{
    const PropertyMap wallpaper = getWallpaperProperties(TestScreen);
    QCOMPARE(wallpaper.size(), 5);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePath)).userType(), qMetaTypeId<File>());
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePath)).value<File>(),
        File(QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg")));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePosition)), QVariant(3));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageScreen)), QVariant(TestScreen));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageBlur)), QVariant(-1));
    QVERIFY(!wallpaper.value(QLatin1String(Keys::ImageColorOverlay)).value<QColor>().isValid());

    const PropertyMap logo = getLogoProperties(TestScreen);
    QCOMPARE(logo.size(), 5);
    QCOMPARE(logo.value(QLatin1String(Keys::LogoPath)), QVariant(QStringLiteral("fictive")));
    QCOMPARE(logo.value(QLatin1String(Keys::LogoPosition)), QVariant(0));
    QCOMPARE(logo.value(QLatin1String(Keys::LogoScreen)), QVariant(TestScreen));
    QCOMPARE(logo.value(QLatin1String(Keys::TaskbarPosition)), QVariant(3));
    QCOMPARE(logo.value(QLatin1String(Keys::TaskbarHeight)), QVariant(48));

    // The shipped wallpaper renders; a second call is served from the cache.
    const Image first = getWallpaper(TestScreen);
    QCOMPARE(first.image.size(), TestScreen.size());
    QCOMPARE(first.properties, wallpaper);
    QVERIFY(setMtime(cachePath(wallpaper), 1000000));
    const Image second = getWallpaper(TestScreen);
    QCOMPARE(second.image.convertToFormat(QImage::Format_RGB32),
        first.image.convertToFormat(QImage::Format_RGB32));
    QCOMPARE(QFileInfo(cachePath(wallpaper)).lastModified().toSecsSinceEpoch(), qint64(1000000));
}

void TestApi::desktopNames()
{
    const struct
    {
        const char *theme;
        int wallpaper;
        int logo;
        int taskbar;
        int height;
    } cases[] = {
        { "WallPaperPos=Title\nLogoPosition=TopLeft\nTaskbarPosition=Left\nTaskbarHeight=30\n", 1,
            4, 1, 30 },
        { "WallPaperPos=Tile\nLogoPosition=NotShow\nTaskbarPosition=Sideways\n", 3, -1, -1, 48 },
        { "WallPaperPos=crop\nLogoPosition=Nowhere\nTaskbarPosition=top\nTaskbarHeight=abc\n", 3,
            -1, -1, 48 },
        { "WallPaperPos=Stretch\nLogoPosition=Center\n", 2, 7, 3, 48 },
    };
    for (const auto &c : cases) {
        QVERIFY(writeTheme(c.theme));
        const PropertyMap wallpaper = getWallpaperProperties(TestScreen);
        const PropertyMap logo = getLogoProperties(TestScreen);
        QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePosition)), QVariant(c.wallpaper));
        QCOMPARE(logo.value(QLatin1String(Keys::LogoPosition)), QVariant(c.logo));
        QCOMPARE(logo.value(QLatin1String(Keys::TaskbarPosition)), QVariant(c.taskbar));
        QCOMPARE(logo.value(QLatin1String(Keys::TaskbarHeight)), QVariant(c.height));
    }
}

void TestApi::desktopDefaultWallpaper()
{
    QVERIFY(writeTheme("WallPaper=vok-default\n"));
    QVERIFY(writeConfig(Home + QStringLiteral("/.vok/paletterc"), "PrimaryColor=#2f6b5a\n"));
    const PropertyMap map = getWallpaperProperties(TestScreen);
    QCOMPARE(map.size(), 6);
    QCOMPARE(map.value(QStringLiteral("ImageProperty.PrimaryColor")), QVariant(QColor("#2f6b5a")));
    const File file = map.value(QLatin1String(Keys::ImagePath)).value<File>();
    QCOMPARE(file.path, Utils::getVokDefaultWallpaper(TestScreen, QColor("#2f6b5a")));
    QVERIFY(file.path.startsWith(QStringLiteral("/tmp/cache/16:9/")));
    QVERIFY(!file.lastModified.isNull());
    QCOMPARE(getWallpaper(TestScreen).image.size(), TestScreen.size());

    // Another colour, another file and another key.
    QVERIFY(writeConfig(Home + QStringLiteral("/.vok/paletterc"), "PrimaryColor=#a03020\n"));
    const PropertyMap red = getWallpaperProperties(TestScreen);
    QVERIFY(red.value(QLatin1String(Keys::ImagePath)).value<File>().path != file.path);
    QVERIFY(Cache::getFileName(red) != Cache::getFileName(map));

    // The word is matched exactly.
    QVERIFY(writeTheme("WallPaper=Vok-default\nWallPaperPos=Crop\n"));
    const PropertyMap other = getWallpaperProperties(TestScreen);
    QCOMPARE(other.size(), 5);
    QCOMPARE(other.value(QLatin1String(Keys::ImagePath)).value<File>().path,
        QStringLiteral("Vok-default"));
    MessageLog log;
    QVERIFY(getWallpaper(TestScreen).image.isNull());
    QVERIFY(log.contains(QStringLiteral("Error render image")));
}

void TestApi::fileAndStringKeys()
{
    const QString wallpaper = QStringLiteral("/tmp/wall.png");
    QVERIFY(writeTestImage(wallpaper, solidImage(QSize(320, 180), QColor(200, 60, 60))));
    const QString logo = QStringLiteral("/tmp/logo_dark.png");
    QVERIFY(writeTestImage(logo, solidImage(QSize(40, 20), Qt::black)));
    QVERIFY(writeTheme("WallPaper=" + wallpaper.toUtf8() + "\nLogoPixmap=" + logo.toUtf8() + "\n"));
    const PropertyMap wallpaperMap = getWallpaperProperties(TestScreen);
    const PropertyMap logoMap = getLogoProperties(TestScreen);
    QCOMPARE(logoMap.value(QLatin1String(Keys::LogoPath)).userType(), int(QMetaType::QString));

    // Rewriting the wallpaper in place changes its map; rewriting the logo does not.
    QVERIFY(setMtime(wallpaper, 2000000));
    QVERIFY(setMtime(logo, 2000000));
    QVERIFY(getWallpaperProperties(TestScreen) != wallpaperMap);
    QCOMPARE(getLogoProperties(TestScreen), logoMap);
}

void TestApi::desktopBackground()
{
    // A dark wallpaper under a dark logo: the light logo is drawn and named.
    const QString wallpaper = QStringLiteral("/tmp/night.png");
    QVERIFY(writeTestImage(wallpaper, solidImage(QSize(1280, 720), QColor(10, 20, 35))));
    QVERIFY(writeTheme("WallPaper=" + wallpaper.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8()
        + "\nLogoPosition=BottomRight\n"));
    MessageLog log;
    const Image record = getBackground(TestScreen);
    QCOMPARE(record.image.size(), TestScreen.size());
    QCOMPARE(record.properties.value(QLatin1String(Keys::LogoPath)).toString(), WhiteLogo);
    QCOMPARE(keysWithPrefix(record.properties, QStringLiteral("ImageProperty.")).size(), 5);
    QCOMPARE(keysWithPrefix(record.properties, QStringLiteral("LogoProperty.")).size(), 3);
    QCOMPARE(keysWithPrefix(record.properties, QStringLiteral("TaskbarProperty.")).size(), 2);
    QVERIFY(log.contains(QStringLiteral("Overloaded logo: ")));
    log.clear();
    QCOMPARE(getBackground(TestScreen).properties, record.properties);
    QVERIFY(log.contains(QStringLiteral("found in cache with different logo: ")));

    // The logo alone is never overloaded.
    QCOMPARE(
        getLogo(TestScreen).properties.value(QLatin1String(Keys::LogoPath)).toString(), DarkLogo);
}

void TestApi::greeterDefaults()
{
    const PropertyMap wallpaper = getWallpaperOrvProperties(TestScreen);
    QCOMPARE(wallpaper.size(), 5);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageBlur)).userType(), int(QMetaType::Double));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageBlur)).toDouble(), 5.0);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageColorOverlay)).value<QColor>(),
        QColor(0, 0, 0, 100));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePosition)), QVariant(3));
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePath)).value<File>().path,
        QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg"));
    const PropertyMap logo = getLogoOrvProperties(TestScreen);
    QCOMPARE(logo.size(), 4);
    QCOMPARE(logo.value(QLatin1String(Keys::LogoBlur)), QVariant(5));
    QCOMPARE(logo.value(QLatin1String(Keys::LogoPath)), QVariant(DarkLogo));
    QCOMPARE(logo.value(QLatin1String(Keys::LogoPosition)), QVariant(0));
}

void TestApi::greeterSettings_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QVariant>("blur");
    QTest::addColumn<QColor>("overlay");
    QTest::addColumn<int>("logoKeys");
    QTest::addColumn<int>("position");
    QTest::newRow("radius zero") << QByteArray("[background][blur]\nenable=true\nradius=0\n")
                                 << QVariant(-1) << QColor(0, 0, 0, 100) << 4 << 3;
    QTest::newRow("radius negative") << QByteArray("[background][blur]\nradius=-3\n")
                                     << QVariant(-1) << QColor(0, 0, 0, 100) << 4 << 3;
    QTest::newRow("radius three") << QByteArray("[background][blur]\nradius=3\n") << QVariant(3.0)
                                  << QColor(0, 0, 0, 100) << 4 << 3;
    // KConfig reads the radius as an int: a fraction is not one, and the default holds.
    QTest::newRow("radius fraction") << QByteArray("[background][blur]\nradius=2.5\n")
                                     << QVariant(5.0) << QColor(0, 0, 0, 100) << 4 << 3;
    QTest::newRow("blur off") << QByteArray("[background][blur]\nenable=false\nradius=10\n")
                              << QVariant(-1) << QColor(0, 0, 0, 100) << 4 << 3;
    QTest::newRow("overlay alpha")
        << QByteArray("[background]\ncolor_overlay=0,0,0,128\nkeep_proportions=false\n")
        << QVariant(5.0) << QColor(0, 0, 0, 128) << 4 << 2;
    QTest::newRow("overlay out of range") << QByteArray("[background]\ncolor_overlay=300,0,0\n")
                                          << QVariant(5.0) << QColor() << 4 << 3;
    QTest::newRow("overlay empty")
        << QByteArray("[background]\ncolor_overlay=\n") << QVariant(5.0) << QColor() << 4 << 3;
    QTest::newRow("logo blur off") << QByteArray("[background][logo]\nblur=false\n")
                                   << QVariant(5.0) << QColor(0, 0, 0, 100) << 3 << 3;
}

void TestApi::greeterSettings()
{
    QFETCH(QByteArray, settings);
    QFETCH(QVariant, blur);
    QFETCH(QColor, overlay);
    QFETCH(int, logoKeys);
    QFETCH(int, position);
    QVERIFY(writeConfig(DmSettings, settings));
    const PropertyMap wallpaper = getWallpaperOrvProperties(TestScreen);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageBlur)).userType(), blur.userType());
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImageBlur)), blur);
    const QColor actual = wallpaper.value(QLatin1String(Keys::ImageColorOverlay)).value<QColor>();
    QCOMPARE(actual.isValid(), overlay.isValid());
    if (overlay.isValid())
        QCOMPARE(actual, overlay);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePosition)), QVariant(position));
    QCOMPARE(getLogoOrvProperties(TestScreen).size(), logoKeys);
}

void TestApi::greeterBackground()
{
    // The theme's colour does not reach the greeter's generated wallpaper.
    QVERIFY(writeConfig(Home + QStringLiteral("/.vok/paletterc"), "PrimaryColor=#a03020\n"));
    QVERIFY(writeConfig(
        DmSettings, "[background]\npath=vok-default\n[background][logo]\nenable=false\n"));
    const PropertyMap wallpaper = getWallpaperOrvProperties(TestScreen);
    QCOMPARE(wallpaper.value(QLatin1String(Keys::ImagePath)).value<File>().path,
        Utils::getVokDefaultWallpaper(TestScreen, QColor("#5682a3")));
    QVERIFY(!wallpaper.contains(QStringLiteral("ImageProperty.PrimaryColor")));
    QCOMPARE(
        getLogoOrvProperties(TestScreen).value(QLatin1String(Keys::LogoPosition)), QVariant(-1));

    QVERIFY(writeConfig(DmSettings, "[background][logo]\npath=" + DarkLogo.toUtf8() + "\n"));
    MessageLog log;
    const Image record = getOrvBackground(TestScreen);
    QCOMPARE(record.image.size(), TestScreen.size());
    QCOMPARE(keysWithPrefix(record.properties, QStringLiteral("ImageProperty.")).size(), 5);
    QCOMPARE(keysWithPrefix(record.properties, QStringLiteral("LogoProperty.")).size(), 4);
    QVERIFY(keysWithPrefix(record.properties, QStringLiteral("TaskbarProperty.")).isEmpty());
    // No overloading for the greeter.
    QCOMPARE(record.properties.value(QLatin1String(Keys::LogoPath)).toString(), DarkLogo);
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    QCOMPARE(getOrvWallpaper(TestScreen).image.size(), TestScreen.size());
    QCOMPARE(getOrvLogo(TestScreen).image.size(), TestScreen.size());
}

QTEST_MAIN(TestApi)
#include "tst_api.moc"
