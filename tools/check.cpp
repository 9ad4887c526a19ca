// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// check: the configuration as the library reads it, and what will not show as configured.

#include "cli.h"
#include "commands.h"

#include "internal/defaults_p.h"
#include "internal/keys_p.h"
#include "internal/limits_p.h"
#include "internal/sharedfiles_p.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QRegularExpression>

namespace Tool {

using namespace VokImage;

namespace {

enum class Status { Ok, Note, Problem };

struct Finding
{
    QString topic;
    Status status;
    QString message;
};

class Findings
{
public:
    void add(const QString &topic, Status status, const QString &message)
    {
        m_list.append({ topic, status, message });
    }
    int problems() const
    {
        return int(std::count_if(m_list.cbegin(), m_list.cend(),
            [](const Finding &finding) { return finding.status == Status::Problem; }));
    }
    const QList<Finding> &list() const { return m_list; }

private:
    QList<Finding> m_list;
};

QString statusText(Status status)
{
    switch (status) {
    case Status::Ok:
        return QStringLiteral("ok");
    case Status::Note:
        return QStringLiteral("note");
    default:
        return QStringLiteral("problem");
    }
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A settings file: read, missing (the defaults apply) or refused.
void checkSettingsFile(Findings *findings, const QString &role, const QString &path)
{
    QString reason;
    const QString topic = role + QLatin1Char(' ') + path;
    if (SharedFiles::settingsFileState(path, &reason))
        findings->add(topic, Status::Ok, QStringLiteral("read"));
    else if (reason.isEmpty())
        findings->add(topic, Status::Note, QStringLiteral("missing; the defaults apply"));
    else
        findings->add(topic, Status::Problem,
            QStringLiteral("refused: %1; read as missing, the defaults apply").arg(reason));
}

// A configuration word of @p names; a word that is not one is reported with what is used
// instead and the word that was probably meant.
template <typename Names>
void checkWord(Findings *findings, const QString &topic, const QString &word, const Names &names,
    const QString &kind, const QString &instead)
{
    if (names.contains(word)) {
        findings->add(topic, Status::Ok, quoted(word));
        return;
    }
    QString hint;
    for (auto it = names.constBegin(); it != names.constEnd(); ++it)
        if (it.key().compare(word, Qt::CaseInsensitive) == 0)
            hint = QStringLiteral("; the word is ") + it.key();
    for (auto it = names.constBegin(); hint.isEmpty() && it != names.constEnd(); ++it)
        if (word.startsWith(it.key(), Qt::CaseInsensitive))
            hint = QStringLiteral("; the word is ") + it.key();
    if (hint.isEmpty() && names.contains(QStringLiteral("Title"))
        && word.startsWith(QLatin1String("til"), Qt::CaseInsensitive))
        hint = QStringLiteral("; the word for tiling is Title");
    if (hint.isEmpty())
        hint = QStringLiteral("; the words are ") + names.keys().join(QStringLiteral(", "));
    findings->add(topic, Status::Problem,
        QStringLiteral("%1 is not a %2 word; %3%4").arg(quoted(word), kind, instead, hint));
}

// A picture file as the layers read it: its format and size, or why it is refused and what
// follows (@p consequence). True when it is drawn.
// The picture formats people use that come from image plugins: Qt's name, the name users know,
// and the Debian package whose plugin reads it.
struct PluginFormat
{
    const char *format;
    const char *name;
    const char *package;
};
const PluginFormat PluginFormats[] = {
    { "heif", "HEIF (HEIC)", "kimageformat-plugins" },
    { "avif", "AVIF", "kimageformat-plugins" },
    { "jxl", "JPEG XL", "kimageformat-plugins" },
    { "webp", "WebP", "qt5-image-formats-plugins" },
    { "tiff", "TIFF", "qt5-image-formats-plugins" },
};

bool readable(const char *format)
{
    return QImageReader::supportedImageFormats().contains(QByteArray(format));
}

// The plugin format @p path holds by its first bytes; null when it is none of them.
const PluginFormat *pluginFormatOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray head = file.read(32);
    const QByteArray brand = head.mid(8, 4);
    const char *format = nullptr;
    if (head.mid(4, 4) == "ftyp")
        format = brand == "avif" || brand == "avis" ? "avif"
            : QByteArrayList { "heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1" }
                  .contains(brand)
            ? "heif"
            : nullptr;
    else if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        format = "webp";
    else if (head.startsWith("\xff\x0a") || head.startsWith(QByteArray("\0\0\0\x0cJXL ", 8)))
        format = "jxl";
    else if (head.startsWith("II*") || head.startsWith(QByteArray("MM\0*", 4)))
        format = "tiff";
    for (const PluginFormat &known : PluginFormats)
        if (format && qstrcmp(known.format, format) == 0)
            return &known;
    return nullptr;
}

// Which of the plugin formats this machine reads, and the packages for the others.
void checkFormats(Findings *findings)
{
    QStringList read, missing;
    for (const PluginFormat &known : PluginFormats) {
        const QString name = QString::fromLatin1(known.name);
        if (readable(known.format))
            read.append(name);
        else
            missing.append(QStringLiteral("%1 (%2)").arg(name, QString::fromLatin1(known.package)));
    }
    findings->add(QStringLiteral("picture formats"), Status::Note,
        QStringLiteral("read here: JPEG, PNG, SVG, GIF, BMP%1%2")
            .arg(
                read.isEmpty() ? QString() : QStringLiteral(", ") + read.join(QStringLiteral(", ")),
                missing.isEmpty()
                    ? QString()
                    : QStringLiteral("; not read here: ") + missing.join(QStringLiteral(", "))));
}

bool checkPicture(
    Findings *findings, const QString &topic, const QString &path, const QString &consequence)
{
    const PictureInfo info = inspectPicture(path);
    if (!info.usable) {
        // A picture of a format no reader here knows names the package that reads it.
        const PluginFormat *format = info.format.isEmpty() ? pluginFormatOf(path) : nullptr;
        const QString problem = format && !readable(format->format)
            ? QStringLiteral("%1, which no image reader of this machine reads (install %2)")
                  .arg(QString::fromLatin1(format->name), QString::fromLatin1(format->package))
            : info.problem;
        findings->add(topic, Status::Problem,
            QStringLiteral("%1 refused: %2; %3").arg(path, problem, consequence));
        return false;
    }
    findings->add(topic, Status::Ok,
        QStringLiteral("%1 (%2, %3x%4)")
            .arg(path, QString::fromLatin1(info.format))
            .arg(info.size.width())
            .arg(info.size.height()));
    return true;
}

// A wallpaper folder: its pictures, what is left out of them and why, and when the next comes.
void checkFolder(Findings *findings, const WallpaperFolder &folder)
{
    if (folder.isNull())
        return;
    const QString topic = QStringLiteral("wallpaper folder ") + folder.path();
    const int count = folder.pictures().size();
    if (count == 0) {
        findings->add(
            topic, Status::Problem, QStringLiteral("holds no picture: no wallpaper is drawn"));
    } else {
        findings->add(topic, Status::Ok,
            QStringLiteral("%1 pictures, each shown %2 s; now %3, the next in %4 s")
                .arg(count)
                .arg(folder.interval())
                .arg(folder.current())
                .arg(folder.secondsToNextPicture()));
    }
    if (folder.skipped() > 0)
        findings->add(topic, Status::Note,
            QStringLiteral("%1 entries skipped: not pictures by their name (hidden, or a suffix "
                           "no image reader of this machine knows), or folders, devices or FIFOs")
                .arg(folder.skipped()));
    if (folder.refused() > 0)
        findings->add(topic, Status::Note,
            QStringLiteral("%1 pictures refused: another user's or a link in a folder others can "
                           "write to, unreadable, or larger than 128 MiB")
                .arg(folder.refused()));
    if (folder.isTruncated())
        findings->add(topic, Status::Note,
            QStringLiteral("more than 10000 pictures: the 10000 in the folder longest are shown"));
}

// A wallpaper file or #colour: present and decodable.
void checkWallpaper(Findings *findings, const QString &topic, const QString &path)
{
    if (path.isEmpty()) {
        findings->add(topic, Status::Problem,
            QStringLiteral("no wallpaper file could be made: ")
                + heldMessages().join(QStringLiteral("; ")));
        return;
    }
    if (path.startsWith(QLatin1Char('#'))) {
        findings->add(topic, Utils::getColor(path).isValid() ? Status::Ok : Status::Problem,
            Utils::getColor(path).isValid()
                ? QStringLiteral("the colour %1").arg(path)
                : QStringLiteral("%1 is not a colour").arg(quoted(path)));
        return;
    }
    if (!QFileInfo(path).isFile()) {
        findings->add(topic, Status::Problem,
            QStringLiteral("%1 is not a file: no wallpaper is drawn").arg(path));
        return;
    }
    checkPicture(findings, topic, path, QStringLiteral("no wallpaper is drawn"));
}

// The logo of one screen: the file for its size class, the variant drawn.
void checkLogo(Findings *findings, const QString &topic, const QMap<QString, QVariant> &map,
    const QRect &screen, bool greeter, bool defaultLogo)
{
    const QString path = map.value(PropertyKey::LogoPath).toString();
    if (map.value(PropertyKey::LogoPosition).toInt() == int(LogoPosition::NotShow)) {
        findings->add(topic, Status::Note, QStringLiteral("not shown (NotShow)"));
        return;
    }
    const QString sizeClass = determineLogoSize(screen.width());
    QString file = QFileInfo(path).isFile() ? path : QString();
    for (const QString &variant : AllColors)
        if (file.isEmpty())
            file = findLogoPath(path, screen.width(), variant);
    if (file.isEmpty()) {
        if (defaultLogo)
            findings->add(topic, Status::Note,
                QStringLiteral("none configured (the default %1 names no file)").arg(quoted(path)));
        else
            findings->add(topic, Status::Problem,
                QStringLiteral("%1 is neither a file nor the stem of one for size class %2 "
                               "(such as %1_%2_white.png): no logo is drawn")
                    .arg(path, sizeClass));
        return;
    }
    const PictureInfo info = inspectPicture(file);
    if (!info.usable) {
        findings->add(topic, Status::Problem,
            QStringLiteral("%1 refused: %2; no logo is drawn").arg(file, info.problem));
        return;
    }
    // Above ratio 1 the "@2x" file is drawn instead, when the layers accept it.
    const QString sharp = highResolutionPath(file);
    if (!sharp.isEmpty() && QFileInfo::exists(sharp))
        checkPicture(findings, topic + QStringLiteral(" @2x"), sharp,
            QStringLiteral("above ratio 1 the main file is drawn"));
    // The variant drawn depends on the wallpaper under the logo: render as the library does.
    const Rendered rendered = renderScreen(
        lookupOf(QStringLiteral("background"), screenOf(screen, 1, screen, QString()), greeter));
    const QString drawn = rendered.record.properties.value(PropertyKey::LogoPath).toString();
    const QString variant = !containsColor(drawn, LightColors).isEmpty() ? QStringLiteral("light")
        : !containsColor(drawn, DarkColors).isEmpty()                    ? QStringLiteral("dark")
                                                                         : QStringLiteral("only");
    findings->add(topic, Status::Ok,
        QStringLiteral("size class %1: %2; drawn: %3 (%4 variant)")
            .arg(sizeClass, file, drawn.isEmpty() ? file : drawn, variant));
}

// The wallpapers and placements the settings file @p path names for single outputs: the
// theme's WallPaper[NAME] and WallPaperPos[NAME], the greeter's groups [background][NAME].
void checkOutputs(Findings *findings, const QString &path)
{
    QByteArray data;
    QString reason;
    if (!SharedFiles::settingsFileState(path, &reason)
        || !SharedFiles::readFile(path, SharedFiles::MaxSettingsFileSize, &data))
        return;
    static const QRegularExpression themeKey(
        QStringLiteral("^\\s*(WallPaper|WallPaperPos)\\[([^\\]]+)\\]\\s*=\\s*(.*)$"));
    static const QRegularExpression greeterGroup(
        QStringLiteral("^\\s*\\[background\\]\\[([^\\]]+)\\]\\s*$"));
    static const QStringList greeterGroups = { QStringLiteral("blur"), QStringLiteral("logo") };
    QString group;
    for (const QString &line : QString::fromUtf8(data).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch key = themeKey.match(line);
        if (key.hasMatch()) {
            const QString topic = QStringLiteral("output %1").arg(key.captured(2));
            if (key.captured(1) == QLatin1String("WallPaperPos"))
                checkWord(findings, topic, key.captured(3).trimmed(), placementNames(),
                    QStringLiteral("placement"), QStringLiteral("the general placement is used"));
            else
                findings->add(topic, Status::Ok,
                    QStringLiteral("wallpaper %1").arg(quoted(key.captured(3).trimmed())));
            continue;
        }
        const QRegularExpressionMatch start = greeterGroup.match(line);
        if (start.hasMatch()) {
            group = greeterGroups.contains(start.captured(1)) ? QString() : start.captured(1);
            continue;
        }
        if (line.trimmed().startsWith(QLatin1Char('[')))
            group.clear();
        const int equals = line.indexOf(QLatin1Char('='));
        if (group.isEmpty() || equals < 0)
            continue;
        const QString name = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        const QString topic = QStringLiteral("output %1").arg(group);
        if (name == QLatin1String("position"))
            checkWord(findings, topic, value, placementNames(), QStringLiteral("placement"),
                QStringLiteral("the general placement is used"));
        else if (name == QLatin1String("path"))
            findings->add(topic, Status::Ok, QStringLiteral("wallpaper %1").arg(quoted(value)));
    }
}

void checkDesktop(Findings *findings)
{
    const QString themeFile = VokPathFactory::getVokThemeFile();
    const QString paletteFile = VokPathFactory::getVokPalette();
    checkSettingsFile(findings, QStringLiteral("theme"), themeFile);
    checkSettingsFile(findings, QStringLiteral("palette"), paletteFile);
    checkSettingsFile(findings, QStringLiteral("desktop folder entry"),
        VokPathFactory::getVokDesktopDir() + QLatin1String("/.directory"));

    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    checkWord(findings, QStringLiteral("WallPaperPos"),
        engine.getProperty(ConfigKey::WallpaperPosition).toString(), placementNames(),
        QStringLiteral("placement"), QStringLiteral("Crop is used"));
    checkWord(findings, QStringLiteral("LogoPosition"),
        engine.getProperty(ConfigKey::LogoPosition).toString(), LogoPositionNames,
        QStringLiteral("logo placement"), QStringLiteral("no logo is drawn"));
    checkWord(findings, QStringLiteral("TaskbarPosition"),
        engine.getProperty(ConfigKey::TaskbarPosition).toString(), TaskbarPositionNames,
        QStringLiteral("taskbar edge"), QStringLiteral("the logo keeps no room for a taskbar"));

    checkOutputs(findings, themeFile);

    VokSettings theme(themeFile);
    const QVariant height = theme.value(QStringLiteral("TaskbarHeight"));
    if (height.isValid() && (height.userType() != QMetaType::Int || height.toInt() <= 0))
        findings->add(QStringLiteral("TaskbarHeight"), Status::Problem,
            QStringLiteral("%1 is not a number of pixels above 0; %2 is used")
                .arg(quoted(height.toString()))
                .arg(Defaults::TaskbarHeight));
    VokSettings palette(paletteFile);
    const QVariant primary = palette.value(QStringLiteral("PrimaryColor"));
    if (primary.isValid() && !QColor::isValidColor(primary.toString()))
        findings->add(QStringLiteral("PrimaryColor"), Status::Problem,
            QStringLiteral("%1 is not a colour; %2 is used")
                .arg(quoted(primary.toString()), Defaults::PrimaryColor));
    else
        findings->add(QStringLiteral("PrimaryColor"), Status::Ok,
            colourText(engine.getProperty(QStringLiteral("PrimaryColor")).value<QColor>()));
}

void checkGreeter(Findings *findings)
{
    checkOutputs(findings, VokOrvPathFactory::defaultSettingsPath());
    checkSettingsFile(
        findings, QStringLiteral("greeter settings"), VokOrvPathFactory::defaultSettingsPath());
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString overlay = engine.getProperty(ConfigKey::WallpaperColorOverlay).toString();
    if (Utils::getColor(overlay).isValid())
        findings->add(
            QStringLiteral("color_overlay"), Status::Ok, colourText(Utils::getColor(overlay)));
    else
        findings->add(QStringLiteral("color_overlay"), Status::Problem,
            QStringLiteral(
                "%1 is not a colour (#rrggbb, a name or r, g, b, a): no overlay is drawn")
                .arg(quoted(overlay)));
    if (engine.getProperty(ConfigKey::WallpaperBlurEnable).toBool()) {
        const int radius = engine.getProperty(ConfigKey::WallpaperBlurRadius).toInt();
        findings->add(QStringLiteral("blur"), radius > 0 ? Status::Ok : Status::Problem,
            radius > 0
                ? QStringLiteral("radius %1").arg(radius)
                : QStringLiteral("enabled, but the radius is not a number above 0: no blur"));
    }
}

void checkCache(Findings *findings)
{
    using State = SharedFiles::DirectoryState;
    const State shared = SharedFiles::inspectSharedDirectory(CacheDir);
    findings->add(QStringLiteral("shared cache ") + CacheDir,
        shared == State::Untrusted ? Status::Note : Status::Ok,
        stateText(shared)
            + (shared == State::Untrusted
                    ? QStringLiteral("; pictures are kept in the private cache")
                    : QString()));
    const QString own = Cache::privateCacheDir();
    State state = State::Untrusted;
    if (!own.isEmpty())
        SharedFiles::openPrivateDirectory(own, false, &state);
    findings->add(
        QStringLiteral("private cache ") + (own.isEmpty() ? QStringLiteral("(none)") : own),
        state == State::Untrusted ? Status::Note : Status::Ok,
        stateText(state) + (state == State::Untrusted ? QStringLiteral("; not used") : QString()));
}

} // namespace

int checkCommand(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("check"),
        QStringLiteral("Explain the configuration as the library reads it: the files read or "
                       "refused, each value and whether it is a word of its table, the wallpaper "
                       "and logo files, the logo each screen gets, and the caches. Exit status 1 "
                       "when something will not show as configured."));
    const int code = line.parse(arguments, { greeterOption(), screenOption(), jsonOption() });
    if (code >= 0)
        return code;
    QList<QRect> screens;
    int error = 0;
    if (!parseScreens(line, 1, &screens, &error, QRect(0, 0, 1920, 1080)))
        return error;

    const bool greeter = line.isSet(greeterOption());
    Findings findings;
    if (greeter)
        checkGreeter(&findings);
    else
        checkDesktop(&findings);
    const bool defaultLogo = !greeter
        && FileSystemEngine(FileSystemEngine::DesktopSession)
                .getProperty(ConfigKey::LogoPath)
                .toString()
            == Defaults::LogoWord
        && !VokSettings(VokPathFactory::getVokThemeFile())
                .value(QStringLiteral("LogoPixmap"))
                .isValid();
    checkFormats(&findings);
    checkFolder(&findings, WallpaperFolder(greeter));
    for (const QRect &screen : qAsConst(screens)) {
        const QString name = QStringLiteral("screen ") + geometryText(screen);
        const QMap<QString, QVariant> wallpaper
            = greeter ? getWallpaperOrvProperties(screen) : getWallpaperProperties(screen);
        checkWallpaper(&findings, name + QStringLiteral(" wallpaper"),
            wallpaper.value(PropertyKey::ImagePath).value<File>().path);
        checkLogo(&findings, name + QStringLiteral(" logo"),
            greeter ? getLogoOrvProperties(screen) : getLogoProperties(screen), screen, greeter,
            defaultLogo);
    }
    checkCache(&findings);
    // The library's own messages are explained by the findings.
    releaseMessages(false);

    const int problems = findings.problems();
    if (line.isSet(jsonOption())) {
        QJsonArray list;
        for (const Finding &finding : findings.list())
            list.append(QJsonObject { { QStringLiteral("topic"), finding.topic },
                { QStringLiteral("status"), statusText(finding.status) },
                { QStringLiteral("message"), finding.message } });
        printJson(QJsonObject {
            { QStringLiteral("configuration"),
                greeter ? QStringLiteral("greeter") : QStringLiteral("desktop") },
            { QStringLiteral("ok"), problems == 0 },
            { QStringLiteral("problems"), problems },
            { QStringLiteral("findings"), list },
        });
    } else {
        out() << (greeter ? "greeter" : "desktop") << " configuration\n";
        for (const Finding &finding : findings.list())
            out() << "  " << statusText(finding.status).leftJustified(8) << finding.topic << ": "
                  << finding.message << "\n";
        out() << (problems == 0 ? QStringLiteral("all is well\n")
                                : QStringLiteral("%1 problem(s): the background will not show as "
                                                 "configured\n")
                                      .arg(problems));
    }
    return problems == 0 ? Success : Failure;
}

} // namespace Tool
