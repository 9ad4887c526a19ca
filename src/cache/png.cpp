// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "png_p.h"

#include "utils/pngmemory_p.h"

#include <png.h>

#include <QtEndian>
#include <zlib.h>

#include <atomic>
#include <csetjmp>
#include <thread>
#include <vector>

// Exported by Qt Gui: the row converter behind QImage's RGB888 to RGB32 conversion.
Q_DECL_IMPORT void QT_FASTCALL qt_convert_rgb888_to_rgb32(quint32 *dst, const uchar *src, int len);

namespace VokImage {
namespace Cache {

namespace {

// Pixels whose sample deflates to at most this share of its size are compressed; the rest
// (photographs) are stored, since inflating them costs several times a render on a hit.
constexpr double CompressibleShare = 0.2;
constexpr int SampleBands = 16;
constexpr int SampleRowsPerBand = 8;
// One IDAT chunk per this many bytes.
constexpr size_t ChunkBytes = 1 << 20;
// Pictures from this many pixels are judged on another thread while they are written.
constexpr qint64 ParallelPixels = qint64(1) << 20;

bool opaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QRgb all = 0xff000000;
        for (int x = 0; x < width; ++x)
            all &= line[x];
        if (qAlpha(all) != 255)
            return false;
    }
    return true;
}

// Rows converted at once: few enough that Qt's conversion stays on this thread, since its
// thread pool cannot be used in a forked child.
int chunkRows(int width)
{
    return qMax(1, 16383 / qMax(1, width));
}

// Packs @p count rows from @p y into the PNG's bytes: RGB or RGBA. Premultiplied rows are
// converted as Qt's writer converts them.
bool packRows(const QImage &image, int y, int count, bool alpha, unsigned char *out)
{
    QImage rows(image.constScanLine(y), image.width(), count, image.bytesPerLine(), image.format());
    if (alpha && image.format() == QImage::Format_ARGB32_Premultiplied)
        rows = rows.convertToFormat(QImage::Format_ARGB32);
    if (rows.isNull())
        return false;
    const int width = rows.width();
    for (int i = 0; i < count; ++i) {
        const auto *line = reinterpret_cast<const QRgb *>(rows.constScanLine(i));
        if (alpha) {
            for (int x = 0; x < width; ++x, out += 4) {
                const QRgb c = line[x];
                out[0] = qRed(c);
                out[1] = qGreen(c);
                out[2] = qBlue(c);
                out[3] = qAlpha(c);
            }
        } else {
            for (int x = 0; x < width; ++x, out += 3) {
                const QRgb c = line[x];
                out[0] = qRed(c);
                out[1] = qGreen(c);
                out[2] = qBlue(c);
            }
        }
    }
    return true;
}

// Deflates evenly spread bands of rows, UP-filtered as they are written, at level 1 to judge
// the whole picture.
bool compressible(const QImage &image, bool alpha)
{
    const int channels = alpha ? 4 : 3;
    const size_t rowBytes = size_t(image.width()) * channels;
    const int bandRows = qMin(image.height(), SampleRowsPerBand);
    const int bands = qMin(SampleBands, image.height() / bandRows);
    std::vector<unsigned char> sample(rowBytes * bandRows * bands);
    for (int band = 0; band < bands; ++band) {
        unsigned char *first = sample.data() + rowBytes * bandRows * band;
        const int y0 = int(qint64(image.height() - bandRows) * band / qMax(1, bands - 1));
        if (!packRows(image, y0, bandRows, alpha, first))
            return false;
        for (int i = bandRows - 1; i > 0; --i) {
            unsigned char *row = first + rowBytes * i;
            for (size_t b = 0; b < rowBytes; ++b)
                row[b] = static_cast<unsigned char>(row[b] - row[b - rowBytes]);
        }
    }
    const uLong in = uLong(sample.size());
    uLongf out = compressBound(in);
    std::vector<unsigned char> packed(out);
    if (compress2(packed.data(), &out, sample.data(), in, 1) != Z_OK)
        return false;
    return double(out) <= CompressibleShare * double(in);
}

void appendToArray(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char *>(data), int(length));
}

void noFlush(png_structp)
{ }

using PngMemory::fail;
using PngMemory::ignoreWarning;

// Writes the rows with libpng; no C++ object lives across the jump of an error. @p rows holds
// chunkRows() packed rows. The writing stops, failing, once @p stop (may be null) is set.
bool writeRows(const QImage *image, bool alpha, bool compress, QByteArray *out, unsigned char *rows,
    const std::atomic<bool> *stop)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToArray, noFlush);
    png_set_compression_buffer_size(png, ChunkBytes);
    // Stored deflate blocks for pictures that hardly compress; the UP filter and level 1
    // otherwise, which inflates quickly.
    png_set_compression_level(png, compress ? 1 : 0);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, compress ? PNG_FILTER_UP : PNG_FILTER_NONE);
    const int width = image->width();
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(image->height()), 8,
        alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    for (int y = 0; y < image->height(); y += chunkRows(width)) {
        const int count = qMin(chunkRows(width), image->height() - y);
        if (stop && *stop)
            png_error(png, "stopped");
        if (!packRows(*image, y, count, alpha, rows))
            png_error(png, "out of memory");
        for (int i = 0; i < count; ++i)
            png_write_row(png, rows + rowBytes * i);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

enum class ReadResult { Decoded, Unsupported, Failed };

// Decodes 8-bit RGB and RGBA without interlacing straight into @p image, in the layout Qt's
// reader gives them (RGB32, ARGB32). Anything else is left to Qt's reader. The chunks' CRCs and
// the stream's checksum are not computed here: the caller verifies the CRCs, which cover every
// byte of the stream. @p row holds one packed row.
ReadResult readRows(
    PngMemory::Source *source, const QSize &expected, QImage *image, unsigned char *row)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (!png)
        return ReadResult::Failed;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return ReadResult::Failed;
    }
    png_set_read_fn(png, source, PngMemory::read);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_user_limits(png, png_uint_32(expected.width()), png_uint_32(expected.height()));
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    if (png_get_bit_depth(png, info) != 8 || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE
        || (colorType != PNG_COLOR_TYPE_RGB && colorType != PNG_COLOR_TYPE_RGB_ALPHA)
        || png_get_valid(png, info, PNG_INFO_gAMA | PNG_INFO_tRNS | PNG_INFO_iCCP | PNG_INFO_sRGB)
        || int(png_get_image_width(png, info)) != expected.width()
        || int(png_get_image_height(png, info)) != expected.height()) {
        png_destroy_read_struct(&png, &info, nullptr);
        return ReadResult::Unsupported;
    }
    const bool alpha = colorType == PNG_COLOR_TYPE_RGB_ALPHA;
    *image = QImage(expected, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image->isNull())
        png_error(png, "out of memory");
    const int width = expected.width();
    if (alpha) {
        // Qt's 32-bit formats are BGRA in memory on little-endian machines.
        if (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            png_set_bgr(png);
        else
            png_set_swap_alpha(png);
        png_read_update_info(png, info);
        for (int y = 0; y < expected.height(); ++y)
            png_read_row(png, image->scanLine(y), nullptr);
    } else {
        // RGB rows are expanded by Qt's own converter.
        png_read_update_info(png, info);
        for (int y = 0; y < expected.height(); ++y) {
            png_read_row(png, row, nullptr);
            qt_convert_rgb888_to_rgb32(reinterpret_cast<quint32 *>(image->scanLine(y)), row, width);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return ReadResult::Decoded;
}

// Checks the CRC of every chunk of a PNG, on this thread and one more for large data.
class CrcCheck
{
public:
    CrcCheck(const unsigned char *data, size_t size)
    {
        // Chunks: length, type, data, CRC; after the eight bytes of the signature, up to the
        // end chunk.
        size_t at = 8;
        while (at + 12 <= size) {
            const size_t length = qFromBigEndian<quint32>(data + at);
            if (length > size - at - 12) {
                m_bad = true;
                return;
            }
            m_chunks.push_back({ data + at + 4, length + 4 });
            at += length + 12;
            if (memcmp(data + at - length - 8, "IEND", 4) == 0)
                break;
        }
        if (size >= ParallelBytes)
            m_helper = std::thread([this] { run(); });
    }
    CrcCheck(const CrcCheck &) = delete;
    CrcCheck &operator=(const CrcCheck &) = delete;
    ~CrcCheck() { passed(); }

    // True when every CRC matches; waits for the helper.
    bool passed()
    {
        run();
        if (m_helper.joinable())
            m_helper.join();
        return !m_bad;
    }

private:
    static constexpr size_t ParallelBytes = size_t(4) << 20;

    struct Chunk
    {
        const unsigned char *typeAndData;
        size_t length;
    };

    void run()
    {
        for (size_t i = m_next++; i < m_chunks.size(); i = m_next++) {
            const Chunk &chunk = m_chunks[i];
            const uLong crc = crc32_z(crc32(0, nullptr, 0), chunk.typeAndData, chunk.length);
            if (crc != qFromBigEndian<quint32>(chunk.typeAndData + chunk.length))
                m_bad = true;
        }
    }

    std::vector<Chunk> m_chunks;
    std::atomic<size_t> m_next { 0 };
    std::atomic<bool> m_bad { false };
    std::thread m_helper;
};

} // namespace

bool appendPng(const QImage &picture, QByteArray *out)
{
    if (picture.isNull())
        return false;
    // The rows are read as QRgb values and unpremultiplied a few rows at a time, as Qt's writer
    // stores them; only other formats are converted as a whole first.
    QImage image = picture;
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32
        && format != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return false;
    const bool alpha = !opaque(image);
    std::vector<unsigned char> rows(size_t(image.width()) * 4 * size_t(chunkRows(image.width())));
    const int start = out->size();
    auto write = [&](bool compress, const std::atomic<bool> *stop) {
        out->truncate(start);
        out->reserve(int(qMin<qint64>(std::numeric_limits<int>::max() / 2,
            start
                + (compress
                        ? qint64(image.width()) * image.height()
                        : qint64(image.width() * (alpha ? 4 : 3) + 1) * image.height() + 65536))));
        return writeRows(&image, alpha, compress, out, rows.data(), stop);
    };
    bool written = false;
    if (qint64(image.width()) * image.height() < ParallelPixels) {
        written = write(compressible(image, alpha), nullptr);
    } else {
        // Most large pictures are photographs, stored: they are written while another thread
        // judges them, and written again, compressed, when the judgement says so.
        std::atomic<bool> compress { false };
        std::thread judge([&] { compress = compressible(image, alpha); });
        written = write(false, &compress);
        judge.join();
        if (compress)
            written = write(true, nullptr);
    }
    if (!written) {
        out->truncate(start);
        return false;
    }
    return true;
}

QSize pngSize(const char *data, qint64 size)
{
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (size < 24 || memcmp(data, signature, 8) != 0 || memcmp(data + 12, "IHDR", 4) != 0)
        return QSize();
    const quint32 width = qFromBigEndian<quint32>(data + 16);
    const quint32 height = qFromBigEndian<quint32>(data + 20);
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
        return QSize();
    return QSize(int(width), int(height));
}

QImage decodePng(const char *data, qint64 size, const QSize &expected)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    CrcCheck crcs(bytes, size_t(size));
    PngMemory::Source source { bytes, size_t(size), 0 };
    QImage image;
    std::vector<unsigned char> row(size_t(expected.width()) * 3);
    switch (readRows(&source, expected, &image, row.data())) {
    case ReadResult::Decoded:
        return crcs.passed() ? image : QImage();
    case ReadResult::Failed:
        return QImage();
    case ReadResult::Unsupported:
        break;
    }
    image = QImage::fromData(bytes, int(size), "PNG");
    return image.size() == expected ? image : QImage();
}

} // namespace Cache
} // namespace VokImage
