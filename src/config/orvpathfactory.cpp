// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/config.h>
#include <vokimage/vocabulary.h>

#include <KConfig>
#include <KConfigGroup>

#include "config_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"

#include <QDebug>
#include <QFileInfo>
#include <QStandardPaths>

namespace VokImage {

namespace {

const QString DefaultSettingsPath = QStringLiteral("/etc/X11/vok-dm/vok-modern/settings.ini");

QVariantMap defaultSettings()
{
    return {
        { QStringLiteral("path"), QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg") },
        { QStringLiteral("keep_proportions"), true },
        { QStringLiteral("color_overlay"), QStringLiteral("0, 0, 0, 100") },
        { QStringLiteral("blur"),
            QVariantMap { { QStringLiteral("enable"), true }, { QStringLiteral("radius"), 5 } } },
        { QStringLiteral("logo"),
            QVariantMap {
                { QStringLiteral("blur"), true },
                { QStringLiteral("enable"), true },
                { QStringLiteral("path"),
                    QStringLiteral("/usr/share/wallpapers/logo/selka_logo_dark.svg") },
            } },
    };
}

QVariant readEntry(const KConfigGroup &group, const QVariantMap &defaults, const char *entry)
{
    return group.readEntry(entry, defaults.value(QLatin1String(entry)));
}

// The settings file, or an empty configuration (the defaults) when it may not be read.
std::unique_ptr<KConfig> openSettings(const QString &path)
{
    if (QFileInfo::exists(path) && !SharedFiles::settingsFileReadable(path))
        return std::make_unique<KConfig>(QString(), KConfig::SimpleConfig);
    return std::make_unique<KConfig>(
        path, KConfig::FullConfig, QStandardPaths::GenericConfigLocation);
}

} // namespace

namespace Config {

OutputWallpaper outputWallpaper(const QString &name, bool greeter)
{
    if (name.isEmpty())
        return {};
    if (!greeter) {
        VokSettings theme(VokPathFactory::getVokThemeFile());
        const QString position
            = theme.value(QStringLiteral("WallPaperPos[%1]").arg(name)).toString();
        const QString dark = theme.value(QStringLiteral("WallPaperDark[%1]").arg(name)).toString();
        if (!dark.isEmpty() && prefersDark())
            return { dark, position, true };
        return { theme.value(QStringLiteral("WallPaper[%1]").arg(name)).toString(), position };
    }
    const std::unique_ptr<KConfig> settings = openSettings(DefaultSettingsPath);
    const KConfigGroup group = settings->group("background").group(name);
    return { group.readEntry("path", QString()), group.readEntry("position", QString()) };
}

int wallpaperInterval(bool greeter)
{
    constexpr int DefaultInterval = 1800;
    int seconds = 0;
    if (greeter)
        seconds = openSettings(DefaultSettingsPath)->group("background").readEntry("interval", 0);
    else
        seconds = VokSettings(VokPathFactory::getVokThemeFile())
                      .value(QStringLiteral("WallPaperInterval"))
                      .toInt();
    return seconds > 0 ? seconds : DefaultInterval;
}

QString darkWallpaper()
{
    const QString dark = VokSettings(VokPathFactory::getVokThemeFile())
                             .value(QStringLiteral("WallPaperDark"))
                             .toString();
    // The portal is asked only by a theme that has a dark wallpaper.
    return !dark.isEmpty() && prefersDark() ? dark : QString();
}

QString configuredWallpaper(bool greeter)
{
    if (greeter)
        return openSettings(DefaultSettingsPath)->group("background").readEntry("path", QString());
    const QString dark = darkWallpaper();
    return !dark.isEmpty() ? dark
                           : VokSettings(VokPathFactory::getVokThemeFile())
                                 .value(QStringLiteral("WallPaper"))
                                 .toString();
}

} // namespace Config

VokOrvPathFactory::VokOrvPathFactory(const QString &path)
    : m_settings(openSettings(path.isEmpty() ? DefaultSettingsPath : path))
{ }

VokOrvPathFactory::~VokOrvPathFactory() = default;

QString VokOrvPathFactory::defaultSettingsPath()
{
    return DefaultSettingsPath;
}

QVariant VokOrvPathFactory::getProperty(const QString &key)
{
    const QVariantMap defaults = defaultSettings();
    // The constructor always makes the settings; the check stays for its documented message.
    if (!m_settings) {
        vokWarning(config) << "getProperty"
                           << ": m_settings is nullptr";
        return QVariant();
    }
    const KConfigGroup background = m_settings->group("background");
    if (key == ConfigKey::WallpaperPath)
        return readEntry(background, defaults, "path").toString();
    if (key == ConfigKey::WallpaperPosition) {
        // A placement word of its own ("Fit") wins over keep_proportions.
        const QString word = background.readEntry("position", QString());
        if (MoreWallPaperPositionNames.contains(word) || WallPaperPositionNames.contains(word))
            return word;
        return readEntry(background, defaults, "keep_proportions").toBool()
            ? QStringLiteral("Crop")
            : QStringLiteral("Stretch");
    }
    if (key == ConfigKey::WallpaperColorOverlay)
        return readEntry(background, defaults, "color_overlay").toString();

    if (key.startsWith(ConfigKey::WallpaperBlur)) {
        const KConfigGroup blur = background.group("blur");
        const QVariantMap blurDefaults = defaults.value(QStringLiteral("blur")).toMap();
        if (key == ConfigKey::WallpaperBlur)
            return blur.keyList();
        if (key == ConfigKey::WallpaperBlurEnable)
            return readEntry(blur, blurDefaults, "enable").toBool();
        if (key == ConfigKey::WallpaperBlurRadius)
            return readEntry(blur, blurDefaults, "radius").toInt();
        vokWarning(config) << "Unknown property: " << key;
        return QVariant();
    }
    if (key.startsWith(QLatin1String("Options.Logo"))) {
        const KConfigGroup logo = background.group("logo");
        const QVariantMap logoDefaults = defaults.value(QStringLiteral("logo")).toMap();
        if (key == ConfigKey::LogoPath)
            return readEntry(logo, logoDefaults, "path").toString();
        if (key == ConfigKey::LogoEnable)
            return readEntry(logo, logoDefaults, "enable").toBool();
        if (key == ConfigKey::LogoBlur)
            return readEntry(logo, logoDefaults, "blur").toBool();
        if (key == ConfigKey::LogoPosition)
            return readEntry(logo, logoDefaults, "enable").toBool() ? QStringLiteral("BottomRight")
                                                                    : QStringLiteral("NotShow");
        vokWarning(config) << "Unknown property: " << key;
        return QVariant();
    }
    return QVariant();
}

} // namespace VokImage
