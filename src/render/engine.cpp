// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/render.h>

#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "internal/picturememory_p.h"
#include "render_p.h"
#include "vocabulary/vocabulary_p.h"

#include <QList>
#include <QPainter>

#include <limits>
#include <memory>
#include <vector>

namespace VokImage {

namespace {
using Layers = std::vector<std::unique_ptr<RenderFactory>>;

void runLayers(const Layers &layers)
{
    for (const auto &layer : layers)
        layer->render();
}

double number(const QMap<QString, QVariant> &properties, const QString &key)
{
    return properties.value(key).toReal();
}
} // namespace

QSize surfaceSize(const QMap<QString, QVariant> &properties)
{
    QSize size(-1, -1);
    const QString imageScreen = PropertyKey::ImageScreen;
    const QString logoScreen = PropertyKey::LogoScreen;
    if (properties.contains(imageScreen))
        size = size.expandedTo(properties.value(imageScreen).toRect().size());
    if (properties.contains(logoScreen))
        size = size.expandedTo(properties.value(logoScreen).toRect().size());
    return size;
}

namespace {

// Where the blurs of a map apply: to the wallpaper before the logo is drawn, to the logo's own
// layer, or to the whole picture after both.
struct Blurs
{
    explicit Blurs(const QMap<QString, QVariant> &properties)
    {
        const bool hasImageBlur = properties.contains(PropertyKey::ImageBlur);
        const bool hasLogoBlur = properties.contains(PropertyKey::LogoBlur);
        // Radii are logical: at another device pixel ratio they are scaled by it, so that a
        // HiDPI background is the ratio-1 background at a finer resolution.
        const qreal ratio = devicePixelRatioOf(properties,
            properties.contains(PropertyKey::ImageDevicePixelRatio)
                ? PropertyKey::ImageDevicePixelRatio
                : PropertyKey::LogoDevicePixelRatio);
        imageRadius = number(properties, PropertyKey::ImageBlur) * ratio;
        logoRadius = number(properties, PropertyKey::LogoBlur) * ratio;
        wallpaper = hasImageBlur && !hasLogoBlur && imageRadius > 0;
        logo = !(hasImageBlur && imageRadius > 0) && hasLogoBlur && logoRadius > 0;
        whole = hasImageBlur && hasLogoBlur && imageRadius > 0;
    }
    double imageRadius = 0;
    double logoRadius = 0;
    bool wallpaper = false;
    bool logo = false;
    bool whole = false;
};

// The wallpaper pass alone: the file in its placement, then the wallpaper's own blur.
QPixmap wallpaperPass(RenderEngine *engine, const QMap<QString, QVariant> &properties)
{
    QPixmap *surface = engine->pixmap();
    RenderImage(engine, properties).render();
    const Blurs blurs(properties);
    if (blurs.wallpaper)
        RenderBlurEffects(engine, blurs.imageRadius).render();
    const QPixmap result = surface->copy();
    surface->fill(Qt::transparent);
    return result;
}

// A transparent surface of @p size; null when there is no memory for it.
QPixmap transparentSurface(const QSize &size)
{
    if (qint64(size.width()) * size.height() * 4 > std::numeric_limits<int>::max()) {
        // Beyond what a QImage holds: the pixmap fails as it always did.
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        return pixmap;
    }
    // Fresh memory from the system is already zero: no pass fills a large surface.
    QImage image = PictureMemory::zeroed(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(std::move(image));
}

} // namespace

StagedRender::StagedRender(RenderEngine &engine)
    : m_engine(engine)
{ }

bool StagedRender::paintWallpaper(const QMap<QString, QVariant> &properties)
{
    const QSize size = surfaceSize(properties);
    if (size.width() < 1 || size.height() < 1) {
        m_engine.setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderEngine::render() - screen size is empty";
        return false;
    }
    if (!withinRenderLimits(size)) {
        m_engine.setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderEngine::render() - screen size is too large" << size;
        return false;
    }
    if (!properties.contains(PropertyKey::ImagePath)
        && !properties.contains(PropertyKey::LogoPath)) {
        m_engine.setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderEngine::render() - image and logo path is empty";
        return false;
    }
    *m_engine.pixmap() = transparentSurface(size);
    if (m_engine.pixmap()->isNull()) {
        m_engine.setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderEngine::render() - painter is not active";
        return false;
    }
    // The layers are painted on the surface itself: the wallpaper over a transparent surface
    // and the logo over the wallpaper give the pixels that composing their separate layers
    // gives.
    if (properties.contains(PropertyKey::ImagePath))
        RenderImage(&m_engine, properties).render();
    m_painted = true;
    return true;
}

QImage StagedRender::wallpaperPicture(const QMap<QString, QVariant> &wallpaper) const
{
    const QPixmap *surface = m_engine.pixmap();
    if (!m_painted || surfaceSize(wallpaper) != surface->size())
        return QImage();
    const Blurs blurs(wallpaper);
    const bool overlay = wallpaper.contains(PropertyKey::ImageColorOverlay)
        && toColour(wallpaper.value(PropertyKey::ImageColorOverlay)).isValid();
    if (!blurs.wallpaper && !overlay)
        return surface->toImage();
    RenderEngine alone;
    *alone.pixmap() = surface->copy();
    if (blurs.wallpaper)
        RenderBlurEffects(&alone, blurs.imageRadius).render();
    alone.addEffects(wallpaper);
    return alone.pixmap()->toImage();
}

QPixmap StagedRender::finish(const QMap<QString, QVariant> &properties)
{
    if (!m_painted && !paintWallpaper(properties))
        return QPixmap();
    m_painted = false;
    QPixmap *surface = m_engine.pixmap();
    const Blurs blurs(properties);
    if (properties.contains(PropertyKey::ImagePath) && blurs.wallpaper)
        RenderBlurEffects(&m_engine, blurs.imageRadius).render();
    if (properties.contains(PropertyKey::LogoPath)) {
        if (blurs.logo) {
            // A blurred logo is blurred on a layer of its own, then composed.
            QPixmap wallpaper = std::move(*surface);
            *surface = transparentSurface(wallpaper.size());
            RenderLogo(&m_engine, properties).render();
            RenderBlurEffects(&m_engine, blurs.logoRadius).render();
            const QPixmap logo = std::move(*surface);
            *surface = std::move(wallpaper);
            QPainter painter(surface);
            painter.drawPixmap(QPointF(0, 0), logo);
        } else {
            RenderLogo(&m_engine, properties).render();
        }
    }
    m_engine.addEffects(properties);
    return *surface;
}

QPixmap RenderEngine::render(const QMap<QString, QVariant> &properties)
{
    return StagedRender(*this).finish(properties);
}

QPixmap RenderEngine::drawWallpaper(const QMap<QString, QVariant> &properties)
{
    if (!properties.contains(PropertyKey::ImagePath)) {
        vokWarning(render) << "RenderEngine::drawWallpaper() - image path is empty";
        return QPixmap();
    }
    return wallpaperPass(this, properties);
}

QPixmap RenderEngine::drawLogo(const QMap<QString, QVariant> &properties)
{
    if (!properties.contains(PropertyKey::LogoPath)) {
        vokWarning(render) << "RenderEngine::drawLogo() - logo path is empty";
        return QPixmap();
    }
    Layers layers;
    layers.push_back(std::make_unique<RenderLogo>(this, properties));
    const Blurs blurs(properties);
    if (blurs.logo)
        layers.push_back(std::make_unique<RenderBlurEffects>(this, blurs.logoRadius));
    runLayers(layers);

    const QPixmap result = m_pixmap.copy();
    m_pixmap.fill(Qt::transparent);
    return result;
}

void RenderEngine::addEffects(const QMap<QString, QVariant> &properties)
{
    Layers layers;
    const Blurs blurs(properties);
    if (blurs.whole)
        layers.push_back(std::make_unique<RenderBlurEffects>(this, blurs.imageRadius));

    if (properties.contains(PropertyKey::ImageColorOverlay)) {
        const QColor colour = toColour(properties.value(PropertyKey::ImageColorOverlay));
        if (colour.isValid())
            layers.push_back(std::make_unique<RenderColorOverlayEffects>(this, colour));
    }
    runLayers(layers);
}

QPixmap *RenderEngine::pixmap()
{
    return &m_pixmap;
}

RenderEngine::Status RenderEngine::getStatus() const
{
    return m_status;
}

void RenderEngine::setStatus(Status status)
{
    m_status = status;
}

RenderFactory::RenderFactory(RenderEngine *engine, const QMap<QString, QVariant> &properties)
    : m_engine(engine)
    , m_properties(properties)
{ }

RenderFactory::~RenderFactory() = default;

QPixmap *RenderFactory::pixmap()
{
    return m_engine->pixmap();
}

void RenderFactory::setStatus(RenderEngine::Status status)
{
    m_engine->setStatus(status);
}

} // namespace VokImage
