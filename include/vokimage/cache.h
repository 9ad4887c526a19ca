// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>
#include <vokimage/image.h>

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>
#include <QVariant>

namespace VokImage {

/**
 * The on-disk picture cache in "/tmp/cache", shared by all processes. Files are named by
 * the MD5 of a map's byte form and hold the byte form followed by the image. Only files
 * owned by root or the calling user, in a directory owned by one of them, are used.
 *
 * When the shared directory, or the file under a cache name, cannot be trusted or written
 * (another user owns it, or planted something there), the caller's private directory
 * privateCacheDir() serves instead, with the same file names, format and size limit.
 * Lookups read the shared directory first, then the private one.
 *
 * A background the lookups render and store in the shared directory is also kept in the
 * private directory's "kept" folder, which outlives the temporary directory: when neither
 * directory has a file under the name (after a reboot), and the shared directory is not
 * untrusted, the kept copy serves (Origin::PrivateCache) and is put back into the shared
 * directory. saveImageCache() alone keeps no copy.
 *
 * Large pictures are stored and loaded with the help of threads of the call's own (the rows
 * deflated on two threads, the CRCs checked beside the decoding, the kept copy written beside
 * the shared one); they are joined before the call returns, so nothing runs between calls.
 */
namespace Cache {

/// Where the picture of a lookup came from.
enum class Origin {
    None, ///< nothing was produced
    Rendered, ///< rendered by this call
    SharedCache, ///< read from the shared directory
    PrivateCache, ///< read from the caller's private directory
};

/**
 * The caller's private cache directory: "$XDG_CACHE_HOME/vokimage", by default
 * "~/.cache/vokimage". It is created with mode 0700 when first needed and used only while it
 * is the caller's own directory, closed to others. Null when no home directory is known.
 */
VOKIMAGE_EXPORT QString privateCacheDir();

/**
 * With @p enabled, a picture rendered by a lookup is returned as soon as it is rendered, and
 * stored (shared copy, kept copy) on a thread of its own while the caller shows it; off by
 * default, when a lookup returns after the store. Until the store is done, other lookups of the
 * same map, here or in other processes, do not find it. waitForStores() waits for the stores
 * begun so far; the application object's end and the process's exit wait for them too, so
 * nothing is lost on a normal exit. For a program that shows one picture and ends (a wallpaper
 * setter): its picture appears before the cache is written.
 */
VOKIMAGE_EXPORT void setStoreInBackground(bool enabled);
/// Waits until every store begun in the background is done.
VOKIMAGE_EXPORT void waitForStores();

/// Size in bytes above which each store first removes the oldest removable file.
constexpr quint64 MaxCacheSize = 104857600;

/// The cache file name of @p properties: 32 lower-case hexadecimal digits.
VOKIMAGE_EXPORT QString getFileName(const QMap<QString, QVariant> &properties);

/// True when a file of that name exists in the cache directory (or the private one).
VOKIMAGE_EXPORT bool isCacheExists(const QMap<QString, QVariant> &properties);

/**
 * Stores @p image under the name of its properties, atomically. False, with a warning that
 * begins "Error ", when the directory cannot be used or the file cannot be written whole;
 * an earlier file of that name then stays as it was.
 */
VOKIMAGE_EXPORT bool saveImageCache(const Image &image);

/**
 * The record stored for @p properties; the empty record, with a warning that begins
 * "Error " and false through @p ok (may be null), when there is none or it is damaged,
 * differs from @p properties, or is not trusted.
 */
VOKIMAGE_EXPORT Image loadImageCache(const QMap<QString, QVariant> &properties, bool *ok);

/// The stored record, or one rendered and stored now; the empty record when rendering fails.
VOKIMAGE_EXPORT Image getImageCacheWithoutOverloadedLogo(const QMap<QString, QVariant> &properties);

/**
 * A whole background whose logo variant (light or dark) is chosen by the brightness of the
 * wallpaper under it; the stored record names the logo actually drawn.
 */
VOKIMAGE_EXPORT Image getImageCacheWithOverloadedLogo(const QMap<QString, QVariant> &properties);

/// The stored record of @p properties with the other colour variant of its logo.
VOKIMAGE_EXPORT Image searchCacheWithDifferentLogos(
    const QMap<QString, QVariant> &properties, bool *ok);

/**
 * The entry point: with @p overloadLogo and a wallpaper in the map the logo-choosing lookup,
 * otherwise the plain one.
 */
VOKIMAGE_EXPORT Image getImageCache(const QMap<QString, QVariant> &properties, bool overloadLogo);

/// As getImageCache(), and tells through @p origin (may be null) where the picture came from.
VOKIMAGE_EXPORT Image getImageCache(
    const QMap<QString, QVariant> &properties, bool overloadLogo, Origin *origin);

/**
 * Total size in bytes of the regular files in the shared cache directory that the caller may
 * remove (its own; all of them for root), each counted by the space it occupies on disk but
 * never above its size: a sparse or foreign file does not count. 0 when the directory is
 * missing or not trusted.
 */
VOKIMAGE_EXPORT quint64 getCacheSize();

/// Removes the oldest regular file of the cache directory that this process may remove.
VOKIMAGE_EXPORT void removeOldFileCache();

} // namespace Cache
} // namespace VokImage

Q_DECLARE_METATYPE(VokImage::Image)
