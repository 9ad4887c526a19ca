// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "localusers.h"

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace VokImage;
using namespace TestPaths;

const QString Tool = QStringLiteral(VOKIMAGE_TOOL);
const QString Users = QStringLiteral("/tmp/users");
const User Alice { QStringLiteral("alice"), 2101 };
const User Mallory { QStringLiteral("mallory"), 2102 };
const User Bob { QStringLiteral("bob"), 2103 };

QProcessEnvironment environmentOf(const User *user)
{
    QProcessEnvironment env;
    const QString home = user ? user->home() : Home;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("USER"), user ? user->name : QStringLiteral("root"));
    env.insert(QStringLiteral("LOGNAME"), user ? user->name : QStringLiteral("root"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    // A sanitizer build's settings (suppressions of Qt's own leaks) reach the tool too.
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    for (const QString &name : words("ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS"))
        if (own.contains(name))
            env.insert(name, own.value(name));
    return env;
}

// The program and arguments that run @p arguments as @p user (null: root).
QStringList commandAs(const User *user, const QStringList &arguments)
{
    if (!user)
        return arguments;
    return QStringList { QStringLiteral("setpriv"), QStringLiteral("--reuid"),
        QString::number(user->uid), QStringLiteral("--regid"), QString::number(user->uid),
        QStringLiteral("--init-groups"), QStringLiteral("--") }
    + arguments;
}

Run run(const User *user, const QStringList &arguments, const RunOptions &options)
{
    const QStringList command = commandAs(user, arguments);
    QProcess process;
    QProcessEnvironment environment = environmentOf(user);
    for (auto it = options.environment.constBegin(); it != options.environment.constEnd(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(!options.workingDirectory.isEmpty() ? options.workingDirectory
            : user                                                  ? user->home()
                                                                    : QStringLiteral("/tmp"));
    process.start(command.first(), command.mid(1));
    Run result;
    if (!process.waitForFinished(options.timeout)) {
        qWarning("timed out: %s", qPrintable(command.join(QLatin1Char(' '))));
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (result.code != 0)
        qInfo("%s: exit %d\n%s", qPrintable(command.join(QLatin1Char(' '))), result.code,
            result.err.right(2000).constData());
    return result;
}

Run tool(const User *user, const QStringList &arguments, const RunOptions &options)
{
    return run(user, QStringList { Tool } + arguments, options);
}

// Renders with the layers in a child process (this program again, --child): a wallpaper, and a
// logo over it when @p logo is given. Its exit status; its peak resident memory in MiB through
// @p rss.
int renderMeasured(const QString &wallpaper, const QString &logo, const QString &output, long *rss,
    const QSize &screen, int position)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--child"), wallpaper, logo, output,
            QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()),
            QString::number(position) });
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit)
        return -1;
    *rss = child.readAllStandardOutput().trimmed().toLong();
    return child.exitCode();
}

int renderChild(const QStringList &arguments)
{
    const QStringList size = arguments.at(3).split(QLatin1Char('x'));
    const QRect screen(0, 0, size.value(0).toInt(), size.value(1).toInt());
    QMap<QString, QVariant> map;
    if (!arguments.at(0).isEmpty())
        map = wallpaperMap(arguments.at(0), screen, arguments.at(4).toInt());
    if (!arguments.at(1).isEmpty()) {
        map.insert(DefaultLogoProperties);
        map[QLatin1String(Keys::LogoPath)] = arguments.at(1);
        map[QLatin1String(Keys::LogoScreen)] = screen;
        map[QLatin1String(Keys::LogoPosition)] = int(LogoPosition::Center);
    }
    RenderEngine engine;
    const QImage image = engine.render(map).toImage();
    const bool ok = engine.getStatus() == RenderEngine::Ok
        && (arguments.at(2).isEmpty() || image.save(arguments.at(2)));
    printf("%ld\n", peakResidentMiB());
    return ok ? 0 : 1;
}

namespace {

bool makeHome(const User &user)
{
    const QString home = user.home();
    if (!QDir().mkpath(home + QStringLiteral("/runtime"))
        || !QDir().mkpath(home + QStringLiteral("/.vok/theme")))
        return false;
    for (const QString &dir : QStringList { home, home + QStringLiteral("/runtime"),
             home + QStringLiteral("/.vok"), home + QStringLiteral("/.vok/theme") }) {
        const QByteArray native = QFile::encodeName(dir);
        if (::chown(native.constData(), user.uid, user.uid) != 0
            || ::chmod(native.constData(), 0700) != 0)
            return false;
    }
    return true;
}

} // namespace

bool addUser(const User &user)
{
    return QProcess::execute(QStringLiteral("useradd"),
               { QStringLiteral("--uid"), QString::number(user.uid), QStringLiteral("--user-group"),
                   QStringLiteral("--no-create-home"), QStringLiteral("--home-dir"), user.home(),
                   QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), user.name })
        == 0
        && makeHome(user);
}

// Writes @p data to @p path as @p user's file.
bool writeAs(const User &user, const QString &path, const QByteArray &data, mode_t mode)
{
    if (!writeAll(path, data))
        return false;
    const QByteArray native = QFile::encodeName(path);
    return ::chown(native.constData(), user.uid, user.uid) == 0
        && ::chmod(native.constData(), mode) == 0;
}

bool writeTheme(const User &user, const QByteArray &lines)
{
    return writeAs(user, user.home() + QStringLiteral("/.vok/theme/current.themerc"), lines);
}

bool isMagenta(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 80 && qBlue(pixel) > 200;
}

// True when some pixel of @p image is the private pictures' magenta.
bool showsSecret(const QImage &image)
{
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (isMagenta(image.pixel(x, y)))
                return true;
    return false;
}

// Every picture stored under @p dir (cache files hold a PNG after the map).
QList<QImage> storedPictures(const QString &dir)
{
    QList<QImage> pictures;
    QDirIterator it(
        dir, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray data = readAll(it.next());
        const int png = data.indexOf("\x89PNG");
        if (png >= 0)
            pictures.append(QImage::fromData(data.mid(png), "PNG"));
    }
    return pictures;
}

void clearCaches()
{
    QDir(CacheDir).removeRecursively();
    QFile::remove(CacheDir);
    for (const User &user : { Alice, Mallory, Bob })
        QDir(user.home() + QStringLiteral("/.cache")).removeRecursively();
    QDir(QStringLiteral("/tmp/home/.cache")).removeRecursively();
    QDir(QStringLiteral("/tmp/roothome/.cache")).removeRecursively();
}

// The backgrounds of the desktop (a user) or the greeter (root) for @p screen into @p file.
Run background(const User *user, const QString &screen, const QString &file)
{
    QStringList arguments { QStringLiteral("background"), QStringLiteral("--screen"), screen,
        QStringLiteral("-o"), file };
    if (!user)
        arguments.insert(1, QStringLiteral("--greeter"));
    return tool(user, arguments);
}

int hits(const QByteArray &output)
{
    return output.count("from cache") + output.count("from private cache");
}

Loop::Loop(const User &user, const QString &script)
    : m_stop(user.home() + QStringLiteral("/stop"))
{
    QFile::remove(m_stop);
    const QStringList command = commandAs(&user,
        { QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("while [ ! -e %1 ]; do %2; done").arg(m_stop, script) });
    m_process.setProcessEnvironment(environmentOf(&user));
    m_process.setWorkingDirectory(user.home());
    m_process.start(command.first(), command.mid(1));
    m_process.waitForStarted();
}

Loop::~Loop()
{
    stop();
}

void Loop::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    QFile file(m_stop);
    file.open(QIODevice::WriteOnly);
    file.close();
    if (!m_process.waitForFinished(20000))
        m_process.kill();
    m_process.waitForFinished();
}

long peakOfCommand(const User *user, const QStringList &arguments, int *code)
{
    const QStringList command = commandAs(user, arguments);
    const QProcessEnvironment environment = environmentOf(user);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(QFile::encodeName(user ? user->home() : QStringLiteral("/tmp")).constData())
            != 0)
            _exit(127);
        ::clearenv();
        const QStringList names = environment.keys();
        for (const QString &name : names)
            ::setenv(QFile::encodeName(name).constData(),
                QFile::encodeName(environment.value(name)).constData(), 1);
        std::vector<QByteArray> bytes;
        for (const QString &argument : command)
            bytes.push_back(QFile::encodeName(argument));
        std::vector<char *> argv;
        for (QByteArray &argument : bytes)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (::wait4(child, &status, 0, &usage) != child)
        return -1;
    if (code)
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return usage.ru_maxrss / 1024;
}

// A gzip stream of an SVG document that inflates to @p size bytes.
QByteArray gzipBomb(qint64 size)
{
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    QByteArray out;
    QByteArray chunk(1 << 20, ' ');
    const QByteArray head = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">";
    char buffer[65536];
    auto feed = [&](const QByteArray &data, int flush) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
        stream.avail_in = uInt(data.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, int(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    for (qint64 done = head.size(); done < size; done += chunk.size())
        feed(chunk, Z_NO_FLUSH);
    feed(QByteArray("</svg>"), Z_FINISH);
    deflateEnd(&stream);
    return out;
}

int runAttacks(QObject *test, int argc, char **argv)
{
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 7 && arguments.at(1) == QLatin1String("--child"))
        return renderChild(arguments.mid(2));
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(test, argc, argv);
}

bool addUsers()
{
    if (!QDir().mkpath(Users) || !QDir().mkpath(QStringLiteral("/tmp/home/runtime"))
        || ::chmod("/tmp/home/runtime", 0700) != 0
        || ::chmod(QFile::encodeName(Users).constData(), 0755) != 0)
        return false;
    for (const User &user : { Alice, Mallory, Bob })
        if (!addUser(user))
            return false;
    return true;
}
