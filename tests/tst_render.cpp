// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include "jpeg/jpeg_p.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <jpeglib.h>

using namespace VokImage;

namespace {
using Probes = QList<QPair<QPoint, QColor>>;
const QColor Clear(0, 0, 0, 0);

QColor coordinate(int x, int y)
{
    return QColor(x & 255, y & 255, ((x >> 8) & 15) | ((y >> 8) << 4));
}

// The crop as Qt's reader decodes the JPEG at the size that covers the screen (in sRGB), its
// centre drawn in Source mode over a transparent surface.
QImage readerCrop(const QString &path, const QSize &screen)
{
    QImageReader reader(path);
    const QSize cover = reader.size().scaled(screen, Qt::KeepAspectRatioByExpanding);
    reader.setScaledSize(cover);
    QImage decoded = reader.read();
    if (decoded.colorSpace().isValid())
        decoded.convertToColorSpace(QColorSpace::SRgb);
    QImage expected(screen, QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::transparent);
    QPainter painter(&expected);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QPointF offset(
        (cover.width() - screen.width()) / 2.0, (cover.height() - screen.height()) / 2.0);
    painter.drawImage(QRectF(QPointF(), QSizeF(screen)), decoded, QRectF(offset, QSizeF(screen)));
    return expected;
}

// @p image as a baseline JPEG of libjpeg with the luma sampling @p h x @p v, a restart marker
// every @p restart MCUs and an APP2 segment @p marker when given.
QByteArray libjpegFile(
    const QImage &image, int h, int v, int restart, const QByteArray &marker = {})
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 88, TRUE);
    info.comp_info[0].h_samp_factor = h;
    info.comp_info[0].v_samp_factor = v;
    info.restart_interval = unsigned(restart);
    jpeg_start_compress(&info, TRUE);
    if (!marker.isEmpty())
        jpeg_write_marker(&info, JPEG_APP0 + 2, reinterpret_cast<const JOCTET *>(marker.data()),
            unsigned(marker.size()));
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(buffer), int(size));
    free(buffer);
    return bytes;
}

// Four flat quarters of their own colour: any transposition, mirror or misread row shows.
QImage quarters(const QSize &size, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    QPainter painter(&image);
    const int w = size.width() / 2, h = size.height() / 2;
    painter.fillRect(0, 0, w, h, QColor(220, 40, 40));
    painter.fillRect(w, 0, size.width() - w, h, QColor(40, 200, 60));
    painter.fillRect(0, h, w, size.height() - h, QColor(40, 60, 220));
    painter.fillRect(w, h, size.width() - w, size.height() - h, QColor(230, 210, 50));
    return image;
}

// True when the middle of each quarter of @p image is within @p slack of @p expected's.
bool sameQuarters(const QImage &image, const QImage &expected, int slack = 24)
{
    if (image.size() != expected.size())
        return false;
    for (const QPoint q : { QPoint(1, 1), QPoint(3, 1), QPoint(1, 3), QPoint(3, 3) }) {
        const QRect at(QPoint(q.x() * image.width() / 4, q.y() * image.height() / 4), QSize(4, 4));
        if (largestDifference(image.copy(at), expected.copy(at)) > slack)
            return false;
    }
    return true;
}

// The pixels a camera stores for @p shown when it tags them with @p orientation (1 to 8).
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
    }
    return shown;
}
} // namespace

class TestRender : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeTestImage(file("c3000.png"), coordinateImage(QSize(3000, 2000))));
        QVERIFY(writeTestImage(file("c640.png"), coordinateImage(QSize(640, 480))));
        QVERIFY(writeTestImage(file("c100.png"), coordinateImage(QSize(100, 100))));
        QImage halves = solidImage(QSize(200, 100), Qt::red);
        QPainter(&halves).fillRect(100, 0, 100, 100, Qt::blue);
        QVERIFY(writeTestImage(file("halves.png"), halves));
        // 1000x1000 on 1920x1080: scaled to 1920x1920, rows 420..1499 kept.
        QImage square = solidImage(QSize(1000, 1000), Qt::blue);
        QPainter(&square).fillRect(0, 200, 1000, 30, Qt::yellow); // scaled rows 384..441
        QVERIFY(writeTestImage(file("square.png"), square));
        // 4000x1000 on 1920x1080: scaled to 4320x1080, columns 1200..3119 kept.
        QImage wide = solidImage(QSize(4000, 1000), Qt::blue);
        QPainter painter(&wide);
        painter.fillRect(1115, 0, 30, 1000, Qt::magenta); // scaled 1204..1235: at the left
        painter.fillRect(2870, 0, 1130, 1000, Qt::green); // scaled 3100..: at the right edge
        painter.end();
        QVERIFY(writeTestImage(file("wide.png"), wide));
        QVERIFY(writeAll(file("garbage.png"), "this is not an image"));
    }

    void placements_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QVariant>("position");
        QTest::addColumn<Probes>("probes");
        const QRect hd(0, 0, 1920, 1080);
        QTest::newRow("centre") << file("c3000.png") << hd << QVariant(0)
                                << Probes { { { 0, 0 }, coordinate(540, 460) },
                                       { { 1919, 1079 }, coordinate(2459, 1539) } };
        QTest::newRow("centre, no key")
            << file("c640.png") << hd << QVariant()
            << Probes { { { 640, 300 }, coordinate(0, 0) }, { { 1279, 779 }, coordinate(639, 479) },
                   { { 639, 300 }, Clear }, { { 640, 780 }, Clear } };
        QTest::newRow("tile") << file("c100.png") << QRect(0, 0, 250, 250) << QVariant(1)
                              << Probes { { { 0, 0 }, coordinate(0, 0) },
                                     { { 200, 100 }, coordinate(0, 0) },
                                     { { 249, 249 }, coordinate(49, 49) },
                                     { { 150, 60 }, coordinate(50, 60) } };
        QTest::newRow("stretch") << file("halves.png") << QRect(0, 0, 400, 400) << QVariant(2)
                                 << Probes { { { 100, 10 }, Qt::red }, { { 100, 390 }, Qt::red },
                                        { { 300, 200 }, Qt::blue } };
        QTest::newRow("crop tall")
            << file("square.png") << hd << QVariant(3)
            << Probes { { { 960, 8 }, Qt::yellow }, { { 960, 40 }, Qt::blue } };
        QTest::newRow("crop wide")
            << file("wide.png") << hd << QVariant(3)
            << Probes { { { 15, 540 }, Qt::magenta }, { { 60, 540 }, Qt::blue },
                   { { 1915, 540 }, Qt::green }, { { 1880, 540 }, Qt::blue } };
        QTest::newRow("colour") << QStringLiteral("#5a91bd") << QRect(1920, 0, 1280, 1024)
                                << QVariant(3)
                                << Probes { { { 0, 0 }, QColor(0x5a91bd) },
                                       { { 1279, 1023 }, QColor(0x5a91bd) } };
        // Unknown placements draw nothing and say nothing; 4 and 5 are Fit and Span.
        for (const int position : { -1, 6 })
            QTest::addRow("placement %d", position)
                << file("c100.png") << QRect(0, 0, 50, 40) << QVariant(position)
                << Probes { { { 0, 0 }, Clear }, { { 25, 20 }, Clear } };
        // An undecodable file draws nothing either; the status stays Ok.
        for (const int position : { 0, 3 })
            QTest::addRow("undecodable %d", position)
                << file("garbage.png") << QRect(0, 0, 50, 40) << QVariant(position)
                << Probes { { { 49, 39 }, Clear } };
    }

    void placements()
    {
        QFETCH(QString, picture);
        QFETCH(QRect, screen);
        QFETCH(QVariant, position);
        QFETCH(Probes, probes);
        PropertyMap map = wallpaperMap(picture, screen);
        if (position.isValid())
            map[QLatin1String(Keys::ImagePosition)] = position;
        else
            map.remove(QLatin1String(Keys::ImagePosition));
        MessageLog log;
        bool ok = false;
        const QImage image = rendered(map, &ok).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(ok);
        QCOMPARE(image.size(), screen.size());
        for (const auto &[at, colour] : probes)
            QCOMPARE(image.pixelColor(at), colour);
        QVERIFY(picture.endsWith(QLatin1String("garbage.png")) || log.messages().isEmpty());
    }

    void surfaceAndFailures()
    {
        // The logo's rectangle alone sizes a logo-only map's surface; with a wallpaper, the
        // union of both, transparent outside the wallpaper's.
        PropertyMap map { { QLatin1String(Keys::LogoScreen), QRect(0, 0, 1920, 1080) },
            { QLatin1String(Keys::LogoPath), QString() } };
        bool ok = false;
        QImage clear(1920, 1080, QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        QCOMPARE(rendered(map, &ok), clear);
        QVERIFY(ok);
        map.insert(wallpaperMap(QStringLiteral("#000000"), QRect(0, 0, 1920, 1080), 0));
        map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 1280, 1200);
        QImage image = rendered(map, &ok);
        QVERIFY(ok);
        QCOMPARE(image.size(), QSize(1920, 1200));
        QCOMPARE(image.pixelColor(10, 10), QColor(Qt::black));
        QCOMPARE(image.pixelColor(10, 1150).alpha(), 0);

        MessageLog log;
        RenderEngine engine;
        // The size is checked before the paths.
        QVERIFY(
            engine.render({ { QLatin1String(Keys::ImageScreen), QRect(0, 0, 0, 100) } }).isNull());
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
        QVERIFY(log.contains(QStringLiteral("RenderEngine::render() - screen size is empty")));
        QVERIFY(!log.contains(QStringLiteral("image and logo path is empty")));
        QVERIFY(
            engine.render({ { QLatin1String(Keys::ImageScreen), QRect(0, 0, 10, 10) } }).isNull());
        QVERIFY(
            log.contains(QStringLiteral("RenderEngine::render() - image and logo path is empty")));
        // A missing file: a transparent picture, the status tells, and is never set back.
        log.clear();
        RenderEngine missing;
        image = missing.render(wallpaperMap(file("missing.png"), QRect(0, 0, 64, 48))).toImage();
        QCOMPARE(image.size(), QSize(64, 48));
        QCOMPARE(image.pixelColor(5, 5).alpha(), 0);
        QCOMPARE(missing.getStatus(), RenderEngine::Error);
        QCOMPARE(
            log.count(QStringLiteral("RenderImage::render() path is empty or file not exists")), 1);
        missing.render(wallpaperMap(QStringLiteral("#ffffff"), QRect(0, 0, 8, 8)));
        QCOMPARE(missing.getStatus(), RenderEngine::Error);
        // Five hex digits are no colour, and "red" is a file name: both looked up as files.
        for (const QString &path : words("#12345 red")) {
            rendered(wallpaperMap(path, QRect(0, 0, 8, 8)), &ok);
            QVERIFY(!ok);
        }
        QCOMPARE(log.count(QStringLiteral("path is empty or file not exists")), 3);
        // An invalid wallpaper rectangle while the logo's sizes the surface.
        map = wallpaperMap(QStringLiteral("#ffffff"), QRect());
        map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 10, 10);
        QVERIFY(!rendered(map, &ok).isNull() && !ok);
        QVERIFY(log.contains(QStringLiteral("RenderImage::render() size is empty")));
        RenderEngine parts;
        QVERIFY(parts.drawWallpaper({}).isNull() && parts.drawLogo({}).isNull());
        QCOMPARE(parts.getStatus(), RenderEngine::Ok);
        QVERIFY(
            log.contains(QStringLiteral("RenderEngine::drawWallpaper() - image path is empty")));
        QVERIFY(log.contains(QStringLiteral("RenderEngine::drawLogo() - logo path is empty")));
    }

    void overlayAndBlur()
    {
        PropertyMap map = wallpaperMap(QStringLiteral("#ffffff"), QRect(0, 0, 20, 10));
        map[QLatin1String(Keys::ImageColorOverlay)] = QColor(0, 0, 0, 100);
        map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 40, 10);
        map[QLatin1String(Keys::LogoPath)] = QString();
        const QImage image = rendered(map).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.pixelColor(5, 5), QColor(155, 155, 155));
        QCOMPARE(image.pixelColor(30, 5), QColor(0, 0, 0, 100)); // transparent before it

        // A black/white edge in the wallpaper at x 50, a logo square at x 146..185, y 30..69.
        QImage wall = solidImage(QSize(200, 100), Qt::white);
        QPainter(&wall).fillRect(0, 0, 50, 100, Qt::black);
        QVERIFY(writeTestImage(file("wall.png"), wall));
        QVERIFY(writeTestImage(file("logo.png"), solidImage(QSize(40, 40), Qt::red)));
        const auto render = [&](const QVariant &imageBlur, const QVariant &logoBlur) {
            PropertyMap map = wallpaperMap(file("wall.png"), QRect(0, 0, 200, 100), 0);
            map[QLatin1String(Keys::ImageBlur)] = imageBlur;
            map[QLatin1String(Keys::LogoPath)] = file("logo.png");
            map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 200, 100);
            map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Right);
            map[QLatin1String(Keys::TaskbarPosition)] = -1;
            if (logoBlur.isValid())
                map[QLatin1String(Keys::LogoBlur)] = logoBlur;
            const QImage image = rendered(map);
            // Sharp wallpaper, sharp logo.
            return qMakePair(image.pixelColor(48, 50) == QColor(Qt::black),
                image.pixelColor(143, 50) == QColor(Qt::white));
        };
        QCOMPARE(render(-1, QVariant()), qMakePair(true, true));
        QCOMPARE(render(8.0, QVariant()), qMakePair(false, true));
        QCOMPARE(render(-1, 5), qMakePair(true, false));
        QCOMPARE(render(8.0, 5), qMakePair(false, false));
    }

    void cropReducedJpeg()
    {
        const QString path = file("photo.jpg");
        QVERIFY(photoImage(QSize(3000, 2000)).save(path, "jpeg", 90));
        // Decoded at a reduced size, scaled and cropped: exactly Qt's reader at the covering
        // size, also where the surface is a view of the picture's rows, with a logo over it.
        for (const QSize screen : { QSize(1280, 720), QSize(1280, 719), QSize(1000, 900) }) {
            QImage expected = readerCrop(path, screen);
            QPainter(&expected).drawImage(
                getLogoPosition(QSize(100, 100), QRect(QPoint(), screen), LogoPosition::TopLeft),
                QImage(file("c100.png")));
            PropertyMap map = wallpaperMap(path, QRect(QPoint(), screen));
            map[QLatin1String(Keys::LogoPath)] = file("c100.png");
            map[QLatin1String(Keys::LogoScreen)] = QRect(QPoint(), screen);
            map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::TopLeft);
            map[QLatin1String(Keys::TaskbarPosition)] = -1;
            const QImage image = rendered(map);
            QCOMPARE(image.bytesPerLine(), screen.width() * 4);
            QCOMPARE(image, expected);
        }
        // A file smaller than the screen is decoded whole.
        QCOMPARE(rendered(wallpaperMap(path, QRect(0, 0, 3840, 2160)))
                     .convertToFormat(QImage::Format_RGB32),
            QImage(path)
                .scaled(3840, 2560, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .copy(0, 200, 3840, 2160)
                .convertToFormat(QImage::Format_RGB32));
    }

    void jpegDecodedInParts()
    {
        // Every common sampling, odd sizes, restart markers, an ICC profile, damaged and cut
        // files, screens larger and smaller than the picture: Qt's reader's pixels at the
        // covering size (a profile within one level of Qt's conversion).
        const QImage photo = photoImage(QSize(2501, 1667), 7);
        QByteArray icc("ICC_PROFILE\0\1\1", 14);
        icc += QColorSpace(QColorSpace::DisplayP3).iccProfile();
        const QByteArray plain = libjpegFile(photo, 2, 2, 0);
        const QImage small = photo.copy(1000, 700, 301, 203);
        const QList<QPair<QByteArray, QList<QSize>>> cases {
            { plain,
                { { 1920, 1080 }, { 1500, 1499 }, { 2600, 1800 }, { 1920, 1079 },
                    { 2400, 1351 } } },
            { libjpegFile(photo, 2, 1, 0), { { 1280, 1000 }, { 1250, 800 } } },
            { libjpegFile(photo, 1, 1, 0), { { 2400, 1350 }, { 1700, 1000 } } },
            { libjpegFile(photo.transformed(QTransform().rotate(90)), 1, 2, 0),
                { { 1920, 1080 }, { 1000, 1700 } } },
            { libjpegFile(photo, 2, 2, 5), { { 1920, 1080 } } },
            { libjpegFile(photo, 2, 2, 0, icc), { { 1920, 1080 }, { 2600, 1800 } } },
            { plain.left(plain.size() * 2 / 3), { { 1920, 1080 } } },
            { plain.left(plain.size() / 2) + QByteArray(4000, '\x55')
                    + plain.mid(plain.size() / 2 + 4000),
                { { 1920, 1080 } } },
            { libjpegFile(small, 2, 2, 0), { { 1280, 1000 }, { 302, 203 }, { 207, 400 } } },
            { libjpegFile(small, 1, 1, 3), { { 640, 480 }, { 1920, 1080 } } },
        };
        for (int i = 0; i < cases.size(); ++i) {
            QVERIFY(writeAll(file("parts.jpg"), cases[i].first));
            for (const QSize screen : cases[i].second) {
                const QImage image
                    = rendered(wallpaperMap(file("parts.jpg"), QRect(QPoint(), screen)));
                QVERIFY2(largestDifference(image, readerCrop(file("parts.jpg"), screen))
                        <= (i == 5 ? 1 : 0),
                    qPrintable(QStringLiteral("case %1 on %2x%3")
                                   .arg(i)
                                   .arg(screen.width())
                                   .arg(screen.height())));
            }
        }
    }

    void jpegPartsOfAnyCount()
    {
        // A lower half far dearer to decode than the upper, so that parts start away from the
        // even split: any count of parts gives Qt's pixels scaled down and up, and a damaged
        // file fails whatever the count, without a part waiting for ever on another.
        QImage photo(1203, 997, QImage::Format_RGB32);
        quint32 seed = 11;
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int grain = y < photo.height() / 2 ? 0 : int(seed >> 24) - 128;
                photo.setPixel(x, y,
                    qRgb(qBound(0, 40 + x / 8 + grain, 255), qBound(0, 90 + grain / 2, 255),
                        qBound(0, 250 - y / 8 - grain, 255)));
            }
        // Two files in turn, so that rows a part leaves unwritten show the other's pixels.
        const QByteArray files[] = { libjpegFile(photo, 2, 2, 0), libjpegFile(photo, 1, 1, 0) };
        for (const QSize size : { QSize(1000, 800), QSize(301, 249), QSize(1203, 997) })
            for (const QByteArray &bytes : files) {
                QBuffer buffer;
                buffer.setData(bytes);
                QImageReader reader(&buffer);
                reader.setScaledSize(size);
                const QImage expected = reader.read();
                for (int parts = 1; parts <= 7; parts += 2) {
                    QCOMPARE(decodeJpegInParts(bytes, size, parts), expected);
                    // Rows alone where libjpeg's M/8 scale is followed by a smooth one.
                    const QImage rows = decodeJpegRowsInParts(
                        bytes, size, size.height() / 3, size.height() / 3, parts);
                    QVERIFY(size != QSize(1000, 800) || !rows.isNull());
                    QVERIFY(rows.isNull()
                        || rows
                            == expected.copy(
                                0, size.height() / 3, size.width(), size.height() / 3));
                }
            }
        for (const QSize size : { QSize(2406, 1994), QSize(1204, 998) })
            for (const QByteArray &bytes : files)
                for (int parts = 1; parts <= 8; parts *= 2)
                    QCOMPARE(decodeJpegScaledUp(bytes, size, parts),
                        QImage::fromData(bytes, "jpeg")
                            .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        QByteArray damaged = files[0];
        damaged.replace(damaged.size() * 3 / 4, 3000, QByteArray(3000, '\x37'));
        for (int parts = 1; parts <= 8; ++parts) {
            QVERIFY(decodeJpegInParts(damaged, QSize(640, 530), parts).isNull());
            QVERIFY(decodeJpegInParts(damaged, QSize(1203, 997), parts).isNull());
            QVERIFY(decodeJpegScaledUp(damaged, QSize(1500, 1240), parts).isNull());
        }
    }

    void orientationTags()
    {
        // Each of the eight EXIF orientations is shown upright in every placement, on a
        // screen of its shape, by the reduced crop decode and centred on a wide screen.
        const QImage shown = quarters(QSize(400, 200));
        for (int orientation = 1; orientation <= 8; ++orientation) {
            QVERIFY(
                writeAll(file("tagged.jpg"), taggedJpeg(stored(shown, orientation), orientation)));
            QCOMPARE(QImageReader(file("tagged.jpg")).transformation()
                    != QImageIOHandler::TransformationNone,
                orientation != 1);
            for (int position = 0; position < 4; ++position)
                QVERIFY2(sameQuarters(rendered(wallpaperMap(
                                          file("tagged.jpg"), QRect(0, 0, 400, 200), position)),
                             shown),
                    qPrintable(QStringLiteral("%1 in %2").arg(orientation).arg(position)));
            QVERIFY(sameQuarters(rendered(wallpaperMap(file("tagged.jpg"), QRect(0, 0, 200, 100))),
                shown.scaled(200, 100)));
            const QImage centred
                = rendered(wallpaperMap(file("tagged.jpg"), QRect(0, 0, 800, 200), 0));
            QVERIFY(sameQuarters(centred.copy(200, 0, 400, 200), shown));
            QCOMPARE(qAlpha(centred.pixel(100, 100)), 0);
        }
        // The logo is chosen by the shown picture: dark with a light bottom right corner.
        QImage corner = solidImage(QSize(400, 200), QColor(10, 10, 10));
        QPainter(&corner).fillRect(200, 100, 200, 100, QColor(250, 250, 250));
        QVERIFY(writeAll(file("corner.jpg"), taggedJpeg(stored(corner, 6), 6)));
        QVERIFY(writeTestImage(file("mark_dark.png"), solidImage(QSize(40, 20), Qt::black)));
        QVERIFY(writeTestImage(file("mark_white.png"), solidImage(QSize(40, 20), Qt::white)));
        PropertyMap map = DefaultLogoProperties;
        map.insert(wallpaperMap(file("corner.jpg"), QRect(0, 0, 400, 200)));
        map[QLatin1String(Keys::LogoPath)] = file("mark_white.png");
        map[QLatin1String(Keys::LogoScreen)] = QRect(0, 0, 400, 200);
        map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::BottomRight);
        map[QLatin1String(Keys::TaskbarHeight)] = 0;
        QCOMPARE(Cache::getImageCache(map, true)
                     .properties.value(QLatin1String(Keys::LogoPath))
                     .toString(),
            file("mark_dark.png"));
    }

    void pluginFormats_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QStringList>("encoder");
        QTest::addColumn<bool>("deep");
        QTest::addColumn<int>("quarterTurns");
        QTest::newRow("HEIC") << "heic" << words("heif-enc -q 90 IN -o OUT") << false << 0;
        QTest::newRow("HEIC 10-bit")
            << "heic" << words("heif-enc -b 10 -q 90 IN -o OUT") << true << 0;
        QTest::newRow("AVIF") << "avif" << words("avifenc IN OUT") << false << 0;
        QTest::newRow("AVIF 10-bit, turned")
            << "avif" << words("avifenc -d 10 --irot 1 IN OUT") << true << 1;
        QTest::newRow("WebP") << "webp" << words("cwebp -quiet IN -o OUT") << false << 0;
        QTest::newRow("JPEG XL") << "jxl" << words("cjxl IN OUT") << false << 0;
        QTest::newRow("PNG 16-bit") << "png" << QStringList() << true << 0;
    }

    // Pictures of the formats Qt's plugins read, 64-bit ones included, are drawn as Qt's reader
    // reads them, upright, in each placement; one beyond what is decoded whole is refused.
    void pluginFormats()
    {
        QFETCH(QString, suffix);
        QFETCH(QStringList, encoder);
        QFETCH(bool, deep);
        QFETCH(int, quarterTurns);
        if (!QImageReader::supportedImageFormats().contains(suffix.toLatin1()))
            QSKIP(qPrintable(QStringLiteral("no Qt image plugin reads %1 here").arg(suffix)));
        if (!encoder.isEmpty() && QStandardPaths::findExecutable(encoder.first()).isEmpty())
            QSKIP(qPrintable(encoder.first() + QStringLiteral(" is not installed")));
        const QImage source
            = quarters(QSize(320, 200), deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
        const QString input = file("source.png");
        const QString path = file("picture.") + suffix;
        const auto encode = [&](const QImage &image, QStringList arguments) {
            QFile::remove(path);
            if (arguments.isEmpty() || !image.save(input))
                return arguments.isEmpty() && image.save(path);
            arguments.replaceInStrings(QStringLiteral("IN"), input)
                .replaceInStrings(QStringLiteral("OUT"), path);
            QProcess process;
            process.start(arguments.takeFirst(), arguments);
            return process.waitForFinished(60000) && process.exitCode() == 0;
        };
        QVERIFY(encode(source, encoder));
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QImage read = reader.read();
        QVERIFY(!read.isNull());
        QCOMPARE(read.depth() == 64, deep);
        QImage expected = source.convertToFormat(QImage::Format_RGB32);
        for (int i = 0; i < quarterTurns; ++i) // irot turns anticlockwise
            expected = expected.transformed(QTransform().rotate(-90));
        QVERIFY(sameQuarters(read, expected, 16));
        const QRect screen(QPoint(), expected.size());
        for (const int position : { 0, 1, 2, 3 }) {
            bool ok = false;
            QVERIFY(
                largestDifference(rendered(wallpaperMap(path, screen, position), &ok), read) <= 1);
            QVERIFY(ok);
        }
        double mean = 0;
        if (suffix != QLatin1String("webp"))
            return;
        // A WebP keeps a phone photo's EXIF orientation: drawn as the JPEG it came from.
        const QString photo = QStringLiteral(VOK_SOURCE_DIR "/docs/samples/rotated-photo.jpg");
        QProcess keep;
        keep.start(QStringLiteral("cwebp"),
            { QStringLiteral("-quiet"), QStringLiteral("-metadata"), QStringLiteral("exif"), photo,
                QStringLiteral("-o"), path });
        QVERIFY(keep.waitForFinished(60000) && keep.exitCode() == 0);
        const QRect upright(0, 0, 450, 300);
        largestDifference(rendered(wallpaperMap(path, upright, 2)),
            rendered(wallpaperMap(photo, upright, 2)), &mean);
        QVERIFY2(mean < 4, qPrintable(QString::number(mean)));
        // Beyond what is decoded whole, a picture of a plugin's format is refused unread.
        QVERIFY(encode(solidImage(QSize(5000, 3500), Qt::darkCyan), encoder));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^Error image is too large: .*picture\\.webp")));
        bool ok = true;
        rendered(wallpaperMap(path, screen), &ok);
        QVERIFY(!ok);
    }

    void colourProfiles_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        for (const char *format : { "jpeg", "png" }) {
            QTest::addRow("%s", format) << QString::fromLatin1(format) << QSize(400, 300);
            // Beyond what is decoded whole: by parts, at a reduced size.
            QTest::addRow("%s, large", format) << QString::fromLatin1(format) << QSize(4800, 3600);
        }
    }

    // A picture tagged Display P3 or Adobe RGB is drawn converted to sRGB, by every decoding
    // path; one tagged sRGB, or untagged, exactly as stored.
    void colourProfiles()
    {
        QFETCH(QString, format);
        QFETCH(QSize, size);
        const QImage picture = quarters(size);
        // sRGB of a colour of a space with sRGB's curve (P3) or a pure gamma (Adobe RGB),
        // through the published matrices to sRGB's primaries.
        const auto expected = [](const QColor &colour, bool adobe) {
            const auto linear = [adobe](double v) {
                return adobe       ? std::pow(v, 563.0 / 256)
                    : v <= 0.04045 ? v / 12.92
                                   : std::pow((v + 0.055) / 1.055, 2.4);
            };
            const auto encoded = [](double v) {
                v = qBound(0.0, v, 1.0);
                return qRound(
                    255 * (v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055));
            };
            const double c[]
                = { linear(colour.redF()), linear(colour.greenF()), linear(colour.blueF()) };
            const double m[2][9]
                = { { 1.2249, -0.2247, 0, -0.0420, 1.0419, 0, -0.0197, -0.0786, 1.0979 },
                      { 1.3982, -0.3982, 0, 0, 1, 0, 0, -0.0429, 1.0429 } };
            const double *k = m[adobe];
            return QColor(encoded(k[0] * c[0] + k[1] * c[1] + k[2] * c[2]),
                encoded(k[3] * c[0] + k[4] * c[1] + k[5] * c[2]),
                encoded(k[6] * c[0] + k[7] * c[1] + k[8] * c[2]));
        };
        const QString path = file("tagged.") + format;
        const QRect screen(0, 0, 400, 300);
        QVERIFY(picture.save(path, format.toLatin1().constData(), 100));
        const QImage untagged = rendered(wallpaperMap(path, screen, 2));
        for (const auto space :
            { QColorSpace::SRgb, QColorSpace::DisplayP3, QColorSpace::AdobeRgb }) {
            QImage tagged = picture;
            tagged.setColorSpace(space);
            QFile::remove(path);
            QVERIFY(tagged.save(path, format.toLatin1().constData(), 100));
            bool ok = false;
            const QImage drawn = rendered(wallpaperMap(path, screen, 2), &ok);
            QVERIFY(ok);
            if (space == QColorSpace::SRgb) {
                QCOMPARE(drawn, untagged);
                continue;
            }
            for (const QPoint at :
                { QPoint(100, 75), QPoint(300, 75), QPoint(100, 225), QPoint(300, 225) }) {
                const QColor want
                    = expected(untagged.pixelColor(at), space == QColorSpace::AdobeRgb);
                QVERIFY2(largestDifference(QImage(drawn.copy(QRect(at, QSize(1, 1)))),
                             solidImage(QSize(1, 1), want))
                        <= 3,
                    qPrintable(
                        drawn.pixelColor(at).name() + QStringLiteral(" for ") + want.name()));
            }
        }
    }
};

QTEST_MAIN(TestRender)
#include "tst_render.moc"
