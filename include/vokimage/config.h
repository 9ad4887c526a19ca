// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>

#include <QColor>
#include <QString>
#include <QVariant>

#include <memory>

class KConfig;
class QSettings;

/**
 * Read access to a desktop theme file ("current.themerc", "paletterc"): key=value lines with
 * an optional section header, read through QSettings in the custom "themerc" format. Values
 * "True"/"False"/"true"/"false" read as bool, digits as int, anything else as a string
 * (surrounding double quotes removed). The file is parsed once, by the constructor.
 */
class VOKIMAGE_EXPORT VokSettings
{
public:
    /// Parses @p path; isParsed() tells whether that succeeded.
    explicit VokSettings(const QString &path);
    ~VokSettings();
    VokSettings(const VokSettings &) = delete;
    VokSettings &operator=(const VokSettings &) = delete;

    /// True when the constructor's parse succeeded.
    bool isParsed();

    /**
     * Opens @p path. False, without a message, when it does not exist; false with the
     * critical message "Permission Denied for '<path>'!" when it is not readable, or
     * "Cant register format!" when it cannot be read in the format.
     */
    bool ParseConfigFile(const QString &path);

    /// The value of @p key, or @p defaultValue when it is absent or the file was not parsed.
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    /// Sets @p key in memory; written back by sync().
    void setValue(const QString &key, const QVariant &value);
    /// Removes @p key in memory; written back by sync().
    void remove(const QString &key);
    /**
     * Writes pending changes of a parsed file. With @p touch the file's access and
     * modification times are set to now first. Does nothing for a file that was not parsed.
     */
    void sync(bool touch);

private:
    bool m_parsed = false;
    std::unique_ptr<QSettings> m_settings;
    QString m_path;
};

namespace VokImage {

/// A source of configuration properties, asked by key.
class VOKIMAGE_EXPORT PathFactory
{
public:
    virtual ~PathFactory();
    /// The answer for @p key; an invalid QVariant when the source has none.
    virtual QVariant getProperty(const QString &key) = 0;
};

/**
 * The desktop session's configuration: the current theme file, the palette file, the
 * desktop folder's ".directory" entry and the environment. Keys are case-insensitive:
 * "Options.Wallpaper.Path", "Options.Wallpaper.Position", "Options.Logo.Path",
 * "Options.Logo.Position", "Options.Taskbar.Height", "Options.Taskbar.Position",
 * "PrimaryColor"; any other key answers the theme file's own value.
 */
class VOKIMAGE_EXPORT VokPathFactory : public PathFactory
{
public:
    enum WhatVokSession {
        SessionOther,
        SessionFailsafe,
        SessionVok,
        SessionTablet,
        SessionMini,
        SessionMobile,
        SessionWeston,
        SessionKiosk,
        SessionTabletKiosk,
    };

    /// Reads the theme and palette files of the session and touches both.
    VokPathFactory();
    ~VokPathFactory() override;
    VokPathFactory(const VokPathFactory &) = delete;
    VokPathFactory &operator=(const VokPathFactory &) = delete;

    QVariant getProperty(const QString &key) override;

    /// The theme's "WallPaperPos", default "Crop".
    QString getWallPaperPosition();
    /// The theme's "LogoPixmap", default "fictive".
    QString getCurrenLogo();
    /// The theme's "LogoPosition", default "BottomRight".
    QString getLogoPosition();
    /// The palette's "PrimaryColor"; "#5a91bd" when absent or not a colour.
    QColor getCurrentPrimaryColor();
    /**
     * The desktop folder's "X-VOK-WallPaper" when it names an existing file (links
     * resolved), otherwise the theme's "WallPaper", default
     * "/usr/share/wallpapers/vok-default-light.jpg".
     */
    QString getCurrentWallpaperPath();

    /// The session kind named by DESKTOP_SESSION.
    static WhatVokSession whatVokSession();
    /// True in the kiosk and tablet kiosk sessions.
    static bool isVokKioskSession();
    /// The user directory of @p type ("DESKTOP" honours VOK_KIOSK_DESKTOP_DIR in a kiosk).
    static QString xdgUserDirLookup(const QString &type);
    /// The effective user's name from the password database; null when there is none.
    static QString getCurrentUserSysConf();
    /// The user's name, falling back to USER and LOGNAME.
    static QString getCurrentUser();
    /// HOME, else "/home/" + user name; null when neither is known.
    static QString getVokHomeDir();
    /// The home's ".vok" directory.
    static QString getVokDir();
    /// The palette file, ".vok/paletterc" in the home.
    static QString getVokPalette();
    /// The desktop folder.
    static QString getVokDesktopDir();
    /// The theme directory (the system one in a kiosk session started from it).
    static QString getVokThemeDir();
    /// The theme file the constructor reads: "current.themerc" in the theme directory.
    static QString getVokThemeFile();
    /// The file-name suffix of session-specific configuration, such as ".vok-tablet".
    static QString getVokSessionConfigSuffix(WhatVokSession session);

private:
    std::unique_ptr<VokSettings> m_themeSettings;
    std::unique_ptr<VokSettings> m_paletteSettings;
};

/**
 * The display manager's configuration, the INI file
 * "/etc/X11/vok-dm/vok-modern/settings.ini" read with KConfig, with built-in defaults.
 * Keys are case-sensitive: "Options.Wallpaper.Path", "Options.Wallpaper.Position",
 * "Options.Wallpaper.ColorOverlay", "Options.Wallpaper.Blur[.Enable|.Radius]",
 * "Options.Logo.Path", "Options.Logo.Enable", "Options.Logo.Blur", "Options.Logo.Position".
 */
class VOKIMAGE_EXPORT VokOrvPathFactory : public PathFactory
{
public:
    /// Opens @p path, or the default settings file when it is empty.
    explicit VokOrvPathFactory(const QString &path);
    /// The default settings file, "/etc/X11/vok-dm/vok-modern/settings.ini".
    static QString defaultSettingsPath();
    ~VokOrvPathFactory() override;
    VokOrvPathFactory(const VokOrvPathFactory &) = delete;
    VokOrvPathFactory &operator=(const VokOrvPathFactory &) = delete;

    /// The answer for @p key; invalid, with the warning "Unknown property: ", for an unknown
    /// key of the wallpaper blur or logo family.
    QVariant getProperty(const QString &key) override;

private:
    std::unique_ptr<KConfig> m_settings;
};

/// The door to one configuration: the desktop session's or the display manager's.
class VOKIMAGE_EXPORT FileSystemEngine
{
public:
    enum FileSystemType {
        DesktopSession,
        DisplayManager,
    };

    /// Loads the configuration of @p type; any other value gives an engine without one.
    explicit FileSystemEngine(FileSystemType type);
    ~FileSystemEngine();

    /// The configuration's answer for @p key; invalid when there is no configuration.
    QVariant getProperty(const QString &key);

private:
    std::unique_ptr<PathFactory> m_factory;
};

} // namespace VokImage
