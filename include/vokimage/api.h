// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/cache.h>
#include <vokimage/export.h>
#include <vokimage/logo.h>
#include <vokimage/lookup.h>
#include <vokimage/vocabulary.h>

#include <QImage>
#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace VokImage {

/**
 * The desktop's wallpaper properties for @p screen, from the session's theme. A wallpaper of
 * "vok-default" is generated in the theme's primary colour (and the colour added to the map).
 */
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperProperties(const QRect &screen);
/// The desktop's logo properties for @p screen, taskbar entries included.
VOKIMAGE_EXPORT QMap<QString, QVariant> getLogoProperties(const QRect &screen);
/// The desktop wallpaper for @p screen, from the cache or rendered; empty on failure.
VOKIMAGE_EXPORT Image getWallpaper(const QRect &screen);
/// The desktop logo alone for @p screen (transparent elsewhere); empty on failure.
VOKIMAGE_EXPORT Image getLogo(const QRect &screen);
/**
 * The whole desktop background for @p screen: wallpaper and logo, the logo variant chosen
 * by the brightness under it. The record's properties name the logo drawn. Empty on failure.
 */
VOKIMAGE_EXPORT Image getBackground(const QRect &screen);

/// The greeter's wallpaper properties for @p screen (blur and colour overlay included).
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperOrvProperties(const QRect &screen);
/// The greeter's logo properties for @p screen.
VOKIMAGE_EXPORT QMap<QString, QVariant> getLogoOrvProperties(const QRect &screen);
/// The greeter's wallpaper for @p screen; empty on failure.
VOKIMAGE_EXPORT Image getOrvWallpaper(const QRect &screen);
/// The greeter's logo alone for @p screen; empty on failure.
VOKIMAGE_EXPORT Image getOrvLogo(const QRect &screen);
/// The greeter's whole background for @p screen, the configured logo as it is; empty on failure.
VOKIMAGE_EXPORT Image getOrvBackground(const QRect &screen);

/**
 * A wallpaper that names a folder shows one picture of it, chosen from the wall-clock time:
 * the folder's pictures sorted by name, index = seconds since the epoch / interval, modulo their
 * number. Its pictures are the entries named with the suffix of a format Qt reads (hidden ones
 * left out) that the library would read, judged from their status without opening them: regular
 * files the caller may read, of at most 128 MiB, and in a folder others can write to neither
 * links nor another user's. Of more than 10,000, the 10,000 that have been in the folder
 * longest (the lowest inode numbers) count, with a warning. The interval is the theme's
 * WallPaperInterval (the greeter's [background] interval), in seconds, 1800 when missing. Every
 * screen, the greeter and every process agree without any state; the map names the chosen file.
 *
 * setClock() replaces the wall clock the choice reads (seconds since the epoch), for tests and
 * previews; an empty function restores the system clock.
 */
VOKIMAGE_EXPORT void setClock(std::function<qint64()> clock);

/**
 * The configured wallpaper folder of the desktop (or, with @p greeter, of the greeter) as the
 * lookups see it at the moment it is made: its pictures in the order they are shown, the entries
 * that are no picture and those refused, the interval, the picture shown now and when the next
 * is due. A copy shares the same snapshot. Null when the configured wallpaper is not a folder.
 */
class VOKIMAGE_EXPORT WallpaperFolder
{
public:
    explicit WallpaperFolder(bool greeter = false);
    ~WallpaperFolder();
    WallpaperFolder(const WallpaperFolder &other);
    WallpaperFolder &operator=(const WallpaperFolder &other);

    /// True when the configured wallpaper is not a folder.
    bool isNull() const;
    /// The folder as configured.
    QString path() const;
    /// Seconds each picture is shown.
    int interval() const;
    /// The paths of its pictures, sorted by name; the clock picks among them.
    QStringList pictures() const;
    /// Entries that are not pictures by their name, or are folders, devices or FIFOs.
    int skipped() const;
    /// Pictures the library will not read: another user's or a link in a folder others can
    /// write to, unreadable, or larger than 128 MiB.
    int refused() const;
    /// True when the folder holds more pictures than are considered (10,000).
    bool isTruncated() const;
    /// The picture shown now; empty when there is none.
    QString current() const;
    /// Seconds until the next picture is due.
    qint64 secondsToNextPicture() const;

private:
    struct Data;
    std::shared_ptr<const Data> d;
};

/*
 * Every function of this header and of lookup.h may be called from several threads at once; the
 * pictures are painted off the GUI thread, which Qt's raster platforms (xcb, wayland, offscreen)
 * allow. Lookup (lookup.h) adds device pixel ratios, named outputs, the Span union, requests
 * that run off the calling thread, and the origin and error of each lookup.
 */

} // namespace VokImage
