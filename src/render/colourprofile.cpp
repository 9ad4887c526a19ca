// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "colourprofile_p.h"

#include "bytes_p.h"

#include <QColorTransform>
#include <QMap>
#include <QThread>

#include <thread>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <vector>
#include <zlib.h>

namespace VokImage {

namespace {

// The ICC profile of the JPEG @p bytes, joined from its APP2 segments; empty when it has none
// or they are incomplete.
QByteArray jpegProfile(const QByteArray &bytes)
{
    static const QByteArray tag("ICC_PROFILE\0", 12);
    QMap<int, QByteArray> chunks;
    int count = 0;
    int at = 2;
    while (at + 4 <= bytes.size() && uchar(bytes[at]) == 0xff) {
        const uchar marker = uchar(bytes[at + 1]);
        if (marker == 0xff) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xd8 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            at += 2;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)
            break; // the picture data: every APP segment lies before it
        const int length = int(numberAt(bytes, at + 2, 2));
        if (length < 2 || at + 2 + length > bytes.size())
            break;
        const QByteArray segment = bytes.mid(at + 4, length - 2);
        if (marker == 0xe2 && segment.size() > 14 && segment.startsWith(tag)) {
            count = uchar(segment[13]);
            chunks.insert(uchar(segment[12]), segment.mid(14));
        }
        at += 2 + length;
    }
    QByteArray profile;
    for (int sequence = 1; sequence <= count; ++sequence) {
        if (!chunks.contains(sequence) || profile.size() > MaxColourProfileBytes)
            return QByteArray();
        profile += chunks.value(sequence);
    }
    return profile;
}

// The zlib stream @p data inflated, at most MaxColourProfileBytes; empty when damaged or larger.
QByteArray inflated(const QByteArray &data)
{
    QByteArray out(MaxColourProfileBytes, Qt::Uninitialized);
    uLongf size = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
            reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()))
        != Z_OK)
        return QByteArray();
    out.truncate(int(size));
    return out;
}

// The colour space a PNG's chunks before its pixels name: iCCP, or sRGB.
QColorSpace pngSpace(const QByteArray &bytes)
{
    int at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = numberAt(bytes, at, 4);
        if (length > quint32(bytes.size() - at - 12))
            break;
        const QByteArray type = bytes.mid(at + 4, 4);
        if (type == "IDAT" || type == "IEND")
            break;
        if (type == "sRGB")
            return QColorSpace(QColorSpace::SRgb);
        if (type == "iCCP") {
            const QByteArray data = bytes.mid(at + 8, int(length));
            const int name = data.indexOf('\0');
            if (name < 1 || name + 2 > data.size() || data[name + 1] != 0)
                return QColorSpace();
            return QColorSpace::fromIccProfile(inflated(data.mid(name + 2)));
        }
        at += 12 + int(length);
    }
    return QColorSpace();
}

// A conversion to sRGB of 8-bit pixels in integer tables: for every channel value, what it adds
// to each channel of sRGB in linear light (the space's curve, then the 3x3 matrix), and sRGB's
// curve over LinearSteps steps of linear light. Sampled once from Qt's transform, it converts a
// few times faster than Qt does.
constexpr int LinearSteps = 16384;
constexpr int LinearShift = 14; // linear light 65535 times the matrix's 4096, to LinearSteps

struct TableTransform
{
    qint32 linear[256]; // 65535 is 1
    qint32 matrix[9]; // row by row, 4096 is 1
    // [channel][value]: the red, green and blue of sRGB it adds (linear times matrix), and a zero.
    alignas(16) qint32 adds[3][256][4];
};

// sRGB's curve: linear light in LinearSteps steps to 8 bits.
const uchar *srgbCurve()
{
    static const std::vector<uchar> curve = [] {
        const QColorTransform encode
            = QColorSpace(QColorSpace::SRgbLinear).transformationToColorSpace(QColorSpace::SRgb);
        std::vector<uchar> table(LinearSteps + 3); // gathers read 4 bytes
        for (int i = 0; i < LinearSteps; ++i) {
            const quint16 v = quint16(qRound(i * 65535.0 / (LinearSteps - 1)));
            table[size_t(i)] = uchar(encode.map(QRgba64::fromRgba64(v, v, v, 65535)).red8());
        }
        return table;
    }();
    return curve.data();
}

// The tables of the conversion from @p space to sRGB; false when the space's channels do not
// share one curve or its matrix is out of the tables' range (Qt's transform converts those).
bool tableTransform(const QColorSpace &space, TableTransform *table)
{
    const QColorTransform toLinear = space.transformationToColorSpace(QColorSpace::SRgbLinear);
    const auto map = [&](quint16 r, quint16 g, quint16 b) {
        return toLinear.map(QRgba64::fromRgba64(r, g, b, 65535));
    };
    // Grey stays grey: its linear light is the curve's value, alike in every channel.
    const auto curve = [&](quint16 v) { return map(v, v, v).red(); };
    qint32 *const linear = table->linear;
    for (int v = 0; v < 256; ++v) {
        const QRgba64 grey = map(quint16(v * 257), quint16(v * 257), quint16(v * 257));
        if (qAbs(grey.red() - grey.green()) > 2 || qAbs(grey.red() - grey.blue()) > 2)
            return false;
        linear[v] = grey.red();
    }
    if (linear[255] < 65500)
        return false;
    // The input whose linear light is nearest @p target.
    const auto inputFor = [&](double target) {
        int low = 0, high = 65535;
        while (low < high) {
            const int middle = (low + high) / 2;
            if (curve(quint16(middle)) < target * 65535)
                low = middle + 1;
            else
                high = middle;
        }
        return quint16(low);
    };
    // Each column from one channel raised over mid grey, by as much as the others stay in range.
    const quint16 base = inputFor(0.5);
    const double baseLight = curve(base);
    double matrix[3][3];
    for (int c = 0; c < 3; ++c) {
        double step = 0.1;
        for (int pass = 0; pass < 2; ++pass) {
            quint16 in[3] = { base, base, base };
            in[c] = inputFor(0.5 + step);
            const double raised = curve(in[c]) - baseLight;
            const QRgba64 out = map(in[0], in[1], in[2]);
            const quint16 channels[3] = { out.red(), out.green(), out.blue() };
            double largest = 0;
            for (int r = 0; r < 3; ++r) {
                if (channels[r] == 0 || channels[r] == 65535 || raised <= 0)
                    return false;
                matrix[r][c] = (channels[r] - baseLight) / raised;
                largest = qMax(largest, qAbs(matrix[r][c]));
            }
            step = qMin(0.45, 0.45 / largest);
        }
    }
    for (int r = 0; r < 3; ++r) {
        // Three channels' adds stay within 32 bits.
        if (qAbs(matrix[r][0]) + qAbs(matrix[r][1]) + qAbs(matrix[r][2]) > 7.5)
            return false;
        for (int c = 0; c < 3; ++c) {
            const int coefficient = qRound(matrix[r][c] * 4096);
            table->matrix[r * 3 + c] = coefficient;
            for (int v = 0; v < 256; ++v)
                table->adds[c][v][r] = coefficient * linear[v]
                    + (c == 0 ? 1 << (LinearShift - 1) : 0); // rounding, once
        }
    }
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            table->adds[c][v][3] = 0;
    return true;
}

#if defined(__x86_64__) || defined(__i386__)
// The pixels of @p count converted eight at a time where the processor has AVX2, with the
// same integer steps as applyTable; returns how many it converted.
__attribute__((target("avx2"))) int applyTableAvx2(
    const TableTransform &table, const uchar *encode, QRgb *pixels, int count)
{
    const __m256i byte = _mm256_set1_epi32(0xff);
    const __m256i half = _mm256_set1_epi32(1 << (LinearShift - 1));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(LinearSteps - 1);
    const __m256i alpha = _mm256_set1_epi32(int(0xff000000u));
    __m256i m[9];
    for (int k = 0; k < 9; ++k)
        m[k] = _mm256_set1_epi32(table.matrix[k]);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i *const at = reinterpret_cast<__m256i *>(pixels + i);
        const __m256i p = _mm256_loadu_si256(at);
        const __m256i r = _mm256_i32gather_epi32(
            table.linear, _mm256_and_si256(_mm256_srli_epi32(p, 16), byte), 4);
        const __m256i g = _mm256_i32gather_epi32(
            table.linear, _mm256_and_si256(_mm256_srli_epi32(p, 8), byte), 4);
        const __m256i b = _mm256_i32gather_epi32(table.linear, _mm256_and_si256(p, byte), 4);
        __m256i out = _mm256_and_si256(p, alpha);
        for (int row = 0; row < 3; ++row) {
            __m256i light = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(r, m[row * 3]),
                                                 _mm256_mullo_epi32(g, m[row * 3 + 1])),
                _mm256_add_epi32(_mm256_mullo_epi32(b, m[row * 3 + 2]), half));
            light = _mm256_min_epi32(
                _mm256_max_epi32(_mm256_srai_epi32(light, LinearShift), zero), top);
            const __m256i value = _mm256_and_si256(
                _mm256_i32gather_epi32(reinterpret_cast<const int *>(encode), light, 1), byte);
            out = _mm256_or_si256(out, _mm256_slli_epi32(value, 16 - 8 * row));
        }
        _mm256_storeu_si256(at, out);
    }
    return i;
}
#endif

// @p count 8-bit pixels converted in place by @p table; alpha is kept.
void applyTable(const TableTransform &table, QRgb *pixels, int count)
{
    const uchar *const encode = srgbCurve();
    int i = 0;
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        i = applyTableAvx2(table, encode, pixels, count);
#endif
    const auto encoded = [encode](qint32 light) {
        return uint(encode[qBound(0, light >> LinearShift, LinearSteps - 1)]);
    };
    for (; i < count; ++i) {
        const QRgb p = pixels[i];
        const qint32 *const r = table.adds[0][qRed(p)];
        const qint32 *const g = table.adds[1][qGreen(p)];
        const qint32 *const b = table.adds[2][qBlue(p)];
        pixels[i] = (p & 0xff000000u) | encoded(r[0] + g[0] + b[0]) << 16
            | encoded(r[1] + g[1] + b[1]) << 8 | encoded(r[2] + g[2] + b[2]);
    }
}

bool transformable(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

} // namespace

QColorSpace embeddedColourSpace(const QByteArray &bytes)
{
    if (bytes.startsWith("\xff\xd8")) {
        const QByteArray profile = jpegProfile(bytes);
        return profile.isEmpty() ? QColorSpace() : QColorSpace::fromIccProfile(profile);
    }
    if (bytes.startsWith(PngSignature))
        return pngSpace(bytes);
    return QColorSpace();
}

QImage inSrgb(QImage image, const QColorSpace &space)
{
    if (image.isNull() || !space.isValid() || space == QColorSpace::SRgb)
        return image;
    if (!transformable(image.format()))
        image = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    // Straight 8-bit pixels go through the tables; others, and odd spaces, through Qt.
    TableTransform table;
    const bool tables
        = (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        && tableTransform(space, &table);
    const QColorTransform transform
        = tables ? QColorTransform() : space.transformationToColorSpace(QColorSpace::SRgb);
    // Bands of rows, one per core for a large picture; each is a view of the picture's rows.
    const int height = image.height();
    const int bands = qBound(1, height / 256, qMax(1, QThread::idealThreadCount()));
    uchar *const bits = image.bits();
    const auto convert = [&](int band) {
        const int first = height * band / bands;
        const int last = height * (band + 1) / bands;
        if (tables) {
            for (int y = first; y < last; ++y)
                applyTable(table,
                    reinterpret_cast<QRgb *>(bits + qsizetype(y) * image.bytesPerLine()),
                    image.width());
            return;
        }
        QImage rows(bits + qsizetype(first) * image.bytesPerLine(), image.width(), last - first,
            image.bytesPerLine(), image.format());
        rows.applyColorTransform(transform);
    };
    std::vector<std::thread> threads;
    for (int band = 1; band < bands; ++band)
        threads.emplace_back(convert, band);
    convert(0);
    for (std::thread &thread : threads)
        thread.join();
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

} // namespace VokImage
