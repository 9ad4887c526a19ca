#include "imagefile_p.h"
#include "render_p.h"

#include <vokimage/render.h>

#include <QFileInfo>
#include <QPainter>

namespace VokImage {

RenderLogo::RenderLogo(RenderEngine *engine, const QMap<QString, QVariant> &properties)
    : RenderFactory(engine, properties)
{ }

RenderLogo::~RenderLogo() = default;

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

void RenderLogo::render()
{
    const QString path = m_properties[QString::fromLatin1(Keys::LogoPath)].toString();
    const QRect screen = m_properties[QString::fromLatin1(Keys::LogoScreen)].toRect();
    const int position = m_properties[QString::fromLatin1(Keys::LogoPosition)].toInt();
    const QString taskbarPositionKey = QString::fromLatin1(Keys::TaskbarPosition);
    const QString taskbarHeightKey = QString::fromLatin1(Keys::TaskbarHeight);
    const int taskbarPosition = m_properties.contains(taskbarPositionKey)
        ? m_properties[taskbarPositionKey].toInt()
        : int(TaskbarPosition::Bottom);
    const int taskbarHeight
        = m_properties.contains(taskbarHeightKey) ? m_properties[taskbarHeightKey].toInt() : 48;

    if (screen.width() < 1 || screen.height() < 1) {
        setStatus(RenderEngine::Error);
        qWarning() << "RenderLogo::render() - size is empty";
        return;
    }
    if (position == int(LogoPosition::NotShow) || path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        return;

    // A logo that cannot be used (refused or beyond the limits) is left out, with the
    // warning, and the rest of the picture is drawn.
    const ImageFile file(path);
    if (!file.isValid())
        return;
    QSize size = file.size();
    if (path.contains(QLatin1String("selka_logo")) && path.endsWith(QLatin1String(".svg"))) {
        const int divisor = path.contains(QLatin1String("red")) ? 5 : 10;
        size = size.scaled(QSize(screen.width() / divisor, screen.height()), Qt::KeepAspectRatio);
    }
    if (size.width() == 0 || size.height() == 0) {
        setStatus(RenderEngine::Error);
        qWarning() << "RenderLogo::render() - logo size is empty";
        return;
    }
    if (!file.withinLimits())
        return;
    if (size.width() > MaxImageDimension || size.height() > MaxImageDimension) {
        qWarning() << "Error image is too large:" << path << size;
        return;
    }

    const QRect area = getLogoArea(screen, TaskbarPosition(taskbarPosition), taskbarHeight);
    const QPoint point = getLogoPosition(size, area, LogoPosition(position));
    QPoint at = area.topLeft() + point;
    QImage image;
    if (file.isLarge() && size == file.size()) {
        // Only the part of a large logo that meets the surface is decoded.
        const QRect part = QRect(-at, pixmap()->size()) & QRect(QPoint(0, 0), size);
        if (part.isEmpty())
            return;
        image = file.readRegion(part);
        at += part.topLeft();
    } else {
        image = file.read(size);
    }

    QPainter painter(pixmap());
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPointF(at), image);
}

} // namespace VokImage
