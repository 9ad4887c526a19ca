// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "kernels_p.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace VokImage {
namespace Jpeg {

#if defined(__x86_64__) || defined(__i386__)
bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

namespace {

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

} // namespace

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

void UpPoints::scaleRow(const quint32 *source, quint32 *row) const
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

} // namespace Jpeg
} // namespace VokImage
