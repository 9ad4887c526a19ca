// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/render.h>

#include <QPainter>

// Exported by Qt Widgets; the routine behind QGraphicsBlurEffect.
Q_DECL_IMPORT void qt_blurImage(
    QPainter *p, QImage &blurImage, qreal radius, bool quality, bool alphaOnly, int transposed = 0);

namespace VokImage {

RenderBlurEffects::RenderBlurEffects(RenderEngine *engine, double radius)
    : RenderFactory(engine, { { QStringLiteral("radius"), radius } })
    , m_radius(radius)
{ }

RenderBlurEffects::~RenderBlurEffects() = default;

void RenderBlurEffects::render()
{
    QImage source = pixmap()->toImage();
    if (source.isNull())
        return;
    QImage blurred(source.size(), QImage::Format_ARGB32_Premultiplied);
    blurred.fill(0);
    QPainter blurPainter(&blurred);
    qt_blurImage(&blurPainter, source, 2 * m_radius, true, false, 0);
    blurPainter.end();

    QPainter painter(pixmap());
    painter.drawImage(QPointF(0, 0), blurred);
}

RenderColorOverlayEffects::RenderColorOverlayEffects(RenderEngine *engine, QColor color)
    : RenderFactory(engine, { { QStringLiteral("colorOverlay"), color } })
    , m_color(color)
{ }

RenderColorOverlayEffects::~RenderColorOverlayEffects() = default;

void RenderColorOverlayEffects::render()
{
    if (!m_color.isValid()) {
        qWarning() << "RenderColorOverlayEffects::render() color is invalid";
        return;
    }
    QPainter painter(pixmap());
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(painter.viewport(), m_color);
}

} // namespace VokImage
