// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes the byte form reader.
#include <vokimage/vokimage.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariant> map = VokImage::Utils::ByteArrayToProperties(bytes);
    // What was read writes back to bytes that read again as a map of as many entries. (Not
    // byte for byte: Qt writes some invalid date-times in another form than it read them.)
    if (!map.isEmpty()
        && VokImage::Utils::ByteArrayToProperties(VokImage::Utils::PropertiesToByteArray(map))
                .size()
            != map.size())
        __builtin_trap();
    return 0;
}
