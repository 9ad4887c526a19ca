// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imageprovider.h"

#include <vokimage/api.h>

#include <QFutureWatcher>
#include <QRegularExpression>

namespace VokImage {

namespace {

class Response : public QQuickImageResponse
{
public:
    explicit Response(const QFuture<Image> &future, const QString &error)
        : m_error(error)
    {
        connect(&m_watcher, &QFutureWatcher<Image>::finished, this, [this] {
            if (m_watcher.future().resultCount() > 0)
                m_image = m_watcher.result().image;
            if (m_image.isNull() && m_error.isEmpty())
                m_error = QStringLiteral("no background could be produced");
            Q_EMIT finished();
        });
        m_watcher.setFuture(future);
    }

    QQuickTextureFactory *textureFactory() const override
    {
        return QQuickTextureFactory::textureFactoryForImage(m_image);
    }
    QString errorString() const override { return m_error; }
    void cancel() override { m_watcher.future().cancel(); }

private:
    QFutureWatcher<Image> m_watcher;
    QImage m_image;
    QString m_error;
};

using Request = QFuture<Image> (*)(const QRect &, qreal);

Request requestFor(const QString &kind)
{
    static const QHash<QString, Request> requests {
        { QStringLiteral("background"), &requestBackground },
        { QStringLiteral("wallpaper"), &requestWallpaper },
        { QStringLiteral("logo"), &requestLogo },
        { QStringLiteral("greeter-background"), &requestOrvBackground },
        { QStringLiteral("greeter-wallpaper"), &requestOrvWallpaper },
        { QStringLiteral("greeter-logo"), &requestOrvLogo },
    };
    return requests.value(kind);
}

} // namespace

QQuickImageResponse *ImageProvider::requestImageResponse(const QString &id, const QSize &)
{
    static const QRegularExpression form(QStringLiteral(
        "^([a-z-]+)/(-?\\d+),(-?\\d+),(\\d+)x(\\d+)(?:@(\\d+(?:\\.\\d+)?))?(?:/.*)?$"));
    const QRegularExpressionMatch match = form.match(id);
    const Request request = match.hasMatch() ? requestFor(match.captured(1)) : nullptr;
    if (!request)
        return new Response(QFuture<VokImage::Image>(),
            QStringLiteral("not a background address: image://vokimage/%1").arg(id));
    const QRect screen(match.captured(2).toInt(), match.captured(3).toInt(),
        match.captured(4).toInt(), match.captured(5).toInt());
    const qreal ratio = match.captured(6).isEmpty() ? 1 : match.captured(6).toDouble();
    return new Response(request(screen, ratio), QString());
}

} // namespace VokImage
