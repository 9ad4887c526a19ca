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

/// The entry point that renders @p name ("background", "wallpaper", "logo") for the desktop
/// or, with @p greeter, for the greeter.
using ImageFunction = VokImage::Image (*)(const VokImage::Output &, VokImage::Cache::Origin *);
ImageFunction imageFunction(const QString &name, bool greeter);

/// One screen's picture as the library served it.
struct Rendered
{
    VokImage::Image record;
    VokImage::Cache::Origin origin = VokImage::Cache::Origin::None;
    qint64 milliseconds = 0;
};

/// Renders @p output through @p function; the library's messages stay held.
Rendered renderScreen(ImageFunction function, const VokImage::Output &output);

/// The union of @p rects (for Span).
QRect unionOf(const QList<QRect> &rects);

/**
 * The result line of one screen: where the picture went, the geometry, whether it was rendered
 * or came from a cache, the time, and for a background the logo drawn.
 */
void printResult(const QString &destination, const QRect &screen, const Rendered &rendered,
    bool background, bool greeter);

} // namespace Tool
