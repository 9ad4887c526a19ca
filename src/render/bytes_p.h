// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Numbers and signatures in the bytes of picture files.

#include <QByteArray>

namespace VokImage {

/// The first bytes of every PNG file.
inline constexpr char PngSignature[] = "\x89PNG\r\n\x1a\n";

/// The unsigned number of @p size bytes at @p at of @p bytes, most significant byte first
/// unless @p bigEndian is false. The caller checks the bounds.
inline quint32 numberAt(const QByteArray &bytes, int at, int size, bool bigEndian = true)
{
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value |= quint32(uchar(bytes[at + i])) << (8 * (bigEndian ? size - 1 - i : i));
    return value;
}

} // namespace VokImage
