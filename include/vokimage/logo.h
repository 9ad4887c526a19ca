// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The logo lookup: which logo file a screen gets, by size class and by the brightness under it.

#include <vokimage/export.h>
#include <vokimage/vocabulary.h>

#include <QImage>
#include <QString>

namespace VokImage {

/// The logo size class for a screen width: "800", "1280", "1920" or "2048".
VOKIMAGE_EXPORT QString determineLogoSize(int width);

/**
 * The first existing logo file made from the stem @p logoPath for @p width and @p variant:
 * stem_SIZE_VARIANT.png, stem_SIZE.png, stem_VARIANT.png, stem.png. A null string when none
 * exists.
 */
VOKIMAGE_EXPORT QString findLogoPath(const QString &logoPath, int width, const QString &variant);

/**
 * @p logoPath with its dark word ("black", "dark") replaced by a light one ("white", then
 * "light") when @p white, or its light word by a dark one when not, if that file exists;
 * otherwise @p logoPath unchanged.
 */
VOKIMAGE_EXPORT QString getLogoPath(QString logoPath, bool white);

/**
 * The logo file to draw at @p position over @p background: the configured file (or one found
 * by size class and variant), in the variant that suits the brightness under it. Falls back
 * to @p logoPath, with a warning, when no readable logo is found.
 */
VOKIMAGE_EXPORT QString getCurrentLogoPath(
    const QString &logoPath, LogoPosition position, const QImage &background);

} // namespace VokImage
