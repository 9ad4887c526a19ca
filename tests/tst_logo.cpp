// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace VokImage;

class TestLogo : public QObject
{
    Q_OBJECT

private slots:
    void placement();
    void brightness();
    void logoClearOfTaskbar();
    void svgLogoScaled();
    void geometryFuzzRegressions();
};

void TestLogo::placement()
{
    const QRect screen(0, 0, 1920, 1080);
    QCOMPARE(RenderLogo::getLogoArea(screen, TaskbarPosition::Bottom, 48), QRect(0, 0, 1920, 1032));
    QCOMPARE(RenderLogo::getLogoArea(screen, TaskbarPosition::Left, 48), QRect(48, 0, 1872, 1080));
    QCOMPARE(RenderLogo::getLogoArea(screen, TaskbarPosition(-1), 48), screen);
    const QRect area(0, 0, 1920, 1032);
    QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::BottomRight), QPoint(1500, 810));
    QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::Center), QPoint(860, 466));
    QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::TopLeft), QPoint(220, 122));
    QCOMPARE(getLogoPosition(QSize(200, 100), area, LogoPosition::NotShow), QPoint(0, 0));
    QCOMPARE(fitToScreen(QRect(1900, 10, 100, 50), screen), QPoint(1820, 10));
    QCOMPARE(fitToScreen(QRect(-30, -5, 100, 50), screen), QPoint(0, 0));
    QCOMPARE(fitToScreen(QRect(0, 0, 3000, 50), screen), QPoint(-1080, 0));
    QCOMPARE(
        getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("-10-20")), QPoint(1710, 960));
    QCOMPARE(getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("+30+40")), QPoint(30, 40));
    QCOMPARE(getLogoPositionX11(QSize(200, 100), screen, QStringLiteral("200x100")), QPoint(0, 0));
    QCOMPARE(getLogoPositionX11(QSize(200, 100), QRect(100, 0, 1920, 1080), QStringLiteral("-0-0")),
        QPoint(1720, 980));
}

void TestLogo::brightness()
{
    QVERIFY(isTextColorBlack(Qt::white));
    QVERIFY(isTextColorBlack(QColor()));
    QVERIFY(!isTextColorBlack(Qt::black));
    QVERIFY(isTextColorBlack(QColor(138, 138, 138)));
    QVERIFY(!isTextColorBlack(QColor(137, 137, 137)));

    QCOMPARE(isTextWhiteFor(solidImage(QSize(600, 600), Qt::black), QRect(0, 0, 600, 600)), 1);
    QCOMPARE(isTextWhiteFor(solidImage(QSize(600, 600), Qt::white), QRect(0, 0, 600, 600)), 0);
    QImage half = solidImage(QSize(600, 600), Qt::white);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 300; ++x)
            half.setPixel(x, y, qRgb(0, 0, 0));
    QCOMPARE(isTextWhiteFor(half, QRect(0, 0, 600, 600)), -1);
    // Samples outside the image count as light.
    QCOMPARE(isTextWhiteFor(solidImage(QSize(10, 10), Qt::black), QRect(1000, 1000, 60, 60)), 0);

    QCOMPARE(
        containsColor(QStringLiteral("selka_logo_dark.svg"), AllColors), QStringLiteral("dark"));
    QCOMPARE(containsColor(QStringLiteral("LOGO_WHITE.png"), AllColors), QStringLiteral("white"));
    QVERIFY(containsColor(QStringLiteral("logo.png"), AllColors).isNull());
}

void TestLogo::logoClearOfTaskbar()
{
    QTemporaryDir dir;
    const QString logo = dir.filePath(QStringLiteral("logo.png"));
    QVERIFY(writeTestImage(logo, solidImage(QSize(400, 200), Qt::red)));
    const QRect screen(0, 0, 800, 600);
    const int band = 100;
    for (int edge = 0; edge < 4; ++edge) {
        // BottomRight would cross a Bottom/Right band, TopLeft a Top/Left one.
        const LogoPosition position
            = (edge == 0 || edge == 1) ? LogoPosition::TopLeft : LogoPosition::BottomRight;
        QMap<QString, QVariant> map = DefaultLogoProperties;
        map[QStringLiteral("LogoProperty.path")] = logo;
        map[QStringLiteral("LogoProperty.screen")] = screen;
        map[QStringLiteral("LogoProperty.position")] = int(position);
        map[QStringLiteral("TaskbarProperty.position")] = edge;
        map[QStringLiteral("TaskbarProperty.height")] = band;
        RenderEngine engine;
        const QImage image = engine.render(map).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        const QRect free = RenderLogo::getLogoArea(screen, TaskbarPosition(edge), band);
        int red = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == QColor(Qt::red)) {
                    ++red;
                    QVERIFY2(free.contains(x, y),
                        qPrintable(QStringLiteral("edge %1 at %2,%3").arg(edge).arg(x).arg(y)));
                }
        QCOMPARE(red, 400 * 200);
    }
}

void TestLogo::svgLogoScaled()
{
    QTemporaryDir dir;
    for (const QString &name : words("selka_logo_dark.svg red/selka_logo_dark.svg")) {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<svg xmlns='http://www.w3.org/2000/svg' width='400' height='200' "
                   "viewBox='0 0 400 200'><rect width='400' height='200' fill='#0000ff'/></svg>");
        file.close();
        QMap<QString, QVariant> map = DefaultLogoProperties;
        map[QStringLiteral("LogoProperty.path")] = path;
        map[QStringLiteral("LogoProperty.screen")] = QRect(0, 0, 1920, 1080);
        map[QStringLiteral("LogoProperty.position")] = int(LogoPosition::Center);
        RenderEngine engine;
        const QImage image = engine.render(map).toImage();
        QCOMPARE(engine.getStatus(), RenderEngine::Ok);
        int width = 0;
        for (int x = 0; x < image.width(); ++x)
            width += image.pixelColor(x, 516).alpha() > 128 ? 1 : 0;
        QCOMPARE(width, name.startsWith(QLatin1String("red")) ? 384 : 192);
    }
}

// The inputs the geometry fuzz target once crashed on, replayed; far offsets land on the edge.
void TestLogo::geometryFuzzRegressions()
{
    int replayed = 0;
    for (const QFileInfo &input :
        QDir(QStringLiteral(VOK_SOURCE_DIR "/tests/fuzz/regressions/geometry"))
            .entryInfoList(QDir::Files)) {
        const QRect screen(0, 0, 1920, 1080);
        const QPoint point = getLogoPositionX11(
            QSize(120, 40), screen, QString::fromUtf8(readAll(input.filePath())));
        QVERIFY(screen.contains(QRect(point, QSize(120, 40))));
        ++replayed;
    }
    QVERIFY(replayed >= 1);
    QCOMPARE(getLogoPositionX11(
                 QSize(120, 40), QRect(0, 0, 1920, 1080), QStringLiteral("+0+99999999999999999")),
        QPoint(0, 1040));
    QCOMPARE(getLogoPositionX11(
                 QSize(120, 40), QRect(0, 0, 1920, 1080), QStringLiteral("-2147483647-2147483647")),
        QPoint(0, 0));
}

QTEST_MAIN(TestLogo)
#include "tst_logo.moc"
