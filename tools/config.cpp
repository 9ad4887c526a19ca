// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// config and cache: what the configuration answers, and the picture caches.

#include "cli.h"
#include "commands.h"

#include "internal/keys_p.h"
#include "internal/sharedfiles_p.h"

#include <QJsonArray>

namespace Tool {

using namespace VokImage;

namespace {

template <std::size_t N> QStringList keyList(const std::array<QLatin1String, N> &keys)
{
    QStringList list;
    for (const QLatin1String &key : keys)
        list.append(key);
    return list;
}

QString describe(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("(none)");
    if (value.userType() == QMetaType::QColor)
        return colourText(value.value<QColor>());
    if (value.userType() == QMetaType::QStringList)
        return QLatin1Char('[') + value.toStringList().join(QStringLiteral(", "))
            + QLatin1Char(']');
    return value.toString() + QStringLiteral(" (") + QString::fromLatin1(value.typeName())
        + QLatin1Char(')');
}

} // namespace

int configCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("config"),
        QStringLiteral("Print what the configuration answers for property keys."));
    line.addPositional(QStringLiteral("keys"),
        QStringLiteral("Property keys such as Options.Wallpaper.Path; none prints the usual ones."),
        QStringLiteral("[KEY...]"));
    const int code = line.parse(arguments, { greeterOption(), jsonOption() });
    if (code >= 0)
        return code;
    const bool greeter = line.isSet(greeterOption());
    QStringList keys = line.positional();
    if (keys.isEmpty())
        keys = greeter ? keyList(ConfigKey::Greeter) : keyList(ConfigKey::Desktop);
    FileSystemEngine engine(
        greeter ? FileSystemEngine::DisplayManager : FileSystemEngine::DesktopSession);
    QJsonObject object;
    for (const QString &key : qAsConst(keys)) {
        const QVariant value = engine.getProperty(key);
        if (line.isSet(jsonOption()))
            object.insert(key, toJson(key, value));
        else
            out() << key << " = " << describe(value) << "\n";
    }
    releaseMessages(false);
    if (line.isSet(jsonOption()))
        printJson(object);
    return Success;
}

namespace {

// The regular files of @p dir: pictures directly in it, backgrounds kept across reboots in its
// "kept" folder, generated wallpapers in its ratio subdirectories. Links are not followed.
struct Census
{
    int pictures = 0;
    quint64 pictureBytes = 0;
    int kept = 0;
    quint64 keptBytes = 0;
    int wallpapers = 0;
    quint64 wallpaperBytes = 0;
};

Census census(int dirFd)
{
    Census total;
    SharedFiles::visitFiles(
        dirFd, [&total](int, const QString &folder, const char *, const struct stat &st) {
            const quint64 size = quint64(st.st_size);
            if (folder.isEmpty()) {
                ++total.pictures;
                total.pictureBytes += size;
            } else if (folder == QLatin1String("kept")) {
                ++total.kept;
                total.keptBytes += size;
            } else {
                ++total.wallpapers;
                total.wallpaperBytes += size;
            }
        });
    return total;
}

QJsonObject directoryJson(const QString &dir, const QString &state, const Census &count)
{
    return QJsonObject {
        { QStringLiteral("directory"), dir.isEmpty() ? QJsonValue() : QJsonValue(dir) },
        { QStringLiteral("state"), state },
        { QStringLiteral("pictures"), count.pictures },
        { QStringLiteral("pictureBytes"), double(count.pictureBytes) },
        { QStringLiteral("keptBackgrounds"), count.kept },
        { QStringLiteral("keptBackgroundBytes"), double(count.keptBytes) },
        { QStringLiteral("generatedWallpapers"), count.wallpapers },
        { QStringLiteral("generatedWallpaperBytes"), double(count.wallpaperBytes) },
    };
}

void printDirectory(
    const QString &title, const QString &dir, const QString &state, const Census &count)
{
    out() << title.leftJustified(11) << (dir.isEmpty() ? QStringLiteral("(none)") : dir) << " ("
          << state << ")\n"
          << "  pictures             " << count.pictures << " (" << count.pictureBytes
          << " bytes)\n";
    if (count.kept > 0)
        out() << "  kept backgrounds     " << count.kept << " (" << count.keptBytes << " bytes)\n";
    out() << "  generated wallpapers " << count.wallpapers << " (" << count.wallpaperBytes
          << " bytes)\n";
}

} // namespace

int cacheCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("cache"),
        QStringLiteral("Inspect or clear the shared and the private picture cache."));
    line.addPositional(QStringLiteral("action"),
        QStringLiteral("info: directories, pictures, generated wallpapers, size and limit; "
                       "clear: remove the files this user may remove, generated wallpapers "
                       "included."),
        QStringLiteral("info|clear"));
    const int code = line.parse(arguments, { jsonOption() });
    if (code >= 0)
        return code;
    const QStringList positional = line.positional();
    const QString action = positional.size() == 1 ? positional.first() : QString();
    if (action != QLatin1String("info") && action != QLatin1String("clear"))
        return line.usageError(QStringLiteral("give info or clear"));
    // Both directories are judged once and then used through their descriptors only.
    const QString privateDir = Cache::privateCacheDir();
    SharedFiles::DirectoryState sharedState = SharedFiles::DirectoryState::Missing;
    const SharedFiles::FileDescriptor sharedFd
        = SharedFiles::openSharedDirectory(CacheDir, false, &sharedState);
    SharedFiles::DirectoryState privateState = SharedFiles::DirectoryState::Untrusted;
    const SharedFiles::FileDescriptor privateFd = privateDir.isEmpty()
        ? SharedFiles::FileDescriptor()
        : SharedFiles::openPrivateDirectory(privateDir, false, &privateState);
    if (action == QLatin1String("info")) {
        const Census shared = sharedFd.isValid() ? census(sharedFd.get()) : Census();
        const Census own = privateFd.isValid() ? census(privateFd.get()) : Census();
        const quint64 removable = Cache::getCacheSize();
        releaseMessages(false);
        if (line.isSet(jsonOption())) {
            QJsonObject sharedObject = directoryJson(CacheDir, stateText(sharedState), shared);
            sharedObject.insert(QStringLiteral("removableBytes"), double(removable));
            printJson(QJsonObject {
                { QStringLiteral("shared"), sharedObject },
                { QStringLiteral("private"),
                    directoryJson(privateDir, stateText(privateState), own) },
                { QStringLiteral("limitBytes"), double(Cache::MaxCacheSize) },
            });
            return Success;
        }
        printDirectory(QStringLiteral("shared"), CacheDir, stateText(sharedState), shared);
        out() << "  size                 " << removable << " bytes this user may remove\n";
        printDirectory(QStringLiteral("private"), privateDir, stateText(privateState), own);
        out() << "limit      " << Cache::MaxCacheSize << " bytes each\n";
        return Success;
    }
    SharedFiles::RemoveCount shared;
    SharedFiles::RemoveCount own;
    const bool sharedCleared = sharedState == SharedFiles::DirectoryState::Missing
        || (sharedFd.isValid() && SharedFiles::removeOwnFilesAt(sharedFd.get(), true, &shared));
    if (privateFd.isValid())
        SharedFiles::removeOwnFilesAt(privateFd.get(), true, &own);
    releaseMessages(!sharedCleared);
    out() << "removed " << shared.removed << " file(s) from " << CacheDir;
    if (shared.kept > 0)
        out() << "; kept " << shared.kept << " of other users";
    out() << "\nremoved " << own.removed << " file(s) from "
          << (privateDir.isEmpty() ? QStringLiteral("(no private cache)") : privateDir) << "\n";
    if (!sharedCleared) {
        err() << "vokimage: " << CacheDir
              << " is not a directory of root or this user; it is not used\n";
        return Failure;
    }
    return Success;
}

} // namespace Tool
