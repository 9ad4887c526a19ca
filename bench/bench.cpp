// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Benchmarks of the library's entry points, render passes and cache, beside Qt's default
// stream form, vipsthumbnail and memcpy.
//
//   vokimage-bench --table [--workdir DIR] [--repetitions N]
//       runs every case in its own process and prints medians, peak memory and ratios;
//   vokimage-bench [--workdir DIR] [benchmark flags]
//       runs the cases in this process, as Google Benchmark does.
//
// Both clear and fill /tmp/cache and write configuration under /etc: run them inside the
// test sandbox (scripts/bench does).

#include "inputs.h"

#include <vokimage/vokimage.h>

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

void coldEntry(benchmark::State &state, QSize size, Entry entry)
{
    for (auto _ : state) {
        state.PauseTiming();
        clearCache();
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
            std::bind(coldEntry, _1, _2, &getBackground) },
        { "cold_getOrvBackground", "getOrvBackground, empty cache",
            std::bind(coldEntry, _1, _2, &getOrvBackground) },
        { "warm_getBackground", "getBackground, hit",
            std::bind(warmEntry, _1, _2, &getBackground) },
        { "warm_getOrvBackground", "getOrvBackground, hit",
            std::bind(warmEntry, _1, _2, &getOrvBackground) },
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

struct Result
{
    double ms = -1;
    double rssMb = -1;
    double fileBytes = -1;
    QString error;
};

Result runCase(const QByteArray &self, const QString &name, int repetitions)
{
    Result result;
    int out[2];
    if (pipe(out) != 0) {
        result.error = QStringLiteral("pipe failed");
        return result;
    }
    // The reported name carries a "/real_time" suffix.
    const QByteArray filter = "--benchmark_filter=^" + name.toLatin1() + "(/|$)";
    const QByteArray reps = "--benchmark_repetitions=" + QByteArray::number(repetitions);
    const QByteArray dir = "--workdir=" + QFile::encodeName(workDir);
    const char *argv[] = { self.constData(), dir.constData(), filter.constData(), reps.constData(),
        "--benchmark_report_aggregates_only=true", "--benchmark_format=json",
        "--benchmark_min_time=0.05", nullptr };
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(argv[0], const_cast<char **>(argv));
        _exit(127);
    }
    close(out[1]);
    QByteArray json;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            json.append(buffer, int(n));
        else if (errno != EINTR)
            break;
    }
    close(out[0]);
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0) {
        result.error = QStringLiteral("failed");
        return result;
    }
    result.rssMb = usage.ru_maxrss / 1024.0;
    const QJsonArray runs
        = QJsonDocument::fromJson(json).object().value(QLatin1String("benchmarks")).toArray();
    for (const QJsonValue &value : runs) {
        const QJsonObject run = value.toObject();
        if (run.value(QLatin1String("error_occurred")).toBool())
            result.error = run.value(QLatin1String("error_message")).toString();
        if (run.value(QLatin1String("aggregate_name")).toString() != QLatin1String("median"))
            continue;
        result.ms = run.value(QLatin1String("real_time")).toDouble();
        if (run.contains(QLatin1String("file_bytes")))
            result.fileBytes = run.value(QLatin1String("file_bytes")).toDouble();
        if (run.contains(QLatin1String("child_rss_kb")))
            result.rssMb = run.value(QLatin1String("child_rss_kb")).toDouble() / 1024.0;
    }
    if (result.ms < 0 && result.error.isEmpty())
        result.error = QStringLiteral("no median reported");
    if (!result.error.isEmpty())
        result.ms = -1;
    return result;
}

// @p value compared with @p limit; a missing measurement (negative) is reported as such.
void printRatio(
    const QString &what, double numerator, double denominator, double limit, const char *target)
{
    if (numerator < 0 || denominator <= 0) {
        printf("  %-62s %7s   target %-8s not measured\n", qPrintable(what), "-", target);
        return;
    }
    const double value = numerator / denominator;
    printf("  %-62s %7.2f   target %-8s %s\n", qPrintable(what), value, target,
        value <= limit ? "met" : "NOT MET");
}

int table(const QByteArray &self, int repetitions)
{
    QMap<QString, Result> results;
    for (const Case &c : cases()) {
        for (const QSize &size : Sizes) {
            const QString name = QLatin1String(c.name) + QLatin1Char('/') + sizeName(size);
            fprintf(stderr, "running %s\n", qPrintable(name));
            results.insert(name, runCase(self, name, repetitions));
        }
    }
    auto at = [&results](const char *name, const QSize &size) {
        return results.value(QLatin1String(name) + QLatin1Char('/') + sizeName(size));
    };
    printf("Medians of %d repetitions in ms; peak memory (max RSS) of the case's process in MB "
           "above the baseline process (vipsthumbnail: its own process, absolute).\n\n",
        repetitions);
    printf("%-46s", "case");
    for (const QSize &size : Sizes)
        printf(" %20s", qPrintable(sizeName(size)));
    printf("\n");
    const double baseline = at("baseline", Sizes[0]).rssMb;
    for (const Case &c : cases()) {
        if (!strcmp(c.name, "baseline"))
            continue;
        printf("%-46s", c.label);
        for (const QSize &size : Sizes) {
            const Result r = at(c.name, size);
            if (!r.error.isEmpty() || r.ms < 0) {
                printf(" %20s", "error");
                continue;
            }
            const double rss = !strcmp(c.name, "vipsthumbnail") ? r.rssMb : r.rssMb - baseline;
            printf(" %9.2f ms %5.0f MB", r.ms, rss);
        }
        printf("\n");
    }
    printf("%-46s %20.0f MB\n", "baseline process (absolute)", baseline);
    printf("\nCache file size per picture (MB):\n");
    for (const char *name : { "store", "ref_store" }) {
        printf("  %-44s", name);
        for (const QSize &size : Sizes)
            printf(" %20.2f", at(name, size).fileBytes / 1e6);
        printf("\n");
    }
    for (const auto &r : results.toStdMap())
        if (!r.second.error.isEmpty())
            printf("error in %s: %s\n", qPrintable(r.first), qPrintable(r.second.error));

    const QSize big = Sizes[2];
    printf("\nTargets:\n");
    const double cold = at("cold_getBackground", big).ms;
    printRatio(QStringLiteral("cold getBackground / render alone, 3840x2160"), cold,
        at("render", big).ms, 2, "<= 2");
    // "< 1": faster than the peer; equal times do not count.
    printRatio(QStringLiteral("cold getBackground / vipsthumbnail, 3840x2160"), cold,
        at("vipsthumbnail", big).ms, 0.999999, "< 1");
    for (const QSize &size : Sizes)
        printRatio(QStringLiteral("warm getBackground / cold getBackground, ") + sizeName(size),
            at("warm_getBackground", size).ms, at("cold_getBackground", size).ms, 0.5, "<= 0.5");
    for (const QSize &size : Sizes)
        printRatio(QStringLiteral("warm getBackground / render alone, ") + sizeName(size),
            at("warm_getBackground", size).ms, at("render", size).ms, 0.5, "<= 0.5");
    printRatio(QStringLiteral("warm getBackground / reference load, 3840x2160"),
        at("warm_getBackground", big).ms, at("ref_load", big).ms, 0.5, "<= 0.5");
    const Result coldRun = at("cold_getBackground", big);
    printRatio(QStringLiteral("peak MB above baseline, cold getBackground 3840x2160"),
        coldRun.error.isEmpty() && baseline > 0 ? coldRun.rssMb - baseline : -1, 1, 250, "<= 250");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool tableMode = false;
    int repetitions = 5;
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--table")
            tableMode = true;
        else if (arg.startsWith("--workdir="))
            workDir = QFile::decodeName(arg.mid(10));
        else if (arg.startsWith("--repetitions="))
            repetitions = std::max(1, arg.mid(14).toInt());
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
    if (tableMode)
        return table(QFile::encodeName(QCoreApplication::applicationFilePath()), repetitions);

    int benchArgc = int(rest.size());
    benchmark::Initialize(&benchArgc, rest.data());
    registerCases();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
