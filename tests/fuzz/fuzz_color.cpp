// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes the colour parser.
#include <vokimage/vokimage.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QColor colour = VokImage::Utils::getColor(
        QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
    if (colour.isValid())
        VokImage::Utils::CreateShadeColors(colour);
    return 0;
}
