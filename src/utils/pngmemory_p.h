// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// libpng reading from memory and errors that jump back, shared by the cache's PNG codec and
// the layers' large-picture reader.

#include <png.h>

#include <cstring>

namespace VokImage {
namespace PngMemory {

/// The bytes a read struct reads from.
struct Source
{
    const unsigned char *data;
    size_t size;
    size_t offset;
};

/// The read function of png_set_read_fn() for a Source; data cut short is an error.
inline void read(png_structp png, png_bytep data, png_size_t length)
{
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (length > source->size - source->offset)
        png_error(png, "truncated");
    memcpy(data, source->data + source->offset, length);
    source->offset += length;
}

/// The error function: back to the setjmp() of png_jmpbuf().
[[noreturn]] inline void fail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

inline void ignoreWarning(png_structp, png_const_charp)
{ }

} // namespace PngMemory
} // namespace VokImage
