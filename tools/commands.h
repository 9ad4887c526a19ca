// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The commands of the vokimage tool, one group per file.
#pragma once

#include <vokimage/vokimage.h>

#include <QRect>
#include <QStringList>

namespace Tool {

int imageCommand(const QString &name, const QStringList &arguments); // images.cpp
int propertiesCommand(const QStringList &arguments);
int renderCommand(const QStringList &arguments); // render.cpp
int paletteCommand(const QStringList &arguments);
int defaultWallpaperCommand(const QStringList &arguments);
int configCommand(const QStringList &arguments); // config.cpp
int checkCommand(const QStringList &arguments); // check.cpp
int cacheCommand(const QStringList &arguments); // config.cpp
int applyCommand(const QStringList &arguments); // apply.cpp
/// The usage checks of apply on Wayland, before the compositor is asked anything: -1 to go on,
/// else the exit code (help printed, or a usage error).
int checkApplyOnWayland(const QStringList &arguments); // apply.cpp

/// The lookup of @p name ("background", "wallpaper", "logo") of @p screen for the desktop or,
/// with @p greeter, for the greeter.
VokImage::Lookup lookupOf(const QString &name, const VokImage::Screen &screen, bool greeter);

/// A screen of @p geometry at @p ratio, with the union @p desktop and the output's @p name.
VokImage::Screen screenOf(
    const QRect &geometry, qreal ratio, const QRect &desktop, const QString &name);

/// One screen's picture as the library served it.
struct Rendered
{
    VokImage::Image record;
    VokImage::Cache::Origin origin = VokImage::Cache::Origin::None;
    qint64 milliseconds = 0;
    /// Why there is no picture, in words a user can act on.
    QString error;
};

/// The result of @p lookup after it ran, @p milliseconds after it was asked for.
Rendered renderedOf(const VokImage::Lookup &lookup, qint64 milliseconds);

/// Runs @p lookup on this thread; the library's messages stay held.
Rendered renderScreen(VokImage::Lookup lookup);

/// The union of @p rects (for Span).
QRect unionOf(const QList<QRect> &rects);

/**
 * The result line of one screen: where the picture went, the geometry, whether it was rendered
 * or came from a cache, the time, and for a background the logo drawn.
 */
void printResult(const QString &destination, const QRect &screen, const Rendered &rendered,
    bool background, bool greeter);

} // namespace Tool
