// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imagefile_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "png/png_p.h"
#include "render_p.h"

#include <vokimage/render.h>

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <cmath>

namespace VokImage {

namespace {

// The part @p part of the picture scaled smoothly to @p covering, made from the source pixels
// that part shows (and a pixel around them for the filter) alone: for coverings beyond the
// render limits, which are never made whole. Its pixels differ from those of a whole scale by a
// few levels at most. Null when it cannot be made within the limits.
QImage coveringPart(const ImageFile &file, const QSize &covering, const QRect &part)
{
    const QSize source = file.size();
    if (!source.isValid() || covering.isEmpty() || part.isEmpty())
        return QImage();
    const double kx = double(covering.width()) / source.width();
    const double ky = double(covering.height()) / source.height();
    const QRect area = QRectF(part.x() / kx, part.y() / ky, part.width() / kx, part.height() / ky)
                           .toAlignedRect()
                           .adjusted(-1, -1, 1, 1)
        & QRect(QPoint(0, 0), source);
    const int left = qRound(area.x() * kx);
    const int top = qRound(area.y() * ky);
    const QSize scaled(qRound((area.x() + area.width()) * kx) - left,
        qRound((area.y() + area.height()) * ky) - top);
    if (area.isEmpty() || scaled.isEmpty() || !withinRenderLimits(scaled))
        return QImage();
    const QImage region = file.readRegion(area);
    if (region.isNull())
        return QImage();
    return region.scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .copy(part.translated(-left, -top));
}

} // namespace

class Q_DECL_HIDDEN RenderImage::Private
{
public:
    void centre(const ImageFile &file) const;
    void tile(const ImageFile &file) const;
    void stretch(const ImageFile &file) const;
    void crop(const ImageFile &file) const;
    void fit(const ImageFile &file) const;
    void span(const ImageFile &file) const;
    bool replaceSurface(const QImage &image, const QRectF &source, const QRectF &target) const;

    // Logical pixels per surface pixel. The surface is always sized in device pixels (a HiDPI
    // map holds device rectangles), so this stays 1; the placement arithmetic keeps it for the
    // documented layout of the private data.
    double ratio = 1.0;
    QString path;
    QRect screen;
    QPixmap *pixmap = nullptr;
    int position = 0;
    // Fit's bars.
    QColor bars = Qt::black;
    // Span's union of all screens.
    QRect desktop;
};

RenderImage::RenderImage(RenderEngine *engine, const QMap<QString, QVariant> &properties)
    : RenderFactory(engine, properties)
    , d(std::make_unique<Private>())
{
    d->path = qvariant_cast<File>(properties.value(PropertyKey::ImagePath)).path;
    d->screen = properties.value(PropertyKey::ImageScreen).toRect();
    d->position = properties.value(PropertyKey::ImagePosition).toInt();
    const QColor primary = properties.value(PropertyKey::ImagePrimaryColor).value<QColor>();
    if (primary.isValid())
        d->bars = primary;
    d->desktop = properties.value(PropertyKey::ImageDesktop).toRect();
    d->pixmap = pixmap();
}

RenderImage::~RenderImage() = default;

void RenderImage::render()
{
    if (!d->screen.isValid()) {
        setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderImage::render() size is empty";
        return;
    }
    if (d->path.startsWith(QLatin1Char('#')) && QColor::isValidColor(d->path)) {
        QColor colour;
        colour.setNamedColor(d->path);
        QPainter painter(d->pixmap);
        painter.fillRect(QRect(0, 0, d->screen.width(), d->screen.height()), colour);
        return;
    }
    if (!QFile::exists(d->path)) {
        setStatus(RenderEngine::Error);
        vokWarning(render) << "RenderImage::render() path is empty or file not exists";
        return;
    }
    const ImageFile file(d->path);
    if (!file.isValid() || !file.withinLimits()) {
        setStatus(RenderEngine::Error);
        return;
    }
    // A number outside the placements draws nothing.
    switch (WallPaperPosition(d->position)) {
    case WallPaperPosition::Center:
        d->centre(file);
        break;
    case WallPaperPosition::Tile:
        d->tile(file);
        break;
    case WallPaperPosition::Stretch:
        d->stretch(file);
        break;
    case WallPaperPosition::Crop:
        d->crop(file);
        break;
    case WallPaperPosition::Fit:
        d->fit(file);
        break;
    case WallPaperPosition::Span:
        d->span(file);
        break;
    }
}

void RenderImage::Private::centre(const ImageFile &file) const
{
    // A large picture is decoded only where it meets the surface.
    const QSize full = file.size();
    QRect part(QPoint(0, 0), full);
    if (file.isLarge()) {
        const double x = double(screen.width() - full.width()) / ratio * 0.5;
        const double y = double(screen.height() - full.height()) / ratio * 0.5;
        part &= QRect(int(std::floor(-x)) - 1, int(std::floor(-y)) - 1, pixmap->width() + 2,
            pixmap->height() + 2);
        if (part.isEmpty())
            return;
    }
    const QImage image = file.isLarge() ? file.readRegion(part) : file.read();
    const double x
        = double(screen.width() - (file.isLarge() ? full : image.size()).width()) / ratio * 0.5
        + part.x();
    const double y
        = double(screen.height() - (file.isLarge() ? full : image.size()).height()) / ratio * 0.5
        + part.y();
    QPainter painter(pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPointF(x, y), image);
}

void RenderImage::Private::tile(const ImageFile &file) const
{
    // Of a picture larger than the surface only its top left corner is seen.
    const QSize full = file.size();
    const bool large = file.isLarge() && full.isValid();
    const QPixmap source = QPixmap::fromImage(
        large ? file.readRegion(QRect(QPoint(0, 0), full.boundedTo(pixmap->size()))) : file.read());
    const QSize size = large ? full : source.size();
    const int stepX = int(std::floor(size.width() / ratio));
    const int stepY = int(std::floor(size.height() / ratio));
    // An undecodable image has no size: nothing to repeat.
    if (stepX <= 0 || stepY <= 0 || source.isNull())
        return;
    const QImage image = source.toImage();
    QPainter painter(pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int x = 0; x <= screen.width() - 1; x += stepX) {
        for (int y = 0; y <= screen.height() - 1; y += stepY)
            painter.drawImage(QPointF(x, y), image);
    }
}

void RenderImage::Private::stretch(const ImageFile &file) const
{
    QPainter painter(pixmap);
    const QRectF target(painter.viewport());
    // A large picture is decoded at a reduced size that still covers the surface.
    const QSize covering = file.coveringSize(target.size().toSize());
    const QImage image = file.isLarge() && withinRenderLimits(covering)
        ? file.readCovering(target.size().toSize())
        : file.read();
    painter.drawPixmap(target, QPixmap::fromImage(image), QRectF());
}

bool RenderImage::Private::replaceSurface(
    const QImage &image, const QRectF &source, const QRectF &target) const
{
    // Drawing an opaque picture over the whole surface in Source mode replaces every pixel by
    // the picture's: the surface can be a view of the picture's rows instead of a copy. Only
    // whole rows are viewed, so that the picture keeps the layout of a surface of its own.
    const QRect part = source.toRect();
    if (image.format() != QImage::Format_RGB32 || target != QRectF(pixmap->rect())
        || QRectF(part) != source || part.size() != pixmap->size() || !image.rect().contains(part)
        || part.width() != image.width() || image.bytesPerLine() != part.width() * 4
        || pixmap->isNull())
        return false;
    const int width = part.width();
    if (!Png::allOpaque(image, part))
        return false;
    // The view owns a reference to the picture's pixels, given up when the view goes.
    auto owner = std::make_unique<QImage>(image);
    QImage view(
        const_cast<uchar *>(owner->constScanLine(part.top())) + part.left() * 4, width,
        part.height(), owner->bytesPerLine(), QImage::Format_ARGB32_Premultiplied,
        [](void *info) { delete static_cast<QImage *>(info); }, owner.get());
    if (view.isNull())
        return false;
    owner.release();
    const QPixmap replaced = QPixmap::fromImage(std::move(view), Qt::NoOpaqueDetection);
    if (replaced.isNull())
        return false;
    *pixmap = replaced;
    return true;
}

void RenderImage::Private::crop(const ImageFile &file) const
{
    const double sw = screen.width();
    const double sh = screen.height();
    // The part of a picture of @p size that fills the screen.
    const auto sourceIn = [&](const QSizeF &size) {
        const double iw = size.width();
        const double ih = size.height();
        double k = iw / sw;
        double srcH = k * sh;
        if (srcH > ih) {
            k = ih / sh;
            srcH = sh * k;
        }
        const double srcW = sw * k;
        return QRectF((iw - srcW) * 0.5, (ih - srcH) * 0.5, srcW, srcH);
    };
    const QRectF target(0, 0, sw / ratio, sh / ratio);
    const QSize covering = file.coveringSize(screen.size());
    if (covering.isValid() && !withinRenderLimits(covering)) {
        // A picture of extreme proportions: only what the screen shows is scaled.
        const QRect part = sourceIn(covering).toRect();
        QPainter painter(pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target, coveringPart(file, covering, part),
            QRectF(QPointF(0, 0), QSizeF(part.size())), Qt::AutoColor);
        return;
    }
    // Whole rows of the covering picture that become the surface itself: only they are decoded
    // where the picture allows it.
    if (covering.isValid() && target == QRectF(pixmap->rect())) {
        const QRectF wanted = sourceIn(covering);
        const QRect rows = wanted.toRect();
        if (QRectF(rows) == wanted && rows.width() == covering.width()
            && rows.size() == pixmap->size() && rows.height() < covering.height()) {
            const QImage part = file.readCoveringRows(screen.size(), rows.top(), rows.height());
            if (part.size() == rows.size()
                && replaceSurface(part, QRectF(QPointF(0, 0), wanted.size()), target))
                return;
        }
    }
    const QImage image = file.readCovering(screen.size());
    const QRectF source = sourceIn(image.size());
    if (replaceSurface(image, source, target))
        return;
    QPainter painter(pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(target, image, source, Qt::AutoColor);
}

void RenderImage::Private::fit(const ImageFile &file) const
{
    const QSize full = file.size();
    if (!full.isValid())
        return;
    // The whole picture at the largest size that fits, on whole pixels, centred.
    const QSize fitted = full.scaled(screen.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const QImage image = file.readCovering(fitted);
    if (image.isNull())
        return;
    const QRect target(
        QPoint((screen.width() - fitted.width()) / 2, (screen.height() - fitted.height()) / 2),
        fitted);
    QPainter painter(pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(QPoint(), screen.size()), bars);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

void RenderImage::Private::span(const ImageFile &file) const
{
    // The picture cropped to fill the union as Crop fills a screen, on whole pixels, so that
    // the parts of neighbouring screens continue each other exactly; this screen shows its part.
    const QRect all = desktop.contains(screen) ? desktop : screen;
    const QSize covering = file.coveringSize(all.size());
    if (covering.isValid() && !withinRenderLimits(covering)) {
        // A union beyond the limits (a far monitor) is never made whole: this screen's part is
        // scaled from the source pixels it shows.
        const QPoint origin(
            (covering.width() - all.width()) / 2, (covering.height() - all.height()) / 2);
        const QRect part(origin + (screen.topLeft() - all.topLeft()), screen.size());
        QPainter painter(pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), coveringPart(file, covering, part));
        return;
    }
    const QImage image = file.readCovering(all.size());
    if (image.isNull())
        return;
    const QPoint origin((image.width() - all.width()) / 2, (image.height() - all.height()) / 2);
    const QRect part(origin + (screen.topLeft() - all.topLeft()), screen.size());
    const QRectF target(0, 0, screen.width(), screen.height());
    if (replaceSurface(image, part, target))
        return;
    QPainter painter(pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(target, image, part, Qt::AutoColor);
}

} // namespace VokImage
