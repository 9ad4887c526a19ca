// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "imageprovider.h"

#include <vokimage/lookup.h>

#include <QFutureWatcher>
#include <QRegularExpression>

namespace VokImage {

namespace {

class Response : public QQuickImageResponse
{
public:
    explicit Response(const QFuture<Lookup> &future, const QString &error)
        : m_error(error)
    {
        connect(&m_watcher, &QFutureWatcher<Lookup>::finished, this, [this] {
            if (m_watcher.future().resultCount() > 0) {
                const Lookup lookup = m_watcher.result();
                m_image = lookup.image().image;
                m_error = lookup.errorString();
            }
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
    QFutureWatcher<Lookup> m_watcher;
    QImage m_image;
    QString m_error;
};

// The layer and side of an address's kind; false when it names none.
bool kindOf(const QString &kind, Lookup::Layer *layer, Lookup::Side *side)
{
    static const QHash<QString, Lookup::Layer> layers {
        { QStringLiteral("background"), Lookup::Background },
        { QStringLiteral("wallpaper"), Lookup::Wallpaper },
        { QStringLiteral("logo"), Lookup::Logo },
    };
    const QString greeter = QStringLiteral("greeter-");
    *side = kind.startsWith(greeter) ? Lookup::Greeter : Lookup::Desktop;
    const auto found = layers.constFind(*side == Lookup::Greeter ? kind.mid(greeter.size()) : kind);
    if (found == layers.constEnd())
        return false;
    *layer = *found;
    return true;
}

} // namespace

QQuickImageResponse *ImageProvider::requestImageResponse(const QString &id, const QSize &)
{
    static const QRegularExpression form(QStringLiteral(
        "^([a-z-]+)/(-?\\d+),(-?\\d+),(\\d+)x(\\d+)(?:@(\\d+(?:\\.\\d+)?))?(?:/.*)?$"));
    const QRegularExpressionMatch match = form.match(id);
    Lookup::Layer layer = Lookup::Background;
    Lookup::Side side = Lookup::Desktop;
    if (!match.hasMatch() || !kindOf(match.captured(1), &layer, &side))
        return new Response(QFuture<Lookup>(),
            QStringLiteral("not a background address: image://vokimage/%1").arg(id));
    const QRect screen(match.captured(2).toInt(), match.captured(3).toInt(),
        match.captured(4).toInt(), match.captured(5).toInt());
    const qreal ratio = match.captured(6).isEmpty() ? 1 : match.captured(6).toDouble();
    return new Response(Lookup(Screen(screen, ratio), layer, side).request(), QString());
}

} // namespace VokImage
