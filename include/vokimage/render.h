// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/vocabulary.h>

#include <QColor>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace VokImage {

/// How the layers treat a wallpaper or logo file (inspectPicture()).
struct PictureInfo
{
    /// True when the layers draw the file.
    bool usable = false;
    /// The format found in the file ("jpeg", "png", "svg"...); empty when it was refused.
    QByteArray format;
    /// The size the picture is shown at (its orientation applied); invalid when unknown.
    QSize size;
    /// Why the file is not drawn; empty when it is.
    QString problem;
};

/**
 * Judges the picture file @p path exactly as the wallpaper and logo layers read it: opened
 * without blocking, not followed as a link in a folder others can write to, within the byte,
 * SVG, dimension and pixel caps, an SVG in such a folder self-contained. Reads the header only;
 * warns as a render does.
 */
VOKIMAGE_EXPORT PictureInfo inspectPicture(const QString &path);

/**
 * Turns one property map into one picture: a wallpaper pass, a logo pass and a pass of
 * whole-picture effects, painted on a working pixmap. Needs a running QGuiApplication.
 * One engine serves one render.
 */
class VOKIMAGE_EXPORT RenderEngine
{
public:
    enum Status { Ok = 0, Error = 1 };

    RenderEngine() = default;

    /// The whole picture, or a null pixmap (status Error). A non-null picture with status
    /// Error is incomplete: some layer failed.
    QPixmap render(const QMap<QString, QVariant> &properties);
    /// The wallpaper pass alone; expects the surface that render() creates.
    QPixmap drawWallpaper(const QMap<QString, QVariant> &properties);
    /// The logo pass alone; expects the surface that render() creates.
    QPixmap drawLogo(const QMap<QString, QVariant> &properties);
    /// Blur of the composed picture and colour overlay, painted into the surface.
    void addEffects(const QMap<QString, QVariant> &properties);

    /// The working surface.
    QPixmap *pixmap();
    /// Ok until some step fails; never set back.
    Status getStatus() const;
    void setStatus(Status status);

private:
    Q_DISABLE_COPY(RenderEngine)
    Status m_status = Ok;
    QPixmap m_pixmap;
};

/// Base of the layers: a layer paints into its engine's surface from its own property map.
class VOKIMAGE_EXPORT RenderFactory
{
public:
    RenderFactory(RenderEngine *engine, const QMap<QString, QVariant> &properties);
    virtual ~RenderFactory();
    virtual void render() = 0;

    /// The engine's surface.
    QPixmap *pixmap();
    /// Reports a failure (or success) to the engine.
    void setStatus(RenderEngine::Status status);

protected:
    RenderEngine *m_engine;
    QMap<QString, QVariant> m_properties;

private:
    Q_DISABLE_COPY(RenderFactory)
};

/// The wallpaper layer: an image file in one of four placements, or a "#" colour.
class VOKIMAGE_EXPORT RenderImage : public RenderFactory
{
public:
    RenderImage(RenderEngine *engine, const QMap<QString, QVariant> &properties);
    ~RenderImage() override;
    void render() override;

    class Private;

private:
    const std::unique_ptr<Private> d;
};

/// The logo layer: the logo at its anchor inside the area the taskbar leaves free.
class VOKIMAGE_EXPORT RenderLogo : public RenderFactory
{
public:
    RenderLogo(RenderEngine *engine, const QMap<QString, QVariant> &properties);
    ~RenderLogo() override;
    void render() override;

    /// The part of @p screen (origin at its top-left) that a taskbar of @p height at
    /// @p position leaves free; the whole screen for positions outside 0 to 3.
    static QRect getLogoArea(const QRect &screen, TaskbarPosition position, int height);
};

/// Blurs the surface (Qt's qt_blurImage with twice the radius, full quality).
class VOKIMAGE_EXPORT RenderBlurEffects : public RenderFactory
{
public:
    RenderBlurEffects(RenderEngine *engine, double radius);
    ~RenderBlurEffects() override;
    void render() override;

private:
    double m_radius;
};

/// Lays a colour, with its alpha, over the whole surface.
class VOKIMAGE_EXPORT RenderColorOverlayEffects : public RenderFactory
{
public:
    RenderColorOverlayEffects(RenderEngine *engine, QColor color);
    ~RenderColorOverlayEffects() override;
    void render() override;

private:
    QColor m_color;
};

/// The offset from @p screen's top-left at which @p rect lies once moved inside @p screen.
VOKIMAGE_EXPORT QPoint fitToScreen(QRect rect, QRect screen);
/// The top-left of a logo of @p size at @p position, as an offset from @p area's top-left.
VOKIMAGE_EXPORT QPoint getLogoPosition(QSize size, QRect area, LogoPosition position);
/// As getLogoPosition(), from an X11 geometry string such as "-10-20"; needs no display.
VOKIMAGE_EXPORT QPoint getLogoPositionX11(QSize size, QRect screen, const QString &geometry);
/// True when dark text (or a dark logo) suits @p colour; true for an invalid colour.
VOKIMAGE_EXPORT bool isTextColorBlack(const QColor &colour);
/// 1 when light text suits the region, 0 when dark text does, -1 when it is mixed.
VOKIMAGE_EXPORT int isTextWhiteFor(const QImage &image, const QRect &rect);
/// The first of @p colours found in @p text ignoring case, or a null string.
VOKIMAGE_EXPORT QString containsColor(const QString &text, const QStringList &colours);

} // namespace VokImage
