// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes a cache file as loadImageCache reads it: the bytes are written at the file name of a
// fixed map. Run inside the sandbox (it writes to /tmp/cache).
#include "fuzzmap.h"

#include <vokimage/vokimage.h>

#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QMap<QString, QVariant> map = fuzzCacheMap();
    static const QString path
        = VokImage::CacheDir + QLatin1Char('/') + VokImage::Cache::getFileName(map);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    bool ok = false;
    const VokImage::Image record = VokImage::Cache::loadImageCache(map, &ok);
    if (ok != !record.image.isNull() || (ok && record.image.size() != QSize(16, 12)))
        __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_LOGGING_RULES", "*.warning=false");
    fuzzQuiet();
    return 0;
}
