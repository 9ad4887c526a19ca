// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/render.h>

#include <QPainter>

#include "internal/logging_p.h"
#include "internal/qtprivate_p.h"

namespace VokImage {

RenderBlurEffects::RenderBlurEffects(RenderEngine *engine, double radius)
    : RenderFactory(engine, { { QStringLiteral("radius"), radius } })
    , m_radius(radius)
{ }

RenderBlurEffects::~RenderBlurEffects() = default;

void RenderBlurEffects::render()
{
    QImage blurred = pixmap()->toImage();
    if (blurred.isNull())
        return;
    // Qt's routine blurs a copy (at half size for larger radii), which is drawn over the
    // surface as the routine draws it when given a painter. Called without one, the copy no
    // longer shares the surface when the painter starts, so the surface is not copied.
    const QSize full = blurred.size();
    qt_blurImage(nullptr, blurred, 2 * m_radius, true, false, 0);
    const qreal scale = blurred.size() == full ? 1 : 2;
    QPainter painter(pixmap());
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), blurred.size() / blurred.devicePixelRatioF()), blurred);
}

RenderColorOverlayEffects::RenderColorOverlayEffects(RenderEngine *engine, QColor color)
    : RenderFactory(engine, { { QStringLiteral("colorOverlay"), color } })
    , m_color(color)
{ }

RenderColorOverlayEffects::~RenderColorOverlayEffects() = default;

void RenderColorOverlayEffects::render()
{
    if (!m_color.isValid()) {
        vokWarning(render) << "RenderColorOverlayEffects::render() color is invalid";
        return;
    }
    QPainter painter(pixmap());
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(painter.viewport(), m_color);
}

} // namespace VokImage
