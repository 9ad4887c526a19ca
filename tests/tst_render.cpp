// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include "imagefile_p.h"
#include "jpeg/kernels_p.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

using namespace VokImage;

namespace {
QPoint coordinateAt(const QImage &image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return QPoint(qRed(p) | ((qBlue(p) & 15) << 8), qGreen(p) | ((qBlue(p) >> 4) << 8));
}

QMap<QString, QVariant> wallpaperMap(const QString &path, const QRect &screen, int position)
{
    QMap<QString, QVariant> map = DefaultWallpaperProperties;
    map[QStringLiteral("ImageProperty.path")] = QVariant::fromValue(File(path));
    map[QStringLiteral("ImageProperty.screen")] = screen;
    map[QStringLiteral("ImageProperty.position")] = position;
    return map;
}

// The crop without reduced decoding: the whole file decoded, scaled smoothly to cover the
// screen, its centre drawn.
QImage fullDecodeCrop(const QString &path, const QSize &screen)
{
    const QImage image
        = QPixmap(path)
              .scaled(screen, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
              .toImage();
    double k = double(image.width()) / screen.width();
    double srcH = k * screen.height();
    if (srcH > image.height()) {
        k = double(image.height()) / screen.height();
        srcH = screen.height() * k;
    }
    const double srcW = screen.width() * k;
    QImage out(screen, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(), QSizeF(screen)), image,
        QRectF((image.width() - srcW) * 0.5, (image.height() - srcH) * 0.5, srcW, srcH));
    return out;
}

// The crop as Qt's reader decodes the JPEG at the size that covers the screen (converted to
// sRGB from its embedded profile), its centre drawn in Source mode over a transparent surface.
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
        (cover.width() - screen.width()) * 0.5, (cover.height() - screen.height()) * 0.5);
    painter.drawImage(QRectF(QPointF(), QSizeF(screen)), decoded, QRectF(offset, QSizeF(screen)));
    return expected;
}

// @p image as a baseline JPEG written by libjpeg with the luma sampling @p h x @p v, a restart
// marker every @p restart MCUs (0: none) and @p marker (an APPn segment) when given.
QByteArray libjpegFile(const QImage &image, int h, int v, int restart,
    const QByteArray &marker = QByteArray(), int markerCode = JPEG_APP0 + 2)
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
        jpeg_write_marker(&info, markerCode, reinterpret_cast<const JOCTET *>(marker.constData()),
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

// The largest difference of one channel over the pictures; @p mean gets the mean one.
int largestChannelDifference(const QImage &a, const QImage &b, double *mean = nullptr)
{
    qint64 total = 0;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d[]
                = { qAbs(qRed(p[col]) - qRed(q[col])), qAbs(qGreen(p[col]) - qGreen(q[col])),
                      qAbs(qBlue(p[col]) - qBlue(q[col])), qAbs(qAlpha(p[col]) - qAlpha(q[col])) };
            total += d[0] + d[1] + d[2] + d[3];
            largest = std::max({ largest, d[0], d[1], d[2], d[3] });
        }
    }
    if (mean)
        *mean = double(total) / (4.0 * x.width() * x.height());
    return largest;
}

bool fullyTransparent(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 0)
                return false;
    return true;
}
} // namespace

class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void surfaceSize();
    void failures();
    void colourFill();
    void centre();
    void tile();
    void stretch();
    void crop();
    void cropReducedJpeg();
    void jpegDecodedInParts();
    void jpegPartsOfAnyCount();
    void kernelsScaleAsQt_data();
    void kernelsScaleAsQt();
    void pluginFormats_data();
    void pluginFormats();
    void colourProfiles_data();
    void colourProfiles();
    void undecodableAndUnknownPlacement();
    void overlay();
    void blurRules();

private:
    QTemporaryDir m_dir;
    QString m_coords3000, m_coords640, m_coords100;
};

void TestRender::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_coords3000 = m_dir.filePath(QStringLiteral("c3000.png"));
    m_coords640 = m_dir.filePath(QStringLiteral("c640.png"));
    m_coords100 = m_dir.filePath(QStringLiteral("c100.png"));
    QVERIFY(writeTestImage(m_coords3000, coordinateImage(QSize(3000, 2000))));
    QVERIFY(writeTestImage(m_coords640, coordinateImage(QSize(640, 480))));
    QVERIFY(writeTestImage(m_coords100, coordinateImage(QSize(100, 100))));
}

void TestRender::surfaceSize()
{
    {
        // A logo-only map: the logo rectangle alone sizes the surface.
        QMap<QString, QVariant> map;
        map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 1920, 1080);
        map[QStringLiteral("LogoProperty.path")] = QString();
        RenderEngine engine;
        const QPixmap pixmap = engine.render(map);
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QCOMPARE(pixmap.size(), QSize(1920, 1080));
        QVERIFY(fullyTransparent(pixmap.toImage()));
    }
    {
        QMap<QString, QVariant> map
            = wallpaperMap(QStringLiteral("#000000"), QRect(0, 0, 1920, 1080), 0);
        map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 1280, 1200);
        map[QStringLiteral("LogoProperty.path")] = QString();
        RenderEngine engine;
        const QImage image = engine.render(map).toImage();
        QCOMPARE(image.size(), QSize(1920, 1200));
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QCOMPARE(image.pixelColor(10, 10), QColor(Qt::black));
        QCOMPARE(image.pixelColor(10, 1150).alpha(), 0); // below the wallpaper's rectangle
    }
}

void TestRender::failures()
{
    MessageLog log;
    {
        // The size check comes before the path keys are looked at.
        RenderEngine engine;
        QMap<QString, QVariant> map;
        map[QStringLiteral("ImageProperty.screen")] = QRect(0, 0, 0, 100);
        QVERIFY(engine.render(map).isNull());
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
        QVERIFY(log.contains(QStringLiteral("RenderEngine::render() - screen size is empty")));
        QVERIFY(!log.contains(QStringLiteral("image and logo path is empty")));
    }
    {
        RenderEngine engine;
        QMap<QString, QVariant> map;
        map[QStringLiteral("ImageProperty.screen")] = QRect(0, 0, 10, 10);
        QVERIFY(engine.render(map).isNull());
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
        QVERIFY(
            log.contains(QStringLiteral("RenderEngine::render() - image and logo path is empty")));
    }
    {
        // A missing file: the picture is returned, transparent, and the status tells.
        log.clear();
        RenderEngine engine;
        const QPixmap pixmap = engine.render(
            wallpaperMap(m_dir.filePath(QStringLiteral("missing.png")), QRect(0, 0, 64, 48), 3));
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.size(), QSize(64, 48));
        QVERIFY(fullyTransparent(pixmap.toImage()));
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
        QCOMPARE(
            log.count(QStringLiteral("RenderImage::render() path is empty or file not exists")), 1);
        // The status is never set back.
        engine.render(wallpaperMap(QStringLiteral("#ffffff"), QRect(0, 0, 8, 8), 0));
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
    }
    {
        // Five hex digits are no colour: looked up as a file. "red" is a file name too.
        for (const QString &path : words("#12345 red")) {
            log.clear();
            RenderEngine engine;
            engine.render(wallpaperMap(path, QRect(0, 0, 8, 8), 0));
            QCOMPARE(engine.getStatus(), RenderEngine::Error);
            QVERIFY(log.contains(QStringLiteral("path is empty or file not exists")));
        }
    }
    {
        // A wallpaper rectangle that is invalid while the logo's sizes the surface.
        log.clear();
        RenderEngine engine;
        QMap<QString, QVariant> map = wallpaperMap(QStringLiteral("#ffffff"), QRect(), 0);
        map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 10, 10);
        QVERIFY(!engine.render(map).isNull());
        QCOMPARE(engine.getStatus(), RenderEngine::Error);
        QVERIFY(log.contains(QStringLiteral("RenderImage::render() size is empty")));
    }
    {
        log.clear();
        RenderEngine engine;
        QVERIFY(engine.drawWallpaper({}).isNull());
        QVERIFY(engine.drawLogo({}).isNull());
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QVERIFY(
            log.contains(QStringLiteral("RenderEngine::drawWallpaper() - image path is empty")));
        QVERIFY(log.contains(QStringLiteral("RenderEngine::drawLogo() - logo path is empty")));
    }
}

void TestRender::colourFill()
{
    RenderEngine engine;
    const QImage image
        = engine.render(wallpaperMap(QStringLiteral("#5a91bd"), QRect(1920, 0, 1280, 1024), 3))
              .toImage();
    QCOMPARE(engine.getStatus(), RenderEngine::Ok);
    QCOMPARE(image.size(), QSize(1280, 1024));
    QCOMPARE(image.pixelColor(0, 0), QColor(QStringLiteral("#5a91bd")));
    QCOMPARE(image.pixelColor(1279, 1023), QColor(QStringLiteral("#5a91bd")));
}

void TestRender::centre()
{
    {
        RenderEngine engine;
        const QImage image
            = engine.render(wallpaperMap(m_coords3000, QRect(0, 0, 1920, 1080), 0)).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QCOMPARE(coordinateAt(image, 0, 0), QPoint(540, 460));
        QCOMPARE(coordinateAt(image, 1919, 1079), QPoint(2459, 1539));
    }
    {
        // Without a position key the picture is centred as well.
        QMap<QString, QVariant> map = wallpaperMap(m_coords640, QRect(0, 0, 1920, 1080), 0);
        map.remove(QStringLiteral("ImageProperty.position"));
        RenderEngine engine;
        const QImage image = engine.render(map).toImage();
        QCOMPARE(coordinateAt(image, 640, 300), QPoint(0, 0));
        QCOMPARE(coordinateAt(image, 1279, 779), QPoint(639, 479));
        QCOMPARE(image.pixelColor(639, 300).alpha(), 0);
        QCOMPARE(image.pixelColor(640, 780).alpha(), 0);
    }
}

void TestRender::tile()
{
    RenderEngine engine;
    const QImage image
        = engine.render(wallpaperMap(m_coords100, QRect(0, 0, 250, 250), 1)).toImage();
    QCOMPARE(engine.getStatus(), RenderEngine::Ok);
    for (int x : { 0, 100, 200 })
        for (int y : { 0, 100, 200 })
            QCOMPARE(coordinateAt(image, x, y), QPoint(0, 0));
    QCOMPARE(coordinateAt(image, 249, 249), QPoint(49, 49));
    QCOMPARE(coordinateAt(image, 150, 60), QPoint(50, 60));
    QCOMPARE(image.pixelColor(249, 0).alpha(), 255);
}

void TestRender::stretch()
{
    QImage halves(200, 100, QImage::Format_RGB32);
    halves.fill(Qt::red);
    QPainter(&halves).fillRect(100, 0, 100, 100, Qt::blue);
    const QString path = m_dir.filePath(QStringLiteral("halves.png"));
    QVERIFY(writeTestImage(path, halves));

    RenderEngine engine;
    const QImage image = engine.render(wallpaperMap(path, QRect(0, 0, 400, 400), 2)).toImage();
    QCOMPARE(engine.getStatus(), RenderEngine::Ok);
    QCOMPARE(image.pixelColor(100, 10), QColor(Qt::red));
    QCOMPARE(image.pixelColor(100, 390), QColor(Qt::red));
    QCOMPARE(image.pixelColor(300, 200), QColor(Qt::blue));
}

void TestRender::crop()
{
    {
        // 1000x1000 on 1920x1080: scaled to 1920x1920, rows 420..1499 kept.
        QImage square(1000, 1000, QImage::Format_RGB32);
        square.fill(Qt::blue);
        QPainter painter(&square);
        painter.fillRect(0, 0, 1000, 200, Qt::green); // scaled rows 0..383: cut off
        painter.fillRect(0, 200, 1000, 30, Qt::yellow); // scaled rows 384..441: at the top
        painter.end();
        const QString path = m_dir.filePath(QStringLiteral("square.png"));
        QVERIFY(writeTestImage(path, square));
        RenderEngine engine;
        const QImage image
            = engine.render(wallpaperMap(path, QRect(0, 0, 1920, 1080), 3)).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QCOMPARE(image.size(), QSize(1920, 1080));
        QCOMPARE(image.pixelColor(960, 8), QColor(Qt::yellow));
        QCOMPARE(image.pixelColor(960, 40), QColor(Qt::blue));
        for (int x = 0; x < 1920; x += 97)
            QVERIFY(image.pixelColor(x, 0) != QColor(Qt::green));
    }
    {
        // 4000x1000 on 1920x1080: scaled to 4320x1080, columns 1200..3119 kept.
        QImage wide(4000, 1000, QImage::Format_RGB32);
        wide.fill(Qt::blue);
        QPainter painter(&wide);
        painter.fillRect(0, 0, 1100, 1000, Qt::green); // scaled columns 0..1187: cut off
        painter.fillRect(1115, 0, 30, 1000, Qt::magenta); // scaled 1204..1235: at the left
        painter.fillRect(2870, 0, 1130, 1000, Qt::green); // scaled 3100..: at the right edge
        painter.end();
        const QString path = m_dir.filePath(QStringLiteral("wide.png"));
        QVERIFY(writeTestImage(path, wide));
        RenderEngine engine;
        const QImage image
            = engine.render(wallpaperMap(path, QRect(0, 0, 1920, 1080), 3)).toImage();
        QCOMPARE(image.pixelColor(15, 540), QColor(Qt::magenta));
        QVERIFY(image.pixelColor(0, 540) != QColor(Qt::green));
        QCOMPARE(image.pixelColor(60, 540), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(1915, 540), QColor(Qt::green));
        QCOMPARE(image.pixelColor(1880, 540), QColor(Qt::blue));
    }
}

void TestRender::cropReducedJpeg()
{
    // Photo-like detail: smooth gradients, hard edges, fine stripes and grain.
    QImage photo(3000, 2000, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < photo.height(); ++y) {
        for (int x = 0; x < photo.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 29) - 4;
            const int stripes = (x / 3 + y / 5) % 2 ? 40 : 0;
            const int edge = x > 1700 && y > 600 ? 90 : 0;
            photo.setPixel(x, y,
                qRgb(qBound(0, x * 200 / 3000 + grain + edge, 255),
                    qBound(0, y * 200 / 2000 + stripes + grain, 255),
                    qBound(0, 120 + grain - edge, 255)));
        }
    }
    const QString path = m_dir.filePath(QStringLiteral("photo.jpg"));
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    QVERIFY(writer.write(photo));
    for (const QSize screen : { QSize(1280, 720), QSize(1920, 1080), QSize(2560, 1440),
             QSize(1080, 1920), QSize(2999, 1999) }) {
        RenderEngine engine;
        const QImage image
            = engine.render(wallpaperMap(path, QRect(QPoint(), screen), 3)).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QCOMPARE(image.size(), screen);
        // Same to the eye: a few levels, more only along hard edges and fine stripes.
        double mean = 0;
        const int difference = largestChannelDifference(image, fullDecodeCrop(path, screen), &mean);
        QVERIFY2(difference <= 24, qPrintable(QString::number(difference)));
        QVERIFY2(mean <= 3.0, qPrintable(QString::number(mean)));
    }
    // The decoded picture drawn in Source mode over the transparent surface, exactly: also
    // where the surface is a view of the picture's rows (a crop of whole rows at a whole
    // offset), with a logo drawn over it.
    for (const QSize screen : { QSize(1280, 720), QSize(1280, 719), QSize(1000, 900) }) {
        QImage expected = readerCrop(path, screen);
        QPainter painter(&expected);
        painter.drawImage(
            getLogoPosition(QSize(100, 100), QRect(QPoint(), screen), LogoPosition::TopLeft),
            QImage(m_coords100));
        painter.end();
        QMap<QString, QVariant> map = wallpaperMap(path, QRect(QPoint(), screen), 3);
        map[QStringLiteral("LogoProperty.path")] = m_coords100;
        map[QStringLiteral("LogoProperty.screen")] = QRect(QPoint(), screen);
        map[QStringLiteral("LogoProperty.position")] = int(LogoPosition::TopLeft);
        map[QStringLiteral("TaskbarProperty.position")] = -1;
        RenderEngine engine;
        const QImage image = engine.render(map).toImage();
        QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(image.bytesPerLine(), screen.width() * 4);
        QCOMPARE(image, expected);
    }

    // A file smaller than the screen is decoded whole: the same pixels.
    RenderEngine engine;
    const QSize big(3840, 2160);
    QCOMPARE(largestChannelDifference(
                 engine.render(wallpaperMap(path, QRect(QPoint(), big), 3)).toImage(),
                 fullDecodeCrop(path, big)),
        0);
}

void TestRender::jpegDecodedInParts()
{
    // Large crops of JPEGs of every common sampling, odd sizes, restart markers and an ICC
    // profile, and a screen larger than the picture (decoded whole, then scaled up): the pixels
    // of Qt's reader at the covering size, whatever the threads did.
    QImage photo(2501, 1667, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            photo.setPixel(x, y,
                qRgb(qBound(0, x * 255 / 2501 + grain, 255),
                    qBound(0, (x / 7 + y / 3) % 2 ? 200 + grain : 30, 255),
                    qBound(0, y * 255 / 1667 - grain, 255)));
        }
    QByteArray icc("ICC_PROFILE\0\1\1", 14);
    icc += QColorSpace(QColorSpace::DisplayP3).iccProfile();
    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    const QImage turned = photo.transformed(QTransform().rotate(90));
    const QByteArray sampled420 = libjpegFile(photo, 2, 2, 0);
    const QByteArray withProfile = libjpegFile(photo, 2, 2, 0, icc);
    const QList<Case> cases {
        { "4:2:0", sampled420 },
        { "4:2:2", libjpegFile(photo, 2, 1, 0) },
        { "4:4:4", libjpegFile(photo, 1, 1, 0) },
        { "4:4:0 tall", libjpegFile(turned, 1, 2, 0) },
        { "restart markers", libjpegFile(photo, 2, 2, 5) },
        { "ICC profile", withProfile },
        { "cut short", sampled420.left(sampled420.size() * 2 / 3) },
        { "damaged",
            sampled420.left(sampled420.size() / 2) + QByteArray(4000, '\x55')
                + sampled420.mid(sampled420.size() / 2 + 4000) },
    };
    for (const Case &c : cases) {
        const QString path = m_dir.filePath(QStringLiteral("parts.jpg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        // 1920x1079 and 2400x1351 take whole rows of the covering picture: only those decode.
        for (const QSize screen : { QSize(1920, 1080), QSize(1280, 1000), QSize(1500, 1499),
                 QSize(2400, 1350), QSize(1250, 800), QSize(1700, 1000), QSize(2600, 1800),
                 QSize(1920, 1079), QSize(2400, 1351) }) {
            RenderEngine engine;
            const QImage image
                = engine.render(wallpaperMap(path, QRect(QPoint(), screen), 3)).toImage();
            // A profile's conversion is within one level of Qt's.
            const QImage expected = readerCrop(path, screen);
            QVERIFY2(c.bytes == withProfile ? largestChannelDifference(image, expected) <= 1
                                            : image == expected,
                qPrintable(QStringLiteral("%1 on %2x%3")
                               .arg(QLatin1String(c.name))
                               .arg(screen.width())
                               .arg(screen.height())));
        }
    }

    // Small pictures scaled up on both axes, by a little and by a lot, are decoded and scaled
    // row by row: the pixels of Qt's reader and smooth scale still.
    const QImage small = photo.copy(1000, 700, 301, 203);
    for (const QByteArray &bytes : { libjpegFile(small, 2, 2, 0), libjpegFile(small, 1, 1, 3),
             libjpegFile(small.transformed(QTransform().rotate(90)), 1, 2, 0) }) {
        const QString path = m_dir.filePath(QStringLiteral("small.jpg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        for (const QSize screen : { QSize(1280, 1000), QSize(640, 480), QSize(1920, 1080),
                 QSize(302, 203), QSize(207, 400) }) {
            RenderEngine engine;
            const QImage image
                = engine.render(wallpaperMap(path, QRect(QPoint(), screen), 3)).toImage();
            QVERIFY2(image == readerCrop(path, screen),
                qPrintable(
                    QStringLiteral("small on %1x%2").arg(screen.width()).arg(screen.height())));
        }
    }
}

void TestRender::jpegPartsOfAnyCount()
{
    // A picture whose lower half costs far more to decode than its upper half, so that the
    // parts find their starts away from the even split; every count of parts gives Qt's pixels
    // when scaled down (M/8 decoding, then the smooth scale) and scaled up, and a damaged file
    // fails whatever the count, without a part waiting for ever on another.
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
    const QByteArray calm = libjpegFile(photo, 2, 2, 0);
    const QByteArray rich = libjpegFile(photo, 1, 1, 0);
    QByteArray damaged = calm;
    damaged.replace(damaged.size() * 3 / 4, 3000, QByteArray(3000, '\x37'));
    // The two files take turns, so that rows a part leaves unwritten show the other's pixels.
    const QList<QByteArray> files { calm, rich };
    for (const QSize size :
        { QSize(1000, 800), QSize(640, 530), QSize(301, 249), QSize(900, 900), QSize(1203, 997) }) {
        QList<QImage> expected;
        for (const QByteArray &bytes : files) {
            QBuffer buffer;
            buffer.setData(bytes);
            QImageReader reader(&buffer);
            reader.setScaledSize(size);
            expected.append(reader.read());
        }
        for (int parts = 1; parts <= 7; parts += 2)
            for (int i = 0; i < files.size(); ++i) {
                // Rows alone where the picture is scaled down after libjpeg's M/8 scale (all
                // sizes but the whole picture and 301x249, libjpeg's 2/8 width): the same rows.
                const bool rowsAlone = size != QSize(1203, 997) && size != QSize(301, 249);
                for (const auto &[first, count] : { std::pair { 0, size.height() },
                         std::pair { 0, 1 }, std::pair { size.height() / 3, size.height() / 3 },
                         std::pair { size.height() - 7, 7 } }) {
                    const QImage rows
                        = decodeJpegRowsInParts(files.at(i), size, first, count, parts);
                    if (!rows.isNull() || rowsAlone)
                        QVERIFY2(rows == expected.at(i).copy(0, first, size.width(), count),
                            qPrintable(QStringLiteral("rows %1+%2 of file %3 at %4x%5 in %6 parts")
                                           .arg(first)
                                           .arg(count)
                                           .arg(i)
                                           .arg(size.width())
                                           .arg(size.height())
                                           .arg(parts)));
                }
                QVERIFY2(decodeJpegInParts(files.at(i), size, parts) == expected.at(i),
                    qPrintable(QStringLiteral("file %1 at %2x%3 in %4 parts")
                                   .arg(i)
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(parts)));
            }
    }
    for (const QSize size : { QSize(2406, 1994), QSize(1500, 1100), QSize(1204, 998) }) {
        QList<QImage> expected;
        for (const QByteArray &bytes : files)
            expected.append(QImage::fromData(bytes, "jpeg")
                                .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        for (int parts = 1; parts <= 8; parts *= 2)
            for (int i = 0; i < files.size(); ++i)
                QVERIFY2(decodeJpegScaledUp(files.at(i), size, parts) == expected.at(i),
                    qPrintable(QStringLiteral("file %1 up to %2x%3 in %4 parts")
                                   .arg(i)
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(parts)));
    }
    for (int parts = 1; parts <= 8; ++parts) {
        QVERIFY(decodeJpegInParts(damaged, QSize(640, 530), parts).isNull());
        QVERIFY(decodeJpegInParts(damaged, QSize(1203, 997), parts).isNull());
        QVERIFY(decodeJpegScaledUp(damaged, QSize(1500, 1240), parts).isNull());
    }
}

void TestRender::kernelsScaleAsQt_data()
{
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    QTest::newRow("up") << QSize(37, 23) << QSize(101, 67);
    QTest::newRow("up far") << QSize(5, 3) << QSize(641, 9);
    QTest::newRow("down") << QSize(301, 203) << QSize(47, 31);
    QTest::newRow("down thin") << QSize(997, 17) << QSize(100, 7);
}

// The scaling kernels, row by row as the JPEG decoder runs them, give the pixels of Qt's smooth
// scale, up (rows blended, then each row scaled) and down (sums along each row, then over rows).
void TestRender::kernelsScaleAsQt()
{
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    QImage source(from, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < from.height(); ++y)
        for (int x = 0; x < from.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            source.setPixel(x, y, 0xff000000u | (seed >> 8));
        }
    const int sw = from.width();
    // A source row with room past its end, as the decoder's buffers have.
    const auto padded = [&](int y, size_t room) {
        std::vector<quint32> row(size_t(sw) + room, 0);
        std::memcpy(row.data(), source.constScanLine(y), size_t(sw) * 4);
        return row;
    };
    QImage made(to, QImage::Format_RGB32);
    if (to.width() > sw) {
        const Jpeg::UpPoints columns(sw, to.width());
        const Jpeg::UpPoints rows(from.height(), to.height());
        std::vector<quint32> blended(size_t(sw) + 1, 0);
        for (int y = 0; y < to.height(); ++y) {
            const int row = rows.point[size_t(y)];
            const quint32 weight = quint32(rows.weight[size_t(y)]);
            std::vector<quint32> top = padded(row, 1);
            if (weight > 0) {
                const std::vector<quint32> bottom = padded(row + 1, 1);
                Jpeg::blendRows(top.data(), bottom.data(), weight, blended.data(), size_t(sw));
                top = blended;
            }
            columns.scaleRow(top.data(), reinterpret_cast<quint32 *>(made.scanLine(y)));
        }
    } else {
        const Jpeg::DownTaps columnTaps(sw, to.width());
        const Jpeg::DownTaps rows(from.height(), to.height());
        QVERIFY(columnTaps.valid && rows.valid);
        const Jpeg::RowTaps columns(columnTaps);
        std::vector<std::vector<quint32>> sums(size_t(from.height()));
        for (int y = 0; y < from.height(); ++y) {
            sums[size_t(y)].resize(size_t(to.width()) * 4);
            Jpeg::sumRow(padded(y, size_t(columns.pairCount) * 2 + 8).data(), columns,
                sums[size_t(y)].data());
        }
        for (int y = 0; y < to.height(); ++y) {
            std::vector<const quint32 *> rowSums;
            std::vector<quint32> weights;
            for (int k = 0; k < rows.count[size_t(y)]; ++k)
                if (rows.first[size_t(y)] + k < from.height()) {
                    rowSums.push_back(sums[size_t(rows.first[size_t(y)] + k)].data());
                    weights.push_back(rows.weight(size_t(y), k));
                }
            Jpeg::combineRows(rowSums.data(), weights.data(), int(rowSums.size()),
                reinterpret_cast<quint32 *>(made.scanLine(y)), size_t(to.width()));
        }
    }
    const QImage qt = source.scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(made, qt);
}

void TestRender::pluginFormats_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QStringList>("encoder");
    QTest::addColumn<bool>("deep");
    QTest::addColumn<int>("quarterTurns");
    QTest::newRow("HEIC") << "heic" << QStringList { "heif-enc", "-q", "90", "IN", "-o", "OUT" }
                          << false << 0;
    QTest::newRow("HEIC 10-bit") << "heic"
                                 << QStringList { "heif-enc", "-b", "10", "-q", "90", "IN", "-o",
                                        "OUT" }
                                 << true << 0;
    QTest::newRow("AVIF") << "avif" << QStringList { "avifenc", "IN", "OUT" } << false << 0;
    QTest::newRow("AVIF 10-bit, turned")
        << "avif" << QStringList { "avifenc", "-d", "10", "--irot", "1", "IN", "OUT" } << true << 1;
    QTest::newRow("WebP") << "webp" << QStringList { "cwebp", "-quiet", "IN", "-o", "OUT" } << false
                          << 0;
    QTest::newRow("JPEG XL") << "jxl" << QStringList { "cjxl", "IN", "OUT" } << false << 0;
    QTest::newRow("PNG 16-bit") << "png" << QStringList() << true << 0;
}

// Pictures of the formats Qt's plugins read, 64-bit ones included, are drawn as Qt's reader
// reads them, upright, in each placement; one beyond what is decoded whole is refused.
void TestRender::pluginFormats()
{
    QFETCH(QString, suffix);
    QFETCH(QStringList, encoder);
    QFETCH(bool, deep);
    QFETCH(int, quarterTurns);
    if (!QImageReader::supportedImageFormats().contains(suffix.toLatin1()))
        QSKIP(qPrintable(QStringLiteral("no Qt image plugin reads %1 here").arg(suffix)));
    if (!encoder.isEmpty() && QStandardPaths::findExecutable(encoder.first()).isEmpty())
        QSKIP(qPrintable(encoder.first() + QStringLiteral(" is not installed")));
    // Four flat quarters: any transposition, mirror or misread row shows.
    QImage source(320, 200, deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    QPainter painter(&source);
    painter.fillRect(0, 0, 160, 100, QColor(220, 40, 40));
    painter.fillRect(160, 0, 160, 100, QColor(40, 200, 60));
    painter.fillRect(0, 100, 160, 100, QColor(40, 60, 220));
    painter.fillRect(160, 100, 160, 100, QColor(230, 210, 50));
    painter.end();
    const QString input = m_dir.filePath(QStringLiteral("source.png"));
    QVERIFY(source.save(input));
    const QString path = m_dir.filePath(QStringLiteral("picture.") + suffix);
    if (!encoder.isEmpty()) {
        QStringList arguments = encoder.mid(1);
        arguments.replaceInStrings(QStringLiteral("IN"), input);
        arguments.replaceInStrings(QStringLiteral("OUT"), path);
        QProcess encode;
        encode.start(encoder.first(), arguments);
        QVERIFY(encode.waitForFinished(60000));
        QVERIFY2(encode.exitCode() == 0, encode.readAllStandardError().constData());
    } else {
        QFile::remove(path);
        QVERIFY(QFile::rename(input, path));
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage read = reader.read();
    QVERIFY(!read.isNull());
    if (deep)
        QVERIFY2(read.depth() == 64, "the reader gives no 64-bit picture");
    QImage expected = source.convertToFormat(QImage::Format_RGB32);
    // irot turns anticlockwise.
    for (int i = 0; i < quarterTurns; ++i)
        expected = expected.transformed(QTransform().rotate(-90));
    QCOMPARE(read.size(), expected.size());
    // Lossy codecs blur the edges: the middle of each quarter is compared.
    for (const QPoint &quarter : { QPoint(1, 1), QPoint(3, 1), QPoint(1, 3), QPoint(3, 3) }) {
        const QPoint at(quarter.x() * read.width() / 4, quarter.y() * read.height() / 4);
        QVERIFY(largestChannelDifference(
                    read.copy(QRect(at, QSize(4, 4))), expected.copy(QRect(at, QSize(4, 4))))
            <= 16);
    }

    const QRect screen(QPoint(0, 0), expected.size());
    for (const int position : { int(WallPaperPosition::Crop), int(WallPaperPosition::Center),
             int(WallPaperPosition::Stretch), int(WallPaperPosition::Tile) }) {
        RenderEngine engine;
        const QImage drawn = engine.render(wallpaperMap(path, screen, position)).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QVERIFY2(largestChannelDifference(drawn, read) <= 1, qPrintable(QString::number(position)));
    }
    // Twice the screen: scaled as Qt scales the reader's picture (the painter's filter differs
    // at the quarters' edges only).
    RenderEngine engine;
    const QImage twice = engine
                             .render(wallpaperMap(path, QRect(QPoint(0, 0), screen.size() * 2),
                                 int(WallPaperPosition::Stretch)))
                             .toImage();
    QCOMPARE(twice.size(), screen.size() * 2);
    double mean = 0;
    const int largest = largestChannelDifference(
        twice, read.scaled(twice.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation), &mean);
    QVERIFY2(mean < 1, qPrintable(QStringLiteral("%1 %2").arg(largest).arg(mean)));

    if (suffix != QLatin1String("webp"))
        return;
    // A WebP keeps a phone photo's EXIF orientation: drawn upright, as the JPEG it came from.
    const QString photo = QStringLiteral(VOK_SOURCE_DIR "/docs/samples/rotated-photo.jpg");
    const QString turned = m_dir.filePath(QStringLiteral("turned.webp"));
    QProcess keep;
    keep.start(encoder.first(),
        { QStringLiteral("-quiet"), QStringLiteral("-metadata"), QStringLiteral("exif"), photo,
            QStringLiteral("-o"), turned });
    QVERIFY(keep.waitForFinished(60000) && keep.exitCode() == 0);
    const QRect upright(0, 0, 450, 300);
    RenderEngine fromJpeg, fromWebp;
    const QImage wanted
        = fromJpeg.render(wallpaperMap(photo, upright, int(WallPaperPosition::Stretch))).toImage();
    const QImage seen
        = fromWebp.render(wallpaperMap(turned, upright, int(WallPaperPosition::Stretch))).toImage();
    double meanDifference = 0;
    largestChannelDifference(seen, wanted, &meanDifference);
    QVERIFY2(meanDifference < 4, qPrintable(QString::number(meanDifference)));

    // Beyond what is decoded whole, a picture of a plugin's format is refused unread.
    QImage flat(5000, 3500, QImage::Format_RGB32);
    flat.fill(Qt::darkCyan);
    QVERIFY(flat.save(input));
    QProcess encode;
    encode.start(encoder.first(), { QStringLiteral("-quiet"), input, QStringLiteral("-o"), path });
    QVERIFY(encode.waitForFinished(60000) && encode.exitCode() == 0);
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^Error image is too large: .*picture\\.webp")));
    const QImage refused
        = engine.render(wallpaperMap(path, screen, int(WallPaperPosition::Crop))).toImage();
    QVERIFY(engine.getStatus() != RenderEngine::Ok);
}

void TestRender::colourProfiles_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("size");
    for (const char *format : { "jpeg", "png" }) {
        QTest::addRow("%s", format) << QString::fromLatin1(format) << QSize(400, 300);
        // Beyond what is decoded whole: by parts, at a reduced size.
        QTest::addRow("%s, large", format) << QString::fromLatin1(format) << QSize(4800, 3600);
    }
}

// A picture tagged Display P3 or Adobe RGB is drawn converted to sRGB, by every decoding path;
// one tagged sRGB, or untagged, exactly as stored.
void TestRender::colourProfiles()
{
    QFETCH(QString, format);
    QFETCH(QSize, size);
    const QColor patches[]
        = { QColor(200, 100, 50), QColor(60, 170, 90), QColor(70, 90, 190), QColor(150, 150, 150) };
    QImage picture(size, QImage::Format_RGB32);
    QPainter painter(&picture);
    const QSize half = size / 2;
    for (int i = 0; i < 4; ++i)
        painter.fillRect(
            QRect(QPoint(i % 2 * half.width(), i / 2 * half.height()), half), patches[i]);
    painter.end();
    // sRGB of a colour in a space of sRGB's curve (P3) or a pure gamma (Adobe RGB), through the
    // published matrices to sRGB's primaries.
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
        const double r = linear(colour.redF()), g = linear(colour.greenF()),
                     b = linear(colour.blueF());
        const double m[2][9]
            = { { 1.2249, -0.2247, 0, -0.0420, 1.0419, 0, -0.0197, -0.0786, 1.0979 },
                  { 1.3982, -0.3982, 0, 0, 1, 0, 0, -0.0429, 1.0429 } };
        const double *k = m[adobe];
        return QColor(encoded(k[0] * r + k[1] * g + k[2] * b),
            encoded(k[3] * r + k[4] * g + k[5] * b), encoded(k[6] * r + k[7] * g + k[8] * b));
    };
    const QRect screen(0, 0, 400, 300);
    QImage untagged;
    for (const QColorSpace::NamedColorSpace space :
        { QColorSpace::SRgb, QColorSpace::DisplayP3, QColorSpace::AdobeRgb }) {
        QImage tagged = picture;
        tagged.setColorSpace(space);
        const QString path = m_dir.filePath(QStringLiteral("tagged.") + format);
        QFile::remove(path);
        QVERIFY(tagged.save(path, format.toLatin1().constData(), 100));
        RenderEngine engine;
        const QImage drawn
            = engine.render(wallpaperMap(path, screen, int(WallPaperPosition::Stretch))).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        if (space == QColorSpace::SRgb) {
            // Untagged: as stored; tagged sRGB: the same pixels.
            QVERIFY(picture.save(path, format.toLatin1().constData(), 100));
            RenderEngine plain;
            untagged = plain.render(wallpaperMap(path, screen, int(WallPaperPosition::Stretch)))
                           .toImage();
            QVERIFY(drawn == untagged);
            continue;
        }
        for (int i = 0; i < 4; ++i) {
            const QPoint at(i % 2 * 200 + 100, i / 2 * 150 + 75);
            const QColor want = expected(patches[i], space == QColorSpace::AdobeRgb);
            const QColor got = drawn.pixelColor(at);
            QVERIFY2(qAbs(got.red() - want.red()) <= 3 && qAbs(got.green() - want.green()) <= 3
                    && qAbs(got.blue() - want.blue()) <= 3,
                qPrintable(
                    QStringLiteral("patch %1: %2 for %3").arg(i).arg(got.name(), want.name())));
            // Grey stays grey: the spaces share sRGB's white.
            QVERIFY(i == 3 || got != untagged.pixelColor(at));
        }
    }
}

void TestRender::undecodableAndUnknownPlacement()
{
    const QString garbage = m_dir.filePath(QStringLiteral("garbage.png"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not an image");
    file.close();
    for (int position : { 0, 1, 2, 3 }) {
        RenderEngine engine;
        const QPixmap pixmap = engine.render(wallpaperMap(garbage, QRect(0, 0, 50, 40), position));
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QVERIFY(fullyTransparent(pixmap.toImage()));
    }
    MessageLog log;
    // 4 and 5 are Fit and Span, the placements added after the four.
    for (int position : { -1, 6, 7 }) {
        RenderEngine engine;
        const QPixmap pixmap
            = engine.render(wallpaperMap(m_coords100, QRect(0, 0, 50, 40), position));
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        QVERIFY(fullyTransparent(pixmap.toImage()));
    }
    QVERIFY(log.messages().isEmpty());
}

void TestRender::overlay()
{
    QMap<QString, QVariant> map = DefaultWallpaperProperties;
    map[QStringLiteral("ImageProperty.path")]
        = QVariant::fromValue(File(QStringLiteral("#ffffff")));
    map[QStringLiteral("ImageProperty.screen")] = QRect(0, 0, 20, 10);
    map[QStringLiteral("ImageProperty.colorOverlay")] = QColor(0, 0, 0, 100);
    map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 40, 10);
    map[QStringLiteral("LogoProperty.path")] = QString();
    RenderEngine engine;
    const QImage image = engine.render(map).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.pixelColor(5, 5), QColor(155, 155, 155));
    const QColor outside = image.pixelColor(30, 5); // transparent before the overlay
    QCOMPARE(outside.alpha(), 100);
    QCOMPARE(outside.red(), 0);
}

void TestRender::blurRules()
{
    // A sharp black/white edge in the wallpaper and a sharp logo square far from it.
    QTemporaryDir dir;
    QImage wall = solidImage(QSize(200, 100), Qt::white);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 50; ++x)
            wall.setPixel(x, y, qRgb(0, 0, 0));
    const QString wallPath = dir.filePath(QStringLiteral("wall.png"));
    const QString logoPath = dir.filePath(QStringLiteral("logo.png"));
    QVERIFY(writeTestImage(wallPath, wall));
    QVERIFY(writeTestImage(logoPath, solidImage(QSize(40, 40), Qt::red)));

    auto render = [&](QVariant imageBlur, QVariant logoBlur) {
        QMap<QString, QVariant> map = DefaultWallpaperProperties;
        map[QStringLiteral("ImageProperty.path")] = QVariant::fromValue(File(wallPath));
        map[QStringLiteral("ImageProperty.screen")] = QRect(0, 0, 200, 100);
        map[QStringLiteral("ImageProperty.position")] = 0;
        map[QStringLiteral("ImageProperty.blur")] = imageBlur;
        map[QStringLiteral("LogoProperty.path")] = logoPath;
        map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 200, 100);
        map[QStringLiteral("LogoProperty.position")] = int(LogoPosition::Right);
        map[QStringLiteral("TaskbarProperty.position")] = -1;
        if (logoBlur.isValid())
            map[QStringLiteral("LogoProperty.blur")] = logoBlur;
        RenderEngine engine;
        return engine.render(map).toImage();
    };
    // Wallpaper edge at x = 50; logo square spans x 146..185, y 30..69.
    auto wallSharp = [](const QImage &i) { return i.pixelColor(48, 50) == QColor(Qt::black); };
    auto logoSharp = [](const QImage &i) { return i.pixelColor(143, 50) == QColor(Qt::white); };

    const QImage none = render(-1, QVariant());
    QVERIFY(wallSharp(none) && logoSharp(none));
    const QImage wallOnly = render(8.0, QVariant());
    QVERIFY(!wallSharp(wallOnly) && logoSharp(wallOnly));
    const QImage logoOnly = render(-1, 5);
    QVERIFY(wallSharp(logoOnly) && !logoSharp(logoOnly));
    const QImage both = render(8.0, 5);
    QVERIFY(!wallSharp(both) && !logoSharp(both));
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
