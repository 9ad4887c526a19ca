// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/cache.h>
#include <vokimage/logo.h>
#include <vokimage/render.h>

#include "cache_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "render/render_p.h"

#include <QDebug>

namespace VokImage {
namespace Cache {

namespace {

const QString LogoPathKey = PropertyKey::LogoPath;

// The stored record of @p properties, if there is a loadable one.
bool tryLoadImageCache(
    const QMap<QString, QVariant> &properties, Image *record, Origin *origin = nullptr)
{
    return loadStored(properties, keyOf(properties), record, origin);
}

QString wallpaperPath(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<File>())
        return value.value<File>().path;
    return value.toString();
}

// The logo variant for the brightness of @p background under it. A HiDPI background is judged
// over the same logical area as at ratio 1.
QString chosenLogo(const QMap<QString, QVariant> &properties, const QImage &background)
{
    const qreal ratio = devicePixelRatioOf(properties, PropertyKey::LogoDevicePixelRatio);
    QImage view = background;
    if (ratio != 1 && !background.isNull()) {
        // A view of the same pixels, so that marking its ratio copies nothing.
        view = QImage(const_cast<uchar *>(background.constBits()), background.width(),
            background.height(), background.bytesPerLine(), background.format());
        view.setDevicePixelRatio(ratio);
    }
    return getCurrentLogoPath(properties.value(LogoPathKey).toString(),
        LogoPosition(properties.value(PropertyKey::LogoPosition).toInt()), view);
}

Image searchOtherLogos(const QMap<QString, QVariant> &properties, bool *ok, Origin *origin)
{
    auto answer = [ok](bool found, const Image &record) {
        if (ok)
            *ok = found;
        return record;
    };
    QMap<QString, QVariant> copy = properties;
    const QString logoPath = copy.value(LogoPathKey).toString();
    if (logoPath.isEmpty()) {
        vokWarning(cache) << "Error logo path is empty";
        return answer(false, Image());
    }
    for (const QStringList *words : { &DarkColors, &LightColors }) {
        if (containsColor(logoPath, *words).isEmpty())
            continue;
        const QString other = getLogoPath(logoPath, words == &DarkColors);
        if (other == logoPath)
            continue;
        copy[LogoPathKey] = other;
        chooseHighResolutionLogo(&copy);
        Image record;
        if (tryLoadImageCache(copy, &record, origin)) {
            vokNote() << "found in cache with different logo: " << copy;
            return answer(true, record);
        }
    }
    return answer(false, Image());
}
} // namespace

Image searchCacheWithDifferentLogos(const QMap<QString, QVariant> &properties, bool *ok)
{
    return searchOtherLogos(properties, ok, nullptr);
}

Image getImageCacheWithOverloadedLogo(const QMap<QString, QVariant> &properties)
{
    return sharedLookup(properties, true, nullptr);
}

Image overloadedLookup(const QMap<QString, QVariant> &properties, Origin *origin)
{
    Image record;
    if (tryLoadImageCache(properties, &record, origin))
        return record;
    const QString logoPath = properties.value(LogoPathKey).toString();
    if (logoPath.isEmpty() || wallpaperPath(properties.value(PropertyKey::ImagePath)).isEmpty())
        return renderAndStore(properties, keyOf(properties), origin);

    bool found = false;
    record = searchOtherLogos(properties, &found, origin);
    if (found)
        return record;

    QMap<QString, QVariant> wallpaper;
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
        if (it.key().contains(QLatin1String("ImageProperty")))
            wallpaper.insert(it.key(), it.value());

    // The brightness under the logo is judged on the picture of the wallpaper alone; the
    // final render goes on from the wallpaper painted for it.
    RenderEngine engine;
    StagedRender staged(engine);
    QString chosen;
    if (tryLoadImageCache(wallpaper, &record)) {
        chosen = chosenLogo(properties, record.image);
    } else {
        // A map whose logo screen is larger than its wallpaper's has a surface of another
        // size: the wallpaper alone is rendered apart.
        QImage background;
        RenderEngine alone;
        if (surfaceSize(wallpaper) == surfaceSize(properties)) {
            staged.paintWallpaper(properties);
            background = staged.wallpaperPicture(wallpaper);
        } else {
            background = alone.render(wallpaper).toImage();
        }
        if (engine.getStatus() != RenderEngine::Ok || alone.getStatus() != RenderEngine::Ok) {
            vokWarning(cache) << "Error render image" << wallpaper;
            return Image();
        }
        chosen = chosenLogo(properties, background);
    }

    QMap<QString, QVariant> copy = properties;
    if (chosen != logoPath) {
        vokNote() << "Overloaded logo: " << chosen;
        copy[LogoPathKey] = chosen;
        chooseHighResolutionLogo(&copy);
        if (tryLoadImageCache(copy, &record, origin))
            return record;
    }
    return renderAndStore(copy, keyOf(copy), origin, &staged);
}

} // namespace Cache
} // namespace VokImage
