// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The PNG codec of the library: the cache's own writer and reader, and the row-by-row reader
// of large wallpapers and logos. libpng's errors are caught one way, PngMemory::guarded().

#include <QByteArray>
#include <QByteArrayList>
#include <QImage>

#include <QRect>
#include <functional>

namespace VokImage {
namespace Png {

/// A PNG of @p image that Qt's reader decodes to the same pixels: 8-bit RGB when every pixel
/// is opaque, unpremultiplied RGBA otherwise; compressed only when that pays off on reading.
/// Appends its bytes to @p pieces, in pieces to be joined in order; false, leaving @p pieces as
/// they were, on failure.
bool encodePng(const QImage &image, QByteArrayList *pieces);

/// Hands the bytes of a piece to whoever stores them; false when it cannot.
using Pieces = std::function<bool(const QByteArray &)>;

/**
 * As encodePng() above, handing the bytes to @p write in order as they are made, so that only a
 * few bands of rows are held at a time. False on failure or when @p write fails.
 */
bool encodePng(const QImage &image, const Pieces &write);

/// The size a PNG's header announces; invalid when @p data does not begin like a PNG.
QSize pngSize(const char *data, qint64 size);

/// Told that the bytes from the first offset to the second are no longer read.
using Released = std::function<void(qint64, qint64)>;

/**
 * The picture of a PNG of exactly @p expected size, decoded as Qt's reader decodes it; null
 * when the data is not such a PNG. @p done (may be empty) is told, as decoding goes on, which
 * bytes of @p data are no longer read, one call at a time: a mapped file can give up their
 * pages. The rows of a PNG laid out as encodePng() stores them (8-bit RGB in stored deflate
 * blocks) are expanded straight from @p data on two threads.
 */
QImage decodePng(
    const char *data, qint64 size, const QSize &expected, const Released &done = Released());

/// True when every pixel of @p area of the 32-bit picture @p image is opaque.
bool allOpaque(const QImage &image, const QRect &area);

/**
 * The part @p clip of the PNG @p data, shrunk @p shrink times by averaging blocks, read row by
 * row: ARGB32 or RGB32 as Qt's reader gives them when @p shrink is 1, premultiplied otherwise.
 * Null for interlaced or damaged data.
 */
QImage decodePngRegion(const QByteArray &data, const QRect &clip, int shrink);

} // namespace Png
} // namespace VokImage
