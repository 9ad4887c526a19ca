// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/vokimage.h>

#include "fuzzmap.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <utime.h>

using namespace VokImage;

using PropertyMap = QMap<QString, QVariant>;

// A file whose modification time the byte form carries.
static const QString ByteFormFile = QStringLiteral(VOK_SOURCE_DIR "/tests/tst_vocabulary.cpp");

class TestVocabulary : public QObject
{
    Q_OBJECT

private slots:
    void nameTables();
    void defaultMapsAndWords();
    void fileIdentity();
    void fileOrderAndStreaming();
    void fileInVariants();
    void byteForm();
    void byteFormMalformed();
    void byteFormFuzzRegressions();
};

void TestVocabulary::nameTables()
{
    QCOMPARE(WallPaperPositionNames.size(), 4);
    QCOMPARE(WallPaperPositionNames.value(QStringLiteral("Title")), WallPaperPosition::Tile);
    QVERIFY(!WallPaperPositionNames.contains(QStringLiteral("Tile")));
    QCOMPARE(int(WallPaperPositionNames.value(QStringLiteral("Center"))), 0);
    QCOMPARE(int(WallPaperPositionNames.value(QStringLiteral("Stretch"))), 2);
    QCOMPARE(int(WallPaperPositionNames.value(QStringLiteral("Crop"))), 3);

    QCOMPARE(LogoPositionNames.size(), 10);
    QCOMPARE(int(LogoPositionNames.value(QStringLiteral("NotShow"))), -1);
    QCOMPARE(int(LogoPositionNames.value(QStringLiteral("Center"))), 7);
    QCOMPARE(int(LogoPositionNames.value(QStringLiteral("Bottom"))), 2);
    QCOMPARE(int(LogoPositionNames.value(QStringLiteral("Left"))), 8);

    QCOMPARE(TaskbarPositionNames.size(), 4);
    QCOMPARE(int(TaskbarPositionNames.value(QStringLiteral("Bottom"))), 3);
    QCOMPARE(int(TaskbarPositionNames.value(QStringLiteral("Top"))), 0);
}

void TestVocabulary::defaultMapsAndWords()
{
    QCOMPARE(DefaultWallpaperProperties.size(), 5);
    QCOMPARE(DefaultLogoProperties.size(), 3);
    QCOMPARE(DefaultWallpaperProperties.value(QStringLiteral("ImageProperty.position")).toInt(), 3);
    QCOMPARE(DefaultWallpaperProperties.value(QStringLiteral("ImageProperty.blur")).toInt(), -1);
    QVERIFY(!DefaultWallpaperProperties.value(QStringLiteral("ImageProperty.colorOverlay"))
                 .value<QColor>()
                 .isValid());
    QCOMPARE(
        DefaultWallpaperProperties.value(QStringLiteral("ImageProperty.screen")).toRect(), QRect());
    QCOMPARE(DefaultLogoProperties.value(QStringLiteral("LogoProperty.position")).toInt(), -1);
    QCOMPARE(
        qvariant_cast<File>(DefaultLogoProperties.value(QStringLiteral("LogoProperty.path"))).path,
        QString());

    QCOMPARE(AllColors,
        QStringList({ QStringLiteral("white"), QStringLiteral("light"), QStringLiteral("black"),
            QStringLiteral("dark") }));
    QCOMPARE(CacheDir, QStringLiteral("/tmp/cache"));
    QCOMPARE(DefaultWallpaper, QStringLiteral("vok-default"));
}

void TestVocabulary::fileIdentity()
{
    const File empty { QString() };
    QVERIFY(empty.path.isEmpty());
    QVERIFY(empty.lastModified.isNull());
    QCOMPARE(empty, File(QString()));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("w.png"));
    const File missing(path);
    QVERIFY(missing.lastModified.isNull());
    QCOMPARE(missing, File(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    struct utimbuf past
    {
        1000000000, 1000000000
    };
    QCOMPARE(utime(QFile::encodeName(path).constData(), &past), 0);
    const File before(path);
    QVERIFY(!before.lastModified.isNull());
    QCOMPARE(before.path, path);
    QVERIFY(!(before == missing));

    QCOMPARE(utime(QFile::encodeName(path).constData(), nullptr), 0);
    const File after(path);
    QVERIFY(!(before == after));
    QVERIFY(before < after);
    QVERIFY(!(after < before));

    // The path is kept exactly as given.
    QCOMPARE(File(QStringLiteral("relative/../x.png")).path, QStringLiteral("relative/../x.png"));

    const QDir cwd = QDir::current();
    QVERIFY(QDir::setCurrent(dir.path()));
    QCOMPARE(File().path, QStringLiteral("vok-default"));
    QVERIFY(File().lastModified.isNull());
    QFile word(dir.filePath(QStringLiteral("vok-default")));
    QVERIFY(word.open(QIODevice::WriteOnly));
    word.close();
    QVERIFY(!File().lastModified.isNull());
    QDir::setCurrent(cwd.path());
}

void TestVocabulary::fileOrderAndStreaming()
{
    File a(QStringLiteral("/a"));
    File b(QStringLiteral("/b"));
    a.lastModified = QDateTime::fromSecsSinceEpoch(2000);
    b.lastModified = QDateTime::fromSecsSinceEpoch(1000);
    QVERIFY(a < b); // paths decide whatever the times
    QVERIFY(!(b < a));

    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << a;
    }
    File back { QString() };
    QDataStream in(bytes);
    in >> back;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(back, a);

    // No header of its own: the string and the time follow each other.
    QByteArray expected;
    {
        QDataStream out(&expected, QIODevice::WriteOnly);
        out << a.path << a.lastModified;
    }
    QCOMPARE(bytes, expected);

    QString printed;
    QDebug(&printed) << File(QStringLiteral("/x y.jpg"));
    QVERIFY2(printed.startsWith(QStringLiteral("path(\"/x y.jpg\"), lastModified(")),
        qPrintable(printed));
    QVERIFY(printed.trimmed().endsWith(QLatin1Char(')')));
}

void TestVocabulary::fileInVariants()
{
    File file(QStringLiteral("/some/wallpaper.jpg"));
    QCOMPARE(QMetaType::type("VokImage::File"), qMetaTypeId<File>());
    const QMetaType::TypeFlags flags = QMetaType::typeFlags(qMetaTypeId<File>());
    QVERIFY(flags & QMetaType::NeedsConstruction);
    QVERIFY(flags & QMetaType::NeedsDestruction);
    QVERIFY(flags & QMetaType::WasDeclaredAsMetaType);
    QVERIFY(!(flags & QMetaType::MovableType));

    const QVariant held = QVariant::fromValue(file);
    QCOMPARE(qvariant_cast<File>(held), file);
    QVERIFY(held == QVariant::fromValue(File(QStringLiteral("/some/wallpaper.jpg"))));
    QVERIFY(held != QVariant::fromValue(File(QStringLiteral("/other.jpg"))));

    // A string does not convert to a record of that string.
    const File fromString = qvariant_cast<File>(QVariant(QStringLiteral("/some/wallpaper.jpg")));
    QCOMPARE(fromString.path, QStringLiteral("vok-default"));

    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << held;
    }
    QDataStream in(bytes);
    QVariant back;
    in >> back;
    QCOMPARE(back.userType(), qMetaTypeId<File>());
    QCOMPARE(qvariant_cast<File>(back), file);
}

void TestVocabulary::byteForm()
{
    QCOMPARE(Utils::PropertiesToByteArray({}), QByteArray(4, '\0'));
    QVERIFY(Utils::ByteArrayToProperties(QByteArray(4, '\0')).isEmpty());
    QVERIFY(Utils::ByteArrayToProperties(QByteArray()).isEmpty());

    PropertyMap forward;
    forward.insert(QStringLiteral("a"), 1);
    forward.insert(QStringLiteral("b"), QStringLiteral("two"));
    forward.insert(QStringLiteral("c"), QVariant::fromValue(File(ByteFormFile)));
    PropertyMap backward;
    backward.insert(QStringLiteral("c"), QVariant::fromValue(File(ByteFormFile)));
    backward.insert(QStringLiteral("b"), QStringLiteral("two"));
    backward.insert(QStringLiteral("a"), 1);
    const QByteArray bytes = Utils::PropertiesToByteArray(forward);
    QCOMPARE(Utils::PropertiesToByteArray(backward), bytes);
    QCOMPARE(Cache::getFileName(backward), Cache::getFileName(forward));
    QVERIFY(QRegExp(QStringLiteral("[0-9a-f]{32}")).exactMatch(Cache::getFileName(forward)));

    // The last key comes first.
    QDataStream stream(bytes);
    qint32 count = 0;
    QString firstKey;
    stream >> count >> firstKey;
    QCOMPARE(count, 3);
    QCOMPARE(firstKey, QStringLiteral("c"));

    const PropertyMap back = Utils::ByteArrayToProperties(bytes);
    QCOMPARE(back.size(), 3);
    QCOMPARE(back.value(QStringLiteral("c")).value<File>(), File(ByteFormFile));
    QVERIFY(!back.value(QStringLiteral("c")).value<File>().lastModified.isNull());
    QCOMPARE(back.value(QStringLiteral("b")).toString(), QStringLiteral("two"));
    QCOMPARE(Utils::ByteArrayToProperties(bytes + "trailing bytes"), back);
}

void TestVocabulary::byteFormMalformed()
{
    PropertyMap map { { QStringLiteral("a"), 1 }, { QStringLiteral("b"), 2 } };
    QByteArray bytes = Utils::PropertiesToByteArray(map);
    // One entry more announced than present: nothing, not the complete entries.
    qToBigEndian<qint32>(3, bytes.data());
    QVERIFY(Utils::ByteArrayToProperties(bytes).isEmpty());
    // Cut inside the last entry.
    bytes = Utils::PropertiesToByteArray(map);
    QVERIFY(Utils::ByteArrayToProperties(bytes.left(bytes.size() - 2)).isEmpty());
    // A string that announces far more bytes than follow.
    QByteArray huge;
    QDataStream out(&huge, QIODevice::WriteOnly);
    out << qint32(1) << quint32(0x7ffffff0);
    QVERIFY(Utils::ByteArrayToProperties(huge).isEmpty());

    // A list that announces billions of elements, and any value outside the vocabulary's
    // types, read as malformed before anything is allocated for them.
    QByteArray list;
    QDataStream listOut(&list, QIODevice::WriteOnly);
    listOut << qint32(1) << QStringLiteral("k") << quint32(QMetaType::QStringList) << qint8(0)
            << quint32(0x7fffffff);
    QVERIFY(Utils::ByteArrayToProperties(list).isEmpty());
    QVERIFY(Utils::ByteArrayToProperties(
        Utils::PropertiesToByteArray({ { QStringLiteral("k"), QStringList { "a" } } }))
                .isEmpty());
    QVERIFY(Utils::ByteArrayToProperties(Utils::PropertiesToByteArray({ { QStringLiteral("k"),
                                             QImage(4, 4, QImage::Format_RGB32) } }))
                .isEmpty());
    QByteArray bigCount;
    QDataStream countOut(&bigCount, QIODevice::WriteOnly);
    countOut << quint32(0xffffffff) << QStringLiteral("k") << QVariant(1);
    QVERIFY(Utils::ByteArrayToProperties(bigCount).isEmpty());
    const PropertyMap plain { { QStringLiteral("c"), QColor(1, 2, 3) },
        { QStringLiteral("r"), QRect(1, 2, 3, 4) }, { QStringLiteral("d"), 2.5 },
        { QStringLiteral("n"), QVariant() } };
    QCOMPARE(Utils::ByteArrayToProperties(Utils::PropertiesToByteArray(plain)), plain);

    // The same key twice: both are kept and the later one is found.
    QByteArray twice;
    QDataStream dup(&twice, QIODevice::WriteOnly);
    dup << qint32(2) << QStringLiteral("k") << QVariant(1) << QStringLiteral("k") << QVariant(2);
    const PropertyMap both = Utils::ByteArrayToProperties(twice);
    QCOMPARE(both.size(), 2);
    QCOMPARE(both.value(QStringLiteral("k")).toInt(), 2);
    QCOMPARE(both.count(QStringLiteral("k")), 2);
    QCOMPARE(Utils::ByteArrayToProperties(Utils::PropertiesToByteArray(both)), both);
}

// The inputs the byte-form fuzz target once crashed on, replayed.
void TestVocabulary::byteFormFuzzRegressions()
{
    int replayed = 0;
    for (const QFileInfo &input :
        QDir(QStringLiteral(VOK_SOURCE_DIR "/tests/fuzz/regressions/byteform"))
            .entryInfoList(QDir::Files)) {
        QFile file(input.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(byteFormRoundTrips(file.readAll()), qPrintable(input.fileName()));
        ++replayed;
    }
    QVERIFY(replayed >= 1);
}

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
