// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes the greeter's INI settings as VokOrvPathFactory reads them. Run inside the sandbox.
#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = QStringLiteral("/tmp/fuzz-settings.ini");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    VokImage::VokOrvPathFactory factory(path);
    for (const char *key : { "Options.Wallpaper.Path", "Options.Wallpaper.Position",
             "Options.Wallpaper.ColorOverlay", "Options.Wallpaper.Blur",
             "Options.Wallpaper.Blur.Enable", "Options.Wallpaper.Blur.Radius", "Options.Logo.Path",
             "Options.Logo.Enable", "Options.Logo.Blur", "Options.Logo.Position" })
        factory.getProperty(QLatin1String(key));
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzQuiet();
    return 0;
}
