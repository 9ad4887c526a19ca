// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/utils.h>
#include <vokimage/vocabulary.h>

#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"

#include <QDebug>
#include <QFile>

namespace {

// Portrait classes as (width part, height part), narrowest first.
constexpr QPair<int, int> Ratios[] = { { 9, 21 }, { 9, 16 }, { 10, 16 }, { 3, 4 } };

// Largest template that is read; the shipped ones are a few kilobytes.
constexpr qint64 MaxTemplateSize = 16 * 1024 * 1024;

} // namespace

QPair<int, int> wallpaperSizeRatio(QSize size)
{
    const double r = double(size.width()) / double(size.height()) - 0.01;
    if (r < 1.0) {
        for (const auto &ratio : Ratios) {
            if (double(ratio.first) / double(ratio.second) >= r)
                return ratio;
        }
        return { 3, 4 };
    }
    for (auto it = std::rbegin(Ratios); it != std::rend(Ratios); ++it) {
        if (double(it->second) / double(it->first) >= r)
            return { it->second, it->first };
    }
    return { 21, 9 };
}

namespace VokImage {
namespace Utils {

namespace {

QByteArray recoloured(const QString &templatePath, const QColor &color, bool *ok)
{
    QByteArray bytes;
    *ok = SharedFiles::readNoFollow(templatePath, MaxTemplateSize, &bytes);
    if (!*ok)
        return {};
    QString text = QString::fromUtf8(bytes);
    const QList<QPair<QString, QColor>> palette = CreateShadeColors(color);
    for (const auto &shade : palette)
        text.replace(
            QStringLiteral("#%1").arg(shade.first), shade.second.name(), Qt::CaseSensitive);
    return text.toUtf8();
}

} // namespace

QString getVokDefaultWallpaper(QRect screen, const QColor &color)
{
    const QPair<int, int> ratio = wallpaperSizeRatio(screen.size());
    const QString ratioText
        = QString::number(ratio.first) + QLatin1Char(':') + QString::number(ratio.second);
    const QString templatePath = QLatin1String("/usr/share/wallpapers/") + ratioText
        + QLatin1Char('/') + DefaultWallpaper + QLatin1String(".svg.in");
    const QString fileName = DefaultWallpaper + color.name() + QLatin1String(".svg");
    const QString sharedDir = CacheDir + QLatin1Char('/') + ratioText;
    const QString sharedPath = sharedDir + QLatin1Char('/') + fileName;
    const QString privateBase = SharedFiles::privateCacheDir();
    const QString privatePath = privateBase.isEmpty()
        ? QString()
        : privateBase + QLatin1Char('/') + ratioText + QLatin1Char('/') + fileName;
    // The private folder of the ratio, by the trusted walk; with @p create made when missing.
    auto privateFolder = [&ratioText](bool create) {
        const SharedFiles::FileDescriptor base = SharedFiles::openPrivateCache(create);
        return base.isValid() ? SharedFiles::openPrivateSubdirectory(base.get(), ratioText, create)
                              : SharedFiles::FileDescriptor();
    };

    // A file is used only where no other user can have put or changed it. One this user had
    // to make privately stays in use, so that the maps naming it keep their cache files.
    SharedFiles::FileDescriptor privateDir = privateFolder(false);
    if (privateDir.isValid() && SharedFiles::isTrustedFileAt(privateDir.get(), fileName))
        return privatePath;
    if (SharedFiles::secureSharedDirectory(CacheDir) == SharedFiles::DirectoryState::Trusted
        && SharedFiles::secureSharedDirectory(sharedDir) == SharedFiles::DirectoryState::Trusted
        && SharedFiles::isTrustedFile(sharedPath))
        return sharedPath;

    const bool sharedUsable = SharedFiles::ensureSharedDirectory(CacheDir)
        && SharedFiles::ensureSharedDirectory(sharedDir);
    if (!sharedUsable && !privatePath.isEmpty())
        privateDir = privateFolder(true);
    if (!sharedUsable && !privateDir.isValid()) {
        vokWarning(render) << "Can't create cache dir: " << sharedDir;
        return QString();
    }

    bool ok = false;
    const QByteArray text = recoloured(templatePath, color, &ok);
    if (!ok) {
        vokWarning(render) << "Can't open default wallpaper: " << templatePath;
        return QString();
    }

    // Another user's file under the name cannot be replaced: the private directory serves.
    if (sharedUsable
        && SharedFiles::writeAtomically(sharedPath, text) == SharedFiles::WriteResult::Written)
        return sharedPath;
    if (!privateDir.isValid() && !privatePath.isEmpty())
        privateDir = privateFolder(true);
    if (!privateDir.isValid()) {
        vokWarning(render) << "Can't open default wallpaper for writing: " << sharedPath;
        return QString();
    }
    if (SharedFiles::writeAtomicallyAt(
            privateDir.get(), fileName, { text }, true, SharedFiles::PublicFileMode)
        != SharedFiles::WriteResult::Written) {
        vokWarning(render) << "Can't open default wallpaper for writing: " << privatePath;
        return QString();
    }
    return privatePath;
}

} // namespace Utils
} // namespace VokImage
