// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The limits of what is decoded and rendered, and the name of a logo's "@2x" file: shared by
// the library and the tool.

#include <QSize>
#include <QString>
#include <QtGlobal>

namespace VokImage {

/// Largest width or height of a wallpaper or logo file that is decoded.
constexpr int MaxImageDimension = 16384;
/// Largest number of pixels of a wallpaper or logo file that is decoded.
constexpr qint64 MaxImagePixels = qint64(16384) * 16384 / 2;
/// Device pixel ratios beyond this are taken for mistakes.
constexpr qreal MaxDevicePixelRatio = 8;

/// True when a picture of @p width x @p height pixels is within the limits of what is made:
/// every surface, intermediate and decoded picture.
constexpr bool withinRenderLimits(qint64 width, qint64 height)
{
    return width <= MaxImageDimension && height <= MaxImageDimension
        && width * height <= MaxImagePixels;
}

inline bool withinRenderLimits(const QSize &size)
{
    return withinRenderLimits(size.width(), size.height());
}

/// @p path with "@2x" before its suffix (Qt's name for a logo at twice the size); null for
/// vector files and names without a suffix.
inline QString highResolutionPath(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return QString();
    const QString suffix = path.mid(dot + 1).toLower();
    if (suffix == QLatin1String("svg") || suffix == QLatin1String("svgz"))
        return QString();
    return path.left(dot) + QLatin1String("@2x") + path.mid(dot);
}

} // namespace VokImage
