// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "inputs.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>

namespace Bench {

QImage photoLike(const QSize &size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage base(size / 20, QImage::Format_RGB32);
    QPainter painter(&base);
    QLinearGradient land(0, 0, 0, base.height());
    land.setColorAt(0, QColor(70, 120, 190));
    land.setColorAt(0.55, QColor(200, 210, 220));
    land.setColorAt(0.6, QColor(60, 90, 40));
    land.setColorAt(1, QColor(110, 80, 50));
    painter.fillRect(base.rect(), land);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 60; ++i) {
        const QPointF centre(rng.bounded(base.width()), rng.bounded(base.height()));
        const double radius = 2 + rng.bounded(base.width() / 6);
        QColor colour(rng.bounded(256), rng.bounded(256), rng.bounded(256), 160);
        QRadialGradient blob(centre, radius);
        blob.setColorAt(0, colour);
        colour.setAlpha(0);
        blob.setColorAt(1, colour);
        painter.setBrush(blob);
        painter.drawEllipse(centre, radius, radius);
    }
    painter.end();

    QImage image = base.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int horizon = image.height() * 6 / 10;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 noise = rng.generate();
            int delta = int(noise & 7) - 3;
            if (y > horizon)
                delta += int((noise >> 8) & 31) - 15; // foliage
            auto channel = [delta](int v) { return qBound(0, v + delta, 255); };
            const QRgb c = line[x];
            line[x] = qRgb(channel(qRed(c)), channel(qGreen(c)), channel(qBlue(c)));
        }
    }
    return image;
}

namespace {

bool writeImage(const QString &path, const QImage &image, const char *format, int quality)
{
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    return writer.write(image);
}

QImage pngLogo()
{
    QImage logo(400, 160, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 240, 240, 230));
    painter.drawEllipse(QRectF(8, 8, 144, 144));
    painter.drawRoundedRect(QRectF(170, 50, 220, 60), 20, 20);
    return logo;
}

const char SvgLogo[]
    = R"(<svg xmlns="http://www.w3.org/2000/svg" width="400" height="160" viewBox="0 0 400 160">
<circle cx="80" cy="80" r="72" fill="#f0f0f0" fill-opacity="0.9"/>
<rect x="170" y="50" width="220" height="60" rx="20" fill="#f0f0f0" fill-opacity="0.9"/>
</svg>
)";

} // namespace

bool makeInputs(const QString &dir)
{
    const QString big = dir + QStringLiteral("/photo-6000x4000.jpg");
    const QString screen = dir + QStringLiteral("/photo-3840x2160.jpg");
    if (!QFile::exists(big) && !writeImage(big, photoLike(QSize(6000, 4000), 1), "jpeg", 90))
        return false;
    if (!QFile::exists(screen) && !writeImage(screen, photoLike(QSize(3840, 2160), 2), "jpeg", 90))
        return false;
    const QString png = dir + QStringLiteral("/logo.png");
    if (!QFile::exists(png) && !writeImage(png, pngLogo(), "png", -1))
        return false;
    QFile svg(dir + QStringLiteral("/logo.svg"));
    if (!svg.exists()
        && (!svg.open(QIODevice::WriteOnly) || svg.write(SvgLogo) != qint64(sizeof SvgLogo - 1)))
        return false;
    return true;
}

} // namespace Bench
