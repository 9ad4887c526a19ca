// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Local attackers against the backgrounds: real users made inside the sandbox run the tool
// as victims (a user's desktop, the greeter as root) and as attackers.

#include "localusers.h"
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

using namespace VokImage;
using namespace TestPaths;

namespace {

const QString Colour = QStringLiteral("#5682a3");
const QString Generated = QStringLiteral("/tmp/cache/16:9/vok-default#5682a3.svg");

} // namespace

class TestAttacks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void svgSwapRace();
    void cacheClearAgainstLinkSwap();
    void outputOntoLink();
    void compressedSvgBomb();
    void foreignDirectoriesAndFiles();
    void sparseFileAgainstEviction();
    void settingsFilesThatBlock();
    void originIsWhatWasServed();

private:
    QImage m_desktop;
    QImage m_greeter;
};

void TestAttacks::initTestCase()
{
    QVERIFY(insideSandbox());
    if (geteuid() != 0)
        QSKIP("making users needs root in the sandbox");
    if (!addUsers())
        QSKIP("useradd cannot add users here");
    // The desktop of each user and the greeter use the generated wallpaper in one colour.
    for (const User &user : { Alice, Mallory, Bob }) {
        QVERIFY(writeTheme(user,
            "WallPaper=vok-default\nLogoPixmap=/usr/share/wallpapers/logo/selka_logo_dark.svg\n"));
        QVERIFY(writeAs(user, user.home() + QStringLiteral("/.vok/paletterc"),
            "PrimaryColor=" + Colour.toUtf8() + "\n"));
    }
    QVERIFY(writeAll(DmSettings, "[background]\npath=vok-default\n"));
    // The pictures only their owners may see: magenta, for the victims to never show.
    const QImage magenta = solidImage(QSize(64, 64), QColor(255, 0, 255));
    QVERIFY(writeAs(Alice, Alice.home() + QStringLiteral("/private.png"), QByteArray(), 0600));
    QVERIFY(magenta.save(Alice.home() + QStringLiteral("/private.png"), "PNG"));
    QVERIFY(
        QDir().mkpath(QStringLiteral("/tmp/root-only")) && ::chmod("/tmp/root-only", 0700) == 0);
    QVERIFY(magenta.save(QStringLiteral("/tmp/root-only/secret.png"), "PNG"));
    // The backgrounds as they are without an attacker.
    clearCaches();
    QCOMPARE(
        background(nullptr, QStringLiteral("640x360"), QStringLiteral("/tmp/ref.png")).code, 0);
    QCOMPARE(
        background(&Alice, QStringLiteral("640x360"), Alice.home() + QStringLiteral("/ref.png"))
            .code,
        0);
    m_desktop
        = QImage(Alice.home() + QStringLiteral("/ref.png")).convertToFormat(QImage::Format_RGB32);
    m_greeter = QImage(QStringLiteral("/tmp/ref.png")).convertToFormat(QImage::Format_RGB32);
    QVERIFY(m_desktop.size() == QSize(640, 360) && m_greeter.size() == QSize(640, 360));
    QVERIFY(!showsSecret(m_desktop) && !showsSecret(m_greeter));
}

void TestAttacks::init()
{
    clearCaches();
}

void TestAttacks::svgSwapRace()
{
    // The genuine file, and the attacker's that points at the victims' private pictures.
    QVERIFY(!Utils::getVokDefaultWallpaper(QRect(0, 0, 1920, 1080), QColor(Colour)).isNull());
    const QByteArray genuine = readAll(Generated);
    QVERIFY(!genuine.isEmpty());
    const QByteArray evil = "<svg xmlns=\"http://www.w3.org/2000/svg\" "
                            "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"1920\" "
                            "height=\"1080\"><image x=\"0\" y=\"0\" width=\"960\" height=\"1080\" "
                            "xlink:href=\""
        + Alice.home().toUtf8()
        + "/private.png\"/><image x=\"960\" y=\"0\" width=\"960\" height=\"1080\" "
          "xlink:href=\"/tmp/root-only/secret.png\"/></svg>";
    // The test can see a leak: Qt follows the reference when nothing stops it.
    QVERIFY(writeAll(QStringLiteral("/usr/share/wallpapers/evil.svg"), evil));
    QCOMPARE(tool(nullptr,
                 words("render --wallpaper /usr/share/wallpapers/evil.svg --screen 640x360 -o "
                       "/tmp/leak.png"))
                 .code,
        0);
    QVERIFY(showsSecret(QImage(QStringLiteral("/tmp/leak.png"))));
    QVERIFY(QFile::remove(Generated));

    QVERIFY(writeAs(Mallory, Mallory.home() + QStringLiteral("/good.svg"), genuine));
    QVERIFY(writeAs(Mallory, Mallory.home() + QStringLiteral("/evil.svg"), evil));
    QVERIFY(writeAs(Mallory, Generated, genuine));
    Loop swapper(Mallory,
        QStringLiteral("cp good.svg %1.a; mv -f %1.a %1; cp evil.svg %1.b; mv -f %1.b %1")
            .arg(Generated));
    for (int round = 0; round < 6; ++round) {
        // A new screen size each round: nothing is served from an earlier round's file.
        const int width = 640 + 32 * round;
        const QString screen = QStringLiteral("%1x%2").arg(width).arg(width * 9 / 16);
        const QString desktop = Alice.home() + QStringLiteral("/race-%1.png").arg(round);
        const QString greeter = QStringLiteral("/tmp/race-%1.png").arg(round);
        QCOMPARE(background(&Alice, screen, desktop).code, 0);
        QCOMPARE(background(nullptr, screen, greeter).code, 0);
        QVERIFY2(!showsSecret(QImage(desktop)), "the desktop showed a private picture");
        QVERIFY2(!showsSecret(QImage(greeter)), "the greeter showed a root-only picture");
    }
    swapper.stop();
    for (const QString &dir : QStringList { CacheDir, Alice.home() + QStringLiteral("/.cache"),
             QStringLiteral("/tmp/home/.cache") })
        for (const QImage &picture : storedPictures(dir))
            QVERIFY2(!showsSecret(picture), qPrintable(dir));
}

void TestAttacks::cacheClearAgainstLinkSwap()
{
    // Root's files that the attacker wants gone, and hers of the same names. As soon as the
    // clearing begins (her first file is gone) she exchanges her directory with a link to the
    // target in one step: a clearing that removes by path then removes the target's files.
    const QString target = QStringLiteral("/etc/vok-target");
    const QString link = CacheDir + QStringLiteral(".link");
    const int files = 3000;
    for (int i = 0; i < files; ++i)
        QVERIFY(writeAll(target + QStringLiteral("/file-%1").arg(i), "keep"));
    int refused = 0;
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        clearCaches();
        QFile::remove(link);
        QDir(link).removeRecursively();
        QCOMPARE(run(&Mallory, words("mkdir -m 1777 /tmp/cache")).code, 0);
        for (int i = 0; i < files; ++i)
            QVERIFY(writeAs(Mallory, CacheDir + QStringLiteral("/file-%1").arg(i), "x"));
        const QByteArray first = QFile::encodeName(CacheDir + QStringLiteral("/file-0"));
        const pid_t attacker = fork();
        QVERIFY(attacker >= 0);
        if (attacker == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(Mallory.uid) != 0
                || ::setuid(Mallory.uid) != 0
                || ::symlink(
                       QFile::encodeName(target).constData(), QFile::encodeName(link).constData())
                    != 0)
                _exit(2);
            while (::access(first.constData(), F_OK) == 0) { }
            _exit(::syscall(SYS_renameat2, AT_FDCWD, QFile::encodeName(CacheDir).constData(),
                      AT_FDCWD, QFile::encodeName(link).constData(), RENAME_EXCHANGE)
                        == 0
                    ? 0
                    : 3);
        }
        const Run clear = tool(nullptr, words("cache clear"));
        QVERIFY(clear.code == 0 || clear.code == 1);
        refused += clear.code == 1 ? 1 : 0;
        ::kill(attacker, SIGKILL);
        ::waitpid(attacker, nullptr, 0);
        QCOMPARE(QDir(target).entryList(QDir::Files).size(), files);
    }
    QCOMPARE(refused, rounds);
    QFile::remove(CacheDir);
    QFile::remove(link);
    QDir(link).removeRecursively();

    // A cache of root's own is emptied: its files, the generated wallpapers and the private
    // directory.
    clearCaches();
    QCOMPARE(background(nullptr, QStringLiteral("640x360"), QStringLiteral("/tmp/bg.png")).code, 0);
    QVERIFY(QFile::exists(Generated));
    QVERIFY(writeAll(Cache::privateCacheDir() + QStringLiteral("/0123"), "x"));
    const Run clear = tool(nullptr, words("cache clear"));
    QCOMPARE(clear.code, 0);
    QVERIFY(!QFile::exists(Generated));
    QCOMPARE(QDir(CacheDir).entryList(QDir::Files | QDir::Hidden).size(), 0);
    QVERIFY(!QFile::exists(Cache::privateCacheDir() + QStringLiteral("/0123")));
}

void TestAttacks::outputOntoLink()
{
    QVERIFY(writeAll(QStringLiteral("/etc/vok-precious"), "precious"));
    QCOMPARE(run(&Mallory, words("ln -s /etc/vok-precious /tmp/out.png")).code, 0);
    const Run result = tool(nullptr, words("background --screen 320x200 -o /tmp/out.png"));
    QVERIFY(result.code == 1 && result.err.contains("symbolic link"));
    QCOMPARE(readAll(QStringLiteral("/etc/vok-precious")), QByteArray("precious"));
    QVERIFY(QFileInfo(QStringLiteral("/tmp/out.png")).isSymLink());

    // No directory is made; "-" is standard output.
    QCOMPARE(tool(nullptr, words("background --screen 320x200 -o /tmp/no/dir.png")).code, 1);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/no")));
    const Run piped = tool(nullptr, words("background --screen 320x200 -o -"));
    QCOMPARE(piped.code, 0);
    QCOMPARE(QImage::fromData(piped.out, "PNG").size(), QSize(320, 200));
    QVERIFY(piped.err.contains("320x200"));
}

void TestAttacks::compressedSvgBomb()
{
    // 1 GiB of SVG in about 1 MB, under a plain .svg name.
    const QByteArray bomb = gzipBomb(qint64(1) << 30);
    QVERIFY(bomb.size() < 4 << 20);
    const QString path = QStringLiteral("/usr/share/wallpapers/bomb.svg");
    QVERIFY(writeAll(path, bomb));
    // As wallpaper: no picture, as for any wallpaper that cannot be drawn; as logo: the
    // background without the logo; the message names the cause.
    long wallpaperRss = 0, logoRss = 0;
    QCOMPARE(
        renderMeasured(path, QString(), QStringLiteral("/tmp/bomb-wallpaper.png"), &wallpaperRss),
        1);
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/plain.png"), solidImage(QSize(320, 200), QColor(0x33, 0x66, 0x99))));
    QCOMPARE(renderMeasured(QStringLiteral("/tmp/plain.png"), path,
                 QStringLiteral("/tmp/bomb-logo.png"), &logoRss),
        0);
    QCOMPARE(QImage(QStringLiteral("/tmp/bomb-logo.png")).pixelColor(160, 100),
        QColor(0x33, 0x66, 0x99));
    QVERIFY(tool(nullptr,
        words("render --wallpaper /usr/share/wallpapers/bomb.svg --screen 320x200 -o "
              "/tmp/bomb-2.png"))
                .err.contains("inflates beyond"));
    QVERIFY(wallpaperRss < 300 && logoRss < 300);
}

void TestAttacks::foreignDirectoriesAndFiles()
{
    const auto mkdirAs = [](const User &user, const char *dir) {
        return run(&user, words("mkdir -p -m 1777") << QLatin1String(dir)).code == 0;
    };
    const auto sharedRatio = [] {
        return QDir().mkpath(QStringLiteral("/tmp/cache/16:9"))
            && ::chmod("/tmp/cache", 01777) == 0;
    };
    const QList<QPair<const char *, std::function<bool()>>> cases {
        { "attacker owns /tmp/cache", [&] { return mkdirAs(Mallory, "/tmp/cache"); } },
        { "attacker owns the ratio directory",
            [&] {
                return QDir().mkdir(CacheDir) && ::chmod("/tmp/cache", 01777) == 0
                    && mkdirAs(Mallory, "/tmp/cache/16:9");
            } },
        { "another file under the generated name",
            [&] {
                return sharedRatio() && ::chmod("/tmp/cache/16:9", 01777) == 0
                    && writeAs(Mallory, Generated,
                        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" "
                        "height=\"10\"><rect width=\"10\" height=\"10\" fill=\"#ff00ff\"/></svg>");
            } },
        { "a user session comes first",
            [] {
                return background(&Bob, QStringLiteral("640x360"),
                           Bob.home() + QStringLiteral("/first.png"))
                           .code
                    == 0;
            } },
    };
    for (const auto &[name, plant] : cases) {
        clearCaches();
        QVERIFY2(plant(), name);
        for (int request = 0; request < 2; ++request) {
            const Run user = background(
                &Alice, QStringLiteral("640x360"), Alice.home() + QStringLiteral("/bg.png"));
            const Run root
                = background(nullptr, QStringLiteral("640x360"), QStringLiteral("/tmp/bg.png"));
            QVERIFY2(user.code == 0 && root.code == 0, name);
            QVERIFY2(QImage(Alice.home() + QStringLiteral("/bg.png"))
                         .convertToFormat(QImage::Format_RGB32)
                    == m_desktop,
                name);
            QVERIFY2(QImage(QStringLiteral("/tmp/bg.png")).convertToFormat(QImage::Format_RGB32)
                    == m_greeter,
                name);
            // The second request is served from a cache.
            QVERIFY2(hits(user.out) == request && hits(root.out) == request, name);
        }
    }
}

void TestAttacks::sparseFileAgainstEviction()
{
    // The greeter made the shared directory; the attacker adds a hidden 1 TiB sparse file
    // dated in the future.
    QCOMPARE(background(nullptr, QStringLiteral("320x200"), QStringLiteral("/tmp/g.png")).code, 0);
    if (run(&Mallory, words("truncate -s 1T /tmp/cache/.big")).code != 0)
        QSKIP("no 1 TiB sparse file on this file system");
    QCOMPARE(run(&Mallory, words("touch -d 2099-01-01 /tmp/cache/.big")).code, 0);
    int served = 0;
    for (int i = 0; i < 6; ++i) {
        const Run result
            = tool(&Alice, words("background --screen 640x360 --screen 360x640+640+0 -o alt.png"));
        QCOMPARE(result.code, 0);
        served += hits(result.out);
    }
    QCOMPARE(served, 10);
    QVERIFY(QFile::exists(CacheDir + QStringLiteral("/.big")));
}

void TestAttacks::settingsFilesThatBlock()
{
    const QString theme = Alice.home() + QStringLiteral("/.vok/theme/current.themerc");
    const QByteArray original = readAll(theme);
    const QByteArray dmOriginal = readAll(DmSettings);
    auto restore = [&] {
        QFile::remove(theme);
        QFile::remove(DmSettings);
        writeAs(Alice, theme, original);
        writeAll(DmSettings, dmOriginal);
    };
    const QString defaultPath = QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg");
    // A pipe nobody writes to, then a 100 MB file: both read as missing.
    for (int kind = 0; kind < 2; ++kind) {
        QFile::remove(theme);
        QFile::remove(DmSettings);
        if (kind == 0) {
            QCOMPARE(::mkfifo(QFile::encodeName(theme).constData(), 0644), 0);
            QCOMPARE(::chown(QFile::encodeName(theme).constData(), Alice.uid, Alice.uid), 0);
            QCOMPARE(::mkfifo(QFile::encodeName(DmSettings).constData(), 0644), 0);
        } else {
            QByteArray huge(100 << 20, '#');
            huge += "\nWallPaper=/tmp/x.png\n";
            QVERIFY(writeAs(Alice, theme, huge));
            QVERIFY(writeAll(DmSettings, "[background]\n" + huge));
        }
        const Run desktop = tool(&Alice, words("config -v"));
        const Run greeter = tool(nullptr, words("config --greeter"));
        QVERIFY2(desktop.code == 0 && greeter.code == 0, kind ? "huge" : "fifo");
        QVERIFY(desktop.out.contains(defaultPath.toUtf8()));
        QVERIFY(greeter.out.contains(defaultPath.toUtf8()));
        QVERIFY(desktop.err.contains("Error settings file refused"));
    }
    restore();
}

void TestAttacks::originIsWhatWasServed()
{
    // The attacker asks first for the same default map, so her file sits under its name.
    QVERIFY(QDir().mkdir(CacheDir) && ::chmod("/tmp/cache", 01777) == 0);
    QVERIFY(writeAll(DmSettings, "[background]\n"));
    const QStringList request = words("background --greeter --screen 400x300 -o");
    QCOMPARE(
        tool(&Mallory, request + QStringList { Mallory.home() + QStringLiteral("/m.png") }).code,
        0);
    QTest::qWait(20);
    const Run first
        = tool(&Alice, request + QStringList { Alice.home() + QStringLiteral("/a.png") });
    QCOMPARE(first.code, 0);
    QVERIFY2(first.out.contains("rendered"), first.out.constData());
    const Run second
        = tool(&Alice, request + QStringList { Alice.home() + QStringLiteral("/a.png") });
    QVERIFY2(second.out.contains("from private cache"), second.out.constData());
    QVERIFY(writeAll(DmSettings, "[background]\npath=vok-default\n"));
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestAttacks test;
    return runAttacks(&test, argc, argv);
}
#include "tst_attacks.moc"
