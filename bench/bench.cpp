// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Benchmarks of the library's entry points, render passes and cache, beside Qt's default
// stream form, vipsthumbnail and memcpy.
//
//   vokimage-bench --table [--workdir DIR]
//       measures the cases of each size in one warm process of its own, each floor in the
//       same rounds as the cases compared with it (repeated until every median is stable),
//       the peak memory of a cold background in a process of its own, and prints the targets
//       with met or NOT MET;
//   vokimage-bench [--workdir DIR] [benchmark flags]
//       runs the cases in this process, as Google Benchmark does;
//   vokimage-bench --inputs [--workdir DIR]
//       only writes the inputs (photo-6000x4000.jpg among them) into the work folder.
//
// Both clear and fill /tmp/cache and write configuration under /etc: run them inside the
// test sandbox (scripts/bench does).

#include "inputs.h"
#include "memory.h"

#include "internal/sharedfiles_p.h"
#include "png/png_p.h"

#include <vokimage/vokimage.h>

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Exported by Qt Widgets; the routine behind QGraphicsBlurEffect.
Q_DECL_IMPORT void qt_blurImage(
    QPainter *p, QImage &blurImage, qreal radius, bool quality, bool alphaOnly, int transposed = 0);

using namespace VokImage;

namespace {

QString workDir = QStringLiteral("/tmp/vokimage-bench");

QString input(const char *name)
{
    return workDir + QLatin1Char('/') + QLatin1String(name);
}

const QString DmSettings = QStringLiteral("/etc/X11/vok-dm/vok-modern/settings.ini");

const QSize Sizes[] = { { 1920, 1080 }, { 2560, 1440 }, { 3840, 2160 } };

QString sizeName(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

void clearCache()
{
    QDir(CacheDir).removeRecursively();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Desktop: the 6000x4000 photo cropped, the PNG logo; greeter: the same photo, the SVG logo.
bool writeConfiguration()
{
    const QString home = workDir + QStringLiteral("/home");
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("DESKTOP_SESSION");
    const QByteArray photo = QFile::encodeName(input("photo-6000x4000.jpg"));
    return writeFile(home + QStringLiteral("/.vok/theme/current.themerc"),
               "WallPaper=" + photo + "\nWallPaperPos=Crop\nLogoPixmap="
                   + QFile::encodeName(input("logo.png")) + "\nLogoPosition=BottomRight\n")
        && writeFile(DmSettings,
            "[background]\npath=" + photo
                + "\n[background][logo]\npath=" + QFile::encodeName(input("logo.svg")) + "\n");
}

void keep(const QImage &image)
{
    benchmark::DoNotOptimize(image.constBits());
}

// A render engine whose working surface is ready, as render() makes it.
struct Surface
{
    explicit Surface(const QSize &size)
    {
        *engine.pixmap() = QPixmap(size);
        engine.pixmap()->fill(Qt::transparent);
    }
    RenderEngine engine;
};

using Entry = Image (*)(const QRect &);

void clearPrivateCache()
{
    QDir(Cache::privateCacheDir()).removeRecursively();
}

void coldEntry(benchmark::State &state, QSize size, Entry entry)
{
    for (auto _ : state) {
        state.PauseTiming();
        clearCache();
        clearPrivateCache();
        state.ResumeTiming();
        keep(entry(QRect(QPoint(), size)).image);
    }
}

void warmEntry(benchmark::State &state, QSize size, Entry entry)
{
    clearCache();
    entry(QRect(QPoint(), size));
    for (auto _ : state)
        keep(entry(QRect(QPoint(), size)).image);
}

void renderAlone(benchmark::State &state, QSize size)
{
    const QMap<QString, QVariant> properties = getBackground(QRect(QPoint(), size)).properties;
    for (auto _ : state) {
        RenderEngine engine;
        keep(engine.render(properties).toImage());
    }
}

void wallpaperPass(benchmark::State &state, QSize size, const char *photo)
{
    QMap<QString, QVariant> properties = getWallpaperProperties(QRect(QPoint(), size));
    properties[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(input(photo)));
    Surface surface(size);
    for (auto _ : state)
        RenderImage(&surface.engine, properties).render();
    keep(surface.engine.pixmap()->toImage());
}

void logoPass(benchmark::State &state, QSize size, const char *logo)
{
    QMap<QString, QVariant> properties = getLogoProperties(QRect(QPoint(), size));
    properties[QLatin1String(Keys::LogoPath)] = input(logo);
    Surface surface(size);
    for (auto _ : state)
        RenderLogo(&surface.engine, properties).render();
    keep(surface.engine.pixmap()->toImage());
}

void effectPass(benchmark::State &state, QSize size, bool blur)
{
    Surface surface(size);
    const QImage wallpaper = getWallpaper(QRect(QPoint(), size)).image;
    if (!wallpaper.isNull())
        *surface.engine.pixmap() = QPixmap::fromImage(wallpaper);
    for (auto _ : state) {
        if (blur)
            RenderBlurEffects(&surface.engine, 10).render();
        else
            RenderColorOverlayEffects(&surface.engine, QColor(0, 0, 0, 100)).render();
    }
    keep(surface.engine.pixmap()->toImage());
}

void store(benchmark::State &state, QSize size)
{
    clearCache();
    const Image record = getBackground(QRect(QPoint(), size));
    for (auto _ : state)
        Cache::saveImageCache(record);
    state.counters["file_bytes"] = double(
        QFileInfo(CacheDir + QLatin1Char('/') + Cache::getFileName(record.properties)).size());
}

void load(benchmark::State &state, QSize size)
{
    clearCache();
    const Image record = getBackground(QRect(QPoint(), size));
    for (auto _ : state) {
        bool ok = false;
        keep(Cache::loadImageCache(record.properties, &ok).image);
        if (!ok)
            state.SkipWithError("cache record not loaded");
    }
}

// Qt's stream form with its default PNG writer: the reference for store and load.
QByteArray referenceBytes(const QImage &image)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << image;
    return bytes;
}

void referenceStore(benchmark::State &state, QSize size)
{
    const QImage image = getBackground(QRect(QPoint(), size)).image;
    QByteArray bytes;
    for (auto _ : state)
        bytes = referenceBytes(image);
    state.counters["file_bytes"] = double(bytes.size());
}

void referenceLoad(benchmark::State &state, QSize size)
{
    const QByteArray bytes = referenceBytes(getBackground(QRect(QPoint(), size)).image);
    for (auto _ : state) {
        QDataStream stream(bytes);
        QImage image;
        stream >> image;
        keep(image);
    }
}

// Runs a program to its end; its peak memory goes into @p maxRssKb.
bool runProgram(const std::vector<QByteArray> &arguments, long *maxRssKb)
{
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    *maxRssKb = std::max(*maxRssKb, usage.ru_maxrss);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void vipsthumbnail(benchmark::State &state, QSize size)
{
    if (QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail")).isEmpty()) {
        state.SkipWithError("vipsthumbnail is not installed (Debian package libvips-tools)");
        return;
    }
    const std::vector<QByteArray> arguments { "vipsthumbnail",
        QFile::encodeName(input("photo-6000x4000.jpg")), "--size", sizeName(size).toLatin1(),
        "--smartcrop", "centre", "-o", QFile::encodeName(input("vips.png")) };
    long maxRssKb = 0;
    for (auto _ : state) {
        if (!runProgram(arguments, &maxRssKb))
            state.SkipWithError("vipsthumbnail failed");
    }
    state.counters["child_rss_kb"] = double(maxRssKb);
}

void frameCopy(benchmark::State &state, QSize size)
{
    const size_t bytes = size_t(size.width()) * size_t(size.height()) * 4;
    std::vector<char> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
}

void idle(benchmark::State &state, QSize)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(state.iterations());
}

struct Case
{
    const char *name;
    const char *label;
    std::function<void(benchmark::State &, QSize)> run;
};

const std::vector<Case> &cases()
{
    using namespace std::placeholders;
    static const std::vector<Case> list {
        { "baseline", "process baseline (Qt started, nothing done)", idle },
        { "cold_getBackground", "getBackground, empty cache",
            std::bind(coldEntry, _1, _2, static_cast<Entry>(&getBackground)) },
        { "cold_getOrvBackground", "getOrvBackground, empty cache",
            std::bind(coldEntry, _1, _2, static_cast<Entry>(&getOrvBackground)) },
        { "warm_getBackground", "getBackground, hit",
            std::bind(warmEntry, _1, _2, static_cast<Entry>(&getBackground)) },
        { "warm_getOrvBackground", "getOrvBackground, hit",
            std::bind(warmEntry, _1, _2, static_cast<Entry>(&getOrvBackground)) },
        { "render", "render alone (RenderEngine::render)", renderAlone },
        { "pass_crop_6000", "pass: crop from 6000x4000 JPEG",
            std::bind(wallpaperPass, _1, _2, "photo-6000x4000.jpg") },
        { "pass_crop_3840", "pass: crop from 3840x2160 JPEG",
            std::bind(wallpaperPass, _1, _2, "photo-3840x2160.jpg") },
        { "pass_logo_png", "pass: PNG logo", std::bind(logoPass, _1, _2, "logo.png") },
        { "pass_logo_svg", "pass: SVG logo", std::bind(logoPass, _1, _2, "logo.svg") },
        { "pass_blur", "pass: blur radius 10", std::bind(effectPass, _1, _2, true) },
        { "pass_overlay", "pass: colour overlay", std::bind(effectPass, _1, _2, false) },
        { "store", "store alone (saveImageCache)", store },
        { "load", "load alone (loadImageCache)", load },
        { "ref_store", "reference: QDataStream << QImage", referenceStore },
        { "ref_load", "reference: QDataStream >> QImage", referenceLoad },
        { "vipsthumbnail", "peer: vipsthumbnail crop to PNG", vipsthumbnail },
        { "memcpy", "memcpy of one frame", frameCopy },
    };
    return list;
}

void registerCases()
{
    for (const Case &c : cases()) {
        for (const QSize &size : Sizes) {
            const std::string name = std::string(c.name) + '/' + sizeName(size).toStdString();
            const auto run = c.run;
            benchmark::RegisterBenchmark(
                name.c_str(), [run, size](benchmark::State &state) { run(state, size); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
}

// ---- the table

// Rounds of the table.
constexpr int MinRuns = 5;
constexpr int MaxRuns = 31;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? -1 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// One timed step of a round: run, after prepare (untimed).
struct Step
{
    const char *name;
    std::function<void()> prepare;
    std::function<void()> run;
};

// Runs the steps in rounds, one after another in each round, so that a floor and the cases
// compared with it meet the same state of the machine. Stops once, for every step, the median
// of all rounds and the median without the last three differ by less than 2 %, after at least
// MinRuns and at most MaxRuns rounds. Adds each step's median in ms to @p out.
void interleaved(const std::vector<Step> &steps, QJsonObject *out)
{
    std::vector<std::vector<double>> times(steps.size());
    for (int round = 0; round < MaxRuns; ++round) {
        for (size_t i = 0; i < steps.size(); ++i) {
            if (steps[i].prepare)
                steps[i].prepare();
            QElapsedTimer timer;
            timer.start();
            steps[i].run();
            times[i].push_back(timer.nsecsElapsed() / 1e6);
        }
        if (round + 1 < MinRuns)
            continue;
        bool stable = true;
        for (const std::vector<double> &t : times) {
            const double all = median(t);
            const double earlier = median(std::vector<double>(t.begin(), t.end() - 3));
            stable = stable && std::abs(all - earlier) < 0.02 * all;
        }
        if (stable)
            break;
    }
    for (size_t i = 0; i < steps.size(); ++i)
        out->insert(QLatin1String(steps[i].name), median(times[i]));
}

// The smallest 1/8 step of the JPEG decoder that still covers @p screen, as the library reads.
QSize reducedDecodeSize(const QSize &source, const QSize &screen)
{
    const double k = std::max(
        double(screen.width()) / source.width(), double(screen.height()) / source.height());
    const int eighths = std::min(8, int(std::ceil(k * 8 - 1e-9)));
    return QSize(int(std::ceil(source.width() * eighths / 8.0)),
        int(std::ceil(source.height() * eighths / 8.0)));
}

// Every case of one size, measured in this warm process; printed as JSON.
// The decoding floor: the photo decoded at libjpeg's reduced size, scaled smoothly to cover
// @p size and cropped to it.
void floorDecodeScale(const QString &photo, const QSize &size)
{
    QImageReader reader(photo);
    const QSize decoded = reducedDecodeSize(reader.size(), size);
    reader.setScaledSize(decoded);
    const QImage image = reader.read();
    const QSize cover = decoded.scaled(size, Qt::KeepAspectRatioByExpanding);
    const QImage scaled = image.scaled(cover, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    keep(scaled.copy(QRect(
        QPoint((cover.width() - size.width()) / 2, (cover.height() - size.height()) / 2), size)));
}

// The reading floor: the cache file @p file read whole and its stored RGB rows expanded.
void floorReadExpand(const QString &file, const QSize &size)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = in.readAll();
    const qint64 need = qint64(size.width()) * size.height() * 3;
    if (bytes.size() < need)
        return;
    const QImage rgb(reinterpret_cast<const uchar *>(bytes.constData() + bytes.size() - need),
        size.width(), size.height(), size.width() * 3, QImage::Format_RGB888);
    keep(rgb.convertToFormat(QImage::Format_RGB32));
}

int sizeRun(const QSize &size)
{
    const QRect screen(QPoint(), size);
    const QString photo = input("photo-6000x4000.jpg");
    QJsonObject out;
    // Warm: libraries loaded, plugins found, the page cache holding the inputs.
    clearCache();
    clearPrivateCache();
    keep(getBackground(screen).image);
    keep(getOrvBackground(screen).image);
    const auto emptyCaches = [] {
        clearCache();
        clearPrivateCache();
    };
    const auto call
        = [screen](Entry entry) { return [screen, entry] { keep(entry(screen).image); }; };
    // After a reboot the temporary directory is empty and the private cache is kept.
    const auto rebooted = [screen](Entry entry) {
        return [screen, entry] {
            keep(entry(screen).image);
            clearCache();
        };
    };

    // Qt's blur routine at the greeter's default radius (5, which the routine takes doubled) on
    // the frame, and the blurred picture drawn back over it.
    const QImage frame
        = getWallpaper(screen).image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage target;
    interleaved(
        {
            { "floor_decode_scale", nullptr, [&] { floorDecodeScale(photo, size); } },
            { "blur_pass", [&] { target = frame.copy(); },
                [&] {
                    QImage blurred = target;
                    qt_blurImage(nullptr, blurred, 10, true, false, 0);
                    QPainter painter(&target);
                    painter.scale(2, 2);
                    painter.setRenderHint(QPainter::SmoothPixmapTransform);
                    painter.drawImage(QRect(QPoint(), blurred.size()), blurred);
                } },
            { "cold_getBackground", emptyCaches, call(&getBackground) },
            { "cold_getOrvBackground", emptyCaches, call(&getOrvBackground) },
        },
        &out);

    const QString file
        = CacheDir + QLatin1Char('/') + Cache::getFileName(getBackground(screen).properties);
    interleaved(
        {
            { "floor_read_expand", call(&getBackground), [&] { floorReadExpand(file, size); } },
            { "hit_getBackground", call(&getBackground), call(&getBackground) },
            { "reboot_getBackground", rebooted(&getBackground), call(&getBackground) },
            { "hit_getOrvBackground", call(&getOrvBackground), call(&getOrvBackground) },
            { "reboot_getOrvBackground", rebooted(&getOrvBackground), call(&getOrvBackground) },
        },
        &out);
    // The tool's PNG output (its encoder and its whole-file write), and the tool on a hit as a
    // whole process, beside the cache's store of the same picture.
    const Image record = getBackground(screen);
    const QString output = input("tool-output.png");
    std::vector<Step> steps {
        { "store", nullptr, [&] { Cache::saveImageCache(record); } },
        { "png_output", nullptr,
            [&] {
                QByteArrayList pieces;
                if (Png::encodePng(record.image, &pieces))
                    SharedFiles::writeAtomically(output, pieces, true);
            } },
    };
#ifdef VOKIMAGE_TOOL
    steps.push_back(
        { "tool_png", nullptr, [&] {
             QProcess::execute(QStringLiteral(VOKIMAGE_TOOL),
                 { QStringLiteral("background"), QStringLiteral("--screen"), sizeName(size),
                     QStringLiteral("-q"), QStringLiteral("-o"), output });
         } });
#endif
    interleaved(steps, &out);
    printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}

long highWaterKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The peak memory of one cold 3840x2160 background above this process's baseline, in MB.
int peakRun()
{
    clearCache();
    clearPrivateCache();
    const long baseline = highWaterKb();
    keep(getBackground(QRect(QPoint(), Sizes[2])).image);
    printf("{\"peak_mb\": %.1f}\n", (highWaterKb() - baseline) / 1024.0);
    return 0;
}

// Requests off the calling thread, at 3840x2160: how long the caller is blocked by a cold
// request, and three cold screens requested at once against the three calls one after another.
int asyncRun()
{
    const QList<QRect> screens
        = { QRect(0, 0, 3840, 2160), QRect(3840, 0, 2560, 1440), QRect(6400, 0, 1920, 1080) };
    const auto emptyCaches = [] {
        clearCache();
        clearPrivateCache();
    };
    keep(getBackground(screens[0]).image);
    std::vector<double> blocked;
    QJsonObject out;
    interleaved(
        {
            { "sync_cold", emptyCaches, [&] { keep(getBackground(screens[0]).image); } },
            { "request_cold", emptyCaches,
                [&] {
                    QElapsedTimer timer;
                    timer.start();
                    const QFuture<Lookup> pending = Lookup(Screen(screens[0])).request();
                    blocked.push_back(timer.nsecsElapsed() / 1e6);
                    keep(pending.result().image().image);
                } },
            { "three_sync", emptyCaches,
                [&] {
                    for (const QRect &screen : screens)
                        keep(getBackground(screen).image);
                } },
            { "three_requests", emptyCaches,
                [&] {
                    QList<QFuture<Lookup>> futures;
                    for (const QRect &screen : screens)
                        futures.append(Lookup(Screen(screen)).request());
                    for (QFuture<Lookup> &future : futures)
                        keep(future.result().image().image);
                } },
        },
        &out);
    out.insert(QLatin1String("request_blocked"), median(blocked));
    printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}

// The colour conversion: a cold 3840x2160 wallpaper from the 6000x4000 photo tagged Display P3
// against the same photo untagged.
int colourRun()
{
    const QString plain = input("photo-6000x4000.jpg");
    const QString tagged = workDir + QStringLiteral("/photo-6000x4000-p3.jpg");
    QFile source(plain);
    if (!source.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = source.readAll();
    // The profile in one APP2 segment right after the start of image, as cameras write it.
    const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    QByteArray segment("\xff\xe2", 2);
    const int length = 2 + 14 + icc.size();
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += QByteArray("ICC_PROFILE\0\1\1", 14) + icc;
    if (!writeFile(tagged, bytes.left(2) + segment + bytes.mid(2)))
        return 1;
    const QRect screen(QPoint(), Sizes[2]);
    const auto wallpaperOf = [&screen](const QString &path) {
        return [&screen, path] {
            QMap<QString, QVariant> map = DefaultWallpaperProperties;
            map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
            map[QLatin1String(Keys::ImagePosition)] = int(WallPaperPosition::Crop);
            map[QLatin1String(Keys::ImageScreen)] = screen;
            RenderEngine engine;
            keep(engine.render(map).toImage());
        };
    };
    QJsonObject out;
    interleaved({ { "render_untagged", nullptr, wallpaperOf(plain) },
                    { "render_p3", nullptr, wallpaperOf(tagged) } },
        &out);
    printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}

// Runs this program with @p arguments and reads the JSON object it prints.
QJsonObject runChild(const QByteArray &self, const QByteArray &argument)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QFile::decodeName(self),
        { QStringLiteral("--workdir=") + workDir, QString::fromLatin1(argument) });
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return QJsonObject();
    return QJsonDocument::fromJson(child.readAllStandardOutput().trimmed()).object();
}

void printTarget(const QString &what, double value, double limit, const char *target)
{
    if (value < 0) {
        printf("  %-66s %7s   target %-7s not measured\n", qPrintable(what), "-", target);
        return;
    }
    printf("  %-66s %7.2f   target %-7s %s\n", qPrintable(what), value, target,
        value <= limit ? "met" : "NOT MET");
}

int table(const QByteArray &self)
{
    std::vector<QJsonObject> runs;
    for (const QSize &size : Sizes) {
        fprintf(stderr, "measuring %s\n", qPrintable(sizeName(size)));
        runs.push_back(runChild(self, "--size-run=" + sizeName(size).toLatin1()));
    }
    const double peak = runChild(self, "--peak-run").value(QLatin1String("peak_mb")).toDouble(-1);
    fprintf(stderr, "measuring requests\n");
    const QJsonObject async = runChild(self, "--async-run");
    const auto asyncAt
        = [&async](const char *name) { return async.value(QLatin1String(name)).toDouble(-1); };
    auto at = [&runs](int size, const char *name) {
        return runs[size_t(size)].value(QLatin1String(name)).toDouble(-1);
    };
    const struct
    {
        const char *name;
        const char *label;
    } rows[] = {
        { "floor_decode_scale", "floor: JPEG decode at 1/8 steps, smooth scale, crop" },
        { "blur_pass", "floor: Qt's blur of the frame, radius 5" },
        { "floor_read_expand", "floor: read the cache file, RGB888 to RGB32" },
        { "cold_getBackground", "getBackground, empty caches" },
        { "hit_getBackground", "getBackground, hit" },
        { "reboot_getBackground", "getBackground, /tmp emptied, private cache kept" },
        { "cold_getOrvBackground", "getOrvBackground, empty caches" },
        { "hit_getOrvBackground", "getOrvBackground, hit" },
        { "reboot_getOrvBackground", "getOrvBackground, /tmp emptied, private cache kept" },
        { "store", "store alone (saveImageCache)" },
        { "png_output", "the tool's PNG output: encode and write" },
        { "tool_png", "vokimage background -o PNG, hit (whole process)" },
    };
    printf(
        "Medians in ms, measured in one warm process per size. Each floor runs in the same rounds "
        "as the cases\ncompared with it, repeated until every median is stable (%d to %d "
        "rounds).\n\n",
        MinRuns, MaxRuns);
    printf("%-56s", "case");
    for (const QSize &size : Sizes)
        printf(" %11s", qPrintable(sizeName(size)));
    printf("\n");
    for (const auto &row : rows) {
        printf("%-56s", row.label);
        for (int i = 0; i < int(std::size(Sizes)); ++i)
            printf(" %11.1f", at(i, row.name));
        printf("\n");
    }
    const int big = 2;
    printf("\nTargets at 3840x2160 (ratios of this run):\n");
    printTarget(QStringLiteral("cold getBackground / decode-and-scale floor"),
        at(big, "cold_getBackground") / at(big, "floor_decode_scale"), 1.3, "<= 1.3");
    printTarget(QStringLiteral("cold getOrvBackground / (floor + blur pass)"),
        at(big, "cold_getOrvBackground") / (at(big, "floor_decode_scale") + at(big, "blur_pass")),
        1.3, "<= 1.3");
    printTarget(QStringLiteral("hit getBackground / read-and-expand floor"),
        at(big, "hit_getBackground") / at(big, "floor_read_expand"), 2, "<= 2");
    printTarget(QStringLiteral("after a reboot, getBackground / hit"),
        at(big, "reboot_getBackground") / at(big, "hit_getBackground"), 2, "<= 2");
    printTarget(QStringLiteral("after a reboot, getOrvBackground / hit"),
        at(big, "reboot_getOrvBackground") / at(big, "hit_getOrvBackground"), 2, "<= 2");
    printTarget(QStringLiteral("vokimage -o PNG, time of writing / the cache's store"),
        at(big, "png_output") / at(big, "store"), 2, "<= 2");
    printf("\nRequests off the calling thread (3840x2160; three screens 3840x2160, 2560x1440, "
           "1920x1080), medians in ms:\n");
    printf("  cold getBackground %.1f, a request and its wait %.1f, caller blocked %.2f;\n"
           "  three cold calls one after another %.1f, three requests at once %.1f\n",
        asyncAt("sync_cold"), asyncAt("request_cold"), asyncAt("request_blocked"),
        asyncAt("three_sync"), asyncAt("three_requests"));
    printTarget(QStringLiteral("caller blocked by a cold 3840x2160 request, ms"),
        asyncAt("request_blocked"), 2, "<= 2");
    printTarget(QStringLiteral("three cold requests at once / the three calls in turn"),
        asyncAt("three_requests") / asyncAt("three_sync"), 0.7, "<= 0.7");
    printTarget(QStringLiteral("cold getBackground / the same through a request"),
        asyncAt("sync_cold") / asyncAt("request_cold"), 1.05, "<= 1.05");
    printTarget(QStringLiteral("peak MB above the baseline, cold getBackground (own process)"),
        peak, 250, "<= 250");
    fprintf(stderr, "measuring the memory of large pictures\n");
    const QJsonObject memory = runChild(self, "--memory-run");
    printf("\nMemory of large pictures, each as a ratio to its bound:\n");
    const struct
    {
        const char *name;
        const char *label;
    } bounds[] = {
        { "jpeg_fill_grown", "JPEG 1600x1200 filled to 3200x2400: peak growth / (picture + half)" },
        { "jpeg_fill_faults", "the same: page faults / half the picture's small pages" },
        { "jpeg_crop_grown",
            "JPEG 4000x3000 cropped to 1920x1440: peak growth / (picture + half)" },
        { "jpeg_crop_faults", "the same: page faults / half the picture's small pages" },
        { "store_grown", "store of a 3840x2160 record: peak growth / 3/4 of the file" },
        { "store_faults", "the same: page faults / a quarter of the file's pages" },
        { "hit_grown", "its hit: peak growth / (picture + a quarter of the file)" },
        { "hit_faults", "the same: page faults / a quarter of the picture's pages" },
        { "picture_huge_pages", "the hit's picture: 15 huge pages / its huge pages" },
    };
    for (const auto &bound : bounds)
        printTarget(QLatin1String(bound.label),
            memory.value(QLatin1String(bound.name)).toDouble(-1), 1, "<= 1");
    fprintf(stderr, "measuring the colour conversion\n");
    const QJsonObject colour = runChild(self, "--colour-run");
    const double untagged = colour.value(QLatin1String("render_untagged")).toDouble(-1);
    const double p3 = colour.value(QLatin1String("render_p3")).toDouble(-1);
    printf("\nColour profiles (a cold 3840x2160 render of the 6000x4000 photo, Crop), medians in "
           "ms:\n  untagged %.1f, tagged Display P3 (converted to sRGB) %.1f\n",
        untagged, p3);
    printTarget(QStringLiteral("conversion / the untagged render"),
        untagged > 0 && p3 > 0 ? (p3 - untagged) / untagged : -1, 0.10, "<= 0.10");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool tableMode = false;
    QByteArray sizeArgument;
    bool peakMode = false;
    bool asyncMode = false;
    bool colourMode = false;
    bool memoryMode = false;
    bool inputsOnly = false;
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--table")
            tableMode = true;
        else if (arg.startsWith("--workdir="))
            workDir = QFile::decodeName(arg.mid(10));
        else if (arg.startsWith("--size-run="))
            sizeArgument = arg.mid(11);
        else if (arg == "--peak-run")
            peakMode = true;
        else if (arg == "--async-run")
            asyncMode = true;
        else if (arg == "--colour-run")
            colourMode = true;
        else if (arg == "--memory-run")
            memoryMode = true;
        else if (arg == "--inputs")
            inputsOnly = true;
        else
            rest.push_back(argv[i]);
    }
    if (qgetenv("VOK_SANDBOX") != "1" && qgetenv("VOK_BENCH_OUTSIDE_SANDBOX") != "1") {
        fprintf(stderr,
            "vokimage-bench: clears /tmp/cache and writes /etc; run it in the "
            "sandbox (scripts/bench)\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    if (!QDir().mkpath(workDir) || !Bench::makeInputs(workDir) || !writeConfiguration()) {
        fprintf(stderr, "vokimage-bench: cannot write the inputs into %s\n", qPrintable(workDir));
        return 1;
    }
    if (inputsOnly)
        return 0;
    if (tableMode)
        return table(QFile::encodeName(QCoreApplication::applicationFilePath()));
    if (peakMode)
        return peakRun();
    if (asyncMode)
        return asyncRun();
    if (colourMode)
        return colourRun();
    if (memoryMode)
        return memoryRun(workDir);
    if (!sizeArgument.isEmpty()) {
        const QList<QByteArray> parts = sizeArgument.split('x');
        return sizeRun(QSize(parts.value(0).toInt(), parts.value(1).toInt()));
    }

    int benchArgc = int(rest.size());
    benchmark::Initialize(&benchArgc, rest.data());
    registerCases();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
