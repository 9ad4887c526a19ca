// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>

#include <QColor>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QMap>
#include <QMetaType>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace VokImage {

/// Property keys of a picture description. Lookups are exact and case-sensitive.
namespace Keys {
inline constexpr char ImagePath[] = "ImageProperty.path";
inline constexpr char ImageScreen[] = "ImageProperty.screen";
inline constexpr char ImagePosition[] = "ImageProperty.position";
inline constexpr char ImageBlur[] = "ImageProperty.blur";
inline constexpr char ImageColorOverlay[] = "ImageProperty.colorOverlay";
inline constexpr char ImagePrimaryColor[] = "ImageProperty.PrimaryColor";
inline constexpr char LogoPath[] = "LogoProperty.path";
inline constexpr char LogoScreen[] = "LogoProperty.screen";
inline constexpr char LogoPosition[] = "LogoProperty.position";
inline constexpr char LogoBlur[] = "LogoProperty.blur";
inline constexpr char TaskbarPosition[] = "TaskbarProperty.position";
inline constexpr char TaskbarHeight[] = "TaskbarProperty.height";
/**
 * The device pixel ratio of a picture for a HiDPI screen (a double). Present only when the
 * ratio is not 1, together with screen rectangles in device pixels: a map for another ratio
 * therefore always differs from every ratio-1 map, and never shares its cache file.
 */
inline constexpr char ImageDevicePixelRatio[] = "ImageProperty.devicePixelRatio";
/**
 * The union of all screens (a QRect in the coordinates of "ImageProperty.screen") of a Span
 * map: the picture is cropped to fill it, and the screen shows its part. Only Span maps hold it.
 */
inline constexpr char ImageDesktop[] = "ImageProperty.desktop";
/**
 * The colour scheme whose wallpaper the map names ("dark": the theme's WallPaperDark, used
 * while the user's colour scheme prefers dark). Only such maps hold it.
 */
inline constexpr char ImageColorScheme[] = "ImageProperty.colorScheme";
/// The same for the logo: its logical size and position are scaled by the ratio.
inline constexpr char LogoDevicePixelRatio[] = "LogoProperty.devicePixelRatio";
/**
 * The "@2x" file drawn for a raster logo above ratio 1 (a File, its path empty when the main
 * file is drawn because there is no usable "@2x" file). The entry points set it in every map
 * with a ratio above 1, so that adding, changing or removing an "@2x" file changes the map; a
 * map without it has the "@2x" file drawn when one exists.
 */
inline constexpr char LogoHighResolutionFile[] = "LogoProperty.highResolutionFile";
} // namespace Keys

/**
 * How a wallpaper fills the screen. The numbers are part of cache keys and never change.
 * Fit shows the whole picture inside the screen, its proportions kept, centred, the rest in the
 * map's primary colour (black without one). Span crops the picture to fill the union of all
 * screens ("ImageProperty.desktop"); each screen shows its part. Where the picture scaled to
 * cover the union (or, for Crop, the screen) would be beyond the render limits (16384 pixels a
 * side, 134,217,728 in all), it is never made whole: only the part the screen shows is scaled,
 * from the source pixels under it.
 */
enum class WallPaperPosition : int {
    Center = 0,
    Tile = 1,
    Stretch = 2,
    Crop = 3,
    Fit = 4,
    Span = 5
};

/// Where the logo is anchored. -1 draws no logo.
enum class LogoPosition : int {
    NotShow = -1,
    BottomRight = 0,
    BottomLeft = 1,
    Bottom = 2,
    TopRight = 3,
    TopLeft = 4,
    Top = 5,
    Right = 6,
    Center = 7,
    Left = 8
};

/// The screen edge that holds the taskbar.
enum class TaskbarPosition : int { Top = 0, Left = 1, Right = 2, Bottom = 3 };

/// Configuration words of the wallpaper placements. The word for Tile is "Title".
VOKIMAGE_EXPORT extern const QMap<QString, WallPaperPosition> WallPaperPositionNames;

/// Configuration words of the placements added beside those above: "Fit", "Span". The configuration
/// readers take a word of either table.
VOKIMAGE_EXPORT extern const QMap<QString, WallPaperPosition> MoreWallPaperPositionNames;

/// Configuration words of the taskbar edges.
VOKIMAGE_EXPORT extern const QMap<QString, TaskbarPosition> TaskbarPositionNames;

/// Configuration words of the logo placements, "NotShow" included.
VOKIMAGE_EXPORT extern const QMap<QString, LogoPosition> LogoPositionNames;

/// Words that mark the light variant of a logo file.
VOKIMAGE_EXPORT extern const QStringList LightColors;
/// Words that mark the dark variant of a logo file.
VOKIMAGE_EXPORT extern const QStringList DarkColors;
/// The light words followed by the dark words.
VOKIMAGE_EXPORT extern const QStringList AllColors;

/// The directory shared by all processes that holds cached pictures.
VOKIMAGE_EXPORT extern const QString CacheDir;
/// The wallpaper word that asks for the generated default wallpaper.
VOKIMAGE_EXPORT extern const QString DefaultWallpaper;

/**
 * An image path together with the file's modification time when the record was made.
 *
 * Held in property maps under "ImageProperty.path", so that a changed file changes the
 * map and with it the cache key. The first construction registers the type with Qt's
 * meta-type system (stream, comparison and debug operators).
 */
struct VOKIMAGE_EXPORT File
{
    /// Records @p path as given; lastModified is null when no file exists there.
    File(const QString &path = QStringLiteral("vok-default"));

    /// Equal paths and equal times (two null times are equal).
    bool operator==(const File &other) const;
    bool operator!=(const File &other) const { return !(*this == other); }
    /// Ordered by path, then by time.
    bool operator<(const File &other) const;

    QString path;
    QDateTime lastModified;
};

} // namespace VokImage

Q_DECLARE_METATYPE(VokImage::File)

/// Writes path, then lastModified, in the stream's own forms.
VOKIMAGE_EXPORT QDataStream &operator<<(QDataStream &stream, const VokImage::File &file);
/// Reads what operator<< wrote.
VOKIMAGE_EXPORT QDataStream &operator>>(QDataStream &stream, VokImage::File &file);
/// Prints path("..."), lastModified(QDateTime(...)).
VOKIMAGE_EXPORT QDebug operator<<(QDebug debug, const VokImage::File &file);

namespace VokImage {

/// Wallpaper properties every wallpaper map starts from (5 entries).
VOKIMAGE_EXPORT extern const QMap<QString, QVariant> DefaultWallpaperProperties;

/// Logo properties every logo map starts from (3 entries).
VOKIMAGE_EXPORT extern const QMap<QString, QVariant> DefaultLogoProperties;

} // namespace VokImage
