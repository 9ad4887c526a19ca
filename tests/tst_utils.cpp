// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

using namespace VokImage;

namespace {
const QString CacheRoot = QStringLiteral("/tmp/cache");
const QString Generated = QStringLiteral("/tmp/cache/16:9/vok-default#5682a3.svg");

// The entries of a byte form written by hand: @p count, then each key and value.
QByteArray handForm(qint32 count, const QList<QPair<QString, QVariant>> &entries)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << count;
    for (const auto &[key, value] : entries)
        out << key << value;
    return bytes;
}
} // namespace

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ::umask(022); }

    void init()
    {
        QVERIFY(insideSandbox());
        QDir(CacheRoot).removeRecursively();
    }

    void getColor_data()
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

    void getColor()
    {
        QFETCH(QString, text);
        QFETCH(QColor, expected);
        const QColor color = Utils::getColor(text);
        QCOMPARE(color.isValid(), expected.isValid());
        QCOMPARE(color.rgba(), expected.isValid() ? expected.rgba() : color.rgba());
    }

    void shades()
    {
        QCOMPARE(
            Utils::CreateShadeColor(QColor(10, 20, 30, 40), 0).rgba(), QColor(10, 20, 30).rgba());
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
                           "color500=#5682a3 "
                           "color400=#4d7593 color300=#456882 color200=#3c5b72 color100=#344e62 "
                           "color50=#2b4152"));
        QCOMPARE(names(Utils::CreateShadeColors(QColor())),
            QStringLiteral("color900=#b3b3b3 color800=#808080 color700=#555555 color600=#2a2a2a "
                           "color500=#000000 "
                           "color400=#000000 color300=#000000 color200=#000000 color100=#000000 "
                           "color50=#000000"));
    }

    void ratio()
    {
        const QList<QPair<QSize, const char *>> rows = { { { 1920, 1080 }, "16:9" },
            { { 1366, 768 }, "16:9" }, { { 1280, 800 }, "16:10" }, { { 1920, 1200 }, "16:10" },
            { { 1024, 768 }, "4:3" }, { { 1280, 1024 }, "4:3" }, { { 2560, 1080 }, "21:9" },
            { { 2000, 1000 }, "21:9" }, { { 1080, 1920 }, "9:16" }, { { 600, 1000 }, "10:16" },
            { { 768, 1024 }, "3:4" }, { { 1000, 1000 }, "3:4" }, { { 1010, 1000 }, "4:3" },
            { { 0, 0 }, "21:9" }, { { 100, 0 }, "21:9" }, { { 0, 100 }, "9:21" },
            { { 1080, 2600 }, "9:21" }, { { 5000, 1000 }, "21:9" } };
        QStringList wrong;
        for (const auto &[size, expected] : rows) {
            const QPair<int, int> ratio = wallpaperSizeRatio(size);
            if (QStringLiteral("%1:%2").arg(ratio.first).arg(ratio.second)
                != QLatin1String(expected))
                wrong << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        }
        QCOMPARE(wrong, QStringList());
    }

    void generated()
    {
        QCOMPARE(Utils::getVokDefaultWallpaper(
                     QRect(QPoint(0, 0), QPoint(1919, 1079)), QColor("#5682a3")),
            Generated);
        const QByteArray text = readAll(Generated);
        QVERIFY(text.contains("#5682a3") && text.contains("#ccdae3") && text.contains("#2b4152"));
        QVERIFY2(!text.contains("#color"), "a placeholder is left");
        QCOMPARE(statOf(Generated).st_mode & 07777, mode_t(0644));
        QCOMPARE(statOf(CacheRoot).st_mode & 07777, mode_t(01777));
        QCOMPARE(statOf(QStringLiteral("/tmp/cache/16:9")).st_mode & 07777, mode_t(01777));
        // Found again without reading the template, even when that has changed.
        const QString templ = QStringLiteral("/usr/share/wallpapers/16:9/vok-default.svg.in");
        const QByteArray original = readAll(templ);
        QVERIFY(writeAll(templ, "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"));
        QCOMPARE(
            Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3")), Generated);
        QCOMPARE(readAll(Generated), text);
        // "#color500" survives the later replacement of "#color50"; other text is kept.
        QVERIFY(writeAll(templ, "a #color500 b #color50 c #COLOR50 d #123456 e #color5000\n"));
        const QString black = Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor());
        QCOMPARE(black, QStringLiteral("/tmp/cache/16:9/vok-default#000000.svg"));
        QCOMPARE(
            readAll(black), QByteArray("a #000000 b #000000 c #COLOR50 d #123456 e #0000000\n"));
        QVERIFY(writeAll(templ, original));
        // A missing template, or a link at its name, gives no file.
        const QString tall = QStringLiteral("/usr/share/wallpapers/3:4/vok-default.svg.in");
        QVERIFY(writeAll(QStringLiteral("/tmp/elsewhere.svg.in"), readAll(tall))
            && QFile::remove(tall));
        MessageLog log;
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red).isNull());
        QVERIFY(log.contains(QStringLiteral("Can't open default wallpaper:  \"%1\"").arg(tall)));
        QVERIFY(QFile::link(QStringLiteral("/tmp/elsewhere.svg.in"), tall));
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red).isNull());
        QCOMPARE(log.count(QStringLiteral("Can't open default wallpaper: ")), 2);
        QVERIFY(QFile::remove(tall) && QFile::copy(QStringLiteral("/tmp/elsewhere.svg.in"), tall));
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 768, 1024), Qt::red),
            QStringLiteral("/tmp/cache/3:4/vok-default#ff0000.svg"));
    }

    void everyTemplateRenders()
    {
        QSet<QString> ratios;
        for (const QSize size :
            { QSize(2560, 1080), QSize(1920, 1080), QSize(1920, 1200), QSize(1024, 768),
                QSize(1080, 2520), QSize(1080, 1920), QSize(1200, 1920), QSize(768, 1024) }) {
            const QPair<int, int> ratio = wallpaperSizeRatio(size);
            ratios << QStringLiteral("%1:%2").arg(ratio.first).arg(ratio.second);
            const QString light
                = Utils::getVokDefaultWallpaper(QRect(QPoint(), size), QColor("#5a91bd"));
            QVERIFY2(QFileInfo(light).size() > 1000 && QFileInfo(light).size() < 16000,
                qPrintable(light));
            const QImage a(light);
            const QImage b(Utils::getVokDefaultWallpaper(QRect(QPoint(), size), QColor("#7a2e2e")));
            QVERIFY2(!a.isNull() && !b.isNull(), qPrintable(light));
            QVERIFY(std::abs(double(a.width()) / a.height() - double(ratio.first) / ratio.second)
                < 0.01);
            // The darker colour gives a darker picture.
            QVERIFY(qBlue(a.scaled(16, 16).pixel(8, 2)) > qBlue(b.scaled(16, 16).pixel(8, 2)));
        }
        QCOMPARE(ratios.size(), 8);
    }

    // The shared ratio folders and generated files: another user's, or links, are not used or
    // followed; the private directory serves instead.
    void sharedGeneratedFiles()
    {
        QVERIFY(!Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), Qt::blue).isNull());
        // Made by root here, usable by another user afterwards.
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
        QCOMPARE(
            statOf(QStringLiteral("/tmp/cache/16:9/vok-default#00ff00.svg")).st_uid, uid_t(65534));
        const QString privateDir = Cache::privateCacheDir();
        QVERIFY(QDir().mkpath(QStringLiteral("/tmp/decoy")));
        QVERIFY(QFile::link(QStringLiteral("/tmp/decoy"), QStringLiteral("/tmp/cache/4:3")));
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1024, 768), Qt::blue),
            privateDir + QStringLiteral("/4:3/vok-default#0000ff.svg"));
        QVERIFY(QDir().mkdir(QStringLiteral("/tmp/cache/21:9")));
        QCOMPARE(::chown("/tmp/cache/21:9", 12345, 12345), 0);
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 2560, 1080), Qt::blue),
            privateDir + QStringLiteral("/21:9/vok-default#0000ff.svg"));
        QVERIFY(QDir(QStringLiteral("/tmp/cache/21:9")).isEmpty());
        // A link at the output name is replaced, its target left alone; another user's file is
        // generated again.
        const QString path
            = Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3"));
        const QByteArray expected = readAll(path);
        QVERIFY(QFile::remove(path) && writeAll(QStringLiteral("/tmp/victim"), "precious"));
        QVERIFY(QFile::link(QStringLiteral("/tmp/victim"), path));
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3")), path);
        QCOMPARE(readAll(QStringLiteral("/tmp/victim")), QByteArray("precious"));
        QCOMPARE(readAll(path), expected);
        QVERIFY(writeAll(path, "<svg xmlns=\"http://www.w3.org/2000/svg\"><!-- planted --></svg>"));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 12345, 12345), 0);
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3")), path);
        QCOMPARE(readAll(path), expected);
        QCOMPARE(statOf(path).st_uid, geteuid());
        // One it cannot replace: its private directory serves the user.
        QVERIFY(writeAll(path, "planted"));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 12345, 12345), 0);
        const int replaced = runAsOtherUser([&] {
            qputenv("XDG_CACHE_HOME", "/tmp/other-cache");
            const QString own
                = QStringLiteral("/tmp/other-cache/vokimage/16:9/vok-default#5682a3.svg");
            return Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor("#5682a3")) == own
                    && readAll(own) == expected
                ? 0
                : 1;
        });
        QCOMPARE(replaced, 0);
        QCOMPARE(readAll(path), QByteArray("planted"));
        // The cache folder itself a link; then no private directory either.
        QDir(CacheRoot).removeRecursively();
        QVERIFY(QFile::link(QStringLiteral("/tmp/decoy"), CacheRoot));
        QCOMPARE(Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), Qt::blue),
            privateDir + QStringLiteral("/16:9/vok-default#0000ff.svg"));
        QVERIFY(QDir(QStringLiteral("/tmp/decoy")).isEmpty());
        qputenv("XDG_CACHE_HOME", "/proc/vok-none");
        MessageLog log;
        QVERIFY(Utils::getVokDefaultWallpaper(QRect(0, 0, 1280, 800), Qt::blue).isNull());
        qunsetenv("XDG_CACHE_HOME");
        QVERIFY(log.contains(QStringLiteral("Can't create cache dir:  \"/tmp/cache/16:10\"")));
        QVERIFY(QFile::remove(CacheRoot));
        QDir(privateDir).removeRecursively();
    }

    // A file record is its path as given and its modification time, ordered by path first;
    // streamed as the string and the time, nothing more.
    void fileIdentity()
    {
        const QString path = QStringLiteral("/tmp/w.png");
        const File missing(path);
        QVERIFY(missing.lastModified.isNull());
        QVERIFY(writeAll(path, "") && setMtime(path, 1000000000));
        const File before(path);
        QVERIFY(!before.lastModified.isNull() && !(before == missing));
        QVERIFY(setMtime(path, 1000000001));
        const File after(path);
        QVERIFY(before < after && !(after < before) && !(before == after));
        QVERIFY(File(QStringLiteral("/a")) < File(QStringLiteral("/b")));
        QCOMPARE(
            File(QStringLiteral("relative/../x.png")).path, QStringLiteral("relative/../x.png"));
        // A string is no record of that string.
        QCOMPARE(qvariant_cast<File>(QVariant(path)).path, QStringLiteral("vok-default"));
        QByteArray bytes, expected;
        QDataStream out(&bytes, QIODevice::WriteOnly), plain(&expected, QIODevice::WriteOnly);
        out << after;
        plain << after.path << after.lastModified;
        QCOMPARE(bytes, expected);
        File back { QString() };
        QDataStream in(bytes);
        in >> back;
        QCOMPARE(back, after);
    }

    void byteForm()
    {
        QCOMPARE(Utils::PropertiesToByteArray({}), QByteArray(4, '\0'));
        QVERIFY(Utils::ByteArrayToProperties(QByteArray()).isEmpty());
        const QString file = QStringLiteral(VOK_SOURCE_DIR "/tests/tst_utils.cpp");
        const PropertyMap map { { QStringLiteral("a"), 1 },
            { QStringLiteral("b"), QStringLiteral("two") },
            { QStringLiteral("c"), QVariant::fromValue(File(file)) } };
        // The last key first, whatever the order of insertion.
        const QByteArray bytes = Utils::PropertiesToByteArray(map);
        QVERIFY(bytes.startsWith(
            handForm(3, { { QStringLiteral("c"), QVariant::fromValue(File(file)) } })
                .mid(0, 4 + 4 + 2)));
        QVERIFY(QRegExp(QStringLiteral("[0-9a-f]{32}")).exactMatch(Cache::getFileName(map)));
        const PropertyMap back = Utils::ByteArrayToProperties(bytes);
        QCOMPARE(back, map);
        QVERIFY(!back.value(QStringLiteral("c")).value<File>().lastModified.isNull());
        QCOMPARE(Utils::ByteArrayToProperties(bytes + "trailing bytes"), back);
        const PropertyMap plain { { QStringLiteral("c"), QColor(1, 2, 3) },
            { QStringLiteral("r"), QRect(1, 2, 3, 4) }, { QStringLiteral("d"), 2.5 },
            { QStringLiteral("n"), QVariant() } };
        QCOMPARE(Utils::ByteArrayToProperties(Utils::PropertiesToByteArray(plain)), plain);
        // The same key twice: both kept, the later one found.
        const PropertyMap both = Utils::ByteArrayToProperties(
            handForm(2, { { QStringLiteral("k"), 1 }, { QStringLiteral("k"), 2 } }));
        QCOMPARE(both.count(QStringLiteral("k")), 2);
        QCOMPARE(both.value(QStringLiteral("k")).toInt(), 2);
        QCOMPARE(Utils::ByteArrayToProperties(Utils::PropertiesToByteArray(both)), both);

        // Malformed forms read as nothing, before anything is allocated for what they announce:
        // one entry more than present, cut inside an entry, a string or a list of billions, an
        // entry count of billions, and values outside the vocabulary's types.
        QByteArray more = Utils::PropertiesToByteArray(
            { { QStringLiteral("a"), 1 }, { QStringLiteral("b"), 2 } });
        const QByteArray cut = more.left(more.size() - 2);
        qToBigEndian<qint32>(3, more.data());
        QByteArray huge, list;
        QDataStream(&huge, QIODevice::WriteOnly) << qint32(1) << quint32(0x7ffffff0);
        QDataStream(&list, QIODevice::WriteOnly)
            << qint32(1) << QStringLiteral("k") << quint32(QMetaType::QStringList) << qint8(0)
            << quint32(0x7fffffff);
        for (const QByteArray &malformed :
            { more, cut, huge, list, handForm(-1, { { QStringLiteral("k"), 1 } }),
                Utils::PropertiesToByteArray({ { QStringLiteral("k"), QStringList { "a" } } }),
                Utils::PropertiesToByteArray(
                    { { QStringLiteral("k"), QImage(4, 4, QImage::Format_RGB32) } }) })
            QVERIFY(Utils::ByteArrayToProperties(malformed).isEmpty());
        // The inputs the byte-form fuzz target once crashed on.
        const QDir regressions(QStringLiteral(VOK_SOURCE_DIR "/tests/fuzz/regressions/byteform"));
        QVERIFY(!regressions.isEmpty());
        for (const QFileInfo &input : regressions.entryInfoList(QDir::Files))
            QVERIFY2(byteFormRoundTrips(readAll(input.filePath())), qPrintable(input.fileName()));
    }
};

QTEST_MAIN(TestUtils)
#include "tst_utils.moc"
