#include "render_p.h"

#include <QDebug>
#include <QImageReader>

namespace VokImage {

bool imageSizeAcceptable(const QString &path)
{
    const QSize size = QImageReader(path).size();
    if (!size.isValid())
        return true; // unknown size: the decoder fails on its own
    if (size.width() > MaxImageDimension || size.height() > MaxImageDimension
        || qint64(size.width()) * size.height() > MaxImagePixels) {
        qWarning() << "Error image is too large:" << path << size;
        return false;
    }
    return true;
}

} // namespace VokImage
