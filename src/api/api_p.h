// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/lookup.h>

#include <QRect>
#include <QStringList>

#include <functional>

namespace VokImage {

/// The map @p layer of @p screen is looked up by, and the ratio its picture is drawn at
/// (@p devicePixelRatio may be null): the specified maps for a screen of ratio 1 without name
/// and union.
QMap<QString, QVariant> layerProperties(
    const Screen &screen, Lookup::Layer layer, bool greeter, qreal *devicePixelRatio);

/// The picture of @p layer of @p screen, and through @p origin (may be null) where it came from.
Image lookupImage(const Screen &screen, Lookup::Layer layer, bool greeter, Cache::Origin *origin);

/// Queues @p job on the library's workers; false when no application runs to stop them.
bool startJob(std::function<void()> job);

/// The union of the running application's screens and @p screen, looked up on the
/// application's thread only; elsewhere @p screen.
QRect applicationDesktop(const QRect &screen);

/// Seconds since the epoch, from the clock setClock() set (the system clock by default).
qint64 clockSeconds();

/// Most pictures of a wallpaper folder that are considered: those that have been in it longest.
constexpr int MaxFolderPictures = 10000;

/// The pictures of a wallpaper folder, as its index counts them.
struct FolderIndex
{
    /// The paths of the pictures the caller may use, sorted by name as the locale sorts.
    QStringList pictures;
    /// Entries read.
    int entries = 0;
    /// Entries that are not named as pictures, or are folders, devices or FIFOs.
    int skipped = 0;
    /// Pictures the trusted reading refuses (another user's in a shared folder, a link there,
    /// unreadable, larger than the file cap).
    int refused = 0;
    /// True when the folder holds more pictures than are considered (MaxFolderPictures), or
    /// more entries than are read (a million).
    bool truncated = false;
};

/**
 * The index of the folder @p folder: its entries named with a suffix of a format Qt reads
 * (hidden ones left out), at most MaxFolderPictures of them (the lowest inode numbers: those in
 * the folder longest), each judged by the rules of the trusted reading from its status without
 * opening it, then sorted by name. Kept for a folder whose listing has not changed since.
 */
FolderIndex indexFolder(const QString &folder);

/// True when @p path names a folder (a link to one included).
bool isFolder(const QString &path);

/// The picture of the folder @p folder for now (as documented in api.h), at the desktop's or,
/// with @p greeter, the greeter's interval; @p folder itself when it is not a folder, an empty
/// string when it holds no picture.
QString pictureOfFolder(const QString &folder, bool greeter);

/// Milliseconds until the picture of a folder may change, for @p interval seconds.
qint64 untilNextPicture(int interval);

} // namespace VokImage
