// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// render, palette and default-wallpaper: the render engine and the colour helpers directly.

#include "cli.h"
#include "commands.h"
#include "internal/defaults_p.h"
#include "internal/keys_p.h"

#include <QFileInfo>

#include <cmath>

namespace Tool {

using namespace VokImage;

namespace {

constexpr double MaxBlurRadius = 250;

// A wallpaper map for @p path on @p screen, placed by @p position.
QMap<QString, QVariant> wallpaperMap(const QString &path, const QRect &screen, int position)
{
    QMap<QString, QVariant> properties = DefaultWallpaperProperties;
    properties[PropertyKey::ImagePath] = QVariant::fromValue(File(path));
    properties[PropertyKey::ImageScreen] = screen;
    properties[PropertyKey::ImagePosition] = position;
    return properties;
}

// Renders @p properties with the engine; a null picture, with the reason, when it fails.
QImage renderMap(const QMap<QString, QVariant> &properties)
{
    RenderEngine engine;
    QImage image = engine.render(properties).toImage();
    const bool failed = engine.getStatus() != RenderEngine::Ok || image.isNull();
    releaseMessages(failed);
    if (failed) {
        err() << "vokimage: the picture could not be rendered\n";
        return QImage();
    }
    return image;
}

// A blur radius option's value; false, with *code set, when it is not one.
bool parseRadius(
    const CommandLine &line, const QCommandLineOption &option, double *radius, int *code)
{
    bool ok = false;
    *radius = line.value(option).toDouble(&ok);
    if (ok && std::isfinite(*radius) && *radius >= 0 && *radius <= MaxBlurRadius)
        return true;
    *code = line.usageError(QStringLiteral("--%1 needs a radius from 0 to %2, not \"%3\"")
                                .arg(option.names().constFirst())
                                .arg(MaxBlurRadius)
                                .arg(line.value(option)));
    return false;
}

// A placement word of @p names. The tool also takes "Tile" for the tiling placement, whose
// configuration word is "Title".
template <typename Names>
bool parseWord(const CommandLine &line, const QCommandLineOption &option, const Names &names,
    int *number, int *code)
{
    QString word = line.value(option);
    if (word == QLatin1String("Tile") && names.contains(QStringLiteral("Title")))
        word = QStringLiteral("Title");
    const auto it = names.constFind(word);
    if (it != names.constEnd()) {
        *number = int(it.value());
        return true;
    }
    *code = line.usageError(QStringLiteral("--%1 takes one of %2, not \"%3\"")
                                .arg(option.names().constFirst(),
                                    names.keys().join(QStringLiteral(", ")), line.value(option)));
    return false;
}

} // namespace

namespace {

// The options of render beyond the common ones.
struct RenderOptions
{
    const QCommandLineOption wallpaper { QStringLiteral("wallpaper"),
        QStringLiteral("Wallpaper file or #colour."), QStringLiteral("PATH") };
    const QCommandLineOption position { QStringLiteral("position"),
        QStringLiteral("Wallpaper placement: Center, Tile (or Title), Stretch, Crop or Fit."),
        QStringLiteral("NAME"), QStringLiteral("Crop") };
    const QCommandLineOption logo { QStringLiteral("logo"), QStringLiteral("Logo file."),
        QStringLiteral("PATH") };
    const QCommandLineOption logoPosition { QStringLiteral("logo-position"),
        QStringLiteral("Logo placement, such as BottomRight or Center."), QStringLiteral("NAME"),
        QStringLiteral("BottomRight") };
    const QCommandLineOption taskbar { QStringLiteral("taskbar"),
        QStringLiteral("Taskbar edge: Top, Left, Right or Bottom."), QStringLiteral("NAME"),
        QStringLiteral("Bottom") };
    const QCommandLineOption taskbarHeight { QStringLiteral("taskbar-height"),
        QStringLiteral("Taskbar thickness in pixels."), QStringLiteral("PIXELS"),
        QString::number(Defaults::TaskbarHeight) };
    const QCommandLineOption blur { QStringLiteral("blur"),
        QStringLiteral("Wallpaper blur radius, 0 to 250."), QStringLiteral("RADIUS") };
    const QCommandLineOption logoBlur { QStringLiteral("logo-blur"),
        QStringLiteral("Logo blur radius, 0 to 250."), QStringLiteral("RADIUS") };
    const QCommandLineOption overlay { QStringLiteral("overlay"),
        QStringLiteral("Colour overlay: #aarrggbb, #rrggbb, a name, or r,g,b[,a]."),
        QStringLiteral("COLOUR") };
    const QCommandLineOption output { { QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Output file (- for PNG on standard output)."), QStringLiteral("FILE") };

    QList<QCommandLineOption> all() const
    {
        return { screenOption(), wallpaper, position, logo, logoPosition, taskbar, taskbarHeight,
            blur, logoBlur, overlay, scaleOption(), output, formatOption() };
    }
};

// The wallpaper entries of the options for the screen @p device; false with *code set on a
// usage error.
bool addWallpaperEntries(const CommandLine &line, const RenderOptions &options, const QRect &device,
    qreal scale, QMap<QString, QVariant> *properties, int *code)
{
    int position = 0;
    if (!parseWord(line, options.position, placementNames(), &position, code))
        return false;
    *properties = wallpaperMap(line.value(options.wallpaper), device, position);
    if (line.isSet(options.blur)) {
        double radius = 0;
        if (!parseRadius(line, options.blur, &radius, code))
            return false;
        (*properties)[PropertyKey::ImageBlur] = radius;
    }
    if (line.isSet(options.overlay)) {
        const QColor overlay = Utils::getColor(line.value(options.overlay));
        if (!overlay.isValid()) {
            *code = line.usageError(
                QStringLiteral("not a colour: \"%1\"").arg(line.value(options.overlay)));
            return false;
        }
        (*properties)[PropertyKey::ImageColorOverlay] = overlay;
    }
    if (scale != 1)
        (*properties)[PropertyKey::ImageDevicePixelRatio] = double(scale);
    return true;
}

// The logo entries of the options, added to @p properties; false with *code set on a usage
// error.
bool addLogoEntries(const CommandLine &line, const RenderOptions &options, const QRect &device,
    qreal scale, QMap<QString, QVariant> *properties, int *code)
{
    int position = 0, taskbar = 0;
    if (!parseWord(line, options.logoPosition, LogoPositionNames, &position, code)
        || !parseWord(line, options.taskbar, TaskbarPositionNames, &taskbar, code))
        return false;
    bool ok = false;
    const int height = line.value(options.taskbarHeight).toInt(&ok);
    if (!ok || height < 0 || height > 16384) {
        *code = line.usageError(QStringLiteral("--taskbar-height needs pixels from 0 to 16384"));
        return false;
    }
    (*properties)[PropertyKey::LogoPath] = line.value(options.logo);
    (*properties)[PropertyKey::LogoScreen] = device;
    (*properties)[PropertyKey::LogoPosition] = position;
    (*properties)[PropertyKey::TaskbarPosition] = taskbar;
    (*properties)[PropertyKey::TaskbarHeight] = height;
    if (line.isSet(options.logoBlur)) {
        double radius = 0;
        if (!parseRadius(line, options.logoBlur, &radius, code))
            return false;
        (*properties)[PropertyKey::LogoBlur] = radius;
    }
    if (scale != 1)
        (*properties)[PropertyKey::LogoDevicePixelRatio] = double(scale);
    return true;
}

} // namespace

int renderCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("render"),
        QStringLiteral("Render a property map given by options (no cache, no configuration)."));
    const RenderOptions options;
    int code = line.parse(arguments, options.all());
    if (code >= 0)
        return code;
    if (!line.isSet(options.output))
        return line.usageError(QStringLiteral("-o FILE is required"));
    if (!line.isSet(options.wallpaper) && !line.isSet(options.logo))
        return line.usageError(QStringLiteral("give --wallpaper, --logo or both"));
    if (line.values(screenOption()).size() > 1)
        return line.usageError(QStringLiteral("render takes one --screen"));
    qreal scale = 1;
    QList<QRect> screens;
    QByteArray format;
    if (!parseScale(line, &scale, &code) || !parseScreens(line, scale, &screens, &code)
        || !pictureFormat(line, line.value(options.output), &format, &code))
        return code;
    const QRect screen = screens.first();
    const QRect device(qRound(screen.x() * scale), qRound(screen.y() * scale),
        qRound(screen.width() * scale), qRound(screen.height() * scale));

    QMap<QString, QVariant> properties;
    if ((line.isSet(options.wallpaper)
            && !addWallpaperEntries(line, options, device, scale, &properties, &code))
        || (line.isSet(options.logo)
            && !addLogoEntries(line, options, device, scale, &properties, &code)))
        return code;
    const QImage image = renderMap(properties);
    const QString file = line.value(options.output);
    setReportToStandardError(file == QLatin1String("-"));
    if (image.isNull() || !writeImage(image, file, format))
        return Failure;
    report() << (file == QLatin1String("-") ? file : QFileInfo(file).absoluteFilePath()) << "\n";
    return Success;
}

int paletteCommand(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral("palette"), QStringLiteral("Print the shade palette of a colour."));
    line.addPositional(QStringLiteral("colour"),
        QStringLiteral("A colour: #rrggbb, a name, or r,g,b[,a]."), QStringLiteral("COLOUR"));
    const int code = line.parse(arguments, { jsonOption() });
    if (code >= 0)
        return code;
    if (line.positional().size() != 1)
        return line.usageError(QStringLiteral("give one colour"));
    const QColor colour = Utils::getColor(line.positional().first());
    if (!colour.isValid())
        return line.usageError(
            QStringLiteral("not a colour: \"%1\"").arg(line.positional().first()));
    const QList<QPair<QString, QColor>> palette = Utils::CreateShadeColors(colour);
    if (line.isSet(jsonOption())) {
        QJsonObject object;
        for (const auto &shade : palette)
            object.insert(shade.first, colourText(shade.second));
        printJson(object);
        return Success;
    }
    for (const auto &shade : palette)
        out() << shade.first.leftJustified(9) << shade.second.name() << "\n";
    return Success;
}

int defaultWallpaperCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("default-wallpaper"),
        QStringLiteral("Generate (or find) the default wallpaper for a screen and colour and "
                       "print its path; with -o also render it to a picture file."));
    const QCommandLineOption colourOption(QStringLiteral("colour"),
        QStringLiteral("Primary colour."), QStringLiteral("COLOUR"),
        QString(Defaults::PrimaryColor));
    const QCommandLineOption outputOption({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Also render it to FILE (- for PNG on standard output)."),
        QStringLiteral("FILE"));
    int code
        = line.parse(arguments, { screenOption(), colourOption, outputOption, formatOption() });
    if (code >= 0)
        return code;
    if (line.values(screenOption()).size() > 1)
        return line.usageError(QStringLiteral("default-wallpaper takes one --screen"));
    QList<QRect> screens;
    QByteArray format;
    if (!parseScreens(line, 1, &screens, &code)
        || (line.isSet(outputOption)
            && !pictureFormat(line, line.value(outputOption), &format, &code)))
        return code;
    const QColor colour = Utils::getColor(line.value(colourOption));
    if (!colour.isValid())
        return line.usageError(
            QStringLiteral("not a colour: \"%1\"").arg(line.value(colourOption)));
    const QRect screen = screens.first();
    const QString path = Utils::getVokDefaultWallpaper(screen, colour);
    releaseMessages(path.isNull());
    if (path.isNull()) {
        err() << "vokimage: the default wallpaper could not be generated\n";
        return Failure;
    }
    const bool standardOutput = line.value(outputOption) == QLatin1String("-");
    setReportToStandardError(standardOutput);
    report() << path << "\n";
    if (!line.isSet(outputOption))
        return Success;
    const QImage image = renderMap(wallpaperMap(path, screen, int(WallPaperPosition::Crop)));
    return !image.isNull() && writeImage(image, line.value(outputOption), format) ? Success
                                                                                  : Failure;
}

} // namespace Tool
