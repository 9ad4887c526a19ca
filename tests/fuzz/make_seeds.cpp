// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Writes the seed corpus of every fuzz target into the folder given, made by the library.
#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>

#include <csetjmp>
#include <cstdio>

#include <png.h>

namespace {

bool write(const QString &dir, const QString &target, int index, const QByteArray &data)
{
    QDir().mkpath(dir + QLatin1Char('/') + target);
    QFile file(dir + QLatin1Char('/') + target + QStringLiteral("/seed-%1").arg(index));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray record(const QMap<QString, QVariant> &map, const QImage &image)
{
    QByteArray data = VokImage::Utils::PropertiesToByteArray(map);
    QDataStream stream(&data, QIODevice::WriteOnly | QIODevice::Append);
    stream << image;
    return data;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

// @p image as an Adam7-interlaced 8-bit RGB PNG.
QByteArray interlaced(const QImage &image)
{
    QByteArray data;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return QByteArray();
    }
    png_set_write_fn(
        png, &data,
        [](png_structp png, png_bytep bytes, png_size_t length) {
            static_cast<QByteArray *>(png_get_io_ptr(png))
                ->append(reinterpret_cast<const char *>(bytes), int(length));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(rgb.width()), png_uint_32(rgb.height()), 8,
        PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < rgb.height(); ++y)
            png_write_row(png, rgb.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return data;
}

QByteArray progressive(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return data;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    QMap<QString, QVariant> background = VokImage::DefaultLogoProperties;
    for (auto it = VokImage::DefaultWallpaperProperties.constBegin();
         it != VokImage::DefaultWallpaperProperties.constEnd(); ++it)
        background.insert(it.key(), it.value());
    background[QLatin1String(VokImage::Keys::LogoPath)]
        = QStringLiteral("/usr/share/logo_dark.svg");
    background[QLatin1String(VokImage::Keys::ImageColorOverlay)] = QColor(0, 0, 0, 100);
    background[QLatin1String(VokImage::Keys::ImageBlur)] = 5.0;
    const QList<QMap<QString, QVariant>> maps { {}, VokImage::DefaultWallpaperProperties,
        VokImage::DefaultLogoProperties, background, fuzzCacheMap() };
    int i = 0;
    for (const auto &map : maps)
        ok &= write(
            dir, QStringLiteral("byteform"), i++, VokImage::Utils::PropertiesToByteArray(map));

    QImage picture(16, 12, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(40, 90, 160));
    ok &= write(dir, QStringLiteral("cachefile"), 0, record(fuzzCacheMap(), picture));
    ok &= write(dir, QStringLiteral("cachefile"), 1, record(fuzzCacheMap(), QImage()));
    ok &= write(dir, QStringLiteral("cachefile"), 2,
        record(fuzzCacheMap(), picture.convertToFormat(QImage::Format_RGB32)));

    ok &= write(dir, QStringLiteral("settings"), 0,
        "[Theme]\nWallPaper=vok-default\nWallPaperPos=Crop\nLogoPixmap=\"/a b.svg\"\n"
        "TaskbarHeight=48\nflag=True\n# comment\n; other\n");
    ok &= write(dir, QStringLiteral("settings"), 1, "PrimaryColor=#5a91bd\n[[x]]\na=b=c\n");

    ok &= write(dir, QStringLiteral("orvsettings"), 0,
        "[background]\npath=/usr/share/wallpapers/dm.jpg\nkeep_proportions=false\n"
        "color_overlay=0, 0, 0, 100\n[background][blur]\nenable=true\nradius=5\n"
        "[background][logo]\npath=/logo_dark.svg\nenable=true\nblur=false\n");

    const char *colours[] = { "255,0,0", "0, 0, 0, 100", "300,0,0", "1,2", "" };
    i = 0;
    for (const char *colour : colours)
        ok &= write(dir, QStringLiteral("color"), i++, colour);

    // Image files: the first byte picks the suffix (0 .png, 1 .jpg, 2 .svg) and placement.
    const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"6\">"
                           "<rect width=\"8\" height=\"6\" fill=\"#3a6\"/></svg>";
    ok &= write(
        dir, QStringLiteral("imagefile"), 0, QByteArray(1, char(0)) + encoded(picture, "PNG"));
    ok &= write(dir, QStringLiteral("imagefile"), 1,
        QByteArray(1, char(1 + 6 * 3)) + encoded(picture, "JPEG"));
    ok &= write(dir, QStringLiteral("imagefile"), 2, QByteArray(1, char(2 + 6)) + svg);
    ok &= write(dir, QStringLiteral("imagefile"), 3,
        QByteArray(1, char(2 + 12))
            + "<svg xmlns=\"http://www.w3.org/2000/svg\" "
              "xmlns:xlink=\"http://www.w3.org/1999/xlink\">"
              "<image width=\"8\" height=\"6\" xlink:href=\"/etc/passwd\"/></svg>");

    ok &= write(dir, QStringLiteral("imagefile"), 4,
        QByteArray(1, char(0 + 6 * 3)) + interlaced(picture.scaled(40, 30)));
    const QByteArray jpeg = progressive(picture.scaled(40, 30));
    ok &= write(dir, QStringLiteral("imagefile"), 5, QByteArray(1, char(1)) + jpeg);
    // The same behind a marker without a length (TEM).
    ok &= write(dir, QStringLiteral("imagefile"), 6,
        QByteArray(1, char(1 + 6)) + jpeg.left(2) + QByteArray("\xff\x01", 2) + jpeg.mid(2));

    const char *geometries[] = { "-10-20", "+0+0", "200x100+10+10", "=100x50-0+0", "x" };
    i = 0;
    for (const char *geometry : geometries)
        ok &= write(dir, QStringLiteral("geometry"), i++, geometry);
    return ok ? 0 : 1;
}
