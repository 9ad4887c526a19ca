// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace VokImage;

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void getColor_data();
    void getColor();
    void shades();
    void ratio_data();
    void ratio();
    void generated();
    void templateFailures();
    void sharedDirectories();
    void plantedFiles();
    void everyTemplateRenders();
};

static const QString CacheRoot = QStringLiteral("/tmp/cache");

static mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

static uid_t ownerOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

void TestUtils::initTestCase()
{
    ::umask(022);
}

void TestUtils::init()
{
    QVERIFY(insideSandbox());
    QDir(CacheRoot).removeRecursively();
}

void TestUtils::getColor_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("empty") << QString() << QColor();
    QTest::newRow("red") << "255,0,0" << QColor(255, 0, 0);
    QTest::newRow("alpha") << "0,0,0,128" << QColor(0, 0, 0, 128);
    QTest::newRow("empty part") << "255,,0" << QColor(255, 0, 0);
    QTest::newRow("spaces") << "0, 0, 0, 100" << QColor(0, 0, 0, 100);
    QTest::newRow("words") << "red,green,blue" << QColor(0, 0, 0);
    QTest::newRow("too big") << "256,0,0" << QColor();
    QTest::newRow("negative") << "-1,0,0" << QColor();
    QTest::newRow("alpha too big") << "0,0,0,300" << QColor();
    QTest::newRow("hex") << "#5682a3" << QColor(0x56, 0x82, 0xa3);
    QTest::newRow("name") << "steelblue" << QColor(70, 130, 180);
    QTest::newRow("two parts") << "1,2" << QColor();
    QTest::newRow("five parts") << "1,2,3,4,5" << QColor();
    QTest::newRow("unknown name") << "notacolor" << QColor();
}

void TestUtils::getColor()
{
    QFETCH(QString, text);
    QFETCH(QColor, expected);
    const QColor color = Utils::getColor(text);
    QCOMPARE(color.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(color.rgba(), expected.rgba());
}

void TestUtils::shades()
{
    const QColor translucent(10, 20, 30, 40);
    QCOMPARE(Utils::CreateShadeColor(translucent, 0).rgba(), QColor(10, 20, 30).rgba());
    QCOMPARE(Utils::CreateShadeColor(Qt::black, 0.5).name(), QStringLiteral("#808080"));
    QCOMPARE(Utils::CreateShadeColor(Qt::white, -0.5).name(), QStringLiteral("#808080"));
    QCOMPARE(Utils::CreateShadeColor(Qt::black, -0.7).name(), QStringLiteral("#000000"));
    QCOMPARE(Utils::CreateShadeColor(Qt::white, 0.3).name(), QStringLiteral("#ffffff"));
    // Halves go upwards: 1 + (0 - 1) * 0.5 = 0.5 -> 1; 3 + (255 - 3) * 0.5 = 129.
    QCOMPARE(Utils::CreateShadeColor(QColor(1, 3, 0), -0.5).red(), 1);
    QCOMPARE(Utils::CreateShadeColor(QColor(1, 3, 0), 0.5).green(), 129);
    QVERIFY(!Utils::CreateShadeColor(Qt::black, 2).isValid());

    const auto names = [](const QList<QPair<QString, QColor>> &palette) {
        QStringList list;
        for (const auto &shade : palette)
            list << shade.first + QLatin1Char('=') + shade.second.name();
        return list.join(QLatin1Char(' '));
    };
    QCOMPARE(names(Utils::CreateShadeColors(QColor("#5682a3"))),
        QStringLiteral("color900=#ccdae3 color800=#abc1d1 color700=#8eacc2 color600=#7297b2 "
                       "color500=#5682a3 color400=#4d7593 color300=#456882 color200=#3c5b72 "
                       "color100=#344e62 color50=#2b4152"));
    QCOMPARE(names(Utils::CreateShadeColors(QColor())),
        QStringLiteral("color900=#b3b3b3 color800=#808080 color700=#555555 color600=#2a2a2a "
                       "color500=#000000 color400=#000000 color300=#000000 color200=#000000 "
                       "color100=#000000 color50=#000000"));
}

void TestUtils::ratio_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("expected");
    const QList<QPair<QSize, const char *>> rows = {
        { { 1920, 1080 }, "16:9" },
        { { 1366, 768 }, "16:9" },
        { { 1280, 800 }, "16:10" },
        { { 1920, 1200 }, "16:10" },
        { { 1024, 768 }, "4:3" },
        { { 800, 600 }, "4:3" },
        { { 1280, 1024 }, "4:3" },
        { { 2560, 1080 }, "21:9" },
        { { 3440, 1440 }, "21:9" },
        { { 2000, 1000 }, "21:9" },
        { { 1080, 1920 }, "9:16" },
        { { 600, 1000 }, "10:16" },
        { { 768, 1024 }, "3:4" },
        { { 1000, 1000 }, "3:4" },
        { { 1010, 1000 }, "4:3" },
        { { 0, 0 }, "21:9" },
        { { 100, 0 }, "21:9" },
        { { 0, 100 }, "9:21" },
        { { 1080, 2600 }, "9:21" },
        { { 5000, 1000 }, "21:9" },
    };
    for (const auto &row : rows)
        QTest::addRow("%dx%d", row.first.width(), row.first.height())
            << row.first << QString::fromLatin1(row.second);
}

void TestUtils::ratio()
{
    QFETCH(QSize, size);
    QFETCH(QString, expected);
    const QPair<int, int> ratio = wallpaperSizeRatio(size);
    QCOMPARE(QStringLiteral("%1:%2").arg(ratio.first).arg(ratio.second), expected);
}

void TestUtils::generated()
{
    const QString path
        = Utils::getVokDefaultWallpaper(QRect(QPoint(0, 0), QPoint(1919, 1079)), QColor("#5682a3"));
    QCOMPARE(path, QStringLiteral("/tmp/cache/16:9/vok-default#5682a3.svg"));
    const QByteArray text = readAll(path);
    QVERIFY(text.contains("#5682a3"));
    QVERIFY(text.contains("#ccdae3"));
    QVERIFY(text.contains("#2b4152"));
    QVERIFY2(!text.contains("#color"), "a placeholder is left");
    QCOMPARE(modeOf(path), mode_t(0644));

    // Found again without reading the template, even when that has changed.
    const QString templ = QStringLiteral("/usr/share/wallpapers/16:9/vok-default.svg.in");
    const QByteArray original = readAll(templ);
    QVERIFY(writeAll(templ, "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"));
    QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3")), path);
    QCOMPARE(readAll(path), text);
    QVERIFY(writeAll(templ, original));

    // "#color500" survives the later replacement of "#color50"; other text is kept.
    QVERIFY(writeAll(templ, "a #color500 b #color50 c #COLOR50 d #123456 e #color5000\n"));
    const QString black = Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor());
    QCOMPARE(black, QStringLiteral("/tmp/cache/16:9/vok-default#000000.svg"));
    QCOMPARE(readAll(black), QByteArray("a #000000 b #000000 c #COLOR50 d #123456 e #0000000\n"));
    QVERIFY(writeAll(templ, original));
}

void TestUtils::templateFailures()
{
    const QString templ = QStringLiteral("/usr/share/wallpapers/3:4/vok-default.svg.in");
    const QByteArray original = readAll(templ);
    QVERIFY(QFile::remove(templ));
    {
        MessageLog log;
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red).isNull());
        QVERIFY(log.contains(QStringLiteral("Can't open default wallpaper:  \"%1\"").arg(templ)));
        QVERIFY(QFileInfo(QStringLiteral("/tmp/cache/3:4")).isDir());
    }
    // A link at the template's name is not read.
    QVERIFY(writeAll(QStringLiteral("/tmp/elsewhere.svg.in"), original));
    QVERIFY(QFile::link(QStringLiteral("/tmp/elsewhere.svg.in"), templ));
    {
        MessageLog log;
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red).isNull());
        QVERIFY(log.contains(QStringLiteral("Can't open default wallpaper: ")));
    }
    QVERIFY(QFile::remove(templ));
    QVERIFY(writeAll(templ, original));
    QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red),
        QStringLiteral("/tmp/cache/3:4/vok-default#ff0000.svg"));
}

void TestUtils::sharedDirectories()
{
    QVERIFY(!Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), Qt::blue).isNull());
    QCOMPARE(modeOf(CacheRoot), mode_t(01777));
    QCOMPARE(modeOf(QStringLiteral("/tmp/cache/16:9")), mode_t(01777));

    // Made by this process (root in the sandbox), usable by another user afterwards.
    const int other = runAsOtherUser([] {
        const QString path = Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), Qt::green);
        return path == QLatin1String("/tmp/cache/16:9/vok-default#00ff00.svg")
                && QFileInfo(path).isFile()
            ? 0
            : 1;
    });
    if (other < 0)
        QSKIP("cannot run as another user here");
    QCOMPARE(other, 0);
    QCOMPARE(ownerOf(QStringLiteral("/tmp/cache/16:9/vok-default#00ff00.svg")), uid_t(65534));

    // A link or a directory of someone else is not used: the private directory serves.
    const QString privateDir = Cache::privateCacheDir();
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/decoy")));
    QVERIFY(QFile::link(QStringLiteral("/tmp/decoy"), QStringLiteral("/tmp/cache/4:3")));
    QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1024, 768), Qt::blue),
        privateDir + QStringLiteral("/4:3/vok-default#0000ff.svg"));
    QVERIFY(QDir(QStringLiteral("/tmp/decoy")).isEmpty());
    QVERIFY(QDir().mkdir(QStringLiteral("/tmp/cache/21:9")));
    QCOMPARE(::chown("/tmp/cache/21:9", 12345, 12345), 0);
    QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 2560, 1080), Qt::blue),
        privateDir + QStringLiteral("/21:9/vok-default#0000ff.svg"));
    QVERIFY(QDir(QStringLiteral("/tmp/cache/21:9")).isEmpty());
    // The same for the cache directory itself.
    QDir(CacheRoot).removeRecursively();
    QVERIFY(QFile::link(QStringLiteral("/tmp/decoy"), CacheRoot));
    QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), Qt::blue),
        privateDir + QStringLiteral("/16:9/vok-default#0000ff.svg"));
    QVERIFY(QDir(QStringLiteral("/tmp/decoy")).isEmpty());
    // No private directory either: the call says so and gives no path.
    qputenv("XDG_CACHE_HOME", "/proc/vok-none");
    {
        MessageLog log;
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 1280, 800), Qt::blue).isNull());
        QVERIFY(log.contains(QStringLiteral("Can't create cache dir:  \"/tmp/cache/16:10\"")));
    }
    qunsetenv("XDG_CACHE_HOME");
    QVERIFY(QFile::remove(CacheRoot));
    QDir(privateDir).removeRecursively();
}

void TestUtils::plantedFiles()
{
    const QRect screen(0, 0, 1920, 1080);
    const QString path = QStringLiteral("/tmp/cache/16:9/vok-default#5682a3.svg");
    const QString genuine = Utils::getVokDefaultWallpaper(screen, QColor("#5682a3"));
    QCOMPARE(genuine, path);
    const QByteArray expected = readAll(path);
    QVERIFY(QFile::remove(path));

    // A link at the output name is replaced, its target left alone.
    QVERIFY(writeAll(QStringLiteral("/tmp/victim"), "precious"));
    QVERIFY(QFile::link(QStringLiteral("/tmp/victim"), path));
    QCOMPARE(Utils::getVokDefaultWallpaper(screen, QColor("#5682a3")), path);
    QCOMPARE(readAll(QStringLiteral("/tmp/victim")), QByteArray("precious"));
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(readAll(path), expected);

    // A file of another user with other content is generated again.
    QVERIFY(writeAll(path, "<svg xmlns=\"http://www.w3.org/2000/svg\"><!-- planted --></svg>"));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 12345, 12345), 0);
    QCOMPARE(Utils::getVokDefaultWallpaper(screen, QColor("#5682a3")), path);
    QCOMPARE(readAll(path), expected);
    QCOMPARE(ownerOf(path), geteuid());

    // Another user's file is not used, whatever it holds; when it cannot be replaced the
    // private directory serves.
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 12345, 12345), 0);
    QCOMPARE(Utils::getVokDefaultWallpaper(screen, QColor("#5682a3")), path);
    QCOMPARE(ownerOf(path), geteuid());
    QVERIFY(writeAll(path, "planted"));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 12345, 12345), 0);
    const int other = runAsOtherUser([&] {
        qputenv("XDG_CACHE_HOME", "/tmp/other-cache");
        const QString result = Utils::getVokDefaultWallpaper(screen, QColor("#5682a3"));
        const QString expectedPath
            = QStringLiteral("/tmp/other-cache/vokimage/16:9/vok-default#5682a3.svg");
        return result == expectedPath && readAll(expectedPath) == expected ? 0 : 1;
    });
    if (other < 0)
        QSKIP("cannot run as another user here");
    QCOMPARE(other, 0);
    QCOMPARE(readAll(path), QByteArray("planted"));
}

void TestUtils::everyTemplateRenders()
{
    const QList<QSize> sizes = { { 2560, 1080 }, { 1920, 1080 }, { 1920, 1200 }, { 1024, 768 },
        { 1080, 2520 }, { 1080, 1920 }, { 1200, 1920 }, { 768, 1024 } };
    QSet<QString> ratios;
    for (const QSize &size : sizes) {
        const QPair<int, int> ratio = wallpaperSizeRatio(size);
        ratios << QStringLiteral("%1:%2").arg(ratio.first).arg(ratio.second);
        const QRect screen(QPoint(0, 0), size);
        const QString light = Utils::getVokDefaultWallpaper(screen, QColor("#5a91bd"));
        const QString dark = Utils::getVokDefaultWallpaper(screen, QColor("#7a2e2e"));
        QVERIFY(!light.isNull() && !dark.isNull());
        const qint64 bytes = QFileInfo(light).size();
        QVERIFY2(bytes > 1000 && bytes < 16000, qPrintable(light));
        const QImage a(light);
        const QImage b(dark);
        QVERIFY2(!a.isNull() && !b.isNull(), qPrintable(light));
        QCOMPARE(double(a.width()) / a.height() > 1, size.width() > size.height());
        QVERIFY(
            std::abs(double(a.width()) / a.height() - double(ratio.first) / ratio.second) < 0.01);
        QVERIFY(a != b);
        // Colour follows the palette: the darker colour gives a darker picture.
        const QImage small = a.scaled(16, 16).convertToFormat(QImage::Format_RGB32);
        const QImage smallDark = b.scaled(16, 16).convertToFormat(QImage::Format_RGB32);
        QVERIFY(qBlue(small.pixel(8, 2)) > qBlue(smallDark.pixel(8, 2)));
    }
    QCOMPARE(ratios.size(), 8);
}

QTEST_MAIN(TestUtils)
#include "tst_utils.moc"
