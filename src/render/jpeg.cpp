// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// JPEG helpers on libjpeg: the progressive test, and a decode split across threads that gives
// the pixels of Qt's reader.

#include "imagefile_p.h"
#include "internal/picturememory_p.h"

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

// The decoding cost of a row, in costs of decoding one entropy-coded byte, as measured on a
// photograph at 6/8: its pixels cost RowPixelCost each (inverse DCT, colour, the scale), and its
// bytes one each. Skipping a row costs SkipByteCost of each of its bytes (entropy decoding only).
constexpr double RowPixelCost = 1.6;
constexpr double SkipByteCost = 1.0;

// Where each of @p parts parts of a decode begins, as a share of the whole cost, when the parts
// take the same time and the rows cost the same: skipping a row costs @p skipShare of decoding
// it. Part k starts at s(k) and decodes up to s(k + 1) in the time t of the first part:
// s(k) * skipShare + s(k + 1) - s(k) = t, so s(k + 1) = t + (1 - skipShare) * s(k).
std::vector<double> partShares(int parts, double skipShare)
{
    const double t = skipShare / (1 - std::pow(1 - skipShare, parts));
    std::vector<double> shares { 0 };
    for (int k = 1; k < parts; ++k)
        shares.push_back(t + (1 - skipShare) * shares.back());
    return shares;
}

// What the decoders take from a JPEG's header, read as Qt's reader reads it.
struct JpegLayout
{
    unsigned int scale = 8; // M of libjpeg's M/8 scaling
    QSize decoded; // the size at that scale
    int rowGroup = 1; // rows of an iMCU row at that scale
    // Upsampling reads the rows around each row: a skip decodes its last iMCU row whole.
    bool contextRows = false;
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

// Where the parts of a decode begin and end. Each part after the first finds its start as it
// skips rows, and tells the part before it, which decodes up to there (and the rows after it
// that its own scale needs). With rows that cost the same, or when a skip would decode rows
// whole (context rows), the starts are fixed in advance.
class PartBounds
{
public:
    // Parts of the rows [@p from, @p to).
    PartBounds(const JpegLayout &layout, qint64 entropyBytes, int parts, int from, int to)
        : m_height(to)
        , m_from(from)
        , m_bounds(size_t(parts) + 1)
    {
        const double averageBytes = double(qMax<qint64>(1, entropyBytes)) / layout.decoded.height();
        m_rowCost = layout.decoded.width() * RowPixelCost;
        const double skipShare = SkipByteCost * averageBytes / (m_rowCost + averageBytes);
        m_shares = partShares(parts, skipShare);
        const bool adaptive = parts > 1 && !layout.contextRows;
        for (size_t k = 0; k < m_bounds.size(); ++k) {
            int start = k == 0 ? from : to;
            if (!adaptive && k > 0 && k < size_t(parts))
                start = qBound(from,
                    qRound((from + m_shares[k] * (to - from)) / layout.rowGroup) * layout.rowGroup,
                    to);
            m_bounds[k].store(k == 0 || k == size_t(parts) || !adaptive ? start | Decided : 0);
        }
    }

    int parts() const { return int(m_bounds.size()) - 1; }
    // The rows the parts decode.
    int from() const { return m_from; }
    int to() const { return m_height; }
    // The cost before part k, of the whole decode's cost @p total.
    double costBefore(int k, double total) const { return m_shares[size_t(k)] * total; }
    double rowCost() const { return m_rowCost; }
    // The start of part k, when fixed (or decided); else -1.
    int start(int k) const
    {
        const int bound = m_bounds[size_t(k)].load();
        return bound & Decided ? bound & ~Decided : -1;
    }
    // Part k has skipped @p row rows: it starts there or after.
    void skipped(int k, int row) { m_bounds[size_t(k)].store(row); }
    void decide(int k, int row) { m_bounds[size_t(k)].store(qMin(row, m_height) | Decided); }
    // A part failed: the others stop.
    void fail() { m_failed = true; }
    bool failed() const { return m_failed; }

    // How far part k may decode from @p row: up to the next part's start (final), or as far as
    // that part has skipped so far. Waits while that part has not skipped past @p row.
    std::pair<int, bool> limit(int k, int row) const
    {
        for (;;) {
            if (m_failed)
                return { row, true };
            const int bound = m_bounds[size_t(k) + 1].load();
            if (bound & Decided)
                return { bound & ~Decided, true };
            if (bound > row)
                return { bound, false };
            std::this_thread::yield();
        }
    }

private:
    static constexpr int Decided = 1 << 30;
    int m_height; // the end of the rows decoded
    int m_from;
    double m_rowCost = 0;
    std::vector<double> m_shares;
    std::vector<std::atomic<int>> m_bounds;
    std::atomic<bool> m_failed { false };
};

// Decodes part @p k of @p data at the layout's scale as RGB32, for @p part:
// - part.begin(from) once its first row is known;
// - each row into part.rowAt(row), then part.done(row, bound), where bound is the next part's
//   start or a row before it;
// - up to part.endFor(next) once the next part's start is known, then part.finish(next).
// The rows before the part are skipped, which entropy-decodes them without the rest of the
// work. False when libjpeg fails or warns, or the part does.
template <typename Part>
bool decodePart(
    const QByteArray &data, const JpegLayout &layout, PartBounds &bounds, int k, Part &part)
{
    const int height = layout.decoded.height();
    Decompressor decompressor(data);
    jpeg_decompress_struct &in = decompressor.info;
    const auto consumed = [&] {
        return qint64(in.src->next_input_byte - reinterpret_cast<const JOCTET *>(data.constData()));
    };
    int from = bounds.start(k);
    bool started = from >= 0;
    bool complete = false;
    const bool ran = decompressor.run([&] {
        jpeg_read_header(&in, TRUE);
        in.scale_num = layout.scale;
        in.scale_denom = 8;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        in.out_color_space = JCS_EXT_BGRX;
#else
        in.out_color_space = JCS_EXT_XRGB;
#endif
        jpeg_start_decompress(&in);
        if (int(in.output_width) != layout.decoded.width() || int(in.output_height) != height)
            return;
        if (!started) {
            // Skipped to the first iMCU row of the rows decoded, then an iMCU row at a time
            // until the cost of the rows before reaches the part's share of theirs (their bytes
            // are estimated from the rest of the file's).
            const int begin = bounds.from() - bounds.from() % layout.rowGroup;
            const int end = bounds.to();
            if (begin > 0)
                jpeg_skip_scanlines(&in, JDIMENSION(begin));
            const qint64 first = consumed();
            const double bytes
                = double(data.size() - first) * (end - begin) / qMax(1, height - begin);
            const double before = bounds.costBefore(k, bounds.rowCost() * (end - begin) + bytes);
            from = begin;
            while (from < end && !bounds.failed()
                && bounds.rowCost() * (from - begin) + double(consumed() - first) < before) {
                const int count = qMin(layout.rowGroup, height - from);
                jpeg_skip_scanlines(&in, JDIMENSION(count));
                from += count;
                bounds.skipped(k, from);
            }
            if (from < bounds.from()) {
                jpeg_skip_scanlines(&in, JDIMENSION(bounds.from() - from));
                from = bounds.from();
            }
            from = qMin(from, end);
            bounds.decide(k, from);
            started = true;
        } else if (from > 0) {
            jpeg_skip_scanlines(&in, JDIMENSION(from));
        }
        if (!part.begin(from))
            return;
        std::pair<int, bool> limit = bounds.limit(k, from);
        int end = limit.second ? part.endFor(limit.first) : limit.first;
        for (int row = from;;) {
            if (row >= end) {
                if (limit.second)
                    break;
                limit = bounds.limit(k, row);
                end = limit.second ? part.endFor(limit.first) : limit.first;
                continue;
            }
            JSAMPROW target = part.rowAt(row);
            if (jpeg_read_scanlines(&in, &target, 1) != 1 || !part.done(row, limit.first))
                return;
            ++row;
        }
        complete = !bounds.failed() && part.finish(limit.first);
    });
    if (!started)
        bounds.decide(k, bounds.to());
    return ran && complete;
}

// Decodes @p data by parts, each part on a thread of its own (the first on this one), with a
// part made by makePart() for it; true when every part succeeded.
template <typename MakePart>
bool decodeInParts(const QByteArray &data, const JpegLayout &layout, int parts, MakePart makePart,
    int from = 0, int to = -1)
{
    if (to < 0)
        to = layout.decoded.height();
    PartBounds bounds(layout, data.size(), qMax(1, qMin(parts, to - from)), from, to);
    std::vector<char> done(size_t(bounds.parts()), 0);
    const auto run = [&](int k) {
        auto part = makePart();
        done[size_t(k)] = decodePart(data, layout, bounds, k, part);
        if (!done[size_t(k)])
            bounds.fail();
    };
    std::vector<std::thread> threads;
    for (int k = 1; k < bounds.parts(); ++k)
        threads.emplace_back(run, k);
    run(0);
    for (std::thread &thread : threads)
        thread.join();
    return std::all_of(done.begin(), done.end(), [](char ok) { return ok; });
}

#if defined(__x86_64__) || defined(__i386__)
bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

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

#if defined(__x86_64__) || defined(__i386__)
// The bytes of the pixels @p a and @p b blended as blendPixels() blends them, with the weights
// (of 256, for @p b) in 16-bit lanes: @p lowWeights for the bytes unpacked low, @p highWeights
// for those unpacked high.
__attribute__((target("avx2"))) inline __m256i blendBytesAvx2(
    __m256i a, __m256i b, __m256i lowWeights, __m256i highWeights)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i whole = _mm256_set1_epi16(256);
    const __m256i low = _mm256_add_epi16(
        _mm256_mullo_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_sub_epi16(whole, lowWeights)),
        _mm256_mullo_epi16(_mm256_unpacklo_epi8(b, zero), lowWeights));
    const __m256i high = _mm256_add_epi16(
        _mm256_mullo_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_sub_epi16(whole, highWeights)),
        _mm256_mullo_epi16(_mm256_unpackhi_epi8(b, zero), highWeights));
    return _mm256_packus_epi16(_mm256_srli_epi16(low, 8), _mm256_srli_epi16(high, 8));
}

__attribute__((target("avx2"))) void blendRowsAvx2(
    const quint32 *top, const quint32 *bottom, quint32 weight, quint32 *out, size_t width)
{
    const __m256i weights = _mm256_set1_epi16(short(weight));
    size_t x = 0;
    for (; x + 8 <= width; x += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x),
            blendBytesAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(top + x)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bottom + x)), weights,
                weights));
    for (; x < width; ++x)
        out[x] = blendPixels(top[x], bottom[x], weight);
}

// Eight pixels at a time, when their source pixels lie among eight in a row: those are loaded
// at once and each pixel's two picked by a permutation (gathers are slow); one at a time
// otherwise. @p readable pixels of @p source may be read.
__attribute__((target("avx2"))) void scaleRowAvx2(const quint32 *source, size_t readable,
    const int *point, const int *weight, quint32 *row, size_t width)
{
    const __m256i one = _mm256_set1_epi32(1);
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const int base = point[x];
        if (point[x + 7] + 1 - base <= 7 && size_t(base) + 8 <= readable) {
            const __m256i local
                = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(point + x)),
                    _mm256_set1_epi32(base));
            const __m256i pixels
                = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(source + base));
            const __m256i weights
                = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(weight + x));
            const __m256i doubled = _mm256_or_si256(weights, _mm256_slli_epi32(weights, 16));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(row + x),
                blendBytesAvx2(_mm256_permutevar8x32_epi32(pixels, local),
                    _mm256_permutevar8x32_epi32(pixels, _mm256_add_epi32(local, one)),
                    _mm256_unpacklo_epi32(doubled, doubled),
                    _mm256_unpackhi_epi32(doubled, doubled)));
            continue;
        }
        for (size_t i = x; i < x + 8; ++i) {
            const quint32 *pixel = source + point[i];
            row[i] = weight[i] > 0 ? blendPixels(pixel[0], pixel[1], quint32(weight[i])) : pixel[0];
        }
    }
    for (; x < width; ++x) {
        const quint32 *pixel = source + point[x];
        row[x] = weight[x] > 0 ? blendPixels(pixel[0], pixel[1], quint32(weight[x])) : pixel[0];
    }
}
#endif

// The rows @p top and @p bottom of @p width pixels blended with @p weight into @p out.
void blendRows(
    const quint32 *top, const quint32 *bottom, quint32 weight, quint32 *out, size_t width)
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2()) {
        blendRowsAvx2(top, bottom, weight, out, width);
        return;
    }
#endif
    for (size_t x = 0; x < width; ++x)
        out[x] = blendPixels(top[x], bottom[x], weight);
}

// Where Qt's smooth scale up from @p from to @p to pixels samples each pixel: the first of the
// two source pixels it blends, and the weight of the second (of 256).
struct UpPoints
{
    UpPoints(int from, int to)
        : point(size_t(to))
        , weight(size_t(to))
        , sourceWidth(size_t(from))
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

    // A row of the scaled picture from the source row @p source, which has a pixel more after
    // the last one.
    void scaleRow(const quint32 *source, quint32 *row) const
    {
#if defined(__x86_64__) || defined(__i386__)
        if (hasAvx2()) {
            scaleRowAvx2(source, sourceWidth + 1, point.data(), weight.data(), row, point.size());
            return;
        }
#endif
        for (size_t x = 0; x < point.size(); ++x) {
            const quint32 *pixel = source + point[x];
            row[x] = weight[x] > 0 ? blendPixels(pixel[0], pixel[1], quint32(weight[x])) : pixel[0];
        }
    }

    std::vector<int> point;
    std::vector<int> weight;
    size_t sourceWidth;
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
