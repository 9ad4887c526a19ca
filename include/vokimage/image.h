// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>
#include <QVariant>

namespace VokImage {

/// A rendered picture with the property map it was rendered from. Empty means failure.
struct Image
{
    QMap<QString, QVariant> properties;
    QImage image;
};

namespace Utils {

/// The byte form of a property map: its QDataStream form, the key of the cache.
VOKIMAGE_EXPORT QByteArray PropertiesToByteArray(const QMap<QString, QVariant> &properties);

/// The map that @p data holds in byte form; an empty map for malformed data, never a part.
VOKIMAGE_EXPORT QMap<QString, QVariant> ByteArrayToProperties(QByteArray data);

} // namespace Utils

} // namespace VokImage
