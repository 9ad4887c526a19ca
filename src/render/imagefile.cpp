// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imagefile_p.h"

#include "render_p.h"
#include "utils/sharedfiles_p.h"

#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QPixmap>
#include <QXmlStreamReader>

#include <zlib.h>

namespace VokImage {

// A reader with the buffer it reads from; the reader goes first.
struct ImageFile::Decoder
{
    Decoder(const QByteArray &bytes, const QByteArray &format)
    {
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(format);
        // Pictures are shown the way their orientation tag says.
        reader.setAutoTransform(true);
    }

    // True when the picture is shown turned a quarter: its stored width is its height.
    bool turned() { return reader.transformation() & QImageIOHandler::TransformationRotate90; }

    QBuffer buffer;
    QImageReader reader;
};

namespace {

bool isGzip(const QByteArray &data)
{
    return data.size() >= 2 && uchar(data[0]) == 0x1f && uchar(data[1]) == 0x8b;
}

} // namespace

bool inflateGzip(const QByteArray &data, qint64 limit, QByteArray *out)
{
    z_stream stream {};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray result;
    char chunk[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        const qint64 produced = qint64(sizeof chunk) - stream.avail_out;
        if (result.size() + produced > limit) {
            status = Z_MEM_ERROR;
            break;
        }
        result.append(chunk, int(produced));
        if (status == Z_OK && produced == 0 && stream.avail_in == 0)
            status = Z_DATA_ERROR; // cut short
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return false;
    *out = result;
    return true;
}

bool svgSelfContained(const QByteArray &data)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // Entities could expand without bound or name outside files.
            if (!xml.entityDeclarations().isEmpty())
                return false;
            break;
        case QXmlStreamReader::StartElement: {
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                if (attribute.name() != QLatin1String("href"))
                    continue;
                const QStringRef value = attribute.value().trimmed();
                if (!value.startsWith(QLatin1Char('#'))
                    && !value.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
                    return false;
            }
            if (xml.name() == QLatin1String("style")) {
                const QString style = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (style.contains(QLatin1String("@import"), Qt::CaseInsensitive))
                    return false;
            }
            break;
        }
        default:
            break;
        }
    }
    return true;
}

ImageFile::ImageFile(const QString &path)
    : m_path(path)
{
    QString why;
    if (!SharedFiles::readFile(path, SharedFiles::MaxImageFileSize, &m_bytes, &why)) {
        qWarning() << "Error image file refused:" << path << why;
        return;
    }
    m_formatHint = QFileInfo(path).suffix().toLower().toLatin1();
    if (isGzip(m_bytes)) {
        QByteArray inflated;
        if (!inflateGzip(m_bytes, SharedFiles::MaxSvgSize, &inflated)) {
            qWarning() << "Error compressed image is damaged or inflates beyond"
                       << SharedFiles::MaxSvgSize << "bytes:" << path;
            m_bytes.clear();
            return;
        }
        m_bytes = inflated;
        m_formatHint = "svg";
    }
    // As for a file read by name: the suffix picks the decoder when that decoder accepts the
    // content; otherwise the content decides.
    if (!m_formatHint.isEmpty() && !Decoder(m_bytes, m_formatHint).reader.canRead())
        m_formatHint.clear();
    QBuffer content;
    content.setData(m_bytes);
    content.open(QIODevice::ReadOnly);
    m_format = QImageReader::imageFormat(&content);
    if (m_format.isEmpty() && Decoder(m_bytes, m_formatHint).reader.canRead())
        m_format = m_formatHint == "jpg" ? QByteArray("jpeg") : m_formatHint;
    const QByteArray found = m_format;
    if (found == "svg" || found == "svgz") {
        if (m_bytes.size() > SharedFiles::MaxSvgSize) {
            qWarning() << "Error image is too large:" << path << m_bytes.size() << "bytes";
            m_bytes.clear();
            return;
        }
        if (SharedFiles::inSharedLocation(path) && !svgSelfContained(m_bytes)) {
            qWarning() << "Error SVG in a shared folder refers outside itself:" << path;
            m_bytes.clear();
            return;
        }
    }
    m_valid = true;
}

ImageFile::~ImageFile() = default;

std::unique_ptr<ImageFile::Decoder> ImageFile::decoder() const
{
    return std::make_unique<Decoder>(m_bytes, m_formatHint);
}

void ImageFile::readHeader() const
{
    if (m_headerRead || !m_valid)
        return;
    m_headerRead = true;
    const std::unique_ptr<Decoder> header = decoder();
    const QSize stored = header->reader.size();
    m_size = header->turned() ? stored.transposed() : stored;
    m_upright = header->reader.transformation() == QImageIOHandler::TransformationNone;
}

QSize ImageFile::size() const
{
    readHeader();
    return m_size;
}

QByteArray ImageFile::format() const
{
    return m_valid ? m_format : QByteArray();
}

bool ImageFile::withinLimits() const
{
    const QSize announced = size();
    if (!announced.isValid())
        return true; // unknown size: the decoder fails on its own
    const qint64 pixels = qint64(announced.width()) * announced.height();
    if (announced.width() > MaxImageDimension || announced.height() > MaxImageDimension
        || pixels > MaxImagePixels
        || (pixels > MaxProgressiveJpegPixels && format() == "jpeg"
            && isProgressiveJpeg(m_bytes))) {
        qWarning() << "Error image is too large:" << m_path << announced;
        return false;
    }
    return true;
}

QImage ImageFile::read(const QSize &scaledSize) const
{
    if (!m_valid)
        return QImage();
    const std::unique_ptr<Decoder> part = decoder();
    // The decoder scales before it turns the picture upright.
    if (scaledSize.isValid())
        part->reader.setScaledSize(part->turned() ? scaledSize.transposed() : scaledSize);
    return part->reader.read();
}

bool ImageFile::upright() const
{
    readHeader();
    return m_upright;
}

bool ImageFile::isLarge() const
{
    const QSize announced = size();
    return announced.isValid()
        && qint64(announced.width()) * announced.height() > LargeSourcePixels;
}

QImage ImageFile::readRegion(const QRect &clip) const
{
    if (!m_valid || clip.isEmpty())
        return QImage();
    // Parts are cut from the stored picture: one with an orientation is decoded whole.
    if (isLarge() && upright()) {
        const QByteArray found = format();
        if (found == "png") {
            const QImage part = decodePngRegion(m_bytes, clip, 1);
            if (!part.isNull())
                return part;
        } else if (found == "jpeg") {
            const std::unique_ptr<Decoder> region = decoder();
            region->reader.setClipRect(clip);
            const QImage part = region->reader.read();
            if (part.size() == clip.size())
                return part;
        }
    }
    return read().copy(clip);
}

QImage ImageFile::readCovering(const QSize &size) const
{
    const QSize source = this->size();
    const QByteArray found = format();
    if (source.isValid() && !size.isEmpty()) {
        const QSize target = source.scaled(size, Qt::KeepAspectRatioByExpanding);
        if (found == "jpeg" && target.width() < source.width()
            && target.height() < source.height()) {
            const QImage image = read(target);
            if (image.size() == target)
                return image;
        }
        const int shrink = qMin(
            source.width() / qMax(1, target.width()), source.height() / qMax(1, target.height()));
        if (found == "png" && isLarge() && shrink >= 2 && upright()) {
            const QImage reduced = decodePngRegion(m_bytes, QRect(QPoint(0, 0), source), shrink);
            if (!reduced.isNull())
                return reduced.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    return QPixmap::fromImage(read())
        .scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
        .toImage();
}

bool isProgressiveJpeg(const QByteArray &data)
{
    // Markers from the start of the image to the first frame header.
    int at = 2;
    while (at + 4 <= data.size()) {
        if (uchar(data[at]) != 0xff)
            return false;
        const uchar marker = uchar(data[at + 1]);
        if (marker == 0xff) {
            ++at;
            continue;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            return marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
        at += 2 + (int(uchar(data[at + 2])) << 8 | uchar(data[at + 3]));
    }
    return false;
}

} // namespace VokImage
