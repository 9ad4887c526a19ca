// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "internal/limits_p.h"

#include <QImage>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>

namespace VokImage {

class RenderEngine;

/**
 * RenderEngine::render() in two stages, so that the picture of the wallpaper entries alone can
 * be looked at before the rest is drawn, with the same wallpaper and perhaps another logo.
 */
class StagedRender
{
public:
    explicit StagedRender(RenderEngine &engine);

    /**
     * Paints the wallpaper entries of @p properties on a new surface of the map's size; false,
     * with status Error, when nothing can be rendered. A failing layer sets status Error and
     * returns true, as render() goes on with an incomplete picture.
     */
    bool paintWallpaper(const QMap<QString, QVariant> &properties);
    /**
     * The picture RenderEngine::render() gives for @p wallpaper, a map of wallpaper entries
     * alone (the same as those painted); null when the surface is not of its size.
     */
    QImage wallpaperPicture(const QMap<QString, QVariant> &wallpaper) const;
    /**
     * The picture of @p properties, which has the painted wallpaper entries (painted now when
     * paintWallpaper() was not called): what RenderEngine::render() returns.
     */
    QPixmap finish(const QMap<QString, QVariant> &properties);
    /// The engine painted with.
    RenderEngine &engine() const { return m_engine; }

private:
    RenderEngine &m_engine;
    bool m_painted = false;
};

/**
 * Above ratio 1, records in @p properties the "@2x" file of its raster logo that will be drawn
 * (Keys::LogoHighResolutionFile): the file when it exists and is accepted, else an empty path.
 * Maps at ratio 1 and vector logos are left as they are.
 */
void chooseHighResolutionLogo(QMap<QString, QVariant> *properties);

/// The device pixel ratio a map asks for under @p key; 1 when it names none.
qreal devicePixelRatioOf(const QMap<QString, QVariant> &properties, QLatin1String key);

/// The size of the surface a render of @p properties paints: the union of its screen sizes.
QSize surfaceSize(const QMap<QString, QVariant> &properties);

} // namespace VokImage
