// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <vokdesktopentry.h>

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace VokImage;
using namespace TestPaths;

namespace {
using Expected = QList<QPair<QString, QVariant>>;

// The keys of @p expected whose property differs, with what was read.
template <typename Factory> QString mismatches(Factory &&factory, const Expected &expected)
{
    QString text;
    for (const auto &[key, value] : expected) {
        const QVariant read = factory.getProperty(key);
        if (read != value || read.userType() != value.userType())
            text += key + QLatin1Char('=') + read.toString() + QLatin1Char(' ');
    }
    return text;
}

QString themeFile(const QString &suffix = QString())
{
    return Theme + suffix;
}
} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(insideSandbox() && freshSession()); }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("equals in value") << QByteArray("a=b=c") << "a" << QVariant("b=c");
        QTest::newRow("empty value") << QByteArray("key=") << "key" << QVariant();
        QTest::newRow("comment") << QByteArray("# x=1") << "x" << QVariant();
        QTest::newRow("trailing note") << QByteArray("x=1 # note") << "x" << QVariant("1 # note");
        QTest::newRow("inner bracket") << QByteArray("[a]b]") << "SectionName" << QVariant("ab");
        QTest::newRow("leading zeros") << QByteArray("n=007") << "n" << QVariant(7);
        QTest::newRow("negative") << QByteArray("n=-1") << "n" << QVariant("-1");
        QTest::newRow("True") << QByteArray("b=True") << "b" << QVariant(true);
        QTest::newRow("TRUE") << QByteArray("b=TRUE") << "b" << QVariant("TRUE");
        QTest::newRow("quoted") << QByteArray("s=\"a b\"") << "s" << QVariant("a b");
        QTest::newRow("open quote") << QByteArray("s=\"a") << "s" << QVariant("\"a");
        QTest::newRow("blanks around") << QByteArray("  key  =  v  ") << "key" << QVariant("v");
    }

    void reading()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, key);
        QFETCH(QVariant, expected);
        // One file per row: QSettings keeps files it has read by name, size and time.
        const QString path = Home + QLatin1Char('/') + QLatin1String(QTest::currentDataTag());
        QVERIFY(writeConfig(path, "first=1\n" + line + "\n"));
        VokSettings settings(path);
        QVERIFY(settings.isParsed());
        const QVariant value = settings.value(key, QStringLiteral("<absent>"));
        QCOMPARE(value, expected.isValid() ? expected : QVariant(QStringLiteral("<absent>")));
        QCOMPARE(
            value.userType(), expected.isValid() ? expected.userType() : int(QMetaType::QString));
    }

    // Written sorted in the last section, quoted where needed, read back alike; a file with
    // nothing left is not written; sync(true) touches a file that exists, and makes none.
    void writing()
    {
        const QString path = Home + QStringLiteral("/file.rc");
        QVERIFY(writeConfig(path, "# a comment\n\n[One]\na=1\n[Main]\nzeta=1\n"));
        {
            VokSettings settings(path);
            QCOMPARE(
                settings.value(QStringLiteral("SectionName")).toString(), QStringLiteral("Main"));
            for (const auto &[key, value] : Expected { { "neg", -1 }, { "seven", 7 },
                     { "flag", true }, { "word", "false" }, { "blank", "a b" }, { "tab", "a\tb" },
                     { "quoted", "\"x y\"" }, { "Upper", "u" } })
                settings.setValue(key, value);
            settings.remove(QStringLiteral("zeta"));
            settings.sync(false);
        }
        QCOMPARE(readAll(path),
            QByteArray("[Main]\nUpper=u\na=1\nblank=\"a b\"\nflag=true\nneg=-1\nquoted=\"x "
                       "y\"\nseven=7\ntab=\"a\tb\"\nword=false\n"));
        QVERIFY(setMtime(path, 1500)); // read afresh, not from QSettings' cache of the file
        VokSettings back(path);
        for (const auto &[key, value] : Expected { { "neg", "-1" }, { "seven", 7 },
                 { "flag", true }, { "word", false }, { "tab", "a\tb" }, { "B", QVariant() } })
            QVERIFY2(back.value(key) == value && back.value(key).userType() == value.userType(),
                qPrintable(
                    key + back.value(key).toString() + QLatin1String(back.value(key).typeName())));
        QVERIFY(setMtime(path, 1000000));
        back.sync(false);
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), qint64(1000000));
        back.sync(true);
        QVERIFY(QFileInfo(path).lastModified().toSecsSinceEpoch() > 1000000);
        const QString single = Home + QStringLiteral("/single.rc");
        QVERIFY(writeConfig(single, "only=1\n"));
        VokSettings settings(single);
        settings.remove(QStringLiteral("only"));
        settings.sync(false);
        QCOMPARE(readAll(single), QByteArray("only=1\n"));
        VokSettings missing(Home + QStringLiteral("/missing.rc"));
        QVERIFY(!missing.isParsed());
        missing.setValue(QStringLiteral("a"), 1);
        missing.sync(true);
        QVERIFY(!QFileInfo::exists(Home + QStringLiteral("/missing.rc")));
    }

    void unreadable()
    {
        const QString path = QStringLiteral("/tmp/secret.rc");
        QVERIFY(writeConfig(path, "a=1\n"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        const int status = runAsOtherUser([path]() {
            MessageLog log;
            VokSettings settings(path);
            if (settings.isParsed())
                return 3;
            if (!log.contains(QStringLiteral("Permission Denied for '/tmp/secret.rc'!")))
                return 4;
            return settings.value(QStringLiteral("a"), 9) == QVariant(9) ? 0 : 5;
        });
        if (status == -1)
            QSKIP("cannot change identity here");
        QCOMPARE(status, 0);
    }

    void sessionsAndDirectories()
    {
        for (const auto &[name, session, suffix] :
            { std::make_tuple("", VokPathFactory::SessionOther, ""),
                std::make_tuple("VOK", VokPathFactory::SessionVok, ""),
                std::make_tuple("VOK-Tablet", VokPathFactory::SessionTablet, ".VOK-Tablet"),
                std::make_tuple("vok-foo", VokPathFactory::SessionOther, ".vok-foo"),
                std::make_tuple("FailSafe", VokPathFactory::SessionFailsafe, ".FailSafe"),
                std::make_tuple("vok-weston", VokPathFactory::SessionWeston, ".vok-weston"),
                std::make_tuple("vok-tablet-kiosk", VokPathFactory::SessionTabletKiosk,
                    ".vok-tablet-kiosk") }) {
            qputenv("DESKTOP_SESSION", name);
            QCOMPARE(VokPathFactory::whatVokSession(), session);
            QCOMPARE(VokPathFactory::getVokSessionConfigSuffix(VokPathFactory::SessionOther),
                QLatin1String(suffix));
        }
        qputenv("DESKTOP_SESSION", "plasma");
        QCOMPARE(
            VokPathFactory::getVokSessionConfigSuffix(VokPathFactory::SessionWeston), QString());
        QCOMPARE(VokPathFactory::getVokSessionConfigSuffix(VokPathFactory::SessionMini),
            QStringLiteral(".vok-mini"));
        QCOMPARE(VokPathFactory::getVokSessionConfigSuffix(VokPathFactory::WhatVokSession(42)),
            QStringLiteral(".plasma"));
        // The theme file follows the session.
        qputenv("DESKTOP_SESSION", "vok-tablet");
        QVERIFY(writeConfig(themeFile(), "LogoPixmap=/plain.svg\n"));
        QVERIFY(writeConfig(themeFile(QStringLiteral(".vok-tablet")), "LogoPixmap=/tablet.svg\n"));
        QCOMPARE(VokPathFactory().getCurrenLogo(), QStringLiteral("/tablet.svg"));
        qputenv("DESKTOP_SESSION", "Vok");
        QCOMPARE(VokPathFactory().getCurrenLogo(), QStringLiteral("/plain.svg"));

        QCOMPARE(VokPathFactory::getVokPalette(), Home + QStringLiteral("/.vok/paletterc"));
        QCOMPARE(VokPathFactory::getVokDesktopDir(), Home + QStringLiteral("/Desktop"));
        // The system theme only in a kiosk session started from it.
        qputenv("VOK_RC_FILE", "/usr/share/vok-wm/kiosk.rc");
        QCOMPARE(VokPathFactory::getVokThemeDir(), Home + QStringLiteral("/.vok/theme"));
        qputenv("DESKTOP_SESSION", "vok-kiosk");
        QCOMPARE(VokPathFactory::getVokThemeDir(), QStringLiteral("/usr/share/vok-wm/theme"));
        // The kiosk desktop folder counts only when it exists.
        qputenv("VOK_KIOSK_DESKTOP_DIR", "/tmp/no-such-kiosk");
        QCOMPARE(VokPathFactory::getVokDesktopDir(), Home + QStringLiteral("/Desktop"));
        QVERIFY(QDir().mkpath(QStringLiteral("/tmp/kiosk")));
        qputenv("VOK_KIOSK_DESKTOP_DIR", "/tmp/kiosk");
        QCOMPARE(VokPathFactory::xdgUserDirLookup(QStringLiteral("desktop")),
            QStringLiteral("/tmp/kiosk"));
        QCOMPARE(VokPathFactory::xdgUserDirLookup(QStringLiteral("MUSIC")),
            Home + QStringLiteral("/Desktop"));
        // Without HOME the password database names the home.
        const QString user = VokPathFactory::getCurrentUserSysConf();
        QVERIFY(!user.isEmpty() && VokPathFactory::getCurrentUser() == user);
        qputenv("HOME", "");
        QCOMPARE(VokPathFactory::getVokPalette(),
            QStringLiteral("/home/") + user + QStringLiteral("/.vok/paletterc"));
    }

    void desktopFactory()
    {
        // No files at all: the defaults, and no file made.
        QCOMPARE(
            mismatches(VokPathFactory(),
                { { "Options.Wallpaper.Path", "/usr/share/wallpapers/vok-default-light.jpg" },
                    { "Options.Wallpaper.Position", "Crop" }, { "Options.Logo.Path", "fictive" },
                    { "Options.Logo.Position", "BottomRight" }, { "Options.Taskbar.Height", 48 },
                    { "Options.Taskbar.Position", "Bottom" }, { "PrimaryColor", QColor("#5a91bd") },
                    { "WallPaper", QVariant() } }),
            QString());
        QVERIFY(
            !QFileInfo::exists(themeFile()) && !QFileInfo::exists(VokPathFactory::getVokPalette()));
        // Keys in any case; the theme is touched as it is read.
        QVERIFY(writeConfig(themeFile(),
            "[Theme]\nWallPaper=/usr/share/wallpapers/none.jpg\nWallPaperPos=Center\n"
            "LogoPixmap=/logo_dark.svg\nLogoPosition=TopLeft\nTaskbarPosition=Top\nExtra=12\n"));
        QVERIFY(writeConfig(VokPathFactory::getVokPalette(), "PrimaryColor=#112233\n"));
        QVERIFY(setMtime(themeFile(), 1000));
        QCOMPARE(
            mismatches(VokPathFactory(),
                { { "options.wallpaper.path", "/usr/share/wallpapers/none.jpg" },
                    { "OPTIONS.WALLPAPER.POSITION", "Center" },
                    { "Options.Logo.Path", "/logo_dark.svg" },
                    { "Options.Logo.Position", "TopLeft" }, { "Options.Taskbar.Position", "Top" },
                    { "primarycolor", QColor("#112233") }, { "Extra", 12 },
                    { "SectionName", "Theme" } }),
            QString());
        QVERIFY(QFileInfo(themeFile()).lastModified().toSecsSinceEpoch() > 1000);
        for (const char *height : { "0", "-5", "abc" }) {
            QVERIFY(writeConfig(themeFile(), QByteArray("TaskbarHeight=") + height + "\n"));
            QCOMPARE(mismatches(VokPathFactory(), { { "Options.Taskbar.Height", 48 } }), QString());
        }
        QVERIFY(writeConfig(VokPathFactory::getVokPalette(), "PrimaryColor=notacolor\n"));
        QCOMPARE(VokPathFactory().getCurrentPrimaryColor(), QColor("#5a91bd"));
    }

    void desktopEntryWallpaper()
    {
        const QString desktop = Home + QStringLiteral("/Desktop");
        const QString image = QStringLiteral("/tmp/pictures/real.png");
        QVERIFY(writeTestImage(image, solidImage(QSize(4, 4), Qt::blue)));
        QVERIFY(QFile::link(image, QStringLiteral("/tmp/link.png")));
        QVERIFY(writeConfig(themeFile(), "WallPaper=/theme.jpg\n"));

        QCOMPARE(VokPathFactory().getCurrentWallpaperPath(), QStringLiteral("/theme.jpg"));
        QVERIFY(writeConfig(desktop + QStringLiteral("/.directory"),
            "[Desktop Entry]\nIcon=folder\nX-VOK-WallPaper=/tmp/link.png\n"));
        QCOMPARE(VokPathFactory().getCurrentWallpaperPath(), image);
        QCOMPARE(VokPathFactory().getProperty(QStringLiteral("Options.Wallpaper.Path")),
            QVariant(image));

        // A missing picture, or the key in another group, leaves the theme's wallpaper.
        QVERIFY(writeConfig(desktop + QStringLiteral("/.directory"),
            "[Desktop Entry]\nX-VOK-WallPaper=/tmp/none.png\n"));
        QCOMPARE(VokPathFactory().getCurrentWallpaperPath(), QStringLiteral("/theme.jpg"));
        QVERIFY(writeConfig(desktop + QStringLiteral("/.directory"),
            "[Other]\nX-VOK-WallPaper=" + image.toUtf8() + "\n"));
        QCOMPARE(VokPathFactory().getCurrentWallpaperPath(), QStringLiteral("/theme.jpg"));

        VokDesktopEntry missing(std::string("/tmp/no-such/.directory"));
        QVERIFY(!missing.load());
        QCOMPARE(missing.getUnknownValue("X-VOK-WallPaper"), std::string());
        QVERIFY(writeConfig(desktop + QStringLiteral("/.directory"),
            "[Desktop Entry]\nX-VOK-WallPaper=/tmp/p\xc3\xa4th.png\n"));
        VokDesktopEntry entry(QString(desktop + QStringLiteral("/.directory")).toStdString());
        QVERIFY(entry.load());
        QCOMPARE(entry.getUnknownValue("X-VOK-WallPaper"), std::string("/tmp/p\xc3\xa4th.png"));
        QCOMPARE(entry.getUnknownValue("X-Absent"), std::string());
    }

    void displayManagerFile()
    {
        // No file, and an empty one: the defaults.
        const Expected defaults { { "Options.Wallpaper.Path",
                                      "/usr/share/wallpapers/vok-default-light.jpg" },
            { "Options.Wallpaper.Position", "Crop" },
            { "Options.Wallpaper.ColorOverlay", "0, 0, 0, 100" },
            { "Options.Wallpaper.Blur.Enable", true }, { "Options.Wallpaper.Blur.Radius", 5 },
            { "Options.Wallpaper.Blur", QStringList() },
            { "Options.Logo.Path", "/usr/share/wallpapers/logo/selka_logo_dark.svg" },
            { "Options.Logo.Enable", true }, { "Options.Logo.Blur", true },
            { "Options.Logo.Position", "BottomRight" }, { "options.wallpaper.path", QVariant() },
            { "Options.Taskbar.Height", QVariant() }, { "PrimaryColor", QVariant() } };
        for (const bool empty : { false, true }) {
            QVERIFY(!empty || writeConfig(DmSettings, QByteArray()));
            MessageLog log;
            VokOrvPathFactory factory { QString() };
            QCOMPARE(mismatches(factory, defaults), QString());
            QVERIFY(log.messages().isEmpty());
            for (const char *unknown :
                { "Options.Logo.Size", "Options.Wallpaper.Blur.Size", "Options.Logo" })
                QVERIFY(!factory.getProperty(QLatin1String(unknown)).isValid());
            QCOMPARE(log.messages(),
                QStringList({ QStringLiteral("Unknown property:  \"Options.Logo.Size\""),
                    QStringLiteral("Unknown property:  \"Options.Wallpaper.Blur.Size\""),
                    QStringLiteral("Unknown property:  \"Options.Logo\"") }));
        }
        QVERIFY(writeConfig(DmSettings,
            "[background]\npath=/usr/share/wallpapers/dm.jpg\nkeep_proportions=false\n"
            "color_overlay=10, 20, 30, 40\n[background][blur]\nradius=12\n"
            "[background][logo]\nenable=false\npath=/logo.svg\n"));
        QCOMPARE(mismatches(VokOrvPathFactory { QString() },
                     { { "Options.Wallpaper.Path", "/usr/share/wallpapers/dm.jpg" },
                         { "Options.Wallpaper.Position", "Stretch" },
                         { "Options.Wallpaper.ColorOverlay", "10, 20, 30, 40" },
                         { "Options.Wallpaper.Blur", QStringList { QStringLiteral("radius") } },
                         { "Options.Wallpaper.Blur.Radius", 12 },
                         { "Options.Wallpaper.Blur.Enable", true },
                         { "Options.Logo.Position", "NotShow" }, { "Options.Logo.Enable", false },
                         { "Options.Logo.Path", "/logo.svg" } }),
            QString());
        // A named file is read in place of the default one.
        QVERIFY(writeConfig(QStringLiteral("/tmp/other.ini"),
            "[background]\nkeep_proportions=true\npath=/other.jpg\n"));
        QCOMPARE(mismatches(VokOrvPathFactory(QStringLiteral("/tmp/other.ini")),
                     { { "Options.Wallpaper.Path", "/other.jpg" },
                         { "Options.Wallpaper.Position", "Crop" } }),
            QString());
    }

    // Garbage, and a theme rewritten while it is read: every answer is one of the contents, or
    // the default.
    void hostileFiles()
    {
        QByteArray garbage(65536, '\0');
        quint32 seed = 99;
        for (char &c : garbage)
            c = char((seed = seed * 1664525u + 1013904223u) >> 24);
        QVERIFY(writeAll(themeFile(), garbage) && writeAll(DmSettings, garbage));
        QVERIFY(!VokPathFactory().getCurrentWallpaperPath().isNull());
        QCOMPARE(getWallpaperOrvProperties(QRect(0, 0, 64, 64)).size(), 5);
        std::atomic<bool> stop { false };
        std::thread writer([&stop]() {
            for (int i = 0; !stop; ++i)
                writeAll(themeFile(),
                    i % 2 ? "WallPaper=/tmp/a.png\n" : "WallPaper=/tmp/bbbb.png\n# x\n");
        });
        QStringList seen;
        for (int i = 0; i < 100; ++i)
            seen.append(getWallpaperProperties(QRect(0, 0, 64, 64))
                            .value(QLatin1String(Keys::ImagePath))
                            .value<File>()
                            .path);
        stop = true;
        writer.join();
        seen.removeDuplicates();
        for (const QString &path :
            words("/tmp/a.png /tmp/bbbb.png /usr/share/wallpapers/vok-default-light.jpg"))
            seen.removeOne(path);
        QCOMPARE(seen, QStringList());
    }

    void engine()
    {
        QVERIFY(writeConfig(themeFile(), "LogoPixmap=/desk_logo.svg\n"));
        QVERIFY(writeConfig(DmSettings, "[background][logo]\npath=/dm_logo.svg\n"));
        FileSystemEngine desktop(FileSystemEngine::DesktopSession);
        QCOMPARE(desktop.getProperty(QStringLiteral("Options.Logo.Path")),
            VokPathFactory().getProperty(QStringLiteral("Options.Logo.Path")));
        QCOMPARE(
            desktop.getProperty(QStringLiteral("Options.Logo.Path")), QVariant("/desk_logo.svg"));
        FileSystemEngine greeter(FileSystemEngine::DisplayManager);
        QCOMPARE(
            greeter.getProperty(QStringLiteral("Options.Logo.Path")), QVariant("/dm_logo.svg"));
        FileSystemEngine none(FileSystemEngine::FileSystemType(2));
        QVERIFY(!none.getProperty(QStringLiteral("Options.Logo.Path")).isValid());
        QVERIFY(!none.getProperty(QStringLiteral("PrimaryColor")).isValid());
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
