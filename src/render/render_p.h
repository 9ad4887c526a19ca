// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QImage>
#include <QMap>
#include <QSize>
#include <QString>
#include <QVariant>

namespace VokImage {

/// Largest width or height of a wallpaper or logo file that is decoded.
constexpr int MaxImageDimension = 16384;
/// Largest number of pixels of a wallpaper or logo file that is decoded.
constexpr qint64 MaxImagePixels = qint64(16384) * 16384 / 2;
/// Device pixel ratios beyond this are taken for mistakes.
constexpr qreal MaxDevicePixelRatio = 8;

class RenderEngine;

/**
 * RenderEngine::render() of @p properties that also hands back, in @p wallpaperLayer, the
 * wallpaper file painted in its placement on the surface, before any effect: what a later
 * render of the same wallpaper can paint again instead of decoding the file.
 */
QPixmap renderKeepingWallpaper(
    RenderEngine &engine, const QMap<QString, QVariant> &properties, QImage *wallpaperLayer);

/**
 * RenderEngine::render() of @p properties with @p wallpaperLayer, kept by
 * renderKeepingWallpaper() for the same wallpaper entries, painted in place of the wallpaper
 * file. A layer of another size than the surface is not used.
 */
QPixmap renderWithWallpaper(
    RenderEngine &engine, const QMap<QString, QVariant> &properties, const QImage &wallpaperLayer);

/// @p path with "@2x" before its suffix (Qt's name for a logo at twice the size); null for
/// vector files and names without a suffix.
QString highResolutionPath(const QString &path);

/// The device pixel ratio a map asks for under @p key; 1 when it names none.
qreal devicePixelRatioOf(const QMap<QString, QVariant> &properties, QLatin1String key);

/// The size of the surface a render of @p properties paints: the union of its screen sizes.
QSize surfaceSize(const QMap<QString, QVariant> &properties);

} // namespace VokImage
