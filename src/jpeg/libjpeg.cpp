// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "jpeg_p.h"
#include "libjpeg_p.h"

#include <QtMath>

#include <cstring>

namespace VokImage {
namespace Jpeg {

[[noreturn]] void jpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1);
}

void jpegNote(j_common_ptr info, int level)
{
    if (level < 0)
        reinterpret_cast<JpegError *>(info->err)->warned = true;
}

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
    const int rowScale = info.min_DCT_v_scaled_size;
#else
    const int rowScale = info.min_DCT_scaled_size;
#endif
    layout->rowGroup = qMax(1, info.max_v_samp_factor * rowScale);
    for (int c = 0; c < info.num_components; ++c) {
#if JPEG_LIB_VERSION >= 70
        const int componentScale = info.comp_info[c].DCT_v_scaled_size;
#else
        const int componentScale = info.comp_info[c].DCT_scaled_size;
#endif
        // libjpeg upsamples twice as tall rows with the rows around them.
        if (info.do_fancy_upsampling && rowScale > 0
            && info.comp_info[c].v_samp_factor * componentScale / rowScale * 2
                == info.max_v_samp_factor)
            layout->contextRows = true;
    }
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

} // namespace Jpeg

bool isProgressiveJpeg(const QByteArray &data)
{
    using Jpeg::Decompressor;
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

} // namespace VokImage
