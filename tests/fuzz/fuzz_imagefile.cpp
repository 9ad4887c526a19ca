// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes a wallpaper and logo file as the layers read it: the first byte picks the file name's
// suffix and the placement, the rest is the file. Run inside the sandbox (it writes to /tmp).
#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QFile>
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const char *const suffixes[] = { ".png", ".jpg", ".svg", ".gif", ".bmp", "" };
    const QString path = QStringLiteral("/tmp/fuzz/image") + QLatin1String(suffixes[data[0] % 6]);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }
    QMap<QString, QVariant> map = VokImage::DefaultLogoProperties;
    for (auto it = VokImage::DefaultWallpaperProperties.constBegin();
         it != VokImage::DefaultWallpaperProperties.constEnd(); ++it)
        map.insert(it.key(), it.value());
    const QRect screen(0, 0, 64, 48);
    map[QLatin1String(VokImage::Keys::ImagePath)] = QVariant::fromValue(VokImage::File(path));
    map[QLatin1String(VokImage::Keys::ImageScreen)] = screen;
    map[QLatin1String(VokImage::Keys::ImagePosition)] = int(data[0] / 6 % 4);
    map[QLatin1String(VokImage::Keys::LogoPath)] = path;
    map[QLatin1String(VokImage::Keys::LogoScreen)] = screen;
    VokImage::RenderEngine engine;
    const QImage image = engine.render(map).toImage();
    if (engine.getStatus() == VokImage::RenderEngine::Ok && image.size() != screen.size())
        __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The layers paint on pixmaps, which need the application object.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_imagefile";
    static char *argv[] = { name, nullptr };
    static QGuiApplication application(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.warning=false");
    fuzzQuiet();
    QDir().mkpath(QStringLiteral("/tmp/fuzz"));
    return 0;
}
