#pragma once

#include <QMap>
#include <QSize>
#include <QString>
#include <QVariant>

namespace VokImage {

/// Largest width or height of a wallpaper or logo file that is decoded.
constexpr int MaxImageDimension = 16384;
/// Largest number of pixels of a wallpaper or logo file that is decoded.
constexpr qint64 MaxImagePixels = qint64(16384) * 16384 / 2;

/// False, with a warning, for a file that announces a picture beyond the limits above.
bool imageSizeAcceptable(const QString &path);

/// The size of the surface a render of @p properties paints: the union of its screen sizes.
QSize surfaceSize(const QMap<QString, QVariant> &properties);

} // namespace VokImage
