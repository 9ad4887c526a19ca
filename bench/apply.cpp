// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// vokimage apply against the X11 wallpaper setters of Debian (feh, xwallpaper, hsetroot):
// whole processes on Xvfb, interleaved, medians of the wall time and the peak resident
// memory, for three setups; then the targets with met or NOT MET.
//
//   vokimage-bench-apply --tool PATH [--runs N] [--workdir DIR]
//
// Each peer's root picture is compared with vokimage's: only the peers that put the picture
// where vokimage does (the same crop on every monitor) count as the fastest peer.

#include "inputs.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Setup
{
    QString name;
    QString photo;
    QSize root;
    QList<QRect> monitors;
    // The peer's targets against the fastest right peer: cold, hit.
    double coldTarget;
    double hitTarget;
};

struct Command
{
    enum Kind { Peer, Vokimage, Compared };
    QString name;
    QStringList arguments;
    Kind kind = Peer;
    bool cold = false; // vokimage's caches are emptied before each run
};

struct Sample
{
    double milliseconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Starts processes for measure() from a process forked before this one grows: a child's peak
// resident memory (ru_maxrss) counts the memory of the process it was forked from, so children
// forked from the bench itself, with its pictures, would all weigh at least as much as it does.
class Spawner
{
public:
    // Forks the spawner; call first thing in main().
    static void start()
    {
        int requests[2], replies[2];
        if (::pipe(requests) != 0 || ::pipe(replies) != 0)
            return;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(requests[1]);
            ::close(replies[0]);
            serve(requests[0], replies[1]);
            ::_exit(0);
        }
        ::close(requests[0]);
        ::close(replies[1]);
        if (pid > 0) {
            s_requests = requests[1];
            s_replies = replies[0];
        }
    }

    // Runs @p arguments with DISPLAY @p display in the spawner; its wall time and peak memory.
    static Sample run(const QStringList &arguments, const QByteArray &display)
    {
        QByteArray request = display + '\0';
        for (const QString &argument : arguments)
            request += argument.toLocal8Bit() + '\0';
        const quint32 size = quint32(request.size());
        Sample sample;
        if (s_requests < 0 || !writeAll(s_requests, &size, sizeof size)
            || !writeAll(s_requests, request.constData(), size)
            || !readAll(s_replies, &sample, sizeof sample))
            return Sample();
        return sample;
    }

private:
    static bool writeAll(int fd, const void *data, size_t size)
    {
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd, static_cast<const char *>(data) + done, size - done);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

    static bool readAll(int fd, void *data, size_t size)
    {
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::read(fd, static_cast<char *>(data) + done, size - done);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

    // The spawner's loop: a request is the display and the arguments, each ended by a zero byte.
    static void serve(int requests, int replies)
    {
        quint32 size = 0;
        while (readAll(requests, &size, sizeof size)) {
            std::vector<char> request(size);
            if (!readAll(requests, request.data(), size))
                return;
            std::vector<char *> parts;
            for (size_t at = 0; at < size; at += strlen(request.data() + at) + 1)
                parts.push_back(request.data() + at);
            if (parts.size() < 2)
                return;
            const char *display = parts.front();
            std::vector<char *> argv(parts.begin() + 1, parts.end());
            argv.push_back(nullptr);
            timespec begin {}, end {};
            ::clock_gettime(CLOCK_MONOTONIC, &begin);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::setenv("DISPLAY", display, 1);
                ::unsetenv("WAYLAND_DISPLAY");
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                ::execvp(argv[0], argv.data());
                ::_exit(127);
            }
            Sample sample;
            int status = 0;
            struct rusage usage = {};
            if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
                ::clock_gettime(CLOCK_MONOTONIC, &end);
                sample.milliseconds
                    = (end.tv_sec - begin.tv_sec) * 1e3 + (end.tv_nsec - begin.tv_nsec) / 1e6;
                sample.peakKiB = usage.ru_maxrss;
                sample.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (!writeAll(replies, &sample, sizeof sample))
                return;
        }
    }

    static inline int s_requests = -1;
    static inline int s_replies = -1;
};

// Runs @p arguments with DISPLAY @p display; its wall time and peak resident memory.
Sample measure(const QStringList &arguments, const QByteArray &display)
{
    return Spawner::run(arguments, display);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// An Xvfb server of @p root with RandR monitors @p monitors, stopped by the destructor.
class Server
{
public:
    Server(const QSize &root, const QList<QRect> &monitors)
    {
        for (int number = 71; number < 99 && m_display.isEmpty(); ++number) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
                continue;
            const QString name = QStringLiteral(":%1").arg(number);
            m_process.start(QStringLiteral("Xvfb"),
                { name, QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("%1x%2x24").arg(root.width()).arg(root.height()),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                    QStringLiteral("-noreset") });
            for (int i = 0; i < 100 && !m_connection; ++i) {
                QThread::msleep(50);
                m_connection = XOpenDisplay(name.toLatin1().constData());
            }
            if (m_connection)
                m_display = name.toLatin1();
        }
        if (monitors.size() > 1) {
            int i = 0;
            for (const QRect &monitor : monitors) {
                const int index = i++;
                QProcess xrandr;
                xrandr.setStandardOutputFile(QProcess::nullDevice());
                xrandr.start(QStringLiteral("xrandr"),
                    { QStringLiteral("-d"), QString::fromLatin1(m_display),
                        QStringLiteral("--setmonitor"), QStringLiteral("bench-%1").arg(index),
                        QStringLiteral("%1/%2x%3/%4+%5+%6")
                            .arg(monitor.width())
                            .arg(monitor.width() / 4)
                            .arg(monitor.height())
                            .arg(monitor.height() / 4)
                            .arg(monitor.x())
                            .arg(monitor.y()),
                        index == 0 ? QStringLiteral("screen") : QStringLiteral("none") });
                xrandr.waitForFinished();
            }
        }
    }
    ~Server()
    {
        if (m_connection)
            XCloseDisplay(m_connection);
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    QByteArray display() const { return m_display; }

    // The root window's pixels, a sixteenth of each side (for comparing placements).
    QImage rootThumbnail() const
    {
        const Window root = DefaultRootWindow(m_connection);
        XWindowAttributes attributes;
        XGetWindowAttributes(m_connection, root, &attributes);
        XImage *image = XGetImage(m_connection, root, 0, 0, unsigned(attributes.width),
            unsigned(attributes.height), AllPlanes, ZPixmap);
        if (!image)
            return QImage();
        QImage copy(attributes.width, attributes.height, QImage::Format_RGB32);
        for (int y = 0; y < attributes.height; ++y) {
            auto *line = reinterpret_cast<QRgb *>(copy.scanLine(y));
            for (int x = 0; x < attributes.width; ++x)
                line[x] = QRgb(XGetPixel(image, x, y)) | 0xff000000u;
        }
        XDestroyImage(image);
        return copy.scaled(copy.size() / 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }

private:
    QProcess m_process;
    Display *m_connection = nullptr;
    QByteArray m_display;
};

// Mean difference per channel of two thumbnails; infinite when their sizes differ.
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return INFINITY;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

void emptyCaches()
{
    QDir(QStringLiteral("/tmp/cache")).removeRecursively();
    QDir(QDir::homePath() + QStringLiteral("/.cache/vokimage")).removeRecursively();
}

bool writeTheme(const QString &photo)
{
    QDir().mkpath(QDir::homePath() + QStringLiteral("/.vok/theme"));
    QFile theme(QDir::homePath() + QStringLiteral("/.vok/theme/current.themerc"));
    return theme.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && theme.write("WallPaper=" + photo.toUtf8() + "\nWallPaperPos=Crop\n") > 0;
}

struct Row
{
    QString command;
    double milliseconds;
    double peakMiB;
    bool right;
};

} // namespace

int main(int argc, char **argv)
{
    Spawner::start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption toolOption(
        QStringLiteral("tool"), QStringLiteral("vokimage"), QStringLiteral("PATH"));
    const QCommandLineOption runsOption(
        QStringLiteral("runs"), QStringLiteral("runs"), QStringLiteral("N"), QStringLiteral("9"));
    const QCommandLineOption dirOption(QStringLiteral("workdir"), QStringLiteral("inputs"),
        QStringLiteral("DIR"), QStringLiteral("/tmp/bench-apply"));
    const QCommandLineOption setupOption(QStringLiteral("setup"),
        QStringLiteral("only the setups N (1, 2 or 3; repeatable)"), QStringLiteral("N"));
    const QCommandLineOption compareOption(QStringLiteral("compare"),
        QStringLiteral("another vokimage, timed beside it and left out of the targets"),
        QStringLiteral("PATH"));
    parser.addOptions({ toolOption, runsOption, dirOption, setupOption, compareOption });
    parser.process(app);
    const QString tool = parser.value(toolOption);
    const int runs = qMax(1, parser.value(runsOption).toInt());
    const QString dir = parser.value(dirOption);
    QDir().mkpath(dir);

    const QString big = dir + QStringLiteral("/photo-6000x4000.jpg");
    const QString small = dir + QStringLiteral("/photo-1920x1080.jpg");
    for (const auto &[path, size, seed] : { std::tuple { big, QSize(6000, 4000), 1u },
             std::tuple { small, QSize(1920, 1080), 3u } }) {
        if (QFile::exists(path))
            continue;
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        if (!writer.write(Bench::photoLike(size, seed))) {
            fprintf(stderr, "bench-apply: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    QList<QString> peers;
    for (const char *peer : { "feh", "xwallpaper", "hsetroot" })
        if (!QStandardPaths::findExecutable(QString::fromLatin1(peer)).isEmpty())
            peers.append(QString::fromLatin1(peer));

    const QRect uhd(0, 0, 3840, 2160);
    const QList<Setup> setups = {
        { QStringLiteral("6000x4000 JPEG on one 3840x2160 monitor"), big, uhd.size(), { uhd }, 1.0,
            0.6 },
        { QStringLiteral("1920x1080 JPEG filled to one 3840x2160 monitor"), small, uhd.size(),
            { uhd }, 1.5, 1.0 },
        { QStringLiteral("6000x4000 JPEG on two monitors, 3840x2160 + 1920x1080"), big,
            QSize(5760, 2160), { uhd, QRect(3840, 0, 1920, 1080) }, 1.0, 0.6 },
    };

    bool allMet = true;
    QStringList targets;
    QList<int> chosen;
    for (const QString &value : parser.values(setupOption))
        chosen.append(value.toInt());
    for (int index = 0; index < setups.size(); ++index) {
        if (!chosen.isEmpty() && !chosen.contains(index + 1))
            continue;
        const Setup &setup = setups.at(index);
        long lowestPeerKiB = 0;
        long vokimagePeakKiB = 0;
        if (!writeTheme(setup.photo))
            return 1;
        const Server server(setup.root, setup.monitors);
        if (server.display().isEmpty()) {
            fprintf(stderr, "bench-apply: Xvfb did not start\n");
            return 1;
        }
        QList<Command> commands;
        for (const QString &peer : peers) {
            if (peer == QLatin1String("feh"))
                commands.append({ peer,
                    { peer, QStringLiteral("--no-fehbg"), QStringLiteral("--bg-fill"),
                        setup.photo } });
            else if (peer == QLatin1String("xwallpaper"))
                commands.append({ peer, { peer, QStringLiteral("--zoom"), setup.photo } });
            else
                commands.append({ peer, { peer, QStringLiteral("-cover"), setup.photo } });
        }
        const QString compared = parser.value(compareOption);
        for (const auto &[label, path, kind] :
            { std::tuple { QStringLiteral("vokimage"), tool, Command::Vokimage },
                std::tuple { QStringLiteral("compared"), compared, Command::Compared } }) {
            if (path.isEmpty())
                continue;
            commands.append({ label + QStringLiteral(" apply, cold"),
                { path, QStringLiteral("apply") }, kind, true });
            commands.append(
                { label + QStringLiteral(" apply, hit"), { path, QStringLiteral("apply") }, kind });
        }

        // Where each command puts the picture, against vokimage's.
        emptyCaches();
        if (measure({ tool, QStringLiteral("apply") }, server.display()).status != 0) {
            fprintf(stderr, "bench-apply: vokimage apply failed\n");
            return 1;
        }
        const QImage reference = server.rootThumbnail();
        QMap<QString, bool> right;
        for (const Command &command : qAsConst(commands)) {
            measure(command.arguments, server.display());
            right[command.name] = difference(server.rootThumbnail(), reference) < 8;
        }

        // The cold run before the hit in each round leaves the picture in the caches.
        QMap<QString, std::vector<double>> times;
        QMap<QString, long> peaks;
        for (int run = 0; run < runs; ++run) {
            for (const Command &command : qAsConst(commands)) {
                if (command.cold)
                    emptyCaches();
                const Sample sample = measure(command.arguments, server.display());
                if (sample.status != 0)
                    fprintf(stderr, "bench-apply: %s exited with %d\n", qPrintable(command.name),
                        sample.status);
                times[command.name].push_back(sample.milliseconds);
                peaks[command.name] = qMax(peaks.value(command.name), sample.peakKiB);
            }
        }

        printf("\n%s (medians of %d runs, interleaved)\n", qPrintable(setup.name), runs);
        printf("  %-24s %10s %12s  %s\n", "command", "ms", "peak MiB", "placement");
        std::optional<double> fastestRight;
        QString fastestName;
        for (const Command &command : qAsConst(commands)) {
            const double ms = median(times[command.name]);
            printf("  %-24s %10.1f %12.1f  %s\n", qPrintable(command.name), ms,
                peaks[command.name] / 1024.0,
                right[command.name] ? "as vokimage" : "different (not compared)");
            if (command.kind == Command::Peer) {
                lowestPeerKiB = lowestPeerKiB == 0 ? peaks[command.name]
                                                   : qMin(lowestPeerKiB, peaks[command.name]);
                if (right[command.name] && (!fastestRight || ms < *fastestRight)) {
                    fastestRight = ms;
                    fastestName = command.name;
                }
            } else if (command.kind == Command::Vokimage) {
                vokimagePeakKiB = qMax(vokimagePeakKiB, peaks[command.name]);
            }
        }
        const double above = (vokimagePeakKiB - lowestPeerKiB) / 1024.0;
        const bool memoryMet = above <= 20;
        allMet = allMet && memoryMet;
        targets.append(QStringLiteral("  peak memory of vokimage apply above the lowest peer's, "
                                      "%1: %2 MiB   target <= 20   %3")
                           .arg(setup.name)
                           .arg(above, 0, 'f', 1)
                           .arg(memoryMet ? QStringLiteral("met") : QStringLiteral("NOT MET")));
        if (!fastestRight) {
            targets.append(QStringLiteral("  %1: no peer placed the picture as vokimage does")
                               .arg(setup.name));
            allMet = false;
            continue;
        }
        for (const auto &[label, target] :
            { std::pair { QStringLiteral("vokimage apply, cold"), setup.coldTarget },
                std::pair { QStringLiteral("vokimage apply, hit"), setup.hitTarget } }) {
            const double ratio = median(times[label]) / *fastestRight;
            const bool met = ratio <= target + 1e-9;
            allMet = allMet && met;
            targets.append(QStringLiteral("  %1 / %2, %3: %4   target <= %5   %6")
                               .arg(label, fastestName, setup.name)
                               .arg(ratio, 0, 'f', 2)
                               .arg(target, 0, 'f', 1)
                               .arg(met ? QStringLiteral("met") : QStringLiteral("NOT MET")));
        }
    }
    printf("\nTargets\n%s\n", qPrintable(targets.join(QLatin1Char('\n'))));
    return allMet ? 0 : 3;
}
