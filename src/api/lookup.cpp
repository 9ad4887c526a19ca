// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/lookup.h>

#include "api_p.h"
#include "internal/limits_p.h"
#include "internal/logging_p.h"

#include <QFutureInterface>

namespace VokImage {

class ScreenData : public QSharedData
{
public:
    QRect geometry;
    qreal devicePixelRatio = 1;
    QRect desktop;
    QString name;
};

Screen::Screen()
    : d(new ScreenData)
{ }

Screen::Screen(const QRect &geometry, qreal devicePixelRatio)
    : d(new ScreenData)
{
    d->geometry = geometry;
    d->devicePixelRatio = devicePixelRatio;
}

Screen::Screen(const Screen &other) = default;
Screen &Screen::operator=(const Screen &other) = default;
Screen::~Screen() = default;

QRect Screen::geometry() const
{
    return d->geometry;
}

void Screen::setGeometry(const QRect &geometry)
{
    d->geometry = geometry;
}

qreal Screen::devicePixelRatio() const
{
    return d->devicePixelRatio;
}

void Screen::setDevicePixelRatio(qreal ratio)
{
    d->devicePixelRatio = ratio;
}

QRect Screen::desktop() const
{
    return d->desktop;
}

void Screen::setDesktop(const QRect &desktop)
{
    d->desktop = desktop;
}

QString Screen::name() const
{
    return d->name;
}

void Screen::setName(const QString &name)
{
    d->name = name;
}

bool Screen::operator==(const Screen &other) const
{
    return d == other.d
        || (d->geometry == other.d->geometry && d->devicePixelRatio == other.d->devicePixelRatio
            && d->desktop == other.d->desktop && d->name == other.d->name);
}

class LookupData : public QSharedData
{
public:
    Screen screen;
    Lookup::Layer layer = Lookup::Background;
    Lookup::Side side = Lookup::Desktop;
    Image record;
    Cache::Origin origin = Cache::Origin::None;
    Lookup::Error error = Lookup::NoError;
    QString errorString;
};

Lookup::Lookup()
    : d(new LookupData)
{ }

Lookup::Lookup(const Screen &screen, Layer layer, Side side)
    : d(new LookupData)
{
    d->screen = screen;
    d->layer = layer;
    d->side = side;
}

Lookup::Lookup(const Lookup &other) = default;
Lookup &Lookup::operator=(const Lookup &other) = default;
Lookup::~Lookup() = default;

Screen Lookup::screen() const
{
    return d->screen;
}

Lookup::Layer Lookup::layer() const
{
    return d->layer;
}

Lookup::Side Lookup::side() const
{
    return d->side;
}

QMap<QString, QVariant> Lookup::properties() const
{
    return layerProperties(d->screen, d->layer, d->side == Greeter, nullptr);
}

Image Lookup::read()
{
    const Log::Capture capture;
    d->origin = Cache::Origin::None;
    d->record = lookupImage(d->screen, d->layer, d->side == Greeter, &d->origin);
    d->error = NoError;
    d->errorString.clear();
    if (d->record.image.isNull()) {
        const QRect geometry = d->screen.geometry();
        d->error = geometry.isEmpty() || !withinRenderLimits(geometry.width(), geometry.height())
            ? ScreenError
            : PictureError;
        // A picture's own message says why; the cache's and the settings' are side notes.
        d->errorString = capture.firstOf(Log::render());
        if (d->errorString.isEmpty())
            d->errorString = QStringLiteral("no picture was produced");
    }
    return d->record;
}

QFuture<Lookup> Lookup::request() const
{
    Lookup lookup = *this;
    // The union of the screens is the caller's: only its thread may ask the application.
    if (!d->screen.desktop().isValid()) {
        Screen screen = d->screen;
        screen.setDesktop(applicationDesktop(screen.geometry()));
        lookup.d->screen = screen;
    }
    QFutureInterface<Lookup> promise;
    promise.reportStarted();
    QFuture<Lookup> future = promise.future();
    const bool queued = startJob([promise, lookup]() mutable {
        if (!promise.isCanceled()) {
            lookup.read();
            promise.reportResult(lookup);
        }
        promise.reportFinished();
    });
    if (!queued) {
        const Log::Capture capture;
        vokWarning(render) << "Error request made without a running application, no background:"
                           << lookup.d->screen.geometry();
        lookup.d->error = NoApplicationError;
        lookup.d->errorString = capture.firstOf(Log::render());
        promise.reportResult(lookup);
        promise.reportFinished();
    }
    return future;
}

Image Lookup::image() const
{
    return d->record;
}

Cache::Origin Lookup::origin() const
{
    return d->origin;
}

Lookup::Error Lookup::error() const
{
    return d->error;
}

QString Lookup::errorString() const
{
    return d->errorString;
}

} // namespace VokImage
