// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// background, wallpaper, logo and properties: what the library serves for screens.

#include "cli.h"
#include "commands.h"
#include "internal/defaults_p.h"
#include "internal/keys_p.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>

namespace Tool {

using namespace VokImage;

Lookup lookupOf(const QString &name, const Screen &screen, bool greeter)
{
    const Lookup::Layer layer = name == QLatin1String("background") ? Lookup::Background
        : name == QLatin1String("wallpaper")                        ? Lookup::Wallpaper
                                                                    : Lookup::Logo;
    return Lookup(screen, layer, greeter ? Lookup::Greeter : Lookup::Desktop);
}

Screen screenOf(const QRect &geometry, qreal ratio, const QRect &desktop, const QString &name)
{
    Screen screen(geometry, ratio);
    screen.setDesktop(desktop);
    screen.setName(name);
    return screen;
}

namespace {

// Why @p lookup gave no picture, said of what the user configured: the wallpaper or the folder
// named and what is wrong with it; else the library's own message.
QString reasonOf(const Lookup &lookup)
{
    if (lookup.error() != Lookup::PictureError || lookup.layer() == Lookup::Logo)
        return lookup.errorString();
    const WallpaperFolder folder(lookup.side() == Lookup::Greeter);
    if (!folder.isNull() && folder.pictures().isEmpty())
        return QStringLiteral("wallpaper folder %1: holds no picture").arg(folder.path());
    const QString path = lookup.properties().value(PropertyKey::ImagePath).value<File>().path;
    if (path.isEmpty() || path.startsWith(QLatin1Char('#')))
        return lookup.errorString();
    if (!QFileInfo::exists(path))
        return QStringLiteral("wallpaper %1: missing").arg(path);
    const PictureInfo info = inspectPicture(path);
    return info.usable ? lookup.errorString()
                       : QStringLiteral("wallpaper %1: %2").arg(path, info.problem);
}

} // namespace

Rendered renderedOf(const Lookup &lookup, qint64 milliseconds)
{
    const Image record = lookup.image();
    return { record, lookup.origin(), milliseconds,
        record.image.isNull() ? reasonOf(lookup) : QString() };
}

Rendered renderScreen(Lookup lookup)
{
    QElapsedTimer timer;
    timer.start();
    lookup.read();
    return renderedOf(lookup, timer.elapsed());
}

QRect unionOf(const QList<QRect> &rects)
{
    QRect all;
    for (const QRect &rect : rects)
        all |= rect;
    return all;
}

namespace {

QString originText(Cache::Origin origin)
{
    switch (origin) {
    case Cache::Origin::SharedCache:
        return QStringLiteral("from cache");
    case Cache::Origin::PrivateCache:
        return QStringLiteral("from private cache");
    default:
        return QStringLiteral("rendered");
    }
}

} // namespace

void printResult(const QString &destination, const QRect &screen, const Rendered &rendered,
    bool background, bool greeter)
{
    report() << destination << "  " << geometryText(screen) << "  " << originText(rendered.origin)
             << "  " << rendered.milliseconds << " ms";
    const QString logo = rendered.record.properties.value(PropertyKey::LogoPath).toString();
    if (background && logo == Defaults::LogoWord) {
        report() << "  no logo configured";
    } else if (background && !logo.isEmpty()) {
        const QString configured
            = (greeter ? getLogoOrvProperties(screen) : getLogoProperties(screen))
                  .value(PropertyKey::LogoPath)
                  .toString();
        // Above ratio 1 the "@2x" file the map names is the one drawn; a map without the entry
        // names none (an empty QVariant would read as File's default path).
        const QVariant entry
            = rendered.record.properties.value(PropertyKey::LogoHighResolutionFile);
        const QString sharp = entry.isValid() ? entry.value<File>().path : QString();
        report() << "  logo " << (sharp.isEmpty() ? logo : sharp);
        if (!QFileInfo::exists(logo))
            report() << " (no such file: none drawn)";
        else if (logo != configured)
            report() << " (the other variant of " << configured << ", chosen by brightness)";
    }
    report() << "\n";
    report().flush();
}

namespace {

// The output file of screen @p index of @p count: FILE itself for one screen, FILE with
// "-N" before its suffix for several.
QString outputFor(const QString &file, int index, int count)
{
    if (count == 1)
        return file;
    const QFileInfo info(file);
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return base + QLatin1Char('-') + QString::number(index + 1) + suffix;
}

} // namespace

int imageCommand(const QString &name, const QStringList &arguments)
{
    const QString description = name == QLatin1String("background")
        ? QStringLiteral("Render the whole background (wallpaper and logo) for each screen.")
        : name == QLatin1String("wallpaper")
        ? QStringLiteral("Render the wallpaper alone for each screen.")
        : QStringLiteral("Render the logo alone (on a transparent picture) for each screen.");
    CommandLine line(name, description);
    const QCommandLineOption output({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Output file (- for PNG on standard output); with several screens -1, "
                       "-2... is added before the suffix. Default: %1.png in the working "
                       "directory.")
            .arg(name),
        QStringLiteral("FILE"), name + QStringLiteral(".png"));
    int code = line.parse(
        arguments, { greeterOption(), screenOption(), scaleOption(), output, formatOption() });
    if (code >= 0)
        return code;
    qreal scale = 1;
    QList<QRect> screens;
    QByteArray format;
    const QString file = line.value(output);
    if (!parseScale(line, &scale, &code) || !pictureFormat(line, file, &format, &code)
        || !parseScreens(line, scale, &screens, &code))
        return code;
    if (file == QLatin1String("-") && screens.size() > 1)
        return line.usageError(QStringLiteral("-o - takes one screen"));
    setReportToStandardError(file == QLatin1String("-"));
    const bool greeter = line.isSet(greeterOption());

    int status = Success;
    for (int i = 0; i < screens.size(); ++i) {
        const QString target = outputFor(file, i, screens.size());
        const Rendered rendered = renderScreen(
            lookupOf(name, screenOf(screens.at(i), scale, unionOf(screens), QString()), greeter));
        const bool failed = rendered.record.image.isNull();
        releaseMessages(failed);
        if (failed) {
            err() << "vokimage: no " << name << " could be produced for "
                  << geometryText(screens.at(i)) << "\n";
            status = Failure;
            continue;
        }
        if (!writeImage(rendered.record.image, target, format)) {
            status = Failure;
            continue;
        }
        printResult(target, screens.at(i), rendered, name == QLatin1String("background"), greeter);
    }
    return status;
}

int propertiesCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("properties"),
        QStringLiteral("Print the wallpaper and logo property maps of each screen as JSON."));
    int code = line.parse(arguments, { greeterOption(), screenOption(), scaleOption() });
    if (code >= 0)
        return code;
    qreal scale = 1;
    QList<QRect> screens;
    if (!parseScale(line, &scale, &code) || !parseScreens(line, scale, &screens, &code))
        return code;
    const bool greeter = line.isSet(greeterOption());
    QJsonArray list;
    for (const QRect &screen : qAsConst(screens)) {
        list.append(QJsonObject {
            { QStringLiteral("screen"), geometryText(screen) },
            { QStringLiteral("wallpaper"),
                toJson(lookupOf(QStringLiteral("wallpaper"), Screen(screen, scale), greeter)
                           .properties()) },
            { QStringLiteral("logo"),
                toJson(lookupOf(QStringLiteral("logo"), Screen(screen, scale), greeter)
                           .properties()) },
        });
    }
    releaseMessages(false);
    printJson(list);
    return Success;
}

} // namespace Tool
