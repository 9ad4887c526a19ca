// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The vokimage tool: its commands, its command line, and apply under a real X server (Xvfb).

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

// Xlib's macros come after every Qt header.
#include "xserver.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace VokImage;
using namespace TestPaths;

namespace {

const QString Out = QStringLiteral("/tmp/out");

struct Result
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QProcessEnvironment environment(const QString &display = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), Home);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (display.isEmpty())
        env.remove(QStringLiteral("DISPLAY"));
    else
        env.insert(QStringLiteral("DISPLAY"), display);
    return env;
}

Result tool(const QStringList &arguments, const QString &display = QString(),
    const QString &program = QStringLiteral(VOKIMAGE_TOOL))
{
    QProcess process;
    process.setProcessEnvironment(environment(display));
    process.setWorkingDirectory(Out);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(120000))
        return result;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// The part of @p image at @p rect equals @p expected, every pixel.
bool samePixels(const QImage &image, const QRect &rect, const QImage &expected)
{
    const QImage part = image.copy(rect).convertToFormat(QImage::Format_RGB32);
    return !expected.isNull() && part == expected.convertToFormat(QImage::Format_RGB32);
}

// The value at @p path ("a/b/c") of the JSON object @p text.
QJsonValue jsonAt(const QByteArray &text, const QString &path)
{
    QJsonValue value = QJsonDocument::fromJson(text).object();
    for (const QString &key : path.split(QLatin1Char('/')))
        value = value.toObject().value(key);
    return value;
}

// Starts "apply --daemon" with @p options on @p display and waits for its "watching" line.
bool startDaemon(QProcess &process, const QString &display, const QString &options = QString(),
    const QProcessEnvironment &extra = QProcessEnvironment())
{
    QProcessEnvironment env = environment(display);
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(Out);
    process.start(QStringLiteral(VOKIMAGE_TOOL),
        QStringList { QStringLiteral("apply"), QStringLiteral("--daemon") }
            + options.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    return waitForLine(process, "watching");
}

} // namespace

class TestTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(insideSandbox());
        for (const QString &dir : { Home, Out, CacheDir })
            QDir(dir).removeRecursively();
        QFile::remove(CacheDir);
        QFile::remove(DmSettings);
        QVERIFY(QDir().mkpath(Home) && QDir().mkpath(Out));
    }

    // The commands people run: pictures per screen, the caches, placements, formats.
    void commands()
    {
        Result result = tool(words("background --screen 320x200 --screen 200x320+320+0 -o bg.png"));
        QCOMPARE(result.code, 0);
        QCOMPARE(QImage(Out + QStringLiteral("/bg-1.png")).size(), QSize(320, 200));
        QCOMPARE(QImage(Out + QStringLiteral("/bg-2.png")).size(), QSize(200, 320));
        QVERIFY(result.out.contains("rendered"));
        QVERIFY(tool(words("background --screen 320x200 -o again.png")).out.contains("from cache"));
        result = tool(words("properties --greeter --screen 320x200"));
        QVERIFY(result.out.contains("\"ImageProperty.blur\": 5")
            && result.out.contains("\"LogoProperty.blur\": 5"));
        QVERIFY(tool(words("cache info")).out.contains("limit      104857600 bytes"));
        QVERIFY(tool(words("cache clear")).out.startsWith("removed "));
        QVERIFY(QDir(CacheDir).entryList(QDir::Files).isEmpty());
        // The tool takes "Tile" for --position as well as the table's "Title"; and Fit.
        const QString render
            = QStringLiteral("render --screen 64x64 --wallpaper %1 --position %2 -o %2.png");
        for (const char *word : { "Tile", "Title" })
            QCOMPARE(tool(render.arg(QStringLiteral("#204060"), QLatin1String(word))
                              .split(QLatin1Char(' ')))
                         .code,
                0);
        QCOMPARE(readAll(Out + QStringLiteral("/Tile.png")),
            readAll(Out + QStringLiteral("/Title.png")));
        QVERIFY(
            writeTestImage(QStringLiteral("/tmp/wide.png"), solidImage(QSize(80, 40), Qt::red)));
        QCOMPARE(tool(render.arg(QStringLiteral("/tmp/wide.png"), QStringLiteral("Fit"))
                          .split(QLatin1Char(' ')))
                     .code,
            0);
        QCOMPARE(QImage(Out + QStringLiteral("/Fit.png")).pixelColor(32, 32), QColor(Qt::red));
        QCOMPARE(QImage(Out + QStringLiteral("/Fit.png")).pixelColor(32, 2), QColor(Qt::black));
        // The library's colour syntax; the format by suffix or --format.
        const QStringList plain = words("render --screen 32x32 --wallpaper #336699");
        QCOMPARE(tool(plain + words("--overlay 0,0,0,100 -o r.png")).code, 0);
        const QColor overlaid = QImage(Out + QStringLiteral("/r.png")).pixelColor(5, 5);
        QVERIFY2(qAbs(overlaid.red() - 31) <= 1 && qAbs(overlaid.blue() - 93) <= 1,
            qPrintable(overlaid.name()));
        QCOMPARE(tool(plain + words("-o out.jpg")).code, 0);
        QVERIFY(readAll(Out + QStringLiteral("/out.jpg")).startsWith("\xff\xd8\xff"));
        QCOMPARE(tool(plain + words("-o forced.jpg --format png")).code, 0);
        QVERIFY(readAll(Out + QStringLiteral("/forced.jpg")).startsWith("\x89PNG"));
    }

    // The command line: exit status 0, or 2 for a usage error before any work, and what it says.
    void commandLine_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("said");
        const QString stale = QStringLiteral(":97"); // a display that is not there
        const auto row = [](const char *name, const char *arguments, int code, const char *said,
                             const QString &display = QString()) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << display << code
                                << QByteArray(said);
        };
        row("version", "--version", 0, "vokimage " VOKIMAGE_VERSION_STRING "\n");
        row("help", "--help", 0, "Usage: vokimage COMMAND");
        // No command but apply connects to a display: a stale DISPLAY changes nothing.
        row("help, stale display", "--help", 0, "", stale);
        row("palette, stale display", "palette red", 0, "color900 ", stale);
        row("background, stale display", "background --screen 64x48 -o s.png", 0, "", stale);
        row("no screen, no display", "wallpaper", 2, "give --screen");
        row("command help", "cache --help", 0, "Usage: vokimage cache [options] info|clear\n");
        row("usage error", "cache sideways", 2,
            "vokimage: give info or clear\nRun 'vokimage cache --help' for its usage.\n");
        row("unknown command", "no-such-command", 2, "");
        row("unknown option", "background --bogus", 2, "");
        row("extra argument", "properties --screen 8x8 extra", 2,
            "vokimage: unexpected argument extra\n");
        row("empty screen", "wallpaper --screen 0x0", 2, "");
        row("blur not a number", "render --screen 32x32 --wallpaper #336699 --blur abc", 2, "");
        row("blur below 0", "render --screen 32x32 --wallpaper #336699 --blur -3", 2, "");
        row("overlay", "render --screen 32x32 --wallpaper #336699 --overlay notacolour", 2, "");
        row("position", "render --screen 32x32 --wallpaper #336699 --position Sideways", 2, "");
        row("taskbar height without a logo",
            "render --screen 32x32 --wallpaper #336699 -o r.png --taskbar-height x", 0, "");
        row("taskbar height", "render --screen 32x32 --logo /none.png --taskbar-height x", 2, "");
        row("scale 0", "render --screen 8x8 --wallpaper #336699 --scale 0", 2, "");
        row("picture format", "render --screen 32x32 --wallpaper #336699 -o out.xyz", 2,
            "unknown picture format \"xyz\"");
        row("palette colour", "palette notacolour", 2, "");
        // Sizes beyond the render limits are refused before anything is allocated.
        row("screen above the limit", "background --screen 99999x99999", 2, "above the limit");
        row("scaled above the limit", "wallpaper --screen 10000x10000 --scale 2", 2, "");
    }

    void commandLine()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, display);
        QFETCH(int, code);
        QFETCH(QByteArray, said);
        const Result result = tool(arguments.split(QLatin1Char(' ')), display);
        QCOMPARE(result.code, code);
        const QByteArray text = code == 0 ? result.out : result.err;
        QVERIFY2(text.startsWith(said) || text.contains(said), text.constData());
        QVERIFY(code == 0 || (result.err.size() < 400 && !result.err.contains("QImage")));
        QVERIFY(!QFileInfo::exists(Out + QStringLiteral("/out.xyz")));
    }

    // What a run says: one line a result, nothing on stderr; the explanation of a failure, in
    // the user's words; -v the library's notes, -q errors alone; the logging rules by category.
    void messages()
    {
        const QStringList background = words("background --screen 320x200 -o d.png");
        Result result = tool(background);
        QCOMPARE(result.code, 0);
        QCOMPARE(result.err, QByteArray());
        QVERIFY2(result.out.endsWith("  no logo configured\n") && result.out.count('\n') == 1,
            result.out.constData());
        QCOMPARE(tool(background + QStringList { QStringLiteral("-q") }).out, QByteArray());
        QDir(CacheDir).removeRecursively();
        QDir(Home + QStringLiteral("/.cache")).removeRecursively();
        QVERIFY(tool(background + QStringList { QStringLiteral("-v") })
                    .err.contains("No such logo in file or directory"));
        QVERIFY(writeConfig(Theme, "LogoPixmap=" + DarkLogo.toUtf8() + "\n"));
        QVERIFY(tool(background).out.contains("  logo /usr/share/wallpapers/logo/selka_logo_"));
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/missing.jpg\n")
            && QFile::remove(Out + QStringLiteral("/d.png")));
        result = tool(background);
        QCOMPARE(result.code, 1);
        QVERIFY(result.err.contains("path is empty or file not exists"));
        QVERIFY(!QFileInfo::exists(Out + QStringLiteral("/d.png")));
        result = tool(background + QStringList { QStringLiteral("-q") });
        QCOMPARE(
            result.err, QByteArray("vokimage: no background could be produced for 320x200+0+0\n"));
        // apply needs --screen or a display, and says which is missing.
        QVERIFY(tool({ QStringLiteral("apply") }).err.contains("give --screen"));
        QCOMPARE(tool(words("apply --screen 64x48")).err,
            QByteArray("vokimage: cannot open an X display: DISPLAY is not set\n"));
        // A generated wallpaper that cannot be written anywhere says why.
        QVERIFY(writeConfig(Theme, "WallPaper=vok-default\n"));
        QDir(CacheDir).removeRecursively();
        QDir(Home + QStringLiteral("/.cache/vokimage")).removeRecursively();
        QVERIFY(writeAll(CacheDir, "not a directory")
            && writeAll(Home + QStringLiteral("/.cache/vokimage"), "not a directory"));
        result = tool(background);
        QVERIFY2(result.code == 1
                && result.err.startsWith("Can't create cache dir:  \"/tmp/cache/16:10\""),
            result.err.constData());
        QFile::remove(CacheDir);

        // By default every line; "vokimage.debug=false" drops the notes of ordinary operation,
        // "vokimage*.warning=false" the failures, "vokimage*=false" both.
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/night.png"), solidImage(QSize(640, 400), QColor(10, 20, 35))));
        const auto run = [](const QString &logo, const QString &rules) {
            writeConfig(Theme,
                "WallPaper=/tmp/night.png\nLogoPixmap=" + logo.toUtf8()
                    + "\nLogoPosition=BottomRight\n");
            QDir(CacheDir).removeRecursively();
            QDir(Home + QStringLiteral("/.cache")).removeRecursively();
            QProcess process;
            QProcessEnvironment env = environment();
            env.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
            process.setProcessEnvironment(env);
            process.setWorkingDirectory(Out);
            process.start(QStringLiteral(VOKIMAGE_TOOL), words("background --screen 320x200 -v"));
            process.waitForFinished(120000);
            return process.readAllStandardError();
        };
        const QByteArray overloaded = "Overloaded logo:  \"" + WhiteLogo.toUtf8() + "\"\n";
        const QByteArray failure = "No such logo in file or directory:  \"/tmp/no-logo.png\"";
        QCOMPARE(run(DarkLogo, QString()), overloaded);
        QCOMPARE(run(DarkLogo, QStringLiteral("vokimage.debug=false")), QByteArray());
        QCOMPARE(run(DarkLogo, QStringLiteral("vokimage*.warning=false")), overloaded);
        QCOMPARE(run(DarkLogo, QStringLiteral("vokimage*=false")), QByteArray());
        QVERIFY(run(QStringLiteral("/tmp/no-logo.png"), QString()).contains(failure));
        QVERIFY(run(QStringLiteral("/tmp/no-logo.png"), QStringLiteral("vokimage.debug=false"))
                    .contains(failure));
        QCOMPARE(run(QStringLiteral("/tmp/no-logo.png"), QStringLiteral("vokimage*.warning=false")),
            QByteArray());
    }

    // JSON that other programs read: colours #rrggbbaa, positions as number and word, times
    // with their offset; config and cache info too.
    void json()
    {
        QVERIFY(writeConfig(DmSettings, "[background]\ncolor_overlay=10, 20, 30, 100\n"));
        Result result = tool(words("properties --greeter --screen 320x200"));
        const QByteArray wallpaper
            = QJsonDocument(QJsonDocument::fromJson(result.out).array().at(0).toObject()).toJson();
        QCOMPARE(
            jsonAt(wallpaper, QStringLiteral("wallpaper/ImageProperty.colorOverlay")).toString(),
            QStringLiteral("#0a141e64"));
        QCOMPARE(
            jsonAt(wallpaper, QStringLiteral("wallpaper/ImageProperty.position/number")).toInt(),
            3);
        QCOMPARE(
            jsonAt(wallpaper, QStringLiteral("wallpaper/ImageProperty.position/word")).toString(),
            QStringLiteral("Crop"));
        const QString time
            = jsonAt(wallpaper, QStringLiteral("wallpaper/ImageProperty.path/lastModified"))
                  .toString();
        QVERIFY2(
            QRegularExpression(
                QStringLiteral(
                    "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))
                .match(time)
                .hasMatch(),
            qPrintable(time));
        result = tool(words("config --greeter --json"));
        QCOMPARE(jsonAt(result.out, QStringLiteral("Options.Wallpaper.ColorOverlay")).toString(),
            QStringLiteral("10, 20, 30, 100"));
        QCOMPARE(jsonAt(result.out, QStringLiteral("Options.Wallpaper.Blur.Radius")).toInt(), 5);
        // cache info counts generated wallpapers and the backgrounds kept in the private cache.
        QCOMPARE(tool(words("default-wallpaper --screen 1920x1080 --colour #112233")).code, 0);
        QCOMPARE(tool(words("background --screen 64x48 -o k.png")).code, 0);
        result = tool(words("cache info --json"));
        QCOMPARE(jsonAt(result.out, QStringLiteral("private/keptBackgrounds")).toInt(), 1);
        QCOMPARE(jsonAt(result.out, QStringLiteral("shared/generatedWallpapers")).toInt(), 1);
        QCOMPARE(jsonAt(result.out, QStringLiteral("private/directory")).toString(),
            Home + QStringLiteral("/.cache/vokimage"));
        QCOMPARE(jsonAt(result.out, QStringLiteral("limitBytes")).toDouble(),
            double(Cache::MaxCacheSize));
    }

    void check_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("said");
        const auto row = [](const char *name, const QString &file, const char *settings, int code,
                             const char *said) {
            QTest::newRow(name) << file << QByteArray(settings) << code << QByteArray(said);
        };
        row("sound", Theme, "", 0, "all is well");
        row("formats", Theme, "", 0, "picture formats: read here: JPEG, PNG, SVG, GIF, BMP");
        row("light variant", Theme, "WallPaper=#101010\nLogoPixmap=/tmp/brand_dark.png\n", 0,
            "drawn: /tmp/brand_white.png (light variant)");
        row("Tile", Theme, "WallPaperPos=Tile\n", 1,
            "\"Tile\" is not a placement word; Crop is used; the word for tiling is Title");
        row("fit", Theme, "WallPaperPos=fit\n", 1, "the word is Fit");
        row("output", Theme, "WallPaper[HDMI-1]=/tmp/a.png\nWallPaperPos[HDMI-1]=fit\n", 1,
            "output HDMI-1: \"fit\" is not a placement word; the general placement is used; the "
            "word is Fit");
        row("logo word", Theme, "LogoPosition=Middle\n", 1,
            "\"Middle\" is not a logo placement word; no logo is drawn");
        row("taskbar", Theme, "TaskbarHeight=tall\n", 1,
            "\"tall\" is not a number of pixels above 0; 48 is used");
        row("no file", Theme, "WallPaper=/tmp/none.jpg\n", 1, "/tmp/none.jpg is not a file");
        row("broken", Theme, "WallPaper=/tmp/broken.png\n", 1,
            "/tmp/broken.png refused: not a picture that can be decoded");
        row("stem", Theme, "LogoPixmap=/tmp/nologo\n", 1,
            "/tmp/nologo is neither a file nor the stem of one for size class 1280");
        row("colour", Palette, "PrimaryColor=notacolour\n", 1,
            "\"notacolour\" is not a colour; #5a91bd is used");
        row("greeter", DmSettings,
            "[background]\ncolor_overlay=dark-ish\n[background][blur]\nradius=0\n", 1,
            "\"dark-ish\" is not a colour");
        row("pipe", Theme, nullptr, 1, "\"message\": \"refused: is not a regular file");
    }

    // check: each kind of mistake found and named, with the exit status 1; a sound theme passes.
    void check()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, settings);
        QFETCH(int, code);
        QFETCH(QByteArray, said);
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/brand_dark.png"), solidImage(QSize(40, 20), Qt::black)));
        QVERIFY(writeTestImage(
            QStringLiteral("/tmp/brand_white.png"), solidImage(QSize(40, 20), Qt::white)));
        QVERIFY(writeAll(QStringLiteral("/tmp/broken.png"), "\x89PNG\r\n\x1a\nbroken"));
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(settings.isNull() ? ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0
                                  : writeConfig(file, settings));
        QStringList arguments = words("check --screen 1280x720");
        if (file == DmSettings)
            arguments << QStringLiteral("--greeter");
        if (settings.isNull())
            arguments << QStringLiteral("--json");
        const Result result = tool(arguments);
        QCOMPARE(result.code, code);
        QVERIFY2(result.out.contains(said), result.out.constData());
        QVERIFY(code == 0 || settings.isNull()
            || result.out.contains("problem(s): the background will not show as configured"));
        QFile::remove(file);
    }

    // On a machine without the image plugins (the tool beside a qt.conf naming a folder of Qt's
    // own readers alone), check names the package that reads a picture's format.
    void checkWithoutPlugins()
    {
        QCOMPARE(tool(words("check --screen 1280x720")).out.contains("AVIF (kimageformat-plugins)"),
            !QImageReader::supportedImageFormats().contains("avif"));
        const QString plugins = QLibraryInfo::location(QLibraryInfo::PluginsPath);
        QVERIFY(QDir().mkpath(QStringLiteral("/tmp/few/imageformats"))
            && QDir().mkpath(QStringLiteral("/tmp/bare")));
        QVERIFY(QFile::link(
            plugins + QStringLiteral("/platforms"), QStringLiteral("/tmp/few/platforms")));
        for (const char *reader : { "/libqjpeg.so", "/libqsvg.so", "/libqgif.so" })
            QFile::link(plugins + QStringLiteral("/imageformats") + QLatin1String(reader),
                QStringLiteral("/tmp/few/imageformats") + QLatin1String(reader));
        QVERIFY(QFile::copy(QStringLiteral(VOKIMAGE_TOOL), QStringLiteral("/tmp/bare/vokimage")));
        QVERIFY(writeAll(QStringLiteral("/tmp/bare/qt.conf"), "[Paths]\nPlugins=/tmp/few\n"));
        QVERIFY(writeAll(QStringLiteral("/tmp/phone.avif"),
            QByteArray("\0\0\0\x1c"
                       "ftypavif\0\0\0\0avifmif1miaf",
                28)
                + QByteArray(64, '\0')));
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/phone.avif\n"));
        const Result result = tool(
            words("check --screen 1280x720"), QString(), QStringLiteral("/tmp/bare/vokimage"));
        QCOMPARE(result.code, 1);
        QVERIFY2(result.out.contains("/tmp/phone.avif refused: AVIF, which no image reader of this "
                                     "machine reads (install kimageformat-plugins)"),
            result.out.constData());
        QVERIFY(result.out.contains("not read here: HEIF (HEIC) (kimageformat-plugins)"));
    }

    // apply on one screen: the root window shows what background writes, published as the
    // established properties; a second apply frees the first pixmap; a failure says why.
    void applyOneScreen()
    {
        const XServer server(QSize(800, 600));
        QVERIFY2(server.display(), "Xvfb did not start");
        Result result = tool({ QStringLiteral("apply") }, server.name());
        QCOMPARE(result.code, 0);
        QVERIFY2(result.out.startsWith("root:") && result.out.contains("800x600+0+0")
                && result.out.count('\n') == 1,
            result.out.constData());
        QCOMPARE(tool(words("background --screen 800x600 -o one.png")).code, 0);
        QVERIFY(samePixels(
            server.rootImage(), QRect(0, 0, 800, 600), QImage(Out + QStringLiteral("/one.png"))));
        const Pixmap first = server.pixmapProperty("_XROOTPMAP_ID");
        QVERIFY(first != None && server.exists(first));
        QCOMPARE(server.pixmapProperty("ESETROOT_PMAP_ID"), first);
        QVERIFY(writeConfig(Theme, "WallPaper=#803020\n"));
        QCOMPARE(tool({ QStringLiteral("apply") }, server.name()).code, 0);
        const Pixmap second = server.pixmapProperty("_XROOTPMAP_ID");
        QVERIFY(second != first && server.exists(second) && !server.exists(first));
        QCOMPARE(server.rootImage().pixelColor(10, 10), QColor(0x80, 0x30, 0x20));
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/missing.jpg\n"));
        result = tool({ QStringLiteral("apply") }, server.name());
        QCOMPARE(result.code, 1);
        QVERIFY2(result.err.startsWith("vokimage: no background could be produced for ")
                && result.err.endsWith(" 800x600+0+0: wallpaper /tmp/missing.jpg: missing\n")
                && result.err.count('\n') == 1,
            result.err.constData());
        QVERIFY(QDir().mkpath(QStringLiteral("/tmp/walls")));
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/walls\n"));
        QVERIFY(tool({ QStringLiteral("apply") }, server.name())
                    .err.endsWith(": wallpaper folder /tmp/walls: holds no picture\n"));
        // Without --screen, background renders each monitor of the display.
        QVERIFY(writeConfig(Theme, "WallPaper=#803020\n"));
        QCOMPARE(tool(words("background -o mon.png"), server.name()).code, 0);
        QCOMPARE(QImage(Out + QStringLiteral("/mon.png")).size(), QSize(800, 600));
    }

    // Pictures reach the server through shared memory, a band of rows at a time; a server without
    // MIT-SHM gets them through the socket: the same pixels either way.
    void applyWithoutSharedMemory()
    {
        // An opaque picture, and one whose lower rows are translucent from the middle of a band of
        // shared memory on: the server shows the same pixels through either path.
        QImage translucent
            = coordinateImage(QSize(1500, 1000)).convertToFormat(QImage::Format_ARGB32);
        for (int y = 500; y < translucent.height(); ++y)
            for (int x = 0; x < translucent.width(); ++x)
                translucent.setPixel(x, y, (translucent.pixel(x, y) & 0xffffff) | 0x64000000);
        for (const QImage &picture : { coordinateImage(QSize(1500, 1000)), translucent }) {
            QVERIFY(writeTestImage(QStringLiteral("/tmp/shm.png"), picture));
            QVERIFY(writeConfig(Theme, "WallPaper=/tmp/shm.png\n"));
            QCOMPARE(tool(words("background --screen 1500x1000 -o shm.png")).code, 0);
            const QImage expected(Out + QStringLiteral("/shm.png"));
            QCOMPARE(expected.pixelColor(0, 999).alpha() < 255, picture.hasAlphaChannel());
            QImage shown;
            for (const QStringList &options : { QStringList(), words("-extension MIT-SHM") }) {
                const XServer server(QSize(1500, 1000), options);
                QVERIFY2(server.display(), "Xvfb did not start");
                int opcode = 0, event = 0, error = 0;
                QCOMPARE(
                    bool(XQueryExtension(server.display(), "MIT-SHM", &opcode, &event, &error)),
                    options.isEmpty());
                QCOMPARE(tool({ QStringLiteral("apply") }, server.name()).code, 0);
                const QImage root = server.rootImage().convertToFormat(QImage::Format_RGB32);
                QVERIFY(samePixels(root, QRect(0, 0, 1500, 500), expected.copy(0, 0, 1500, 500)));
                if (!picture.hasAlphaChannel())
                    QVERIFY(samePixels(root, QRect(0, 0, 1500, 1000), expected));
                if (shown.isNull())
                    shown = root;
                QVERIFY(root == shown);
            }
        }
    }

    // apply on two monitors of different sizes side by side (RandR 1.5 monitors).
    void applyMonitors()
    {
        const XServer server(QSize(1664, 768));
        QVERIFY2(server.display(), "Xvfb did not start");
        QVERIFY(server.xrandr(words("--setmonitor left 1024/270x768/200+0+0 screen")));
        QVERIFY(server.xrandr(words("--setmonitor right 640/170x480/130+1024+0 none")));
        const Result result = tool({ QStringLiteral("apply") }, server.name());
        QCOMPARE(result.code, 0);
        QCOMPARE(result.out.count('\n'), 2);
        QVERIFY(result.out.contains("root:left  1024x768+0+0"));
        QVERIFY(result.out.contains("root:right  640x480+1024+0"));
        QCOMPARE(tool(words("background --screen 1024x768+0+0 --screen 640x480+1024+0 -o pair.png"))
                     .code,
            0);
        const QImage root = server.rootImage();
        QVERIFY(
            samePixels(root, QRect(0, 0, 1024, 768), QImage(Out + QStringLiteral("/pair-1.png"))));
        QVERIFY(samePixels(
            root, QRect(1024, 0, 640, 480), QImage(Out + QStringLiteral("/pair-2.png"))));
        // No monitor below the right one: black.
        QCOMPARE(root.pixelColor(1300, 700), QColor(Qt::black));

        // Span: one picture across both monitors, cropped to fill their union.
        QImage panorama(2400, 900, QImage::Format_RGB32);
        for (int y = 0; y < panorama.height(); ++y)
            for (int x = 0; x < panorama.width(); ++x)
                panorama.setPixel(x, y, qRgb(x % 251, y % 241, (x + y) % 239));
        QVERIFY(writeTestImage(QStringLiteral("/tmp/panorama.png"), panorama));
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/panorama.png\nWallPaperPos=Span\n"));
        QCOMPARE(tool({ QStringLiteral("apply") }, server.name()).code, 0);
        QCOMPARE(tool(words("wallpaper --screen 1664x768+0+0 -o union.png")).code, 0);
        const QImage spanned = server.rootImage();
        const QImage whole(Out + QStringLiteral("/union.png"));
        QVERIFY(samePixels(spanned, QRect(0, 0, 1024, 768), whole.copy(0, 0, 1024, 768)));
        QVERIFY(samePixels(spanned, QRect(1024, 0, 640, 480), whole.copy(1024, 0, 640, 480)));

        // A picture per output: the right monitor's own colour.
        QVERIFY(writeConfig(Theme, "WallPaper=#204080\nWallPaper[right]=#a04020\n"));
        QCOMPARE(tool({ QStringLiteral("apply") }, server.name()).code, 0);
        const QImage perOutput = server.rootImage();
        QCOMPARE(perOutput.pixelColor(500, 400), QColor(0x20, 0x40, 0x80));
        QCOMPARE(perOutput.pixelColor(1300, 200), QColor(0xa0, 0x40, 0x20));

        // Two monitors of one size show one picture, rendered and stored once; it is the picture
        // the right one gets on its own.
        const XServer twins(QSize(1280, 480));
        QVERIFY2(twins.display(), "Xvfb did not start");
        QVERIFY(twins.xrandr(words("--setmonitor a 640/170x480/130+0+0 screen")));
        QVERIFY(twins.xrandr(words("--setmonitor b 640/170x480/130+640+0 none")));
        QVERIFY(writeConfig(Theme,
            "WallPaper=/tmp/panorama.png\nLogoPixmap=/usr/share/wallpapers/logo/"
            "selka_logo_dark.svg\n"));
        QDir(CacheDir).removeRecursively();
        const Result once = tool({ QStringLiteral("apply") }, twins.name());
        QCOMPARE(once.code, 0);
        QVERIFY2(once.out.contains("root:a  640x480+0+0  rendered"), once.out.constData());
        QVERIFY2(once.out.contains("root:b  640x480+640+0  the picture of root:a"),
            once.out.constData());
        QCOMPARE(QDir(CacheDir).entryList(QDir::Files).size(), 1);
        QCOMPARE(tool(words("background --screen 640x480+640+0 -o twin.png")).code, 0);
        const QImage own(Out + QStringLiteral("/twin.png"));
        const QImage shown = twins.rootImage();
        QVERIFY(samePixels(shown, QRect(0, 0, 640, 480), own));
        QVERIFY(samePixels(shown, QRect(640, 0, 640, 480), own));
        // Span shapes each part by its position: the two render apart.
        QVERIFY(writeConfig(Theme, "WallPaper=/tmp/panorama.png\nWallPaperPos=Span\n"));
        const Result apart = tool({ QStringLiteral("apply") }, twins.name());
        QCOMPARE(apart.code, 0);
        QVERIFY2(!apart.out.contains("the picture of"), apart.out.constData());
    }

    // A running apply cross-fades a changed picture in, composed in the server: frames between
    // the two while it runs, then exactly the new one; it follows the portal's colour scheme.
    // --fade is checked before any work.
    void daemonFades()
    {
        for (const char *bad : { "-1", "10001", "soon" })
            QVERIFY(tool({ QStringLiteral("apply"), QStringLiteral("--fade"), QLatin1String(bad),
                             QStringLiteral("--screen"), QStringLiteral("64x48") })
                        .err.contains("--fade takes milliseconds"));
        const XServer server(QSize(320, 200));
        QVERIFY2(server.display(), "Xvfb did not start");
        QVERIFY(writeConfig(Theme, "WallPaper=#cc0000\n"));
        QProcess process;
        QVERIFY(startDaemon(process, server.name(), QStringLiteral("--fade 2500")));
        QCOMPARE(server.rootImage().pixelColor(160, 100), QColor(0xcc, 0, 0));
        QVERIFY(writeConfig(Theme, "WallPaper=#0000cc\n"));
        bool between = false;
        for (int i = 0; i < 60 && !between; ++i, QTest::qWait(50))
            between = server.rootImage().pixelColor(160, 100).red() > 30
                && server.rootImage().pixelColor(160, 100).blue() > 30;
        QVERIFY(between);
        QTRY_COMPARE_WITH_TIMEOUT(
            server.rootImage().pixelColor(160, 100), QColor(0, 0, 0xcc), 10000);
        QVERIFY(server.exists(server.pixmapProperty("_XROOTPMAP_ID")));
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000) && process.exitCode() == 0);

        SettingsPortal portal;
        QVERIFY2(portal.start(1), "no private session bus with a settings portal");
        QVERIFY(writeConfig(Theme, "WallPaper=#cc0000\nWallPaperDark=#00cc00\n"));
        QVERIFY(
            startDaemon(process, server.name(), QStringLiteral("--fade 0"), portal.environment()));
        QCOMPARE(server.rootImage().pixelColor(160, 100), QColor(0, 0xcc, 0));
        QVERIFY(portal.set(2));
        QTRY_COMPARE_WITH_TIMEOUT(
            server.rootImage().pixelColor(160, 100), QColor(0xcc, 0, 0), 10000);
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000));
    }

    // --daemon applies again after a theme change, a change in its wallpaper folder and a
    // monitor change; skips a monitor beyond the render limits; stops on SIGTERM; and is alone
    // on its display.
    void daemon()
    {
        const XServer server(QSize(1024, 600));
        QVERIFY2(server.display(), "Xvfb did not start");
        QVERIFY(writeConfig(Theme, "WallPaper=#204080\n"));
        QProcess process;
        QVERIFY(startDaemon(process, server.name()));
        QCOMPARE(server.rootImage().pixelColor(10, 10), QColor(0x20, 0x40, 0x80));
        QVERIFY(writeConfig(Theme, "WallPaper=#20a040\n"));
        QTRY_COMPARE(server.rootImage().pixelColor(10, 10), QColor(0x20, 0xa0, 0x40));
        // Pictures added to the folder, removed and renamed into it are followed.
        const QString walls = QStringLiteral("/tmp/daemon-walls/");
        QVERIFY(
            writeTestImage(walls + QStringLiteral("a.png"), solidImage(QSize(64, 64), Qt::red)));
        QVERIFY(writeConfig(Theme, "WallPaper=" + walls.toUtf8() + "\n"));
        QTRY_COMPARE(server.rootImage().pixelColor(10, 10), QColor(Qt::red));
        QVERIFY(
            writeTestImage(walls + QStringLiteral("0.png"), solidImage(QSize(64, 64), Qt::green)));
        QVERIFY(QFile::remove(walls + QLatin1String("a.png")));
        QTRY_COMPARE(server.rootImage().pixelColor(10, 10), QColor(Qt::green));
        QVERIFY(writeTestImage(
            walls + QStringLiteral(".next.png"), solidImage(QSize(64, 64), Qt::blue)));
        QVERIFY(QFile::rename(walls + QLatin1String(".next.png"), walls + QLatin1String("c.png")));
        QVERIFY(QFile::remove(walls + QLatin1String("0.png")));
        QTRY_COMPARE(server.rootImage().pixelColor(10, 10), QColor(Qt::blue));
        QVERIFY(server.xrandr(words("--setmonitor half 512/135x600/160+0+0 screen")));
        QVERIFY(waitForLine(process, "root:half  512x600+0+0"));
        // A monitor beyond the render limits, set by another client.
        QVERIFY(server.xrandr(words("--setmonitor huge 16000/4000x16000/4000+0+0 none")));
        QVERIFY(waitForLine(process, "root:half  512x600+0+0"));
        QByteArray errors;
        QTRY_VERIFY((errors += process.readAllStandardError()).contains("monitor huge skipped"));
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0);
        QVERIFY(process.readAllStandardOutput().endsWith("stopped\n"));
        QVERIFY(server.exists(server.pixmapProperty("_XROOTPMAP_ID")));

        // Two daemons started at once on the display: one remains, the other ends naming it.
        QVERIFY(server.xrandr(words("--delmonitor huge")));
        QProcess pair[2];
        for (QProcess &one : pair) {
            one.setProcessEnvironment(environment(server.name()));
            one.start(QStringLiteral(VOKIMAGE_TOOL), words("apply --daemon"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            pair[0].state() == QProcess::NotRunning || pair[1].state() == QProcess::NotRunning,
            20000);
        QProcess &gone = pair[0].state() == QProcess::NotRunning ? pair[0] : pair[1];
        QProcess &left = &gone == &pair[0] ? pair[1] : pair[0];
        QCOMPARE(gone.exitCode(), 0);
        QVERIFY(
            gone.readAllStandardError().contains("apply runs on this display already, as process "
                + QByteArray::number(left.processId())));
        QTest::qWait(500);
        QCOMPARE(left.state(), QProcess::Running);
        ::kill(pid_t(left.processId()), SIGTERM);
        QVERIFY(left.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestTool)
#include "tst_tool.moc"
