// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes the theme settings reader behind VokSettings. Run inside the sandbox.
#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A fresh name each time: QSettings keeps files it has read.
    static int n = 0;
    const QString path = QStringLiteral("/tmp/fuzz-%1.themerc").arg(++n % 2);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    VokSettings settings(path);
    for (const char *key : { "WallPaper", "SectionName", "LogoPixmap", "TaskbarHeight", "a" })
        settings.value(QLatin1String(key), QVariant());
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzQuiet();
    return 0;
}
