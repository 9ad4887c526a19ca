#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

class QImageReader;

namespace VokImage {

/**
 * A wallpaper or logo file, read once into memory and decoded from those bytes: nothing is
 * opened by path again after the checks. A file that is not a regular file, is larger than the
 * byte cap, lies in a folder others can write to without being trusted, is gzip data that
 * inflates beyond the SVG cap, or is an SVG from such a folder that reaches outside itself,
 * is refused with a warning.
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
    /// The size the file announces; invalid when it announces none.
    QSize size() const;
    /// The format found in the file ("jpeg", "png", "svg"...).
    QByteArray format() const;
    /**
     * False, with the warning "Error image is too large:", for a file that announces a picture
     * beyond the dimension and pixel limits.
     */
    bool withinLimits() const;
    /// The picture, at @p scaledSize when that is valid; null when it cannot be decoded.
    QImage read(const QSize &scaledSize = QSize()) const;

private:
    std::unique_ptr<QImageReader> reader() const;

    QString m_path;
    QByteArray m_bytes;
    QByteArray m_formatHint;
    bool m_valid = false;
};

/// The gzip stream @p data inflated, or false when it is damaged or inflates beyond @p limit.
bool inflateGzip(const QByteArray &data, qint64 limit, QByteArray *out);

/// True when the SVG document @p data refers to nothing outside itself (only "#" and "data:").
bool svgSelfContained(const QByteArray &data);

} // namespace VokImage
