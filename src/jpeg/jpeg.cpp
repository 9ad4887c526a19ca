// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "jpeg_p.h"
#include "kernels_p.h"
#include "libjpeg_p.h"
#include "parts_p.h"

#include "internal/picturememory_p.h"

#include <QtMath>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace VokImage {

using namespace Jpeg;

namespace {

// The rows [@p firstRow, @p firstRow + @p rowCount) of the picture of @p layout scaled down on
// both axes to @p size as Qt's smooth scale does, in @p parts parts decoded and scaled on threads
// of their own; null when a part fails. Only the source rows those rows use are decoded. Qt's
// scale sums, for each pixel of a row, its source pixels along the row, and then those sums over
// the source rows the row covers: the first sums are made once per source row, and kept for as
// long as the rows of the picture need them.
QImage decodeScaledDown(const QByteArray &data, const JpegLayout &layout, const QSize &size,
    int firstRow, int rowCount, int parts)
{
    const int sh = layout.decoded.height();
    const int sw = layout.decoded.width();
    const size_t dw = size_t(size.width());
    if (firstRow < 0 || rowCount < 1 || firstRow + rowCount > size.height())
        return QImage();
    QImage image = PictureMemory::zeroed(QSize(size.width(), rowCount), QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    const DownTaps columnTaps(sw, size.width());
    const DownTaps rows(sh, size.height());
    if (!columnTaps.valid || !rows.valid)
        return QImage();
    const RowTaps columns(columnTaps);
    const size_t yBegin = size_t(firstRow);
    const size_t yEnd = size_t(firstRow + rowCount);
    int window = 1;
    int sourceEnd = 0;
    for (size_t y = yBegin; y < yEnd; ++y) {
        window = qMax(window, rows.count[y]);
        sourceEnd = qMax(sourceEnd, qMin(rows.first[y] + rows.count[y], sh));
    }

    // A part: a decoded row (with room for the weightless pixels read past its end), the sums
    // of the last window source rows, and its rows of the picture from y on.
    struct Part
    {
        QImage &image;
        const DownTaps &rows;
        const RowTaps &columns;
        size_t yBegin;
        size_t yEnd;
        int window;
        int sh;
        std::vector<quint32> row;
        std::vector<quint32> sums;
        std::vector<const quint32 *> rowSums;
        std::vector<quint32> weights;
        size_t first = 0;
        size_t y = 0;

        size_t firstRowFrom(int source) const
        {
            return qBound(yBegin,
                size_t(std::lower_bound(rows.first.begin(), rows.first.end(), source)
                    - rows.first.begin()),
                yEnd);
        }
        quint32 *sumsOf(int source)
        {
            return sums.data() + size_t(source % window) * columns.first.size() * 4;
        }
        void writeRow(size_t target)
        {
            int count = 0;
            for (int k = 0; k < rows.count[target]; ++k) {
                const int source = rows.first[target] + k;
                if (source >= sh)
                    continue;
                rowSums[size_t(count)] = sumsOf(source);
                weights[size_t(count)] = rows.weight(target, k);
                ++count;
            }
            combineRows(rowSums.data(), weights.data(), count,
                reinterpret_cast<quint32 *>(image.scanLine(int(target - yBegin))),
                columns.first.size());
        }

        bool begin(int from)
        {
            first = y = firstRowFrom(from);
            return true;
        }
        uchar *rowAt(int) { return reinterpret_cast<uchar *>(row.data()); }
        // Sums the row, and writes the rows of the picture it ends.
        bool done(int source, int bound)
        {
            sumRow(row.data(), columns, sumsOf(source));
            for (; y < yEnd && rows.first[y] < bound && rows.first[y] + rows.count[y] - 1 <= source;
                 ++y) {
                if (source - rows.first[y] >= window)
                    return false;
                writeRow(y);
            }
            return true;
        }
        // The source rows the part's rows use, whose last weight may be 0 past the picture.
        int endFor(int next) const
        {
            const size_t end = firstRowFrom(next);
            int needed = next;
            if (end > first)
                needed = qMax(needed, rows.first[end - 1] + rows.count[end - 1]);
            return qMin(needed, sh);
        }
        // Rows whose last source row lies past the picture (with no weight).
        bool finish(int next)
        {
            for (; y < yEnd && rows.first[y] < next; ++y) {
                if (rows.lastWeight[y] != 0 || rows.first[y] + rows.count[y] - 1 != sh)
                    return false;
                writeRow(y);
            }
            return true;
        }
    };
    const size_t windowRows = size_t(window);
    const bool decoded = decodeInParts(
        data, layout, parts,
        [&] {
            return Part { image, rows, columns, yBegin, yEnd, window, sh,
                std::vector<quint32>(size_t(sw) + size_t(columns.pairCount) * 2 + 2, 0),
                std::vector<quint32>(windowRows * dw * 4), std::vector<const quint32 *>(windowRows),
                std::vector<quint32>(windowRows) };
        },
        rows.first[yBegin], sourceEnd);
    return decoded ? image : QImage();
}

// True when Qt's reader scales the picture of @p layout down on both axes to @p scaledSize after
// libjpeg's M/8 scale.
bool scaledDownAfterDecoding(const JpegLayout &layout, const QSize &scaledSize)
{
    return scaledSize.width() < layout.decoded.width()
        && scaledSize.height() < layout.decoded.height()
        && keptByTransform(layout.decoded.width(), scaledSize.width())
        && keptByTransform(layout.decoded.height(), scaledSize.height());
}

// decodeScaledDown() with the dots per metre and colour space of Qt's reader.
QImage describedScaledDown(const QByteArray &data, const JpegLayout &layout, const QSize &size,
    int firstRow, int rowCount, int parts)
{
    QImage image = decodeScaledDown(data, layout, size, firstRow, rowCount, parts);
    if (image.isNull())
        return QImage();
    layout.describe(&image);
    layout.setColorSpace(&image);
    return image;
}

} // namespace

QImage decodeJpegInParts(const QByteArray &data, const QSize &scaledSize, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, scaledSize, &layout))
        return QImage();
    // Scaled down on both axes as the rows are decoded: the decoded picture is never whole.
    if (scaledDownAfterDecoding(layout, scaledSize))
        return describedScaledDown(data, layout, scaledSize, 0, scaledSize.height(), parts);
    QImage image = PictureMemory::zeroed(layout.decoded, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    // Each part decodes its rows straight into the picture.
    struct Part
    {
        QImage &image;
        bool begin(int) { return true; }
        uchar *rowAt(int row) { return image.scanLine(row); }
        bool done(int, int) { return true; }
        int endFor(int next) { return next; }
        bool finish(int) { return true; }
    };
    if (!decodeInParts(data, layout, parts, [&] { return Part { image }; }))
        return QImage();
    layout.describe(&image);
    if (scaledSize != layout.decoded)
        image = image.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    layout.setColorSpace(&image);
    return image;
}

QImage decodeJpegRowsInParts(
    const QByteArray &data, const QSize &scaledSize, int firstRow, int rowCount, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, scaledSize, &layout)
        || !scaledDownAfterDecoding(layout, scaledSize))
        return QImage();
    return describedScaledDown(data, layout, scaledSize, firstRow, rowCount, parts);
}

QImage decodeJpegScaledUp(const QByteArray &data, const QSize &size, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, size, &layout) || layout.scale != 8)
        return QImage();
    const int sw = layout.decoded.width();
    const int sh = layout.decoded.height();
    if (size.width() < sw || size.height() < sh || size == layout.decoded
        || !keptByTransform(sw, size.width()) || !keptByTransform(sh, size.height()))
        return QImage();
    QImage image = PictureMemory::zeroed(size, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    const UpPoints columns(sw, size.width());
    const UpPoints rows(sh, size.height());

    // Each part decodes its rows (and the one after, which its last rows blend with) into two
    // row buffers, and writes the rows of the picture that start on them.
    struct Part
    {
        QImage &image;
        const UpPoints &columns;
        const UpPoints &rows;
        int sh;
        int sw;
        std::vector<quint32> buffers;
        int from = 0;
        int y = 0;

        // Two decoded rows and a blended one, each with a pixel more (see scaleRow()).
        quint32 *bufferOf(int row) { return buffers.data() + size_t(row & 1) * (size_t(sw) + 1); }
        bool begin(int first)
        {
            from = first;
            y = int(
                std::lower_bound(rows.point.begin(), rows.point.end(), first) - rows.point.begin());
            return true;
        }
        uchar *rowAt(int row) { return reinterpret_cast<uchar *>(bufferOf(row)); }
        bool done(int row, int bound)
        {
            if (row > from && row - 1 < bound)
                writeRows(row - 1);
            return true;
        }
        int endFor(int next) { return qMin(next + 1, sh); }
        bool finish(int next)
        {
            if (next == sh && sh - 1 >= from)
                writeRows(sh - 1);
            return true;
        }
        // The rows of the picture that start on source row @p row, blended with the next.
        void writeRows(int row)
        {
            quint32 *const blended = buffers.data() + 2 * (size_t(sw) + 1);
            for (; y < image.height() && rows.point[size_t(y)] == row; ++y) {
                const quint32 weight = quint32(rows.weight[size_t(y)]);
                const quint32 *source = bufferOf(row);
                if (weight > 0) {
                    blendRows(source, bufferOf(row + 1), weight, blended, size_t(sw));
                    source = blended;
                }
                columns.scaleRow(source, reinterpret_cast<quint32 *>(image.scanLine(y)));
            }
        }
    };
    const bool decoded = decodeInParts(data, layout, parts, [&] {
        return Part { image, columns, rows, sh, sw, std::vector<quint32>((size_t(sw) + 1) * 3) };
    });
    if (!decoded)
        return QImage();
    layout.describe(&image);
    layout.setColorSpace(&image);
    return image;
}

} // namespace VokImage
