// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imagefile_p.h"

#include "bytes_p.h"
#include "colourprofile_p.h"
#include "internal/logging_p.h"

#include <vokimage/render.h>

#include "internal/sharedfiles_p.h"
#include "png/png_p.h"
#include "render_p.h"

#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QPixmap>
#include <QSet>
#include <QXmlStreamReader>

#include <QThread>

#include <zlib.h>

namespace VokImage {

namespace {

// The orientation tag of the EXIF data @p exif (a TIFF structure, "Exif\0\0" before it or not)
// as Qt's transformations; none when it has none or is damaged.
QImageIOHandler::Transformations exifOrientation(QByteArray exif)
{
    if (exif.startsWith(QByteArray("Exif\0\0", 6)))
        exif = exif.mid(6);
    if (exif.size() < 8 || !(exif.startsWith("II*") || exif.startsWith(QByteArray("MM\0*", 4))))
        return QImageIOHandler::TransformationNone;
    const bool big = exif[0] == 'M';
    const quint32 directory = numberAt(exif, 4, 4, big);
    if (directory > quint32(exif.size() - 2))
        return QImageIOHandler::TransformationNone;
    const int entries = int(numberAt(exif, int(directory), 2, big));
    for (int i = 0; i < entries; ++i) {
        const qint64 at = qint64(directory) + 2 + qint64(i) * 12;
        if (at + 12 > exif.size())
            break;
        if (numberAt(exif, int(at), 2, big) != 0x0112)
            continue;
        // EXIF's eight orientations, in Qt's words.
        static const QImageIOHandler::Transformations byTag[] = {
            QImageIOHandler::TransformationNone,
            QImageIOHandler::TransformationNone,
            QImageIOHandler::TransformationMirror,
            QImageIOHandler::TransformationRotate180,
            QImageIOHandler::TransformationFlip,
            QImageIOHandler::TransformationFlipAndRotate90,
            QImageIOHandler::TransformationRotate90,
            QImageIOHandler::TransformationMirrorAndRotate90,
            QImageIOHandler::TransformationRotate270,
        };
        const quint32 tag = numberAt(exif, int(at) + 8, 2, big);
        return tag < 9 ? byTag[tag] : QImageIOHandler::TransformationNone;
    }
    return QImageIOHandler::TransformationNone;
}

// The orientation of a WebP's EXIF chunk; none for other pictures.
QImageIOHandler::Transformations webpOrientation(const QByteArray &bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP")
        return QImageIOHandler::TransformationNone;
    qint64 at = 12;
    while (at + 8 <= bytes.size()) {
        const qint64 size = numberAt(bytes, int(at) + 4, 4, false);
        if (bytes.mid(int(at), 4) == "EXIF")
            return exifOrientation(bytes.mid(int(at) + 8, int(qMin(size, bytes.size() - at - 8))));
        at += 8 + size + (size & 1);
    }
    return QImageIOHandler::TransformationNone;
}

// @p image turned as @p transformation says, as Qt's readers turn a picture.
QImage turnedUpright(const QImage &image, QImageIOHandler::Transformations transformation)
{
    if (transformation == QImageIOHandler::TransformationNone || image.isNull())
        return image;
    if (transformation == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    const QImage mirrored = image.mirrored(transformation & QImageIOHandler::TransformationMirror,
        transformation & QImageIOHandler::TransformationFlip);
    return transformation & QImageIOHandler::TransformationRotate90
        ? mirrored.transformed(QTransform().rotate(90))
        : mirrored;
}

} // namespace

// A reader with the buffer it reads from; the reader goes first.
struct ImageFile::Decoder
{
    Decoder(const QByteArray &bytes, const QByteArray &format)
        : exif(webpOrientation(bytes))
    {
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(format);
        // The named decoder alone: a reader left to guess loads every image plugin.
        reader.setAutoDetectImageFormat(format.isEmpty());
        // Pictures are shown the way their orientation tag says.
        reader.setAutoTransform(true);
    }

    // How the picture is turned to be shown: as the reader says, or a WebP's EXIF tag, which
    // Qt's reader leaves alone.
    QImageIOHandler::Transformations transformation()
    {
        return exif != QImageIOHandler::TransformationNone ? exif : reader.transformation();
    }

    // True when the picture is shown turned a quarter: its stored width is its height.
    bool turned() { return transformation() & QImageIOHandler::TransformationRotate90; }

    // The picture read, turned upright.
    QImage read() { return turnedUpright(reader.read(), exif); }

    const QImageIOHandler::Transformations exif;
    QBuffer buffer;
    QImageReader reader;
};

namespace {

// The format of JPEG, PNG and GIF @p data by its first bytes; empty for others.
QByteArray signedFormat(const QByteArray &data)
{
    if (data.startsWith("\xff\xd8\xff"))
        return QByteArrayLiteral("jpeg");
    if (data.startsWith(PngSignature))
        return QByteArrayLiteral("png");
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    return QByteArray();
}

bool isGzip(const QByteArray &data)
{
    return data.size() >= 2 && uchar(data[0]) == 0x1f && uchar(data[1]) == 0x8b;
}

// True when the PNG @p data announces Adam7 interlacing in its header.
bool isInterlacedPng(const QByteArray &data)
{
    return data.size() > 28 && data.startsWith(PngSignature) && data.mid(12, 4) == "IHDR"
        && data[28] != 0;
}

// The PNG @p data without its text chunks (tEXt, zTXt, iTXt): the pixels do not need them, and
// compressed ones would be inflated by the decoder. Unchanged when it has none or is no PNG.
QByteArray withoutTextChunks(const QByteArray &data)
{
    if (!data.startsWith(PngSignature))
        return data;
    QByteArray kept;
    int copied = 0; // bytes of data up to which kept holds everything wanted
    int at = 8;
    while (at + 12 <= data.size()) {
        const quint32 length = numberAt(data, at, 4);
        if (length > quint32(data.size() - at - 12))
            break; // damaged: the decoder reports it
        const QByteArray type = data.mid(at + 4, 4);
        const int next = at + 12 + int(length);
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            kept.append(data.constData() + copied, at - copied);
            copied = next;
        }
        at = next;
    }
    if (copied == 0)
        return data;
    kept.append(data.constData() + copied, data.size() - copied);
    return kept;
}

// True for a format whose decoder comes from an image plugin and decodes the whole picture,
// at a cost per pixel far above Qt's own readers' (HEIF, AVIF, JPEG XL, WebP, TIFF, ...).
bool decodedWholeByPlugin(const QByteArray &format)
{
    static const QSet<QByteArray> quick { "jpeg", "png", "svg", "svgz", "gif", "bmp", "pbm", "pgm",
        "ppm", "xbm", "xpm", "ico", "cur" };
    return !format.isEmpty() && !quick.contains(format);
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

namespace {

// True for a url() target that stays inside the document.
bool urlsStayInside(QStringView text)
{
    for (int at = text.indexOf(QLatin1String("url("), 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(QLatin1String("url("), at + 4, Qt::CaseInsensitive)) {
        QStringView target = text.mid(at + 4).trimmed();
        if (target.startsWith(QLatin1Char('"')) || target.startsWith(QLatin1Char('\'')))
            target = target.mid(1);
        if (!target.startsWith(QLatin1Char('#')))
            return false;
    }
    return !text.contains(QLatin1String("@import"), Qt::CaseInsensitive);
}

bool isHref(QStringView name)
{
    return name == QLatin1String("href") || name.endsWith(QLatin1String(":href"));
}

// The name without its prefix: what a reader that ignores namespaces matches.
QStringView localPart(QStringView name)
{
    return name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
}

} // namespace

bool svgSelfContained(const QByteArray &data)
{
    // Read as Qt's SVG renderer reads: prefixes are part of the names, declared or not.
    QXmlStreamReader xml(data);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // Entities could expand without bound or name outside files.
            if (!xml.entityDeclarations().isEmpty() || !xml.dtdSystemId().isEmpty()
                || !xml.dtdPublicId().isEmpty())
                return false;
            break;
        case QXmlStreamReader::EntityReference:
            return false;
        case QXmlStreamReader::StartElement: {
            const QStringView element = xml.qualifiedName();
            if (localPart(element) == QLatin1String("include"))
                return false; // XInclude
            const bool image = localPart(element) == QLatin1String("image");
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                const QStringView name = attribute.qualifiedName();
                const QStringView value = attribute.value();
                if (name == QLatin1String("xml:base"))
                    return false;
                // Qt inlines lower-case "data:" only; anything else in an image is a file name
                // (a "#" too), and elsewhere only a fragment stays inside.
                if (isHref(name) && !value.startsWith(QLatin1String("data:"))
                    && (image || !value.startsWith(QLatin1Char('#'))))
                    return false;
                if (!urlsStayInside(value))
                    return false;
            }
            if (localPart(element) == QLatin1String("style")
                && !urlsStayInside(xml.readElementText(QXmlStreamReader::IncludeChildElements)))
                return false;
            break;
        }
        default:
            break;
        }
    }
    // A document that cannot be read to its end is not judged: Qt would read a part of it.
    return !xml.hasError();
}

ImageFile::ImageFile(const QString &path)
    : m_path(path)
{
    QString why;
    if (!SharedFiles::readFile(path, SharedFiles::MaxImageFileSize, &m_bytes, &why)) {
        vokWarning(render) << "Error image file refused:" << path << why;
        m_problem = why;
        return;
    }
    m_formatHint = QFileInfo(path).suffix().toLower().toLatin1();
    if (isGzip(m_bytes)) {
        QByteArray inflated;
        if (!inflateGzip(m_bytes, SharedFiles::MaxSvgSize, &inflated)) {
            vokWarning(render) << "Error compressed image is damaged or inflates beyond"
                               << SharedFiles::MaxSvgSize << "bytes:" << path;
            m_problem = QStringLiteral("compressed, and damaged or inflating beyond %1 bytes")
                            .arg(SharedFiles::MaxSvgSize);
            m_bytes.clear();
            return;
        }
        m_bytes = inflated;
        m_formatHint = "svg";
    }
    m_bytes = withoutTextChunks(m_bytes);
    // As for a file read by name: the suffix picks the decoder when that decoder accepts the
    // content; otherwise the content decides. JPEG, PNG and GIF go by their signature. A reader
    // left to guess loads every image plugin in turn, so only a named one is asked where it can.
    m_format = signedFormat(m_bytes);
    if (!m_format.isEmpty()) {
        m_formatHint = m_format;
    } else if (!m_formatHint.isEmpty() && Decoder(m_bytes, m_formatHint).reader.canRead()) {
        m_format = m_formatHint == "jpg" ? QByteArray("jpeg") : m_formatHint;
    } else {
        m_formatHint.clear();
        QBuffer content;
        content.setData(m_bytes);
        content.open(QIODevice::ReadOnly);
        m_format = QImageReader::imageFormat(&content);
    }
    if (m_format == "svg" || m_format == "svgz") {
        if (m_bytes.size() > SharedFiles::MaxSvgSize) {
            vokWarning(render) << "Error image is too large:" << path << m_bytes.size() << "bytes";
            m_problem = QStringLiteral("an SVG document of more than %1 bytes")
                            .arg(SharedFiles::MaxSvgSize);
            m_bytes.clear();
            return;
        }
        if (SharedFiles::inSharedLocation(path) && !svgSelfContained(m_bytes)) {
            vokWarning(render) << "Error SVG in a shared folder refers outside itself:" << path;
            m_problem = QStringLiteral("an SVG in a folder others can write to that refers "
                                       "outside itself");
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
    m_upright = header->transformation() == QImageIOHandler::TransformationNone;
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
        || (pixels > MaxProgressiveJpegPixels && format() == "jpeg" && isProgressiveJpeg(m_bytes))
        || (pixels > LargeSourcePixels && format() == "png" && isInterlacedPng(m_bytes))
        || (pixels > LargeSourcePixels && decodedWholeByPlugin(format()))) {
        vokWarning(render) << "Error image is too large:" << m_path << announced;
        return false;
    }
    return true;
}

QImage ImageFile::decode(const QSize &scaledSize) const
{
    if (!m_valid)
        return QImage();
    const std::unique_ptr<Decoder> part = decoder();
    // The decoder scales before it turns the picture upright.
    if (scaledSize.isValid())
        part->reader.setScaledSize(part->turned() ? scaledSize.transposed() : scaledSize);
    return part->read();
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

QImage ImageFile::decodeRegion(const QRect &clip) const
{
    if (!m_valid || clip.isEmpty())
        return QImage();
    // Parts are cut from the stored picture: one with an orientation is decoded whole.
    if (isLarge() && upright()) {
        const QByteArray pictureFormat = format();
        if (pictureFormat == "png") {
            const QImage part = Png::decodePngRegion(m_bytes, clip, 1);
            if (!part.isNull())
                return part;
        } else if (pictureFormat == "jpeg") {
            const std::unique_ptr<Decoder> region = decoder();
            region->reader.setClipRect(clip);
            const QImage part = region->read();
            if (part.size() == clip.size())
                return part;
        }
    }
    return decode().copy(clip);
}

QSize ImageFile::coveringSize(const QSize &size) const
{
    const QSize source = this->size();
    if (!source.isValid() || size.isEmpty())
        return QSize();
    return source.scaled(size, Qt::KeepAspectRatioByExpanding);
}

// True when a JPEG covering @p size is decoded by parts.
static bool decodedByParts(const QSize &source, const QSize &target)
{
    return target.width() < source.width() && target.height() < source.height()
        && qint64(target.width()) * target.height() >= JpegPartsPixels;
}

static int jpegParts()
{
    return qMin(QThread::idealThreadCount(), 8);
}

QImage ImageFile::decodeCoveringRows(const QSize &size, int first, int count) const
{
    const QSize target = coveringSize(size);
    if (!target.isValid() || format() != "jpeg" || !upright()
        || !decodedByParts(this->size(), target))
        return QImage();
    return decodeJpegRowsInParts(m_bytes, target, first, count, jpegParts());
}

QImage ImageFile::decodeCovering(const QSize &size) const
{
    const QSize source = this->size();
    const QByteArray pictureFormat = format();
    if (source.isValid() && !size.isEmpty()) {
        const QSize target = source.scaled(size, Qt::KeepAspectRatioByExpanding);
        if (pictureFormat == "jpeg" && target.width() < source.width()
            && target.height() < source.height()) {
            // A large upright picture is decoded by parts on several threads.
            QImage image;
            if (upright() && decodedByParts(source, target))
                image = decodeJpegInParts(m_bytes, target, jpegParts());
            if (image.isNull())
                image = decode(target);
            if (image.size() == target)
                return image;
        }
        const int shrink = qMin(
            source.width() / qMax(1, target.width()), source.height() / qMax(1, target.height()));
        if (pictureFormat == "png" && isLarge() && shrink >= 2 && upright()) {
            const QImage reduced
                = Png::decodePngRegion(m_bytes, QRect(QPoint(0, 0), source), shrink);
            if (!reduced.isNull())
                return reduced.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        if (pictureFormat == "jpeg" && upright()) {
            // A picture scaled up on both axes is decoded and scaled row by row.
            const int parts = qBound(1, source.height() / 64, jpegParts());
            const QImage image = decodeJpegScaledUp(m_bytes, target, parts);
            if (image.size() == target)
                return image;
        }
    }
    return QPixmap::fromImage(decode())
        .scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
        .toImage();
}

QImage ImageFile::inSrgb(QImage image) const
{
    if (image.isNull())
        return image;
    // JPEG and PNG: the embedded profile alone (a gamma chunk is not one); other formats: the
    // space their reader found.
    if (!m_spaceRead && (m_format == "jpeg" || m_format == "png")) {
        m_space = embeddedColourSpace(m_bytes);
        m_spaceRead = true;
    }
    const QColorSpace space = m_spaceRead ? m_space : image.colorSpace();
    return VokImage::inSrgb(std::move(image), space);
}

QImage ImageFile::read(const QSize &scaledSize) const
{
    return inSrgb(decode(scaledSize));
}

QImage ImageFile::readRegion(const QRect &clip) const
{
    return inSrgb(decodeRegion(clip));
}

QImage ImageFile::readCovering(const QSize &size) const
{
    return inSrgb(decodeCovering(size));
}

QImage ImageFile::readCoveringRows(const QSize &size, int first, int count) const
{
    return inSrgb(decodeCoveringRows(size, first, count));
}

PictureInfo inspectPicture(const QString &path)
{
    PictureInfo info;
    const ImageFile file(path);
    if (!file.isValid()) {
        info.problem = file.problem();
        return info;
    }
    info.format = file.format();
    info.size = file.size();
    if (info.format.isEmpty() || !info.size.isValid())
        info.problem = QStringLiteral("not a picture that can be decoded");
    else if (!file.withinLimits())
        info.problem = QStringLiteral("too large to decode (%1x%2)")
                           .arg(info.size.width())
                           .arg(info.size.height());
    else
        info.usable = true;
    return info;
}

} // namespace VokImage
