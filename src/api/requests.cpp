// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>

#include <QCoreApplication>
#include <QFutureInterface>
#include <QThread>
#include <QThreadPool>

namespace VokImage {

namespace {

// The workers: one per core, kept a while between requests. They are stopped with the
// application object, before Qt's per-thread data goes.
struct Workers : QThreadPool
{
    Workers()
    {
        setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
        qAddPostRoutine([] { workers()->waitForDone(); });
    }
    static QThreadPool *workers();
};

QThreadPool *Workers::workers()
{
    static Workers pool;
    return &pool;
}

using Entry = Image (*)(const QRect &, qreal);

QFuture<Image> request(Entry entry, const QRect &screen, qreal devicePixelRatio)
{
    QFutureInterface<Image> promise;
    promise.reportStarted();
    QFuture<Image> future = promise.future();
    Workers::workers()->start([promise, entry, screen, devicePixelRatio]() mutable {
        if (!promise.isCanceled())
            promise.reportResult(entry(screen, devicePixelRatio));
        promise.reportFinished();
    });
    return future;
}

} // namespace

QFuture<Image> requestWallpaper(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getWallpaper, screen, devicePixelRatio);
}

QFuture<Image> requestLogo(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getLogo, screen, devicePixelRatio);
}

QFuture<Image> requestBackground(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getBackground, screen, devicePixelRatio);
}

QFuture<Image> requestOrvWallpaper(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getOrvWallpaper, screen, devicePixelRatio);
}

QFuture<Image> requestOrvLogo(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getOrvLogo, screen, devicePixelRatio);
}

QFuture<Image> requestOrvBackground(const QRect &screen, qreal devicePixelRatio)
{
    return request(&getOrvBackground, screen, devicePixelRatio);
}

} // namespace VokImage
