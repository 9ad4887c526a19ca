// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>
#include <vokimage/config.h>
#include <vokimage/utils.h>
#include <vokimage/watcher.h>

#include "api_p.h"
#include "config/config_p.h"
#include "internal/keys_p.h"
#include "internal/sharedfiles_p.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QTimer>

#include <sys/stat.h>

#include <limits>

namespace VokImage {

namespace {

constexpr int QuietPeriodMs = 300;
// However long changes go on, the maps are read again this long after the first of them.
constexpr int LongestWaitMs = 1000;

QList<QRect> referenceScreens()
{
    QList<QRect> screens { QRect(0, 0, 1920, 1080) };
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        for (const QScreen *screen : QGuiApplication::screens())
            if (!screens.contains(screen->geometry()))
                screens.append(screen->geometry());
    return screens;
}

QString pathOf(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<File>())
        return value.value<File>().path;
    return value.toString();
}

// The nearest existing folder at or above @p path.
QString existingFolder(QString path)
{
    while (!QFileInfo(path).isDir() && path != QLatin1String("/") && !path.isEmpty())
        path = QFileInfo(path).absolutePath();
    return path;
}

} // namespace

class Q_DECL_HIDDEN BackgroundWatcher::Private
{
public:
    explicit Private(BackgroundWatcher *q, bool greeter)
        : q(q)
        , greeter(greeter)
    {
        quiet.setSingleShot(true);
        quiet.setInterval(QuietPeriodMs);
        QObject::connect(&quiet, &QTimer::timeout, q, [this] { settle(); });
        // A wallpaper folder shows another picture at each interval's boundary.
        boundary.setSingleShot(true);
        QObject::connect(&boundary, &QTimer::timeout, q, [this] { settle(true); });
        QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, q, [this] { schedule(); });
        QObject::connect(
            &watcher, &QFileSystemWatcher::directoryChanged, q, [this](const QString &folder) {
                // Entries of a watched folder that decide nothing (others' files in a shared
                // folder) are not a change.
                const QByteArray state = folderState(folder);
                if (state == folderStates.value(folder))
                    return;
                folderStates.insert(folder, state);
                schedule();
            });
        // The colour scheme picks the dark wallpaper of a theme that has one.
        Config::followColourScheme(q, [this] {
            schemeChanged = true;
            schedule();
        });
        restart();
    }

    // Waits for the quiet period after a change, but no longer than LongestWaitMs after the
    // first change of a burst.
    void schedule()
    {
        if (!quiet.isActive())
            burst.start();
        quiet.start(int(qBound<qint64>(0, LongestWaitMs - burst.elapsed(), QuietPeriodMs)));
    }

    // What decides the background in @p folder: the watched files there (or below it, while
    // their folders are missing) and, for the wallpaper folder, its listing's identity.
    QByteArray folderState(const QString &folder) const
    {
        QByteArray state;
        const QStringList list = files();
        for (const QString &file : list)
            if (existingFolder(QFileInfo(file).absolutePath()) == folder)
                state += file.toUtf8() + '=' + statText(file) + '\n';
        if (folder == wallpaperFolder)
            state += statText(folder);
        return state;
    }

    // Reads the maps afresh and watches what they name, without a signal.
    void restart()
    {
        maps = currentMaps();
        inputs = currentInputs();
        rewatch();
    }

    // The files that decide the background: the configuration and what its maps name.
    QStringList files() const
    {
        QStringList list = greeter
            ? QStringList { VokOrvPathFactory::defaultSettingsPath() }
            : QStringList { VokPathFactory::getVokThemeFile(), VokPathFactory::getVokPalette(),
                  VokPathFactory::getVokDesktopDir() + QLatin1String("/.directory") };
        for (const QString &file : named)
            if (!file.isEmpty() && QFileInfo(file).isAbsolute() && !list.contains(file))
                list.append(file);
        return list;
    }

    // What the files hold now: the configuration's contents (read without touching them: the
    // library's touch alone is no change) and the identity and time of every other file.
    QByteArray currentInputs() const
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const QStringList list = files();
        for (int i = 0; i < list.size(); ++i) {
            hash.addData(list.at(i).toUtf8());
            QByteArray data;
            QString reason;
            const bool configuration = i < (greeter ? 1 : 3);
            if (!configuration)
                hash.addData(statText(list.at(i)));
            else if (SharedFiles::settingsFileState(list.at(i), &reason)
                && SharedFiles::readFile(list.at(i), SharedFiles::MaxSettingsFileSize, &data))
                hash.addData(data);
        }
        // A wallpaper folder's pictures come and go with its listing.
        if (!wallpaperFolder.isEmpty())
            hash.addData(statText(wallpaperFolder));
        return hash.result();
    }

    static QByteArray statText(const QString &path)
    {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return QByteArrayLiteral("-");
        return QByteArray::number(qulonglong(st.st_dev)) + ':'
            + QByteArray::number(qulonglong(st.st_ino)) + ':'
            + QByteArray::number(qlonglong(st.st_size)) + ':'
            + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.'
            + QByteArray::number(qlonglong(st.st_mtim.tv_nsec));
    }

    // The property maps of the reference screens; the files they name go to @c named.
    QByteArray currentMaps()
    {
        wallpaperFolder = Config::configuredWallpaper(greeter);
        if (!isFolder(wallpaperFolder))
            wallpaperFolder.clear();
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        named.clear();
        for (const QRect &screen : referenceScreens()) {
            const QMap<QString, QVariant> wallpaper
                = greeter ? getWallpaperOrvProperties(screen) : getWallpaperProperties(screen);
            const QMap<QString, QVariant> logo
                = greeter ? getLogoOrvProperties(screen) : getLogoProperties(screen);
            stream << wallpaper << logo;
            const QPair<int, int> ratio = wallpaperSizeRatio(screen.size());
            named << pathOf(wallpaper.value(PropertyKey::ImagePath))
                  << pathOf(logo.value(PropertyKey::LogoPath))
                  << QStringLiteral("/usr/share/wallpapers/%1:%2/vok-default.svg.in")
                         .arg(ratio.first)
                         .arg(ratio.second);
        }
        return bytes;
    }

    // Arms the boundary timer while the configuration names a wallpaper folder.
    void armBoundary()
    {
        if (!isFolder(wallpaperFolder)) {
            boundary.stop();
            return;
        }
        // A little after the boundary, so that the clock has passed it.
        boundary.start(int(qMin<qint64>(untilNextPicture(Config::wallpaperInterval(greeter)) + 50,
            std::numeric_limits<int>::max())));
    }

    void rewatch()
    {
        if (!watcher.files().isEmpty())
            watcher.removePaths(watcher.files());
        if (!watcher.directories().isEmpty())
            watcher.removePaths(watcher.directories());
        QStringList paths;
        const QStringList list = files();
        for (const QString &file : list) {
            if (QFileInfo(file).exists())
                paths.append(file);
            const QString folder = existingFolder(QFileInfo(file).absolutePath());
            if (!folder.isEmpty() && !paths.contains(folder))
                paths.append(folder);
        }
        if (isFolder(wallpaperFolder))
            paths.append(wallpaperFolder);
        paths.removeDuplicates();
        folderStates.clear();
        for (const QString &path : qAsConst(paths))
            if (isFolder(path))
                folderStates.insert(path, folderState(path));
        if (!paths.isEmpty())
            watcher.addPaths(paths);
        armBoundary();
    }

    // After a change of the files, or at a folder's boundary (@p due: the maps may have changed
    // though no file did).
    void settle(bool due = false)
    {
        const QByteArray now = currentInputs();
        rewatch();
        if (now == inputs && !due && !schemeChanged)
            return;
        schemeChanged = false;
        const QByteArray newMaps = currentMaps();
        // Reading the maps may have touched the files, and names other files now.
        inputs = currentInputs();
        rewatch();
        if (newMaps == maps)
            return;
        maps = newMaps;
        ++revision;
        Q_EMIT q->changed();
    }

    BackgroundWatcher *q;
    bool greeter;
    int revision = 0;
    QFileSystemWatcher watcher;
    QTimer quiet;
    QTimer boundary;
    QElapsedTimer burst;
    QHash<QString, QByteArray> folderStates;
    QString wallpaperFolder;
    QByteArray maps;
    QByteArray inputs;
    QStringList named;
    bool schemeChanged = false;
};

BackgroundWatcher::BackgroundWatcher(QObject *parent)
    : BackgroundWatcher(false, parent)
{ }

BackgroundWatcher::BackgroundWatcher(bool greeter, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this, greeter))
{ }

BackgroundWatcher::~BackgroundWatcher() = default;

bool BackgroundWatcher::isGreeter() const
{
    return d->greeter;
}

void BackgroundWatcher::setGreeter(bool greeter)
{
    if (d->greeter == greeter)
        return;
    d->greeter = greeter;
    d->restart();
    Q_EMIT greeterChanged();
}

int BackgroundWatcher::revision() const
{
    return d->revision;
}

QStringList BackgroundWatcher::watchedFiles() const
{
    return d->files();
}

} // namespace VokImage
