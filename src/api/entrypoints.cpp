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

FileSystemEngine engineOf(bool greeter)
{
    return FileSystemEngine(
        greeter ? FileSystemEngine::DisplayManager : FileSystemEngine::DesktopSession);
}

// The wallpaper map of the desktop, or with @p greeter of the greeter (blur and colour
// overlay added), for @p screen.
PropertyMap wallpaperProperties(const QRect &screen, bool greeter)
{
    FileSystemEngine engine = engineOf(greeter);
    QString path = engine.getProperty(ConfigKey::WallpaperPath).toString();
    const int position
        = wallpaperPosition(engine.getProperty(ConfigKey::WallpaperPosition).toString());
    PropertyMap result = DefaultWallpaperProperties;
    // The theme's dark wallpaper while the colour scheme prefers dark.
    const QString dark = greeter ? QString() : Config::darkWallpaper();
    if (!dark.isEmpty()) {
        path = dark;
        result[PropertyKey::ImageColorScheme] = QStringLiteral("dark");
    }
    QColor colour(GreeterDefaultColour);
    if (greeter) {
        result[PropertyKey::ImageColorOverlay]
            = Utils::getColor(engine.getProperty(ConfigKey::WallpaperColorOverlay).toString());
        const double radius = engine.getProperty(ConfigKey::WallpaperBlurEnable).toBool()
            ? engine.getProperty(ConfigKey::WallpaperBlurRadius).toReal()
            : 0;
        if (radius > 0)
            result[PropertyKey::ImageBlur] = radius;
    } else if (path == DefaultWallpaper || position == int(WallPaperPosition::Fit)) {
        // The desktop's primary colour colours its generated wallpaper and Fit's bars.
        colour = toColour(engine.getProperty(ConfigKey::PrimaryColor));
        result[PropertyKey::ImagePrimaryColor] = colour;
    }
    if (path == DefaultWallpaper)
        path = Utils::getVokDefaultWallpaper(screen, colour);
    result[PropertyKey::ImagePath] = QVariant::fromValue(File(pictureOfFolder(path, greeter)));
    result[PropertyKey::ImagePosition] = position;
    result[PropertyKey::ImageScreen] = screen;
    setDesktop(&result, applicationDesktop(screen));
    return result;
}

// The logo map of the desktop (taskbar entries included), or with @p greeter of the greeter.
PropertyMap logoProperties(const QRect &screen, bool greeter)
{
    FileSystemEngine engine = engineOf(greeter);
    const QString logoPath = engine.getProperty(ConfigKey::LogoPath).toString();
    const int position
        = lookup(LogoPositionNames, engine.getProperty(ConfigKey::LogoPosition).toString(),
            int(greeter ? LogoPosition::BottomRight : LogoPosition::NotShow));
    PropertyMap result = DefaultLogoProperties;
    if (greeter && engine.getProperty(ConfigKey::LogoBlur).toBool())
        result[PropertyKey::LogoBlur] = 5;
    result[PropertyKey::LogoPath] = logoPath;
    result[PropertyKey::LogoPosition] = position;
    result[PropertyKey::LogoScreen] = screen;
    if (!greeter) {
        const QString taskbar = engine.getProperty(ConfigKey::TaskbarPosition).toString();
        result[PropertyKey::TaskbarPosition] = lookup(TaskbarPositionNames, taskbar, -1);
        result[PropertyKey::TaskbarHeight] = engine.getProperty(ConfigKey::TaskbarHeight).toInt();
    }
    return result;
}

// The wallpaper map of @p screen at @p ratio: what the configuration names for the output
// wins over its general wallpaper and placement; a Span map holds the union.
PropertyMap screenWallpaper(const Screen &screen, qreal ratio, bool greeter)
{
    const QRect geometry = screen.geometry();
    PropertyMap map = wallpaperProperties(geometry, greeter);
    const Config::OutputWallpaper own = Config::outputWallpaper(screen.name(), greeter);
    if (!own.position.isEmpty())
        map[PropertyKey::ImagePosition] = wallpaperPosition(own.position);
    if (!own.path.isEmpty() || !own.position.isEmpty()) {
        FileSystemEngine engine = engineOf(greeter);
        const QString general = map.contains(PropertyKey::ImageColorScheme)
            ? Config::darkWallpaper()
            : engine.getProperty(ConfigKey::WallpaperPath).toString();
        const QString path = own.path.isEmpty() ? general : own.path;
        const QColor primary = toColour(engine.getProperty(ConfigKey::PrimaryColor));
        const bool fit
            = map.value(PropertyKey::ImagePosition).toInt() == int(WallPaperPosition::Fit);
        map.remove(PropertyKey::ImagePrimaryColor);
        if (!greeter && (path == DefaultWallpaper || fit))
            map[PropertyKey::ImagePrimaryColor] = primary;
        if (own.dark)
            map[PropertyKey::ImageColorScheme] = QStringLiteral("dark");
        else if (!own.path.isEmpty())
            map.remove(PropertyKey::ImageColorScheme);
        if (!own.path.isEmpty())
            map[PropertyKey::ImagePath] = QVariant::fromValue(
                File(path == DefaultWallpaper ? Utils::getVokDefaultWallpaper(
                         geometry, greeter ? QColor(GreeterDefaultColour) : primary)
                                              : pictureOfFolder(path, greeter)));
    }
    setDesktop(&map,
        screen.desktop().isValid() ? screen.desktop() | geometry : applicationDesktop(geometry));
    return scaled(
        map, geometry, ratio, PropertyKey::ImageScreen, PropertyKey::ImageDevicePixelRatio);
}

// The logo map of @p screen at @p ratio, the "@2x" file of a raster logo preferred above 1.
PropertyMap screenLogo(const QRect &screen, qreal ratio, bool greeter)
{
    PropertyMap map = scaled(logoProperties(screen, greeter), screen, ratio,
        PropertyKey::LogoScreen, PropertyKey::LogoDevicePixelRatio);
    chooseHighResolutionLogo(&map);
    return map;
}

Image layerImage(const QRect &screen, Lookup::Layer layer, bool greeter)
{
    return lookupImage(Screen(screen), layer, greeter, nullptr);
}

} // namespace

PropertyMap layerProperties(
    const Screen &screen, Lookup::Layer layer, bool greeter, qreal *devicePixelRatio)
{
    const qreal ratio = checkedRatio(screen.devicePixelRatio(), screen.geometry());
    PropertyMap map;
    if (layer != Lookup::Logo)
        map = screenWallpaper(screen, ratio, greeter);
    // The wallpaper's entries win for the desktop, the logo's for the greeter. The two maps
    // share no key today; the order says which side a key added to both would take.
    if (layer != Lookup::Wallpaper)
        map = greeter ? merged(map, screenLogo(screen.geometry(), ratio, greeter))
                      : merged(screenLogo(screen.geometry(), ratio, greeter), map);
    if (devicePixelRatio)
        *devicePixelRatio = ratio;
    return map;
}

Image lookupImage(const Screen &screen, Lookup::Layer layer, bool greeter, Cache::Origin *origin)
{
    qreal ratio = 1;
    const PropertyMap map = layerProperties(screen, layer, greeter, &ratio);
    // The desktop background chooses its logo variant; the greeter draws the configured one.
    const bool overloadLogo = !greeter && layer == Lookup::Background;
    return withRatio(Cache::getImageCache(map, overloadLogo, origin), ratio);
}

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
    return wallpaperProperties(screen, false);
}

PropertyMap getWallpaperOrvProperties(const QRect &screen)
{
    return wallpaperProperties(screen, true);
}

PropertyMap getLogoProperties(const QRect &screen)
{
    return logoProperties(screen, false);
}

PropertyMap getLogoOrvProperties(const QRect &screen)
{
    return logoProperties(screen, true);
}

Image getWallpaper(const QRect &screen)
{
    return layerImage(screen, Lookup::Wallpaper, false);
}

Image getOrvWallpaper(const QRect &screen)
{
    return layerImage(screen, Lookup::Wallpaper, true);
}

Image getLogo(const QRect &screen)
{
    return layerImage(screen, Lookup::Logo, false);
}

Image getOrvLogo(const QRect &screen)
{
    return layerImage(screen, Lookup::Logo, true);
}

Image getBackground(const QRect &screen)
{
    return layerImage(screen, Lookup::Background, false);
}

Image getOrvBackground(const QRect &screen)
{
    return layerImage(screen, Lookup::Background, true);
}

} // namespace VokImage
