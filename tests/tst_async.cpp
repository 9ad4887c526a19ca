// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// Requests off the calling thread, many at once, and the watcher of what decides a background.
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace VokImage;
using namespace TestPaths;

using PropertyMap = QMap<QString, QVariant>;
using Entry = Image (*)(const QRect &);

class TestAsync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void maps_data();
    void maps();
    void generatedAndLogoMaps();
    void backgroundMaps();
    void requestsEqualCalls_data();
    void requestsEqualCalls();
    void requestLifecycle();
    void threadsShareRenders();
    void manyAtOnce();
    void watcher();
    void darkWallpaper();
};

namespace {

const QRect TestScreen(0, 0, 640, 360);
const QString Red = QStringLiteral("/tmp/red.png");
const QString Blue = QStringLiteral("/tmp/blue.png");

void clearCaches()
{
    QDir(CacheDir).removeRecursively();
    QDir(Home + QStringLiteral("/.cache")).removeRecursively();
}

// Waits for @p future while this thread's events run (the watcher's timers among them).
Image resultOf(const QFuture<Lookup> &future, Lookup *finished = nullptr)
{
    QFutureWatcher<Lookup> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<Lookup>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    const Lookup lookup = future.resultCount() > 0 ? future.result() : Lookup();
    if (finished)
        *finished = lookup;
    return lookup.image();
}

QString wallpaperPath(const PropertyMap &map)
{
    return map.value(QLatin1String(Keys::ImagePath)).value<File>().path;
}

bool sameRecord(const Image &a, const Image &b)
{
    return a.properties == b.properties
        && Cache::getFileName(a.properties) == Cache::getFileName(b.properties)
        && a.image.convertToFormat(QImage::Format_ARGB32)
        == b.image.convertToFormat(QImage::Format_ARGB32)
        && a.image.devicePixelRatio() == b.image.devicePixelRatio();
}

// Waits up to @p ms for @p spy to hold @p count signals, then as long again for any more.
int settledCount(QSignalSpy &spy, int count, int ms = 3000)
{
    for (int waited = 0; spy.count() < count && waited < ms; waited += 50)
        QTest::qWait(50);
    QTest::qWait(1000);
    return spy.count();
}

} // namespace

void TestAsync::initTestCase()
{
    QVERIFY(insideSandbox());
}

void TestAsync::init()
{
    QVERIFY(freshSession());
    clearCaches();
    QVERIFY(writeTestImage(Red, solidImage(QSize(800, 600), Qt::red)));
    QVERIFY(writeTestImage(Blue, solidImage(QSize(800, 600), Qt::blue)));
}

namespace {
// Each key of @p map as "key=value", in key order: ints plain, doubles with a fraction, colours
// as #aarrggbb, rectangles as WxH+X+Y and files by their path.
QString describe(const PropertyMap &map)
{
    QStringList parts;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QVariant &v = it.value();
        QString text = v.toString();
        if (v.userType() == QMetaType::Double)
            text = QString::number(v.toDouble(), 'f', 1);
        else if (v.userType() == QMetaType::QColor)
            text = v.value<QColor>().isValid() ? v.value<QColor>().name(QColor::HexArgb)
                                               : QStringLiteral("invalid");
        else if (v.userType() == QMetaType::QRect)
            text = QStringLiteral("%1x%2+%3+%4")
                       .arg(v.toRect().width())
                       .arg(v.toRect().height())
                       .arg(v.toRect().x())
                       .arg(v.toRect().y());
        else if (v.userType() == qMetaTypeId<File>())
            text = v.value<File>().path;
        parts.append(
            QString(it.key()).remove(QStringLiteral("Property")) + QLatin1Char('=') + text);
    }
    return parts.join(QLatin1Char(' '));
}

const QString Screen640 = QStringLiteral("640x360+0+0");
const QString DefaultPath = QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg");

QString desktopWallpaper(int position)
{
    return QStringLiteral(
        "Image.blur=-1 Image.colorOverlay=invalid Image.path=%1 Image.position=%2 Image.screen=%3")
        .arg(DefaultPath)
        .arg(position)
        .arg(Screen640);
}

QString desktopLogo(int position, int taskbar, int height)
{
    return QStringLiteral(
        "Logo.path=fictive Logo.position=%1 Logo.screen=%2 Taskbar.height=%3 Taskbar.position=%4")
        .arg(position)
        .arg(Screen640)
        .arg(height)
        .arg(taskbar);
}

QString greeterWallpaper(
    const QString &blur, const QString &overlay = QStringLiteral("#64000000"), int position = 3)
{
    return QStringLiteral(
        "Image.blur=%1 Image.colorOverlay=%2 Image.path=%3 Image.position=%4 Image.screen=%5")
        .arg(blur, overlay, DefaultPath)
        .arg(position)
        .arg(Screen640);
}

QString greeterLogo(bool blur = true)
{
    return QString(blur ? QStringLiteral("Logo.blur=5 ") : QString()) + QStringLiteral("Logo.path=")
        + DarkLogo + QStringLiteral(" Logo.position=0 Logo.screen=") + Screen640;
}
} // namespace

void TestAsync::maps_data()
{
    QTest::addColumn<bool>("greeter");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("wallpaper");
    QTest::addColumn<QString>("logo");
    QTest::newRow("desktop defaults")
        << false << QByteArray() << desktopWallpaper(3) << desktopLogo(0, 3, 48);
    QTest::newRow("desktop names")
        << false
        << QByteArray(
               "WallPaperPos=Title\nLogoPosition=TopLeft\nTaskbarPosition=Left\nTaskbarHeight=30\n")
        << desktopWallpaper(1) << desktopLogo(4, 1, 30);
    QTest::newRow("desktop, unknown names")
        << false
        << QByteArray("WallPaperPos=Tile\nLogoPosition=NotShow\nTaskbarPosition=Sideways\n")
        << desktopWallpaper(3) << desktopLogo(-1, -1, 48);
    QTest::newRow("desktop, wrong case")
        << false
        << QByteArray(
               "WallPaperPos=crop\nLogoPosition=Nowhere\nTaskbarPosition=top\nTaskbarHeight=abc\n")
        << desktopWallpaper(3) << desktopLogo(-1, -1, 48);
    QTest::newRow("desktop stretch")
        << false << QByteArray("WallPaperPos=Stretch\nLogoPosition=Center\n") << desktopWallpaper(2)
        << desktopLogo(7, 3, 48);
    QTest::newRow("greeter defaults")
        << true << QByteArray() << greeterWallpaper(QStringLiteral("5.0")) << greeterLogo();
    QTest::newRow("radius zero") << true
                                 << QByteArray("[background][blur]\nenable=true\nradius=0\n")
                                 << greeterWallpaper(QStringLiteral("-1")) << greeterLogo();
    QTest::newRow("radius negative") << true << QByteArray("[background][blur]\nradius=-3\n")
                                     << greeterWallpaper(QStringLiteral("-1")) << greeterLogo();
    QTest::newRow("radius three") << true << QByteArray("[background][blur]\nradius=3\n")
                                  << greeterWallpaper(QStringLiteral("3.0")) << greeterLogo();
    // KConfig reads the radius as an int: a fraction is not one, and the default holds.
    QTest::newRow("radius fraction") << true << QByteArray("[background][blur]\nradius=2.5\n")
                                     << greeterWallpaper(QStringLiteral("5.0")) << greeterLogo();
    QTest::newRow("blur off") << true << QByteArray("[background][blur]\nenable=false\nradius=10\n")
                              << greeterWallpaper(QStringLiteral("-1")) << greeterLogo();
    QTest::newRow("overlay alpha")
        << true << QByteArray("[background]\ncolor_overlay=0,0,0,128\nkeep_proportions=false\n")
        << greeterWallpaper(QStringLiteral("5.0"), QStringLiteral("#80000000"), 2) << greeterLogo();
    QTest::newRow("overlay out of range")
        << true << QByteArray("[background]\ncolor_overlay=300,0,0\n")
        << greeterWallpaper(QStringLiteral("5.0"), QStringLiteral("invalid")) << greeterLogo();
    QTest::newRow("overlay empty")
        << true << QByteArray("[background]\ncolor_overlay=\n")
        << greeterWallpaper(QStringLiteral("5.0"), QStringLiteral("invalid")) << greeterLogo();
    QTest::newRow("logo blur off") << true << QByteArray("[background][logo]\nblur=false\n")
                                   << greeterWallpaper(QStringLiteral("5.0")) << greeterLogo(false);
}

// The maps of the entry points, key by key, from the theme or the greeter's settings.
void TestAsync::maps()
{
    QFETCH(bool, greeter);
    QFETCH(QByteArray, settings);
    QFETCH(QString, wallpaper);
    QFETCH(QString, logo);
    QVERIFY(greeter ? writeConfig(DmSettings, settings) : writeTheme(settings));
    QCOMPARE(describe(greeter ? getWallpaperOrvProperties(TestScreen)
                              : getWallpaperProperties(TestScreen)),
        wallpaper);
    QCOMPARE(
        describe(greeter ? getLogoOrvProperties(TestScreen) : getLogoProperties(TestScreen)), logo);
}

void TestAsync::generatedAndLogoMaps()
{
    // The generated wallpaper in the palette's colour, named with it; the word matched exactly.
    QVERIFY(writeTheme("WallPaper=vok-default\n"));
    QVERIFY(writeConfig(Palette, "PrimaryColor=#2f6b5a\n"));
    const PropertyMap generated = getWallpaperProperties(TestScreen);
    QCOMPARE(describe(generated),
        QStringLiteral(
            "Image.PrimaryColor=#ff2f6b5a Image.blur=-1 Image.colorOverlay=invalid "
            "Image.path=/tmp/cache/16:9/vok-default#2f6b5a.svg Image.position=3 Image.screen=")
            + Screen640);
    QVERIFY(!generated.value(QLatin1String(Keys::ImagePath)).value<File>().lastModified.isNull());
    QCOMPARE(getWallpaper(TestScreen).image.size(), TestScreen.size());
    // The theme's colour does not reach the greeter's generated wallpaper.
    QVERIFY(writeConfig(
        DmSettings, "[background]\npath=vok-default\n[background][logo]\nenable=false\n"));
    QCOMPARE(describe(getWallpaperOrvProperties(TestScreen)),
        greeterWallpaper(QStringLiteral("5.0"))
            .replace(DefaultPath, QStringLiteral("/tmp/cache/16:9/vok-default#5682a3.svg")));
    QCOMPARE(
        getLogoOrvProperties(TestScreen).value(QLatin1String(Keys::LogoPosition)), QVariant(-1));
    QVERIFY(writeTheme("WallPaper=Vok-default\nWallPaperPos=Crop\n"));
    QCOMPARE(
        getWallpaperProperties(TestScreen).value(QLatin1String(Keys::ImagePath)).value<File>().path,
        QStringLiteral("Vok-default"));
    MessageLog log;
    QVERIFY(getWallpaper(TestScreen).image.isNull());
    QVERIFY(log.contains(QStringLiteral("Error render image")));

    // Rewriting the wallpaper in place changes its map; rewriting the logo does not.
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8()
        + "\nLogoPosition=BottomRight\n"));
    const PropertyMap wallpaper = getWallpaperProperties(TestScreen);
    const PropertyMap logo = getLogoProperties(TestScreen);
    QVERIFY(setMtime(Red, 2000000) && setMtime(DarkLogo, 2000000));
    QVERIFY(getWallpaperProperties(TestScreen) != wallpaper);
    QCOMPARE(getLogoProperties(TestScreen), logo);
}

// The desktop background names the logo variant drawn (the light one over a dark wallpaper),
// and says so; the greeter's and the logo alone keep the theme's.
void TestAsync::backgroundMaps()
{
    QVERIFY(writeTestImage(Red, solidImage(QSize(1280, 720), QColor(10, 20, 35))));
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8()
        + "\nLogoPosition=BottomRight\n"));
    MessageLog log;
    const Image record = getBackground(TestScreen);
    QCOMPARE(record.image.size(), TestScreen.size());
    PropertyMap expected = getWallpaperProperties(TestScreen);
    expected.insert(getLogoProperties(TestScreen));
    expected[QLatin1String(Keys::LogoPath)] = WhiteLogo;
    QCOMPARE(describe(record.properties), describe(expected));
    QVERIFY(log.contains(QStringLiteral("Overloaded logo: ")));
    QCOMPARE(getBackground(TestScreen).properties, record.properties);
    QVERIFY(log.contains(QStringLiteral("found in cache with different logo: ")));
    QCOMPARE(
        getLogo(TestScreen).properties.value(QLatin1String(Keys::LogoPath)).toString(), DarkLogo);

    QVERIFY(writeConfig(DmSettings, "[background]\npath=" + Red.toUtf8() + "\n"));
    log.clear();
    const Image greeter = getOrvBackground(TestScreen);
    expected = getWallpaperOrvProperties(TestScreen);
    expected.insert(getLogoOrvProperties(TestScreen));
    QCOMPARE(describe(greeter.properties), describe(expected));
    QVERIFY(!log.contains(QStringLiteral("Overloaded logo")));
    QCOMPARE(getOrvWallpaper(TestScreen).image.size(), TestScreen.size());
    QCOMPARE(getOrvLogo(TestScreen).image.size(), TestScreen.size());
}

void TestAsync::requestsEqualCalls_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("side");
    QTest::addColumn<void *>("entry");
    const struct
    {
        const char *name;
        Lookup::Layer layer;
        Lookup::Side side;
        Entry entry;
    } pairs[] = {
        { "wallpaper", Lookup::Wallpaper, Lookup::Desktop, &getWallpaper },
        { "logo", Lookup::Logo, Lookup::Desktop, &getLogo },
        { "background", Lookup::Background, Lookup::Desktop, &getBackground },
        { "greeter wallpaper", Lookup::Wallpaper, Lookup::Greeter, &getOrvWallpaper },
        { "greeter logo", Lookup::Logo, Lookup::Greeter, &getOrvLogo },
        { "greeter background", Lookup::Background, Lookup::Greeter, &getOrvBackground },
    };
    for (const auto &pair : pairs)
        QTest::addRow("%s", pair.name)
            << int(pair.layer) << int(pair.side) << reinterpret_cast<void *>(pair.entry);
}

// A lookup, read or requested, gives the record of the call of the same layer and side: map,
// file name and pixels, rendered (cold) and from the cache (hit), with its origin; at ratio 2
// read and request agree; a missing picture says why, the same way.
void TestAsync::requestsEqualCalls()
{
    QFETCH(int, layer);
    QFETCH(int, side);
    QFETCH(void *, entry);
    const auto called = reinterpret_cast<Entry>(entry);
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
    QVERIFY(writeConfig(DmSettings, "[background]\npath=" + Blue.toUtf8() + "\n"));
    const auto lookupAt = [layer, side](qreal ratio) {
        return Lookup(Screen(TestScreen, ratio), Lookup::Layer(layer), Lookup::Side(side));
    };

    Lookup requested;
    const Image cold = resultOf(lookupAt(1).request(), &requested);
    QVERIFY(!cold.image.isNull());
    QCOMPARE(requested.origin(), Cache::Origin::Rendered);
    QCOMPARE(requested.error(), Lookup::NoError);
    // The desktop background's record names the logo variant drawn.
    if (layer != Lookup::Background || side == Lookup::Greeter)
        QCOMPARE(lookupAt(1).properties(), cold.properties);
    clearCaches();
    const Image reference = called(TestScreen);
    QVERIFY(sameRecord(cold, reference));
    Lookup read = lookupAt(1);
    QVERIFY(sameRecord(read.read(), reference));
    QCOMPARE(read.origin(), Cache::Origin::SharedCache);
    QVERIFY(sameRecord(resultOf(lookupAt(1).request(), &requested), reference));
    QCOMPARE(requested.origin(), Cache::Origin::SharedCache);

    Lookup sharp = lookupAt(2);
    const Image twice = resultOf(sharp.request());
    QCOMPARE(twice.image.size(), TestScreen.size() * 2);
    QVERIFY(sameRecord(sharp.read(), twice));

    // A wallpaper that is gone: no picture, and why.
    QVERIFY(writeTheme("WallPaper=/tmp/gone.png\nLogoPixmap=/tmp/gone.svg\nLogoPos=Center\n"));
    QVERIFY(
        writeConfig(DmSettings, "[background]\npath=/tmp/gone.png\n[logo]\npath=/tmp/gone.svg\n"));
    if (layer == Lookup::Logo)
        return;
    read = lookupAt(1);
    QVERIFY(read.read().image.isNull());
    QCOMPARE(read.error(), Lookup::PictureError);
    QCOMPARE(read.errorString(),
        QStringLiteral("RenderImage::render() path is empty or file not exists"));
    const Image none = resultOf(lookupAt(1).request(), &requested);
    QVERIFY(none.image.isNull());
    QCOMPARE(requested.error(), Lookup::PictureError);
    QCOMPARE(requested.errorString(), read.errorString());
    // Logging rules that write nothing keep the reason all the same.
    QLoggingCategory::setFilterRules(QStringLiteral("vokimage*=false"));
    read = lookupAt(1);
    read.read();
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(read.errorString(), requested.errorString());
}

// The caller's thread gets its future at once and runs on while it renders; a request
// cancelled while it waits for a worker is dropped (no result, nothing stored); one made once
// the application object is gone finishes empty (run in a child, see main()).
void TestAsync::requestLifecycle()
{
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\n"));
    QList<QFuture<Lookup>> busy, waiting;
    for (int i = 0; i < QThread::idealThreadCount(); ++i)
        busy.append(Lookup(Screen(QRect(0, 0, 3000 + i, 2000))).request());
    for (int i = 0; i < 6; ++i)
        waiting.append(Lookup(Screen(QRect(0, 0, 300 + i, 200))).request());
    for (QFuture<Lookup> &future : waiting)
        future.cancel();
    QVERIFY(!busy.first().isFinished());
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(1);
    for (const QFuture<Lookup> &future : qAsConst(busy))
        QVERIFY(!resultOf(future).image.isNull());
    QVERIFY2(ticks > 0, "the calling thread's timer did not fire while the requests ran");
    for (int i = 0; i < 6; ++i) {
        waiting[i].waitForFinished();
        QVERIFY(waiting[i].isCanceled() && waiting[i].resultCount() == 0);
        QVERIFY(!Cache::isCacheExists(getWallpaperProperties(QRect(0, 0, 300 + i, 200))));
    }
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--after-application") });
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
}

// Threads asking for one map at once share one render, stored or not; with stores in the
// background, the pictures return at once and, after waitForStores(), are stored, shared and
// kept.
void TestAsync::threadsShareRenders()
{
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
    const auto together = [](const QVector<Screen> &screens, QVector<Image> *images,
                              QVector<Cache::Origin> *origins) {
        *images = QVector<Image>(screens.size());
        *origins = QVector<Cache::Origin>(screens.size(), Cache::Origin::None);
        std::vector<std::thread> threads;
        for (int i = 0; i < screens.size(); ++i)
            threads.emplace_back([=] {
                (*images)[i]
                    = readLookup(screens[i], Lookup::Background, Lookup::Desktop, &(*origins)[i]);
            });
        for (std::thread &thread : threads)
            thread.join();
    };
    QVector<Image> images;
    QVector<Cache::Origin> origins;
    together(QVector<Screen>(6, Screen(QRect(0, 0, 3840, 2160))), &images, &origins);
    QCOMPARE(origins.count(Cache::Origin::Rendered), 1);
    QCOMPARE(origins.count(Cache::Origin::SharedCache), 5);
    for (const Image &image : qAsConst(images))
        QVERIFY(!image.image.isNull() && sameRecord(image, images.first()));

    // With nowhere to store it, the threads still share the one render.
    clearCaches();
    QVERIFY(writeAll(CacheDir, "not a directory"));
    qputenv("XDG_CACHE_HOME", "/proc/vok-none");
    together(QVector<Screen>(6, Screen(QRect(0, 0, 3840, 2160))), &images, &origins);
    qunsetenv("XDG_CACHE_HOME");
    QVERIFY(QFile::remove(CacheDir));
    QCOMPARE(origins.count(Cache::Origin::Rendered), 1);
    QCOMPARE(origins.count(Cache::Origin::SharedCache), 5);

    clearCaches();
    Cache::setStoreInBackground(true);
    together({ Screen(QRect(0, 0, 1920, 1080)), Screen(QRect(0, 0, 1280, 1024), 2),
                 Screen(QRect(1920, 0, 2560, 1440)) },
        &images, &origins);
    Cache::waitForStores();
    Cache::setStoreInBackground(false);
    QCOMPARE(origins.count(Cache::Origin::Rendered), 3);
    for (const Image &image : qAsConst(images)) {
        const QString name = Cache::getFileName(image.properties);
        QVERIFY(QFile::exists(Cache::privateCacheDir() + QStringLiteral("/kept/") + name));
        bool ok = false;
        Image stored = Cache::loadImageCache(image.properties, &ok);
        stored.image.setDevicePixelRatio(image.image.devicePixelRatio());
        QVERIFY(ok && sameRecord(stored, image));
    }
}

namespace {

int requestAfterApplication(int argc, char **argv)
{
    const auto picture = [] {
        QFuture<Lookup> future
            = Lookup(Screen(QRect(0, 0, 64, 48)), Lookup::Wallpaper, Lookup::Desktop).request();
        future.waitForFinished();
        return future.resultCount() ? future.result().image().image : QImage();
    };
    {
        QGuiApplication app(argc, argv);
        if (!writeTheme("WallPaper=" + Red.toUtf8() + "\n") || picture().isNull())
            return 1;
    }
    if (!picture().isNull())
        return 2;
    QGuiApplication again(argc, argv);
    return picture().isNull() ? 3 : 0;
}

} // namespace

// Many requests at once, desktop and greeter, same and different screens, under eviction
// pressure while the theme changes its wallpaper: every record is whole and what its map says,
// and every stored file reads back.
void TestAsync::manyAtOnce()
{
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\n"));
    QVERIFY(writeConfig(DmSettings,
        "[background]\npath=" + Blue.toUtf8()
            + "\ncolor_overlay=0, 0, 0, "
              "0\n[background][blur]\nenable=false\n[background][logo]\nenable=false\n"));
    // Old files of this user fill the shared directory up to its limit.
    for (int i = 0; i < 12; ++i)
        QVERIFY(writeAll(
                    CacheDir + QStringLiteral("/old-%1").arg(i), QByteArray(8 << 20, char('a' + i)))
            && setMtime(CacheDir + QStringLiteral("/old-%1").arg(i), 1000000 + i));
    // The theme rewritten as settings editors write it: whole, by a rename.
    std::atomic<bool> stop { false };
    std::thread editor([&stop] {
        for (int i = 0; !stop; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(7))) {
            writeAll(Theme + QStringLiteral(".new"),
                "WallPaper=" + (i % 2 ? Blue : Red).toUtf8() + "\n");
            ::rename(QFile::encodeName(Theme + QStringLiteral(".new")).constData(),
                QFile::encodeName(Theme).constData());
        }
    });
    QList<QFuture<Lookup>> requests;
    for (int round = 0; round < 4; ++round)
        for (const QRect &screen : { QRect(0, 0, 1920, 1080), QRect(0, 0, 1280, 1024),
                 QRect(1920, 0, 2560, 1440), QRect(0, 0, 800, 1280) })
            requests << Lookup(Screen(screen, round % 2 ? 2 : 1)).request()
                     << Lookup(Screen(screen), Lookup::Background, Lookup::Greeter).request()
                     << Lookup(Screen(screen), Lookup::Wallpaper).request();
    for (const QFuture<Lookup> &future : qAsConst(requests)) {
        const Image record = resultOf(future);
        QCOMPARE(record.image.size(),
            record.properties.value(QLatin1String(Keys::ImageScreen)).toRect().size());
        const QRgb middle
            = record.image.pixel(record.image.width() / 2, record.image.height() / 2) | 0xff000000u;
        QCOMPARE(
            middle, wallpaperPath(record.properties) == Red ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    }
    stop = true;
    editor.join();
    // Every stored record reads back whole.
    int stored = 0;
    for (const QFuture<Lookup> &future : qAsConst(requests)) {
        const Image record = future.result().image();
        bool ok = false;
        Image back = Cache::loadImageCache(record.properties, &ok);
        back.image.setDevicePixelRatio(record.image.devicePixelRatio());
        QVERIFY(!ok || sameRecord(back, record));
        stored += ok;
    }
    QVERIFY(stored > 0);
    // The generated wallpaper of each ratio, made by several workers at once.
    clearCaches();
    QVERIFY(writeTheme("WallPaper=vok-default\n"));
    const QList<QRect> ratios = { QRect(0, 0, 1920, 1080), QRect(0, 0, 1280, 1024),
        QRect(0, 0, 800, 1280), QRect(0, 0, 2560, 1080) };
    QList<QFuture<Lookup>> generated;
    for (int i = 0; i < 12; ++i)
        generated.append(Lookup(Screen(ratios[i % 4]), Lookup::Wallpaper).request());
    for (int i = 0; i < generated.size(); ++i)
        QVERIFY(sameRecord(
            resultOf(generated[i]), readLookup(Screen(ratios[i % 4]), Lookup::Wallpaper)));
}

// One signal for each change that changes a map (the theme, the palette, the wallpaper
// replaced by a rename, the desktop folder's entry file and the theme's folder, each made
// later); none for the library's own touch or an edit that changes no value. The greeter's
// watcher follows its own settings, and the theme once switched to the desktop.
void TestAsync::watcher()
{
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\n"));
    BackgroundWatcher watcher;
    QSignalSpy spy(&watcher, &BackgroundWatcher::changed);
    QVERIFY(watcher.watchedFiles().contains(Theme));
    QVERIFY(!getBackground(TestScreen).image.isNull());
    QVERIFY(writeTheme("# a comment\nWallPaper=" + Red.toUtf8() + "\n"));
    QCOMPARE(settledCount(spy, 1, 600), 0);
    const QString next = QStringLiteral("/tmp/next.png");
    const QString desktop = Home + QStringLiteral("/Desktop");
    const QList<std::function<bool()>> changes {
        [] { return writeTheme("WallPaper=" + Blue.toUtf8() + "\n"); },
        [] {
            return writeConfig(Palette, "[Color]\nPrimaryColor=#102030\n")
                && writeTheme("WallPaper=vok-default\n");
        },
        [] { return writeConfig(Palette, "[Color]\nPrimaryColor=#304050\n"); },
        [] { return writeTheme("WallPaper=" + Blue.toUtf8() + "\n"); },
        [&next] {
            return writeTestImage(next, solidImage(QSize(800, 600), Qt::green))
                && setMtime(next, 3000000)
                && ::rename(
                       QFile::encodeName(next).constData(), QFile::encodeName(Blue).constData())
                == 0;
        },
        [&desktop] {
            QDir().mkpath(desktop);
            QTest::qWait(500);
            return writeConfig(desktop + QStringLiteral("/.directory"),
                "[Desktop Entry]\nX-VOK-WallPaper=" + Red.toUtf8() + "\n");
        },
        [] {
            QDir(QFileInfo(Theme).absolutePath()).removeRecursively();
            QTest::qWait(500);
            return writeTheme(
                "WallPaper=" + Blue.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n");
        },
    };
    for (int i = 0; i < changes.size(); ++i) {
        QVERIFY(changes[i]());
        QVERIFY2(settledCount(spy, i + 1) == i + 1, qPrintable(QString::number(i)));
    }
    QCOMPARE(watcher.revision(), changes.size());

    QVERIFY(QFile::remove(desktop + QStringLiteral("/.directory")));
    BackgroundWatcher greeter(true);
    QVERIFY(greeter.isGreeter() && greeter.watchedFiles().contains(DmSettings));
    QSignalSpy greeterSpy(&greeter, &BackgroundWatcher::changed);
    QVERIFY(writeConfig(DmSettings, "[background]\npath=" + Red.toUtf8() + "\n"));
    QCOMPARE(settledCount(greeterSpy, 1), 1);
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\n"));
    QCOMPARE(settledCount(greeterSpy, 2, 600), 1);
    QSignalSpy switched(&greeter, &BackgroundWatcher::greeterChanged);
    greeter.setGreeter(false);
    QCOMPARE(switched.count(), 1);
    QVERIFY(writeTheme("WallPaper=" + Blue.toUtf8() + "\n"));
    QCOMPARE(settledCount(greeterSpy, 2), 2);
}

namespace {

// With the portal preferring dark: the theme's dark wallpaper, named in the map; then, told
// by the watcher, the light one once the portal prefers light.
int followScheme(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const auto pathOf = [](const PropertyMap &map) {
        return map.value(QLatin1String(Keys::ImagePath)).value<File>().path;
    };
    PropertyMap map = getWallpaperProperties(TestScreen);
    if (pathOf(map) != Blue || map.value(QLatin1String(Keys::ImageColorScheme)) != "dark")
        return 2;
    if (getBackground(TestScreen).image.pixelColor(10, 10) != QColor(Qt::blue))
        return 3;
    BackgroundWatcher watcher;
    QObject::connect(&watcher, &BackgroundWatcher::changed, &app, &QCoreApplication::quit);
    QTimer::singleShot(20000, &app, [&app] { app.exit(4); });
    printf("watching\n");
    fflush(stdout);
    if (const int code = app.exec())
        return code;
    map = getWallpaperProperties(TestScreen);
    if (pathOf(map) != Red || map.contains(QLatin1String(Keys::ImageColorScheme)))
        return 5;
    return getBackground(TestScreen).image.pixelColor(10, 10) == QColor(Qt::red) ? 0 : 6;
}

} // namespace

// WallPaperDark while the settings portal prefers dark, followed as the user switches; without
// a portal the theme's WallPaper holds. The portal runs on a private session bus.
void TestAsync::darkWallpaper()
{
    QVERIFY(writeTheme("WallPaper=" + Red.toUtf8() + "\nWallPaperDark=" + Blue.toUtf8() + "\n"));
    PropertyMap map = getWallpaperProperties(TestScreen);
    QCOMPARE(map.value(QLatin1String(Keys::ImagePath)).value<File>().path, Red);
    QVERIFY(!map.contains(QLatin1String(Keys::ImageColorScheme)));

    SettingsPortal portal;
    QVERIFY2(portal.start(1), "no private session bus with a settings portal");
    QProcess session;
    session.setProcessEnvironment(portal.environment());
    session.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    session.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--follow-scheme") });
    QVERIFY2(waitForLine(session, "watching"), session.readAllStandardError().constData());
    QVERIFY(portal.set(2));
    QVERIFY(session.waitForFinished(30000));
    QVERIFY2(session.exitCode() == 0,
        qPrintable(QString::number(session.exitCode()) + session.readAllStandardError()));
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--after-application") == 0)
        return requestAfterApplication(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--follow-scheme") == 0)
        return followScheme(argc, argv);
    QGuiApplication app(argc, argv);
    TestAsync test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_async.moc"
