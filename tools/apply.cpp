// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// apply: the backgrounds of the monitors as the X root window's background, once or as a
// daemon that follows the monitor layout and the configuration files.

#include "cli.h"
#include "commands.h"
#include "x11.h"

#include <QCoreApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Tool {

using namespace VokImage;

namespace {

// Composes the backgrounds of @p monitors into one root-sized picture and sets it. False when
// no background could be produced or the root window could not be set.
bool applyOnce(const X11::Connection &connection, const QList<X11::Monitor> &monitors, bool greeter)
{
    const QSize rootSize = connection.rootSize();
    QImage canvas(rootSize, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const ImageFunction background = imageFunction(QStringLiteral("background"), greeter);
    int drawn = 0;
    // Span covers the monitors' union; each monitor's name selects a picture of its own.
    QList<QRect> rects;
    for (const X11::Monitor &monitor : monitors)
        rects.append(monitor.rect);
    for (const X11::Monitor &monitor : monitors) {
        const Rendered rendered
            = renderScreen(background, { monitor.rect, 1, unionOf(rects), monitor.name });
        const bool failed = rendered.record.image.isNull();
        releaseMessages(failed);
        if (failed) {
            err() << "vokimage: no background could be produced for " << monitor.name << " "
                  << geometryText(monitor.rect) << "\n";
            continue;
        }
        painter.drawImage(monitor.rect.topLeft(), rendered.record.image);
        ++drawn;
        printResult(QStringLiteral("root:") + monitor.name, monitor.rect, rendered, true, greeter);
    }
    painter.end();
    if (drawn == 0)
        return false;
    QString error;
    if (!X11::setRootBackground(canvas, &error)) {
        err() << "vokimage: cannot set the root window's background: " << error << "\n";
        return false;
    }
    return drawn == monitors.size();
}

// Why a monitor at @p rect cannot be drawn on a root window of @p root: beyond the render
// limits or outside the root; empty when it can.
QString monitorProblem(const QRect &rect, const QSize &root)
{
    const QString limit = renderLimitError(rect, 1);
    if (!limit.isEmpty())
        return limit;
    if (!QRect(QPoint(0, 0), root).intersects(rect))
        return QStringLiteral("%1 lies outside the root window (%2x%3)")
            .arg(geometryText(rect))
            .arg(root.width())
            .arg(root.height());
    return QString();
}

// Why the root window cannot be drawn; empty when it can.
QString rootProblem(const QSize &root)
{
    const QString limit = renderLimitError(QRect(QPoint(0, 0), root), 1);
    return limit.isEmpty() ? QString() : QStringLiteral("the root window is too large: ") + limit;
}

// The monitors of a changed layout that pass the one-shot command's checks; each other one is
// skipped with the message.
QList<X11::Monitor> checkedMonitors(
    const X11::Connection &connection, const QList<X11::Monitor> &monitors)
{
    const QSize root = connection.rootSize();
    const QString problem = rootProblem(root);
    if (!problem.isEmpty()) {
        err() << "vokimage: " << problem << "; the layout is skipped\n";
        return {};
    }
    QList<X11::Monitor> usable;
    for (const X11::Monitor &monitor : monitors) {
        const QString why = monitorProblem(monitor.rect, root);
        if (why.isEmpty())
            usable.append(monitor);
        else
            err() << "vokimage: monitor " << monitor.name << " skipped: " << why << "\n";
        err().flush();
    }
    return usable;
}

QList<X11::Monitor> monitorsFor(const X11::Connection &connection, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return connection.monitors();
    QList<X11::Monitor> list;
    for (const QRect &screen : screens)
        list.append({ geometryText(screen), screen });
    return list;
}

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int runDaemon(X11::Connection &connection, const QList<QRect> &screens, bool greeter)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err() << "vokimage: cannot watch for signals\n";
        return Failure;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) { }
        QCoreApplication::quit();
    });

    QList<QRect> layout;
    for (const X11::Monitor &monitor : connection.monitors())
        layout.append(monitor.rect);

    // The library's watcher says when a background changed; a change of the layout is seen
    // here. Both are applied after a short quiet period.
    BackgroundWatcher watcher(greeter);
    bool backgroundChanged = false;
    QTimer debounce;
    debounce.setSingleShot(true);
    debounce.setInterval(300);
    QObject::connect(&debounce, &QTimer::timeout, [&] {
        connection.takeLayoutChange();
        QList<QRect> now;
        for (const X11::Monitor &monitor : connection.monitors())
            now.append(monitor.rect);
        if (now == layout && !backgroundChanged)
            return;
        layout = now;
        backgroundChanged = false;
        const QList<X11::Monitor> monitors
            = checkedMonitors(connection, monitorsFor(connection, screens));
        if (!monitors.isEmpty())
            applyOnce(connection, monitors, greeter);
    });
    const auto schedule = [&debounce] { debounce.start(); };
    QObject::connect(&watcher, &BackgroundWatcher::changed, [&backgroundChanged, schedule] {
        backgroundChanged = true;
        schedule();
    });
    QSocketNotifier display(connection.watchLayout(), QSocketNotifier::Read);
    QObject::connect(&display, &QSocketNotifier::activated, [&connection, schedule] {
        if (connection.takeLayoutChange())
            schedule();
    });
    // Events Xlib has already read do not wake the notifier: look now and then.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&connection, schedule] {
        if (connection.takeLayoutChange())
            schedule();
    });
    poll.start(1000);

    report() << "watching the monitors and " << watcher.watchedFiles().join(QStringLiteral(", "))
             << "\n";
    report().flush();
    QCoreApplication::exec();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    report() << "stopped\n";
    report().flush();
    return Success;
}

} // namespace

int applyCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("apply"),
        QStringLiteral("Set the X root window's background: each monitor's background (the "
                       "desktop's, or the greeter's with --greeter), published for compositors "
                       "and terminals as _XROOTPMAP_ID and ESETROOT_PMAP_ID."));
    const QCommandLineOption daemonOption(QStringLiteral("daemon"),
        QStringLiteral("Stay running and apply again when the monitor layout or a configuration "
                       "file changes; stop on SIGTERM or SIGINT."));
    const int code = line.parse(arguments, { greeterOption(), screenOption(), daemonOption });
    if (code >= 0)
        return code;
    QList<QRect> screens;
    int error = 0;
    if (line.isSet(screenOption()) && !parseScreens(line, 1, &screens, &error))
        return error;
    X11::Connection connection;
    if (!connection.isOpen()) {
        if (screens.isEmpty())
            return line.usageError(
                QStringLiteral("give --screen GEOMETRY (no X display to ask for its monitors)"));
        err() << "vokimage: " << X11::displayError() << "\n";
        return Failure;
    }
    const bool greeter = line.isSet(greeterOption());
    const QList<X11::Monitor> monitors = monitorsFor(connection, screens);
    const QSize root = connection.rootSize();
    const QString problem = rootProblem(root);
    if (!problem.isEmpty()) {
        err() << "vokimage: " << problem << "\n";
        return Failure;
    }
    for (const X11::Monitor &monitor : qAsConst(monitors)) {
        const QString why = monitorProblem(monitor.rect, root);
        if (!why.isEmpty())
            return line.usageError(why);
    }
    const bool ok = applyOnce(connection, monitors, greeter);
    if (!line.isSet(daemonOption))
        return ok ? Success : Failure;
    return runDaemon(connection, screens, greeter);
}

} // namespace Tool
