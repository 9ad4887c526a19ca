// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QSettings>

#include <functional>

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
    /// True when the path is the theme's WallPaperDark[NAME].
    bool dark = false;
};

/**
 * What the desktop theme (WallPaper[NAME], WallPaperPos[NAME]; WallPaperDark[NAME] while the
 * colour scheme prefers dark) or, with @p greeter, the greeter's settings (group
 * [background][NAME]: path, position) name for the output @p name.
 */
OutputWallpaper outputWallpaper(const QString &name, bool greeter);

/// Seconds a picture of a wallpaper folder is shown: the theme's WallPaperInterval or, with
/// @p greeter, the greeter's [background] interval; 1800 when missing or not above 0.
int wallpaperInterval(bool greeter);

/// The theme's WallPaperDark while the colour scheme prefers dark; empty otherwise.
QString darkWallpaper();

/// The wallpaper the theme (or, with @p greeter, the greeter's settings) names, read without
/// touching the file (the dark one while it is used); empty when it names none.
QString configuredWallpaper(bool greeter);

/**
 * True while the user's colour scheme prefers dark: the freedesktop settings portal's
 * org.freedesktop.appearance color-scheme is 1. Read once per process, then followed through
 * the portal's change signal; false without a session bus, a portal or a preference.
 */
bool prefersDark();

/// Calls @p changed (in @p context's thread) whenever the preferred colour scheme changes.
QMetaObject::Connection followColourScheme(QObject *context, std::function<void()> changed);

} // namespace Config
} // namespace VokImage
