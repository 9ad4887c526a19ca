// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// JPEG helpers on libjpeg: the progressive test, and a decode split across threads that gives
// the pixels of Qt's reader.

#include "imagefile_p.h"

#include <QColorSpace>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace VokImage {

namespace {

struct JpegError
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool warned = false;
};

[[noreturn]] void jpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1);
}

// Warnings (level -1) are remembered; trace messages are dropped.
void jpegNote(j_common_ptr info, int level)
{
    if (level < 0)
        reinterpret_cast<JpegError *>(info->err)->warned = true;
}

// A decompressor reading @p data, destroyed with it. Calls into libjpeg go through run(),
// which returns false when libjpeg fails or warns.
class Decompressor
{
public:
    explicit Decompressor(const QByteArray &data)
    {
        info.err = jpeg_std_error(&error.manager);
        error.manager.error_exit = jpegFail;
        error.manager.emit_message = jpegNote;
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
            static_cast<unsigned long>(data.size()));
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    template <typename Step> bool run(Step step)
    {
        if (setjmp(error.jump))
            return false;
        step();
        return !error.warned;
    }

    jpeg_decompress_struct info;
    JpegError error;
};

// Share of a row's decoding that skipping it still costs (its entropy decoding), as measured.
constexpr double SkipCost = 0.18;

// The first rows of @p parts parts of @p height rows that take the same time, each part
// skipping the rows before it; the last entry is @p height. Parts start on whole iMCU rows of
// @p rowGroup rows.
std::vector<int> partStarts(int height, int parts, int rowGroup)
{
    // Part k starts at s(k) and decodes L(k) rows in the time t of the first part:
    // s(k) * SkipCost + L(k) = t, so s(k + 1) = t + (1 - SkipCost) * s(k).
    const double t = height * SkipCost / (1 - std::pow(1 - SkipCost, parts));
    std::vector<int> starts { 0 };
    double start = 0;
    for (int k = 1; k < parts; ++k) {
        start = t + (1 - SkipCost) * start;
        const int aligned = qRound(start / rowGroup) * rowGroup;
        if (aligned > starts.back() && aligned < height)
            starts.push_back(aligned);
    }
    starts.push_back(height);
    return starts;
}

// What the decoders take from a JPEG's header, read as Qt's reader reads it.
struct JpegLayout
{
    unsigned int scale = 8; // M of libjpeg's M/8 scaling
    QSize decoded; // the size at that scale
    int rowGroup = 1; // rows of an iMCU row at that scale
    int densityUnit = 0;
    int densityX = 0;
    int densityY = 0;
    QByteArray iccProfile;

    // The dots per metre of Qt's reader.
    void describe(QImage *image) const
    {
        if (densityUnit == 1) {
            image->setDotsPerMeterX(int(100. * densityX / 2.54));
            image->setDotsPerMeterY(int(100. * densityY / 2.54));
        } else if (densityUnit == 2) {
            image->setDotsPerMeterX(int(100. * densityX));
            image->setDotsPerMeterY(int(100. * densityY));
        }
    }
    void setColorSpace(QImage *image) const
    {
        if (!iccProfile.isEmpty())
            image->setColorSpace(QColorSpace::fromIccProfile(iccProfile));
    }
};

// The layout of the baseline colour JPEG @p data decoded to cover @p scaledSize: M/8 scaling
// with the smallest M that still covers it, and the ICC profile from the APP2 markers in file
// order. False for pictures decoded only by Qt's reader (progressive, grey, CMYK) and when
// libjpeg fails or warns.
bool readLayout(const QByteArray &data, const QSize &scaledSize, JpegLayout *layout)
{
    if (scaledSize.isEmpty())
        return false;
    Decompressor header(data);
    if (!header.run([&] {
            jpeg_save_markers(&header.info, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(&header.info, TRUE);
        }))
        return false;
    jpeg_decompress_struct &info = header.info;
    if (jpeg_has_multiple_scans(&info) || info.num_components != 3
        || (info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB)
        || info.image_width == 0 || info.image_height == 0)
        return false;
    const double f = qMin(double(info.image_width) / scaledSize.width(),
        double(info.image_height) / scaledSize.height());
    layout->scale = unsigned(qBound(1, qCeil(8 / f), 8));
    info.scale_num = layout->scale;
    info.scale_denom = 8;
    if (!header.run([&] { jpeg_calc_output_dimensions(&info); }))
        return false;
#if JPEG_LIB_VERSION >= 70
    layout->rowGroup = qMax(1, info.max_v_samp_factor * info.min_DCT_v_scaled_size);
#else
    layout->rowGroup = qMax(1, info.max_v_samp_factor * info.min_DCT_scaled_size);
#endif
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 2 && marker->data_length > 128 + 4 + 14
            && std::memcmp(marker->data, "ICC_PROFILE", 12) == 0)
            layout->iccProfile.append(
                reinterpret_cast<const char *>(marker->data) + 14, int(marker->data_length) - 14);
    layout->decoded = QSize(int(info.output_width), int(info.output_height));
    layout->densityUnit = info.density_unit;
    layout->densityX = info.X_density;
    layout->densityY = info.Y_density;
    return true;
}

// Decodes rows [@p from, @p to) of @p data at the layout's scale as RGB32: each row into
// rowAt(row), then done(row). The rows before @p from are skipped, which entropy-decodes them
// without the rest of the work. False when libjpeg fails or warns.
template <typename RowAt, typename Done>
bool decodeRows(
    const QByteArray &data, const JpegLayout &layout, int from, int to, RowAt rowAt, Done done)
{
    Decompressor part(data);
    jpeg_decompress_struct &in = part.info;
    bool complete = false;
    const bool ran = part.run([&] {
        jpeg_read_header(&in, TRUE);
        in.scale_num = layout.scale;
        in.scale_denom = 8;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        in.out_color_space = JCS_EXT_BGRX;
#else
        in.out_color_space = JCS_EXT_XRGB;
#endif
        jpeg_start_decompress(&in);
        if (int(in.output_width) != layout.decoded.width()
            || int(in.output_height) != layout.decoded.height())
            return;
        if (from > 0)
            jpeg_skip_scanlines(&in, JDIMENSION(from));
        while (int(in.output_scanline) < to) {
            const int row = int(in.output_scanline);
            JSAMPROW target = rowAt(row);
            if (jpeg_read_scanlines(&in, &target, 1) != 1)
                return;
            done(row);
        }
        complete = true;
    });
    return ran && complete;
}

// Runs part(from, to) for each part of @p starts, the first on this thread and each other on
// a thread of its own; true when every part returned true.
template <typename Part> bool runParts(const std::vector<int> &starts, Part part)
{
    std::vector<char> done(starts.size() - 1, 0);
    const auto run = [&](size_t k) { done[k] = part(starts[k], starts[k + 1]); };
    std::vector<std::thread> threads;
    for (size_t k = 1; k + 1 < starts.size(); ++k)
        threads.emplace_back(run, k);
    run(0);
    for (std::thread &thread : threads)
        thread.join();
    return std::all_of(done.begin(), done.end(), [](char ok) { return ok; });
}

// Each channel of @p a and @p b blended with @p weight of 256 for @p b, rounded down, as Qt's
// smooth scale blends them.
inline quint32 blendPixels(quint32 a, quint32 b, quint32 weight)
{
    const quint32 kept = 256 - weight;
    const quint32 redBlue = (((a & 0xff00ff) * kept + (b & 0xff00ff) * weight) >> 8) & 0xff00ff;
    const quint32 alphaGreen
        = (((a >> 8) & 0xff00ff) * kept + ((b >> 8) & 0xff00ff) * weight) & 0xff00ff00;
    return redBlue | alphaGreen;
}

// Where Qt's smooth scale up from @p from to @p to pixels samples each pixel: the first of the
// two source pixels it blends, and the weight of the second (of 256).
struct UpPoints
{
    UpPoints(int from, int to)
        : point(size_t(to))
        , weight(size_t(to))
    {
        qint64 position = 0x8000 * qint64(from) / to - 0x8000;
        const qint64 step = (qint64(from) << 16) / to;
        for (size_t i = 0; i < size_t(to); ++i) {
            const qint64 pixel = position >> 16;
            point[i] = int(qMax<qint64>(0, pixel));
            weight[i] = pixel < 0 || pixel >= from - 1 ? 0 : int((position >> 8) & 0xff);
            position += step;
        }
    }

    // A row of the scaled picture from the source row @p source.
    void scaleRow(const quint32 *source, quint32 *row) const
    {
        for (size_t x = 0; x < point.size(); ++x) {
            const quint32 *pixel = source + point[x];
            row[x] = weight[x] > 0 ? blendPixels(pixel[0], pixel[1], quint32(weight[x])) : pixel[0];
        }
    }

    std::vector<int> point;
    std::vector<int> weight;
};

} // namespace

bool isProgressiveJpeg(const QByteArray &data)
{
    // libjpeg reads the markers up to the first scan, as it will when decoding.
    Decompressor header(data);
    bool progressive = false;
    if (!header.run([&] {
            if (jpeg_read_header(&header.info, TRUE) == JPEG_HEADER_OK)
                progressive = jpeg_has_multiple_scans(&header.info);
        })) {
        // A header libjpeg cannot read fails to decode as well; a progressive frame read before
        // the failure still counts.
        progressive = header.info.progressive_mode;
    }
    return progressive;
}

QImage decodeJpegInParts(const QByteArray &data, const QSize &scaledSize, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, scaledSize, &layout))
        return QImage();
    QImage image(layout.decoded, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    // Each part decodes its rows straight into the picture.
    const std::vector<int> starts = partStarts(layout.decoded.height(), parts, layout.rowGroup);
    const bool decoded = runParts(starts, [&](int from, int to) {
        return decodeRows(
            data, layout, from, to, [&](int row) { return image.scanLine(row); }, [](int) {});
    });
    if (!decoded)
        return QImage();
    layout.describe(&image);
    if (scaledSize != layout.decoded)
        image = image.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    layout.setColorSpace(&image);
    return image;
}

QImage decodeJpegScaledUp(const QByteArray &data, const QSize &size, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, size, &layout) || layout.scale != 8)
        return QImage();
    const int sw = layout.decoded.width();
    const int sh = layout.decoded.height();
    if (size.width() < sw || size.height() < sh || size == layout.decoded)
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    const UpPoints columns(sw, size.width());
    const UpPoints rows(sh, size.height());

    // Each part decodes its rows (and the one after, which its last rows blend with) into two
    // row buffers, and writes the rows of the picture that start on them.
    const std::vector<int> starts = partStarts(sh, parts, layout.rowGroup);
    const bool decoded = runParts(starts, [&](int from, int to) {
        std::vector<quint32> buffers(size_t(sw) * 3);
        quint32 *const blended = buffers.data() + 2 * sw;
        const auto bufferOf = [&](int row) { return buffers.data() + (row & 1) * sw; };
        int y = int(
            std::lower_bound(rows.point.begin(), rows.point.end(), from) - rows.point.begin());
        // The rows of the picture that start on source row @p row, blended with the next.
        const auto writeRows = [&](int row) {
            for (; y < size.height() && rows.point[size_t(y)] == row; ++y) {
                const quint32 weight = quint32(rows.weight[size_t(y)]);
                const quint32 *source = bufferOf(row);
                if (weight > 0) {
                    const quint32 *next = bufferOf(row + 1);
                    for (int x = 0; x < sw; ++x)
                        blended[x] = blendPixels(source[x], next[x], weight);
                    source = blended;
                }
                columns.scaleRow(source, reinterpret_cast<quint32 *>(image.scanLine(y)));
            }
        };
        const int last = qMin(to + 1, sh);
        if (!decodeRows(
                data, layout, from, last,
                [&](int row) { return reinterpret_cast<uchar *>(bufferOf(row)); },
                [&](int row) {
                    if (row > from)
                        writeRows(row - 1);
                }))
            return false;
        if (to == sh)
            writeRows(sh - 1);
        return true;
    });
    if (!decoded)
        return QImage();
    layout.describe(&image);
    layout.setColorSpace(&image);
    return image;
}

} // namespace VokImage
