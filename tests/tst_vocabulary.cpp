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
    void fileIdentity();
    void byteForm();
    void byteFormMalformed();
    void byteFormFuzzRegressions();
};

// A file record is its path as given and its modification time: a touched file is another
// record, ordered by path first; streamed as the string and the time, nothing more.
void TestVocabulary::fileIdentity()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("w.png"));
    const File missing(path);
    QVERIFY(missing.lastModified.isNull());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    struct utimbuf past
    {
        1000000000, 1000000000
    };
    QCOMPARE(utime(QFile::encodeName(path).constData(), &past), 0);
    const File before(path);
    QVERIFY(!before.lastModified.isNull() && !(before == missing));
    QCOMPARE(utime(QFile::encodeName(path).constData(), nullptr), 0);
    const File after(path);
    QVERIFY(before < after && !(after < before) && !(before == after));
    QVERIFY(File(QStringLiteral("/a")) < File(QStringLiteral("/b")));
    QCOMPARE(File(QStringLiteral("relative/../x.png")).path, QStringLiteral("relative/../x.png"));
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

void TestVocabulary::byteForm()
{
    QCOMPARE(Utils::PropertiesToByteArray({}), QByteArray(4, '\0'));
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
    QCOMPARE(back, forward);
    QVERIFY(!back.value(QStringLiteral("c")).value<File>().lastModified.isNull());
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
