// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// apply: the backgrounds of the monitors as the X root window's background, once or as a
// daemon that follows the monitor layout and the configuration files.

#include "cli.h"
#include "commands.h"
#include "wayland.h"
#include "x11.h"

#include "internal/sharedfiles_p.h"

#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Tool {

using namespace VokImage;

namespace {

// The map of @p monitor's background with its position taken out; empty when the position
// shapes the picture (Span).
QMap<QString, QVariant> mapWithoutPosition(
    const X11::Monitor &monitor, const QRect &desktop, bool greeter)
{
    QMap<QString, QVariant> map = lookupOf(
        QStringLiteral("wallpaper"), screenOf(monitor.rect, 1, desktop, monitor.name), greeter)
                                      .properties();
    if (map.contains(QLatin1String(Keys::ImageDesktop)))
        return {};
    map.insert(greeter ? getLogoOrvProperties(monitor.rect) : getLogoProperties(monitor.rect));
    const QRect atOrigin(QPoint(0, 0), monitor.rect.size());
    for (const char *key : { Keys::ImageScreen, Keys::LogoScreen })
        if (map.contains(QLatin1String(key)))
            map[QLatin1String(key)] = atOrigin;
    return map;
}

// For each monitor, the earlier monitor that shows the same picture (the same size and maps
// that differ only in position), or -1: that picture is rendered and stored once.
std::vector<int> samePictures(
    const QList<X11::Monitor> &monitors, const QRect &desktop, bool greeter)
{
    std::vector<int> same(size_t(monitors.size()), -1);
    std::map<int, QMap<QString, QVariant>> maps;
    const auto mapOf = [&](int i) -> const QMap<QString, QVariant> & {
        auto it = maps.find(i);
        if (it == maps.end())
            it = maps.emplace(i, mapWithoutPosition(monitors.at(i), desktop, greeter)).first;
        return it->second;
    };
    for (int i = 1; i < monitors.size(); ++i)
        for (int j = 0; j < i; ++j)
            if (same[size_t(j)] < 0 && monitors.at(j).rect.size() == monitors.at(i).rect.size()
                && !mapOf(i).isEmpty() && mapOf(i) == mapOf(j)) {
                same[size_t(i)] = j;
                break;
            }
    return same;
}

// Renders the backgrounds of @p monitors and sets them as the root window's, faded in over
// @p fadeMs. False when no background could be produced or the root window could not be set.
bool applyOnce(const QList<X11::Monitor> &monitors, bool greeter, int fadeMs)
{
    QList<X11::Placed> pictures;
    // Span covers the monitors' union; each monitor's name selects a picture of its own.
    QList<QRect> rects;
    for (const X11::Monitor &monitor : monitors)
        rects.append(monitor.rect);
    const QRect desktop = unionOf(rects);
    const std::vector<int> same = samePictures(monitors, desktop, greeter);
    // The library's workers render the monitors in parallel.
    QElapsedTimer timer;
    timer.start();
    std::vector<QFuture<Lookup>> requests(size_t(monitors.size()));
    for (int i = 0; i < monitors.size(); ++i)
        if (same[size_t(i)] < 0)
            requests[size_t(i)] = lookupOf(QStringLiteral("background"),
                screenOf(monitors.at(i).rect, 1, desktop, monitors.at(i).name), greeter)
                                      .request();
    std::vector<Rendered> results(size_t(monitors.size()));
    for (size_t i = 0; i < requests.size(); ++i) {
        if (same[i] >= 0)
            continue;
        requests[i].waitForFinished();
        results[i] = requests[i].resultCount() > 0
            ? renderedOf(requests[i].result(), timer.elapsed())
            : Rendered();
    }
    int drawn = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const X11::Monitor &monitor = monitors.at(i);
        const int source = same[size_t(i)];
        if (source >= 0) {
            const Rendered &shared = results[size_t(source)];
            if (shared.record.image.isNull())
                continue;
            pictures.append({ monitor.rect.topLeft(), shared.record.image });
            ++drawn;
            report() << "root:" << monitor.name << "  " << geometryText(monitor.rect)
                     << "  the picture of root:" << monitors.at(source).name << "\n";
            report().flush();
            continue;
        }
        const Rendered &rendered = results[size_t(i)];
        const bool failed = rendered.record.image.isNull();
        if (failed) {
            err() << "vokimage: no background could be produced for " << monitor.name << " "
                  << geometryText(monitor.rect) << ": " << rendered.error << "\n";
            continue;
        }
        pictures.append({ monitor.rect.topLeft(), rendered.record.image });
        ++drawn;
        printResult(QStringLiteral("root:") + monitor.name, monitor.rect, rendered, true, greeter);
    }
    if (drawn == 0)
        return false;
    QString error;
    const bool set = X11::setRootBackground(pictures, &error, fadeMs);
    // The pictures were stored while they went to the server.
    Cache::waitForStores();
    if (!set) {
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

// Quits the event loop on SIGTERM and SIGINT while it lives.
class QuitOnSignals
{
public:
    QuitOnSignals()
    {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [] {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) > 0) { }
            QCoreApplication::quit();
        });
    }
    ~QuitOnSignals()
    {
        m_notifier.reset();
        for (int &end : signalPipe) {
            if (end >= 0)
                ::close(end);
            end = -1;
        }
    }
    QuitOnSignals(const QuitOnSignals &) = delete;
    QuitOnSignals &operator=(const QuitOnSignals &) = delete;
    bool isActive() const { return m_notifier != nullptr; }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// The display a running apply serves: its name in the session and, where it has a socket file,
// that file's inode, so that displays of one name in other mount namespaces differ.
QByteArray displayIdentity(bool wayland)
{
    QString name;
    QString socket;
    if (wayland) {
        const QString display = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
            ? QStringLiteral("wayland-0")
            : qEnvironmentVariable("WAYLAND_DISPLAY");
        socket = display.startsWith(QLatin1Char('/'))
            ? display
            : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + display;
        name = QStringLiteral("wayland ") + socket;
    } else {
        name = QStringLiteral("x11 ") + qEnvironmentVariable("DISPLAY");
        static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)(?:\\.\\d+)?$"));
        const QRegularExpressionMatch match = local.match(qEnvironmentVariable("DISPLAY"));
        if (match.hasMatch())
            socket = QStringLiteral("/tmp/.X11-unix/X") + match.captured(1);
    }
    struct stat st;
    if (!socket.isEmpty() && ::stat(QFile::encodeName(socket).constData(), &st) == 0)
        name += QLatin1Char(' ') + QString::number(qulonglong(st.st_ino));
    return name.toUtf8();
}

// The one apply that stays running for this user on the display: it holds a name in the
// abstract socket namespace (freed by the kernel when the process ends, however it ends), so
// that of two started at once exactly one gets it. Another user's process under the name is
// no running apply of this user's: then this one runs without the name.
class SoleApply
{
public:
    explicit SoleApply(bool wayland)
    {
        const QByteArray name = "vokimage-apply-" + QByteArray::number(geteuid()) + '-'
            + QCryptographicHash::hash(displayIdentity(wayland), QCryptographicHash::Md5).toHex();
        m_fd = SharedFiles::holdAbstractName(name, 16);
        if (m_fd.isValid()) {
            // Those who ask are let go at once.
            m_notifier = std::make_unique<QSocketNotifier>(m_fd.get(), QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
                const SharedFiles::FileDescriptor asking(
                    ::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            });
            return;
        }
        struct ucred peer
        {
        };
        if (SharedFiles::connectAbstractName(name, &peer).isValid() && peer.uid == geteuid())
            m_running = peer.pid;
    }

    /// The process of this user that runs apply on the display already; 0 when there is none.
    pid_t running() const { return m_running; }

private:
    SharedFiles::FileDescriptor m_fd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    pid_t m_running = 0;
};

// True, with the message, when another apply of this user runs on the display.
bool runningAlready(const SoleApply &sole)
{
    if (!sole.running())
        return false;
    err() << "vokimage: apply runs on this display already, as process " << sole.running()
          << "; this one ends\n";
    err().flush();
    return true;
}

int runDaemon(X11::Connection &connection, const QList<QRect> &screens, bool greeter, int fadeMs)
{
    const QuitOnSignals quit;
    if (!quit.isActive()) {
        err() << "vokimage: cannot watch for signals\n";
        return Failure;
    }

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
            applyOnce(monitors, greeter, fadeMs);
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
    report() << "stopped\n";
    report().flush();
    return Success;
}

#ifdef VOKIMAGE_WITH_WAYLAND
// Shows each output's background on a background-layer surface, and follows outputs that
// come, go or change and the configuration, until a signal or the compositor ends it.
int runWayland(bool greeter, int fadeMs)
{
    const SoleApply sole(true);
    if (runningAlready(sole))
        return Success;
    const QuitOnSignals quit;
    if (!quit.isActive()) {
        err() << "vokimage: cannot watch for signals\n";
        return Failure;
    }
    std::map<QScreen *, std::unique_ptr<Wayland::Surface>> surfaces;
    bool configurationChanged = false;
    const auto refresh = [&] {
        const bool all = configurationChanged;
        configurationChanged = false;
        const QList<QScreen *> screens = QGuiApplication::screens();
        QRect desktop;
        for (QScreen *screen : screens)
            desktop |= screen->geometry();
        for (QScreen *screen : screens) {
            if (screen->geometry().isEmpty())
                continue;
            std::unique_ptr<Wayland::Surface> &surface = surfaces[screen];
            const Screen output
                = screenOf(screen->geometry(), screen->devicePixelRatio(), desktop, screen->name());
            if (!all && surface && surface->isVisible() && surface->output() == output)
                continue;
            // An output beyond the limits gets no surface, so no buffer is made for it.
            const QString problem = renderLimitError(output.geometry(), output.devicePixelRatio());
            if (!problem.isEmpty()) {
                surface.reset();
                err() << "vokimage: output " << output.name() << " skipped: " << problem << "\n";
                err().flush();
                continue;
            }
            // Qt sets a surface's buffer scale when it is made: an output whose scale changed
            // gets a new surface.
            if (surface && surface->devicePixelRatio() != screen->devicePixelRatio())
                surface.reset();
            if (!surface)
                surface = std::make_unique<Wayland::Surface>(screen);
            setHoldMessages(true);
            const Rendered rendered
                = renderScreen(lookupOf(QStringLiteral("background"), output, greeter));
            const bool failed = rendered.record.image.isNull();
            // The library's lines are held: the reason says what is wrong.
            releaseMessages(false);
            setHoldMessages(false);
            if (failed) {
                err() << "vokimage: no background could be produced for " << output.name() << " "
                      << geometryText(output.geometry()) << ": " << rendered.error << "\n";
                err().flush();
                continue;
            }
            // A new surface shows its first picture at once.
            surface->showPicture(output, rendered.record, fadeMs);
            printResult(QStringLiteral("wayland:") + output.name(), output.geometry(), rendered,
                true, greeter);
            out().flush();
        }
    };
    QTimer debounce;
    debounce.setSingleShot(true);
    debounce.setInterval(100);
    QObject::connect(&debounce, &QTimer::timeout, refresh);
    const auto schedule = [&debounce] { debounce.start(); };
    const auto follow = [schedule](QScreen *screen) {
        QObject::connect(screen, &QScreen::geometryChanged, schedule);
        QObject::connect(screen, &QScreen::physicalDotsPerInchChanged, schedule);
        QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, schedule);
    };
    for (QScreen *screen : QGuiApplication::screens())
        follow(screen);
    QObject::connect(qApp, &QGuiApplication::screenAdded, [follow, schedule](QScreen *screen) {
        follow(screen);
        schedule();
    });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, [&surfaces, schedule](QScreen *screen) {
        surfaces.erase(screen);
        schedule();
    });
    BackgroundWatcher watcher(greeter);
    QObject::connect(&watcher, &BackgroundWatcher::changed, [&configurationChanged, schedule] {
        configurationChanged = true;
        schedule();
    });
    // A window stays open only while the surfaces live: the last one closing is not the end.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Between pictures, the platform's messages (the compositor gone) are printed at once.
    setHoldMessages(false);
    refresh();
    report() << "watching the outputs and " << watcher.watchedFiles().join(QStringLiteral(", "))
             << "\n";
    report().flush();
    QGuiApplication::exec();
    surfaces.clear();
    report() << "stopped\n";
    report().flush();
    return Success;
}
#else
// Without the Wayland side the platform is never Wayland: main() refused the session first.
int runWayland(bool, int)
{
    return Failure;
}
#endif

} // namespace

namespace {

// Milliseconds a running apply takes to cross-fade a changed picture in.
constexpr int DefaultFadeMs = 300;

// The apply command's line and its options.
struct ApplyLine
{
    CommandLine line { QStringLiteral("apply"),
        QStringLiteral("Show each monitor's background (the desktop's, or the greeter's with "
                       "--greeter): on X11 as the root window's background, published for "
                       "compositors and terminals as _XROOTPMAP_ID and ESETROOT_PMAP_ID; in a "
                       "Wayland session on a background-layer surface per output, kept until "
                       "SIGTERM.") };
    const QCommandLineOption daemon { QStringLiteral("daemon"),
        QStringLiteral("Stay running and apply again when the monitor layout or a configuration "
                       "file changes; stop on SIGTERM or SIGINT.") };
    const QCommandLineOption x11 { QStringLiteral("x11"),
        QStringLiteral("Use the X server named by DISPLAY, even in a Wayland session.") };
    const QCommandLineOption wayland { QStringLiteral("wayland"),
        QStringLiteral("Use the Wayland compositor: a background-layer surface on each output, "
                       "kept until SIGTERM or SIGINT (apply stays running, as --daemon).") };
    const QCommandLineOption fade { QStringLiteral("fade"),
        QStringLiteral("Cross-fade a changed picture in over MS milliseconds (0 to 10000; 0 is "
                       "a cut). By default a running apply (--daemon, Wayland) fades over %1 "
                       "ms and a one-shot apply cuts; a first picture always appears at once.")
            .arg(DefaultFadeMs),
        QStringLiteral("MS") };
    int fadeMs = 0;

    // Parses @p arguments and checks what needs no display: -1 to go on, else the exit code.
    int parse(const QStringList &arguments, bool onWayland)
    {
        const int code = line.parse(
            arguments, { greeterOption(), screenOption(), daemon, x11, wayland, fade });
        if (code >= 0)
            return code;
        const bool running = onWayland || line.isSet(daemon) || line.isSet(wayland);
        fadeMs = running ? DefaultFadeMs : 0;
        if (line.isSet(fade)) {
            bool number = false;
            fadeMs = line.value(fade).toInt(&number);
            if (!number || fadeMs < 0 || fadeMs > 10000)
                return line.usageError(QStringLiteral("--fade takes milliseconds from 0 to 10000, "
                                                      "not \"%1\"")
                                           .arg(line.value(fade)));
        }
        if (line.isSet(x11) && line.isSet(wayland))
            return line.usageError(QStringLiteral("give --x11 or --wayland, not both"));
        if (onWayland && line.isSet(screenOption()))
            return line.usageError(QStringLiteral(
                "--screen is for an X server; on Wayland each output gets its own background"));
        return -1;
    }
};

} // namespace

int checkApplyOnWayland(const QStringList &arguments)
{
    ApplyLine apply;
    return apply.parse(arguments, true);
}

int applyCommand(const QStringList &arguments)
{
    ApplyLine apply;
    CommandLine &line = apply.line;
    const bool onWayland = QGuiApplication::platformName() == QLatin1String("wayland");
    const int code = apply.parse(arguments, onWayland);
    if (code >= 0)
        return code;
    // A picture is shown first and stored while it goes to the screen.
    Cache::setStoreInBackground(true);
    if (onWayland)
        return runWayland(line.isSet(greeterOption()), apply.fadeMs);
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
    // One daemon per display and user: a second one ends before it draws anything.
    std::unique_ptr<SoleApply> sole;
    if (line.isSet(apply.daemon)) {
        sole = std::make_unique<SoleApply>(false);
        if (runningAlready(*sole))
            return Success;
    }
    const bool ok = applyOnce(monitors, greeter, line.isSet(apply.daemon) ? 0 : apply.fadeMs);
    if (!line.isSet(apply.daemon))
        return ok ? Success : Failure;
    return runDaemon(connection, screens, greeter, apply.fadeMs);
}

} // namespace Tool
