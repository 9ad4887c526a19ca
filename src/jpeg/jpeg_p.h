// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The JPEG codec of large pictures: decoded by parts on several threads, and scaled as Qt's
// smooth scale scales them while the rows are decoded. Its rooms: the libjpeg layer
// (libjpeg_p.h), the scheduler of parts (parts_p.h) and the scaling kernels (kernels_p.h).

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace VokImage {

/// True when the JPEG @p data is progressive (or has several scans), as libjpeg reads it.
bool isProgressiveJpeg(const QByteArray &data);

/// Decoded sizes from which a JPEG is decoded by parts on several threads.
constexpr qint64 JpegPartsPixels = qint64(1) << 20;

/**
 * The baseline colour JPEG @p data at @p scaledSize, the same pixels as Qt's reader gives with
 * that scaled size (libjpeg's M/8 scaling, then a smooth scale), decoded in up to @p parts parts
 * on as many threads. A null image for pictures it does not decode (progressive, grey, CMYK)
 * and when libjpeg fails or warns: Qt's reader is then the one to use.
 */
QImage decodeJpegInParts(const QByteArray &data, const QSize &scaledSize, int parts);

/**
 * The rows [@p firstRow, @p firstRow + @p rowCount) of decodeJpegInParts() at @p scaledSize, when
 * that scales the picture down on both axes after decoding it (libjpeg's M/8 scale is not
 * enough alone): only the rows those use are decoded. A null image otherwise.
 */
QImage decodeJpegRowsInParts(
    const QByteArray &data, const QSize &scaledSize, int firstRow, int rowCount, int parts);

/**
 * The baseline colour JPEG @p data scaled up to @p size (at least its size on both axes, and
 * larger on one), the same pixels as Qt's reader and Qt's smooth scale give. Each of @p parts
 * parts is decoded and scaled on a thread of its own, row by row, so the decoded picture is
 * never whole in memory. A null image where decodeJpegInParts() gives one.
 */
QImage decodeJpegScaledUp(const QByteArray &data, const QSize &size, int parts);

} // namespace VokImage
