// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>
#include <vokimage/config.h>
#include <vokimage/utils.h>

#include "api_p.h"
#include "config/config_p.h"
#include "internal/defaults_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "render/render_p.h"
#include "vocabulary/vocabulary_p.h"

#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <cmath>
#include <mutex>

namespace VokImage {

namespace {

using PropertyMap = QMap<QString, QVariant>;

const QString GreeterDefaultColour = Defaults::GreeterColour;

template <typename Enum>
int lookup(const QMap<QString, Enum> &table, const QString &name, int fallback)
{
    const auto it = table.constFind(name);
    return it == table.constEnd() ? fallback : int(*it);
}

// The placement of the word @p word: a specified word, an added one, else Crop.
int wallpaperPosition(const QString &word)
{
    return lookup(WallPaperPositionNames, word,
        lookup(MoreWallPaperPositionNames, word, int(WallPaperPosition::Crop)));
}

// @p base with every entry of @p over inserted: an entry of @p over wins.
PropertyMap merged(PropertyMap base, const PropertyMap &over)
{
    base.insert(over);
    return base;
}

// @p ratio when it can be used for @p screen; otherwise 1, with a warning.
qreal checkedRatio(qreal ratio, const QRect &screen)
{
    if (ratio == 1)
        return 1;
    if (!std::isfinite(ratio) || ratio <= 0 || ratio > MaxDevicePixelRatio
        || !withinRenderLimits(
            qRound64(screen.width() * ratio), qRound64(screen.height() * ratio))) {
        vokWarning(render) << "Error device pixel ratio is not usable, 1 is used:" << ratio;
        return 1;
    }
    return ratio;
}

// A map for a device pixel ratio: its screen in device pixels and the ratio beside it. A ratio
// of 1 leaves the map as it is.
PropertyMap scaled(PropertyMap map, const QRect &screen, qreal ratio, QLatin1String screenKey,
    QLatin1String ratioKey)
{
    if (ratio == 1)
        return map;
    const auto device = [ratio](const QRect &rect) {
        return QRect(qRound(rect.x() * ratio), qRound(rect.y() * ratio),
            qRound(rect.width() * ratio), qRound(rect.height() * ratio));
    };
    map[screenKey] = device(screen);
    if (map.contains(PropertyKey::ImageDesktop))
        map[PropertyKey::ImageDesktop] = device(map.value(PropertyKey::ImageDesktop).toRect());
    map[ratioKey] = double(ratio);
    return map;
}

// A Span map holds the union of the screens; no other map does.
void setDesktop(PropertyMap *map, const QRect &desktop)
{
    if (map->value(PropertyKey::ImagePosition).toInt() == int(WallPaperPosition::Span))
        map->insert(PropertyKey::ImageDesktop, desktop);
    else
        map->remove(PropertyKey::ImageDesktop);
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
// (@p overloadLogo), the logo's for the greeter. The two maps share no key today; the
// order says which side a key added to both would take, and is kept as documented.
Image compose(PropertyMap map, const QRect &screen, qreal ratio, Cache::Origin *origin,
    Builder logo, bool overloadLogo)
{
    if (logo)
        map = overloadLogo ? merged(logo(screen, ratio), map) : merged(map, logo(screen, ratio));
    return withRatio(Cache::getImageCache(map, overloadLogo, origin), ratio);
}

Image lookup(const QRect &screen, qreal devicePixelRatio, Cache::Origin *origin, Builder wallpaper,
    Builder logo, bool overloadLogo)
{
    const qreal ratio = checkedRatio(devicePixelRatio, screen);
    return compose(wallpaper ? wallpaper(screen, ratio) : PropertyMap(), screen, ratio, origin,
        logo, overloadLogo);
}

// The wallpaper map of @p output at @p ratio: what the configuration names for the output
// wins over its general wallpaper and placement; a Span map holds the union.
PropertyMap outputWallpaper(const Output &output, qreal ratio, bool greeter)
{
    const QRect &screen = output.geometry;
    PropertyMap map = greeter ? getWallpaperOrvProperties(screen) : getWallpaperProperties(screen);
    const Config::OutputWallpaper own = Config::outputWallpaper(output.name, greeter);
    if (!own.position.isEmpty())
        map[PropertyKey::ImagePosition] = wallpaperPosition(own.position);
    if (!own.path.isEmpty() || !own.position.isEmpty()) {
        FileSystemEngine engine(
            greeter ? FileSystemEngine::DisplayManager : FileSystemEngine::DesktopSession);
        const QString path = own.path.isEmpty()
            ? engine.getProperty(ConfigKey::WallpaperPath).toString()
            : own.path;
        const QColor primary = toColour(engine.getProperty(ConfigKey::PrimaryColor));
        const bool fit
            = map.value(PropertyKey::ImagePosition).toInt() == int(WallPaperPosition::Fit);
        // The desktop's primary colour colours its generated wallpaper and Fit's bars.
        map.remove(PropertyKey::ImagePrimaryColor);
        if (!greeter && (path == DefaultWallpaper || fit))
            map[PropertyKey::ImagePrimaryColor] = primary;
        if (!own.path.isEmpty())
            map[PropertyKey::ImagePath] = QVariant::fromValue(
                File(path == DefaultWallpaper ? Utils::getVokDefaultWallpaper(
                         screen, greeter ? QColor(GreeterDefaultColour) : primary)
                                              : pictureOfFolder(path, greeter)));
    }
    setDesktop(
        &map, output.desktop.isValid() ? output.desktop | screen : applicationDesktop(screen));
    return scaled(map, screen, ratio, PropertyKey::ImageScreen, PropertyKey::ImageDevicePixelRatio);
}

// The picture of @p output: its wallpaper map (the desktop's, or the greeter's with
// @p greeter) and, when given, the logo map of @p logo, as lookup() merges them.
Image outputLookup(
    const Output &output, Cache::Origin *origin, bool greeter, Builder logo, bool overloadLogo)
{
    const qreal ratio = checkedRatio(output.devicePixelRatio, output.geometry);
    return compose(outputWallpaper(output, ratio, greeter), output.geometry, ratio, origin, logo,
        overloadLogo);
}

} // namespace

namespace {

std::mutex clockMutex;
std::function<qint64()> injectedClock;

} // namespace

void setClock(std::function<qint64()> clock)
{
    const std::lock_guard<std::mutex> lock(clockMutex);
    injectedClock = std::move(clock);
}

qint64 clockSeconds()
{
    const std::lock_guard<std::mutex> lock(clockMutex);
    return injectedClock ? injectedClock() : QDateTime::currentSecsSinceEpoch();
}

qint64 untilNextPicture(int interval)
{
    const qint64 step = qMax(1, interval);
    const qint64 now = clockSeconds();
    return ((now / step + 1) * step - now) * 1000;
}

QRect applicationDesktop(const QRect &screen)
{
    QRect all = screen;
    const QCoreApplication *application = QCoreApplication::instance();
    if (qobject_cast<const QGuiApplication *>(application)
        && QThread::currentThread() == application->thread())
        for (const QScreen *each : QGuiApplication::screens())
            all |= each->geometry();
    return all;
}

PropertyMap getWallpaperProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    QString path = engine.getProperty(ConfigKey::WallpaperPath).toString();
    const int position
        = wallpaperPosition(engine.getProperty(ConfigKey::WallpaperPosition).toString());
    PropertyMap result = DefaultWallpaperProperties;
    // Fit's bars are the theme's primary colour.
    if (path == DefaultWallpaper || position == int(WallPaperPosition::Fit))
        result[PropertyKey::ImagePrimaryColor]
            = toColour(engine.getProperty(ConfigKey::PrimaryColor));
    if (path == DefaultWallpaper)
        path = Utils::getVokDefaultWallpaper(
            screen, result.value(PropertyKey::ImagePrimaryColor).value<QColor>());
    path = pictureOfFolder(path, false);
    result[PropertyKey::ImagePath] = QVariant::fromValue(File(path));
    result[PropertyKey::ImagePosition] = position;
    result[PropertyKey::ImageScreen] = screen;
    setDesktop(&result, applicationDesktop(screen));
    return result;
}

PropertyMap getLogoProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    const QString logoPath = engine.getProperty(ConfigKey::LogoPath).toString();
    const int logoPosition = lookup(LogoPositionNames,
        engine.getProperty(ConfigKey::LogoPosition).toString(), int(LogoPosition::NotShow));
    PropertyMap result = DefaultLogoProperties;
    result[PropertyKey::LogoPath] = logoPath;
    result[PropertyKey::LogoPosition] = logoPosition;
    result[PropertyKey::LogoScreen] = screen;
    const QString taskbarName = engine.getProperty(ConfigKey::TaskbarPosition).toString();
    const int taskbarHeight = engine.getProperty(ConfigKey::TaskbarHeight).toInt();
    result[PropertyKey::TaskbarPosition] = lookup(TaskbarPositionNames, taskbarName, -1);
    result[PropertyKey::TaskbarHeight] = taskbarHeight;
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
    QString path = engine.getProperty(ConfigKey::WallpaperPath).toString();
    const int position
        = wallpaperPosition(engine.getProperty(ConfigKey::WallpaperPosition).toString());
    const QColor overlay
        = Utils::getColor(engine.getProperty(ConfigKey::WallpaperColorOverlay).toString());
    const bool blurEnabled = engine.getProperty(ConfigKey::WallpaperBlurEnable).toBool();
    PropertyMap result = DefaultWallpaperProperties;
    if (blurEnabled) {
        const double radius = engine.getProperty(ConfigKey::WallpaperBlurRadius).toReal();
        if (radius > 0)
            result[PropertyKey::ImageBlur] = radius;
    }
    if (path == DefaultWallpaper) {
        QColor colour;
        colour.setNamedColor(GreeterDefaultColour);
        path = Utils::getVokDefaultWallpaper(screen, colour);
    }
    path = pictureOfFolder(path, true);
    result[PropertyKey::ImagePath] = QVariant::fromValue(File(path));
    result[PropertyKey::ImagePosition] = position;
    result[PropertyKey::ImageScreen] = screen;
    result[PropertyKey::ImageColorOverlay] = overlay;
    setDesktop(&result, applicationDesktop(screen));
    return result;
}

PropertyMap getLogoOrvProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString logoPath = engine.getProperty(ConfigKey::LogoPath).toString();
    const int position = lookup(LogoPositionNames,
        engine.getProperty(ConfigKey::LogoPosition).toString(), int(LogoPosition::BottomRight));
    const bool blur = engine.getProperty(ConfigKey::LogoBlur).toBool();
    PropertyMap result = DefaultLogoProperties;
    if (blur)
        result[PropertyKey::LogoBlur] = 5;
    result[PropertyKey::LogoPath] = logoPath;
    result[PropertyKey::LogoPosition] = position;
    result[PropertyKey::LogoScreen] = screen;
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
        PropertyKey::ImageScreen, PropertyKey::ImageDevicePixelRatio);
}

PropertyMap getLogoProperties(const QRect &screen, qreal devicePixelRatio)
{
    PropertyMap map
        = scaled(getLogoProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
            PropertyKey::LogoScreen, PropertyKey::LogoDevicePixelRatio);
    chooseHighResolutionLogo(&map);
    return map;
}

PropertyMap getWallpaperOrvProperties(const QRect &screen, qreal devicePixelRatio)
{
    return scaled(getWallpaperOrvProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
        PropertyKey::ImageScreen, PropertyKey::ImageDevicePixelRatio);
}

PropertyMap getLogoOrvProperties(const QRect &screen, qreal devicePixelRatio)
{
    PropertyMap map
        = scaled(getLogoOrvProperties(screen), screen, checkedRatio(devicePixelRatio, screen),
            PropertyKey::LogoScreen, PropertyKey::LogoDevicePixelRatio);
    chooseHighResolutionLogo(&map);
    return map;
}

PropertyMap getWallpaperProperties(const Output &output)
{
    return outputWallpaper(output, checkedRatio(output.devicePixelRatio, output.geometry), false);
}

PropertyMap getWallpaperOrvProperties(const Output &output)
{
    return outputWallpaper(output, checkedRatio(output.devicePixelRatio, output.geometry), true);
}

Image getWallpaper(const Output &output, Cache::Origin *origin)
{
    return outputLookup(output, origin, false, nullptr, false);
}

Image getLogo(const Output &output, Cache::Origin *origin)
{
    return getLogo(output.geometry, output.devicePixelRatio, origin);
}

Image getBackground(const Output &output, Cache::Origin *origin)
{
    return outputLookup(output, origin, false, getLogoProperties, true);
}

Image getOrvWallpaper(const Output &output, Cache::Origin *origin)
{
    return outputLookup(output, origin, true, nullptr, false);
}

Image getOrvLogo(const Output &output, Cache::Origin *origin)
{
    return getOrvLogo(output.geometry, output.devicePixelRatio, origin);
}

Image getOrvBackground(const Output &output, Cache::Origin *origin)
{
    return outputLookup(output, origin, true, getLogoOrvProperties, false);
}

} // namespace VokImage
