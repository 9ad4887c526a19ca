// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Real local users made inside the sandbox, and the tool run as them: victims (a user's
// desktop, the greeter as root) and attackers.

#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <sys/types.h>

extern const QString Tool;
/// The folder of the users' homes.
extern const QString Users;

struct User
{
    QString name;
    uid_t uid;
    QString home() const { return Users + QLatin1Char('/') + name; }
};

extern const User Alice;
extern const User Mallory;
extern const User Bob;

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

/// How run() starts a command: in the user's home unless told, with extra environment.
struct RunOptions
{
    QString workingDirectory;
    QMap<QString, QString> environment;
    int timeout = 120000;
};

/// The environment of a session of @p user (null: root's, with HOME at /tmp/home).
QProcessEnvironment environmentOf(const User *user);
/// The program and arguments that run @p arguments as @p user (null: root).
QStringList commandAs(const User *user, const QStringList &arguments);
/// Runs @p arguments as @p user and waits for them.
Run run(const User *user, const QStringList &arguments, const RunOptions &options = RunOptions());
/// Runs the tool as @p user.
Run tool(const User *user, const QStringList &arguments, const RunOptions &options = RunOptions());
/// Runs @p arguments as @p user with its output discarded; its peak resident memory in MiB
/// (the rusage of that one child), its exit status through @p code.
long peakOfCommand(const User *user, const QStringList &arguments, int *code = nullptr);

/**
 * Renders with the layers in a child process (this program again, --child): a wallpaper when
 * @p wallpaper is given, at @p position, and a logo over it when @p logo is given, on @p screen;
 * saved to @p output when given. Its exit status; its peak resident memory in MiB through
 * @p rss. The program's main() hands "--child" to renderChild().
 */
int renderMeasured(const QString &wallpaper, const QString &logo, const QString &output, long *rss,
    const QSize &screen = QSize(320, 200), int position = 3);
int renderChild(const QStringList &arguments);
/// The main() of an attack test: the child of renderMeasured() when asked for, else the tests
/// of @p test. The application object exists already.
int runAttacks(QObject *test, int argc, char **argv);

// A background loop run as @p user until stop() is called.
class Loop
{
public:
    Loop(const User &user, const QString &script);
    ~Loop();
    void stop();

private:
    QString m_stop;
    QProcess m_process;
};

/// Adds @p user to the system with a 0700 home under Users, and its theme folder.
bool addUser(const User &user);
/// Adds Alice, Mallory and Bob, and root's session folder; false when useradd cannot.
bool addUsers();
/// Writes @p user's desktop theme file (its folder must exist).
bool writeTheme(const User &user, const QByteArray &lines);
/// Writes @p data to @p path as @p user's file.
bool writeAs(const User &user, const QString &path, const QByteArray &data, mode_t mode = 0644);
/// True when some pixel of @p image is the private pictures' magenta.
bool showsSecret(const QImage &image);
/// Every picture stored under @p dir (cache files hold a PNG after the map).
QList<QImage> storedPictures(const QString &dir);
/// Removes the shared cache and every user's private one.
void clearCaches();
/// The backgrounds of the desktop (a user) or the greeter (root) for @p screen into @p file.
Run background(const User *user, const QString &screen, const QString &file);
/// How many results of a tool's output came from a cache.
int hits(const QByteArray &output);
/// A gzip stream of an SVG document that inflates to @p size bytes.
QByteArray gzipBomb(qint64 size);
