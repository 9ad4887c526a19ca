// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The vocabulary's constants: one instance each, built when the library is loaded.

#include <vokimage/vocabulary.h>

#include <QColor>
#include <QRect>

namespace VokImage {

const QMap<QString, WallPaperPosition> WallPaperPositionNames = {
    { QStringLiteral("Center"), WallPaperPosition::Center },
    { QStringLiteral("Title"), WallPaperPosition::Tile },
    { QStringLiteral("Stretch"), WallPaperPosition::Stretch },
    { QStringLiteral("Crop"), WallPaperPosition::Crop },
};

const QMap<QString, WallPaperPosition> MoreWallPaperPositionNames = {
    { QStringLiteral("Fit"), WallPaperPosition::Fit },
    { QStringLiteral("Span"), WallPaperPosition::Span },
};

const QMap<QString, TaskbarPosition> TaskbarPositionNames = {
    { QStringLiteral("Top"), TaskbarPosition::Top },
    { QStringLiteral("Left"), TaskbarPosition::Left },
    { QStringLiteral("Right"), TaskbarPosition::Right },
    { QStringLiteral("Bottom"), TaskbarPosition::Bottom },
};

const QMap<QString, LogoPosition> LogoPositionNames = {
    { QStringLiteral("NotShow"), LogoPosition::NotShow },
    { QStringLiteral("BottomRight"), LogoPosition::BottomRight },
    { QStringLiteral("BottomLeft"), LogoPosition::BottomLeft },
    { QStringLiteral("Bottom"), LogoPosition::Bottom },
    { QStringLiteral("TopRight"), LogoPosition::TopRight },
    { QStringLiteral("TopLeft"), LogoPosition::TopLeft },
    { QStringLiteral("Top"), LogoPosition::Top },
    { QStringLiteral("Right"), LogoPosition::Right },
    { QStringLiteral("Center"), LogoPosition::Center },
    { QStringLiteral("Left"), LogoPosition::Left },
};

const QStringList LightColors = { QStringLiteral("white"), QStringLiteral("light") };

const QStringList DarkColors = { QStringLiteral("black"), QStringLiteral("dark") };

const QStringList AllColors = LightColors + DarkColors;

const QString CacheDir = QStringLiteral("/tmp/cache");

const QString DefaultWallpaper = QStringLiteral("vok-default");

const QMap<QString, QVariant> DefaultWallpaperProperties = {
    { QString::fromLatin1(Keys::ImagePath), QVariant::fromValue(File(QString())) },
    { QString::fromLatin1(Keys::ImageScreen), QRect() },
    { QString::fromLatin1(Keys::ImagePosition), int(WallPaperPosition::Crop) },
    { QString::fromLatin1(Keys::ImageBlur), -1 },
    { QString::fromLatin1(Keys::ImageColorOverlay), QColor() },
};

const QMap<QString, QVariant> DefaultLogoProperties = {
    { QString::fromLatin1(Keys::LogoPath), QVariant::fromValue(File(QString())) },
    { QString::fromLatin1(Keys::LogoScreen), QRect() },
    { QString::fromLatin1(Keys::LogoPosition), int(LogoPosition::NotShow) },
};

} // namespace VokImage
