// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/render.h>

#include "render_p.h"
#include "vocabulary/keys_p.h"
#include "vocabulary/vocabulary_p.h"

#include <QList>
#include <QPainter>

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

// The wallpaper pass: the file in its placement (or @p replay, the same layer kept by an earlier
// pass), then the wallpaper's own blur. @p keep receives the layer before the blur.
QPixmap wallpaperPass(RenderEngine *engine, const QMap<QString, QVariant> &properties,
    const QImage *replay, QImage *keep)
{
    QPixmap *surface = engine->pixmap();
    Layers layers;
    if (replay && replay->size() == surface->size()) {
        // The surface is the one render() has just cleared: painting the kept layer gives it
        // the pixels the file would.
        QPainter painter(surface);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPointF(0, 0), *replay);
    } else {
        RenderImage(engine, properties).render();
    }
    if (keep)
        *keep = surface->toImage();
    const double radius = number(properties, PropertyKey::ImageBlur);
    if (properties.contains(PropertyKey::ImageBlur) && !properties.contains(PropertyKey::LogoBlur)
        && radius > 0)
        layers.push_back(std::make_unique<RenderBlurEffects>(engine, radius));
    runLayers(layers);

    const QPixmap result = surface->copy();
    surface->fill(Qt::transparent);
    return result;
}

// RenderEngine::render(), with the wallpaper layer given (@p replay) or handed back (@p keep).
QPixmap renderPicture(RenderEngine *engine, const QMap<QString, QVariant> &properties,
    const QImage *replay, QImage *keep)
{
    const QSize size = surfaceSize(properties);

    if (size.width() < 1 || size.height() < 1) {
        engine->setStatus(RenderEngine::Error);
        qWarning() << "RenderEngine::render() - screen size is empty";
        return QPixmap();
    }
    const bool hasImage = properties.contains(PropertyKey::ImagePath);
    const bool hasLogo = properties.contains(PropertyKey::LogoPath);
    if (!hasImage && !hasLogo) {
        engine->setStatus(RenderEngine::Error);
        qWarning() << "RenderEngine::render() - image and logo path is empty";
        return QPixmap();
    }

    QPixmap *surface = engine->pixmap();
    *surface = QPixmap(size);
    surface->fill(Qt::transparent);

    const QPixmap wallpaper
        = hasImage ? wallpaperPass(engine, properties, replay, keep) : QPixmap();
    if (hasImage && wallpaper.isNull()) {
        engine->setStatus(RenderEngine::Error);
        return QPixmap();
    }
    const QPixmap logo = hasLogo ? engine->drawLogo(properties) : QPixmap();
    if (hasLogo && logo.isNull()) {
        engine->setStatus(RenderEngine::Error);
        return QPixmap();
    }

    QPainter painter(surface);
    if (!painter.isActive()) {
        engine->setStatus(RenderEngine::Error);
        qWarning() << "RenderEngine::render() - painter is not active";
        return QPixmap();
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!wallpaper.isNull())
        painter.drawPixmap(QPointF(0, 0), wallpaper);
    if (!logo.isNull())
        painter.drawPixmap(QPointF(0, 0), logo);
    painter.end();

    engine->addEffects(properties);
    return QPixmap(*surface);
}

} // namespace

QPixmap renderKeepingWallpaper(
    RenderEngine &engine, const QMap<QString, QVariant> &properties, QImage *wallpaperLayer)
{
    return renderPicture(&engine, properties, nullptr, wallpaperLayer);
}

QPixmap renderWithWallpaper(
    RenderEngine &engine, const QMap<QString, QVariant> &properties, const QImage &wallpaperLayer)
{
    return renderPicture(&engine, properties, &wallpaperLayer, nullptr);
}

QPixmap RenderEngine::render(const QMap<QString, QVariant> &properties)
{
    return renderPicture(this, properties, nullptr, nullptr);
}

QPixmap RenderEngine::drawWallpaper(const QMap<QString, QVariant> &properties)
{
    if (!properties.contains(PropertyKey::ImagePath)) {
        qWarning() << "RenderEngine::drawWallpaper() - image path is empty";
        return QPixmap();
    }
    return wallpaperPass(this, properties, nullptr, nullptr);
}

QPixmap RenderEngine::drawLogo(const QMap<QString, QVariant> &properties)
{
    if (!properties.contains(PropertyKey::LogoPath)) {
        qWarning() << "RenderEngine::drawLogo() - logo path is empty";
        return QPixmap();
    }
    Layers layers;
    layers.push_back(std::make_unique<RenderLogo>(this, properties));
    const bool imageBlurred = properties.contains(PropertyKey::ImageBlur)
        && number(properties, PropertyKey::ImageBlur) > 0;
    const double radius = number(properties, PropertyKey::LogoBlur);
    if (!imageBlurred && properties.contains(PropertyKey::LogoBlur) && radius > 0)
        layers.push_back(std::make_unique<RenderBlurEffects>(this, radius));
    runLayers(layers);

    const QPixmap result = m_pixmap.copy();
    m_pixmap.fill(Qt::transparent);
    return result;
}

void RenderEngine::addEffects(const QMap<QString, QVariant> &properties)
{
    Layers layers;
    const double radius = number(properties, PropertyKey::ImageBlur);
    if (properties.contains(PropertyKey::ImageBlur) && properties.contains(PropertyKey::LogoBlur)
        && radius > 0)
        layers.push_back(std::make_unique<RenderBlurEffects>(this, radius));

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
