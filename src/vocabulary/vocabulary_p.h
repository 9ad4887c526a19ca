// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QColor>
#include <QVariant>

namespace VokImage {

/// The colour a property value holds: a QColor, or anything QVariant converts to one (a name,
/// "#rrggbb"); invalid otherwise.
QColor toColour(QVariant value);

/// Registers VokImage::File with the meta-type system once per process.
void ensureFileTypeRegistered();

} // namespace VokImage
