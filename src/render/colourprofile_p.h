// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Pictures tagged with a colour profile, converted to sRGB as they are decoded.

#include <QByteArray>
#include <QColorSpace>
#include <QImage>

namespace VokImage {

/// Largest colour profile read from a picture, inflated.
constexpr int MaxColourProfileBytes = 4 << 20;

/**
 * The colour space embedded in the JPEG or PNG @p bytes: a JPEG's APP2 ICC profile, a PNG's
 * iCCP profile or sRGB chunk; invalid when the picture embeds none (gamma and chromaticity
 * chunks alone do not count) or its profile cannot be read.
 */
QColorSpace embeddedColourSpace(const QByteArray &bytes);

/**
 * @p image with its pixels converted from @p space to sRGB, on a few threads for a large
 * picture: straight 8-bit pixels through integer tables sampled from Qt's transform (within one
 * level of it), others through Qt's transform. Unchanged when @p space is invalid or sRGB.
 */
QImage inSrgb(QImage image, const QColorSpace &space);

} // namespace VokImage
