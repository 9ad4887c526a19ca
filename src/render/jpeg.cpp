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

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

// True when Qt's smooth transform scales @p from pixels to exactly @p to: it rounds a scaled
// size up, which can add a pixel.
bool keptByTransform(int from, int to)
{
    return int(double(to) / from * from + 0.9999) == to;
}

// Where Qt's smooth scale down from @p from to @p to pixels averages each pixel: its first source
// pixel, how many it averages, and their weights (of 1 << 14): the first's, each middle one's
// (the same for all) and the last's.
struct DownTaps
{
    DownTaps(int from, int to)
        : first(size_t(to))
        , count(size_t(to))
        , firstWeight(size_t(to))
        , lastWeight(size_t(to))
    {
        const qint64 step = (qint64(from) << 16) / to;
        middleWeight = int(((qint64(to) << 14) + from - 1) / from);
        qint64 position = 0;
        for (size_t i = 0; i < size_t(to); ++i) {
            first[i] = int(position >> 16);
            firstWeight[i] = int(((0x10000 - (position & 0xffff)) * middleWeight) >> 16);
            int rest = (1 << 14) - firstWeight[i];
            int taps = 1;
            for (; rest > middleWeight; rest -= middleWeight)
                ++taps;
            count[i] = taps + 1;
            lastWeight[i] = rest;
            position += step;
            // Qt reads one pixel past the end, but only with no weight.
            const int end = first[i] + count[i] - 1;
            valid = valid && (end < from || (end == from && lastWeight[i] == 0));
        }
    }

    // The weight of the @p k th source pixel of pixel @p i.
    quint32 weight(size_t i, int k) const
    {
        return quint32(k == 0 ? firstWeight[i] : k == count[i] - 1 ? lastWeight[i] : middleWeight);
    }

    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> firstWeight;
    std::vector<int> lastWeight;
    int middleWeight = 0;
    bool valid = true;
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

namespace {

// The weights of Qt's smooth scale down along a row, by pairs: pixel x sums the source pixels
// from first[x], two at a time, with pairs[x * pairCount + k] holding the weights of the k-th
// two (the first in the low half); the weights past a pixel's own count are 0.
struct RowTaps
{
    explicit RowTaps(const DownTaps &taps)
    {
        int most = 1;
        for (const int count : taps.count)
            most = qMax(most, count);
        pairCount = (most + 1) / 2;
        first = taps.first;
        pairs.resize(taps.first.size() * size_t(pairCount), 0);
        for (size_t x = 0; x < taps.first.size(); ++x)
            for (int k = 0; k < taps.count[x]; ++k)
                pairs[x * size_t(pairCount) + size_t(k / 2)] |= taps.weight(x, k) << (k % 2 * 16);
    }

    std::vector<int> first;
    std::vector<quint32> pairs;
    int pairCount = 1;
};

// The sums along the decoded @p row for each pixel of a row of @p taps, a sixteenth of each
// kept, as Qt's scale keeps them: four lanes a pixel, one for each byte of a source pixel, each
// the bytes times their weights.
void sumRowPlain(const quint32 *row, const RowTaps &taps, quint32 *sums, size_t from)
{
    const size_t pairCount = size_t(taps.pairCount);
    for (size_t x = from; x < taps.first.size(); ++x) {
        const uchar *bytes = reinterpret_cast<const uchar *>(row + taps.first[x]);
        const quint32 *pair = taps.pairs.data() + x * pairCount;
        quint32 *sum = sums + 4 * x;
        for (size_t lane = 0; lane < 4; ++lane) {
            quint32 total = 0;
            for (size_t k = 0; k < pairCount * 2; ++k)
                total += bytes[4 * k + lane] * ((pair[k / 2] >> (k % 2 * 16)) & 0xffff);
            sum[lane] = total >> 4;
        }
    }
}

// A row of the picture from the (kept) sums of @p count source rows with their @p weights: each
// lane sums its row sums times the weights in 32 bits, as Qt's scale does (the total may use
// the sign bit), and keeps the top byte.
void combineRowsPlain(const quint32 *const *sums, const quint32 *weights, int count, quint32 *out,
    size_t from, size_t width)
{
    for (size_t x = from; x < width; ++x) {
        quint32 pixel = 0xff000000u;
        for (size_t lane = 0; lane < 3; ++lane) {
            quint32 total = 0;
            for (int k = 0; k < count; ++k)
                total += sums[k][4 * x + lane] * weights[k];
            pixel |= (total >> 24) << (8 * lane);
        }
        out[x] = pixel;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Two pixels at a time: the two source pixels of a pair, bytes interleaved and widened to 16
// bits, times their weights, summed by madd.
__attribute__((target("avx2"))) void sumRowAvx2(
    const quint32 *row, const RowTaps &taps, quint32 *sums)
{
    const size_t width = taps.first.size();
    const size_t pairCount = size_t(taps.pairCount);
    const __m128i interleave = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    size_t x = 0;
    for (; x + 2 <= width; x += 2) {
        const quint32 *left = row + taps.first[x];
        const quint32 *right = row + taps.first[x + 1];
        const quint32 *leftPair = taps.pairs.data() + x * pairCount;
        const quint32 *rightPair = leftPair + pairCount;
        __m256i sum = _mm256_setzero_si256();
        for (size_t k = 0; k < pairCount; ++k) {
            const __m128i both = _mm_unpacklo_epi64(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(left + 2 * k)),
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(right + 2 * k)));
            const __m256i wide = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(both, interleave));
            const __m256i weight = _mm256_setr_m128i(
                _mm_set1_epi32(int(leftPair[k])), _mm_set1_epi32(int(rightPair[k])));
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(wide, weight));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sums + 4 * x), _mm256_srli_epi32(sum, 4));
    }
    sumRowPlain(row, taps, sums, x);
}

__attribute__((target("avx2"))) void combineRowsAvx2(
    const quint32 *const *sums, const quint32 *weights, int count, quint32 *out, size_t width)
{
    size_t x = 0;
    for (; x + 2 <= width; x += 2) {
        __m256i total = _mm256_setzero_si256();
        for (int k = 0; k < count; ++k)
            total = _mm256_add_epi32(total,
                _mm256_mullo_epi32(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sums[k] + 4 * x)),
                    _mm256_set1_epi32(int(weights[k]))));
        total = _mm256_srli_epi32(total, 24);
        total = _mm256_packus_epi16(_mm256_packus_epi32(total, total), total);
        out[x] = quint32(_mm256_extract_epi32(total, 0)) | 0xff000000u;
        out[x + 1] = quint32(_mm256_extract_epi32(total, 4)) | 0xff000000u;
    }
    combineRowsPlain(sums, weights, count, out, x, width);
}

bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

void sumRow(const quint32 *row, const RowTaps &taps, quint32 *sums)
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2()) {
        sumRowAvx2(row, taps, sums);
        return;
    }
#endif
    sumRowPlain(row, taps, sums, 0);
}

void combineRows(
    const quint32 *const *sums, const quint32 *weights, int count, quint32 *out, size_t width)
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2()) {
        combineRowsAvx2(sums, weights, count, out, width);
        return;
    }
#endif
    combineRowsPlain(sums, weights, count, out, 0, width);
}

// The picture of @p layout scaled down on both axes to @p size as Qt's smooth scale does, each
// part of @p starts decoded and scaled on a thread of its own; null when a part fails. Qt's scale
// sums, for each pixel of a row, its source pixels along the row, and then those sums over the
// source rows the row covers: the first sums are made once per source row, and kept for as long
// as the rows of the picture need them.
QImage decodeScaledDown(const QByteArray &data, const JpegLayout &layout, const QSize &size,
    const std::vector<int> &starts)
{
    const int sh = layout.decoded.height();
    const int sw = layout.decoded.width();
    const size_t dw = size_t(size.width());
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    const DownTaps columnTaps(sw, size.width());
    const DownTaps rows(sh, size.height());
    if (!columnTaps.valid || !rows.valid)
        return QImage();
    const RowTaps columns(columnTaps);
    int window = 1;
    for (const int count : rows.count)
        window = qMax(window, count);
    const bool decoded = runParts(starts, [&](int from, int to) {
        const auto begin = std::lower_bound(rows.first.begin(), rows.first.end(), from);
        const auto end = std::lower_bound(begin, rows.first.end(), to);
        size_t y = size_t(begin - rows.first.begin());
        const size_t yEnd = size_t(end - rows.first.begin());
        // The source rows the part's rows use, whose last weight may be 0 past the picture.
        int needed = to;
        if (yEnd > y)
            needed = qMax(needed, rows.first[yEnd - 1] + rows.count[yEnd - 1]);
        const int last = qMin(needed, sh);
        // A decoded row (with room for the weightless pixels read past its end), and the sums of
        // the last window rows.
        std::vector<quint32> row(size_t(sw) + size_t(columns.pairCount) * 2 + 2, 0);
        std::vector<quint32> sums(size_t(window) * dw * 4);
        const auto sumsOf
            = [&](int source) { return sums.data() + size_t(source % window) * dw * 4; };
        std::vector<const quint32 *> rowSums(static_cast<size_t>(window));
        std::vector<quint32> weights(static_cast<size_t>(window));
        const auto writeRow = [&](size_t target) {
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
                reinterpret_cast<quint32 *>(image.scanLine(int(target))), dw);
        };
        bool fits = true;
        const bool ran = decodeRows(
            data, layout, from, last, [&](int) { return reinterpret_cast<uchar *>(row.data()); },
            [&](int source) {
                sumRow(row.data(), columns, sumsOf(source));
                for (; y < yEnd && rows.first[y] + rows.count[y] - 1 <= source; ++y) {
                    if (source - rows.first[y] >= window) {
                        fits = false;
                        return;
                    }
                    writeRow(y);
                }
            });
        if (!ran || !fits)
            return false;
        // Rows whose last source row lies past the picture (with no weight).
        for (; y < yEnd; ++y) {
            if (rows.lastWeight[y] != 0 || rows.first[y] + rows.count[y] - 1 != sh)
                return false;
            writeRow(y);
        }
        return true;
    });
    return decoded ? image : QImage();
}

} // namespace

QImage decodeJpegInParts(const QByteArray &data, const QSize &scaledSize, int parts)
{
    JpegLayout layout;
    if (parts < 1 || !readLayout(data, scaledSize, &layout))
        return QImage();
    const std::vector<int> starts = partStarts(layout.decoded.height(), parts, layout.rowGroup);
    QImage image;
    if (scaledSize.width() < layout.decoded.width() && scaledSize.height() < layout.decoded.height()
        && keptByTransform(layout.decoded.width(), scaledSize.width())
        && keptByTransform(layout.decoded.height(), scaledSize.height())) {
        // Scaled down on both axes as the rows are decoded: the decoded picture is never whole.
        image = decodeScaledDown(data, layout, scaledSize, starts);
        if (image.isNull())
            return QImage();
        layout.describe(&image);
        layout.setColorSpace(&image);
        return image;
    }
    image = QImage(layout.decoded, QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    // Each part decodes its rows straight into the picture.
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
    if (size.width() < sw || size.height() < sh || size == layout.decoded
        || !keptByTransform(sw, size.width()) || !keptByTransform(sh, size.height()))
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
