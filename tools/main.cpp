// vokimage: renders backgrounds and answers questions about them from the command line.

#include <vokimage/vokimage.h>

#include "utils/sharedfiles_p.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usage(QCommandLineParser &parser, const QString &message)
{
    err() << "vokimage: " << message << "\n\n" << parser.helpText();
    err().flush();
    return UsageError;
}

// "WIDTHxHEIGHT[+X+Y]" into a rectangle; a null rectangle when the text is not one.
QRect parseScreen(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+)x(\\d+)(?:([+-]\\d+)([+-]\\d+))?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return QRect();
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    const int x = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt();
    const int y = match.captured(4).isEmpty() ? 0 : match.captured(4).toInt();
    if (width < 1 || height < 1)
        return QRect();
    return QRect(x, y, width, height);
}

// The stream for progress lines: standard error while the picture goes to standard output.
bool toStandardOutput = false;

QTextStream &report()
{
    return toStandardOutput ? err() : out();
}

// Writes @p image to @p file ("-": PNG to standard output). The file is written whole or not
// at all, through a new file renamed over the name: a link at the name is refused, never
// followed, and no directory is made.
bool writeImage(const QImage &image, const QString &file)
{
    if (image.isNull()) {
        err() << "vokimage: no picture could be produced for " << file << "\n";
        return false;
    }
    const bool standardOutput = file == QLatin1String("-");
    const QByteArray format = standardOutput || QFileInfo(file).suffix().isEmpty()
        ? QByteArray("png")
        : QFileInfo(file).suffix().toLatin1();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        err() << "vokimage: cannot write " << file << ": " << writer.errorString() << "\n";
        return false;
    }
    if (standardOutput) {
        out().flush();
        if (fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
            || fflush(stdout) != 0) {
            err() << "vokimage: cannot write the picture to standard output\n";
            return false;
        }
        return true;
    }
    struct stat st;
    if (::lstat(QFile::encodeName(file).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        err() << "vokimage: " << file << " is a symbolic link; not writing through it\n";
        return false;
    }
    QString reason;
    if (VokImage::SharedFiles::writeAtomically(file, bytes, &reason)
        != VokImage::SharedFiles::WriteResult::Written) {
        err() << "vokimage: cannot write " << file << ": " << reason << "\n";
        return false;
    }
    return true;
}

// Parses @p arguments for one command; returns -1 to go on, otherwise the exit code.
int parseCommand(QCommandLineParser &parser, const QStringList &arguments, const QString &name,
    const QString &description, const QList<QCommandLineOption> &options)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addPositionalArgument(name, QStringLiteral("The command."));
    parser.addOptions(options);
    if (!parser.parse(arguments))
        return usage(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out() << parser.helpText();
        return Success;
    }
    return -1;
}

const QCommandLineOption &screenOption()
{
    static const QCommandLineOption option(QStringLiteral("screen"),
        QStringLiteral("Screen geometry, such as 1920x1080 or 1280x1024+1920+0 (repeatable where "
                       "a command renders several screens)."),
        QStringLiteral("GEOMETRY"));
    return option;
}

const QCommandLineOption &outputOption()
{
    static const QCommandLineOption option({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Output PNG file."), QStringLiteral("FILE"));
    return option;
}

const QCommandLineOption &scaleOption()
{
    static const QCommandLineOption option(QStringLiteral("scale"),
        QStringLiteral("Device pixel ratio of the screen (HiDPI): the picture is rendered at "
                       "GEOMETRY x RATIO device pixels."),
        QStringLiteral("RATIO"), QStringLiteral("1"));
    return option;
}

// The --scale value; false, with a usage message, when it is not a usable ratio.
bool parseScale(QCommandLineParser &parser, qreal *scale, int *code)
{
    bool ok = false;
    *scale = parser.value(scaleOption()).toDouble(&ok);
    if (!ok || !std::isfinite(*scale) || *scale <= 0 || *scale > 8) {
        *code = usage(parser, QStringLiteral("--scale needs a ratio above 0 and at most 8"));
        return false;
    }
    return true;
}

const QCommandLineOption &greeterOption()
{
    static const QCommandLineOption option(QStringLiteral("greeter"),
        QStringLiteral(
            "Use the display manager's greeter configuration instead of the desktop's."));
    return option;
}

// render: a property map built from options, drawn by the render engine without the cache.
int renderCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption wallpaperOption(QStringLiteral("wallpaper"),
        QStringLiteral("Wallpaper file or #colour."), QStringLiteral("PATH"));
    const QCommandLineOption positionOption(QStringLiteral("position"),
        QStringLiteral("Wallpaper placement: Center, Title, Stretch or Crop."),
        QStringLiteral("NAME"), QStringLiteral("Crop"));
    const QCommandLineOption logoOption(
        QStringLiteral("logo"), QStringLiteral("Logo file."), QStringLiteral("PATH"));
    const QCommandLineOption logoPositionOption(QStringLiteral("logo-position"),
        QStringLiteral("Logo placement, such as BottomRight or Center."), QStringLiteral("NAME"),
        QStringLiteral("BottomRight"));
    const QCommandLineOption taskbarOption(QStringLiteral("taskbar"),
        QStringLiteral("Taskbar edge: Top, Left, Right or Bottom."), QStringLiteral("NAME"),
        QStringLiteral("Bottom"));
    const QCommandLineOption taskbarHeightOption(QStringLiteral("taskbar-height"),
        QStringLiteral("Taskbar thickness in pixels."), QStringLiteral("PIXELS"),
        QStringLiteral("48"));
    const QCommandLineOption blurOption(
        QStringLiteral("blur"), QStringLiteral("Wallpaper blur radius."), QStringLiteral("RADIUS"));
    const QCommandLineOption logoBlurOption(
        QStringLiteral("logo-blur"), QStringLiteral("Logo blur radius."), QStringLiteral("RADIUS"));
    const QCommandLineOption overlayOption(QStringLiteral("overlay"),
        QStringLiteral("Colour overlay, such as #64000000."), QStringLiteral("COLOUR"));
    const int code = parseCommand(parser, arguments, QStringLiteral("render"),
        QStringLiteral("Render a property map given by options (no cache, no configuration)."),
        { screenOption(), wallpaperOption, positionOption, logoOption, logoPositionOption,
            taskbarOption, taskbarHeightOption, blurOption, logoBlurOption, overlayOption,
            scaleOption(), outputOption() });
    if (code >= 0)
        return code;
    qreal scale = 1;
    int scaleError = 0;
    if (!parseScale(parser, &scale, &scaleError))
        return scaleError;

    const QRect screen = parseScreen(parser.value(screenOption()));
    if (!screen.isValid())
        return usage(parser, QStringLiteral("--screen needs a geometry such as 1920x1080"));
    if (!parser.isSet(outputOption()))
        return usage(parser, QStringLiteral("-o FILE is required"));
    if (!parser.isSet(wallpaperOption) && !parser.isSet(logoOption))
        return usage(parser, QStringLiteral("give --wallpaper, --logo or both"));

    QMap<QString, QVariant> properties;
    using namespace VokImage;
    if (parser.isSet(wallpaperOption)) {
        properties = DefaultWallpaperProperties;
        const QString name = parser.value(positionOption);
        if (!WallPaperPositionNames.contains(name))
            return usage(parser, QStringLiteral("unknown wallpaper placement ") + name);
        properties[QLatin1String(Keys::ImagePath)]
            = QVariant::fromValue(File(parser.value(wallpaperOption)));
        properties[QLatin1String(Keys::ImageScreen)] = screen;
        properties[QLatin1String(Keys::ImagePosition)] = int(WallPaperPositionNames.value(name));
        if (parser.isSet(blurOption))
            properties[QLatin1String(Keys::ImageBlur)] = parser.value(blurOption).toDouble();
        if (parser.isSet(overlayOption))
            properties[QLatin1String(Keys::ImageColorOverlay)]
                = QColor(parser.value(overlayOption));
    }
    if (parser.isSet(logoOption)) {
        const QString name = parser.value(logoPositionOption);
        const QString taskbar = parser.value(taskbarOption);
        if (!LogoPositionNames.contains(name))
            return usage(parser, QStringLiteral("unknown logo placement ") + name);
        if (!TaskbarPositionNames.contains(taskbar))
            return usage(parser, QStringLiteral("unknown taskbar edge ") + taskbar);
        properties[QLatin1String(Keys::LogoPath)] = parser.value(logoOption);
        properties[QLatin1String(Keys::LogoScreen)] = screen;
        properties[QLatin1String(Keys::LogoPosition)] = int(LogoPositionNames.value(name));
        properties[QLatin1String(Keys::TaskbarPosition)] = int(TaskbarPositionNames.value(taskbar));
        properties[QLatin1String(Keys::TaskbarHeight)] = parser.value(taskbarHeightOption).toInt();
        if (parser.isSet(logoBlurOption))
            properties[QLatin1String(Keys::LogoBlur)] = parser.value(logoBlurOption).toDouble();
    }

    if (scale != 1) {
        const QRect device(qRound(screen.x() * scale), qRound(screen.y() * scale),
            qRound(screen.width() * scale), qRound(screen.height() * scale));
        if (properties.contains(QLatin1String(Keys::ImagePath))) {
            properties[QLatin1String(Keys::ImageScreen)] = device;
            properties[QLatin1String(Keys::ImageDevicePixelRatio)] = double(scale);
        }
        if (properties.contains(QLatin1String(Keys::LogoPath))) {
            properties[QLatin1String(Keys::LogoScreen)] = device;
            properties[QLatin1String(Keys::LogoDevicePixelRatio)] = double(scale);
        }
    }
    RenderEngine engine;
    const QImage image = engine.render(properties).toImage();
    if (engine.getStatus() != RenderEngine::Ok) {
        err() << "vokimage: the picture could not be rendered\n";
        return Failure;
    }
    if (!writeImage(image, parser.value(outputOption())))
        return Failure;
    out() << QFileInfo(parser.value(outputOption())).absoluteFilePath() << "\n";
    return Success;
}

// palette: the ten shades of a colour, as the default wallpaper uses them.
int paletteCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("colour"),
        QStringLiteral("A colour: #rrggbb, a name, or r,g,b[,a]."), QStringLiteral("COLOUR"));
    const int code = parseCommand(parser, arguments, QStringLiteral("palette"),
        QStringLiteral("Print the shade palette of a colour."), {});
    if (code >= 0)
        return code;
    if (parser.positionalArguments().size() != 2)
        return usage(parser, QStringLiteral("give one colour"));
    const QColor colour = VokImage::Utils::getColor(parser.positionalArguments().at(1));
    if (!colour.isValid()) {
        err() << "vokimage: not a colour: " << parser.positionalArguments().at(1) << "\n";
        return Failure;
    }
    const QList<QPair<QString, QColor>> palette = VokImage::Utils::CreateShadeColors(colour);
    for (const auto &shade : palette)
        out() << shade.first.leftJustified(9) << shade.second.name() << "\n";
    return Success;
}

// default-wallpaper: the generated wallpaper for a screen and colour.
int defaultWallpaperCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption colourOption(QStringLiteral("colour"),
        QStringLiteral("Primary colour."), QStringLiteral("COLOUR"), QStringLiteral("#5a91bd"));
    const int code = parseCommand(parser, arguments, QStringLiteral("default-wallpaper"),
        QStringLiteral("Generate (or find) the default wallpaper for a screen and colour and "
                       "print its path; with -o also render it to a PNG file."),
        { screenOption(), colourOption, outputOption() });
    if (code >= 0)
        return code;
    const QRect screen = parseScreen(parser.value(screenOption()));
    if (!screen.isValid())
        return usage(parser, QStringLiteral("--screen needs a geometry such as 1920x1080"));
    const QColor colour = VokImage::Utils::getColor(parser.value(colourOption));
    if (!colour.isValid())
        return usage(parser, QStringLiteral("not a colour: ") + parser.value(colourOption));
    const QString path = VokImage::Utils::getVokDefaultWallpaper(screen, colour);
    if (path.isNull()) {
        err() << "vokimage: the default wallpaper could not be generated\n";
        return Failure;
    }
    out() << path << "\n";
    if (!parser.isSet(outputOption()))
        return Success;
    QMap<QString, QVariant> properties = VokImage::DefaultWallpaperProperties;
    properties[QLatin1String(VokImage::Keys::ImagePath)]
        = QVariant::fromValue(VokImage::File(path));
    properties[QLatin1String(VokImage::Keys::ImageScreen)] = screen;
    properties[QLatin1String(VokImage::Keys::ImagePosition)]
        = int(VokImage::WallPaperPosition::Crop);
    VokImage::RenderEngine engine;
    const QImage image = engine.render(properties).toImage();
    if (engine.getStatus() != VokImage::RenderEngine::Ok) {
        err() << "vokimage: the picture could not be rendered\n";
        return Failure;
    }
    return writeImage(image, parser.value(outputOption())) ? Success : Failure;
}

QString describe(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("(none)");
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>().name(QColor::HexArgb);
    if (value.userType() == QMetaType::QStringList)
        return QLatin1Char('[') + value.toStringList().join(QStringLiteral(", "))
            + QLatin1Char(']');
    return value.toString() + QStringLiteral(" (") + QString::fromLatin1(value.typeName())
        + QLatin1Char(')');
}

// config: what the desktop session's or the display manager's configuration answers.
int configCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("keys"),
        QStringLiteral("Property keys such as Options.Wallpaper.Path; none prints the usual ones."),
        QStringLiteral("[KEY...]"));
    const int code = parseCommand(parser, arguments, QStringLiteral("config"),
        QStringLiteral("Print what the configuration answers for property keys."),
        { greeterOption() });
    if (code >= 0)
        return code;
    const bool greeter = parser.isSet(greeterOption());
    QStringList keys = parser.positionalArguments().mid(1);
    if (keys.isEmpty()) {
        keys = greeter
            ? QStringList { QStringLiteral("Options.Wallpaper.Path"),
                  QStringLiteral("Options.Wallpaper.Position"),
                  QStringLiteral("Options.Wallpaper.ColorOverlay"),
                  QStringLiteral("Options.Wallpaper.Blur.Enable"),
                  QStringLiteral("Options.Wallpaper.Blur.Radius"),
                  QStringLiteral("Options.Logo.Path"), QStringLiteral("Options.Logo.Position"),
                  QStringLiteral("Options.Logo.Blur") }
            : QStringList { QStringLiteral("Options.Wallpaper.Path"),
                  QStringLiteral("Options.Wallpaper.Position"), QStringLiteral("Options.Logo.Path"),
                  QStringLiteral("Options.Logo.Position"), QStringLiteral("Options.Taskbar.Height"),
                  QStringLiteral("Options.Taskbar.Position"), QStringLiteral("PrimaryColor") };
    }
    VokImage::FileSystemEngine engine(greeter ? VokImage::FileSystemEngine::DisplayManager
                                              : VokImage::FileSystemEngine::DesktopSession);
    for (const QString &key : keys)
        out() << key << " = " << describe(engine.getProperty(key)) << "\n";
    return Success;
}

// The screens of --screen; false, with a usage message, when one is not a geometry.
bool parseScreens(QCommandLineParser &parser, QList<QRect> *screens, int *code)
{
    const QStringList values = parser.values(screenOption());
    if (values.isEmpty()) {
        *code = usage(parser, QStringLiteral("give at least one --screen GEOMETRY"));
        return false;
    }
    for (const QString &value : values) {
        const QRect screen = parseScreen(value);
        if (!screen.isValid()) {
            *code = usage(parser, QStringLiteral("not a geometry: ") + value);
            return false;
        }
        screens->append(screen);
    }
    return true;
}

QString geometry(const QRect &rect)
{
    return QStringLiteral("%1x%2%3%4%5%6")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x() < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(qAbs(rect.x()))
        .arg(rect.y() < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(qAbs(rect.y()));
}

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

QString originText(VokImage::Cache::Origin origin)
{
    switch (origin) {
    case VokImage::Cache::Origin::SharedCache:
        return QStringLiteral("from cache");
    case VokImage::Cache::Origin::PrivateCache:
        return QStringLiteral("from private cache");
    default:
        return QStringLiteral("rendered");
    }
}

// background, wallpaper, logo: rendered through the entry points, one file per screen.
int imageCommand(const QString &name, const QStringList &arguments)
{
    QCommandLineParser parser;
    const QString description = name == QLatin1String("background")
        ? QStringLiteral("Render the whole background (wallpaper and logo) for each screen.")
        : name == QLatin1String("wallpaper")
        ? QStringLiteral("Render the wallpaper alone for each screen.")
        : QStringLiteral("Render the logo alone (on a transparent picture) for each screen.");
    const QCommandLineOption output({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Output PNG file (- for standard output); with several screens -1, "
                       "-2... is added before the suffix. Default: %1.png in the working "
                       "directory.")
            .arg(name),
        QStringLiteral("FILE"), name + QStringLiteral(".png"));
    const int code = parseCommand(parser, arguments, name, description,
        { greeterOption(), screenOption(), scaleOption(), output });
    if (code >= 0)
        return code;
    QList<QRect> screens;
    int error = 0;
    qreal scale = 1;
    if (!parseScreens(parser, &screens, &error) || !parseScale(parser, &scale, &error))
        return error;
    if (parser.positionalArguments().size() > 1)
        return usage(
            parser, QStringLiteral("unexpected argument ") + parser.positionalArguments().at(1));
    if (parser.value(output) == QLatin1String("-") && screens.size() > 1)
        return usage(parser, QStringLiteral("-o - takes one screen"));
    toStandardOutput = parser.value(output) == QLatin1String("-");
    const bool greeter = parser.isSet(greeterOption());
    using Function = VokImage::Image (*)(const QRect &, qreal, VokImage::Cache::Origin *);
    Function function = nullptr;
    if (name == QLatin1String("background"))
        function
            = greeter ? Function(VokImage::getOrvBackground) : Function(VokImage::getBackground);
    else if (name == QLatin1String("wallpaper"))
        function = greeter ? Function(VokImage::getOrvWallpaper) : Function(VokImage::getWallpaper);
    else
        function = greeter ? Function(VokImage::getOrvLogo) : Function(VokImage::getLogo);
    const QMap<QString, QVariant> logoMap = name == QLatin1String("background")
        ? (greeter ? VokImage::getLogoOrvProperties(screens.first())
                   : VokImage::getLogoProperties(screens.first()))
        : QMap<QString, QVariant>();
    const QString configuredLogo
        = logoMap.value(QLatin1String(VokImage::Keys::LogoPath)).toString();

    int status = Success;
    for (int i = 0; i < screens.size(); ++i) {
        const QString file = outputFor(parser.value(output), i, screens.size());
        QElapsedTimer timer;
        timer.start();
        VokImage::Cache::Origin origin = VokImage::Cache::Origin::None;
        const VokImage::Image record = function(screens.at(i), scale, &origin);
        const qint64 elapsed = timer.elapsed();
        if (record.image.isNull()) {
            err() << "vokimage: no " << name << " could be produced for " << geometry(screens.at(i))
                  << " (see the messages above)\n";
            status = Failure;
            continue;
        }
        if (!writeImage(record.image, file)) {
            status = Failure;
            continue;
        }
        report() << file << "  " << geometry(screens.at(i)) << "  " << originText(origin) << "  "
                 << elapsed << " ms";
        const QString logo
            = record.properties.value(QLatin1String(VokImage::Keys::LogoPath)).toString();
        if (!logo.isEmpty() && name == QLatin1String("background")) {
            report() << "  logo " << logo;
            if (!QFileInfo::exists(logo))
                report() << " (no such file: none drawn)";
            else if (logo != configuredLogo)
                report() << " (the other variant of " << configuredLogo
                         << ", chosen by brightness)";
        }
        report() << "\n";
    }
    return status;
}

QJsonValue toJson(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QRect:
        return geometry(value.toRect());
    case QMetaType::QColor: {
        const QColor colour = value.value<QColor>();
        return colour.isValid() ? QJsonValue(colour.name(QColor::HexArgb)) : QJsonValue();
    }
    case QMetaType::Int:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::QString:
        return QJsonValue::fromVariant(value);
    default:
        break;
    }
    if (value.userType() == qMetaTypeId<VokImage::File>()) {
        const VokImage::File file = value.value<VokImage::File>();
        return QJsonObject { { QStringLiteral("path"), file.path },
            { QStringLiteral("lastModified"),
                file.lastModified.isValid()
                    ? QJsonValue(file.lastModified.toString(Qt::ISODateWithMs))
                    : QJsonValue() } };
    }
    return QJsonValue::fromVariant(value);
}

QJsonObject toJson(const QMap<QString, QVariant> &map)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return object;
}

// properties: the property maps of each screen as JSON.
int propertiesCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const int code = parseCommand(parser, arguments, QStringLiteral("properties"),
        QStringLiteral("Print the wallpaper and logo property maps of each screen as JSON."),
        { greeterOption(), screenOption(), scaleOption() });
    if (code >= 0)
        return code;
    QList<QRect> screens;
    int error = 0;
    qreal scale = 1;
    if (!parseScreens(parser, &screens, &error) || !parseScale(parser, &scale, &error))
        return error;
    const bool greeter = parser.isSet(greeterOption());
    QJsonArray list;
    for (const QRect &screen : screens) {
        list.append(QJsonObject {
            { QStringLiteral("screen"), geometry(screen) },
            { QStringLiteral("wallpaper"),
                toJson(greeter ? VokImage::getWallpaperOrvProperties(screen, scale)
                               : VokImage::getWallpaperProperties(screen, scale)) },
            { QStringLiteral("logo"),
                toJson(greeter ? VokImage::getLogoOrvProperties(screen, scale)
                               : VokImage::getLogoProperties(screen, scale)) },
        });
    }
    out() << QJsonDocument(list).toJson(QJsonDocument::Indented);
    return Success;
}

// The regular files directly in @p dir and in its subdirectories, and their total size; links
// are not followed.
struct Census
{
    int files = 0;
    quint64 bytes = 0;
};

Census census(const QString &dir)
{
    Census total;
    QDirIterator it(dir, QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++total.files;
        total.bytes += quint64(it.fileInfo().size());
    }
    return total;
}

// cache info | cache clear
int cacheCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("action"),
        QStringLiteral("info: directories, files, size and limit; clear: remove the files this "
                       "user may remove, generated wallpapers included."),
        QStringLiteral("info|clear"));
    const int code = parseCommand(parser, arguments, QStringLiteral("cache"),
        QStringLiteral("Inspect or clear the shared and the private picture cache."), {});
    if (code >= 0)
        return code;
    const QStringList positional = parser.positionalArguments();
    const QString action = positional.size() == 2 ? positional.at(1) : QString();
    if (action != QLatin1String("info") && action != QLatin1String("clear"))
        return usage(parser, QStringLiteral("give info or clear"));
    using namespace VokImage;
    const QString privateDir = Cache::privateCacheDir();
    const bool sharedTrusted
        = SharedFiles::directoryState(CacheDir) != SharedFiles::DirectoryState::Untrusted;
    if (action == QLatin1String("info")) {
        const Census shared = sharedTrusted ? census(CacheDir) : Census();
        const Census own = privateDir.isEmpty() ? Census() : census(privateDir);
        out() << "directory  " << CacheDir
              << (sharedTrusted ? "" : " (not trusted: owned by another user or a link)") << "\n"
              << "files      " << shared.files << " (" << shared.bytes << " bytes)\n"
              << "size       " << Cache::getCacheSize() << " bytes this user may remove\n"
              << "private    " << (privateDir.isEmpty() ? QStringLiteral("(none)") : privateDir)
              << "\n"
              << "files      " << own.files << " (" << own.bytes << " bytes)\n"
              << "limit      " << Cache::MaxCacheSize << " bytes each\n";
        return Success;
    }
    SharedFiles::RemoveCount shared;
    SharedFiles::RemoveCount own;
    const bool sharedCleared = SharedFiles::removeOwnFiles(CacheDir, true, &shared);
    if (!privateDir.isEmpty()
        && SharedFiles::privateDirectoryState(privateDir) == SharedFiles::DirectoryState::Trusted)
        SharedFiles::removeOwnFiles(privateDir, true, &own);
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

struct Command
{
    const char *name;
    const char *summary;
    std::function<int(const QStringList &)> run;
};

const QList<Command> &commands()
{
    static const QList<Command> list = {
        { "background", "render the whole background for screens (--greeter for the greeter's)",
            [](const QStringList &a) { return imageCommand(QStringLiteral("background"), a); } },
        { "wallpaper", "render the wallpaper alone for screens",
            [](const QStringList &a) { return imageCommand(QStringLiteral("wallpaper"), a); } },
        { "logo", "render the logo alone for screens",
            [](const QStringList &a) { return imageCommand(QStringLiteral("logo"), a); } },
        { "properties", "print the property maps of screens as JSON", propertiesCommand },
        { "cache", "show or clear the shared picture cache (info | clear)", cacheCommand },
        { "render", "render a property map given by options, without cache", renderCommand },
        { "palette", "print the shade palette of a colour", paletteCommand },
        { "default-wallpaper", "generate the default wallpaper for a screen and colour",
            defaultWallpaperCommand },
        { "config", "print what the desktop or greeter configuration answers for keys",
            configCommand },
    };
    return list;
}

int mainHelp(int code)
{
    QTextStream &stream = code == Success ? out() : err();
    stream << "Usage: vokimage COMMAND [options]\n\nCommands:\n";
    for (const Command &command : commands())
        stream << "  " << QString::fromLatin1(command.name).leftJustified(20) << command.summary
               << "\n";
    stream << "\nRun 'vokimage COMMAND --help' for the options of a command.\n";
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("vokimage"));

    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 2)
        return mainHelp(UsageError);
    const QString name = arguments.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h")
        || name == QLatin1String("help"))
        return mainHelp(Success);
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name)) {
            const int code = command.run(arguments);
            out().flush();
            err().flush();
            return code;
        }
    }
    err() << "vokimage: unknown command " << name << "\n";
    return mainHelp(UsageError);
}
