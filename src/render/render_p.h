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

/// While one lives on a thread, the wallpaper pass keeps what it paints, and the next identical
/// pass on that thread (same file, screen, position and surface) paints that again instead of
/// decoding the file: a logo chosen by the wallpaper's brightness needs the wallpaper twice.
class ImagePassReuse
{
public:
    ImagePassReuse();
    ~ImagePassReuse();
    ImagePassReuse(const ImagePassReuse &) = delete;
    ImagePassReuse &operator=(const ImagePassReuse &) = delete;

    /// The innermost one on this thread, or null.
    static ImagePassReuse *current();

    QByteArray key;
    QImage layer;

private:
    ImagePassReuse *m_outer;
};

/// @p path with "@2x" before its suffix (Qt's name for a logo at twice the size); null for
/// vector files and names without a suffix.
QString highResolutionPath(const QString &path);

/// The device pixel ratio a map asks for under @p key; 1 when it names none.
qreal devicePixelRatioOf(const QMap<QString, QVariant> &properties, const char *key);

/// The size of the surface a render of @p properties paints: the union of its screen sizes.
QSize surfaceSize(const QMap<QString, QVariant> &properties);

} // namespace VokImage
