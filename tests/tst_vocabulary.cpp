// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <utime.h>

using namespace VokImage;

class TestVocabulary : public QObject
{
    Q_OBJECT

private slots:
    void nameTables();
    void defaultMapsAndWords();
    void fileIdentity();
    void fileOrderAndStreaming();
    void fileInVariants();
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

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
