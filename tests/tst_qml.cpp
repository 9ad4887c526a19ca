// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// The QML module in qmlscene under Xvfb: what reaches each screen is the library's background
// for that screen at its ratio, and the scene keeps running while the backgrounds render.
#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// Xlib's macros come after every Qt header.
#include "xserver.h"

using namespace VokImage;
using namespace TestPaths;

class TestQml : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void twoScreensOfDifferentRatios();
    void readmeExample();
    void crossFade();
};

namespace {

const QString Photo = QStringLiteral("/tmp/photo.png");

// A picture with detail at every scale: a wrong size or a blur shows.
QImage detailed(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                qRgb((x * 7 + y * 3) & 255, ((x ^ y) * 5) & 255, ((x / 8 + y / 8) % 2) * 200));
    return image;
}

// qmlscene on @p server with @p arguments; standard error is read into @p log as it comes.
class Scene
{
public:
    Scene(const XServer &server, const QStringList &arguments, const QString &scaleFactors)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), server.name());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        env.insert(QStringLiteral("QML2_IMPORT_PATH"), QStringLiteral(VOK_QML_DIR));
        env.insert(QStringLiteral("HOME"), Home);
        if (!scaleFactors.isEmpty())
            env.insert(QStringLiteral("QT_SCREEN_SCALE_FACTORS"), scaleFactors);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("qmlscene"), arguments);
    }
    ~Scene()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Waits until the output matches @p pattern; its first group, or an empty string.
    QString waitFor(const QRegularExpression &pattern)
    {
        for (int i = 0; i < 600; ++i) {
            const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(m_output));
            if (match.hasMatch())
                return match.captured(1).isNull() ? QStringLiteral("-") : match.captured(1);
            if (m_process.state() == QProcess::NotRunning)
                break;
            m_process.waitForReadyRead(100);
            m_output += m_process.readAll();
        }
        return QString();
    }
    QByteArray output() const { return m_output; }
    void clearOutput() { m_output.clear(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

// True when @p screen of @p server shows @p expected (within 1 per channel), once drawn.
bool shows(const XServer &server, int screen, const QImage &expected)
{
    QImage want = expected.convertToFormat(QImage::Format_RGB32);
    want.setDevicePixelRatio(1);
    for (int attempt = 0; attempt < 50; ++attempt, QTest::qWait(100))
        if (largestDifference(server.rootImage(screen).convertToFormat(QImage::Format_RGB32), want)
            <= 1)
            return true;
    return false;
}

} // namespace

void TestQml::initTestCase()
{
    QVERIFY(insideSandbox());
}

void TestQml::init()
{
    QVERIFY(freshSession());
    QDir(CacheDir).removeRecursively();
    QVERIFY(writeTestImage(Photo, detailed(QSize(3000, 2000))));
    QVERIFY(writeTheme("WallPaper=" + Photo.toUtf8() + "\nLogoPixmap=" + DarkLogo.toUtf8()
        + "\nLogoPosition=BottomRight\n"));
}

// The first screen at ratio 2 gets the item, the second at ratio 1 the image provider.
void TestQml::twoScreensOfDifferentRatios()
{
    const XServer server({ QSize(1280, 800), QSize(800, 600) });
    QVERIFY2(server.display(), "Xvfb did not start");
    Scene scene(server, { QStringLiteral(VOK_SOURCE_DIR "/tests/qml/twoscreens.qml") },
        QStringLiteral("2;1"));
    const QString ticks = scene.waitFor(QRegularExpression(QStringLiteral("ready after (\\d+)")));
    QVERIFY2(!ticks.isEmpty(), scene.output().constData());
    // The scene's timer went on while the cold backgrounds rendered.
    QVERIFY2(ticks.toInt() > 0, scene.output().constData());

    const Image first = readLookup(
        VokImage::Screen(QRect(0, 0, 640, 400), 2), Lookup::Background, Lookup::Desktop);
    QCOMPARE(first.image.size(), QSize(1280, 800));
    QVERIFY(shows(server, 0, first.image));
    const Image second = readLookup(
        VokImage::Screen(QRect(0, 0, 800, 600), 1), Lookup::Background, Lookup::Desktop);
    QVERIFY(shows(server, 1, second.image));

    // A new wallpaper in the theme: the item follows the watcher's signal.
    scene.clearOutput();
    QVERIFY(writeTestImage(
        QStringLiteral("/tmp/next.png"), detailed(QSize(2000, 3000)).mirrored(true, false)));
    QVERIFY(writeTheme("WallPaper=/tmp/next.png\n"));
    QVERIFY2(!scene.waitFor(QRegularExpression(QStringLiteral("ready after (\\d+)"))).isEmpty(),
        scene.output().constData());
    QVERIFY(shows(server, 0,
        readLookup(VokImage::Screen(QRect(0, 0, 640, 400), 2), Lookup::Background, Lookup::Desktop)
            .image));
}

// The README's example, as written, run as the README says.
void TestQml::readmeExample()
{
    const QString readme = QString::fromUtf8(readAll(QStringLiteral(VOK_SOURCE_DIR "/README.md")));
    const QRegularExpressionMatch block
        = QRegularExpression(QStringLiteral("```qml\\n(// background\\.qml.*?)```"),
            QRegularExpression::DotMatchesEverythingOption)
              .match(readme);
    QVERIFY2(block.hasMatch(), "the README has no QML example");
    const QString file = QStringLiteral("/tmp/background.qml");
    QVERIFY(writeAll(file, block.captured(1).toUtf8()));

    const XServer server(QSize(1024, 640));
    QVERIFY2(server.display(), "Xvfb did not start");
    Scene scene(server, { QStringLiteral("--fullscreen"), file }, QString());
    QVERIFY2(!scene.waitFor(QRegularExpression(QStringLiteral("background ready"))).isEmpty(),
        scene.output().constData());
    QVERIFY(shows(server, 0,
        readLookup(VokImage::Screen(QRect(0, 0, 1024, 640), 1), Lookup::Background, Lookup::Desktop)
            .image));
}

// A new picture fades in over the old one for fadeDuration ms, then shows exactly as itself.
void TestQml::crossFade()
{
    QVERIFY(writeTheme("WallPaper=#cc0000\n"));
    const QString file = QStringLiteral("/tmp/fade.qml");
    QVERIFY(writeAll(file,
        "import QtQuick 2.15\nimport VokImage 1.0\n"
        "Background {\n    fadeDuration: 3000\n"
        "    onStatusChanged: if (status === Background.Ready) console.log(\"shown\")\n}\n"));
    const XServer server(QSize(320, 200));
    QVERIFY2(server.display(), "Xvfb did not start");
    Scene scene(server, { QStringLiteral("--fullscreen"), file }, QString());
    QVERIFY2(!scene.waitFor(QRegularExpression(QStringLiteral("shown"))).isEmpty(),
        scene.output().constData());
    const auto picture = [] {
        return readLookup(
            VokImage::Screen(QRect(0, 0, 320, 200), 1), Lookup::Background, Lookup::Desktop)
            .image;
    };
    QVERIFY(shows(server, 0, picture()));

    scene.clearOutput();
    QVERIFY(writeTheme("WallPaper=#0000cc\n"));
    QVERIFY2(!scene.waitFor(QRegularExpression(QStringLiteral("shown"))).isEmpty(),
        scene.output().constData());
    // Frames between the two pictures while it runs.
    bool between = false;
    for (int i = 0; i < 30 && !between; ++i, QTest::qWait(100))
        between = server.rootImage(0).pixelColor(160, 100).red() > 30
            && server.rootImage(0).pixelColor(160, 100).blue() > 30;
    QVERIFY(between);
    // Then the new picture exactly.
    QVERIFY(shows(server, 0, picture()));
}

QTEST_MAIN(TestQml)
#include "tst_qml.moc"
