// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// vokimage apply on Wayland, under real compositors run by a user of the sandbox: sway's
// headless backend (layer-shell) with outputs made and scaled through swaymsg and read back
// with grim, and weston's headless backend, which has no layer-shell.

#include "localusers.h"
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestPaths;

namespace {

QString runtimeDir()
{
    return Alice.home() + QStringLiteral("/runtime");
}

// The first Wayland or IPC socket named @p prefix... in Alice's runtime folder; empty when none.
QString socketIn(const QString &prefix)
{
    const QStringList names = QDir(runtimeDir())
                                  .entryList({ prefix + QLatin1Char('*') },
                                      QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        if (!name.endsWith(QLatin1String(".lock")))
            return name;
    return QString();
}

// A program run by Alice, killed by the destructor: the environment of her session, with
// @p extra set (an empty value removes the variable); a compositor's output is discarded.
class AliceProcess
{
public:
    enum class Output { Kept, Discarded };

    AliceProcess(const QStringList &command, const QMap<QString, QString> &extra,
        Output output = Output::Discarded)
    {
        QProcessEnvironment env = environmentOf(&Alice);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (auto it = extra.constBegin(); it != extra.constEnd(); ++it) {
            if (it.value().isEmpty())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(Alice.home());
        if (output == Output::Discarded) {
            m_process.setStandardOutputFile(QProcess::nullDevice());
            m_process.setStandardErrorFile(QProcess::nullDevice());
        }
        const QStringList as = commandAs(&Alice, command);
        m_process.start(as.first(), as.mid(1));
    }
    ~AliceProcess() { kill(); }
    AliceProcess(const AliceProcess &) = delete;
    AliceProcess &operator=(const AliceProcess &) = delete;

    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess &process() { return m_process; }
    // The program itself, not setpriv: setpriv execs it.
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

// sway on the headless backend, its outputs handled through swaymsg.
class Sway : public AliceProcess
{
public:
    Sway()
        : AliceProcess({ QStringLiteral("sway"), QStringLiteral("-c"), config() },
            { { QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless") },
                { QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman") },
                { QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1") } })
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 15000 && (m_ipc.isEmpty() || m_display.isEmpty())) {
            QThread::msleep(50);
            m_ipc = socketIn(QStringLiteral("sway-ipc."));
            m_display = socketIn(QStringLiteral("wayland-"));
        }
    }

    bool ready() const { return !m_ipc.isEmpty() && !m_display.isEmpty(); }

    // The environment of Alice's clients of this compositor.
    QMap<QString, QString> session() const
    {
        return { { QStringLiteral("WAYLAND_DISPLAY"), m_display },
            { QStringLiteral("SWAYSOCK"), runtimeDir() + QLatin1Char('/') + m_ipc },
            { QStringLiteral("QT_QPA_PLATFORM"), QString() } };
    }

    bool message(const QStringList &arguments) const
    {
        return run(&Alice, QStringList { QStringLiteral("swaymsg") } + arguments, options()).code
            == 0;
    }

    // The active outputs: name, logical geometry and scale.
    QJsonArray outputs() const
    {
        const Run result = run(&Alice, words("swaymsg -r -t get_outputs"), options());
        return QJsonDocument::fromJson(result.out).array();
    }

    RunOptions options() const
    {
        RunOptions options;
        options.environment = session();
        options.timeout = 30000;
        return options;
    }

private:
    // The configuration, written after the sockets of earlier compositors are removed (a
    // killed compositor leaves them behind).
    static QString config()
    {
        QDir runtime(runtimeDir());
        for (const QString &name :
            runtime.entryList(words("wayland-* sway-ipc.*"), QDir::System | QDir::Files))
            runtime.remove(name);
        const QString path = Alice.home() + QStringLiteral("/sway.conf");
        writeAs(Alice, path, "xwayland disable\n");
        return path;
    }

    QString m_ipc;
    QString m_display;
};

QSize sizeOf(const QJsonObject &output)
{
    const QJsonObject rect = output.value(QStringLiteral("rect")).toObject();
    return QSize(
        rect.value(QStringLiteral("width")).toInt(), rect.value(QStringLiteral("height")).toInt());
}

// The library's background for @p output of @p sway, as the tool renders it for Alice; what
// @p output shows.
QImage expected(const Sway &sway, const QJsonObject &output)
{
    const QJsonObject rect = output.value(QStringLiteral("rect")).toObject();
    const QString screen = QStringLiteral("%1x%2+%3+%4")
                               .arg(sizeOf(output).width())
                               .arg(sizeOf(output).height())
                               .arg(rect.value(QStringLiteral("x")).toInt())
                               .arg(rect.value(QStringLiteral("y")).toInt());
    const QString file = Alice.home() + QStringLiteral("/expected.png");
    QFile::remove(file);
    const QString scale = QString::number(output.value(QStringLiteral("scale")).toDouble());
    tool(&Alice,
        QStringList { QStringLiteral("background"), QStringLiteral("--screen"), screen,
            QStringLiteral("--scale"), scale, QStringLiteral("-o"), file },
        sway.options());
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

QImage shown(const Sway &sway, const QString &output)
{
    const QString file = Alice.home() + QStringLiteral("/shown.png");
    QFile::remove(file);
    run(&Alice, QStringList { QStringLiteral("grim"), QStringLiteral("-o"), output, file },
        sway.options());
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

// Waits until every output of @p sway shows the library's background for it; the outputs that
// do not when the time is up.
QStringList waitForBackgrounds(const Sway &sway, int milliseconds = 20000)
{
    QElapsedTimer timer;
    timer.start();
    QStringList wrong;
    do {
        wrong.clear();
        const QJsonArray outputs = sway.outputs();
        for (const QJsonValue &value : outputs) {
            const QJsonObject output = value.toObject();
            if (!output.value(QStringLiteral("active")).toBool())
                continue;
            const QString name = output.value(QStringLiteral("name")).toString();
            const QImage want = expected(sway, output);
            if (want.isNull() || shown(sway, name) != want)
                wrong.append(name);
        }
        if (wrong.isEmpty() && !outputs.isEmpty())
            return wrong;
        QThread::msleep(200);
    } while (timer.elapsed() < milliseconds);
    return wrong;
}

// vokimage apply run by Alice in the session of a compositor, its output kept.
class Apply : public AliceProcess
{
public:
    Apply(const QStringList &arguments, const QMap<QString, QString> &session)
        : AliceProcess(
            QStringList { Tool, QStringLiteral("apply") } + arguments, session, Output::Kept)
    { }
};

} // namespace

class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void outputsShowTheirBackgrounds();
    void compositorWithoutLayerShell();
    void farAndHugeOutputs();
};

void TestWayland::initTestCase()
{
    QVERIFY(insideSandbox());
    if (geteuid() != 0)
        QSKIP("making users needs root in the sandbox");
    for (const char *program : { "sway", "swaymsg", "grim", "weston" })
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            QSKIP(
                qPrintable(QStringLiteral("%1 is not installed (scripts/setup --test installs it)")
                               .arg(QLatin1String(program))));
    QVERIFY(QDir().mkpath(Users));
    QCOMPARE(::chmod(QFile::encodeName(Users).constData(), 0755), 0);
    if (!addUser(Alice))
        QSKIP("useradd cannot add users here");
}

void TestWayland::init()
{
    clearCaches();
    QVERIFY(writeTheme(Alice, ""));
}

// Two outputs, one at scale 2, show exactly the library's backgrounds; so does an output made
// later, and a theme edit repaints them all; SIGTERM ends apply with exit status 0, the
// compositor going away with 1, soon and without spinning.
void TestWayland::outputsShowTheirBackgrounds()
{
    Sway sway;
    QVERIFY2(sway.ready(), "sway did not start");
    QVERIFY(sway.message({ QStringLiteral("create_output") }));
    QVERIFY(sway.message(words("output HEADLESS-2 scale 2")));
    QCOMPARE(sway.outputs().size(), 2);

    Apply apply(words("--fade 2500"), sway.session());
    QVERIFY(apply.process().waitForStarted());
    QCOMPARE(waitForBackgrounds(sway), QStringList());
    // The scale-2 output shows a picture of twice its logical size, not an enlarged one.
    const QImage sharp = shown(sway, QStringLiteral("HEADLESS-2"));
    for (const QJsonValue &value : sway.outputs())
        if (value.toObject().value(QStringLiteral("name")).toString()
            == QLatin1String("HEADLESS-2"))
            QCOMPARE(sharp.size(), sizeOf(value.toObject()) * 2);

    QVERIFY(sway.message({ QStringLiteral("create_output") }));
    QCOMPARE(sway.outputs().size(), 3);
    QCOMPARE(waitForBackgrounds(sway), QStringList());

    // A running output changes mode, and another its scale.
    QVERIFY(sway.message(words("output HEADLESS-1 mode 1024x768")));
    QVERIFY(sway.message(words("output HEADLESS-3 scale 2")));
    QCOMPARE(waitForBackgrounds(sway), QStringList());
    QCOMPARE(shown(sway, QStringLiteral("HEADLESS-1")).size(), QSize(1024, 768));

    // An output goes away and comes back.
    QVERIFY(sway.message(words("output HEADLESS-2 disable")));
    QCOMPARE(waitForBackgrounds(sway), QStringList());
    QCOMPARE(apply.process().state(), QProcess::Running);
    QVERIFY(sway.message(words("output HEADLESS-2 enable")));
    QCOMPARE(waitForBackgrounds(sway), QStringList());

    const QImage before = shown(sway, QStringLiteral("HEADLESS-1"));
    QVERIFY(writeTheme(Alice, "WallPaper=#2a7f3f\n"));
    // The new picture fades in: frames between the two while it runs.
    const QColor was(before.pixel(5, 5)), next(0x2a, 0x7f, 0x3f);
    const auto near = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2
            && qAbs(a.blue() - b.blue()) <= 2;
    };
    bool between = false;
    QElapsedTimer fading;
    fading.start();
    while (!between && fading.elapsed() < 5000) {
        const QColor seen(shown(sway, QStringLiteral("HEADLESS-1")).pixel(5, 5));
        between = !near(seen, was) && !near(seen, next);
    }
    QVERIFY(between);
    QCOMPARE(waitForBackgrounds(sway), QStringList());
    const QImage after = shown(sway, QStringLiteral("HEADLESS-1"));
    QVERIFY(after != before);
    QCOMPARE(QColor(after.pixel(5, 5)), QColor(0x2a, 0x7f, 0x3f));

    QCOMPARE(::kill(pid_t(apply.pid()), SIGTERM), 0);
    QVERIFY(apply.process().waitForFinished(10000));
    QVERIFY(
        apply.process().exitStatus() == QProcess::NormalExit && apply.process().exitCode() == 0);
    QVERIFY(apply.process().readAllStandardOutput().contains("stopped"));

    // When the compositor goes away, apply ends soon, without spinning.
    Apply again({ QStringLiteral("--wayland") }, sway.session());
    QCOMPARE(waitForBackgrounds(sway), QStringList());
    sway.kill();
    QVERIFY2(again.process().waitForFinished(10000), "apply outlived its compositor");
    QVERIFY(
        again.process().exitStatus() == QProcess::NormalExit && again.process().exitCode() == 1);
    QVERIFY(again.process().readAllStandardError().contains("Wayland connection broke"));
}

// weston offers no layer-shell: a clear message and exit status 1, at once; as is a session
// whose compositor does not answer.
void TestWayland::compositorWithoutLayerShell()
{
    AliceProcess weston(
        words("weston --backend=headless-backend.so --socket=wayland-weston --idle-time=0"), {});
    QElapsedTimer timer;
    timer.start();
    while (socketIn(QStringLiteral("wayland-weston")).isEmpty() && timer.elapsed() < 15000)
        QThread::msleep(50);
    QVERIFY2(!socketIn(QStringLiteral("wayland-weston")).isEmpty(), "weston did not start");

    RunOptions options;
    options.environment
        = { { QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-weston") } };
    options.timeout = 20000;
    Run result = tool(&Alice, { QStringLiteral("apply") }, options);
    QCOMPARE(result.code, 1);
    QVERIFY2(result.err.contains("vokimage: the Wayland compositor wayland-weston offers no "
                                 "layer-shell (zwlr_layer_shell_v1)"),
        result.err.constData());

    options.environment = { { QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-none") } };
    result = tool(&Alice, { QStringLiteral("apply") }, options);
    QCOMPARE(result.code, 1);
    QVERIFY2(result.err.contains("vokimage: cannot connect to the Wayland compositor wayland-none"),
        result.err.constData());
    // A usage error is told before any connection.
    result = tool(&Alice, words("apply --screen 100x100"), options);
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.contains("--screen is for an X server")
            && !result.err.contains("cannot connect"),
        result.err.constData());
    // --x11 asks for the X server whatever the session is.
    result = tool(&Alice, words("apply --x11"), options);
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.contains("no X display"), result.err.constData());
}

// Span with an output moved 16000 pixels away, then an output at scale 0.08 (beyond the
// limits): apply scales only the far part and gives the skipped output no surface, so its peak
// stays that of near outputs.
void TestWayland::farAndHugeOutputs()
{
    Sway sway;
    QVERIFY2(sway.ready(), "sway did not start");
    QVERIFY(sway.message({ QStringLiteral("create_output") }));
    const QImage photo = gradientImage(QSize(1600, 900));
    QVERIFY(writeTestImage(QStringLiteral("/tmp/span.png"), photo));
    QVERIFY(writeTheme(Alice, "WallPaper=/tmp/span.png\nWallPaperPos=Span\n"));
    Apply apply({}, sway.session());
    // What apply printed, both streams.
    QByteArray log;
    const auto until = [&](const char *text, int count) {
        QElapsedTimer timer;
        timer.start();
        while (log.count(text) < count && timer.elapsed() < 20000) {
            apply.process().waitForReadyRead(200);
            log += apply.process().readAllStandardOutput();
            log += apply.process().readAllStandardError();
        }
        return log.count(text) >= count;
    };
    const auto peak = [&apply] {
        const QList<QByteArray> lines
            = readAll(QStringLiteral("/proc/%1/status").arg(apply.pid())).split('\n');
        for (const QByteArray &line : lines)
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
        return -1L;
    };
    QVERIFY2(until("wayland:", 2), log.constData());
    // Each move renders both parts again: first to a near place, then far away.
    const auto move = [&sway](const QString &x, const QString &y) {
        return sway.message({ QStringLiteral("output"), QStringLiteral("HEADLESS-2"),
            QStringLiteral("position"), x, y });
    };
    QVERIFY(move(QStringLiteral("2000"), QStringLiteral("0")));
    QVERIFY2(until("wayland:", 4), log.constData());
    const long near = peak();
    QVERIFY(move(QStringLiteral("16000"), QStringLiteral("16000")));
    QVERIFY2(until("wayland:", 6), log.constData());
    QVERIFY(sway.message(words("output HEADLESS-1 scale 0.08")));
    QVERIFY2(until("HEADLESS-1 skipped", 1), log.constData());
    QVERIFY2(until("wayland:HEADLESS-2", 4), log.constData());
    QThread::msleep(500);
    const long far = peak();
    // 2.1 GiB when the union was scaled whole, 1.2 GiB for the skipped output's buffer; a
    // sanitizer's quarantine holds what the renders freed.
    QVERIFY2(near > 0 && far < near + (MeasuresMemory ? 32 : 512),
        qPrintable(QStringLiteral("%1 against %2 MiB").arg(far).arg(near)));
    QCOMPARE(apply.process().state(), QProcess::Running);
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestWayland test;
    return runAttacks(&test, argc, argv);
}
#include "tst_wayland.moc"
