// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The scheduler of parts: a JPEG decoded by parts, each on a thread of its own, each part
// finding its start as it skips the rows before it.

#include "libjpeg_p.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace VokImage {
namespace Jpeg {

// The decoding cost of a row, in costs of decoding one entropy-coded byte, as measured on a
// photograph at 6/8: its pixels cost RowPixelCost each (inverse DCT, colour, the scale), and its
// bytes one each. Skipping a row costs SkipByteCost of each of its bytes (entropy decoding only).
constexpr double RowPixelCost = 1.6;
constexpr double SkipByteCost = 1.0;

// Where each of @p parts parts of a decode begins, as a share of the whole cost, when the parts
// take the same time and the rows cost the same: skipping a row costs @p skipShare of decoding
// it. Part k starts at s(k) and decodes up to s(k + 1) in the time t of the first part:
// s(k) * skipShare + s(k + 1) - s(k) = t, so s(k + 1) = t + (1 - skipShare) * s(k).
std::vector<double> partShares(int parts, double skipShare);

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

} // namespace Jpeg
} // namespace VokImage
