// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// JPEG helpers on libjpeg: the progressive test, and a decode split across threads that gives
// the pixels of Qt's reader.

#include "imagefile_p.h"

#include <QColorSpace>
#include <QtMath>

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
    if (scaledSize.isEmpty() || parts < 1)
        return QImage();
    // The header, read as Qt's reader reads it: M/8 scaling with the smallest M that still
    // covers the size asked for, and the ICC profile from the APP2 markers in file order.
    Decompressor header(data);
    QByteArray iccProfile;
    int rowGroup = 1;
    if (!header.run([&] {
            jpeg_save_markers(&header.info, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(&header.info, TRUE);
        }))
        return QImage();
    jpeg_decompress_struct &info = header.info;
    if (jpeg_has_multiple_scans(&info) || info.num_components != 3
        || (info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB)
        || info.image_width == 0 || info.image_height == 0)
        return QImage();
    const double f = qMin(double(info.image_width) / scaledSize.width(),
        double(info.image_height) / scaledSize.height());
    const unsigned int scale = unsigned(qBound(1, qCeil(8 / f), 8));
    info.scale_num = scale;
    info.scale_denom = 8;
    if (!header.run([&] { jpeg_calc_output_dimensions(&info); }))
        return QImage();
#if JPEG_LIB_VERSION >= 70
    rowGroup = info.max_v_samp_factor * info.min_DCT_v_scaled_size;
#else
    rowGroup = info.max_v_samp_factor * info.min_DCT_scaled_size;
#endif
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 2 && marker->data_length > 128 + 4 + 14
            && std::memcmp(marker->data, "ICC_PROFILE", 12) == 0)
            iccProfile.append(
                reinterpret_cast<const char *>(marker->data) + 14, int(marker->data_length) - 14);
    const QSize decoded(int(info.output_width), int(info.output_height));
    QImage image(decoded, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();

    // Each part decodes its rows straight into the picture; the rows before it are skipped,
    // which entropy-decodes them without the rest of the work.
    const std::vector<int> starts = partStarts(decoded.height(), parts, qMax(1, rowGroup));
    std::vector<char> done(starts.size() - 1, 0);
    const auto decodePart = [&](size_t k) {
        Decompressor part(data);
        jpeg_decompress_struct &in = part.info;
        bool complete = false;
        const bool ran = part.run([&] {
            jpeg_read_header(&in, TRUE);
            in.scale_num = scale;
            in.scale_denom = 8;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
            in.out_color_space = JCS_EXT_BGRX;
#else
            in.out_color_space = JCS_EXT_XRGB;
#endif
            jpeg_start_decompress(&in);
            if (int(in.output_width) != decoded.width()
                || int(in.output_height) != decoded.height())
                return;
            if (starts[k] > 0)
                jpeg_skip_scanlines(&in, JDIMENSION(starts[k]));
            while (int(in.output_scanline) < starts[k + 1]) {
                JSAMPROW row = image.scanLine(int(in.output_scanline));
                if (jpeg_read_scanlines(&in, &row, 1) != 1)
                    return;
            }
            complete = true;
        });
        done[k] = ran && complete;
    };
    std::vector<std::thread> threads;
    for (size_t k = 1; k + 1 < starts.size(); ++k)
        threads.emplace_back(decodePart, k);
    decodePart(0);
    for (std::thread &thread : threads)
        thread.join();
    for (const char ok : done)
        if (!ok)
            return QImage();

    if (info.density_unit == 1) {
        image.setDotsPerMeterX(int(100. * info.X_density / 2.54));
        image.setDotsPerMeterY(int(100. * info.Y_density / 2.54));
    } else if (info.density_unit == 2) {
        image.setDotsPerMeterX(int(100. * info.X_density));
        image.setDotsPerMeterY(int(100. * info.Y_density));
    }
    if (scaledSize != decoded)
        image = image.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!iccProfile.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(iccProfile));
    return image;
}

} // namespace VokImage
