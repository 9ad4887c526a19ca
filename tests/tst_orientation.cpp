// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Photos whose pixels are stored turned, with an EXIF orientation tag saying how to show them.

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QTest>
#include <QtEndian>

using namespace VokImage;

namespace {

// The upright picture: four quadrants of their own colour.
const QColor TopLeft(220, 30, 30);
const QColor TopRight(30, 200, 40);
const QColor BottomLeft(30, 40, 220);
const QColor BottomRight(240, 230, 30);

QImage upright(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, TopLeft);
    painter.fillRect(w, 0, size.width() - w, h, TopRight);
    painter.fillRect(0, h, w, size.height() - h, BottomLeft);
    painter.fillRect(w, h, size.width() - w, size.height() - h, BottomRight);
    return image;
}

// The pixels a camera stores for @p shown when it tags them with @p orientation (1 to 8): the
// inverse of what the tag asks a viewer to do.
QImage stored(const QImage &shown, int orientation)
{
    const QTransform transpose(0, 1, 1, 0, 0, 0);
    switch (orientation) {
    case 2:
        return shown.mirrored(true, false);
    case 3:
        return shown.mirrored(true, true);
    case 4:
        return shown.mirrored(false, true);
    case 5:
        return shown.transformed(transpose);
    case 6:
        return shown.transformed(QTransform().rotate(-90));
    case 7:
        return shown.transformed(transpose).mirrored(true, true);
    case 8:
        return shown.transformed(QTransform().rotate(90));
    default:
        return shown;
    }
}

// A JPEG of @p image with an EXIF segment holding only the orientation tag, as cameras write
// it: "Exif", a big-endian TIFF header and IFD0 with tag 0x0112 (SHORT).
QByteArray taggedJpeg(const QImage &image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    QByteArray exif("Exif\0\0", 6);
    exif += QByteArray("MM\0\x2a\0\0\0\x08", 8); // TIFF header, IFD0 at offset 8
    exif += QByteArray("\0\x01", 2); // one entry
    exif += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8); // Orientation, SHORT, count 1
    exif += char(0);
    exif += char(orientation);
    exif += QByteArray(2, '\0');
    exif += QByteArray(4, '\0'); // no next IFD
    QByteArray segment("\xff\xe1", 2);
    segment += char((exif.size() + 2) >> 8);
    segment += char((exif.size() + 2) & 0xff);
    segment += exif;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool near(QRgb pixel, const QColor &colour)
{
    return qAbs(qRed(pixel) - colour.red()) < 24 && qAbs(qGreen(pixel) - colour.green()) < 24
        && qAbs(qBlue(pixel) - colour.blue()) < 24;
}

// True when @p image shows the four quadrants upright.
bool showsUpright(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    return !image.isNull() && near(image.pixel(w / 4, h / 4), TopLeft)
        && near(image.pixel(3 * w / 4, h / 4), TopRight)
        && near(image.pixel(w / 4, 3 * h / 4), BottomLeft)
        && near(image.pixel(3 * w / 4, 3 * h / 4), BottomRight);
}

QImage render(const QString &path, int position, const QSize &screen)
{
    QMap<QString, QVariant> map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = QRect(QPoint(0, 0), screen);
    map[QLatin1String(Keys::ImagePosition)] = position;
    RenderEngine engine;
    const QImage image = engine.render(map).toImage();
    return engine.getStatus() == RenderEngine::Ok ? image : QImage();
}

} // namespace

class TestOrientation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTagInEveryMode();
    void untaggedUnchanged();
    void logoChoiceSeesTheShownPicture();
};

void TestOrientation::initTestCase()
{
    QVERIFY(insideSandbox());
    QVERIFY(QDir().mkpath(QStringLiteral("/tmp/photos")));
}

void TestOrientation::everyTagInEveryMode()
{
    const QImage shown = upright(QSize(400, 200));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString path = QStringLiteral("/tmp/photos/tag%1.jpg").arg(orientation);
        QVERIFY(writeAll(path, taggedJpeg(stored(shown, orientation), orientation)));
        // Qt's reader sees the tag the test wrote.
        QImageReader check(path);
        QCOMPARE(int(check.transformation()) != 0, orientation != 1);
        const QByteArray name = "orientation " + QByteArray::number(orientation);
        // The shown picture fills the screen of its own shape in every mode; a screen of half
        // its size takes the reduced JPEG decode of the crop path.
        for (int position = 0; position < 4; ++position)
            QVERIFY2(showsUpright(render(path, position, QSize(400, 200))),
                QByteArray(name + " placement " + QByteArray::number(position)).constData());
        QVERIFY2(showsUpright(render(path, int(WallPaperPosition::Crop), QSize(200, 100))),
            name.constData());
        // Centred on a wide screen: a 400x200 picture, not a 200x400 one.
        const QImage centred = render(path, int(WallPaperPosition::Center), QSize(800, 200));
        QVERIFY2(showsUpright(centred.copy(200, 0, 400, 200)), name.constData());
        QCOMPARE(qAlpha(centred.pixel(100, 100)), 0);
    }
}

void TestOrientation::untaggedUnchanged()
{
    // No tag and the tag "normal" give the picture of the file without any tag.
    const QImage shown = upright(QSize(400, 200));
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    shown.save(&buffer, "JPEG", 95);
    QVERIFY(writeAll(QStringLiteral("/tmp/photos/plain.jpg"), plain));
    QVERIFY(writeAll(QStringLiteral("/tmp/photos/normal.jpg"), taggedJpeg(shown, 1)));
    for (int position = 0; position < 4; ++position) {
        const QImage a = render(QStringLiteral("/tmp/photos/plain.jpg"), position, QSize(300, 200));
        QVERIFY(!a.isNull());
        QCOMPARE(a, render(QStringLiteral("/tmp/photos/normal.jpg"), position, QSize(300, 200)));
        QCOMPARE(a, render(QStringLiteral("/tmp/photos/plain.jpg"), position, QSize(300, 200)));
    }
}

void TestOrientation::logoChoiceSeesTheShownPicture()
{
    // Shown: dark, with a light bottom right corner where the logo goes. Stored turned, the
    // light part is elsewhere: the choice must look at the shown picture.
    QImage shown(400, 200, QImage::Format_RGB32);
    shown.fill(QColor(10, 10, 10));
    QPainter(&shown).fillRect(200, 100, 200, 100, QColor(250, 250, 250));
    const QString path = QStringLiteral("/tmp/photos/corner.jpg");
    QVERIFY(writeAll(path, taggedJpeg(stored(shown, 6), 6)));
    const QString dark = QStringLiteral("/tmp/photos/mark_dark.png");
    const QString light = QStringLiteral("/tmp/photos/mark_white.png");
    QVERIFY(writeTestImage(dark, solidImage(QSize(40, 20), Qt::black)));
    QVERIFY(writeTestImage(light, solidImage(QSize(40, 20), Qt::white)));
    // The whole-background lookup chooses by the wallpaper it rendered: over the light corner
    // the dark logo is drawn.
    QMap<QString, QVariant> map = DefaultLogoProperties;
    map.insert(DefaultWallpaperProperties);
    const QRect screen(0, 0, 400, 200);
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = screen;
    map[QLatin1String(Keys::LogoPath)] = light;
    map[QLatin1String(Keys::LogoScreen)] = screen;
    map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::BottomRight);
    map[QLatin1String(Keys::TaskbarHeight)] = 0;
    const Image record = Cache::getImageCache(map, true);
    QVERIFY(!record.image.isNull());
    QCOMPARE(record.properties.value(QLatin1String(Keys::LogoPath)).toString(), dark);
}

QTEST_MAIN(TestOrientation)
#include "tst_orientation.moc"
