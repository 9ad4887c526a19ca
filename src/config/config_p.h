// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QSettings>

namespace VokImage {
namespace Config {

/// The "themerc" format's reader: key=value lines and a section name, typed values.
bool readSettingsFile(QIODevice &device, QSettings::SettingsMap &map);
/// The "themerc" format's writer: the section line, then the keys in order.
bool writeSettingsFile(QIODevice &device, const QSettings::SettingsMap &map);

/// The wallpaper and placement word the configuration names for one output; empty where it
/// names none.
struct OutputWallpaper
{
    QString path;
    QString position;
};

/**
 * What the desktop theme (WallPaper[NAME], WallPaperPos[NAME]) or, with @p greeter, the
 * greeter's settings (group [background][NAME]: path, position) name for the output @p name.
 */
OutputWallpaper outputWallpaper(const QString &name, bool greeter);

/// Seconds a picture of a wallpaper folder is shown: the theme's WallPaperInterval or, with
/// @p greeter, the greeter's [background] interval; 1800 when missing or not above 0.
int wallpaperInterval(bool greeter);

/// The wallpaper the theme (or, with @p greeter, the greeter's settings) names, read without
/// touching the file; empty when it names none.
QString configuredWallpaper(bool greeter);

} // namespace Config
} // namespace VokImage
