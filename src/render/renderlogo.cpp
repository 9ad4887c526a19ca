// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imagefile_p.h"
#include "internal/defaults_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "render_p.h"

#include <vokimage/render.h>

#include <QFileInfo>
#include <QPainter>

#include <cmath>

namespace VokImage {

RenderLogo::RenderLogo(RenderEngine *engine, const QMap<QString, QVariant> &properties)
    : RenderFactory(engine, properties)
{ }

RenderLogo::~RenderLogo() = default;

qreal devicePixelRatioOf(const QMap<QString, QVariant> &properties, QLatin1String key)
{
    const qreal ratio = properties.value(key, 1.0).toDouble();
    return std::isfinite(ratio) && ratio > 0 ? ratio : 1.0;
}

QRect RenderLogo::getLogoArea(const QRect &screen, TaskbarPosition position, int height)
{
    const int w = screen.width();
    const int h = screen.height();
    switch (position) {
    case TaskbarPosition::Top:
        return QRect(0, height, w, h - height);
    case TaskbarPosition::Left:
        return QRect(height, 0, w - height, h);
    case TaskbarPosition::Right:
        return QRect(0, 0, w - height, h);
    case TaskbarPosition::Bottom:
        return QRect(0, 0, w, h - height);
    }
    return QRect(0, 0, w, h);
}

namespace {

// The size a logo file of @p natural size is drawn at: the "selka_logo" SVGs in proportion to
// the screen, others scaled by the ratio (a "@2x" file, @p sharp, at half its pixels).
QSize drawnSize(
    const QSize &natural, const QString &path, const QRect &screen, qreal ratio, bool sharp)
{
    if (path.contains(QLatin1String("selka_logo")) && path.endsWith(QLatin1String(".svg"))) {
        const int divisor = path.contains(QLatin1String("red")) ? 5 : 10;
        return natural.scaled(
            QSize(screen.width() / divisor, screen.height()), Qt::KeepAspectRatio);
    }
    if (ratio == 1 && !sharp)
        return natural;
    const qreal scale = ratio / (sharp ? 2 : 1);
    return QSize(qRound(natural.width() * scale), qRound(natural.height() * scale));
}

// The "@2x" file to try first above ratio 1: the one the map names or, in a map without the
// entry, the one that exists; null for none.
QString sharpFile(const QMap<QString, QVariant> &properties, const QString &path, qreal ratio)
{
    if (ratio <= 1)
        return QString();
    if (properties.contains(PropertyKey::LogoHighResolutionFile))
        return properties.value(PropertyKey::LogoHighResolutionFile).value<File>().path;
    const QString sharp = highResolutionPath(path);
    return QFileInfo::exists(sharp) ? sharp : QString();
}

} // namespace

void RenderLogo::render()
{
    const QString path = m_properties[PropertyKey::LogoPath].toString();
    const QRect screen = m_properties[PropertyKey::LogoScreen].toRect();
    const int position = m_properties[PropertyKey::LogoPosition].toInt();
    const QString taskbarPositionKey = PropertyKey::TaskbarPosition;
    const QString taskbarHeightKey = PropertyKey::TaskbarHeight;
    const int taskbarPosition = m_properties.contains(taskbarPositionKey)
        ? m_properties[taskbarPositionKey].toInt()
        : int(TaskbarPosition::Bottom);
    // On a HiDPI surface the logo keeps its logical size and place: sizes are scaled by the
    // ratio, and the taskbar band is measured in logical pixels.
    const qreal ratio = devicePixelRatioOf(m_properties, PropertyKey::LogoDevicePixelRatio);
    const int taskbarHeight
        = qRound((m_properties.contains(taskbarHeightKey) ? m_properties[taskbarHeightKey].toInt()
                                                          : Defaults::TaskbarHeight)
            * ratio);

    if (screen.width() < 1 || screen.height() < 1) {
        setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderLogo::render() - size is empty";
        return;
    }
    if (position == int(LogoPosition::NotShow) || path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        return;

    // A logo that cannot be used (refused or beyond the limits) is left out, with the
    // warning, and the rest of the picture is drawn. Above ratio 1 a raster logo's "@2x" file
    // is drawn when the map names one (or, in a map without the entry, when there is one); the
    // main file is drawn when that one cannot be. draw() is false for a file it cannot use.
    auto draw = [&](const ImageFile &file, bool sharp) {
        if (!file.isValid())
            return false;
        const QSize size = drawnSize(file.size(), path, screen, ratio, sharp);
        if (!sharp && (size.width() == 0 || size.height() == 0)) {
            setStatus(RenderEngine::Error);
            vokWarning(render) << "RenderLogo::render() - logo size is empty";
            return true;
        }
        if (size.isEmpty() || !file.withinLimits())
            return false;
        if (size.width() > MaxImageDimension || size.height() > MaxImageDimension) {
            vokWarning(render) << "Error image is too large:" << path << size;
            return false;
        }

        const QRect area = getLogoArea(screen, TaskbarPosition(taskbarPosition), taskbarHeight);
        const QPoint point = getLogoPosition(size, area, LogoPosition(position));
        QPoint at = area.topLeft() + point;
        QImage image;
        if (file.isLarge() && size == file.size()) {
            // Only the part of a large logo that meets the surface is decoded.
            const QRect part = QRect(-at, pixmap()->size()) & QRect(QPoint(0, 0), size);
            if (part.isEmpty())
                return true;
            image = file.readRegion(part);
            at += part.topLeft();
        } else {
            image = file.read(size);
        }
        if (image.isNull())
            return false;

        QPainter painter(pixmap());
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QPointF(at), image);
        return true;
    };

    const QString sharp = sharpFile(m_properties, path, ratio);
    if (!sharp.isEmpty() && draw(ImageFile(sharp), true))
        return;
    draw(ImageFile(path), false);
}

void chooseHighResolutionLogo(QMap<QString, QVariant> *properties)
{
    if (devicePixelRatioOf(*properties, PropertyKey::LogoDevicePixelRatio) <= 1)
        return;
    const QString sharp = highResolutionPath(properties->value(PropertyKey::LogoPath).toString());
    if (sharp.isEmpty()) {
        properties->remove(PropertyKey::LogoHighResolutionFile);
        return;
    }
    bool usable = false;
    if (QFileInfo::exists(sharp)) {
        const ImageFile file(sharp);
        usable = file.isValid() && file.size().isValid() && file.withinLimits();
    }
    properties->insert(
        PropertyKey::LogoHighResolutionFile, QVariant::fromValue(File(usable ? sharp : QString())));
}

} // namespace VokImage
