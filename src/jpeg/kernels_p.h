// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The scaling kernels: Qt's smooth scale, up and down, row by row, in plain C++ and with AVX2
// where the processor has it; the same pixels as QImage::scaled() with Qt::SmoothTransformation.

#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace VokImage {
namespace Jpeg {

#if defined(__x86_64__) || defined(__i386__)
/// True when the processor has AVX2.
bool hasAvx2();
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

// The rows @p top and @p bottom of @p width pixels blended with @p weight into @p out.
void blendRows(
    const quint32 *top, const quint32 *bottom, quint32 weight, quint32 *out, size_t width);

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
    void scaleRow(const quint32 *source, quint32 *row) const;

    std::vector<int> point;
    std::vector<int> weight;
    size_t sourceWidth;
};

// True when Qt's smooth transform scales @p from pixels to exactly @p to: it rounds a scaled
// size up, which can add a pixel.
inline bool keptByTransform(int from, int to)
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
// kept, as Qt's scale keeps them: four lanes a pixel, one for each byte of a source pixel.
void sumRow(const quint32 *row, const RowTaps &taps, quint32 *sums);
// A row of the picture from the (kept) sums of @p count source rows with their @p weights.
void combineRows(
    const quint32 *const *sums, const quint32 *weights, int count, quint32 *out, size_t width);

} // namespace Jpeg
} // namespace VokImage
