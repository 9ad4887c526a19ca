// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>
#include <vokimage/config.h>
#include <vokimage/utils.h>

#include "render/render_p.h"

#include <QDebug>

#include <cmath>

namespace VokImage {

namespace {

using PropertyMap = QMap<QString, QVariant>;

const QString GreeterDefaultColour = QStringLiteral("#5682a3");

template <typename Enum>
int lookup(const QMap<QString, Enum> &table, const QString &name, int fallback)
{
    const auto it = table.constFind(name);
    return it == table.constEnd() ? fallback : int(*it);
}

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QColor toColour(QVariant value)
{
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>();
    return value.convert(QMetaType::QColor) ? value.value<QColor>() : QColor();
}

// @p base with every entry of @p over inserted: an entry of @p over wins.
PropertyMap merged(PropertyMap base, const PropertyMap &over)
{
    for (auto it = over.constBegin(); it != over.constEnd(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

// @p ratio when it can be used for @p screen; otherwise 1, with a warning.
qreal checkedRatio(qreal ratio, const QRect &screen)
{
    if (ratio == 1)
        return 1;
    if (!std::isfinite(ratio) || ratio <= 0 || ratio > MaxDevicePixelRatio
        || screen.width() * ratio > MaxImageDimension
        || screen.height() * ratio > MaxImageDimension) {
        qWarning() << "Error device pixel ratio is not usable, 1 is used:" << ratio;
        return 1;
    }
    return ratio;
}

// A map for a device pixel ratio: its screen in device pixels and the ratio beside it. A ratio
// of 1 leaves the map as it is.
PropertyMap scaled(
    PropertyMap map, const QRect &screen, qreal ratio, const char *screenKey, const char *ratioKey)
{
    if (ratio == 1)
        return map;
    map[key(screenKey)] = QRect(qRound(screen.x() * ratio), qRound(screen.y() * ratio),
        qRound(screen.width() * ratio), qRound(screen.height() * ratio));
    map[key(ratioKey)] = double(ratio);
    return map;
}

// The record's picture marked with its device pixel ratio.
Image withRatio(Image record, qreal ratio)
{
    if (ratio != 1 && !record.image.isNull())
        record.image.setDevicePixelRatio(ratio);
    return record;
}

using Builder = PropertyMap (*)(const QRect &, qreal);

// The picture of the wallpaper map and the logo map (either may be missing) for @p screen,
// built in that order and merged: the wallpaper's entries win for the desktop
// (@p overloadLogo), the logo's for the greeter.
Image lookup(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin, Builder wallpaper,
    Builder logo, bool overloadLogo)
{
    const qreal ratio = checkedRatio(devicePixelRatio, screen);
    PropertyMap map = wallpaper ? wallpaper(screen, ratio) : PropertyMap();
    if (logo)
        map = overloadLogo ? merged(logo(screen, ratio), map) : merged(map, logo(screen, ratio));
    return withRatio(Cache::getImageCache(map, overloadLogo, origin), ratio);
}

} // namespace

PropertyMap getWallpaperProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    QString path = engine.getProperty(QStringLiteral("Options.Wallpaper.Path")).toString();
    const int position = lookup(WallPaperPositionNames,
        engine.getProperty(QStringLiteral("Options.Wallpaper.Position")).toString(),
        int(WallPaperPosition::Crop));
    PropertyMap result = DefaultWallpaperProperties;
    if (path == DefaultWallpaper) {
        const QColor colour = toColour(engine.getProperty(QStringLiteral("PrimaryColor")));
        result[QStringLiteral("ImageProperty") + QLatin1Char('.') + QStringLiteral("PrimaryColor")]
            = colour;
        path = Utils::getVokDefaultWallpaper(screen, colour);
    }
    result[key(Keys::ImagePath)] = QVariant::fromValue(File(path));
    result[key(Keys::ImagePosition)] = position;
    result[key(Keys::ImageScreen)] = screen;
    return result;
}

PropertyMap getLogoProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    const QString logoPath = engine.getProperty(QStringLiteral("Options.Logo.Path")).toString();
    const int logoPosition = lookup(LogoPositionNames,
        engine.getProperty(QStringLiteral("Options.Logo.Position")).toString(),
        int(LogoPosition::NotShow));
    PropertyMap result = DefaultLogoProperties;
    result[key(Keys::LogoPath)] = logoPath;
    result[key(Keys::LogoPosition)] = logoPosition;
    result[key(Keys::LogoScreen)] = screen;
    const QString taskbarName
        = engine.getProperty(QStringLiteral("Options.Taskbar.Position")).toString();
    const int taskbarHeight = engine.getProperty(QStringLiteral("Options.Taskbar.Height")).toInt();
    result[key(Keys::TaskbarPosition)] = lookup(TaskbarPositionNames, taskbarName, -1);
    result[key(Keys::TaskbarHeight)] = taskbarHeight;
    return result;
}

Image getWallpaper(const QRect &screen)
{
    return getWallpaper(screen, 1.0, nullptr);
}

Image getWallpaper(const QRect &screen, qreal devicePixelRatio)
{
    return getWallpaper(screen, devicePixelRatio, nullptr);
}

Image getWallpaper(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    return lookup(screen, devicePixelRatio, origin, getWallpaperProperties, nullptr, false);
}

Image getLogo(const QRect &screen)
{
    return getLogo(screen, 1.0, nullptr);
}

Image getLogo(const QRect &screen, qreal devicePixelRatio)
{
    return getLogo(screen, devicePixelRatio, nullptr);
}

Image getLogo(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    return lookup(screen, devicePixelRatio, origin, nullptr, getLogoProperties, false);
}

Image getBackground(const QRect &screen)
{
    return getBackground(screen, 1.0, nullptr);
}

Image getBackground(const QRect &screen, qreal devicePixelRatio)
{
    return getBackground(screen, devicePixelRatio, nullptr);
}

Image getBackground(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    // The desktop background: wallpaper entries win, the logo variant is chosen.
    return lookup(
        screen, devicePixelRatio, origin, getWallpaperProperties, getLogoProperties, true);
}

PropertyMap getWallpaperOrvProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString wallpaperKey = QStringLiteral("Options.Wallpaper");
    QString path = engine.getProperty(wallpaperKey + QLatin1String(".Path")).toString();
    const int position = lookup(WallPaperPositionNames,
        engine.getProperty(wallpaperKey + QLatin1String(".Position")).toString(),
        int(WallPaperPosition::Crop));
    const QColor overlay = Utils::getColor(
        engine.getProperty(wallpaperKey + QLatin1String(".ColorOverlay")).toString());
    const bool blurEnabled
        = engine.getProperty(wallpaperKey + QLatin1String(".Blur.Enable")).toBool();
    PropertyMap result = DefaultWallpaperProperties;
    if (blurEnabled) {
        const double radius
            = engine.getProperty(wallpaperKey + QLatin1String(".Blur.Radius")).toReal();
        if (radius > 0)
            result[key(Keys::ImageBlur)] = radius;
    }
    if (path == DefaultWallpaper) {
        QColor colour;
        colour.setNamedColor(GreeterDefaultColour);
        path = Utils::getVokDefaultWallpaper(screen, colour);
    }
    result[key(Keys::ImagePath)] = QVariant::fromValue(File(path));
    result[key(Keys::ImagePosition)] = position;
    result[key(Keys::ImageScreen)] = screen;
    result[key(Keys::ImageColorOverlay)] = overlay;
    return result;
}

PropertyMap getLogoOrvProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString logoKey = QStringLiteral("Options.Logo");
    const QString logoPath = engine.getProperty(logoKey + QLatin1String(".Path")).toString();
    const int position = lookup(LogoPositionNames,
        engine.getProperty(logoKey + QLatin1String(".Position")).toString(),
        int(LogoPosition::BottomRight));
    const bool blur = engine.getProperty(logoKey + QLatin1String(".Blur")).toBool();
    PropertyMap result = DefaultLogoProperties;
    if (blur)
        result[key(Keys::LogoBlur)] = 5;
    result[key(Keys::LogoPath)] = logoPath;
    result[key(Keys::LogoPosition)] = position;
    result[key(Keys::LogoScreen)] = screen;
    return result;
}

Image getOrvWallpaper(const QRect &screen)
{
    return getOrvWallpaper(screen, 1.0, nullptr);
}

Image getOrvWallpaper(const QRect &screen, qreal devicePixelRatio)
{
    return getOrvWallpaper(screen, devicePixelRatio, nullptr);
}

Image getOrvWallpaper(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    return lookup(screen, devicePixelRatio, origin, getWallpaperOrvProperties, nullptr, false);
}

Image getOrvLogo(const QRect &screen)
{
    return getOrvLogo(screen, 1.0, nullptr);
}

Image getOrvLogo(const QRect &screen, qreal devicePixelRatio)
{
    return getOrvLogo(screen, devicePixelRatio, nullptr);
}

Image getOrvLogo(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    return lookup(screen, devicePixelRatio, origin, nullptr, getLogoOrvProperties, false);
}

Image getOrvBackground(const QRect &screen)
{
    return getOrvBackground(screen, 1.0, nullptr);
}

Image getOrvBackground(const QRect &screen, qreal devicePixelRatio)
{
    return getOrvBackground(screen, devicePixelRatio, nullptr);
}

Image getOrvBackground(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin)
{
    // The greeter background: logo entries win, the configured logo as it is.
    return lookup(
        screen, devicePixelRatio, origin, getWallpaperOrvProperties, getLogoOrvProperties, false);
}

PropertyMap getWallpaperProperties(const QRect &screen, qreal devicePixelRatio)
{
    return scaled(getWallpaperProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
        Keys::ImageScreen, Keys::ImageDevicePixelRatio);
}

PropertyMap getLogoProperties(const QRect &screen, qreal devicePixelRatio)
{
    return scaled(getLogoProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
        Keys::LogoScreen, Keys::LogoDevicePixelRatio);
}

PropertyMap getWallpaperOrvProperties(const QRect &screen, qreal devicePixelRatio)
{
    return scaled(getWallpaperOrvProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
        Keys::ImageScreen, Keys::ImageDevicePixelRatio);
}

PropertyMap getLogoOrvProperties(const QRect &screen, qreal devicePixelRatio)
{
    return scaled(getLogoOrvProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
        Keys::LogoScreen, Keys::LogoDevicePixelRatio);
}

} // namespace VokImage
