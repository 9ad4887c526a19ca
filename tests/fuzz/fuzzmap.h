// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once
// Shared pieces of the fuzz targets and their seed generator.
#include <vokimage/vokimage.h>

#include <QDir>

// The map whose cache file the cache-file target fuzzes: a 16x12 wallpaper.
inline QMap<QString, QVariant> fuzzCacheMap()
{
    QMap<QString, QVariant> map = VokImage::DefaultWallpaperProperties;
    map[QLatin1String(VokImage::Keys::ImagePath)]
        = QVariant::fromValue(VokImage::File(QStringLiteral("/nonexistent/fuzz.png")));
    map[QLatin1String(VokImage::Keys::ImageScreen)] = QRect(0, 0, 16, 12);
    return map;
}

// Silences the library's warnings, which every damaged input produces.
inline void fuzzQuiet()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QDir().mkpath(VokImage::CacheDir);
}

/// What the byte form reads from @p bytes writes back to bytes that read again as a map of as
/// many entries. (Not byte for byte: Qt writes some invalid date-times in another form than it
/// read them.)
inline bool byteFormRoundTrips(const QByteArray &bytes)
{
    const QMap<QString, QVariant> map = VokImage::Utils::ByteArrayToProperties(bytes);
    return map.isEmpty()
        || VokImage::Utils::ByteArrayToProperties(VokImage::Utils::PropertiesToByteArray(map))
               .size()
        == map.size();
}
