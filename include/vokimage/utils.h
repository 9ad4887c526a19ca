// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>

#include <QColor>
#include <QList>
#include <QPair>
#include <QRect>
#include <QSize>
#include <QString>

namespace VokImage {
namespace Utils {

/**
 * The colour that a configuration text denotes: three or four comma-separated channel
 * numbers ("255,0,0", "0,0,0,128"; a part that is not a number counts as 0), or anything
 * QColor's name parser accepts ("#5682a3", "steelblue"). An invalid QColor when the text
 * is empty, a channel leaves 0..255, or the name is not known.
 */
VOKIMAGE_EXPORT QColor getColor(const QString &text);

/**
 * @p color moved towards white by @p factor (factor >= 0) or towards black (factor < 0),
 * fully opaque. Invalid when a channel would leave 0..255 (only for |factor| > 1).
 */
VOKIMAGE_EXPORT QColor CreateShadeColor(const QColor &color, double factor);

/**
 * The ten named shades of @p color, "color900" (lightest) to "color50" (darkest), in that
 * order. An invalid colour gives the shades of black.
 */
VOKIMAGE_EXPORT QList<QPair<QString, QColor>> CreateShadeColors(const QColor &color);

/**
 * The path of the default wallpaper generated for the aspect ratio of @p screen in the
 * shades of @p color, written once under "/tmp/cache/<ratio>/" and found there later.
 * A null string, with a warning, when the directory, the template or the output file
 * cannot be used.
 */
VOKIMAGE_EXPORT QString getVokDefaultWallpaper(QRect screen, const QColor &color);

} // namespace Utils
} // namespace VokImage

/**
 * The aspect-ratio class of a screen size as (width part, height part): one of 21:9, 16:9,
 * 16:10, 4:3 for landscape screens and 9:21, 9:16, 10:16, 3:4 for the others.
 */
VOKIMAGE_EXPORT QPair<int, int> wallpaperSizeRatio(QSize size);
