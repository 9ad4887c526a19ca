// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/cache.h>
#include <vokimage/export.h>
#include <vokimage/logo.h>
#include <vokimage/vocabulary.h>

#include <QFuture>
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
 * @name HiDPI screens
 * As the functions of the same name, for a screen whose panel has @p devicePixelRatio device
 * pixels per logical pixel. The screen rectangle stays in device-independent pixels, as
 * QScreen::geometry() gives it; the picture is round(size x ratio) device pixels with
 * QImage::devicePixelRatio() equal to the ratio, so that painting it over the screen's geometry
 * maps it 1:1. The wallpaper is rendered from its source at device resolution; the logo keeps
 * its logical size and place (a raster logo's "@2x" file is preferred when there is one). The
 * maps hold device rectangles and the ratio (Keys::ImageDevicePixelRatio,
 * Keys::LogoDevicePixelRatio). A ratio of 1 gives exactly the functions without it; a ratio
 * that is not finite, not positive, above 8 or that would make a side larger than 16384 pixels
 * or the picture larger than 134,217,728 pixels is taken as 1, with a warning. A screen whose
 * picture would still be beyond those limits gives an empty record, with the warning
 * "RenderEngine::render() - screen size is too large".
 */
///@{
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperProperties(
    const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT QMap<QString, QVariant> getLogoProperties(
    const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getWallpaper(const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getLogo(const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getBackground(const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperOrvProperties(
    const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT QMap<QString, QVariant> getLogoOrvProperties(
    const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getOrvWallpaper(const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getOrvLogo(const QRect &screen, qreal devicePixelRatio);
VOKIMAGE_EXPORT Image getOrvBackground(const QRect &screen, qreal devicePixelRatio);
///@}

/**
 * @name Lookups that tell their source
 * As the image functions above, and tell through @p origin (may be null) whether the picture
 * was rendered, or read from the shared or the private cache.
 */
///@{
VOKIMAGE_EXPORT Image getWallpaper(
    const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
VOKIMAGE_EXPORT Image getLogo(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
VOKIMAGE_EXPORT Image getBackground(
    const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
VOKIMAGE_EXPORT Image getOrvWallpaper(
    const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
VOKIMAGE_EXPORT Image getOrvLogo(
    const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
VOKIMAGE_EXPORT Image getOrvBackground(
    const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin);
///@}

/**
 * A screen as the placements beside the specified ones see it: its geometry (device-independent
 * pixels) and ratio, the union of all screens for Span (empty: the running application's
 * screens, looked up on the application's thread; elsewhere the screen alone), and the
 * output's name (as QScreen::name(), RandR and Wayland give it) for a picture of its own.
 */
struct Output
{
    QRect geometry;
    qreal devicePixelRatio = 1;
    QRect desktop;
    QString name;
};

/**
 * @name Outputs
 * As the functions of the same name, for @p output: the theme's WallPaper[NAME] and
 * WallPaperPos[NAME] (the greeter's group [background][NAME] with path and position) win for
 * the output NAME, and a Span map holds the union of the screens ("ImageProperty.desktop").
 * Without a name, a union or those keys the maps are the specified ones.
 */
///@{
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperProperties(const Output &output);
VOKIMAGE_EXPORT QMap<QString, QVariant> getWallpaperOrvProperties(const Output &output);
VOKIMAGE_EXPORT Image getWallpaper(const Output &output, Cache::Origin *origin = nullptr);
VOKIMAGE_EXPORT Image getLogo(const Output &output, Cache::Origin *origin = nullptr);
VOKIMAGE_EXPORT Image getBackground(const Output &output, Cache::Origin *origin = nullptr);
VOKIMAGE_EXPORT Image getOrvWallpaper(const Output &output, Cache::Origin *origin = nullptr);
VOKIMAGE_EXPORT Image getOrvLogo(const Output &output, Cache::Origin *origin = nullptr);
VOKIMAGE_EXPORT Image getOrvBackground(const Output &output, Cache::Origin *origin = nullptr);
///@}

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

/**
 * @name Requests that run off the calling thread
 * Each returns at once; the library's own pool of worker threads (as many as the machine has
 * cores) produces the same record as the image function of the same name with "get" for
 * "request": the same map, cache file and pixels. Several requests run in parallel. A request
 * cancelled (QFuture::cancel) before a worker takes it is dropped: it finishes without a
 * result. Watch the future with a QFutureWatcher to be told on the caller's thread.
 *
 * Every function of this header may be called from several threads at once; the pictures are
 * painted off the GUI thread, which Qt's raster platforms (xcb, wayland, offscreen) allow.
 */
///@{
VOKIMAGE_EXPORT QFuture<Image> requestWallpaper(const QRect &screen, qreal devicePixelRatio = 1);
VOKIMAGE_EXPORT QFuture<Image> requestLogo(const QRect &screen, qreal devicePixelRatio = 1);
VOKIMAGE_EXPORT QFuture<Image> requestBackground(const QRect &screen, qreal devicePixelRatio = 1);
VOKIMAGE_EXPORT QFuture<Image> requestOrvWallpaper(const QRect &screen, qreal devicePixelRatio = 1);
VOKIMAGE_EXPORT QFuture<Image> requestOrvLogo(const QRect &screen, qreal devicePixelRatio = 1);
VOKIMAGE_EXPORT QFuture<Image> requestOrvBackground(
    const QRect &screen, qreal devicePixelRatio = 1);
/// The same for an Output; its union, when empty, is looked up on the calling thread.
VOKIMAGE_EXPORT QFuture<Image> requestWallpaper(const Output &output);
VOKIMAGE_EXPORT QFuture<Image> requestLogo(const Output &output);
VOKIMAGE_EXPORT QFuture<Image> requestBackground(const Output &output);
VOKIMAGE_EXPORT QFuture<Image> requestOrvWallpaper(const Output &output);
VOKIMAGE_EXPORT QFuture<Image> requestOrvLogo(const Output &output);
VOKIMAGE_EXPORT QFuture<Image> requestOrvBackground(const Output &output);
///@}

} // namespace VokImage
