// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/logo.h>
#include <vokimage/render.h>

#include "imagefile_p.h"
#include "internal/logging_p.h"

#include <QDebug>
#include <QFileInfo>

namespace VokImage {

QString determineLogoSize(int width)
{
    if (width <= 800)
        return QStringLiteral("800");
    if (width <= 1280)
        return QStringLiteral("1280");
    if (width <= 1920)
        return QStringLiteral("1920");
    return QStringLiteral("2048");
}

QString findLogoPath(const QString &logoPath, int width, const QString &variant)
{
    const QString size = determineLogoSize(width);
    const QString candidates[] = {
        QStringLiteral("%1_%2_%3.png").arg(logoPath, size, variant),
        QStringLiteral("%1_%2.png").arg(logoPath, size),
        QStringLiteral("%1_%2.png").arg(logoPath, variant),
        QStringLiteral("%1.png").arg(logoPath),
    };
    for (const QString &candidate : candidates)
        if (QFileInfo::exists(candidate))
            return candidate;
    return QString();
}

QString getLogoPath(QString logoPath, bool white)
{
    const QString darkWord = containsColor(logoPath, DarkColors);
    const QString lightWord = containsColor(logoPath, LightColors);
    const QString &word = white ? darkWord : lightWord;
    if (word.isEmpty())
        return logoPath;
    for (const QString &replacement : white ? LightColors : DarkColors) {
        const QString candidate = QString(logoPath).replace(word, replacement, Qt::CaseSensitive);
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return logoPath;
}

QString getCurrentLogoPath(const QString &logoPath, LogoPosition position, const QImage &background)
{
    // A HiDPI background is measured in logical pixels: the size class of its logical width,
    // the logo at its logical size.
    const qreal ratio = background.devicePixelRatioF();
    const int logicalWidth = qRound(background.width() / ratio);
    QString path = logoPath;
    if (!QFileInfo::exists(path)) {
        path.clear();
        for (const QString &variant : AllColors) {
            path = findLogoPath(logoPath, logicalWidth, variant);
            if (!path.isEmpty() && QFileInfo::exists(path))
                break;
            path.clear();
        }
        if (path.isEmpty()) {
            vokWarning(render) << "No such logo in file or directory: " << logoPath;
            return logoPath;
        }
    }
    const ImageFile file(path);
    if (!file.isValid() || file.format().isEmpty()) {
        vokWarning(render) << "Can't read logo: " << path;
        return logoPath;
    }
    const QSize natural = file.size();
    const QSize size(qRound(natural.width() * ratio), qRound(natural.height() * ratio));
    const QRect logoRect(getLogoPosition(size, background.rect(), position), size);
    const bool white = isTextWhiteFor(background, logoRect) != 0;
    return getLogoPath(path, white);
}

} // namespace VokImage
