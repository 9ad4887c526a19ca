// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// vokimage: renders backgrounds, sets them on the X root window and answers questions about
// them from the command line.

#include "cli.h"
#include "commands.h"
#include "wayland.h"

#include <vokimage/version.h>

#include <QGuiApplication>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <unistd.h>

namespace {

struct Command
{
    const char *name;
    const char *summary;
    std::function<int(const QStringList &)> run;
};

const QList<Command> &commands()
{
    using namespace Tool;
    static const QList<Command> list = {
        { "background", "render the whole background for screens (--greeter for the greeter's)",
            [](const QStringList &a) { return imageCommand(QStringLiteral("background"), a); } },
        { "wallpaper", "render the wallpaper alone for screens",
            [](const QStringList &a) { return imageCommand(QStringLiteral("wallpaper"), a); } },
        { "logo", "render the logo alone for screens",
            [](const QStringList &a) { return imageCommand(QStringLiteral("logo"), a); } },
        { "apply",
            "show the backgrounds on the X root window or every Wayland output (--daemon follows "
            "changes)",
            applyCommand },
        { "check", "explain the configuration and what will not show as configured", checkCommand },
        { "properties", "print the property maps of screens as JSON", propertiesCommand },
        { "config", "print what the desktop or greeter configuration answers for keys",
            configCommand },
        { "cache", "show or clear the shared and the private picture cache (info | clear)",
            cacheCommand },
        { "render", "render a property map given by options, without cache", renderCommand },
        { "palette", "print the shade palette of a colour", paletteCommand },
        { "default-wallpaper", "generate the default wallpaper for a screen and colour",
            defaultWallpaperCommand },
    };
    return list;
}

int mainHelp(int code)
{
    QTextStream &stream = code == Tool::Success ? Tool::out() : Tool::err();
    stream << "Usage: vokimage COMMAND [options]\n       vokimage --version\n\nCommands:\n";
    for (const Command &command : commands())
        stream << "  " << QString::fromLatin1(command.name).leftJustified(20) << command.summary
               << "\n";
    stream << "\nRun 'vokimage COMMAND --help' for the options of a command.\n";
    return code;
}

// Ends an apply whose work is done (pictures shown, stores finished, output written) without
// tearing Qt down: the offscreen platform's teardown sets fontconfig up only to drop it, and
// unmapping the libraries costs more. Sanitizer builds return normally to keep their exit checks.
void endWithoutTeardown(int code)
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    std::fflush(nullptr);
    ::_exit(code);
#else
    Q_UNUSED(code)
#endif
}

} // namespace

int main(int argc, char **argv)
{
    // Large buffers (pictures, the bands of a store) go back to the system when they are freed,
    // instead of raising glibc's threshold and staying in the heap: a running apply stays small.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // Pictures are rendered offscreen whatever DISPLAY says; apply talks to X11 itself, or
    // shows its surfaces through Qt's Wayland platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw.append(QString::fromLocal8Bit(argv[i]));
    if (!raw.isEmpty() && raw.first() == QLatin1String("apply")
        && !raw.contains(QLatin1String("--help")) && !raw.contains(QLatin1String("-h"))
        && Tool::Wayland::chosen(raw)) {
        // Usage errors first: nothing is connected to for a command line that is wrong.
        const int code = Tool::checkApplyOnWayland(raw);
        if (code >= 0)
            return code;
        const QString problem = Tool::Wayland::compositorProblem();
        if (!problem.isEmpty()) {
            Tool::err() << "vokimage: " << problem << "\n";
            return Tool::Failure;
        }
        Tool::Wayland::prepare();
    }
    Tool::installMessageFilter();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("vokimage"));
    QGuiApplication::setApplicationVersion(QStringLiteral(VOKIMAGE_VERSION_STRING));

    const QStringList arguments = QGuiApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return mainHelp(Tool::UsageError);
    const QString name = arguments.first();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")
        || name == QLatin1String("help"))
        return mainHelp(Tool::Success);
    if (name == QLatin1String("--version")) {
        Tool::out() << "vokimage " << VOKIMAGE_VERSION_STRING << "\n";
        return Tool::Success;
    }
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name)) {
            const int code = command.run(arguments);
            Tool::out().flush();
            Tool::err().flush();
            if (name == QLatin1String("apply"))
                endWithoutTeardown(code);
            return code;
        }
    }
    Tool::err() << "vokimage: unknown command " << name
                << "\nRun 'vokimage --help' for the commands.\n";
    return Tool::UsageError;
}
