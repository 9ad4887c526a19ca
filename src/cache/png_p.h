// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QImage>

namespace VokImage {
namespace Cache {

/// A PNG of @p image that Qt's reader decodes to the same pixels: 8-bit RGB when every pixel
/// is opaque, unpremultiplied RGBA otherwise; compressed only when that pays off on reading.
/// Appends its bytes to @p pieces, in pieces to be joined in order; false, leaving @p pieces as
/// they were, on failure.
bool encodePng(const QImage &image, QByteArrayList *pieces);

/// The size a PNG's header announces; invalid when @p data does not begin like a PNG.
QSize pngSize(const char *data, qint64 size);

/// The picture of a PNG of exactly @p expected size, decoded as Qt's reader decodes it; null
/// when the data is not such a PNG.
QImage decodePng(const char *data, qint64 size, const QSize &expected);

} // namespace Cache
} // namespace VokImage
