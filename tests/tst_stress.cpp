// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace VokImage;
using namespace TestPaths;

using PropertyMap = QMap<QString, QVariant>;

// Load, faults and hostile input.
class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void processesAboveLimit();
    void killedWhileStoring();
    void cacheDirectoryFaults();
    void hostileConfiguration();
};

static const QString Wallpaper = QStringLiteral("/tmp/stress/wallpaper.png");
static const QRegularExpression CacheName(QStringLiteral("^[0-9a-f]{32}$"));

static QImage rgb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

// Every file named like a cache file loads as the record of the map it holds; returns how
// many do not.
static int unloadableCacheFiles(int *checked)
{
    int bad = 0;
    *checked = 0;
    const QStringList names = QDir(CacheDir).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        if (!CacheName.match(name).hasMatch())
            continue;
        ++*checked;
        const PropertyMap map
            = Utils::ByteArrayToProperties(readAll(CacheDir + QLatin1Char('/') + name));
        bool ok = false;
        if (map.isEmpty() || Cache::getFileName(map) != name
            || Cache::loadImageCache(map, &ok).image.isNull() || !ok)
            ++bad;
    }
    return bad;
}

static QImage photoLike(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(20, 30, 60));
    gradient.setColorAt(1, QColor(60, 110, 90));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    return image;
}

static const QList<QRect> StressScreens { QRect(0, 0, 320, 200), QRect(0, 0, 200, 320),
    QRect(0, 0, 400, 300), QRect(1920, 0, 256, 256) };

static Image request(int kind, int screen)
{
    return kind == 0 ? getBackground(StressScreens.at(screen))
                     : getOrvBackground(StressScreens.at(screen));
}

static QString referencePath(int kind, int screen)
{
    return QStringLiteral("/tmp/stress/reference-%1-%2.png").arg(kind).arg(screen);
}

// Child processes are started afresh (not forked), so that Qt's threads work in them.
static QProcess *startChild(const QStringList &arguments)
{
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(),
        QStringList { QStringLiteral("--child") } + arguments);
    return process;
}

// "requests P N": N mixed requests, each checked against the references and stored again.
static int requestsChild(int p, int requests)
{
    QList<QImage> references;
    for (int kind = 0; kind < 2; ++kind)
        for (int s = 0; s < StressScreens.size(); ++s)
            references.append(rgb(QImage(referencePath(kind, s))));
    int failures = 0;
    for (int i = 0; i < requests; ++i) {
        const int kind = (i + p) % 2;
        const int s = (i / 2 + p) % StressScreens.size();
        const Image record = request(kind, s);
        if (rgb(record.image) != references.at(kind * StressScreens.size() + s))
            ++failures;
        // Stored again, so that eviction runs on every request.
        Cache::saveImageCache(record);
    }
    return qMin(failures, 100);
}

static QImage noiseImage(const QSize &size)
{
    QImage noise(size, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
    return noise;
}

static PropertyMap noiseMap()
{
    PropertyMap map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(Wallpaper));
    map[QLatin1String(Keys::ImageScreen)] = QRect(0, 0, 900, 600);
    return map;
}

// "store": stores one large record over and over until killed.
static int storeChild()
{
    const Image record { noiseMap(), noiseImage(QSize(900, 600)) };
    for (;;)
        Cache::saveImageCache(record);
}

// Same colours, pixel by pixel (no conversion threads: safe in a forked child).
static bool sameColours(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) | 0xff000000u) != (b.pixel(x, y) | 0xff000000u))
                return false;
    return true;
}

void TestStress::initTestCase()
{
    QVERIFY(insideSandbox());
    ::umask(022);
}

void TestStress::init()
{
    QDir(Home).removeRecursively();
    QVERIFY(QDir().mkpath(Home));
    qputenv("HOME", Home.toLocal8Bit());
    QDir(CacheDir).removeRecursively();
    QVERIFY(writeTestImage(Wallpaper, photoLike(QSize(1200, 800))));
    QVERIFY(writeAll(
        Theme, "WallPaper=" + Wallpaper.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8() + "\n"));
    QVERIFY(writeAll(DmSettings, "[background]\npath=" + Wallpaper.toUtf8() + "\n"));
}

void TestStress::processesAboveLimit()
{
    for (int kind = 0; kind < 2; ++kind)
        for (int s = 0; s < StressScreens.size(); ++s) {
            const Image record = request(kind, s);
            QVERIFY(!record.image.isNull());
            QVERIFY(record.image.save(referencePath(kind, s)));
        }
    // Old files well above the limit (real data: sparse files weigh nothing), so stores evict.
    const int fillers = 3000;
    const QByteArray filler(100 * 1024, 'x');
    for (int i = 0; i < fillers; ++i) {
        const QString path
            = CacheDir + QStringLiteral("/filler-%1").arg(i, 4, 10, QLatin1Char('0'));
        QVERIFY(writeAll(path, filler));
        QVERIFY(setMtime(path, 1000 + i));
    }
    QVERIFY(Cache::getCacheSize() > Cache::MaxCacheSize);

    const int processes = 8;
    const int requests = 300;
    QList<QProcess *> children;
    for (int p = 0; p < processes; ++p)
        children.append(startChild(
            { QStringLiteral("requests"), QString::number(p), QString::number(requests) }));
    int failed = 0;
    int crashed = 0;
    for (QProcess *child : children) {
        child->waitForFinished(-1);
        if (child->exitStatus() != QProcess::NormalExit)
            ++crashed;
        else
            failed += child->exitCode();
        delete child;
    }
    const int left = QDir(CacheDir).entryList({ QStringLiteral("filler-*") }, QDir::Files).size();
    int checked = 0;
    const int bad = unloadableCacheFiles(&checked);
    QCOMPARE(crashed, 0);
    QCOMPARE(failed, 0);
    QCOMPARE(bad, 0);
    QVERIFY(checked >= StressScreens.size() * 2);
    QVERIFY(fillers - left >= processes * requests / 2);
}

void TestStress::killedWhileStoring()
{
    const PropertyMap map = noiseMap();
    const QImage noise = noiseImage(QSize(900, 600));
    // One complete store first: every kill must leave that file, or a newer complete one.
    QVERIFY(Cache::saveImageCache(Image { map, noise }));
    const int kills = 50;
    quint32 delay = 12345;
    for (int i = 0; i < kills; ++i) {
        QProcess *child = startChild({ QStringLiteral("store") });
        QVERIFY(child->waitForStarted());
        delay = delay * 1103515245u + 12345u;
        QThread::usleep(30000 + (delay >> 8) % 150000);
        ::kill(pid_t(child->processId()), SIGKILL);
        child->waitForFinished(-1);
        delete child;
        bool ok = false;
        const Image loaded = Cache::loadImageCache(map, &ok);
        QVERIFY2(ok, "a killed store left a damaged or missing cache file");
        QCOMPARE(rgb(loaded.image), rgb(noise));
    }
    const Image next = getWallpaper(QRect(0, 0, 300, 200));
    QCOMPARE(next.image.size(), QSize(300, 200));
}

void TestStress::cacheDirectoryFaults()
{
    const QRect screen(0, 0, 320, 200);
    const Image reference = getWallpaper(screen);
    QVERIFY(!reference.image.isNull());
    const PropertyMap earlier = reference.properties;
    const QString earlierFile = CacheDir + QLatin1Char('/') + Cache::getFileName(earlier);
    const QByteArray earlierBytes = readAll(earlierFile);
    // Read-only for this user (root ignores modes, so another user asks).
    QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 0555), 0);
    const int status = runAsOtherUser([screen, reference]() {
        qputenv("XDG_CACHE_HOME", "/tmp/other-cache");
        MessageLog log;
        const Image hit = getWallpaper(screen);
        if (!sameColours(hit.image, reference.image) || log.count(QStringLiteral("Error ")) != 0)
            return 3;
        const Image miss = getLogo(screen);
        if (miss.image.isNull())
            return 4;
        // The failed shared store, then the private directory takes the file.
        if (!log.contains(QStringLiteral("Error open file for write"))
            || log.count(QStringLiteral("Error ")) != 1)
            return 5;
        if (!QFile::exists(
                QStringLiteral("/tmp/other-cache/vokimage/") + Cache::getFileName(miss.properties)))
            return 6;
        return 0;
    });
    if (status != -1)
        QCOMPARE(status, 0);
    QCOMPARE(::chmod(QFile::encodeName(CacheDir).constData(), 01777), 0);
    QCOMPARE(readAll(earlierFile), earlierBytes);

    // Deleted between calls: made again.
    QVERIFY(QDir(CacheDir).removeRecursively());
    QCOMPARE(rgb(getWallpaper(screen).image), rgb(reference.image));
    QVERIFY(Cache::isCacheExists(earlier));
}

void TestStress::hostileConfiguration()
{
    const QString theme = Theme;
    const QString defaultWallpaper = QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg");
    auto wallpaperPath = []() {
        return getWallpaperProperties(QRect(0, 0, 64, 64))
            .value(QLatin1String(Keys::ImagePath))
            .value<File>()
            .path;
    };

    // Binary garbage.
    QByteArray garbage(65536, '\0');
    quint32 seed = 99;
    for (char &c : garbage)
        c = char((seed = seed * 1664525u + 1013904223u) >> 24);
    QVERIFY(writeAll(theme, garbage));
    QVERIFY(writeAll(DmSettings, garbage));
    QVERIFY(!wallpaperPath().isNull());
    QCOMPARE(getWallpaperOrvProperties(QRect(0, 0, 64, 64)).size(), 5);

    // Changing while being read: every answer is one of the two contents, or the default.
    std::atomic<bool> stop { false };
    std::thread writer([&stop, &theme]() {
        for (int i = 0; !stop; ++i)
            writeAll(theme, i % 2 ? "WallPaper=/tmp/a.png\n" : "WallPaper=/tmp/bbbb.png\n# x\n");
    });
    int odd = 0;
    for (int i = 0; i < 100; ++i) {
        const QString path = wallpaperPath();
        if (path != QLatin1String("/tmp/a.png") && path != QLatin1String("/tmp/bbbb.png")
            && path != defaultWallpaper)
            ++odd;
    }
    stop = true;
    writer.join();
    QCOMPARE(odd, 0);
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 3 && arguments.at(1) == QLatin1String("--child")) {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        if (arguments.at(2) == QLatin1String("requests") && arguments.size() == 5)
            return requestsChild(arguments.at(3).toInt(), arguments.at(4).toInt());
        if (arguments.at(2) == QLatin1String("store"))
            return storeChild();
        return 2;
    }
    TestStress test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_stress.moc"
