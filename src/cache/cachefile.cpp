// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "cache_p.h"
#include "png/png_p.h"

#include <vokimage/vocabulary.h>

#include <QDebug>
#include <QtEndian>

namespace VokImage {
namespace Cache {

namespace {

// Largest cache file that is read; far above any picture the limits let through.
constexpr qint64 MaxCacheFileSize = qint64(1) << 30;

// Room for PNG chunks besides the pixel rows.
constexpr qint64 MaxPngOverhead = 1 << 20;

// The record's first bytes: the key's, then QDataStream's QImage form: a marker, then a PNG.
QByteArray recordHead(const Key &key, const QImage &image)
{
    QByteArray head = key.bytes;
    const char marker[4] = { 0, 0, 0, char(image.isNull() ? 0 : 1) };
    head.append(marker, 4);
    return head;
}

} // namespace

bool encodeRecord(const Key &key, const QImage &image, QByteArrayList *record)
{
    *record = QByteArrayList { recordHead(key, image) };
    return image.isNull() || Png::encodePng(image, record);
}

bool encodeRecord(const Key &key, const QImage &image, const Png::Pieces &write)
{
    return write(recordHead(key, image)) && (image.isNull() || Png::encodePng(image, write));
}

qint64 largestRecord(const Key &key, const QSize &surface)
{
    // No valid file is larger than its map and a PNG of the surface at 16-bit RGBA.
    return qMin(MaxCacheFileSize,
        key.bytes.size() + 4 + MaxPngOverhead
            + qint64(qMax(0, surface.width())) * qMax(0, surface.height()) * 9);
}

QImage decodeRecord(const QByteArray &data, const Key &key,
    const QMap<QString, QVariant> &properties, const QSize &expected, QString *why,
    const std::function<void(qint64, qint64)> &done)
{
    if (!data.startsWith(key.bytes)) {
        const QMap<QString, QVariant> stored = Utils::ByteArrayToProperties(data);
        if (stored.isEmpty())
            QDebug(why) << "Error image is null";
        else
            QDebug(why) << "Error properties not equal" << stored << properties;
        return QImage();
    }
    const char *part = data.constData() + key.bytes.size();
    const qint64 size = data.size() - key.bytes.size();
    QImage image;
    // The PNG is decoded only when its header announces the expected size.
    if (size >= 4 && qFromBigEndian<qint32>(part) != 0
        && Png::pngSize(part + 4, size - 4) == expected)
        image = Png::decodePng(part + 4, size - 4, expected,
            done ? [&](qint64 from, qint64 to) {
                const qint64 start = key.bytes.size() + 4;
                done(start + from, start + to);
            }
                 : Png::Released());
    if (image.isNull())
        QDebug(why) << "Error image is null";
    return image;
}

} // namespace Cache
} // namespace VokImage
