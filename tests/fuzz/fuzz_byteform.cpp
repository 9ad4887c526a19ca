// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Fuzzes the byte form reader.
#include "fuzzmap.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!byteFormRoundTrips(QByteArray(reinterpret_cast<const char *>(data), int(size))))
        __builtin_trap();
    return 0;
}
