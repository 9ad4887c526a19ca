// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes logo placement from X11 geometry strings.
#include <vokimage/vokimage.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    VokImage::getLogoPositionX11(QSize(120, 40), QRect(0, 0, 1920, 1080), text);
    VokImage::getLogoPositionX11(QSize(0, 0), QRect(100, 50, 0, 0), text);
    return 0;
}
