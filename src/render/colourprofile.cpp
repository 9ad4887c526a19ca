// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "colourprofile_p.h"

#include "bytes_p.h"

#include <QColorTransform>
#include <QMap>
#include <QThread>

#include <thread>
#include <vector>
#include <zlib.h>

namespace VokImage {

namespace {

// The ICC profile of the JPEG @p bytes, joined from its APP2 segments; empty when it has none
// or they are incomplete.
QByteArray jpegProfile(const QByteArray &bytes)
{
    static const QByteArray tag("ICC_PROFILE\0", 12);
    QMap<int, QByteArray> chunks;
    int count = 0;
    int at = 2;
    while (at + 4 <= bytes.size() && uchar(bytes[at]) == 0xff) {
        const uchar marker = uchar(bytes[at + 1]);
        if (marker == 0xff) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xd8 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            at += 2;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)
            break; // the picture data: every APP segment lies before it
        const int length = int(numberAt(bytes, at + 2, 2));
        if (length < 2 || at + 2 + length > bytes.size())
            break;
        const QByteArray segment = bytes.mid(at + 4, length - 2);
        if (marker == 0xe2 && segment.size() > 14 && segment.startsWith(tag)) {
            count = uchar(segment[13]);
            chunks.insert(uchar(segment[12]), segment.mid(14));
        }
        at += 2 + length;
    }
    QByteArray profile;
    for (int sequence = 1; sequence <= count; ++sequence) {
        if (!chunks.contains(sequence) || profile.size() > MaxColourProfileBytes)
            return QByteArray();
        profile += chunks.value(sequence);
    }
    return profile;
}

// The zlib stream @p data inflated, at most MaxColourProfileBytes; empty when damaged or larger.
QByteArray inflated(const QByteArray &data)
{
    QByteArray out(MaxColourProfileBytes, Qt::Uninitialized);
    uLongf size = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
            reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()))
        != Z_OK)
        return QByteArray();
    out.truncate(int(size));
    return out;
}

// The colour space a PNG's chunks before its pixels name: iCCP, or sRGB.
QColorSpace pngSpace(const QByteArray &bytes)
{
    int at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = numberAt(bytes, at, 4);
        if (length > quint32(bytes.size() - at - 12))
            break;
        const QByteArray type = bytes.mid(at + 4, 4);
        if (type == "IDAT" || type == "IEND")
            break;
        if (type == "sRGB")
            return QColorSpace(QColorSpace::SRgb);
        if (type == "iCCP") {
            const QByteArray data = bytes.mid(at + 8, int(length));
            const int name = data.indexOf('\0');
            if (name < 1 || name + 2 > data.size() || data[name + 1] != 0)
                return QColorSpace();
            return QColorSpace::fromIccProfile(inflated(data.mid(name + 2)));
        }
        at += 12 + int(length);
    }
    return QColorSpace();
}

bool transformable(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

} // namespace

QColorSpace embeddedColourSpace(const QByteArray &bytes)
{
    if (bytes.startsWith("\xff\xd8")) {
        const QByteArray profile = jpegProfile(bytes);
        return profile.isEmpty() ? QColorSpace() : QColorSpace::fromIccProfile(profile);
    }
    if (bytes.startsWith(PngSignature))
        return pngSpace(bytes);
    return QColorSpace();
}

QImage inSrgb(QImage image, const QColorSpace &space)
{
    if (image.isNull() || !space.isValid() || space == QColorSpace::SRgb)
        return image;
    if (!transformable(image.format()))
        image = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const QColorTransform transform = space.transformationToColorSpace(QColorSpace::SRgb);
    // Bands of rows, one per core for a large picture; each is a view of the picture's rows.
    const int height = image.height();
    const int bands = qBound(1, height / 256, qMax(1, QThread::idealThreadCount()));
    uchar *const bits = image.bits();
    const auto convert = [&](int band) {
        const int first = height * band / bands;
        const int last = height * (band + 1) / bands;
        QImage rows(bits + qsizetype(first) * image.bytesPerLine(), image.width(), last - first,
            image.bytesPerLine(), image.format());
        rows.applyColorTransform(transform);
    };
    std::vector<std::thread> threads;
    for (int band = 1; band < bands; ++band)
        threads.emplace_back(convert, band);
    convert(0);
    for (std::thread &thread : threads)
        thread.join();
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

} // namespace VokImage
