// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

#include "jpeg/jpeg_p.h"

namespace VokImage {

/**
 * A wallpaper or logo file, read once into memory and decoded from those bytes: nothing is
 * opened by path again after the checks. A PNG's text chunks are dropped before decoding. A file
 * that is not a regular file, is larger than the byte cap, lies in a folder others can write to
 * without being trusted, is gzip data that inflates beyond the SVG cap, or is an SVG from such a
 * folder that reaches outside itself, is refused with a warning.
 */
class ImageFile
{
public:
    explicit ImageFile(const QString &path);
    ~ImageFile();
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    /// True when the file was read and accepted.
    bool isValid() const { return m_valid; }
    /// Why the file was refused (the reason of the warning); empty when it was accepted.
    QString problem() const { return m_problem; }
    /// The size the picture is shown at (its orientation tag applied); invalid when unknown.
    QSize size() const;
    /// True when the picture is stored the way it is shown (no orientation tag, or "normal").
    bool upright() const;
    /// The format found in the file ("jpeg", "png", "svg"...).
    QByteArray format() const;
    /**
     * False, with the warning "Error image is too large:", for a file that announces a picture
     * beyond the dimension and pixel limits, a progressive JPEG beyond its own limit, or an
     * interlaced PNG above LargeSourcePixels (it cannot be decoded by parts), or a picture of a
     * format an image plugin decodes whole (HEIF, AVIF, WebP, ...) above LargeSourcePixels.
     */
    bool withinLimits() const;
    /*
     * Every picture below is in sRGB: one tagged with another colour profile (a JPEG's or a
     * PNG's embedded ICC profile, or the colour space an image plugin reads) is converted.
     */
    /// The picture turned upright, at @p scaledSize when that is valid (both in the shown
    /// orientation); null when it cannot be decoded.
    QImage read(const QSize &scaledSize = QSize()) const;
    /**
     * The part @p clip of the picture, the same pixels as read().copy(clip). A large PNG or
     * JPEG is decoded a few rows at a time, keeping only that part.
     */
    QImage readRegion(const QRect &clip) const;
    /**
     * The picture scaled smoothly to cover @p size, keeping its aspect ratio. A large PNG or
     * JPEG is decoded at a reduced size first (libjpeg's M/8 scaling; PNG rows averaged in
     * blocks), which takes a fraction of the time and memory and differs from the full decode
     * by a few levels per channel at most.
     */
    QImage readCovering(const QSize &size) const;
    /// The size of readCovering(@p size), an invalid size when the picture's is not known.
    QSize coveringSize(const QSize &size) const;
    /**
     * The rows [@p first, @p first + @p count) of readCovering(@p size), when they are decoded
     * alone (a large upright JPEG scaled down after libjpeg's M/8 scale): only the source rows
     * they use are decoded. A null image otherwise.
     */
    QImage readCoveringRows(const QSize &size, int first, int count) const;
    /// True when the picture is larger than what is decoded whole (LargeSourcePixels).
    bool isLarge() const;

private:
    // The pictures of the functions of the same names, in the colours stored.
    QImage decode(const QSize &scaledSize = QSize()) const;
    QImage decodeRegion(const QRect &clip) const;
    QImage decodeCovering(const QSize &size) const;
    QImage decodeCoveringRows(const QSize &size, int first, int count) const;
    // @p image converted to sRGB from the picture's colour space.
    QImage inSrgb(QImage image) const;

    struct Decoder;
    std::unique_ptr<Decoder> decoder() const;
    // Reads the size and orientation from the header once.
    void readHeader() const;

    QString m_path;
    QString m_problem;
    QByteArray m_bytes;
    QByteArray m_formatHint;
    QByteArray m_format;
    bool m_valid = false;
    mutable bool m_headerRead = false;
    mutable QSize m_size;
    mutable bool m_upright = true;
    mutable bool m_spaceRead = false;
    mutable QColorSpace m_space;
};

/// Sources with more pixels than this are decoded by parts or at a reduced size.
constexpr qint64 LargeSourcePixels = qint64(16) << 20;
/// Largest progressive JPEG decoded: libjpeg keeps all its coefficients while decoding.
constexpr qint64 MaxProgressiveJpegPixels = qint64(32) << 20;

/// The gzip stream @p data inflated, or false when it is damaged or inflates beyond @p limit.
bool inflateGzip(const QByteArray &data, qint64 limit, QByteArray *out);

/// True when the SVG document @p data refers to nothing outside itself (only "#" and "data:").
bool svgSelfContained(const QByteArray &data);

} // namespace VokImage
