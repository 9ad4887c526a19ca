// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "png_p.h"

#include "internal/picturememory_p.h"
#include "internal/qtprivate_p.h"
#include "pngmemory_p.h"

#include <png.h>

#include <libdeflate.h>

#include <QtEndian>
#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace VokImage {
namespace Png {

namespace {

// Pixels whose sample deflates to at most this share of its size are compressed; the rest
// (photographs) are stored, since inflating them costs several times a render on a hit.
constexpr double CompressibleShare = 0.2;
constexpr int SampleBands = 16;
constexpr int SampleRowsPerBand = 4;
// One IDAT chunk per this many bytes.
constexpr size_t ChunkBytes = 1 << 20;
// Pictures from this many pixels are judged on another thread while they are encoded, and
// encoded on two threads.
constexpr qint64 ParallelPixels = qint64(1) << 20;
// Rows deflated as one band; bands are taken in turn by the encoding threads. Stored bands are
// smaller: one finished ahead of its turn waits whole in memory.
constexpr int BandRows = 256;
constexpr int StoredBandRows = 64;
// Bands deflated at most this far ahead of the first one not handed on: the bands that wait for
// it stay few however the threads are scheduled.
constexpr size_t BandsAhead = 3;

bool opaque(const QImage &image)
{
    return !image.hasAlphaChannel() || allOpaque(image, image.rect());
}

// Rows converted at once: few enough that Qt's conversion stays on this thread, since its
// thread pool cannot be used in a forked child.
int chunkRows(int width)
{
    return qMax(1, 16383 / qMax(1, width));
}

// Packs the @p width pixels of @p line as 8-bit RGB into @p out.
void packRgbPlain(const QRgb *line, int width, unsigned char *out)
{
    for (int x = 0; x < width; ++x, out += 3) {
        const QRgb c = line[x];
        out[0] = qRed(c);
        out[1] = qGreen(c);
        out[2] = qBlue(c);
    }
}

#if defined(__x86_64__) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
// As packRgbPlain(), four pixels at a time with SSSE3's byte shuffle: a QRgb is B, G, R, A in
// memory. Each step stores 16 bytes for 12, so the last pixels are packed one by one.
__attribute__((target("ssse3"))) void packRgbSsse3(const QRgb *line, int width, unsigned char *out)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int x = 0;
    for (; x + 6 <= width; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * x),
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(line + x)), order));
    packRgbPlain(line + x, width - x, out + 3 * x);
}
#endif

void packRgb(const QRgb *line, int width, unsigned char *out)
{
#if defined(__x86_64__) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        return packRgbSsse3(line, width, out);
#endif
    packRgbPlain(line, width, out);
}

// Packs @p count rows from @p y into the PNG's bytes, RGB or RGBA, each @p stride bytes after
// the one before (0: right after it). Premultiplied rows are converted as Qt's writer converts
// them.
bool packRows(
    const QImage &image, int y, int count, bool alpha, unsigned char *out, size_t stride = 0)
{
    QImage rows(image.constScanLine(y), image.width(), count, image.bytesPerLine(), image.format());
    if (alpha && image.format() == QImage::Format_ARGB32_Premultiplied)
        rows = rows.convertToFormat(QImage::Format_ARGB32);
    if (rows.isNull())
        return false;
    const int width = rows.width();
    const size_t gap = stride == 0 ? 0 : stride - size_t(width) * (alpha ? 4 : 3);
    for (int i = 0; i < count; ++i, out += gap) {
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
            packRgb(line, width, out);
            out += size_t(width) * 3;
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
    std::vector<unsigned char> above(rowBytes);
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
        // The band's first row is filtered against the picture's row above it, as it is
        // written.
        if (y0 > 0) {
            if (!packRows(image, y0 - 1, 1, alpha, above.data()))
                return false;
            for (size_t b = 0; b < rowBytes; ++b)
                first[b] = static_cast<unsigned char>(first[b] - above[b]);
        }
    }
    // Deflated a band at a time: once the output passes the share, the rest cannot bring it
    // back under it.
    const double limit = CompressibleShare * double(sample.size());
    z_stream stream {};
    if (deflateInit(&stream, 1) != Z_OK)
        return false;
    std::vector<unsigned char> packed(deflateBound(&stream, uLong(sample.size())));
    stream.next_out = packed.data();
    stream.avail_out = uInt(packed.size());
    const size_t bandBytes = rowBytes * bandRows;
    int status = Z_OK;
    for (int band = 0; band < bands && status == Z_OK && double(stream.total_out) <= limit;
         ++band) {
        stream.next_in = sample.data() + bandBytes * band;
        stream.avail_in = uInt(bandBytes);
        status = deflate(&stream, band == bands - 1 ? Z_FINISH : Z_NO_FLUSH);
    }
    const bool judged = status == Z_STREAM_END || (status == Z_OK && stream.avail_in == 0);
    const double out = double(stream.total_out);
    deflateEnd(&stream);
    return judged && out <= limit;
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

// A libpng writer that appends to a byte array; each call reports libpng's errors as false,
// and no C++ object lives across their jump.
class PngWriter
{
public:
    explicit PngWriter(QByteArray *out)
        : m_png(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning))
    {
        if (m_png)
            m_info = png_create_info_struct(m_png);
        if (m_info)
            png_set_write_fn(m_png, out, appendToArray, noFlush);
    }
    ~PngWriter() { png_destroy_write_struct(&m_png, &m_info); }
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    bool isValid() const { return m_info; }

    // The signature and the header of a @p width x @p height RGB or RGBA picture.
    bool header(int width, int height, bool alpha)
    {
        return PngMemory::guarded(m_png, [&] {
            png_set_IHDR(m_png, m_info, png_uint_32(width), png_uint_32(height), 8,
                alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
            png_write_info(m_png, m_info);
        });
    }

private:
    png_structp m_png;
    png_infop m_info = nullptr;
};

// Ends the chunk @p type whose data follow 8 bytes left at @p start of @p png up to its end:
// writes its length and type there and appends its CRC.
void appendChunkFrame(QByteArray *png, int start, const char *type)
{
    auto *frame = reinterpret_cast<unsigned char *>(png->data()) + start;
    const size_t length = size_t(png->size() - start - 8);
    qToBigEndian(quint32(length), frame);
    memcpy(frame + 4, type, 4);
    unsigned char crc[4];
    qToBigEndian(quint32(libdeflate_crc32(0, frame + 4, length + 4)), crc);
    png->append(reinterpret_cast<const char *>(crc), 4);
}

// Appends the chunk @p type with the @p length bytes at @p data to @p png.
void appendChunk(QByteArray *png, const char *type, const unsigned char *data, size_t length)
{
    const int start = png->size();
    png->resize(start + 8);
    if (length > 0)
        png->append(reinterpret_cast<const char *>(data), int(length));
    appendChunkFrame(png, start, type);
}

// A band of rows, filtered and deflated on its own into raw deflate data that ends on a byte
// boundary (the last band ends the stream), so that the bands of a picture concatenate into one
// zlib stream; written as the IDAT chunks of its part of the PNG.
struct Band
{
    int first = 0;
    int count = 0;
    bool last = true;
    QByteArray png;
    uLong adler = adler32(0, nullptr, 0);
    uLong length = 0;
};

// Packs, filters and deflates the rows of @p band: UP-filtered at level 1 when @p compress (the
// row above the band is packed again for its first row), stored blocks otherwise. The first
// band begins the PNG and the zlib stream. False on failure or once @p stop (may be null) is set.
// The bytes of a band of @p length bytes of stored (not compressed) rows: deflate's block
// headers and the chunks' frames around them.
int storedSize(uLong length)
{
    return int(qMin<qint64>(std::numeric_limits<int>::max() / 2,
        qint64(length) + qint64(length / 65535 + 1) * 5 + qint64(length / ChunkBytes + 2) * 12
            + 64));
}

// Gives each of @p count rows its filter byte in @p rows (rows of @p packed bytes and the
// filter byte): "up" against the row above (@p above for the first) from the packed rows
// @p current when compressing; none otherwise, the rows being packed in place already.
void filterRows(const unsigned char *current, const unsigned char *above, size_t packed, int count,
    bool compress, unsigned char *rows)
{
    for (int i = 0; i < count; ++i) {
        unsigned char *filtered = rows + (packed + 1) * size_t(i);
        filtered[0] = compress ? PNG_FILTER_VALUE_UP : PNG_FILTER_VALUE_NONE;
        if (!compress)
            continue;
        const unsigned char *row = current + packed * size_t(i);
        const unsigned char *prior = i > 0 ? row - packed : above;
        for (size_t b = 0; b < packed; ++b)
            filtered[b + 1] = static_cast<unsigned char>(row[b] - prior[b]);
    }
}

bool deflateBand(
    const QImage &image, bool alpha, bool compress, const std::atomic<bool> *stop, Band *band)
{
    const int width = image.width();
    const size_t packed = size_t(width) * (alpha ? 4 : 3);
    const size_t rowBytes = packed + 1;
    const int batch = chunkRows(width);
    band->length = uLong(rowBytes * size_t(band->count));
    // Room for the stored rows and the open chunk, which is given ChunkBytes at a time. Reserved,
    // the room outlives a resize to nothing, so that a later band can reuse it.
    band->png.reserve(compress ? int(ChunkBytes) + 8 : storedSize(band->length) + int(ChunkBytes));
    if (band->first == 0) {
        PngWriter writer(&band->png);
        if (!writer.isValid() || !writer.header(width, image.height(), alpha))
            return false;
    }
    std::vector<unsigned char> current(packed * size_t(batch));
    std::vector<unsigned char> rows(rowBytes * size_t(batch));
    std::vector<unsigned char> above(packed, 0);
    if (compress && band->first > 0 && !packRows(image, band->first - 1, 1, alpha, above.data()))
        return false;
    z_stream stream {};
    if (deflateInit2(&stream, compress ? 1 : 0, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
        != Z_OK)
        return false;
    // The deflated bytes go straight into IDAT chunks of at most ChunkBytes at the band's end.
    int chunk = 0; // where the open chunk begins
    auto openChunk = [&] {
        chunk = band->png.size();
        band->png.resize(chunk + 8 + int(ChunkBytes));
        stream.next_out = reinterpret_cast<Bytef *>(band->png.data()) + chunk + 8;
        stream.avail_out = uInt(ChunkBytes);
    };
    auto closeChunk = [&] {
        const size_t length = ChunkBytes - stream.avail_out;
        band->png.resize(chunk + (length == 0 ? 0 : 8 + int(length)));
        if (length > 0)
            appendChunkFrame(&band->png, chunk, "IDAT");
    };
    openChunk();
    if (band->first == 0) {
        // The zlib header: a 32 KiB window, the fastest levels.
        *stream.next_out++ = 0x78;
        *stream.next_out++ = 0x01;
        stream.avail_out -= 2;
    }
    // Deflates what is in the stream's input, closing a chunk each time one fills.
    auto pump = [&](int flush) {
        for (;;) {
            const int status = deflate(&stream, flush);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return false;
            if (stream.avail_out == 0) {
                closeChunk();
                openChunk();
                continue;
            }
            return flush == Z_FINISH ? status == Z_STREAM_END : stream.avail_in == 0;
        }
    };
    const int end = band->first + band->count;
    bool ok = true;
    for (int y = band->first; ok && y < end; y += batch) {
        const int count = qMin(batch, end - y);
        // Stored rows are packed straight behind their filter bytes.
        if ((stop && *stop)
            || !(compress ? packRows(image, y, count, alpha, current.data())
                          : packRows(image, y, count, alpha, rows.data() + 1, rowBytes))) {
            ok = false;
            break;
        }
        filterRows(current.data(), above.data(), packed, count, compress, rows.data());
        if (compress)
            memcpy(above.data(), current.data() + packed * size_t(count - 1), packed);
        const size_t bytes = rowBytes * size_t(count);
        band->adler = libdeflate_adler32(uint32_t(band->adler), rows.data(), bytes);
        stream.next_in = rows.data();
        stream.avail_in = uInt(bytes);
        ok = pump(Z_NO_FLUSH);
    }
    ok = ok && pump(band->last ? Z_FINISH : Z_SYNC_FLUSH);
    closeChunk();
    deflateEnd(&stream);
    return ok;
}

// Hands the PNG of @p image to @p write in order, its rows deflated in bands of rows,
// which this thread and, for a large picture, one more take in turn; each band is handed on, and
// let go, as soon as the bands before it are. False on failure, when @p write fails or once
// @p stop (may be null) is set.
bool encode(const QImage &image, bool alpha, bool compress, const std::atomic<bool> *stop,
    const Pieces &write)
{
    const int height = image.height();
    const int bandRows = compress ? BandRows : StoredBandRows;
    const int count = qMax(1, (height + bandRows / 2) / bandRows);
    std::vector<Band> bands(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        bands[size_t(i)].first = int(qint64(height) * i / count);
        bands[size_t(i)].count = int(qint64(height) * (i + 1) / count) - bands[size_t(i)].first;
        bands[size_t(i)].last = i == count - 1;
    }
    std::atomic<int> next { 0 };
    std::atomic<bool> failed { false };
    std::mutex order;
    std::condition_variable progressed;
    std::vector<char> deflated(bands.size(), 0);
    size_t handed = 0; // bands handed to write
    // The memory of bands handed on, for the bands to come: fresh memory for each band would be
    // faulted in page by page again.
    std::vector<QByteArray> spare;
    auto work = [&] {
        for (int i = next++; i < count && !failed; i = next++) {
            {
                std::unique_lock<std::mutex> lock(order);
                progressed.wait(lock, [&] { return failed || size_t(i) < handed + BandsAhead; });
                if (!spare.empty()) {
                    bands[size_t(i)].png = std::move(spare.back());
                    spare.pop_back();
                }
            }
            if (failed || !deflateBand(image, alpha, compress, stop, &bands[size_t(i)])) {
                {
                    const std::lock_guard<std::mutex> lock(order);
                    failed = true;
                }
                progressed.notify_all();
                break;
            }
            const std::lock_guard<std::mutex> lock(order);
            deflated[size_t(i)] = 1;
            for (; !failed && handed < bands.size() && deflated[handed]; ++handed) {
                QByteArray &png = bands[handed].png;
                if (!write(png))
                    failed = true;
                // Memory the writer shares is left to it.
                if (png.isDetached()) {
                    png.resize(0);
                    spare.push_back(std::move(png));
                }
                png = QByteArray();
            }
            progressed.notify_all();
        }
    };
    std::thread helper;
    if (count > 1 && qint64(image.width()) * height >= ParallelPixels)
        helper = std::thread(work);
    work();
    if (helper.joinable())
        helper.join();
    if (failed)
        return false;
    // The end of the zlib stream, the checksum of all the filtered rows, and of the PNG.
    uLong adler = bands[0].adler;
    for (size_t i = 1; i < bands.size(); ++i)
        adler = adler32_combine(adler, bands[i].adler, z_off_t(bands[i].length));
    unsigned char trailer[4];
    png_save_uint_32(trailer, png_uint_32(adler));
    QByteArray tail;
    appendChunk(&tail, "IDAT", trailer, sizeof trailer);
    appendChunk(&tail, "IEND", nullptr, 0);
    return write(tail);
}

// A writer of pieces that appends them to @p pieces.
Pieces appendTo(QByteArrayList *pieces)
{
    return [pieces](const QByteArray &piece) {
        pieces->append(piece);
        return true;
    };
}

enum class ReadResult { Decoded, Unsupported, Failed };

// The part of readRows() that calls libpng, inside guarded().
ReadResult readRowsGuarded(png_structp png, png_infop info, PngMemory::Source *source,
    const QSize &expected, QImage *image, unsigned char *row)
{
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
        || int(png_get_image_height(png, info)) != expected.height())
        return ReadResult::Unsupported;
    const bool alpha = colorType == PNG_COLOR_TYPE_RGB_ALPHA;
    *image = PictureMemory::zeroed(expected, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
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
    return ReadResult::Decoded;
}

// Decodes 8-bit RGB and RGBA without interlacing straight into @p image, in the layout Qt's
// reader gives them (RGB32, ARGB32). Anything else is left to Qt's reader. The chunks' CRCs and
// the stream's checksum are not computed here: the caller verifies the CRCs, which cover every
// byte of the stream. @p row holds one packed row.
ReadResult readRows(
    PngMemory::Source *source, const QSize &expected, QImage *image, unsigned char *row)
{
    PngMemory::ReadStruct reader;
    if (!reader.isValid())
        return ReadResult::Failed;
    ReadResult result = ReadResult::Failed;
    const bool ok = PngMemory::guarded(reader.png,
        [&] { result = readRowsGuarded(reader.png, reader.info, source, expected, image, row); });
    return ok ? result : ReadResult::Failed;
}

// Checks the CRC of every chunk of a PNG, on this thread and one more for large data.
class CrcCheck
{
public:
    // With @p helper, the chunks are checked on a thread of their own from the start on;
    // without it, by whoever calls checkThrough() and passed().
    CrcCheck(const unsigned char *data, size_t size, bool helper = true)
        : m_data(data)
    {
        // Chunks: length, type, data, CRC; after the eight bytes of the signature, up to the
        // end chunk.
        size_t at = 8;
        while (at + 12 <= size) {
            const size_t length = qFromBigEndian<quint32>(data + at);
            if (length > size - at - 12) {
                m_bad = true;
                break;
            }
            m_chunks.push_back({ data + at + 4, length + 4 });
            at += length + 12;
            m_ends.push_back(at);
            if (memcmp(data + at - length - 8, "IEND", 4) == 0)
                break;
        }
        m_checked = std::make_unique<std::atomic<bool>[]>(m_chunks.size());
        m_claimed = std::make_unique<std::atomic<bool>[]>(m_chunks.size());
        for (size_t i = 0; i < m_chunks.size(); ++i)
            m_checked[i] = m_claimed[i] = false;
        if (helper && !m_bad && size >= ParallelBytes)
            m_helper = std::thread([this] { run(); });
    }

    // Checks the chunks from @p *next on whose first byte lies at or before @p offset, and
    // moves @p *next past them: a decoder checks the bytes it is about to read, while they are
    // about to be in its cache, and nothing runs ahead of it mapping the file's pages.
    void checkThrough(size_t offset, size_t *next)
    {
        for (; *next < m_chunks.size() && chunkStart(*next) <= offset; ++*next)
            check(*next);
    }

    // The chunk holding byte @p offset, or the first after it.
    size_t chunkHolding(size_t offset) const
    {
        return size_t(std::upper_bound(m_ends.begin(), m_ends.end(), offset) - m_ends.begin());
    }

    // The bytes from the start whose chunks are all checked; called from one thread only.
    size_t checkedBytes()
    {
        while (m_firstUnchecked < m_chunks.size() && m_checked[m_firstUnchecked])
            ++m_firstUnchecked;
        return m_firstUnchecked == 0 ? 0 : m_ends[m_firstUnchecked - 1];
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
        for (size_t i = m_next++; i < m_chunks.size(); i = m_next++)
            check(i);
    }

    // Checks chunk @p i unless another thread has taken it.
    void check(size_t i)
    {
        if (m_claimed[i].exchange(true))
            return;
        const Chunk &chunk = m_chunks[i];
        const quint32 crc = libdeflate_crc32(0, chunk.typeAndData, chunk.length);
        if (crc != qFromBigEndian<quint32>(chunk.typeAndData + chunk.length))
            m_bad = true;
        m_checked[i] = true;
    }

    size_t chunkStart(size_t i) const { return size_t(m_chunks[i].typeAndData - 4 - m_data); }

    const unsigned char *m_data;
    std::vector<Chunk> m_chunks;
    std::vector<size_t> m_ends; // where each chunk ends
    std::unique_ptr<std::atomic<bool>[]> m_checked;
    std::unique_ptr<std::atomic<bool>[]> m_claimed;
    size_t m_firstUnchecked = 0;
    std::atomic<size_t> m_next { 0 };
    std::atomic<bool> m_bad { false };
    std::thread m_helper;
};

} // namespace

namespace {

// @p picture in a format whose rows are read as QRgb values: other formats are converted as a
// whole first; premultiplied rows are unpremultiplied a few at a time, as Qt's writer stores
// them.
QImage encodable(const QImage &picture)
{
    const QImage::Format format = picture.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied)
        return picture;
    return picture.convertToFormat(
        picture.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

} // namespace

bool encodePng(const QImage &picture, QByteArrayList *pieces)
{
    const QImage image = encodable(picture);
    if (image.isNull())
        return false;
    const bool alpha = !opaque(image);
    QByteArrayList made;
    if (qint64(image.width()) * image.height() < ParallelPixels) {
        if (!encode(image, alpha, compressible(image, alpha), nullptr, appendTo(&made)))
            return false;
        pieces->append(made);
        return true;
    }
    // Most large pictures are photographs, stored: they are encoded while another thread judges
    // them, and encoded again, compressed, when the judgement says so.
    std::atomic<bool> compress { false };
    std::thread judge([&] { compress = compressible(image, alpha); });
    const bool written = encode(image, alpha, false, &compress, appendTo(&made));
    judge.join();
    if (compress) {
        made.clear();
        if (!encode(image, alpha, true, nullptr, appendTo(&made)))
            return false;
    } else if (!written) {
        return false;
    }
    pieces->append(made);
    return true;
}

bool encodePng(const QImage &picture, const Pieces &write)
{
    const QImage image = encodable(picture);
    if (image.isNull())
        return false;
    // Judged first, so that the bytes are made once.
    const bool alpha = !opaque(image);
    return encode(image, alpha, compressible(image, alpha), nullptr, write);
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

namespace {

// Raw bytes of the zlib stream, from @p offset of the filtered rows on.
struct Segment
{
    size_t offset;
    const unsigned char *bytes;
    size_t length;
};

// The filtered rows of a PNG laid out as encodePng() stores them, found without decoding: the
// signature, IHDR for 8-bit RGB of @p expected size without interlacing, IDAT chunks holding one
// zlib stream of stored blocks that ends with them, IEND, nothing else. Their raw bytes in order
// of the rows, or nothing for any other layout.
std::vector<Segment> storedRows(const unsigned char *data, size_t size, const QSize &expected)
{
    static const unsigned char signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    const size_t rowBytes = 1 + 3 * size_t(expected.width());
    const size_t filtered = rowBytes * size_t(expected.height());
    // The chunk @p type at @p at, its data's length in @p length.
    auto chunkAt = [&](size_t at, const char *type, size_t *length) {
        if (at > size || size - at < 12)
            return false;
        *length = qFromBigEndian<quint32>(data + at);
        return *length <= size - at - 12 && memcmp(data + at + 4, type, 4) == 0;
    };
    size_t length = 0;
    if (size < 8 || memcmp(data, signature, 8) != 0 || !chunkAt(8, "IHDR", &length) || length != 13)
        return {};
    const unsigned char *header = data + 16;
    if (qFromBigEndian<quint32>(header) != quint32(expected.width())
        || qFromBigEndian<quint32>(header + 4) != quint32(expected.height()) || header[8] != 8
        || header[9] != PNG_COLOR_TYPE_RGB || header[10] != 0 || header[11] != 0 || header[12] != 0)
        return {};
    std::vector<std::pair<const unsigned char *, size_t>> chunks; // the IDAT chunks' data
    size_t at = 8 + 25;
    for (; chunkAt(at, "IDAT", &length); at += length + 12)
        chunks.push_back({ data + at + 8, length });
    if (!chunkAt(at, "IEND", &length) || length != 0 || at + 12 != size)
        return {};

    // The stream is read across the chunks: @p copy copies bytes of the framing, @p take notes
    // bytes of the rows.
    size_t chunk = 0, within = 0, rows = 0;
    std::vector<Segment> segments;
    auto walk = [&](size_t count, unsigned char *copy) {
        while (count > 0) {
            if (chunk == chunks.size())
                return false;
            const size_t part = qMin(count, chunks[chunk].second - within);
            const unsigned char *from = chunks[chunk].first + within;
            if (copy) {
                memcpy(copy, from, part);
                copy += part;
            } else if (part > 0) {
                segments.push_back({ rows, from, part });
                rows += part;
            }
            count -= part;
            within += part;
            if (within == chunks[chunk].second) {
                ++chunk;
                within = 0;
            }
        }
        return true;
    };
    unsigned char zlib[2];
    if (!walk(2, zlib) || zlib[0] != 0x78 || zlib[1] != 0x01)
        return {};
    for (bool last = false; !last;) {
        // A stored block: BFINAL, BTYPE 00 and zero bits up to the byte's end, then LEN, NLEN.
        unsigned char block[5];
        if (!walk(5, block) || (block[0] & ~1u) != 0)
            return {};
        last = block[0] & 1;
        const size_t count = size_t(block[1] | block[2] << 8);
        if ((count ^ 0xffff) != size_t(block[3] | block[4] << 8) || count > filtered - rows
            || !walk(count, nullptr))
            return {};
    }
    // The Adler-32 ends the stream, and the chunks with it; the CRCs cover every byte.
    unsigned char adler[4];
    if (rows != filtered || !walk(4, adler))
        return {};
    while (chunk < chunks.size() && chunks[chunk].second == 0)
        ++chunk;
    return chunk == chunks.size() ? segments : std::vector<Segment>();
}

// Expands the rows @p segments hold into @p image (RGB32 of @p expected size), half of them on
// another thread, checking the CRCs of the chunks each reaches and telling @p done which bytes
// each has passed. False when a row's filter is not none.
bool expandStoredRows(const std::vector<Segment> &segments, const QSize &expected,
    const unsigned char *data, CrcCheck *crcs, const Released &done, QImage *image)
{
    const size_t width = size_t(expected.width());
    const size_t rowBytes = 1 + 3 * width;
    std::atomic<bool> failed { false };
    std::mutex told;
    auto expand = [&](int first, int end) {
        std::vector<unsigned char> gathered(rowBytes);
        const size_t begin = size_t(first) * rowBytes;
        // The segment holding the first row's first byte.
        auto segment = std::upper_bound(segments.begin(), segments.end(), begin,
                           [](size_t offset, const Segment &s) { return offset < s.offset; })
            - 1;
        const unsigned char *passedFrom = segment->bytes + (begin - segment->offset);
        size_t nextChunk = crcs->chunkHolding(size_t(passedFrom - data));
        for (int y = first; y < end && !failed; ++y) {
            const size_t start = size_t(y) * rowBytes;
            while (segment->offset + segment->length <= start)
                ++segment;
            const unsigned char *row = segment->bytes + (start - segment->offset);
            const unsigned char *last = row + rowBytes - 1;
            if (segment->offset + segment->length < start + rowBytes) {
                // The row crosses blocks or chunks: gathered first.
                size_t copied = 0;
                for (auto piece = segment; copied < rowBytes; ++piece) {
                    const size_t from = start + copied - piece->offset;
                    const size_t part = qMin(rowBytes - copied, piece->length - from);
                    memcpy(gathered.data() + copied, piece->bytes + from, part);
                    copied += part;
                    last = piece->bytes + from + part - 1;
                }
                row = gathered.data();
            }
            crcs->checkThrough(size_t(last - data), &nextChunk);
            if (row[0] != PNG_FILTER_VALUE_NONE) {
                failed = true;
                break;
            }
            qt_convert_rgb888_to_rgb32(
                reinterpret_cast<quint32 *>(image->scanLine(y)), row + 1, int(width));
            if (done && ((y + 1 - first) % 64 == 0 || y + 1 == end)) {
                const unsigned char *passed = segment->bytes + (start - segment->offset);
                const std::lock_guard<std::mutex> lock(told);
                done(qint64(passedFrom - data), qint64(passed - data));
            }
        }
    };
    const int height = expected.height();
    const int half = height / 2;
    std::thread helper;
    if (qint64(width) * height >= ParallelPixels)
        helper = std::thread(expand, half, height);
    expand(0, helper.joinable() ? half : height);
    if (helper.joinable())
        helper.join();
    return !failed;
}

} // namespace

QImage decodePng(const char *data, qint64 size, const QSize &expected, const Released &done)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const std::vector<Segment> segments = storedRows(bytes, size_t(size), expected);
    // Stored rows are checked by the threads that expand them.
    CrcCheck crcs(bytes, size_t(size), segments.empty());
    QImage image;
    if (!segments.empty()) {
        image = PictureMemory::zeroed(expected, QImage::Format_RGB32);
        if (image.isNull())
            return QImage();
        if (expandStoredRows(segments, expected, bytes, &crcs, done, &image))
            return crcs.passed() ? image : QImage();
    }
    PngMemory::Source source { bytes, size_t(size), 0 };
    // Bytes are done once the decoder has read them and their chunks' CRCs are checked.
    const std::function<void(size_t)> progress
        = [&](size_t read) { done(0, qint64(qMin(read, crcs.checkedBytes()))); };
    if (done)
        source.progress = &progress;
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

bool allOpaque(const QImage &image, const QRect &area)
{
    const int width = area.width();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y)) + area.left();
        QRgb all = 0xff000000;
        for (int x = 0; x < width; ++x)
            all &= line[x];
        if (qAlpha(all) != 255)
            return false;
    }
    return true;
}

} // namespace Png
} // namespace VokImage
