// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "png_p.h"
#include "pngmemory_p.h"

#include "internal/limits_p.h"

#include <cstring>
#include <vector>

namespace VokImage {
namespace Png {

namespace {

// Rows are read one at a time; what a shrunk picture needs is summed per output column.
bool readRows(png_structp png, png_infop info, const QRect &clip, int shrink, QImage *out,
    std::vector<unsigned char> *row, std::vector<quint32> *sums)
{
    const int width = int(png_get_image_width(png, info));
    const int height = int(png_get_image_height(png, info));
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE
        || !QRect(0, 0, width, height).contains(clip))
        return false;
    const png_byte colorType = png_get_color_type(png, info);
    const bool alpha
        = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    // Qt's 32-bit formats are BGRA in memory on little-endian machines.
    if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        png_set_bgr(png);
        if (!alpha)
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    } else {
        png_set_swap_alpha(png);
        if (!alpha)
            png_set_filler(png, 0xff, PNG_FILLER_BEFORE);
    }
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        return false;
    const int outWidth = clip.width() / shrink;
    const int outHeight = clip.height() / shrink;
    if (outWidth < 1 || outHeight < 1)
        return false;
    *out = QImage(outWidth, outHeight,
        shrink > 1 ? QImage::Format_ARGB32_Premultiplied
                   : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    if (out->isNull())
        return false;
    row->resize(size_t(width) * 4);
    sums->assign(size_t(outWidth) * 4, 0);
    const int lastRow = clip.top() + outHeight * shrink;
    const quint32 area = quint32(shrink) * quint32(shrink);
    for (int y = 0; y < lastRow; ++y) {
        png_read_row(png, row->data(), nullptr);
        if (y < clip.top())
            continue;
        const QRgb *pixels = reinterpret_cast<const QRgb *>(row->data()) + clip.left();
        if (shrink == 1) {
            memcpy(out->scanLine(y - clip.top()), pixels, size_t(outWidth) * 4);
            continue;
        }
        // Premultiplied sums, as a smooth scale averages.
        for (int x = 0; x < outWidth; ++x) {
            quint32 *sum = sums->data() + size_t(x) * 4;
            for (int i = 0; i < shrink; ++i) {
                const QRgb pixel = pixels[x * shrink + i];
                const quint32 a = quint32(qAlpha(pixel));
                sum[0] += a;
                sum[1] += (quint32(qRed(pixel)) * a + 127) / 255;
                sum[2] += (quint32(qGreen(pixel)) * a + 127) / 255;
                sum[3] += (quint32(qBlue(pixel)) * a + 127) / 255;
            }
        }
        if ((y - clip.top()) % shrink != shrink - 1)
            continue;
        QRgb *target = reinterpret_cast<QRgb *>(out->scanLine((y - clip.top()) / shrink));
        for (int x = 0; x < outWidth; ++x) {
            quint32 *sum = sums->data() + size_t(x) * 4;
            target[x] = qRgba(int((sum[1] + area / 2) / area), int((sum[2] + area / 2) / area),
                int((sum[3] + area / 2) / area), int((sum[0] + area / 2) / area));
            std::fill(sum, sum + 4, 0);
        }
    }
    return true;
}

} // namespace

QImage decodePngRegion(const QByteArray &data, const QRect &clip, int shrink)
{
    if (shrink < 1 || clip.isEmpty())
        return QImage();
    PngMemory::ReadStruct reader;
    if (!reader.isValid())
        return QImage();
    PngMemory::Source source { reinterpret_cast<const unsigned char *>(data.constData()),
        size_t(data.size()), 0 };
    // Locals that live across the jump are kept outside the guarded body.
    QImage image;
    std::vector<unsigned char> row;
    std::vector<quint32> sums;
    bool ok = false;
    const bool caught = !PngMemory::guarded(reader.png, [&] {
        png_set_read_fn(reader.png, &source, PngMemory::read);
        png_set_user_limits(reader.png, MaxImageDimension, MaxImageDimension);
        png_read_info(reader.png, reader.info);
        ok = readRows(reader.png, reader.info, clip, shrink, &image, &row, &sums);
    });
    if (caught)
        ok = false;
    return ok ? image : QImage();
}

} // namespace Png
} // namespace VokImage
